// libFuzzer target: every serial reader against arbitrary instrument output.
//
// Input: byte 0 picks the reader type (low five bits, modulo the type count)
// and the `requested` flag (bit 7); byte 1 lays out the slots (which slot is
// read, the channels, whether a sibling was already read in this cycle). The
// rest is what the port delivers, one byte per read, with 0xF5 as an escape:
// F5 00 is a read that times out, F5 01 a line error, F5 and any other byte
// that byte itself. After the script the line is silent.
//
// Checked: no memory error or undefined behaviour (the sanitizers), a known
// result code, finite values, slot states 0..2, slots of other instruments and
// slots already read in this cycle untouched, and a bounded number of reads
// after the instrument fell silent.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "backends/serial/serial_backend.h"
#include "devices/catalogue.h"
#include "devices/reader.h"
#include "platform/wait.h"
#include "state/run_state.h"
#include "support/scripted_port.h"

namespace {

using karvelo::g_run;

constexpr int kTypes[] = {1, 2, 3, 4, 5, 6, 8, 9, 19, 23, 24, 25, 26, 27, 28, 50, 57};
constexpr std::uint8_t kEscape = 0xF5;
constexpr int kSharedCom = 3;
constexpr double kPreviousValue = 1234.5;
// The most reads a reader may still make once the line is silent: the IBRit
// display retries twelve times.
constexpr int kMaxReadsAfterEnd = 12;

class NoWaitClock : public karvelo::platform::WaitClock {
  public:
    std::uint32_t TickCount() override { return now_; }
    void Sleep(int ms) override { now_ += static_cast<std::uint32_t>(ms); }

  private:
    std::uint32_t now_ = 0;
};

void Check(bool ok) {
    if (!ok) std::abort();
}

struct Snapshot {
    double value;
    bool ready;
    bool error;
    int state;
    bool operator==(const Snapshot&) const = default;
};

Snapshot Take(int s) {
    return {g_run.Value[s].load(), g_run.ValueReady[s].load(), g_run.ValueError[s].load(),
            static_cast<int>(g_run.SlotState[s].load())};
}

void Script(karvelo::testing::ScriptedPort& port, const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] != kEscape || i + 1 == size) {
            port.Reply({data[i]});
            continue;
        }
        const std::uint8_t code = data[++i];
        if (code == 0x00) {
            port.Silence();
        } else if (code == 0x01) {
            port.LineErrorNext();
        } else {
            port.Reply({code});
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static NoWaitClock clock;
    karvelo::platform::SetWaitClock(&clock);
    if (size < 2) return 0;

    const int type = kTypes[(data[0] & 0x1F) % std::size(kTypes)];
    const bool requested = (data[0] & 0x80) != 0;
    const std::uint8_t layout = data[1];
    const int readSlot = 1 + (layout & 0x03);  // one of the four siblings
    const int doneSlot = 1 + ((layout >> 2) & 0x03);
    const bool oneAlreadyRead = (layout & 0x10) != 0 && doneSlot != readSlot;

    karvelo::ResetRunState();
    karvelo::serial::SerialBackend backend(g_run, [](const karvelo::serial::LineProfile&, int) {
        return std::unique_ptr<karvelo::serial::SerialLine>();
    });
    karvelo::serial::PortTable& ports = backend.ports();
    karvelo::testing::ScriptedPort port;
    karvelo::testing::ScriptedPort otherPort;
    for (int s = 0; s <= karvelo::kMaxSlots; ++s) {
        ports.SlotPort[s] = nullptr;
        g_run.Value[s] = kPreviousValue;
        g_run.ValueReady[s] = true;
        g_run.ValueError[s] = true;
    }
    // Slots 1..4: one instrument shared by four slots with various channels
    // and scales; slot 5 the same type on another port; slot 6 another type
    // on the same port.
    for (int s = 1; s <= 4; ++s) {
        g_run.DeviceType[s] = type;
        g_run.Port[s] = kSharedCom;
        g_run.Channel[s] = ((layout >> 5) + s * 3) % 13 - 1;  // -1..11, out of range too
        g_run.Factor[s] = s % 2 ? 1.0 : -2.5;
        g_run.Offset[s] = 0.25 * s;
        g_run.SerialNo[s] = L"A1";
        ports.SlotPort[s] = &port;
    }
    g_run.DeviceType[5] = type;
    g_run.Port[5] = kSharedCom + 1;
    ports.SlotPort[5] = &otherPort;
    g_run.DeviceType[6] = type == 1 ? 2 : 1;
    g_run.Port[6] = kSharedCom;
    ports.SlotPort[6] = &port;
    if (oneAlreadyRead) g_run.SlotState[doneSlot] = karvelo::SlotStage::Read;

    Snapshot before[karvelo::kSlotEntries];
    for (int s = 0; s <= karvelo::kMaxSlots; ++s) before[s] = Take(s);

    Script(port, data + 2, size - 2);
    const karvelo::devices::DeviceType& row = karvelo::devices::DeviceTypeOf(type);
    Check(row.serial.reader != nullptr);
    const int r = backend.Read(readSlot, requested, row);

    Check(r >= -4 && r <= 3 && r != -2);
    if (r >= 2) Check(type == 25);
    if (r == 0) Check(type == 9);  // a malformed ALMEMO list; every slot has a port
    for (int s = 0; s <= karvelo::kMaxSlots; ++s) {
        Check(std::isfinite(g_run.Value[s].load()));
        const int state = static_cast<int>(g_run.SlotState[s].load());
        Check(state >= 0 && state <= 2);
        const bool sibling = s >= 1 && s <= 4;
        if (!sibling || (oneAlreadyRead && s == doneSlot)) Check(Take(s) == before[s]);
        // A failed read concerns only the slot that was read; only a list
        // that lacks the read slot's own channel still serves the others.
        if (r <= 0 && s != readSlot) {
            const Snapshot now = Take(s);
            const bool listServed =
                (type == 25 || type == 26) && r == -3 && now.state == 2 && now.ready && !now.error;
            Check(now == before[s] || listServed);
        }
    }
    // Success marks the slot read, except for an ALMEMO list without its point.
    if (r >= 1 && type != 9) Check(g_run.SlotState[readSlot].load() == karvelo::SlotStage::Read);
    Check(port.readsAfterEnd() <= kMaxReadsAfterEnd);
    Check(otherPort.readCalls() == 0);
    return 0;
}
