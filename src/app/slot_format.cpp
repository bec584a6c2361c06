#include "app/slot_format.h"

#include "devices/catalogue.h"
#include "platform/numbers.h"
#include "state/run_state.h"

namespace karvelo::app {

void FormatSlotValue(int s) {
    if (devices::IsTextType(g_run.DeviceType[s])) return;
    int decimals = g_run.Decimals[s];
    if (decimals < 0 || decimals > 7) decimals = 8;
    g_run.TextLast[s] = platform::FormatFixed(g_run.Value[s], decimals);
}

}  // namespace karvelo::app
