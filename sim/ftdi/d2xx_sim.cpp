// libftd2xx.so for tests and the demo: the eleven D2XX calls the station makes,
// answered by simulated adapters from a scenario file instead of USB devices.
// The station loads it from its own folder before the system's copy, so a
// build folder with this library and an ftdi-sim.ini is a bench of adapters.
//
// All state sits behind one mutex: the station calls from its acquisition and
// its window thread. FT_Read waits for bytes in small sleeps with the mutex
// released, so a waiting read never holds up the other thread.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <vector>

#include "backends/ftdi/d2xx_api.h"
#include "common/library_runtime.h"
#include "ftdi/protocol.h"
#include "ftdi/scenario.h"

#define KARVELO_EXPORT extern "C" __attribute__((visibility("default")))

using karvelo::ftdi::DWORD;
using karvelo::ftdi::FT_HANDLE;
using karvelo::ftdi::FT_STATUS;
using karvelo::ftdi::UCHAR;
using karvelo::ftdi::ULONG;

KARVELO_EXPORT FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* handle);
KARVELO_EXPORT FT_STATUS FT_Close(FT_HANDLE handle);
KARVELO_EXPORT FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD bytesToRead,
                                 DWORD* bytesReturned);
KARVELO_EXPORT FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD bytesToWrite,
                                  DWORD* bytesWritten);
KARVELO_EXPORT FT_STATUS FT_SetBaudRate(FT_HANDLE handle, ULONG baudRate);
KARVELO_EXPORT FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength,
                                                   UCHAR stopBits, UCHAR parity);
KARVELO_EXPORT FT_STATUS FT_SetDtr(FT_HANDLE handle);
KARVELO_EXPORT FT_STATUS FT_ClrDtr(FT_HANDLE handle);
KARVELO_EXPORT FT_STATUS FT_SetTimeouts(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout);
KARVELO_EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes);
KARVELO_EXPORT FT_STATUS FT_GetDeviceInfo(FT_HANDLE handle, ULONG* device, DWORD* id,
                                          char* serialNumber, char* description, void* dummy);
// Not part of D2XX: forgets every adapter and handle and reads the scenario
// again (KARVELO_FTDI_SIM as it is now), so that tests in one process stay
// independent. Returns the number of adapters offered.
KARVELO_EXPORT int KarveloSimReload();

// The station loads these by name with the prototypes of d2xx_api.h.
static_assert(std::is_same_v<decltype(&FT_Open), karvelo::ftdi::FT_OpenFn>);
static_assert(std::is_same_v<decltype(&FT_Close), karvelo::ftdi::FT_CloseFn>);
static_assert(std::is_same_v<decltype(&FT_Read), karvelo::ftdi::FT_ReadFn>);
static_assert(std::is_same_v<decltype(&FT_Write), karvelo::ftdi::FT_WriteFn>);
static_assert(std::is_same_v<decltype(&FT_SetBaudRate), karvelo::ftdi::FT_SetBaudRateFn>);
static_assert(std::is_same_v<decltype(&FT_SetDataCharacteristics),
                             karvelo::ftdi::FT_SetDataCharacteristicsFn>);
static_assert(std::is_same_v<decltype(&FT_SetDtr), karvelo::ftdi::FT_SetDtrFn>);
static_assert(std::is_same_v<decltype(&FT_ClrDtr), karvelo::ftdi::FT_ClrDtrFn>);
static_assert(std::is_same_v<decltype(&FT_SetTimeouts), karvelo::ftdi::FT_SetTimeoutsFn>);
static_assert(std::is_same_v<decltype(&FT_GetQueueStatus), karvelo::ftdi::FT_GetQueueStatusFn>);
static_assert(std::is_same_v<decltype(&FT_GetDeviceInfo), karvelo::ftdi::FT_GetDeviceInfoFn>);

