#include "ui/station/batch_mode.h"

#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QMimeDatabase>
#include <QSortFilterProxyModel>
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

// The record journal in the configuration folder (export/record_journal.cpp)
// and every file SQLite and the station keep beside it: -wal, -shm, -journal,
// .lock.
bool IsJournalFile(const QString& name) {
    return name.startsWith(QLatin1String("records.sqlite"));
}

// Icons and "Type" texts from a file's name and status alone. Qt's own provider
// reads the start of each listed file to tell its type (and the platform theme
// may too for its icon). Opening and closing any descriptor of a journal file
// drops the POSIX locks the station's SQLite connection holds on it; an outside
// reader then takes itself for the last connection and deletes the write-ahead
// log still being written to.
class NameOnlyIconProvider final : public QFileIconProvider {
  public:
    NameOnlyIconProvider() { setOptions(DontUseCustomDirectoryIcons); }

    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo& info) const override {
        if (info.isRoot()) return icon(Drive);
        return icon(info.isDir() ? Folder : File);
    }
    QString type(const QFileInfo& info) const override {
        if (!info.isFile()) return QFileIconProvider::type(info);  // never reads a folder
        const QMimeType mime = mimes_.mimeTypeForFile(info, QMimeDatabase::MatchExtension);
        return mime.comment().isEmpty() ? mime.name() : mime.comment();
    }

  private:
    QMimeDatabase mimes_;
};

// Leaves the journal's files out of the views and the name completion, whatever
// the name filter, so they are never offered as a file to read or write.
class JournalHidingProxy final : public QSortFilterProxyModel {
  public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    // The file system model sorts (folders first); the proxy keeps its order.
    void sort(int column, Qt::SortOrder order) override { sourceModel()->sort(column, order); }

  protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        const QModelIndex entry = sourceModel()->index(row, 0, parent);
        return !IsJournalFile(entry.data(QFileSystemModel::FileNameRole).toString());
    }
};

// Holds the provider for FileChooser: as its first base it is made before the
// dialog and outlives it, which keeps using it to the end.
struct NameOnlyIcons {
    NameOnlyIconProvider provider;
};

// Every chooser of the station: Qt's file dialog that never opens a listed file
// and never shows the journal's. Without Q_OBJECT, Qt still counts it as a
// plain QFileDialog when it decides whether to use a native dialog.
class FileChooser final : private NameOnlyIcons, public QFileDialog {
  public:
    explicit FileChooser(QWidget* parent, const QString& caption = {}, const QString& folder = {})
        : QFileDialog(parent, caption, folder) {
        // A desktop's own chooser (GTK's, loaded into this process by a
        // platform theme) would look into the files again, journal included.
        setOption(QFileDialog::DontUseNativeDialog);
        // Before the event loop runs, so no listing reaches Qt's own provider.
        setIconProvider(&provider);
        setProxyModel(new JournalHidingProxy(this));
    }
};

}  // namespace

void SetBatchMode(bool batch) {
    g_batch = batch;
}

bool BatchMode() {
    return g_batch.load();
}

std::optional<QString> ChooseExistingCsvFile(QWidget* parent, const QString& folder) {
    if (BatchMode()) return std::nullopt;
    FileChooser chooser(parent);
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
    FileChooser chooser(parent);
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
    FileChooser chooser(parent);
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
    // As QFileDialog::getExistingDirectory sets its dialog up.
    FileChooser chooser(parent, title, StartFolder(folder));
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOptions(QFileDialog::ShowDirsOnly);
    chooser.setSupportedSchemes({QStringLiteral("file")});
    if (chooser.exec() != QDialog::Accepted) return std::nullopt;
    const QString chosen = chooser.selectedUrls().value(0).toLocalFile();
    if (chosen.isEmpty()) return std::nullopt;
    return QDir::cleanPath(chosen);
}

}  // namespace karvelo::app
