#include "app/ui/batch_mode.h"

#include <QDir>
#include <QFileDialog>
#include <atomic>

#include "state/run_state.h"

namespace karvelo::app {
namespace {

std::atomic<bool> g_batch{false};

// The folder to open a chooser in: the given one when it exists, else the
// configuration folder, where files named without a folder are looked for,
// else the home folder (an empty or stale setting must not leave the chooser
// nowhere).
QString StartFolder(const QString& folder) {
    if (!folder.isEmpty() && QDir(folder).exists()) return folder;
    const QString config = QString::fromStdWString(g_run.ConfigDir.str());
    if (!config.isEmpty() && QDir(config).exists()) return config;
    return QDir::homePath();
}

}  // namespace

void SetBatchMode(bool batch) {
    g_batch = batch;
}

bool BatchMode() {
    return g_batch.load();
}

std::optional<QString> ChooseExistingCsvFile(QWidget* parent, const QString& folder) {
    if (BatchMode()) return std::nullopt;
    QFileDialog chooser(parent);
    chooser.setFileMode(QFileDialog::ExistingFile);
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setNameFilter(QStringLiteral("CSV (*.csv*)"));
    chooser.setDefaultSuffix(QStringLiteral("csv"));
    chooser.setDirectory(StartFolder(folder));
    if (chooser.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = chooser.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return files.front();
}

std::optional<QString> ChooseExistingWorkbook(QWidget* parent, const QString& folder) {
    if (BatchMode()) return std::nullopt;
    QFileDialog chooser(parent);
    chooser.setFileMode(QFileDialog::ExistingFile);
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setNameFilter(QStringLiteral("EXCEL (*.xls*)"));
    chooser.setDefaultSuffix(QStringLiteral("xlsx"));
    chooser.setDirectory(StartFolder(folder));
    if (chooser.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = chooser.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return files.front();
}

std::optional<QString> ChooseCsvExportFile(QWidget* parent, const QString& folder,
                                           const QString& name) {
    if (BatchMode()) return std::nullopt;
    QFileDialog chooser(parent);
    chooser.setFileMode(QFileDialog::AnyFile);
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    chooser.setOption(QFileDialog::DontConfirmOverwrite);
    chooser.setNameFilter(QStringLiteral("CSV (*.csv*)"));
    chooser.setDefaultSuffix(QStringLiteral("csv"));
    chooser.setLabelText(QFileDialog::Accept, QStringLiteral("Choose"));
    chooser.setDirectory(StartFolder(folder));
    if (!name.isEmpty()) chooser.selectFile(name);
    if (chooser.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = chooser.selectedFiles();
    if (files.isEmpty() || files.front().isEmpty()) return std::nullopt;
    return QDir::cleanPath(files.front());
}

std::optional<QString> ChooseFolder(QWidget* parent, const QString& title, const QString& folder) {
    if (BatchMode()) return std::nullopt;
    const QString chosen = QFileDialog::getExistingDirectory(parent, title, StartFolder(folder),
                                                             QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty()) return std::nullopt;
    return QDir::cleanPath(chosen);
}

}  // namespace karvelo::app