namespace karvelo::ftdisim {
namespace {

using namespace karvelo::ftdi;
using Clock = std::chrono::steady_clock;

constexpr ULONG kDefaultReadTimeoutMs = 300;
// How often a waiting FT_Read looks at the queue.
constexpr std::chrono::milliseconds kReadStep{1};
constexpr ULONG kDeviceType232R = 5;
constexpr DWORD kDeviceId = 0x04036001;  // FTDI's vendor id 0403, product 6001
// FT_Write reports this many bytes when behaviour short_write hits.
constexpr DWORD kShortWriteBytes = 2;

struct LineSettings {
    ULONG baud = 9600;  // what an FTDI chip runs at after it is opened
    UCHAR bits = FT_BITS_8;
    UCHAR stop = FT_STOP_BITS_1;
    UCHAR parity = FT_PARITY_NONE;

    bool operator==(const LineSettings&) const = default;
};

LineSettings NeededLine(Protocol p) {
    if (p == Protocol::Pu) return {57600, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE};
    return {4800, FT_BITS_7, FT_STOP_BITS_2, FT_PARITY_EVEN};
}

std::string Describe(const LineSettings& l) {
    return std::to_string(l.baud) + " baud, " + std::to_string(l.bits) + " bits, stop code " +
           std::to_string(l.stop) + ", parity " + std::to_string(l.parity);
}

struct Adapter {
    AdapterConfig config;
    std::uintptr_t handle = 0;  // 0: not open
    bool gone = false;          // unplugged: the handle stays, every call on it fails
    std::uint64_t turns = 0;    // measurement requests so far, over every open
    LineSettings line;
    bool dtr = false;
    ULONG readTimeoutMs = kDefaultReadTimeoutMs;
    std::string pending;  // written bytes after the last CR
    std::string queue;    // the receive queue FT_Read takes from
};

simcommon::LibraryRuntime g_runtime({.library = "libftd2xx",
                                     .variable = "KARVELO_FTDI_SIM",
                                     .files = "ftdi-sim",
                                     .noScenario = "no adapters",
                                     .unusable = "no adapters offered"});

struct Library {
    std::vector<Adapter> adapters;
    // Handles are numbers dressed as pointers, never dereferenced; a new one
    // for every open, so a closed handle stays invalid.
    std::uintptr_t nextHandle = 0x5100;
};

Library g_library;

void Log(const Adapter& a, std::string_view text) {
    g_runtime.Log(a.config.name, text);
}

std::string Summary(std::size_t index, const AdapterConfig& c) {
    std::string s = "index " + std::to_string(index) + ", " + std::string(ProtocolName(c.protocol));
    if (c.protocol == Protocol::Pu) s += c.firmware == Firmware::Framed ? " framed" : " plain";
    s += ", description " + Escape(c.description) + ", serial " + Escape(c.serial);
    if (c.behaviour != Behaviour::Normal) {
        s += ", " + std::string(BehaviourName(c.behaviour));
        s += simcommon::ScheduleText(c.every, c.after);
    }
    if (c.busy) s += ", busy";
    return s;
}

// Reads the scenario and opens the log. Called with the mutex held.
void LoadLocked() {
    g_library.adapters.clear();
    for (AdapterConfig& c : g_runtime.LoadDevices(ParseScenario, "adapter(s)", Summary)) {
        g_library.adapters.emplace_back().config = std::move(c);
    }
}

// The adapter a handle belongs to, gone or not; nullptr for an unknown handle.
Adapter* ByHandle(FT_HANDLE handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    if (value == 0) return nullptr;
    for (Adapter& a : g_library.adapters) {
        if (a.handle == value) return &a;
    }
    return nullptr;
}

// The usual check of every call on a handle: FT_OK and the adapter, or the
// status to return.
FT_STATUS Usable(FT_HANDLE handle, Adapter*& adapter) {
    adapter = ByHandle(handle);
    if (adapter == nullptr) return FT_INVALID_HANDLE;
    return adapter->gone ? FT_IO_ERROR : FT_OK;
}

void Send(Adapter& a, std::string_view bytes, std::string_view note = {}) {
    a.queue += bytes;
    Log(a, "reply " + Escape(bytes) + std::string(note));
}

bool LineMatches(Adapter& a, std::string_view what) {
    const LineSettings needed = NeededLine(a.config.protocol);
    if (a.line == needed) return true;
    Log(a, "line settings " + Describe(a.line) + " do not match " +
               std::string(ProtocolName(a.config.protocol)) + " (" + Describe(needed) +
               "): " + std::string(what) + " not answered");
    return false;
}

// A measurement request: the next reply, or the scenario's misbehaviour.
// Returns true when the request's write is to report a short write.
bool Measure(Adapter& a) {
    const AdapterConfig& c = a.config;
    ++a.turns;
    const std::size_t index = static_cast<std::size_t>(a.turns - 1);
    const bool hit =
        c.behaviour != Behaviour::Normal && simcommon::ScheduleHits(a.turns, c.every, c.after);
    const std::string turn = "reply " + std::to_string(a.turns);
    if (!hit) {
        Send(a, MeasurementReply(c, index, false));
        return false;
    }
    switch (c.behaviour) {
        case Behaviour::Normal:
            break;
        case Behaviour::Silent:
            Log(a, "silent: " + turn + " not sent");
            break;
        case Behaviour::Error:
            Send(a, MeasurementReply(c, index, true),
                 " (error field " + std::to_string(c.errorField) + ")");
            break;
        case Behaviour::ShortWrite:
            Log(a, "short write: " + std::to_string(kShortWriteBytes) +
                       " bytes reported written, " + turn + " not sent");
            return true;
        case Behaviour::Cut: {
            const std::string reply = MeasurementReply(c, index, false);
            const std::size_t half = reply.size() / 2;
            Send(a, std::string_view(reply).substr(0, half),
                 " (cut: " + turn + ", " + std::to_string(half) + " of " +
                     std::to_string(reply.size()) + " bytes)");
            break;
        }
        case Behaviour::Unplug:
            a.gone = true;
            a.queue.clear();
            Log(a, "unplugged at " + turn + ": every further call on the handle fails");
            break;
    }
    return false;
}

// One command, the bytes before a CR. Returns true for a short write.
bool OnCommand(Adapter& a, const std::string& command) {
    if (!LineMatches(a, "request " + Escape(command))) return false;
    const Command cmd = Interpret(a.config, command);
    switch (cmd.kind) {
        case CommandKind::Ignored:
            Log(a, "ignored " + Escape(command));
            return false;
        case CommandKind::Answer:
            Send(a, cmd.reply);
            return false;
        case CommandKind::Measurement:
            return Measure(a);
    }
    return false;
}

void CopyText(char* out, std::size_t size, std::string_view text) {
    if (out == nullptr) return;
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace
}  // namespace karvelo::ftdisim

using namespace karvelo::ftdisim;
using namespace karvelo::ftdi;

FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* handle) {
    if (handle == nullptr) return FT_INVALID_PARAMETER;
    Library& lib = g_library;
    std::lock_guard lock(g_runtime.Mutex());
    if (!g_runtime.Loaded()) LoadLocked();
    if (deviceNumber < 0 || static_cast<std::size_t>(deviceNumber) >= lib.adapters.size()) {
        g_runtime.Log("open of index " + std::to_string(deviceNumber) + ": no such adapter");
        return FT_DEVICE_NOT_FOUND;
    }
    Adapter& a = lib.adapters[static_cast<std::size_t>(deviceNumber)];
    if (a.gone) {
        Log(a, "open refused: unplugged");
        return FT_DEVICE_NOT_FOUND;
    }
    if (a.config.busy) {
        Log(a, "open refused: in use by another program");
        return FT_DEVICE_NOT_OPENED;
    }
    if (a.handle != 0) {
        Log(a, "open refused: already open");
        return FT_DEVICE_NOT_OPENED;
    }
    a.handle = lib.nextHandle;
    lib.nextHandle += 0x10;
    a.line = LineSettings{};
    a.dtr = false;
    a.readTimeoutMs = kDefaultReadTimeoutMs;
    a.pending.clear();
    a.queue.clear();
    *handle = reinterpret_cast<FT_HANDLE>(a.handle);
    Log(a, "opened (index " + std::to_string(deviceNumber) + ")");
    return FT_OK;
}

FT_STATUS FT_Close(FT_HANDLE handle) {
    std::lock_guard lock(g_runtime.Mutex());
    Adapter* a = ByHandle(handle);
    if (a == nullptr) return FT_INVALID_HANDLE;
    // An unplugged adapter's handle is released too, but the close reports the loss.
    a->handle = 0;
    a->pending.clear();
    a->queue.clear();
    Log(*a, a->gone ? "closed (unplugged)" : "closed");
    return a->gone ? FT_IO_ERROR : FT_OK;
}

FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD bytesToRead, DWORD* bytesReturned) {
    if (bytesReturned == nullptr || (buffer == nullptr && bytesToRead > 0)) {
        return FT_INVALID_PARAMETER;
    }
    *bytesReturned = 0;
    Clock::time_point deadline{};
    for (bool first = true;; first = false) {
        Clock::duration wait{};
        {
            std::lock_guard lock(g_runtime.Mutex());
            Adapter* a = nullptr;
            if (const FT_STATUS s = Usable(handle, a); s != FT_OK) return s;
            const Clock::time_point now = Clock::now();
            if (first) deadline = now + std::chrono::milliseconds(a->readTimeoutMs);
            if (a->queue.size() >= bytesToRead || now >= deadline) {
                const std::size_t n = std::min<std::size_t>(a->queue.size(), bytesToRead);
                if (n > 0) std::memcpy(buffer, a->queue.data(), n);
                a->queue.erase(0, n);
                *bytesReturned = static_cast<DWORD>(n);
                if (n < bytesToRead) {
                    Log(*a, "read time-out after " + std::to_string(a->readTimeoutMs) +
                                " ms: " + std::to_string(n) + " of " + std::to_string(bytesToRead) +
                                " bytes");
                }
                return FT_OK;
            }
            wait = std::min<Clock::duration>(kReadStep, deadline - now);
        }
        std::this_thread::sleep_for(wait);
    }
}

FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD bytesToWrite, DWORD* bytesWritten) {
    if (bytesWritten == nullptr || (buffer == nullptr && bytesToWrite > 0)) {
        return FT_INVALID_PARAMETER;
    }
    std::lock_guard lock(g_runtime.Mutex());
    Adapter* a = nullptr;
    if (const FT_STATUS s = Usable(handle, a); s != FT_OK) return s;
    const std::string_view bytes(static_cast<const char*>(buffer), bytesToWrite);
    Log(*a, "write " + Escape(bytes));
    *bytesWritten = bytesToWrite;
    for (char ch : bytes) {
        if (ch != '\n') a->pending += ch;
    }
    for (std::size_t cr = a->pending.find('\r'); cr != std::string::npos && !a->gone;
         cr = a->pending.find('\r')) {
        const std::string command = a->pending.substr(0, cr);
        a->pending.erase(0, cr + 1);
        if (OnCommand(*a, command)) {
            // The rest of the write never reached the instrument.
            a->pending.clear();
            *bytesWritten = std::min(bytesToWrite, kShortWriteBytes);
            break;
        }
    }
    return FT_OK;
}

FT_STATUS FT_SetBaudRate(FT_HANDLE handle, ULONG baudRate) {
    std::lock_guard lock(g_runtime.Mutex());
    Adapter* a = nullptr;
    if (const FT_STATUS s = Usable(handle, a); s != FT_OK) return s;
    if (baudRate == 0) return FT_INVALID_PARAMETER;
    a->line.baud = baudRate;
    Log(*a, "baud rate " + std::to_string(baudRate));
    return FT_OK;
}

FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                    UCHAR parity) {
    std::lock_guard lock(g_runtime.Mutex());
    Adapter* a = nullptr;
    if (const FT_STATUS s = Usable(handle, a); s != FT_OK) return s;
    // What FTDI's chips can do: 7 or 8 bits, stop code 0 (1 bit) or 2 (2 bits),
    // parity none, odd, even, mark, space.
    if ((wordLength != FT_BITS_7 && wordLength != FT_BITS_8) ||
        (stopBits != FT_STOP_BITS_1 && stopBits != FT_STOP_BITS_2) || parity > 4) {
        Log(*a, "data characteristics " + std::to_string(wordLength) + "/" +
                    std::to_string(stopBits) + "/" + std::to_string(parity) + " refused");
        return FT_INVALID_PARAMETER;
    }
    a->line.bits = wordLength;
    a->line.stop = stopBits;
    a->line.parity = parity;
    Log(*a, "data " + std::to_string(wordLength) + " bits, stop code " + std::to_string(stopBits) +
                ", parity " + std::to_string(parity));
    return FT_OK;
}

FT_STATUS FT_SetDtr(FT_HANDLE handle) {
    std::lock_guard lock(g_runtime.Mutex());
    Adapter* a = nullptr;
    if (const FT_STATUS s = Usable(handle, a); s != FT_OK) return s;
    a->dtr = true;
    Log(*a, "DTR on");
    return FT_OK;
}

