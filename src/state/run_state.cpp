#include "state/run_state.h"

#include "state/marposs_handover.h"

#include <memory>

namespace karvelo {

constinit RunState g_run;
MarpossHandover g_marposs;

void ResetRunState() {
    std::destroy_at(&g_run);
    std::construct_at(&g_run);
}

void ClearRunTimeFields() {
    RunState& rs = g_run;
    rs.RecordNumber = 0;
    rs.ExcelConnected = false;
    rs.ConfigPauseRequest = false;
    rs.ExportPauseRequest = false;
    rs.ClosePauseRequest = false;
    rs.KeyTrigger = TriggerStage::Idle;
    rs.SendTrigger = TriggerStage::Idle;
    rs.TimerTrigger = TriggerStage::Idle;
    rs.ExportType = ExportKind::None;
    for (int s = 0; s <= kMaxSlots; ++s) {
        rs.SlotState[s] = SlotStage::Idle;
        rs.ValueReady[s] = false;
        rs.Value[s] = 0.0;
        rs.StatusText[s].Clear();
        rs.DeviceSummary[s].Clear();
        rs.TextLast[s].Clear();
    }
}

}  // namespace karvelo
