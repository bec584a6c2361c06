#include "ui/export/excel_config_dialog.h"

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

#include "export/csv_export.h"
#include "platform/program_path.h"
#include "state/run_state.h"
#include "ui/station/batch_mode.h"
#include "ui/station/display_painter.h"

namespace karvelo::exports {
namespace {

constexpr const char* kSendKeys[kSendKeyChoiceCount] = {"-",   "F1",  "F2",  "F3",    "F4",
                                                        "F5",  "F6",  "F7",  "F8",    "F9",
                                                        "F10", "F11", "F12", "SPACE", "ENTER"};
constexpr const char* kRefModes[kExcelReferenceModeCount] = {
    "current cell:", "defined cell:", "adress of defined cell:"};

// The layout is given in dialog units of an 8-point dialog font, like the
// other dialogs: a horizontal unit is a quarter of its average character width
// (6 pixels), a vertical one an eighth of its height (13 pixels).
constexpr int kDluX4 = 6;
constexpr int kDluY8 = 13;
constexpr int kWidthDlu = 400;
constexpr int kHeightDlu = 296;
constexpr int kListHeightDlu = 14;
constexpr int kFieldHeightDlu = 13;
constexpr int kLabelHeightDlu = 10;

// The record items' rows.
constexpr int kRowTopDlu = 116;
constexpr int kRowPitchDlu = 13;
constexpr int kRowHeightDlu = 12;

std::string ActiveFile() {
    return platform::FsPath(g_run.ActiveConfigFile.str());
}

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QString Q(const std::wstring& text) {
    return QString::fromStdWString(text);
}

}  // namespace

ExcelConfigDialog::ExcelConfigDialog(ui::SaveSettings save, QWidget* parent)
    : QDialog(parent), save_(std::move(save)) {
    setWindowTitle(QStringLiteral("EXCEL Configuration"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(Dlu(0, 0, kWidthDlu, kHeightDlu).size());
    app::LoadSharedLogo();
    CreateControls();
}

QRect ExcelConfigDialog::Dlu(int x, int y, int width, int height) {
    return QRect(x * kDluX4 / 4, y * kDluY8 / 8, width * kDluX4 / 4, height * kDluY8 / 8);
}

QCheckBox* ExcelConfigDialog::CheckBox(int id, const QString& caption, const QRect& where) {
    auto* box = new QCheckBox(caption, this);
    box->setGeometry(where);
    box->setObjectName(QStringLiteral("control%1").arg(id));
    controls_[id] = box;
    return box;
}

QLineEdit* ExcelConfigDialog::Field(int id, const QRect& where) {
    auto* field = new QLineEdit(this);
    field->setGeometry(where);
    field->setObjectName(QStringLiteral("control%1").arg(id));
    controls_[id] = field;
    return field;
}

QComboBox* ExcelConfigDialog::List(int id, const QRect& where) {
    auto* list = new QComboBox(this);
    list->setGeometry(where);
    list->setObjectName(QStringLiteral("control%1").arg(id));
    controls_[id] = list;
    return list;
}

QLineEdit* ExcelConfigDialog::FieldOf(int id) const {
    return static_cast<QLineEdit*>(control(id));
}

QCheckBox* ExcelConfigDialog::CheckBoxOf(int id) const {
    return static_cast<QCheckBox*>(control(id));
}

QComboBox* ExcelConfigDialog::ListOf(int id) const {
    return static_cast<QComboBox*>(control(id));
}

void ExcelConfigDialog::CreateControls() {
    const auto label = [this](const QString& text, int x, int y, int width) {
        auto* l = new QLabel(text, this);
        l->setGeometry(Dlu(x, y, width, kLabelHeightDlu));
        return l;
    };
    const auto group = [this](const QString& title, int x, int y, int width, int height) {
        auto* g = new QGroupBox(title, this);
        g->setGeometry(Dlu(x, y, width, height));
        g->lower();  // behind the controls placed on it
        return g;
    };

    // The workbook and what the application may do.
    group(QStringLiteral("EXCEL"), 5, 3, 222, 90);
    label(QStringLiteral("destination file:"), 12, 15, 90);
    Field(kExcelFileField, Dlu(12, 26, 180, kFieldHeightDlu));
    auto* browse = new QPushButton(QStringLiteral("..."), this);
    browse->setGeometry(Dlu(196, 26, 24, kFieldHeightDlu));
    browse->setAutoDefault(false);
    browse->setObjectName(QStringLiteral("control%1").arg(kExcelBrowseButton));
    controls_[kExcelBrowseButton] = browse;
    CheckBox(kExcelSelectFile, QStringLiteral("enable file"), Dlu(12, 45, 100, kLabelHeightDlu));
    CheckBox(kExcelVisibleBox, QStringLiteral("EXCEL visible"), Dlu(12, 59, 100, kLabelHeightDlu));
    CheckBox(kExcelEditBox, QStringLiteral("EXCEL enable"), Dlu(12, 73, 100, kLabelHeightDlu));
    CheckBox(kExcelOpenBox, QStringLiteral("EXCEL open autom."),
             Dlu(116, 45, 106, kLabelHeightDlu));
    CheckBox(kExcelCloseBox, QStringLiteral("EXCEL close autom."),
             Dlu(116, 59, 106, kLabelHeightDlu));
    CheckBox(kExcelSaveBox, QStringLiteral("EXCEL save autom."),
             Dlu(116, 73, 106, kLabelHeightDlu));

    // Where each record item goes: a row per item under three headings.
    group(QStringLiteral("export format"), 5, 96, 222,
          kRowTopDlu + kExcelDialogItems * kRowPitchDlu - 96 + 4);
    label(QStringLiteral("cell address"), 12, 104, 62);
    label(QStringLiteral("relativ absolut"), 78, 104, 70);
    label(QStringLiteral("column/line"), 152, 104, 68);
    for (int n = 0; n < kExcelDialogItems; ++n) {
        const ExcelRowIds& ids = kExcelRows[static_cast<std::size_t>(n)];
        const int y = kRowTopDlu + n * kRowPitchDlu;
        CheckBox(ids.check, Q(ids.caption), Dlu(12, y, 62, kRowHeightDlu));
        auto* relative = new QRadioButton(this);
        relative->setGeometry(Dlu(84, y, 12, kRowHeightDlu));
        relative->setObjectName(QStringLiteral("control%1").arg(ids.relative));
        auto* absolute = new QRadioButton(this);
        absolute->setGeometry(Dlu(116, y, 12, kRowHeightDlu));
        absolute->setObjectName(QStringLiteral("control%1").arg(ids.absolute));
        // Each row's pair excludes itself only, not the other rows.
        auto* pair = new QButtonGroup(this);
        pair->addButton(relative);
        pair->addButton(absolute);
        controls_[ids.relative] = relative;
        controls_[ids.absolute] = absolute;
        Field(ids.column, Dlu(152, y, 32, kRowHeightDlu));
        Field(ids.line, Dlu(188, y, 32, kRowHeightDlu));
    }

    // Send key, worksheet, reference cell and its move.
    group(QString(), 232, 3, 163, 118);
    label(QStringLiteral("function key:"), 240, 15, 62);
    auto* keys = List(kExcelSendKeyList, Dlu(306, 13, 82, kListHeightDlu));
    for (const char* key : kSendKeys) keys->addItem(Q(key));
    keys->setMaxVisibleItems(kSendKeyChoiceCount);
    label(QStringLiteral("excel sheet:"), 240, 33, 62);
    Field(kExcelSheetField, Dlu(306, 31, 82, kFieldHeightDlu));
    label(QStringLiteral("relative cell address:"), 240, 50, 140);
    auto* modes = List(kExcelRefModeList, Dlu(240, 61, 110, kListHeightDlu));
    for (const char* mode : kRefModes) modes->addItem(Q(mode));
    Field(kExcelRefAddressField, Dlu(354, 61, 34, kListHeightDlu));
    CheckBox(kExcelShiftBox, QStringLiteral("autom. relaying:"),
             Dlu(240, 83, 140, kLabelHeightDlu));
    label(QStringLiteral("column/line"), 240, 100, 62);
    Field(kExcelShiftColumnField, Dlu(306, 98, 39, kFieldHeightDlu));
    Field(kExcelShiftRowField, Dlu(349, 98, 39, kFieldHeightDlu));

    // Only its rectangle is used: the logo is painted there.
    logo_ = new QWidget(this);
    logo_->setGeometry(Dlu(252, 132, 124, 100));
    logo_->hide();
    controls_[kExcelLogo] = logo_;

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(Dlu(252, 252, 124, 28));
    ok->setDefault(true);
    ok->setObjectName(QStringLiteral("control%1").arg(kExcelConfigOk));
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
    FieldOf(kExcelFileField)->setText(Q(v.fileName));
    CheckBoxOf(kExcelSelectFile)->setChecked(v.selectFile);
    CheckBoxOf(kExcelVisibleBox)->setChecked(v.visible);
    CheckBoxOf(kExcelEditBox)->setChecked(v.edit);
    CheckBoxOf(kExcelOpenBox)->setChecked(v.open);
    CheckBoxOf(kExcelCloseBox)->setChecked(v.close);
    CheckBoxOf(kExcelSaveBox)->setChecked(v.save);
    for (int n = 0; n < kExcelDialogItems; ++n) {
        const ExcelRowIds& ids = kExcelRows[static_cast<std::size_t>(n)];
        const ExcelCellRow& row = v.rows[static_cast<std::size_t>(n)];
        CheckBoxOf(ids.check)->setChecked(row.on);
        static_cast<QRadioButton*>(control(row.relative ? ids.relative : ids.absolute))
            ->setChecked(true);
        FieldOf(ids.column)->setText(Q(row.column));
        FieldOf(ids.line)->setText(Q(row.line));
    }
    FieldOf(kExcelSheetField)->setText(Q(v.sheet));

    // A number the list has no entry for leaves it without selection.
    const auto select = [](QComboBox* list, int index) {
        list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
    };
    refModeRead_ = v.refMode;
    select(ListOf(kExcelRefModeList), static_cast<int>(v.refMode));
    FieldOf(kExcelRefAddressField)->setText(Q(v.refAddress));
    FieldOf(kExcelRefAddressField)->setVisible(v.refMode != ExcelReferenceMode::ActiveCell);
    CheckBoxOf(kExcelShiftBox)->setChecked(v.shiftMode);
    FieldOf(kExcelShiftColumnField)->setText(Q(v.autoShiftColumn));
    FieldOf(kExcelShiftRowField)->setText(Q(v.autoShiftRow));
    sendKeyRead_ = v.sendKey;
    select(ListOf(kExcelSendKeyList), static_cast<int>(v.sendKey));
}

int ExcelConfigDialog::Run() {
    Open();
    return exec();
}

void ExcelConfigDialog::OnRefModeChanged(int index) {
    control(kExcelRefAddressField)
        ->setVisible(index != static_cast<int>(ExcelReferenceMode::ActiveCell));
}

void ExcelConfigDialog::Browse() {
    const auto file = app::ChooseExistingWorkbook(this, Q(ExportFolder()));
    if (!file) return;
    const QFileInfo info(*file);
    QString folder = info.absolutePath();
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    g_run.ExportPath = folder.toStdWString();
    g_run.XlsFileName = info.fileName().toStdWString();
    FieldOf(kExcelFileField)->setText(info.fileName());
}

void ExcelConfigDialog::accept() {
    const auto text = [this](int id) { return FieldOf(id)->text().toStdWString(); };
    const auto on = [this](int id) {
        return static_cast<QAbstractButton*>(control(id))->isChecked();
    };
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
    const int refMode = ListOf(kExcelRefModeList)->currentIndex();
    v.refMode = refMode >= 0 ? static_cast<ExcelReferenceMode>(refMode) : refModeRead_;
    v.refAddress = text(kExcelRefAddressField);
    v.shiftMode = on(kExcelShiftBox);
    v.autoShiftColumn = text(kExcelShiftColumnField);
    v.autoShiftRow = text(kExcelShiftRowField);
    const int sendKey = ListOf(kExcelSendKeyList)->currentIndex();
    v.sendKey = sendKey >= 0 ? static_cast<SendKeyChoice>(sendKey) : sendKeyRead_;

    g_run.XlsFileName = ExcelFileNameToStore(v.fileName);
    const std::string path = ActiveFile();
    platform::ProfileDocument doc = platform::ProfileDocument::Load(path);
    WriteExcelDialogValues(doc, v);
    save_(doc, path);
    QDialog::accept();
}

void ExcelConfigDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    app::PaintSharedLogo(painter, logo_->geometry());
}

}  // namespace karvelo::exports
