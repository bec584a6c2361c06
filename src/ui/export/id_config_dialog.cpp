#include "ui/export/id_config_dialog.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <string>

#include "platform/numbers.h"
#include "platform/profile.h"
#include "platform/program_path.h"
#include "state/run_state.h"
#include "state/slot_settings.h"
#include "ui/station/batch_mode.h"

namespace karvelo::exports {
namespace {

constexpr const char* kChoices[] = {"TEXT input", "CSV_1", "CSV_2", "CSV_3", "CSV_4",
                                    "CSV_5",      "CSV_6", "CSV_7", "CSV_8", "CSV_9"};
// The file name written by OK is cut to this many characters.
constexpr std::size_t kFileNameChars = 255;

std::string ActiveFile() {
    return platform::FsPath(g_run.ActiveConfigFile.str());
}

}  // namespace

IdConfigDialog::IdConfigDialog(ui::SaveSettings save, QWidget* parent)
    : QDialog(parent), save_(std::move(save)) {
    setWindowTitle(QStringLiteral("ID CONFIGURATION"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(300, 112);

    auto* label = new QLabel(QStringLiteral("call up:"), this);
    label->setGeometry(12, 14, 60, 20);

    list_ = new QComboBox(this);
    list_->setGeometry(78, 12, 120, 25);
    for (const char* choice : kChoices) list_->addItem(QString::fromUtf8(choice));

    fileField_ = new QLineEdit(this);
    fileField_->setGeometry(12, 45, 236, 25);

    browse_ = new QPushButton(QStringLiteral(">>"), this);
    browse_->setGeometry(256, 45, 32, 25);
    browse_->setAutoDefault(false);

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setGeometry(110, 78, 80, 26);
    ok_->setDefault(true);

    controls_ = {{kIdSourceList, list_},
                 {kIdFileField, fileField_},
                 {kIdBrowseButton, browse_},
                 {kIdConfigOk, ok_}};

    connect(list_, &QComboBox::activated, this, [this](int index) { OnChoiceChanged(index); });
    connect(browse_, &QPushButton::clicked, this, [this] { Browse(); });
    connect(ok_, &QPushButton::clicked, this, [this] { accept(); });
}

QWidget* IdConfigDialog::control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void IdConfigDialog::ShowFileControls(int choice) {
    fileField_->setVisible(choice != 0);
    browse_->setVisible(choice != 0);
}

void IdConfigDialog::Open() {
    LoadTextSource(g_run, platform::ProfileDocument::Load(ActiveFile()), kIdEntry,
                   /*withLast*/ false);
    const int source = g_run.TextSource[kIdEntry];
    list_->setCurrentIndex(source >= 0 && source < list_->count() ? source : -1);
    fileField_->setText(QString::fromStdWString(g_run.TextFile[kIdEntry].str()));
    ShowFileControls(list_->currentIndex());
}

int IdConfigDialog::Run() {
    Open();
    return exec();
}

void IdConfigDialog::OnChoiceChanged(int index) {
    const std::string path = ActiveFile();
    platform::ProfileDocument doc = platform::ProfileDocument::Load(path);
    WriteTextSourceChoice(doc, kIdEntry, index);
    save_(doc, path);
    ShowFileControls(index);
}

void IdConfigDialog::Browse() {
    const auto file =
        app::ChooseExistingCsvFile(this, QString::fromStdWString(g_run.TextPath[kIdEntry].str()));
    if (!file) return;
    const QFileInfo info(*file);
    QString folder = info.absolutePath();
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    g_run.TextPath[kIdEntry] = folder.toStdWString();
    g_run.TextFile[kIdEntry] = info.fileName().toStdWString();
    fileField_->setText(info.fileName());
}

void IdConfigDialog::accept() {
    const int choice = list_->currentIndex();
    g_run.TextSource[kIdEntry] = choice;
    std::wstring fileName = fileField_->text().toStdWString();
    if (fileName.size() > kFileNameChars) fileName.resize(kFileNameChars);
    g_run.TextFile[kIdEntry] = fileName;
    // The three keys reach the file together or not at all.
    const std::string path = ActiveFile();
    platform::ProfileDocument doc = platform::ProfileDocument::Load(path);
    WriteTextSource(doc, kIdEntry, choice, g_run.TextPath[kIdEntry].str(), fileName);
    save_(doc, path);
    QDialog::accept();
}

}  // namespace karvelo::exports
