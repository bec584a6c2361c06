#pragma once
// Control and timer identifiers of the main window.

namespace karvelo::app {

enum ControlId : int {
    kSendButton = 1,           // "SEND / EXPORT", the default button
    kFinishButton = 2,         // "FINISH / EXIT"
    kExcelOpenButton = 1000,
    kExcelCloseButton = 1001,
    kFileNameField = 1002,
    kSetRadioFirst = 1003,     // "0." .. "4." are 1003..1007, "5. configuration" 1008
    kSetRadioLast = 1008,
    kSlotConfigFirst = 1010,   // ">>" of slot s is 1009 + s
    kSlotTextFirst = 1021,     // text field of slot s is 1020 + s
    kIdField = 1031,
    kExportTargetButton = 1040,
    kMoreSlotsButton = 1041,   // "++"
    kIdConfigButton = 1042,
    kFewerSlotsButton = 1043,  // "--"
    kExportTypeList = 1086,
    kLogoPlaceholder = 1201,
};

}  // namespace karvelo::app
