#include "devices/device_set.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/null_window.h"
#include "app/timers.h"
#include "backends/marposs/marposs_backend.h"
#include "devices/catalogue.h"
#include "state/control_ids.h"
#include "state/marposs_handover.h"
#include "state/run_state.h"
#include "support/fake_wait_clock.h"
#include "support/fake_window.h"
#include "support/scripted_port.h"
#include "support/test_devices.h"

namespace karvelo::devices {
namespace {

using karvelo::testing::ScriptedPort;

ReaderResult g_code = kNotOpen;
int g_calls = 0;

// A back-end whose reader answers with g_code (and stores a value for a
// positive code).
class ScriptedBackend : public Backend {
  public:
    explicit ScriptedBackend(Transport t) : transport_(t) {}
    Transport transport() const override { return transport_; }
    void OpenAll(WindowPort&) override {}
    void CloseAll() override {}
    RequestOutcome Request(int, const DeviceType&) override { return RequestOutcome::Sent; }
    ReaderResult Read(int s, bool, const DeviceType&) override {
        ++g_calls;
        if (g_code >= 1) {
            g_run.Value[s] = 4.5;
            g_run.SlotState[s] = SlotStage::Read;
        }
        return g_code;
    }

  private:
    Transport transport_;
};

std::vector<std::unique_ptr<Backend>> ScriptedBackends() {
    std::vector<std::unique_ptr<Backend>> list;
    for (Transport t :
         {Transport::SerialCom, Transport::FtdiUsb, Transport::CounterCard, Transport::Orbit,
          Transport::Marposs, Transport::IbritBus, Transport::AnalogInput}) {
        list.push_back(std::make_unique<ScriptedBackend>(t));
    }
    return list;
}

bool g_textTaken = false;

struct Case {
    int type;
    bool requested;
    int code;               // what the reader returns
    int result;             // of the dispatch
    const wchar_t* status;  // nullptr: unchanged
    bool ready;
    bool error;
};

class ReadDispatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        g_calls = 0;
    }
    ReadOutcome ReadDispatch(int s, bool requested) { return devices.Read(s, requested); }

    DeviceSet devices{g_run, ScriptedBackends(), [](int) { return g_textTaken; }};
    void Prime() {
        g_run.StatusText[3] = L"before";
        g_run.ValueReady[3] = false;
        g_run.ValueError[3] = true;
    }
};

TEST_F(ReadDispatchTest, ResultCodesBecomeWordsByTypeGroup) {
    const Case cases[] = {
        {1, true, 1, 1, L"", true, false},
        {1, true, 0, 1, L"com error", true, true},
        {1, true, -1, 1, L"unavailable", true, true},
        {1, false, -1, -1, nullptr, false, true},  // polling and nothing there
        {1, false, -3, 1, L"invalid", true, true},
        {1, true, -2, 1, L"device error", true, true},
        {1, true, -4, 1, L"error", true, true},
        {1, true, -5, 1, nullptr, false, true},  // not mapped for serial types
        {1, true, 2, 1, nullptr, false, true},   // send flags only for the PU family
        {25, true, 2, 2, L"", true, false},
        {25, true, 3, 3, L"", true, false},
        {10, true, 0, 1, L"usb error", true, true},
        {12, true, 3, 3, L"", true, false},
        {17, false, 2, 2, L"", true, false},
        {20, true, 0, 1, L"pci error", true, true},
        {21, true, -5, 1, L"out of range", true, true},
        {30, true, -1, -1, nullptr, false, true},  // the first bus stays silent
        {30, true, -2, -1, nullptr, false, true},
        {30, true, -3, 1, L"invalid", true, true},
        {30, true, 2, 1, L"stored", true, false},
        {31, true, -1, 1, L"unavailable", true, true},
        {31, true, -2, 1, L"device error", true, true},
        {33, true, 0, 1, L"usb error", true, true},
        {44, true, -4, 1, L"error", true, true},
        {53, true, 0, 1, L"usb error", true, true},
        {7, true, 1, -1, nullptr, false, true},  // free code: nothing
        {-2, true, 1, -1, nullptr, false, true},
        {58, true, 1, -1, nullptr, false, true},
        {1, true, 9, 1, nullptr, false, true},  // unknown code: nothing changes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "type " << c.type << " code " << c.code << " requested " << c.requested);
        g_run.DeviceType[3] = c.type;
        g_code = static_cast<ReaderResult>(c.code);
        Prime();
        const ReadOutcome r = ReadDispatch(3, c.requested);
        EXPECT_EQ(ResultNumber(r), c.result);
        // Only a stored value may complete a record by itself; status words never do.
        EXPECT_EQ(StoredValue(r),
                  c.result >= 1 && c.code >= 1 && c.status != nullptr && c.status[0] == 0);
        EXPECT_EQ(g_run.StatusText[3].str(), c.status ? c.status : L"before");
        EXPECT_EQ(g_run.ValueReady[3].load(), c.ready);
        EXPECT_EQ(g_run.ValueError[3].load(), c.error);
    }
}

TEST_F(ReadDispatchTest, AlmemoIsNeverReadWhilePolling) {
    g_run.DeviceType[3] = 9;
    g_code = kValueStored;
    Prime();
    EXPECT_EQ(ReadDispatch(3, false), ReadOutcome::NothingNew);
    EXPECT_EQ(g_calls, 0);
    EXPECT_EQ(ReadDispatch(3, true), ReadOutcome::Shown);
    EXPECT_EQ(g_calls, 1);
}

