// DEVICECFG on a real configuration file with fake back-end lists, the COM
// probe against pseudo-terminals mapped through [PORTS], and the main
// window's ">>" around it.

#include "ui/devices/device_config_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <set>
#include <sstream>

#include "app/configuration.h"
#include "platform/profile.h"
#include "state/run_state.h"
#include "station_window_fixture.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"
#include "ui/station/batch_mode.h"

namespace karvelo::testing {
namespace {

using namespace devices;

class DeviceConfig : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        app::SetBatchMode(true);
        app::DerivePaths(QString::fromStdString(dir.file("karvelo")).toStdWString());
    }
    void TearDown() override {
        dialog.reset();
        ResetRunState();
    }

    // The dialog opened on `section` as [DEVICE3] of the main file.
    DeviceConfigDialog& Open(const std::string& section, const std::string& more = {}) {
        dir.Write("karvelo.cfg", more + "[DEVICE3]\r\n" + section);
        DeviceConfigSources sources;
        sources.ftdiSerials = [this](const DeviceType&) { return ftdi; };
        sources.cardAxes = [this](const DeviceType&) { return axes; };
        sources.busSetup = [this](std::uintptr_t parent) { setupParents.push_back(parent); };
        sources.errorBox = [this](const std::wstring& caption, const std::wstring& text) {
            errors.push_back(caption + L": " + text);
        };
        sources.saveSettings = [](const platform::ProfileDocument& doc, const std::string& path) {
            app::SaveSettingsDocument(doc, path);
        };
        dialog = std::make_unique<DeviceConfigDialog>(std::move(sources));
        dialog->Open(3);
        dialog->show();
        return *dialog;
    }

    QComboBox* List(int id) { return static_cast<QComboBox*>(dialog->control(id)); }
    QLineEdit* Field(int id) { return static_cast<QLineEdit*>(dialog->control(id)); }
    bool Shows(int id) { return dialog->control(id)->isVisibleTo(dialog.get()); }
    void Pick(int id, int index) {
        List(id)->setCurrentIndex(index);
        Q_EMIT List(id)->activated(index);
    }
    std::wstring Key(const wchar_t* key) {
        return platform::ReadProfileString(L"DEVICE3", key, L"<missing>", dir.file("karvelo.cfg"));
    }

    TempDir dir;
    std::unique_ptr<DeviceConfigDialog> dialog;
    std::vector<std::wstring> ftdi = {L"FT0A", L"ft2b"};
    std::vector<std::wstring> axes = {L"12345", L"777"};
    std::vector<std::uintptr_t> setupParents;
    std::vector<std::wstring> errors;
};

// ---- the type step ----------------------------------------------------------

struct TypeCase {
    const char* typ;  // nullptr: the section has no `typ`
    std::set<int> shown;
    int ports;              // entries of the port list
    const char* portShown;  // text of the selected port entry
    int serials;            // entries of the serial list
    const char* serialText;
    int channel;  // selected channel; the section holds ch=5
};

class TypeStep : public DeviceConfig, public ::testing::WithParamInterface<TypeCase> {};

constexpr int kValue[] = {kDevDecimalsField, kDevFactorField, kDevOffsetField};
std::set<int> With(std::initializer_list<int> ids) {
    std::set<int> s(ids);
    s.insert(std::begin(kValue), std::end(kValue));
    return s;
}

