#include "backends/serial/serial_backend.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

#include "backends/serial/readers/reader_support.h"
#include "backends/serial/zento_com.h"
#include "devices/catalogue.h"
#include "platform/numbers.h"
#include "platform/report.h"
#include "platform/text_encoding.h"
#include "platform/wait.h"

namespace karvelo::serial {
namespace {

using devices::DeviceType;
using devices::DeviceTypeOf;
using devices::RequestAction;
using devices::RequestOutcome;

constexpr int kPulseMs = 120;
constexpr std::chrono::seconds kReopenInterval{1};
constexpr int kBreakMs = 100;

bool HoldsComPort(int code) {
    return DeviceTypeOf(code).Has(devices::kHoldsComPort);
}

bool WriteText(SerialLine& port, std::string_view text) {
    return port.Write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// Some instruments must be told to start right after opening (ALMEMO's list
// output); they take the bytes one at a time.
void SendAfterOpen(SerialLine& port, std::string_view bytes) {
    for (char c : bytes) {
        const std::uint8_t one[1] = {static_cast<std::uint8_t>(c)};
        port.Write(one);
    }
}

}  // namespace

void ReportOnStandardError(const std::string& line) {
    platform::Report(line);
}

PortFactory TtyPortFactory(const RunState& run) {
    return [&run](const LineProfile& profile, int comNumber) -> std::unique_ptr<SerialLine> {
        auto port = std::make_unique<zento_com>();
        port->open(profile, ComDevicePath(comNumber, run.MainConfigFile.str()));
        return port;
    };
}

SerialBackend::SerialBackend(RunState& run, PortFactory openPort, ProblemReport report,
                             SteadyNow now)
    : run_(run), openPort_(std::move(openPort)), report_(std::move(report)), now_(std::move(now)) {}

void SerialBackend::OpenAll(WindowPort& window) {
    const int count = run_.DeviceCount;
    const int last = count < kMaxSlots ? count : kMaxSlots;
    for (int s = 1; s <= kMaxSlots; ++s) run_.PortProblem[s].Clear();
    for (int s = 1; s <= last; ++s) {
        ports_.SlotPort[s] = nullptr;
        published_[s] = PortProblem::None;
        const int code = run_.DeviceType[s];
        const int com = run_.Port[s];
        if (!HoldsComPort(code) || com == 0) continue;

        // Only slots that use a COM port can hold one: a stale port number in a
        // text or USB slot is no conflict.
        bool conflict = false;
        for (int j = 1; j < s; ++j) {
            if (run_.DeviceType[j] != code && run_.Port[j] == com &&
                HoldsComPort(run_.DeviceType[j])) {
                window.MessageBox(L"ERROR",
                                  L"Serial COM" + platform::FormatInt(com) +
                                      L" is used for more than one device!",
                                  MessageIcon::None);
                conflict = true;
                break;
            }
        }

        int shareWith = 0;
        for (int k = 1; k < s; ++k) {
            if (run_.DeviceType[k] == code && run_.Port[k] == com) {
                shareWith = k;
                break;
            }
        }
        if (shareWith != 0) {
            ports_.SlotPort[s] = ports_.SlotPort[shareWith];
            continue;
        }
        const DeviceType& type = DeviceTypeOf(code);
        if (conflict || !type.serial.line.valid()) continue;

        std::unique_ptr<SerialLine> port = openPort_(type.serial.line, com);
        if (!port) continue;
        if (port->Problem() == PortProblem::None) SendAfterOpen(*port, type.serial.afterOpen);
        lastAttempt_[s] = now_();
        ports_.SlotPort[s] = port.get();
        ports_.OwnedPort[s] = std::move(port);
    }
    for (int s = 1; s <= last; ++s) {
        if (ports_.OwnedPort[s]) Publish(s);
    }
}

void SerialBackend::CloseAll() {
    for (SerialLine*& p : ports_.SlotPort) p = nullptr;
    // Destroying the owner closes the port; each port has exactly one owner.
    for (auto& owned : ports_.OwnedPort) owned.reset();
    for (int s = 1; s <= kMaxSlots; ++s) run_.PortProblem[s].Clear();
}

int SerialBackend::OwnerOf(const SerialLine* port) const {
    for (int k = 1; k <= kMaxSlots; ++k) {
        if (ports_.OwnedPort[k].get() == port) return k;
    }
    return 0;
}

void SerialBackend::Publish(int owner) {
    SerialLine* port = ports_.OwnedPort[owner].get();
    if (port == nullptr) return;
    const PortProblem problem = port->Problem();
    if (problem == published_[owner]) return;
    const PortProblem before = published_[owner];
    published_[owner] = problem;

    const int com = run_.Port[owner];
    const std::string path = ComDevicePath(com, run_.MainConfigFile.str());
    std::string where = "COM" + std::to_string(com);
    if (!path.empty()) where += " (" + path + ")";
    const std::string_view reason = PortProblemText(problem);
    const std::wstring text = problem == PortProblem::None
                                  ? std::wstring()
                                  : platform::Utf8ToWide(where + ": " + std::string(reason));
    for (int s = 1; s <= kMaxSlots; ++s) {
        if (ports_.SlotPort[s] == port) run_.PortProblem[s] = text;
    }
    if (!report_) return;
    if (problem != PortProblem::None) {
        report_(where + ": " + std::string(reason));
    } else if (before != PortProblem::None) {
        report_(where + ": open again");
    }
}

SerialLine* SerialBackend::UsablePort(int s, const DeviceType& type) {
    SerialLine* port = ports_.PortOf(s);
    if (port == nullptr) return nullptr;
    const int owner = OwnerOf(port);
    if (port->Problem() != PortProblem::None && owner != 0) {
        const auto now = now_();
        if (now - lastAttempt_[owner] >= kReopenInterval) {
            lastAttempt_[owner] = now;
            if (port->Reopen()) SendAfterOpen(*port, type.serial.afterOpen);
        }
    }
    if (owner != 0) Publish(owner);
    return port->Problem() == PortProblem::None ? port : nullptr;
}

RequestOutcome SerialBackend::Request(int s, const DeviceType& type) {
    SerialLine* port = UsablePort(s, type);
    if (port == nullptr) return RequestOutcome::DeviceMissing;
    port->Purge();
    switch (type.request.action) {
        case RequestAction::Write:
            WriteText(*port, type.request.bytes);
            break;
        case RequestAction::DtrPulse:
            port->SetDtr(false);
            platform::PumpWait(kPulseMs);
            port->SetDtr(true);
            break;
        case RequestAction::Break:
            port->SetBreak(true);
            platform::PumpWait(kBreakMs);
            port->SetBreak(false);
            break;
        case RequestAction::IbritChannel: {
            const int channel = run_.Channel[s];
            if (channel < 1 || channel > 5) return RequestOutcome::DeviceMissing;
            const char command[] = {'D', 'A', 'S', static_cast<char>('0' + channel), '\r'};
            WriteText(*port, std::string_view(command, sizeof command));
            break;
        }
        case RequestAction::Pu26Channel: {
            static constexpr std::array<std::string_view, 3> kByChannel = {"?\r", "1\r", "2\r"};
            const int channel = run_.Channel[s];
            if (channel >= 0 && channel <= 2)
                WriteText(*port, kByChannel[static_cast<std::size_t>(channel)]);
            break;
        }
        default:
            break;
    }
    return RequestOutcome::Sent;
}

devices::ReaderResult SerialBackend::Read(int s, bool requested, const DeviceType& type) {
    if (type.serial.reader == nullptr) return devices::kNotOpen;
    const ReadContext context{run_, ports_, type};
    // Without a port at all the reader says what that means for its type.
    if (ports_.PortOf(s) == nullptr) return type.serial.reader(context, s, requested);
    SerialLine* port = UsablePort(s, type);
    if (port == nullptr) return devices::kNotOpen;
    const devices::ReaderResult result = type.serial.reader(context, s, requested);
    // The line may have gone during the read.
    if (port->Problem() != PortProblem::None) Publish(OwnerOf(port));
    return result;
}

}  // namespace karvelo::serial
