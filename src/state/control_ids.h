#pragma once
// Control and timer identifiers of the main window. They belong to the window
// interface: the core names the controls it reads and writes, and the timers
// that carry its work onto the user-interface thread.

namespace karvelo {

enum ControlId : int {
    kSendButton = 1,    // "SEND / EXPORT", the default button
    kFinishButton = 2,  // "FINISH / EXIT"
    kExcelOpenButton = 1000,
    kExcelCloseButton = 1001,
    kFileNameField = 1002,
    kSetRadioFirst = 1003,  // "0." .. "4." are 1003..1007, "5. configuration" 1008
    kSetRadioLast = 1008,
    kSlotConfigFirst = 1010,  // ">>" of slot s is 1009 + s
    kSlotTextFirst = 1021,    // text field of slot s is 1020 + s
    kIdField = 1031,
    kExportTargetButton = 1040,
    kMoreSlotsButton = 1041,  // "++"
    kIdConfigButton = 1042,
    kFewerSlotsButton = 1043,  // "--"
    kExportTypeList = 1086,
    kLogoPlaceholder = 1201,
};

enum TimerId : int {
    kExportTimer = 1,    // started by the acquisition thread at a workbook record's hand-over
    kSendTimer = 3,      // "Timer(s)" trigger, restarted after every triggered cycle
    kIdTimer = 4,        // asks for an ID read, never stopped
    kMarpossTimer = 8,   // reads the Marposs box on behalf of the acquisition thread
    kTextSaveTimer = 9,  // writes record texts that came less than a second after the last
};

}  // namespace karvelo
