#include "devices/read_dispatch.h"

#include <array>
#include <atomic>
#include <optional>
#include <string>

#include "app/run_state.h"
#include "app/timers.h"
#include "app/window_port.h"
#include "devices/catalogue.h"
#include "devices/reader.h"
#include "platform/wait.h"

namespace karvelo::devices {
namespace {

// How the result codes of a group of types are shown. words[i] is the word of
// code -i (words[0] for code 0); nullptr: the code is not mapped.
struct DispatchRule {
    const char* words[6];
    bool sendFlags;     // codes 2 and 3 are the instrument's send request
    bool storedWord;    // code 2 means "stored"
    bool silentMisses;  // codes -1 and -2 change nothing, whether requested or not
};

constexpr DispatchRule kSerialRule = {
    {"com error", "unavailable", "device error", "invalid", "error", nullptr}, false, false, false};
constexpr DispatchRule kPuSerialRule = {
    {"com error", "unavailable", "device error", "invalid", "error", nullptr}, true, false, false};
constexpr DispatchRule kUsbRule = {
    {"usb error", "unavailable", "device error", "invalid", "error", nullptr}, false, false, false};
constexpr DispatchRule kPuUsbRule = {
    {"usb error", "unavailable", "device error", "invalid", "error", nullptr}, true, false, false};
constexpr DispatchRule kCardRule = {
    {"pci error", "unavailable", "device error", "invalid", "error", nullptr}, false, false, false};
constexpr DispatchRule kNetworkRule = {
    {"pci error", "unavailable", "device error", "invalid", "error", "out of range"}, false, false, false};
constexpr DispatchRule kFirstBusRule = {
    {"usb error", nullptr, nullptr, "invalid", "error", nullptr}, false, true, true};
constexpr DispatchRule kBusRule = {
    {"usb error", "unavailable", "device error", "invalid", "error", nullptr}, false, true, false};

constexpr int kAlmemoType = 9;
constexpr int kPu4142Type = 25;
constexpr int kFirstBusType = 30;
constexpr int kMarpossType = 22;
constexpr int kMarpossPeriodMs = 10;
constexpr int kMarpossWaitMs = 100;
constexpr int kMarpossWaits = 1000;  // about 100 s

// The rule of a type; nullptr for text slots, free and unknown codes.
const DispatchRule* RuleFor(int type) {
    if (type == kPu4142Type) return &kPuSerialRule;
    switch (DeviceTransport(type)) {
        case Transport::SerialCom: return &kSerialRule;
        case Transport::FtdiUsb: return IsSendKeyResultType(type) ? &kPuUsbRule : &kUsbRule;
        case Transport::CounterCard: return &kCardRule;
        case Transport::Orbit:
        case Transport::Marposs: return &kNetworkRule;
        case Transport::IbritBus: return type == kFirstBusType ? &kFirstBusRule : &kBusRule;
        case Transport::AnalogInput: return &kUsbRule;
        case Transport::Text:
        case Transport::None: return nullptr;
    }
    return nullptr;
}

// Back-ends that this build does not have yet report their device as not open.
ReaderResult DeviceNotAvailable(int, bool) { return kNotOpen; }

std::array<std::atomic<ReaderFn>, kDeviceTypeCount> g_installed{};

ReaderFn ReaderOf(int type) {
    if (type >= 0 && type < kDeviceTypeCount) {
        if (ReaderFn r = g_installed[static_cast<std::size_t>(type)].load(std::memory_order_acquire)) return r;
    }
    if (ReaderFn serial = SerialReaderFor(type)) return serial;
    return DeviceNotAvailable;
}

// The Marposs library may only be called on the user-interface thread: its
// read runs in the window's timer 8, and this thread waits for the answer,
// keeping its own events flowing.
ReaderResult ReadMarpossThroughWindow(int s, bool requested) {
    app::g_marposs.Result = 0;
    app::g_marposs.Slot = s;
    app::g_marposs.Requested = requested ? 1 : 0;
    app::MainWindow().StartTimer(app::kMarpossTimer, kMarpossPeriodMs);
    for (int i = 0; i < kMarpossWaits && app::g_marposs.Result == 0; ++i) platform::PumpWait(kMarpossWaitMs);
    return static_cast<ReaderResult>(app::g_marposs.Result.load());
}

std::atomic<TextSlotReader> g_textReader{nullptr};

int ReadTextSlot(int s) {
    if (g_run.TextSource[s] == 0) {
        g_run.ValueReady[s] = true;
        g_run.ValueError[s] = false;
    } else if (TextSlotReader reader = g_textReader.load(std::memory_order_acquire); reader && reader(s)) {
        g_run.ValueReady[s] = true;
        g_run.ValueError[s] = false;
    }
    // A text never completes a record by itself.
    return kNothingNew;
}

void ShowWord(int s, const char* word) {
    const std::string_view w(word);
    g_run.StatusText[s] = std::wstring(w.begin(), w.end());
    g_run.ValueReady[s] = true;
    g_run.ValueError[s] = true;
}

void ShowValue(int s) {
    g_run.StatusText[s].Clear();
    g_run.ValueReady[s] = true;
    g_run.ValueError[s] = false;
}

}  // namespace

void SetTextSlotReader(TextSlotReader reader) { g_textReader.store(reader, std::memory_order_release); }

void SetReader(int type, ReaderFn reader) {
    if (type < 0 || type >= kDeviceTypeCount) return;
    g_installed[static_cast<std::size_t>(type)].store(reader, std::memory_order_release);
}

std::string_view StatusWordFor(int deviceType, int code) {
    const DispatchRule* rule = RuleFor(deviceType);
    if (rule == nullptr) return {};
    if (code == 2 && rule->storedWord) return "stored";
    if (code > 0 || code < -5) return {};
    const char* w = rule->words[-code];
    return w ? std::string_view(w) : std::string_view();
}

int ReadDispatch(int s, bool requested) {
    const int type = g_run.DeviceType[s];
    if (type == 0) return ReadTextSlot(s);
    if (type == kAlmemoType && !requested) return kNothingNew;
    const DispatchRule* rule = RuleFor(type);
    if (rule == nullptr) return kNothingNew;  // free and unknown codes give nothing

    const ReaderResult code =
        type == kMarpossType ? ReadMarpossThroughWindow(s, requested) : ReaderOf(type)(s, requested);

    if (!requested && code == kNoAnswer) return kNothingNew;
    if (rule->silentMisses && (code == kNoAnswer || code == kDeviceFault)) return kNothingNew;
    if (code == kValueStored) {
        ShowValue(s);
        return kResultToShow;
    }
    if ((code == kStoredOrSendFlag1 || code == kSendFlag2) && rule->sendFlags) {
        ShowValue(s);
        return code;
    }
    if (code == kStoredOrSendFlag1 && rule->storedWord) {
        g_run.StatusText[s] = L"stored";
        g_run.ValueReady[s] = true;
        g_run.ValueError[s] = false;
        return kResultToShow;
    }
    if (code <= 0 && code >= -5 && rule->words[-code] != nullptr) {
        ShowWord(s, rule->words[-code]);
    }
    return kResultToShow;
}

}  // namespace karvelo::devices
