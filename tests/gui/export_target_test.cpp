// The export target as the operator sees and chooses it: the file-name field's
// full path, a new file named in the chooser, and a folder chosen for ID-named
// files. The choosers are real Qt dialogs, answered as an operator would.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

#include "export/csv_export.h"
#include "export/export_record.h"
#include "export/pending_records.h"
#include "state/control_ids.h"
#include "state/run_state.h"
#include "station_window_fixture.h"
#include "support/export_now.h"
#include "support/noon_clock.h"

namespace karvelo::testing {
namespace {

using namespace app;
using karvelo::testing::NoonClock;
using karvelo::testing::NoonLine;
namespace fs = std::filesystem;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

class ExportTargetWindow : public StationWindowTest {
  protected:
    void SetUp() override {
        StationWindowTest::SetUp();
        exports::ReloadPendingRecords();
        exports::SetLocalClock(NoonClock);
    }
    void TearDown() override {
        SetBatchMode(true);
        exports::SetLocalClock(nullptr);
        StationWindowTest::TearDown();
        exports::ReloadPendingRecords();
    }

    // Runs the export target command while `answer` plays the operator in the
    // chooser it opens; false when no chooser opened.
    bool ChooseAnswering(const std::function<void(QFileDialog&)>& answer) {
        SetBatchMode(false);
        g_run.AcquisitionPaused = true;  // as the acquisition thread leaves it for the command
        bool opened = false;
        QTimer::singleShot(0, [&] {
            auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (chooser == nullptr) return;
            opened = true;
            answer(*chooser);
        });
        window->ChooseExportTarget();
        SetBatchMode(true);
        return opened;
    }
    void Export(const std::string& id) {
        g_run.TextLast[kIdEntry] = QString::fromStdString(id).toStdWString();
        karvelo::testing::ExportNow(window->port());
    }
    QString Tip() const { return Control(kFileNameField)->toolTip(); }
};

// The field shows the name; its tip, where the file really is.
struct TipCase {
    const char* name;
    std::string exportKeys;
    const char* field;
    const char* tip;  // "@" stands for the configuration folder
};

void PrintTo(const TipCase& c, std::ostream* os) {
    *os << c.name;
}

class FileNameTip : public ExportTargetWindow, public ::testing::WithParamInterface<TipCase> {};

TEST_P(FileNameTip, ShowsTheFullPath) {
    const TipCase& c = GetParam();
    Open("[EXPORT]\r\n" + c.exportKeys);
    std::string tip = c.tip;
    if (tip.starts_with('@')) tip = dir.file(tip.substr(1));
    EXPECT_EQ(window->ControlText(kFileNameField), Q(c.field));
    EXPECT_EQ(Tip(), Q(tip));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileNameTip,
    ::testing::Values(
        TipCase{"NoFolderIsTheConfigurationFolder", "exporttype=2\r\nfile_csv=run.csv\r\n",
                "run.csv", "@run.csv"},
        TipCase{"RelativeFolder", "exporttype=1\r\npath=runs/\r\nfile_csv=run.csv\r\n", "run.csv",
                "@runs/run.csv"},
        TipCase{"FullFolder", "exporttype=2\r\npath=/srv/q/\r\nfile_csv=run.csv\r\n", "run.csv",
                "/srv/q/run.csv"},
        TipCase{"NoFileChosen", "exporttype=2\r\npath=/srv/q/\r\n", "", "No file chosen"},
        TipCase{"IdFile", "exporttype=4\r\n", "ID.csv", "@ID.csv"},
        TipCase{"NoExport", "exporttype=0\r\nfile_csv=run.csv\r\n", "", ""}),
    [](const auto& p) { return std::string(p.param.name); });

// "*.csv multi" without a file: the operator names a file that does not exist
// yet, and the records kept meanwhile go into it, before the next record.
TEST_F(ExportTargetWindow, ANewFileCanBeNamedAndGetsTheRecordsKeptMeanwhile) {
    fs::create_directory(dir.path() / "out");
    Open("[EXPORT]\r\nexporttype=2\r\npath=" + dir.file("out") + "/\r\nfile_csv=\r\n");
    Export("A");
    ASSERT_TRUE(window->exportProblem().startsWith(QStringLiteral("No CSV file chosen")))
        << window->exportProblem().toStdString();

    const std::string chosen = dir.file("out/new.csv");
    ASSERT_TRUE(ChooseAnswering([&](QFileDialog& chooser) {
        chooser.selectFile(Q(chosen));
        static_cast<QDialog&>(chooser).accept();  // as the OK button does
    }));

    EXPECT_EQ(g_run.ExportPath.str(), Q(dir.file("out") + "/").toStdWString());
    EXPECT_EQ(g_run.CsvFileName.str(), L"new.csv");
    EXPECT_EQ(ReadKey("karvelo.cfg", L"EXPORT", L"path"), Q(dir.file("out") + "/").toStdWString());
    EXPECT_EQ(ReadKey("karvelo.cfg", L"EXPORT", L"file_csv"), L"new.csv");
    EXPECT_EQ(window->ControlText(kFileNameField), Q(chosen));
    EXPECT_EQ(Tip(), Q(chosen));
    EXPECT_FALSE(g_run.AcquisitionPaused.load());
    // The kept record goes in with the choice, so nothing is shown as waiting.
    EXPECT_EQ(dir.Read("out/new.csv"), NoonLine("A"));
    EXPECT_TRUE(window->exportProblem().isEmpty()) << window->exportProblem().toStdString();

    Export("B");
    EXPECT_EQ(dir.Read("out/new.csv"), NoonLine("A") + NoonLine("B"));
    EXPECT_TRUE(window->exportProblem().isEmpty()) << window->exportProblem().toStdString();
}

// A folder for ID-named files: a record before the next ID read goes to the
// current ID's file in that folder, never to the folder inside itself.
TEST_F(ExportTargetWindow, RecordAfterAFolderChoiceGoesToTheIdsFileInIt) {
    fs::create_directory(dir.path() / "lots");
    Open("[EXPORT]\r\nexporttype=4\r\n");
    window->SetControlText(kIdField, QStringLiteral("AB 12/3"));

    const std::string folder = dir.file("lots");
    ASSERT_TRUE(ChooseAnswering([&](QFileDialog& chooser) {
        chooser.setDirectory(Q(folder));
        static_cast<QDialog&>(chooser).accept();  // as the OK button does
    }));

    EXPECT_EQ(g_run.ExportPath.str(), Q(folder + "/").toStdWString());
    EXPECT_EQ(window->ControlText(kFileNameField), QStringLiteral("AB_12_3.csv"));
    EXPECT_EQ(Tip(), Q(folder + "/AB_12_3.csv"));

    Export("AB 12/3");
    EXPECT_EQ(dir.Read("lots/AB_12_3.csv"), NoonLine("AB 12/3"));
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(dir.path() / "lots"), {}), 1);
    EXPECT_TRUE(window->exportProblem().isEmpty()) << window->exportProblem().toStdString();
    EXPECT_TRUE(exports::PendingRecords().Targets().empty());
}

}  // namespace
}  // namespace karvelo::testing
