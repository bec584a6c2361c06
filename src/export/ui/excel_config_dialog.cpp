#include "export/ui/excel_config_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <string>

#include "app/ui/batch_mode.h"
#include "app/ui/display_painter.h"
#include "export/csv_export.h"
#include "platform/program_path.h"
#include "state/run_state.h"

namespace karvelo::exports {
namespace {

constexpr const char* kSendKeys[] = {"-",  "F1", "F2",  "F3",  "F4",  "F5",    "F6",   "F7",
                                     "F8", "F9", "F10", "F11", "F12", "SPACE", "ENTER"};
constexpr const char* kRefModes[] = {"current cell:", "defined cell:", "adress of defined cell:"};

constexpr int kWidth = 600;
constexpr int kHeight = 510;
constexpr int kRowTop = 224;  // first record item's row
constexpr int kRowPitch = 21;
constexpr int kRowHeight = 19;

std::string ActiveFile() {
    return platform::FsPath(g_run.ActiveConfigFile.str());
}

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

}  // namespace

ExcelConfigDialog::ExcelConfigDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("EXCEL Configuration"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kWidth, kHeight);
    app::LoadSharedLogo();
    CreateControls();
}

QCheckBox* ExcelConfigDialog::CheckBox(int id, const QString& caption, const QRect& where) {
    auto* box = new QCheckBox(caption, this);
    box->setGeometry(where);
    controls_[id] = box;
    return box;
}

QLineEdit* ExcelConfigDialog::Field(int id, const QRect& where) {
    auto* field = new QLineEdit(this);
    field->setGeometry(where);
    controls_[id] = field;
    return field;
}

void ExcelConfigDialog::CreateControls() {
    auto label = [this](const QString& text, const QRect& where) {
        auto* l = new QLabel(text, this);
        l->setGeometry(where);
        return l;
    };

    // The workbook and what the application may do.
    (new QGroupBox(QStringLiteral("EXCEL"), this))->setGeometry(8, 6, 330, 160);
    label(QStringLiteral("destination file:"), QRect(18, 28, 110, 22));
    Field(kExcelFileField, QRect(18, 50, 270, 24));
    auto* browse = new QPushButton(QStringLiteral("..."), this);
    browse->setGeometry(294, 50, 34, 24);
    browse->setAutoDefault(false);
    controls_[kExcelBrowseButton] = browse;
    CheckBox(kExcelSelectFile, QStringLiteral("enable file"), QRect(18, 80, 150, 22));
    CheckBox(kExcelVisibleBox, QStringLiteral("EXCEL visible"), QRect(18, 104, 150, 22));
    CheckBox(kExcelEditBox, QStringLiteral("EXCEL enable"), QRect(18, 128, 150, 22));
    CheckBox(kExcelOpenBox, QStringLiteral("EXCEL open autom."), QRect(175, 80, 155, 22));
    CheckBox(kExcelCloseBox, QStringLiteral("EXCEL close autom."), QRect(175, 104, 155, 22));
    CheckBox(kExcelSaveBox, QStringLiteral("EXCEL save autom."), QRect(175, 128, 155, 22));

    // Where each record item goes.
    (new QGroupBox(QStringLiteral("export format"), this))
        ->setGeometry(8, 172, 330, kRowTop + kExcelDialogItems * kRowPitch - 172 + 6);
    label(QStringLiteral("cell address"), QRect(18, 192, 100, 20));
    label(QStringLiteral("relativ absolut"), QRect(120, 192, 100, 20));
    label(QStringLiteral("column/line"), QRect(230, 192, 100, 20));
    for (int n = 0; n < kExcelDialogItems; ++n) {
        const ExcelRowIds& ids = kExcelRows[static_cast<std::size_t>(n)];
        const int y = kRowTop + n * kRowPitch;
        CheckBox(ids.check, Q(ids.caption), QRect(18, y, 100, kRowHeight));
        auto* relative = new QRadioButton(this);
        relative->setGeometry(128, y, 22, kRowHeight);
        auto* absolute = new QRadioButton(this);
        absolute->setGeometry(170, y, 22, kRowHeight);
        // Each row's pair excludes itself only, not the other rows.
        auto* pair = new QButtonGroup(this);
        pair->addButton(relative);
        pair->addButton(absolute);
        controls_[ids.relative] = relative;
        controls_[ids.absolute] = absolute;
        Field(ids.column, QRect(230, y, 46, kRowHeight));
        Field(ids.line, QRect(282, y, 46, kRowHeight));
    }

    // Send key, worksheet, reference cell and its move.
    (new QGroupBox(this))->setGeometry(346, 6, 246, 230);
    label(QStringLiteral("function key:"), QRect(356, 22, 100, 24));
    auto* keys = new QComboBox(this);
    keys->setGeometry(470, 22, 112, 24);
    for (const char* key : kSendKeys) keys->addItem(Q(key));
    controls_[kExcelSendKeyList] = keys;
    label(QStringLiteral("excel sheet:"), QRect(356, 54, 100, 24));
    Field(kExcelSheetField, QRect(470, 54, 112, 24));
    label(QStringLiteral("relative cell address:"), QRect(356, 86, 226, 22));
    auto* modes = new QComboBox(this);
    modes->setGeometry(356, 110, 150, 24);
    for (const char* mode : kRefModes) modes->addItem(Q(mode));
    controls_[kExcelRefModeList] = modes;
    Field(kExcelRefAddressField, QRect(512, 110, 70, 24));
    CheckBox(kExcelShiftBox, QStringLiteral("autom. relaying:"), QRect(356, 146, 226, 22));
    label(QStringLiteral("column/line"), QRect(356, 176, 100, 24));
    Field(kExcelShiftColumnField, QRect(470, 176, 54, 24));
    Field(kExcelShiftRowField, QRect(528, 176, 54, 24));

    logo_ = new QWidget(this);
    logo_->setGeometry(372, 250, 194, 150);
    logo_->setVisible(false);  // a placeholder: the logo is painted into its place
    controls_[kExcelLogo] = logo_;

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(372, 450, 194, 34);
    ok->setDefault(true);
    controls_[kExcelConfigOk] = ok;

    connect(browse, &QPushButton::clicked, this, [this] { Browse(); });
    connect(modes, &QComboBox::activated, this, [this](int index) { OnRefModeChanged(index); });
    connect(ok, &QPushButton::clicked, this, [this] { accept(); });
}