TEST_P(TypeStep, ShowsItsControlsAndFillsItsLists) {
    const TypeCase& c = GetParam();
    std::string section = "port=4\r\nsn=FT2B\r\nch=5\r\ntextsource=2\r\n";
    if (c.typ) section += std::string("typ=") + c.typ + "\r\n";
    Open(section);

    std::set<int> shown;
    for (int id : TypeStepControls()) {
        if (Shows(id)) shown.insert(id);
    }
    EXPECT_EQ(shown, c.shown);
    EXPECT_EQ(List(kDevPortList)->count(), c.ports);
    EXPECT_EQ(List(kDevPortList)->currentText().toStdString(), c.portShown);
    EXPECT_EQ(List(kDevSerialField)->count(), c.serials);
    EXPECT_EQ(List(kDevSerialField)->currentText().toStdString(), c.serialText);
    EXPECT_EQ(List(kDevChannelList)->currentIndex(), c.channel);
    EXPECT_TRUE(errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Codes, TypeStep,
    ::testing::Values(
        // A text slot reading CSV_2 also shows its file and ">>".
        TypeCase{"0", {kDevTextSourceList, kDevTextFileField, kDevBrowseButton}, 0, "", 0, "", 5},
        TypeCase{"7", With({}), 0, "", 0, "", 5}, TypeCase{"38", {}, 0, "", 0, "", 5},
        TypeCase{nullptr, {}, 0, "", 0, "", 5}, TypeCase{"58", {}, 0, "", 0, "", 5},
        TypeCase{"3", With({kDevPortList, kDevChannelList, kDevRequestList}), 99, "", 0, "", 5},
        TypeCase{"8", With({kDevPortList, kDevChannelList, kDevRequestList}), 99, "", 0, "", 1},
        TypeCase{"27", With({kDevPortList, kDevRequestList}), 99, "", 0, "", 5},
        TypeCase{"1", With({kDevPortList, kDevRequestList}), 99, "", 0, "", 1},
        TypeCase{"10", With({kDevPortList, kDevSerialField, kDevRequestList}), 1, "USB", 20, "ft2b",
                 1},
        TypeCase{"14", With({kDevPortList, kDevSerialField, kDevChannelList, kDevRequestList}), 1,
                 "USB", 20, "ft2b", 5},
        // No axis matches the remembered "FT2B": the first entry is taken.
        TypeCase{"20", With({kDevSerialField, kDevParameterList, kDevRequestList}), 1, "PCI", 20,
                 "12345", 1},
        TypeCase{"41", With({kDevPortList, kDevSerialField, kDevChannelList, kDevRequestList}), 1,
                 "USB", 0, "FT2B", 5},
        TypeCase{"33", With({kDevPortList, kDevChannelList, kDevRequestList, kDevBusSetupButton}),
                 1, "USB", 0, "FT2B", 5},
        TypeCase{"52", With({kDevPortList, kDevRequestList}), 1, "USB", 0, "FT2B", 5}));

TEST_F(DeviceConfig, CardWithoutAxesSaysSoAndLeavesTheSerialEmpty) {
    axes.clear();
    Open("typ=20\r\nsn=777\r\n");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], L"KARVELO: No IK220 found");
    EXPECT_EQ(List(kDevSerialField)->count(), 20);
    EXPECT_EQ(List(kDevSerialField)->currentText(), QString());
}

TEST_F(DeviceConfig, CardAxesSelectTheRememberedOne) {
    Open("typ=20\r\nsn=777\r\n");
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(List(kDevSerialField)->currentIndex(), 1);
}

TEST_F(DeviceConfig, BusSetupGetsTheDialogAsParent) {
    Open("typ=30\r\n");
    QTest::mouseClick(static_cast<QPushButton*>(dialog->control(kDevBusSetupButton)),
                      Qt::LeftButton);
    ASSERT_EQ(setupParents.size(), 1u);
    EXPECT_EQ(setupParents[0], static_cast<std::uintptr_t>(dialog->winId()));
}

// ---- opening values and immediate writes -----------------------------------