TEST_F(ReadDispatchTest, TextSlotsNeverCompleteARecord) {
    g_run.DeviceType[3] = 0;
    g_run.TextSource[3] = 0;
    Prime();
    EXPECT_EQ(ReadDispatch(3, true), ReadOutcome::NothingNew);
    EXPECT_TRUE(g_run.ValueReady[3]);
    EXPECT_FALSE(g_run.ValueError[3]);

    g_run.TextSource[3] = 2;
    g_textTaken = false;
    Prime();
    EXPECT_EQ(ReadDispatch(3, false), ReadOutcome::NothingNew);
    EXPECT_FALSE(g_run.ValueReady[3]) << "an unreadable source changes nothing";
    g_textTaken = true;
    EXPECT_EQ(ReadDispatch(3, false), ReadOutcome::NothingNew);
    EXPECT_TRUE(g_run.ValueReady[3]);
    EXPECT_FALSE(g_run.ValueError[3]);
}

// The real reader behind the dispatch: a Sylvac gauge on a scripted port.
TEST(DeviceSetSerial, SerialGaugeThroughItsReader) {
    ResetRunState();
    app::NullWindow window;
    karvelo::testing::TestDevices devices(g_run, window);
    ScriptedPort port;
    devices.ports().SlotPort[3] = &port;
    g_run.DeviceType[3] = 1;
    g_run.Factor[3] = 2.0;
    g_run.Offset[3] = 0.5;
    g_run.StatusText[3] = L"unavailable";
    port.Reply("+012.345\r");
    EXPECT_EQ(devices.set.Read(3, true), ReadOutcome::Shown);
    EXPECT_DOUBLE_EQ(g_run.Value[3], 25.19);
    EXPECT_EQ(g_run.StatusText[3].str(), L"");
    EXPECT_TRUE(g_run.ValueReady[3]);
    EXPECT_FALSE(g_run.ValueError[3]);
    // Polling with nothing waiting keeps what is shown.
    EXPECT_EQ(devices.set.Read(3, false), ReadOutcome::NothingNew);
    EXPECT_DOUBLE_EQ(g_run.Value[3], 25.19);
    // A request without an answer.
    EXPECT_EQ(devices.set.Read(3, true), ReadOutcome::StatusShown);
    EXPECT_EQ(g_run.StatusText[3].str(), L"unavailable");
    devices.ports().SlotPort[3] = nullptr;
    EXPECT_EQ(devices.set.Read(3, true), ReadOutcome::StatusShown);
    EXPECT_EQ(g_run.StatusText[3].str(), L"com error");
    ResetRunState();
}

// A Marposs library whose channel c reads 2.5 + c.
struct MarpossAt final : MarpossValueRead {
    double ReadValue(int channel) override { return 2.5 + channel; }
};

// The Marposs box is read by the window's timer 8 on the user-interface thread;
// the dispatch waits for that answer.
TEST_F(ReadDispatchTest, MarpossIsReadThroughTheWindowTimer) {
    // The tools' window serves timer 8 at once, as the station's window does
    // on its own thread.
    app::NullWindow window;
    karvelo::testing::TestDevices station(g_run, window);
    const auto ReadDispatch = [&station](int s, bool requested) {
        return station.set.Read(s, requested);
    };
    g_run.DeviceType[3] = 22;
    g_run.Channel[3] = 0;
    g_run.Factor[3] = 2.0;
    g_run.Offset[3] = 1.0;

    Prime();
    EXPECT_EQ(ReadDispatch(3, true), ReadOutcome::StatusShown) << "library not ready";
    EXPECT_EQ(g_run.StatusText[3].str(), L"error");
    EXPECT_EQ(ReadDispatch(3, false), ReadOutcome::NothingNew) << "never read while polling";

    MarpossAt library;
    g_marposs.Library = &library;
    Prime();
    EXPECT_EQ(ReadDispatch(3, true), ReadOutcome::Shown);
    EXPECT_DOUBLE_EQ(g_run.Value[3], 6.0);
    EXPECT_EQ(g_run.StatusText[3].str(), L"");
    EXPECT_EQ(g_run.SlotState[3], SlotStage::Read);

    // A window whose timer never answers: about 100 s later the slot shows the
    // missing device.
    karvelo::testing::FakeWindow silent;
    karvelo::testing::FakeWaitClock clock;
    karvelo::testing::TestDevices unanswered(g_run, silent);
    Prime();
    EXPECT_EQ(unanswered.set.Read(3, true), ReadOutcome::StatusShown);
    EXPECT_EQ(g_run.StatusText[3].str(), L"pci error");
    EXPECT_EQ(clock.elapsed(), 100000u);
    EXPECT_EQ(silent.timers[kMarpossTimer], 10);
    g_marposs.Library = nullptr;
}

TEST(StatusWords, ByTypeAndCode) {
    EXPECT_EQ(StatusWordFor(DeviceTypeOf(26), 0), "com error");
    EXPECT_EQ(StatusWordFor(DeviceTypeOf(15), 0), "usb error");
    EXPECT_EQ(StatusWordFor(DeviceTypeOf(22), -5), "out of range");
    EXPECT_EQ(StatusWordFor(DeviceTypeOf(1), -5), "");
    EXPECT_EQ(StatusWordFor(DeviceTypeOf(34), 2), "stored");
    EXPECT_EQ(StatusWordFor(DeviceTypeOf(0), 0), "");
}

}  // namespace
}  // namespace karvelo::devices
