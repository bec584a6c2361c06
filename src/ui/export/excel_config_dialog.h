#pragma once
// CFGDLG, the "EXCEL Configuration" dialog: the workbook, the application
// flags, where each of the thirteen record items goes (relative to the
// reference cell or at a fixed address), the worksheet, the reference cell and
// its move after each record, and the send key. Runs modally on the
// user-interface thread while the acquisition is paused. It works on the
// active configuration file: every key is read when it opens and written by
// OK; closing it otherwise writes nothing (a workbook chosen with "..." stays
// in the running station).

#include <QDialog>
#include <array>
#include <map>

#include "export/excel_config.h"
#include "ui/settings_saver.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace karvelo::exports {

enum ExcelConfigControl : int {
    kExcelConfigOk = 1,
    kExcelBrowseButton = 1009,
    kExcelFileField = 1051,
    kExcelSelectFile = 1052,
    kExcelVisibleBox = 1053,
    kExcelEditBox = 1054,
    kExcelOpenBox = 1055,
    kExcelCloseBox = 1056,
    kExcelSaveBox = 1057,
    kExcelSendKeyList = 1123,
    kExcelSheetField = 1124,
    kExcelRefModeList = 1125,
    kExcelRefAddressField = 1127,
    kExcelShiftBox = 1129,
    kExcelShiftColumnField = 1131,
    kExcelShiftRowField = 1132,
    kExcelLogo = 1201,
};

// The controls of one record item's row.
struct ExcelRowIds {
    const char* caption;
    int check;
    int relative;
    int absolute;
    int column;
    int line;
};

inline constexpr std::array<ExcelRowIds, kExcelDialogItems> kExcelRows = {{
    {"no.", 1058, 1060, 1061, 1062, 1063},
    {"date", 1059, 1064, 1065, 1066, 1067},
    {"time", 1068, 1069, 1070, 1071, 1072},
    {"value 1", 1073, 1074, 1075, 1076, 1077},
    {"value 2", 1078, 1079, 1080, 1081, 1082},
    {"value 3", 1083, 1084, 1085, 1086, 1087},
    {"value 4", 1088, 1089, 1090, 1091, 1092},
    {"value 5", 1093, 1094, 1095, 1096, 1097},
    {"value 6", 1098, 1099, 1100, 1101, 1102},
    {"value 7", 1103, 1104, 1105, 1106, 1107},
    {"value 8", 1108, 1109, 1110, 1111, 1112},
    {"value 9", 1113, 1114, 1115, 1116, 1117},
    {"value 10", 1118, 1119, 1120, 1121, 1122},
}};

class ExcelConfigDialog : public QDialog {
    Q_OBJECT

  public:
    explicit ExcelConfigDialog(ui::SaveSettings save, QWidget* parent = nullptr);

    // Fills the controls from the active configuration file.
    void Open();
    // Open, then modal until OK or close; QDialog::Accepted after OK.
    int Run();

    // The handlers, as the controls call them. Browse: ExportPath becomes the
    // chosen workbook's folder and XlsFileName its name at once, OK or not.
    void OnRefModeChanged(int index);
    void Browse();
    void accept() override;

    QWidget* control(int id) const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    ui::SaveSettings save_;
    // A rectangle in dialog units, as pixels.
    static QRect Dlu(int x, int y, int width, int height);
    void CreateControls();
    QCheckBox* CheckBox(int id, const QString& caption, const QRect& where);
    QLineEdit* Field(int id, const QRect& where);
    QComboBox* List(int id, const QRect& where);
    QLineEdit* FieldOf(int id) const;
    QCheckBox* CheckBoxOf(int id) const;
    QComboBox* ListOf(int id) const;

    std::map<int, QWidget*> controls_;
    QWidget* logo_ = nullptr;
    // The list values as read: what OK writes back when the file held a number
    // that the list has no entry for, so that it is not replaced by "-1".
    SendKeyChoice sendKeyRead_ = SendKeyChoice::None;
    ExcelReferenceMode refModeRead_ = ExcelReferenceMode::DefinedCell;
};

}  // namespace karvelo::exports
