#include "devices/requests.h"

#include <array>
#include <span>

#include "app/run_state.h"
#include "devices/catalogue.h"
#include "devices/device_handles.h"
#include "platform/wait.h"

namespace karvelo::devices {
namespace {

enum class Action : std::uint8_t {
    Nothing,      // read without a trigger
    Write,        // purge, then write the bytes
    DtrPulse,     // purge, DTR off for 120 ms, DTR on
    Break,        // purge, break for 100 ms
    IbritChannel, // purge, "DAS<channel>\r" for channels 1..5
    Pu26Channel,  // purge, "?\r", "1\r" or "2\r" by channel
    FtdiDevice,   // FTDI instruments: their back-end's request
    CounterCard,  // status check only
    BusLatch,     // latch of the measuring bus
    WaitOnly,     // analog inputs: only the wait
};

struct Request {
    Action action;
    std::string_view bytes;
    int closingWaitMs;
};

constexpr int kPulseMs = 120;
constexpr int kBreakMs = 100;
constexpr int kClosingWaitMs = 200;

using namespace std::string_view_literals;

// Indexed by type code; codes without an entry do nothing.
constexpr std::array<Request, kDeviceTypeCount> kRequests = [] {
    std::array<Request, kDeviceTypeCount> t{};
    for (Request& r : t) r = {Action::Nothing, {}, 0};
    t[1] = {Action::Write, "?\r", kClosingWaitMs};
    t[2] = {Action::DtrPulse, {}, kClosingWaitMs};
    t[3] = {Action::IbritChannel, {}, 0};
    t[4] = {Action::Write, "\x02"sv, kClosingWaitMs};
    t[5] = {Action::Write, "?\r", kClosingWaitMs};
    t[6] = {Action::Break, {}, kClosingWaitMs};
    t[8] = {Action::Write, "?\r", 0};
    t[9] = {Action::Write, "s", 0};
    for (int type = 10; type <= 18; ++type) t[type] = {Action::FtdiDevice, {}, kClosingWaitMs};
    t[19] = {Action::Pu26Channel, {}, kClosingWaitMs};
    t[20] = {Action::CounterCard, {}, 0};
    t[23] = {Action::Write, "K", kClosingWaitMs};
    t[24] = {Action::Write, "M", kClosingWaitMs};
    t[25] = {Action::Write, "$PRI,0*57\r", kClosingWaitMs};
    t[26] = {Action::Write, "?\r", 0};
    t[27] = {Action::Write, "SR,00,000\r\n", 0};
    t[28] = {Action::Write, "?\r\n", 0};
    for (int type = 30; type <= 37; ++type) t[type] = {Action::BusLatch, {}, kClosingWaitMs};
    for (int type = 40; type <= 47; ++type) t[type] = {Action::WaitOnly, {}, kClosingWaitMs};
    t[50] = {Action::Write, "\x01"sv, 0};
    t[57] = {Action::Write, "GO\r", 0};
    return t;
}();

void MarkMissing(int s, std::string_view word) {
    g_run.StatusText[s] = std::wstring(word.begin(), word.end());
    g_run.ValueReady[s] = true;
    g_run.ValueError[s] = true;
}

void Succeeded(int s) { g_run.StatusText[s].Clear(); }

bool WriteText(SerialLine& port, std::string_view text) {
    return port.Write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// The serial actions; false when the port is missing or the request cannot be
// made.
bool SerialRequest(int s, const Request& r) {
    SerialLine* port = g_devices.SlotPort[s];
    if (port == nullptr) return false;
    port->Purge();
    switch (r.action) {
        case Action::Write: WriteText(*port, r.bytes); return true;
        case Action::DtrPulse:
            port->SetDtr(false);
            platform::PumpWait(kPulseMs);
            port->SetDtr(true);
            return true;
        case Action::Break:
            port->SetBreak(true);
            platform::PumpWait(kBreakMs);
            port->SetBreak(false);
            return true;
        case Action::IbritChannel: {
            const int channel = g_run.Channel[s];
            if (channel < 1 || channel > 5) return false;
            const char command[] = {'D', 'A', 'S', static_cast<char>('0' + channel), '\r'};
            WriteText(*port, std::string_view(command, sizeof command));
            return true;
        }
        case Action::Pu26Channel: {
            static constexpr std::array<std::string_view, 3> kByChannel = {"?\r", "1\r", "2\r"};
            const int channel = g_run.Channel[s];
            if (channel >= 0 && channel <= 2) WriteText(*port, kByChannel[static_cast<std::size_t>(channel)]);
            return true;
        }
        default: return true;
    }
}

}  // namespace

std::string ChecksumFrame(std::string_view body, std::string_view terminator) {
    std::uint8_t sum = 0;
    for (char c : body) sum ^= static_cast<std::uint8_t>(c);
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string frame = "$";
    frame += body;
    frame += '*';
    if (sum >= 16) frame += kHex[sum >> 4];
    frame += kHex[sum & 0x0F];
    frame += terminator;
    return frame;
}

void RequestMeasurement(int s) {
    const int type = g_run.DeviceType[s];
    if (type < 0 || type >= kDeviceTypeCount) return;
    const Request& r = kRequests[static_cast<std::size_t>(type)];
    switch (r.action) {
        case Action::Nothing: return;
        case Action::Write:
        case Action::DtrPulse:
        case Action::Break:
        case Action::IbritChannel:
        case Action::Pu26Channel:
            if (SerialRequest(s, r)) {
                Succeeded(s);
            } else {
                MarkMissing(s, "com error");
            }
            break;
        case Action::FtdiDevice:
            // No FTDI adapter is open in this build: the request reports the
            // missing device, as an adapter that is not plugged in would.
            MarkMissing(s, "usb error");
            break;
        case Action::CounterCard:
            if (g_run.Channel[s] < 0) {
                MarkMissing(s, "pci error");
            } else {
                Succeeded(s);
            }
            break;
        case Action::BusLatch:
        case Action::WaitOnly: Succeeded(s); break;
    }
    if (r.closingWaitMs > 0) platform::PumpWait(r.closingWaitMs);
}

}  // namespace karvelo::devices