TEST_F(DeviceConfig, SendTimeFieldFollowsTheStoredModeAndClamps) {
    const struct {
        const char* keys;
        bool shown;
        const char* sendTime;
        const char* decimals;
    } cases[] = {
        {"sendmode=4\r\nsendtime=0.05\r\nformat=12\r\n", true, "0.1", "8"},
        {"sendmode=3\r\nsendtime=5000\r\nformat=-3\r\n", true, "3600.0", "0"},
        {"sendmode=0\r\n", false, "60.0", "0"},
    };
    for (const auto& c : cases) {
        Open(std::string("typ=1\r\n") + c.keys);
        EXPECT_EQ(Shows(kDevSendTimeField), c.shown) << c.keys;
        EXPECT_EQ(Field(kDevSendTimeField)->text().toStdString(), c.sendTime) << c.keys;
        EXPECT_EQ(Field(kDevDecimalsField)->text().toStdString(), c.decimals) << c.keys;
    }
}

TEST_F(DeviceConfig, RequestChangeConfirmsTheTimeAndWritesAtOnce) {
    Open("typ=1\r\nsendmode=0\r\nsendtime=60\r\n");
    Field(kDevSendTimeField)->setText(QStringLiteral("5000"));
    Pick(kDevRequestList, 4);
    EXPECT_EQ(Field(kDevSendTimeField)->text(), QStringLiteral("3600.0"));
    EXPECT_TRUE(Shows(kDevSendTimeField));
    EXPECT_EQ(Key(L"sendmode"), L"4");
    EXPECT_EQ(Key(L"sendtime"), L"3600.0");

    Pick(kDevRequestList, 2);
    EXPECT_FALSE(Shows(kDevSendTimeField));
    dialog->reject();
    // Left without OK: the request's writes stay, nothing else was written.
    EXPECT_EQ(Key(L"sendmode"), L"2");
    EXPECT_EQ(Key(L"typ_txt"), L"<missing>");
}

TEST_F(DeviceConfig, TextSourceChangeWritesAtOnceAndHidesTheFile) {
    Open("typ=0\r\ntextsource=2\r\ntextfile=parts.csv\r\n");
    EXPECT_TRUE(Shows(kDevTextFileField));
    EXPECT_EQ(Field(kDevTextFileField)->text(), QStringLiteral("parts.csv"));
    Pick(kDevTextSourceList, 0);
    EXPECT_FALSE(Shows(kDevTextFileField));
    EXPECT_FALSE(Shows(kDevBrowseButton));
    EXPECT_EQ(Key(L"textsource"), L"0");
    Pick(kDevTextSourceList, 5);
    EXPECT_TRUE(Shows(kDevBrowseButton));
    EXPECT_EQ(Key(L"textsource"), L"5");
}

// ---- OK ---------------------------------------------------------------------

