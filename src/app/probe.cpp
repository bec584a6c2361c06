#include "app/probe.h"

#include "app/run_state.h"
#include "app/slot_format.h"
#include "app/state_report.h"
#include "devices/device_open.h"
#include "devices/read_dispatch.h"
#include "devices/requests.h"

namespace karvelo::app {

ProbeOutcome ProbeSlot(int s, WindowPort& window) {
    devices::OpenAllDevices(window);
    for (int d = 0; d <= kMaxSlots; ++d) g_run.SlotState[d] = 0;

    ProbeOutcome out;
    if (g_run.DeviceType[s] > 0) {
        devices::RequestMeasurement(s);
        g_run.SlotState[s] = 1;
    }
    out.result = devices::ReadDispatch(s, true);

    out.report = "Slot" + std::to_string(s) + ".Result=" + std::to_string(out.result) + "\n";
    FormatSlotValue(s);
    out.report += SlotResultReport(s);
    // A reader may fill the other slots served by the same reply.
    for (int d = 1; d <= kMaxSlots; ++d) {
        if (d == s || g_run.SlotState[d] != 2) continue;
        FormatSlotValue(d);
        out.report += SlotResultReport(d);
    }
    devices::CloseAllDevices();
    return out;
}

}  // namespace karvelo::app
