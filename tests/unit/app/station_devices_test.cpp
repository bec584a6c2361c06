#include "app/station_devices.h"

#include <gtest/gtest.h>

#include <string>

#include "devices/catalogue.h"
#include "state/control_ids.h"
#include "state/run_state.h"
#include "support/fake_window.h"
#include "support/temp_dir.h"

namespace karvelo::app {
namespace {

// The station's device set reads a text slot from its list file and shows a
// long text in the slot's field.
TEST(StationDevices, TextSlotsReadTheirListFile) {
    ResetRunState();
    testing::TempDir dir;
    testing::FakeWindow window;
    dir.Write("list.csv", "4711;Lot 5;\n");
    g_run.DeviceType[1] = 0;
    g_run.TextSource[1] = 2;
    const std::string folder = dir.path().string() + "/";
    g_run.TextPath[1] = std::wstring(folder.begin(), folder.end());
    g_run.TextFile[1] = L"list.csv";

    const auto devices = MakeStationDevices(g_run, window);
    devices->Read(1, false);
    EXPECT_EQ(g_run.TextLast[1].str(), L"Lot 5");
    EXPECT_EQ(window.texts[kSlotTextFirst], L"Lot 5");
    ResetRunState();
}

// Every transport of the table has a back-end in the station's set.
TEST(StationDevices, EveryTransportHasABackend) {
    testing::FakeWindow window;
    const auto devices = MakeStationDevices(g_run, window);
    for (const devices::DeviceType& t : devices::DeviceTypes()) {
        if (t.transport == devices::Transport::None || t.transport == devices::Transport::Text)
            continue;
        SCOPED_TRACE(t.code);
        EXPECT_NE(devices->BackendFor(t.transport), nullptr);
    }
}

}  // namespace
}  // namespace karvelo::app
