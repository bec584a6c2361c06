#include "devices/device_open.h"

#include <cstdint>

#include "app/run_state.h"
#include "app/window_port.h"
#include "devices/catalogue.h"
#include "devices/device_handles.h"
#include "devices/zento_com.h"
#include "platform/numbers.h"

namespace karvelo::devices {
namespace {

// The free code that the serial open still accepts: it gets no profile and
// so never a port.
constexpr int kSerialFreeCode = 7;
constexpr int kAlmemoType = 9;

std::unique_ptr<SerialLine> OpenRealPort(int profile, int comNumber) {
    auto port = std::make_unique<zento_com>();
    if (!port->open(profile, comNumber)) return nullptr;
    return port;
}

PortOpener g_opener = nullptr;

std::unique_ptr<SerialLine> OpenPort(int profile, int comNumber) {
    return (g_opener ? g_opener : OpenRealPort)(profile, comNumber);
}

bool OpensAsSerial(int type) { return IsSerialType(type) || type == kSerialFreeCode; }

// ALMEMO instruments are switched to their list output right after opening.
void StartAlmemo(SerialLine& port) {
    for (std::uint8_t b : {std::uint8_t{'N'}, std::uint8_t{'0'}, std::uint8_t{'\n'}, std::uint8_t{'\r'}}) {
        const std::uint8_t one[1] = {b};
        port.Write(one);
    }
}

}  // namespace

void SetPortOpener(PortOpener opener) { g_opener = opener; }

void OpenSerialDevices(app::WindowPort& window) {
    const int count = g_run.DeviceCount;
    const int last = count < kMaxSlots ? count : kMaxSlots;
    for (int s = 1; s <= last; ++s) {
        g_devices.SlotPort[s] = nullptr;
        const int type = g_run.DeviceType[s];
        const int com = g_run.Port[s];
        if (!OpensAsSerial(type) || com == 0) continue;

        // Only slots that use a COM port can hold one: a stale port number in a
        // text or USB slot is no conflict.
        bool conflict = false;
        for (int j = 1; j < s; ++j) {
            if (g_run.DeviceType[j] != type && g_run.Port[j] == com && OpensAsSerial(g_run.DeviceType[j])) {
                window.MessageBox(L"ERROR",
                                  L"Serial COM" + platform::FormatInt(com) + L" is used for more than one device!",
                                  app::MessageIcon::None);
                conflict = true;
                break;
            }
        }

        int shareWith = 0;
        for (int k = 1; k < s; ++k) {
            if (g_run.DeviceType[k] == type && g_run.Port[k] == com) {
                shareWith = k;
                break;
            }
        }
        if (shareWith != 0) {
            g_devices.SlotPort[s] = g_devices.SlotPort[shareWith];
            continue;
        }
        if (conflict || type == kSerialFreeCode) continue;

        std::unique_ptr<SerialLine> port = OpenPort(DeviceLineProfile(type), com);
        if (!port) continue;
        if (type == kAlmemoType) StartAlmemo(*port);
        g_devices.SlotPort[s] = port.get();
        g_devices.OwnedPort[s] = std::move(port);
    }
}

void OpenAllDevices(app::WindowPort& window) {
    OpenSerialDevices(window);
    // The FTDI adapters, the counter card, the Orbit network, the Marposs box
    // and the measuring bus are opened here by their back-ends, in that order,
    // once this build has them; until then their slots report their
    // missing-device words.
}

void CloseAllDevices() {
    for (int s = 1; s <= kMaxSlots; ++s) {
        SerialLine* port = g_devices.SlotPort[s];
        if (port == nullptr) continue;
        for (int later = s; later <= kMaxSlots; ++later) {
            if (g_devices.SlotPort[later] == port) g_devices.SlotPort[later] = nullptr;
        }
    }
    // Destroying the owner closes the port; each port has exactly one owner.
    for (int s = 0; s <= kMaxSlots; ++s) g_devices.OwnedPort[s].reset();
}

}  // namespace karvelo::devices
