#include "backends/ftdi/ftdi_backend.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "backends/ftdi/adapter_io.h"
#include "backends/ftdi/framed_command.h"
#include "backends/ftdi/ftdi_readers.h"
#include "devices/catalogue.h"
#include "platform/text_encoding.h"
#include "platform/wait.h"

namespace karvelo::ftdi {
namespace {

using devices::DeviceType;
using devices::DeviceTypeOf;
using devices::RequestOutcome;
using devices::Transport;

// Adapters are looked for at device indices 0 to 19.
constexpr int kMaxAdapters = 20;
constexpr ULONG kTimeoutMs = 250;
// The serial-number filter uses at most this many characters of `sn`.
constexpr std::size_t kSerialFilterChars = 15;
// The dialog's list keeps at most this many characters of a serial number.
constexpr std::size_t kListedSerialChars = 19;

// The version probe.
constexpr std::string_view kVersionRequest = "VER\r";
constexpr std::string_view kFramedVersionRequest = "$VER*41\r";
constexpr int kVersionWaitMs = 100;
constexpr int kVersionPolls = 51;
constexpr int kVersionPollMs = 10;
constexpr DWORD kVersionMinBytes = 10;
constexpr DWORD kVersionMaxBytes = 1023;

constexpr int kPulseMs = 120;
constexpr int kShortWriteWaitMs = 500;
constexpr DWORD kMinRequestBytes = 5;
// Channels 51 to 53 ("max", "min", "max-min") need the extrema output.
constexpr int kFirstExtremaChannel = 51;
constexpr int kLastExtremaChannel = 53;

bool UsesAdapter(const RunState& run, int s) {
    return DeviceTypeOf(run.DeviceType[s]).transport == Transport::FtdiUsb && run.Port[s] == 0;
}

struct AdapterInfo {
    std::string serial;
    std::string description;
};

AdapterInfo InfoOf(D2xx& api, FT_HANDLE h) {
    std::array<char, kSerialNumberBytes> serial{};
    std::array<char, kDescriptionBytes> description{};
    description[0] = '-';
    ULONG device = 0;
    DWORD id = 0;
    api.GetDeviceInfo(h, &device, &id, serial.data(), description.data());
    // The library's strings are cut at their buffers whatever it wrote.
    serial.back() = '\0';
    description.back() = '\0';
    return {serial.data(), description.data()};
}

// Polls until at least kVersionMinBytes are waiting; false when the firmware
// stayed silent.
bool AwaitVersionReply(D2xx& api, FT_HANDLE h) {
    for (int i = 0; i < kVersionPolls; ++i) {
        platform::PumpWait(kVersionPollMs);
        if (WaitingBytes(api, h) >= kVersionMinBytes) return true;
    }
    return false;
}

// Reads what is waiting (at most kVersionMaxBytes); true when the firmware
// did not refuse the request.
bool VersionAccepted(D2xx& api, FT_HANDLE h) {
    std::array<char, kVersionMaxBytes + 1> reply{};
    DWORD got = 0;
    const DWORD n = std::min(WaitingBytes(api, h), kVersionMaxBytes);
    api.Read(h, reply.data(), n, &got);
    const std::string_view text(reply.data(), std::min(got, n));
    return text.find("error") == std::string_view::npos &&
           text.find("ERROR") == std::string_view::npos;
}

enum class Probe { Plain, Framed, Silent, Refused };

// Asks the firmware of a PU adapter whether it takes plain commands, or else
// framed ones.
Probe ProbeVersion(D2xx& api, FT_HANDLE h) {
    DiscardInput(api, h);
    WriteBytes(api, h, kVersionRequest);
    platform::PumpWait(kVersionWaitMs);
    if (!AwaitVersionReply(api, h)) return Probe::Silent;
    if (VersionAccepted(api, h)) {
        DiscardInput(api, h);
        return Probe::Plain;
    }
    DiscardInput(api, h);
    WriteBytes(api, h, kFramedVersionRequest);
    if (!AwaitVersionReply(api, h)) return Probe::Silent;
    const bool accepted = VersionAccepted(api, h);
    if (accepted) DiscardInput(api, h);
    return accepted ? Probe::Framed : Probe::Refused;
}

}  // namespace

FtdiBackend::FtdiBackend(RunState& run, D2xxLoader load) : run_(run), load_(std::move(load)) {}

FtdiBackend::~FtdiBackend() {
    CloseAll();
}

D2xx& FtdiBackend::Api() {
    if (!api_) api_ = load_ ? load_() : nullptr;
    if (!api_) api_ = NoAdapters();
    return *api_;
}

void FtdiBackend::OpenAll(WindowPort& window) {
    adapters_ = AdapterTable{};
    // Slots beyond the count in use take no adapter: an adapter taken is
    // detached from the system's serial driver.
    const int last = std::clamp(run_.DeviceCount.load(), 0, kMaxSlots);
    bool needed = false;
    for (int s = 1; s <= last; ++s) needed = needed || UsesAdapter(run_, s);
    if (!needed) return;

    for (int s = 1; s <= last; ++s) {
        if (UsesAdapter(run_, s)) OpenSlot(s, DeviceTypeOf(run_.DeviceType[s]));
    }
    ShowProblems(window);
}

void FtdiBackend::OpenSlot(int s, const DeviceType& type) {
    D2xx& api = Api();
    auto& handle = adapters_.FtdiHandle;
    auto& framed = adapters_.FtdiFramed;
    // An earlier slot on the same adapter lends it; the search below still
    // gives this slot an adapter of its own when another matching one is free.
    for (int j = 1; j < s; ++j) {
        if (AdapterSiblings(run_, j, s)) {
            handle[s] = handle[j];
            framed[s] = framed[j];
        }
    }
    std::string wanted = platform::WideToLatin1(run_.SerialNo[s].str());
    if (wanted.size() > kSerialFilterChars) wanted.resize(kSerialFilterChars);

    for (int index = 0; index < kMaxAdapters; ++index) {
        FT_HANDLE h = nullptr;
        if (api.Open(index, &h) != FT_OK || h == nullptr) continue;
        const AdapterInfo info = InfoOf(api, h);
        if (!type.ftdi.Accepts(info.description) ||
            (!wanted.empty() && info.serial.find(wanted) == std::string::npos)) {
            api.Close(h);
            continue;
        }
        const AdapterLine& line = type.ftdi.line;
        api.SetBaudRate(h, line.baud);
        api.SetDataCharacteristics(h, line.wordLength, line.stopBits, line.parity);
        api.SetTimeouts(h, kTimeoutMs, kTimeoutMs);
        if (!line.versionProbe) {
            handle[s] = h;
            framed[s] = false;
            return;
        }
        const Probe probe = ProbeVersion(api, h);
        switch (probe) {
            case Probe::Plain:
            case Probe::Framed:
                handle[s] = h;
                framed[s] = probe == Probe::Framed;
                return;
            case Probe::Silent:
                // A silent adapter ends the search; the slot keeps what a
                // sibling lent it.
                api.Close(h);
                return;
            case Probe::Refused:
                api.Close(h);
                continue;
        }
    }
}

void FtdiBackend::ShowProblems(WindowPort& window) {
    std::vector<std::wstring> problems = Api().TakeProblems();
    if (problems.empty()) return;
    const int last = std::clamp(run_.DeviceCount.load(), 0, kMaxSlots);
    bool without = false;
    for (int s = 1; s <= last; ++s) {
        without = without || (UsesAdapter(run_, s) && adapters_.HandleOf(s) == nullptr);
    }
    // Every slot found its adapter: what went wrong with others is no concern.
    if (!without) return;
    std::wstring text;
    for (const std::wstring& p : problems) {
        if (!text.empty()) text += L"\n\n";
        text += p;
    }
    window.MessageBox(L"USB", text, MessageIcon::None);
}

void FtdiBackend::CloseAll() {
    auto& handle = adapters_.FtdiHandle;
    for (int s = 1; s <= kMaxSlots; ++s) {
        const FT_HANDLE h = handle[s];
        if (h == nullptr) continue;
        if (api_) api_->Close(h);
        // Slots that shared the adapter let go of it with this one.
        for (int j = s; j <= kMaxSlots; ++j) {
            if (handle[j] == h) {
                handle[j] = nullptr;
                adapters_.FtdiFramed[j] = false;
            }
        }
    }
}

RequestOutcome FtdiBackend::Request(int s, const DeviceType& type) {
    const FT_HANDLE h = adapters_.HandleOf(s);
    switch (type.ftdi.request) {
        case FtdiRequest::DtrPulse:
            if (h == nullptr) return RequestOutcome::DeviceMissing;
            DiscardInput(*api_, h);
            api_->SetDtr(h);
            platform::PumpWait(kPulseMs);
            api_->ClrDtr(h);
            return RequestOutcome::Sent;
        case FtdiRequest::PrintValues:
        case FtdiRequest::MfpValue: {
            // Requested already, or filled through a sibling's reply.
            if (run_.SlotState[s] != SlotStage::Idle) return RequestOutcome::Sent;
            if (h == nullptr) return RequestOutcome::DeviceMissing;
            DiscardInput(*api_, h);
            std::string command;
            if (type.ftdi.request == FtdiRequest::MfpValue) {
                command = FramedCommand("i0");
            } else {
                const int ch = run_.Channel[s];
                const std::string_view payload =
                    ch >= kFirstExtremaChannel && ch <= kLastExtremaChannel ? "PRI,5" : "PRI";
                command =
                    adapters_.FramedOf(s) ? FramedCommand(payload) : std::string(payload) + "\n\r";
            }
            if (WriteBytes(*api_, h, command) >= kMinRequestBytes) return RequestOutcome::Sent;
            platform::PumpWait(kShortWriteWaitMs);
            return RequestOutcome::Refused;
        }
        case FtdiRequest::None:
            break;
    }
    return RequestOutcome::Sent;
}

devices::ReaderResult FtdiBackend::Read(int s, bool requested, const DeviceType& type) {
    if (!api_ || type.ftdi.reader == nullptr) return devices::kNotOpen;
    return type.ftdi.reader(ReadContext{run_, *api_, adapters_, type}, s, requested);
}

std::vector<std::wstring> FtdiBackend::ListDevices(const DeviceType& type) {
    std::vector<std::wstring> serials;
    if (type.transport != Transport::FtdiUsb) return serials;
    D2xx& api = Api();
    for (int index = 0; index < kMaxAdapters; ++index) {
        FT_HANDLE h = nullptr;
        if (api.Open(index, &h) != FT_OK || h == nullptr) continue;
        const AdapterInfo info = InfoOf(api, h);
        if (type.ftdi.Lists(info.description)) {
            std::wstring serial = platform::Latin1ToWide(info.serial);
            if (serial.size() > kListedSerialChars) serial.resize(kListedSerialChars);
            serials.push_back(std::move(serial));
        }
        api.Close(h);
    }
    return serials;
}

}  // namespace karvelo::ftdi
