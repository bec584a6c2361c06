#pragma once
// The world a serial reader sees: the run-time record, a serial back-end whose
// slots hold scripted ports, and a clock whose waits cost no real time.

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "backends/serial/serial_backend.h"
#include "devices/catalogue.h"
#include "platform/wait.h"
#include "state/run_state.h"
#include "support/scripted_port.h"

namespace karvelo::serial {

class FakeClock : public platform::WaitClock {
  public:
    std::uint32_t TickCount() override { return now; }
    void Sleep(int ms) override { now += static_cast<std::uint32_t>(ms); }
    std::uint32_t now = 0;
};

class ReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        platform::SetWaitClock(&clock);
    }
    void TearDown() override {
        platform::SetWaitClock(nullptr);
        ResetRunState();
    }

    // Slot s holds a `type` instrument on COM `com`, reached through `p`.
    void Configure(int s, int type, testing::ScriptedPort& p, int com = 1, int channel = 0,
                   double factor = 1.0, double offset = 0.0) {
        g_run.DeviceType[s] = type;
        g_run.Port[s] = com;
        g_run.Channel[s] = channel;
        g_run.Factor[s] = factor;
        g_run.Offset[s] = offset;
        ports().SlotPort[s] = &p;
    }

    // A result from an earlier cycle, so that "untouched" and "cleared" differ.
    static void GivePreviousResult(int s, double value = 7.0) {
        g_run.Value[s] = value;
        g_run.ValueReady[s] = true;
        g_run.ValueError[s] = true;
    }

    PortTable& ports() { return backend.ports(); }

    // Reads slot s through the serial back-end, as the slot's own type or as `type`.
    devices::ReaderResult Read(int s, bool requested) {
        return backend.Read(s, requested, devices::DeviceTypeOf(g_run.DeviceType[s]));
    }
    devices::ReaderResult ReadAs(int type, int s, bool requested) {
        return backend.Read(s, requested, devices::DeviceTypeOf(type));
    }

    // No port is ever opened: the tests hand the slots their scripted ports.
    SerialBackend backend{g_run,
                          [](const LineProfile&, int) { return std::unique_ptr<SerialLine>(); }};
    testing::ScriptedPort port;
    FakeClock clock;
};

// A test-case description as a parameterised test's name.
inline std::string CaseName(std::string_view what) {
    std::string name;
    for (char c : what) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

// The slot's results as one comparable value.
struct SlotResult {
    double value;
    bool ready;
    bool error;
    int state;
    friend bool operator==(const SlotResult& a, const SlotResult& b) {
        return std::fabs(a.value - b.value) < 1e-9 && a.ready == b.ready && a.error == b.error &&
               a.state == b.state;
    }
    friend void PrintTo(const SlotResult& r, std::ostream* os) {
        *os << "{value " << r.value << ", ready " << r.ready << ", error " << r.error << ", state "
            << r.state << "}";
    }
};

inline SlotResult ResultOf(int s) {
    return {g_run.Value[s].load(), g_run.ValueReady[s].load(), g_run.ValueError[s].load(),
            static_cast<int>(g_run.SlotState[s].load())};
}

// What an untouched slot with GivePreviousResult() holds, and a cleared one.
inline constexpr SlotResult kPrevious{7.0, true, true, 0};
inline constexpr SlotResult kCleared{0.0, false, false, 0};
inline constexpr SlotResult Stored(double value) {
    return {value, true, false, 2};
}

}  // namespace karvelo::serial