FT_STATUS FT_ClrDtr(FT_HANDLE handle) {
    std::lock_guard lock(g_runtime.Mutex());
    Adapter* a = nullptr;
    if (const FT_STATUS s = Usable(handle, a); s != FT_OK) return s;
    const bool pulse = a->dtr;
    a->dtr = false;
    Log(*a, "DTR off");
    // The 16EXu sends one reading at the falling edge of a DTR pulse.
    if (pulse && a->config.protocol == Protocol::Exu16 && LineMatches(*a, "DTR pulse")) {
        Measure(*a);
    }
    return FT_OK;
}

FT_STATUS FT_SetTimeouts(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout) {
    std::lock_guard lock(g_runtime.Mutex());
    Adapter* a = nullptr;
    if (const FT_STATUS s = Usable(handle, a); s != FT_OK) return s;
    a->readTimeoutMs = readTimeout;
    Log(*a, "time-outs: read " + std::to_string(readTimeout) + " ms, write " +
                std::to_string(writeTimeout) + " ms");
    return FT_OK;
}

FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    if (rxBytes == nullptr) return FT_INVALID_PARAMETER;
    std::lock_guard lock(g_runtime.Mutex());
    Adapter* a = nullptr;
    if (const FT_STATUS s = Usable(handle, a); s != FT_OK) return s;
    *rxBytes = static_cast<DWORD>(a->queue.size());
    return FT_OK;
}

FT_STATUS FT_GetDeviceInfo(FT_HANDLE handle, ULONG* device, DWORD* id, char* serialNumber,
                           char* description, void* /*dummy*/) {
    std::lock_guard lock(g_runtime.Mutex());
    Adapter* a = nullptr;
    if (const FT_STATUS s = Usable(handle, a); s != FT_OK) return s;
    if (device != nullptr) *device = kDeviceType232R;
    if (id != nullptr) *id = kDeviceId;
    CopyText(serialNumber, kSerialNumberBytes, a->config.serial);
    CopyText(description, kDescriptionBytes, a->config.description);
    return FT_OK;
}

int KarveloSimReload() {
    std::lock_guard lock(g_runtime.Mutex());
    LoadLocked();
    return static_cast<int>(g_library.adapters.size());
}