std::vector<std::string> SectionLines(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

TEST_F(DeviceConfig, OkOnASectionWithoutTypeWritesEveryKeyInOrder) {
    Open("");
    QTest::mouseClick(static_cast<QPushButton*>(dialog->control(kDevOk)), Qt::LeftButton);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    const std::vector<std::string> expected = {
        "[DEVICE3]",     "typ=-1",      "typ_txt=-1",   "port=-1",    "port_txt=-1", "sn=",
        "ch=1",          "parameter=0", "textsource=0", "textpath=",  "textfile=",   "sendmode=0",
        "sendtime=60.0", "format=0",    "factor=1.0",   "offset=0.0", "title=",
    };
    EXPECT_EQ(SectionLines(dir.Read("karvelo.cfg")), expected);
}

TEST_F(DeviceConfig, OkStoresFieldsAsTypedAndTheForcedChannel) {
    Open("typ=1\r\nch=7\r\nformat=12\r\n");
    Field(kDevDecimalsField)->setText(QStringLiteral("12"));
    Field(kDevTitleField)->setText(QString(60, QLatin1Char('t')));
    dialog->accept();
    EXPECT_EQ(Key(L"typ"), L"1");
    EXPECT_EQ(Key(L"typ_txt"), L"Sylvac duplex");
    EXPECT_EQ(Key(L"ch"), L"1");
    EXPECT_EQ(Key(L"format"), L"12");
    EXPECT_EQ(Key(L"title"), std::wstring(49, L't'));
}

TEST_F(DeviceConfig, TextSlotStoresNoPort) {
    Open("typ=0\r\nport=3\r\n");
    dialog->accept();
    EXPECT_EQ(Key(L"port"), L"-1");
    EXPECT_EQ(Key(L"port_txt"), L"-1");
}

// ---- the COM probe and the remembered port ---------------------------------

TEST_F(DeviceConfig, ProbeNamesOpenPortsAndThePickedPortSurvivesTypeChanges) {
    PtyPair gauge;
    Open("typ=1\r\nport=4\r\n",
         "[PORTS]\r\nCOM2=" + gauge.SlavePath() + "\r\nCOM4=" + dir.file("unplugged") + "\r\n");
    ASSERT_TRUE(dialog->FinishPortProbe(10000));
    QComboBox* ports = List(kDevPortList);
    ASSERT_EQ(ports->count(), 99);
    EXPECT_EQ(ports->itemText(0), QStringLiteral("-"));
    EXPECT_EQ(ports->itemText(2), QStringLiteral("com2"));
    EXPECT_EQ(ports->itemData(2, Qt::ToolTipRole).toString(),
              QString::fromStdString(gauge.SlavePath()));
    // The remembered COM 4 is selected though it cannot be opened.
    EXPECT_EQ(ports->currentIndex(), 4);
    EXPECT_EQ(ports->itemText(4), QString());

    Pick(kDevPortList, 2);
    Pick(kDevTypeList, 11);  // a USB type
    EXPECT_EQ(ports->currentText(), QStringLiteral("USB"));
    Pick(kDevTypeList, 26);  // back to a COM type
    EXPECT_EQ(ports->currentIndex(), 2);
    dialog->accept();
    EXPECT_EQ(Key(L"port"), L"2");
    EXPECT_EQ(Key(L"port_txt"), L"com2");
    EXPECT_EQ(Key(L"typ_txt"), L"SD1");
}

TEST_F(DeviceConfig, UnprobedRememberedPortStoresAnEmptyText) {
    Open("typ=1\r\nport=6\r\n", "[PORTS]\r\nCOM6=" + dir.file("unplugged") + "\r\n");
    dialog->accept();
    EXPECT_EQ(Key(L"port"), L"6");
    EXPECT_EQ(Key(L"port_txt"), L"");
}

// ---- the main window's ">>" ------------------------------------------------

class SlotCommand : public StationWindowTest {};

TEST_F(SlotCommand, DialogRunsAndTheConfigurationIsReloadedWithOkOrWithout) {
    Open("[WINDOW]\r\nmaxno=2\r\n[DEVICE2]\r\ntyp=0\r\n");
    g_run.AcquisitionPaused = true;  // no acquisition thread in this test

    // OK with a free code: the slot reloads as that type.
    QTimer::singleShot(0, [this] {
        auto& d = window->deviceConfigDialog();
        auto* types = static_cast<QComboBox*>(d.control(kDevTypeList));
        types->setCurrentIndex(7);
        Q_EMIT types->activated(7);
        d.accept();
    });
    window->ConfigureSlot(2);
    EXPECT_EQ(g_run.ConfigSlot.load(), 2);
    EXPECT_EQ(g_run.DeviceType[2].load(), 7);
    EXPECT_FALSE(g_run.AcquisitionPaused.load());

    // Closed without OK: what the request list wrote is loaded all the same.
    g_run.AcquisitionPaused = true;
    QTimer::singleShot(0, [this] {
        auto& d = window->deviceConfigDialog();
        auto* requests = static_cast<QComboBox*>(d.control(kDevRequestList));
        requests->setCurrentIndex(2);
        Q_EMIT requests->activated(2);
        d.reject();
    });
    window->ConfigureSlot(2);
    EXPECT_EQ(static_cast<int>(g_run.SendMode[2].load()), 2);
    EXPECT_EQ(g_run.DeviceType[2].load(), 7);
}

}  // namespace
}  // namespace karvelo::testing