QWidget* ExcelConfigDialog::control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void ExcelConfigDialog::Open() {
    const ExcelDialogValues v =
        ReadExcelDialogValues(platform::ProfileDocument::Load(ActiveFile()));
    g_run.XlsFileName = v.fileName;
    auto field = [this](int id) { return static_cast<QLineEdit*>(control(id)); };
    auto box = [this](int id) { return static_cast<QCheckBox*>(control(id)); };
    field(kExcelFileField)->setText(QString::fromStdWString(v.fileName));
    box(kExcelSelectFile)->setChecked(v.selectFile);
    box(kExcelVisibleBox)->setChecked(v.visible);
    box(kExcelEditBox)->setChecked(v.edit);
    box(kExcelOpenBox)->setChecked(v.open);
    box(kExcelCloseBox)->setChecked(v.close);
    box(kExcelSaveBox)->setChecked(v.save);
    for (int n = 0; n < kExcelDialogItems; ++n) {
        const ExcelRowIds& ids = kExcelRows[static_cast<std::size_t>(n)];
        const ExcelCellRow& row = v.rows[static_cast<std::size_t>(n)];
        box(ids.check)->setChecked(row.on);
        static_cast<QRadioButton*>(control(row.relative ? ids.relative : ids.absolute))
            ->setChecked(true);
        field(ids.column)->setText(QString::fromStdWString(row.column));
        field(ids.line)->setText(QString::fromStdWString(row.line));
    }
    field(kExcelSheetField)->setText(QString::fromStdWString(v.sheet));
    auto* modes = static_cast<QComboBox*>(control(kExcelRefModeList));
    modes->setCurrentIndex(v.refMode >= 0 && v.refMode < modes->count() ? v.refMode : -1);
    field(kExcelRefAddressField)->setText(QString::fromStdWString(v.refAddress));
    field(kExcelRefAddressField)->setVisible(v.refMode != 0);
    box(kExcelShiftBox)->setChecked(v.shiftMode);
    field(kExcelShiftColumnField)->setText(QString::fromStdWString(v.autoShiftColumn));
    field(kExcelShiftRowField)->setText(QString::fromStdWString(v.autoShiftRow));
    auto* keys = static_cast<QComboBox*>(control(kExcelSendKeyList));
    keys->setCurrentIndex(v.sendKey >= 0 && v.sendKey < keys->count() ? v.sendKey : -1);
}

int ExcelConfigDialog::Run() {
    Open();
    return exec();
}

void ExcelConfigDialog::OnRefModeChanged(int index) {
    control(kExcelRefAddressField)->setVisible(index != 0);
}

void ExcelConfigDialog::Browse() {
    const auto file = app::ChooseExistingWorkbook(this, QString::fromStdWString(ExportFolder()));
    if (!file) return;
    const QFileInfo info(*file);
    QString folder = info.absolutePath();
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    g_run.ExportPath = folder.toStdWString();
    g_run.XlsFileName = info.fileName().toStdWString();
    static_cast<QLineEdit*>(control(kExcelFileField))->setText(info.fileName());
}

void ExcelConfigDialog::accept() {
    auto text = [this](int id) {
        return static_cast<QLineEdit*>(control(id))->text().toStdWString();
    };
    auto on = [this](int id) { return static_cast<QAbstractButton*>(control(id))->isChecked(); };
    ExcelDialogValues v;
    v.fileName = text(kExcelFileField);
    v.selectFile = on(kExcelSelectFile);
    v.visible = on(kExcelVisibleBox);
    v.edit = on(kExcelEditBox);
    v.open = on(kExcelOpenBox);
    v.close = on(kExcelCloseBox);
    v.save = on(kExcelSaveBox);
    for (int n = 0; n < kExcelDialogItems; ++n) {
        const ExcelRowIds& ids = kExcelRows[static_cast<std::size_t>(n)];
        ExcelCellRow& row = v.rows[static_cast<std::size_t>(n)];
        row.on = on(ids.check);
        row.relative = on(ids.relative);
        row.column = text(ids.column);
        row.line = text(ids.line);
    }
    v.sheet = text(kExcelSheetField);
    v.refMode = static_cast<QComboBox*>(control(kExcelRefModeList))->currentIndex();
    v.refAddress = text(kExcelRefAddressField);
    v.shiftMode = on(kExcelShiftBox);
    v.autoShiftColumn = text(kExcelShiftColumnField);
    v.autoShiftRow = text(kExcelShiftRowField);
    v.sendKey = static_cast<QComboBox*>(control(kExcelSendKeyList))->currentIndex();

    std::wstring fileName = v.fileName;
    if (fileName.size() > 255) fileName.resize(255);
    g_run.XlsFileName = fileName;
    const std::string path = ActiveFile();
    platform::ProfileDocument doc = platform::ProfileDocument::Load(path);
    WriteExcelDialogValues(doc, v);
    doc.Save(path);
    QDialog::accept();
}

void ExcelConfigDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    app::PaintSharedLogo(painter, logo_->geometry());
}

}  // namespace karvelo::exports
