// CFGDLG on a real configuration file, the main window's ">>" that reaches it,
// and the window's "open" and "close" on a real workbook.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/timers.h"
#include "state/control_ids.h"
#include "state/run_state.h"
#include "station_window_fixture.h"
#include "support/export_now.h"
#include "support/workbook_tool.h"
#include "ui/export/excel_config_dialog.h"

namespace karvelo::testing {
namespace {

using namespace app;
using namespace exports;
namespace wb = karvelo::testing::workbook;

class ExcelConfig : public StationWindowTest {
  protected:
    ExcelConfigDialog& Dialog() { return window->excelConfigDialog(); }
    template <typename T = QWidget>
    T* DialogControl(int id) {
        return static_cast<T*>(Dialog().control(id));
    }
    QString Text(int id) { return DialogControl<QLineEdit>(id)->text(); }
    bool Checked(int id) { return DialogControl<QAbstractButton>(id)->isChecked(); }
    void Choose(int id, int index) {
        auto* list = DialogControl<QComboBox>(id);
        list->setCurrentIndex(index);
        Q_EMIT list->activated(index);
    }
    std::wstring Key(const wchar_t* key) { return ReadKey("karvelo.cfg", L"EXCEL", key); }
    bool ShowsAddress() { return DialogControl(kExcelRefAddressField)->isVisibleTo(&Dialog()); }
};

TEST_F(ExcelConfig, OpensWithTheDefaultsAndOkWritesEveryKey) {
    Open("[WINDOW]\r\nmaxno=1\r\n");
    Dialog().Open();
    EXPECT_EQ(Dialog().windowTitle(), QStringLiteral("EXCEL Configuration"));
    EXPECT_EQ(Text(kExcelFileField), QString());
    for (int id : {kExcelSelectFile, kExcelVisibleBox, kExcelEditBox, kExcelOpenBox, kExcelCloseBox,
                   kExcelSaveBox, kExcelShiftBox}) {
        EXPECT_TRUE(Checked(id)) << id;
    }
    for (int n = 0; n < kExcelDialogItems; ++n) {
        const ExcelRowIds& row = kExcelRows[static_cast<std::size_t>(n)];
        EXPECT_TRUE(Checked(row.check)) << row.caption;
        EXPECT_TRUE(Checked(row.relative)) << row.caption;
        EXPECT_FALSE(Checked(row.absolute)) << row.caption;
        EXPECT_EQ(Text(row.column), QString::number(n)) << row.caption;
        EXPECT_EQ(Text(row.line), QStringLiteral("0")) << row.caption;
    }
    auto* keys = DialogControl<QComboBox>(kExcelSendKeyList);
    ASSERT_EQ(keys->count(), 15);
    EXPECT_EQ(keys->itemText(13), QStringLiteral("SPACE"));
    EXPECT_EQ(keys->itemText(14), QStringLiteral("ENTER"));
    EXPECT_EQ(keys->currentIndex(), 0);
    EXPECT_EQ(Text(kExcelSheetField), QStringLiteral("Tabelle1"));
    auto* modes = DialogControl<QComboBox>(kExcelRefModeList);
    EXPECT_EQ(modes->itemText(2), QStringLiteral("adress of defined cell:"));
    EXPECT_EQ(modes->currentIndex(), 1);
    EXPECT_TRUE(DialogControl(kExcelRefAddressField)->isVisibleTo(&Dialog()));
    EXPECT_EQ(Text(kExcelRefAddressField), QStringLiteral("0"));
    EXPECT_EQ(Text(kExcelShiftColumnField), QStringLiteral("0"));
    EXPECT_EQ(Text(kExcelShiftRowField), QStringLiteral("1"));

    Dialog().accept();
    // Keys that were missing are now there with the values shown.
    EXPECT_EQ(ReadKey("karvelo.cfg", L"EXPORT", L"file_xls"), L"");
    for (const auto& [key, value] :
         std::vector<std::pair<const wchar_t*, const wchar_t*>>{{L"selectfile", L"1"},
                                                                {L"save", L"1"},
                                                                {L"value1", L"1"},
                                                                {L"value13", L"1"},
                                                                {L"rel7", L"1"},
                                                                {L"SP1", L"0"},
                                                                {L"SP13", L"12"},
                                                                {L"ZL13", L"0"},
                                                                {L"sheet", L"Tabelle1"},
                                                                {L"refmode", L"1"},
                                                                {L"refadresse", L"0"},
                                                                {L"shiftmode", L"1"},
                                                                {L"autoshift_sp", L"0"},
                                                                {L"autoshift_zl", L"1"},
                                                                {L"sendkey", L"0"}}) {
        EXPECT_EQ(Key(key), value) << key;
    }
    EXPECT_EQ(Key(L"SP14"), L"<missing>") << "the unused items are not the dialog's";
}

TEST_F(ExcelConfig, RadioPairsReferenceFieldAndSendKey) {
    Open("[EXCEL]\r\nrefadresse=B4\r\nSP2=F\r\n");
    Dialog().Open();
    const ExcelRowIds& no = kExcelRows[0];
    const ExcelRowIds& date = kExcelRows[1];
    QTest::mouseClick(DialogControl<QRadioButton>(date.absolute), Qt::LeftButton);
    EXPECT_TRUE(Checked(date.absolute));
    EXPECT_FALSE(Checked(date.relative));
    EXPECT_TRUE(Checked(no.relative)) << "only the row's own pair changes";

    Choose(kExcelRefModeList, 0);
    EXPECT_FALSE(DialogControl(kExcelRefAddressField)->isVisibleTo(&Dialog()));
    Choose(kExcelRefModeList, 1);
    EXPECT_TRUE(DialogControl(kExcelRefAddressField)->isVisibleTo(&Dialog()));
    EXPECT_EQ(Text(kExcelRefAddressField), QStringLiteral("B4"));

    Choose(kExcelSendKeyList, 14);
    DialogControl<QLineEdit>(date.line)->setText(QStringLiteral("3"));
    DialogControl<QCheckBox>(kExcelSaveBox)->setChecked(false);
    QTest::mouseClick(DialogControl<QPushButton>(kExcelConfigOk), Qt::LeftButton);
    EXPECT_EQ(Key(L"rel2"), L"0");
    EXPECT_EQ(Key(L"rel1"), L"1");
    EXPECT_EQ(Key(L"SP2"), L"F");
    EXPECT_EQ(Key(L"ZL2"), L"3");
    EXPECT_EQ(Key(L"save"), L"0");
    EXPECT_EQ(Key(L"sendkey"), L"14");
    EXPECT_EQ(Key(L"refmode"), L"1");
}

TEST_F(ExcelConfig, OpensWithTheStoredValues) {
    Open(
        "[EXPORT]\r\nfile_xls=book.xlsm\r\n[EXCEL]\r\nvisible=0\r\nvalue13=0\r\nrel3=0\r\n"
        "SP3=F\r\nZL3=3\r\nsheet=Daten\r\nrefmode=0\r\nrefadresse=Z1\r\nshiftmode=0\r\n"
        "autoshift_zl=2\r\nsendkey=3\r\n");
    Dialog().Open();
    EXPECT_EQ(Text(kExcelFileField), QStringLiteral("book.xlsm"));
    EXPECT_EQ(g_run.XlsFileName.str(), L"book.xlsm");
    EXPECT_FALSE(Checked(kExcelVisibleBox));
    EXPECT_TRUE(Checked(kExcelEditBox));
    EXPECT_FALSE(Checked(kExcelRows[12].check));
    EXPECT_TRUE(Checked(kExcelRows[11].check));
    EXPECT_TRUE(Checked(kExcelRows[2].absolute));
    EXPECT_FALSE(Checked(kExcelRows[2].relative));
    EXPECT_TRUE(Checked(kExcelRows[3].relative));
    EXPECT_EQ(Text(kExcelRows[2].column), QStringLiteral("F"));
    EXPECT_EQ(Text(kExcelRows[2].line), QStringLiteral("3"));
    EXPECT_EQ(Text(kExcelSheetField), QStringLiteral("Daten"));
    EXPECT_EQ(DialogControl<QComboBox>(kExcelRefModeList)->currentIndex(), 0);
    EXPECT_FALSE(ShowsAddress()) << "current cell: no address";
    EXPECT_EQ(Text(kExcelRefAddressField), QStringLiteral("Z1"));
    EXPECT_FALSE(Checked(kExcelShiftBox));
    EXPECT_EQ(Text(kExcelShiftRowField), QStringLiteral("2"));
    EXPECT_EQ(DialogControl<QComboBox>(kExcelSendKeyList)->currentText(), QStringLiteral("F3"));
}

// The send-key list's index is what the file holds.
class ExcelConfigSendKey : public ExcelConfig, public ::testing::WithParamInterface<int> {};

TEST_P(ExcelConfigSendKey, OkWritesTheListIndex) {
    Open();
    Dialog().Open();
    Choose(kExcelSendKeyList, GetParam());
    Dialog().accept();
    EXPECT_EQ(Key(L"sendkey"), std::to_wstring(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Keys, ExcelConfigSendKey, ::testing::Values(0, 1, 12, 13, 14));

TEST_F(ExcelConfig, ANumberTheListsLackIsKeptByOk) {
    Open("[EXCEL]\r\nrefmode=5\r\nsendkey=20\r\n");
    Dialog().Open();
    EXPECT_EQ(DialogControl<QComboBox>(kExcelRefModeList)->currentIndex(), -1);
    EXPECT_EQ(DialogControl<QComboBox>(kExcelSendKeyList)->currentIndex(), -1);
    EXPECT_TRUE(ShowsAddress());
    Dialog().accept();
    EXPECT_EQ(Key(L"refmode"), L"5");
    EXPECT_EQ(Key(L"sendkey"), L"20");
}

TEST_F(ExcelConfig, ChosenWorkbookIsShownAndKeptByOk) {
    const std::string books = dir.file("books");
    std::filesystem::create_directories(books);
    std::ofstream(books + "/Messung.xlsx") << "x";
    Open("[EXPORT]\r\nexporttype=5\r\npath=books/\r\nfile_xls=old.xlsx\r\n");
    Dialog().Open();
    SetBatchMode(false);
    QString startedIn;
    QStringList filters;
    QTimer::singleShot(0, [&] {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(chooser, nullptr);
        startedIn = chooser->directory().absolutePath();
        filters = chooser->nameFilters();
        chooser->selectFile(QString::fromStdString(books + "/Messung.xlsx"));
        static_cast<QDialog*>(chooser)->accept();  // as the chooser's OK does
    });
    QTest::mouseClick(DialogControl<QPushButton>(kExcelBrowseButton), Qt::LeftButton);
    SetBatchMode(true);
    EXPECT_EQ(startedIn, QString::fromStdString(books));
    ASSERT_EQ(filters.size(), 1);
    EXPECT_TRUE(filters.front().contains(QStringLiteral("*.xls*")))
        << filters.front().toStdString();
    EXPECT_EQ(Text(kExcelFileField), QStringLiteral("Messung.xlsx"));
    EXPECT_EQ(g_run.XlsFileName.str(), L"Messung.xlsx");
    EXPECT_EQ(g_run.ExportPath.str(), QString::fromStdString(books + "/").toStdWString());
    EXPECT_EQ(ReadKey("karvelo.cfg", L"EXPORT", L"file_xls"), L"old.xlsx") << "not before OK";

    Dialog().accept();
    EXPECT_EQ(g_run.XlsFileName.str(), L"Messung.xlsx");
    EXPECT_EQ(ReadKey("karvelo.cfg", L"EXPORT", L"file_xls"), L"Messung.xlsx");
    EXPECT_EQ(ReadKey("karvelo.cfg", L"EXPORT", L"path"), L"books/")
        << "the dialog never writes it";
}

TEST_F(ExcelConfig, ACancelledChooserChangesNothing) {
    Open("[EXPORT]\r\nfile_xls=old.xlsx\r\n");
    Dialog().Open();
    g_run.ExportPath = L"/kept/";
    // Batch mode cancels every chooser.
    QTest::mouseClick(DialogControl<QPushButton>(kExcelBrowseButton), Qt::LeftButton);
    EXPECT_EQ(Text(kExcelFileField), QStringLiteral("old.xlsx"));
    EXPECT_EQ(g_run.XlsFileName.str(), L"old.xlsx");
    EXPECT_EQ(g_run.ExportPath.str(), L"/kept/");
}

TEST_F(ExcelConfig, TheFileNameIsCutForTheFileAndTheStation) {
    Open();
    Dialog().Open();
    DialogControl<QLineEdit>(kExcelFileField)->setText(QString(300, QLatin1Char('n')));
    Dialog().accept();
    EXPECT_EQ(g_run.XlsFileName.str().size(), 255u);
    EXPECT_EQ(ReadKey("karvelo.cfg", L"EXPORT", L"file_xls").size(), 255u);
}

TEST_F(ExcelConfig, EveryCaptionFitsAndNoControlsOverlap) {
    Open();
    ExcelConfigDialog& d = Dialog();
    d.Open();
    EXPECT_LE(d.width(), 1024);
    EXPECT_LE(d.height(), 768 - 60) << "room for the title bar and the task bar";
    std::vector<QWidget*> placed;
    for (QWidget* w : d.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!w->isVisibleTo(&d) || w == d.control(kExcelLogo)) continue;
        EXPECT_TRUE(d.rect().contains(w->geometry())) << w->objectName().toStdString();
        if (qobject_cast<QGroupBox*>(w) != nullptr) continue;
        const QString what =
            w->objectName() + QLatin1Char(' ') +
            (qobject_cast<QLabel*>(w)            ? qobject_cast<QLabel*>(w)->text()
             : qobject_cast<QAbstractButton*>(w) ? qobject_cast<QAbstractButton*>(w)->text()
                                                 : QString());
        // Captions: a label's or a box's text, a list's longest entry.
        if (qobject_cast<QLabel*>(w) || qobject_cast<QCheckBox*>(w) ||
            qobject_cast<QRadioButton*>(w) || qobject_cast<QComboBox*>(w)) {
            EXPECT_LE(w->sizeHint().width(), w->width()) << what.toStdString();
        }
        for (QWidget* other : placed) {
            EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                << what.toStdString() << " / " << other->objectName().toStdString();
        }
        placed.push_back(w);
    }
    // The logo's place is on no control either.
    for (QWidget* w : placed) {
        EXPECT_FALSE(w->geometry().intersects(d.control(kExcelLogo)->geometry()))
            << w->objectName().toStdString();
    }
    EXPECT_GE(placed.size(), 5u * kExcelDialogItems) << "at least the rows' controls";
}

TEST_F(ExcelConfig, ExportTargetButtonReachesTheDialogForWorkbookTypes) {
    Open("[EXPORT]\r\nexporttype=5\r\nfile_xls=book.xlsx\r\n");
    QTimer::singleShot(0, [this] {
        ASSERT_EQ(QApplication::activeModalWidget(), &Dialog());
        DialogControl<QLineEdit>(kExcelFileField)->setText(QStringLiteral("other.xlsx"));
        Dialog().accept();
    });
    g_run.AcquisitionPaused = true;  // as the acquisition thread leaves it for the command
    window->ChooseExportTarget();
    EXPECT_EQ(window->ControlText(kFileNameField), QStringLiteral("other.xlsx"));
    EXPECT_EQ(g_run.XlsFileName.str(), L"other.xlsx");
    EXPECT_EQ(ReadKey("karvelo.cfg", L"EXPORT", L"file_xls"), L"other.xlsx");
}

TEST_F(ExcelConfig, OpenAndCloseButtonsAttachAndReleaseTheWorkbook) {
    const std::string book = dir.file("book.xlsx");
    wb::Make(book, {"Tabelle1"});
    Open("[WINDOW]\r\nmaxno=1\r\n[EXPORT]\r\nexporttype=5\r\npath=" + dir.path().string() +
         "/\r\nfile_xls=book.xlsx\r\n[EXCEL]\r\nopen=0\r\nsave=0\r\n[DEVICE1]\r\ntyp=1\r\n");
    EXPECT_TRUE(Shown(kExcelOpenButton));
    QTest::mouseClick(static_cast<QPushButton*>(Control(kExcelOpenButton)), Qt::LeftButton);
    EXPECT_TRUE(g_run.ExcelConnected);
    EXPECT_TRUE(Shown(kExcelCloseButton));
    EXPECT_FALSE(Shown(kExcelOpenButton));

    g_run.ValueReady[1] = true;
    g_run.Value[1] = 2.5;
    g_run.AcquisitionPaused = true;
    window->station().records().Hand(RecordNow());
    OnTimerEvent(kExportTimer, window->port(), {&window->station().records(), &window->excel()});
    EXPECT_EQ(wb::ReadCells(book, "Tabelle1").count("A1"), 0u) << "save is off: not yet saved";

    // "close" lets the workbook go, and with it the record reaches the file.
    QTest::mouseClick(static_cast<QPushButton*>(Control(kExcelCloseButton)), Qt::LeftButton);
    EXPECT_FALSE(g_run.ExcelConnected);
    EXPECT_TRUE(Shown(kExcelOpenButton));
    const auto cells = wb::ReadCells(book, "Tabelle1");
    EXPECT_EQ(cells.at("A1"), (wb::Cell{'n', "1"}));
    EXPECT_EQ(cells.at("D1"), (wb::Cell{'n', "2.5"}));
}

}  // namespace
}  // namespace karvelo::testing
