#pragma once
// What the device configuration dialog (DEVICECFG) decides, without a window:
// which controls each device type shows and how its port and serial lists are
// filled, the values the dialog opens with (defaults and clamps), the writes
// it makes at once, and the keys OK writes. The Qt dialog only shows and
// collects; everything here is tested without a display.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "devices/dialog_form.h"
#include "platform/profile.h"
#include "state/slot_settings.h"

namespace karvelo::devices {

// Control identifiers of the dialog.
enum DeviceConfigControl : int {
    kDevOk = 1,
    kDevBrowseButton = 1009,
    kDevTypeList = 1126,
    kDevRequestList = 1128,
    kDevPortList = 1130,
    kDevChannelList = 1133,
    kDevSendTimeField = 1134,
    kDevDecimalsField = 1135,
    kDevSerialField = 1136,
    kDevFactorField = 1137,
    kDevOffsetField = 1138,
    kDevParameterList = 1142,
    kDevTitleField = 1143,
    kDevLogo = 1201,
    kDevBusSetupButton = 1202,
    kDevTextSourceList = 1310,
    kDevTextFileField = 1311,
};

// The type step's outcome for one type code (-1: no type selected).
struct TypeForm {
    std::vector<int> shown;  // controls shown, out of TypeStepControls()
    PortFill ports = PortFill::Empty;
    SerialFill serial = SerialFill::Cleared;
    bool channelForced = false;  // the channel list selects "1" whatever `ch` held
};

// The controls the type step hides before it shows those of the new type.
std::span<const int> TypeStepControls();

TypeForm FormForType(int code);

// A type's form shows the text file and ">>" only for a file source.
bool ShowsTextFile(const TypeForm& form, int textSource);

// The texts of the dialog's lists.
inline constexpr int kSendModeCount = 5;
std::string_view SendModeEntryName(int index);
inline constexpr int kTextSourceCount = 10;
std::string_view TextSourceEntryName(int index);

// The serial list has this many entries, each of at most kListEntryChars.
inline constexpr int kSerialListEntries = 20;
inline constexpr std::size_t kListEntryChars = 19;
// Found serial numbers or axis numbers padded with empty entries to the
// list's size; longer texts are cut.
std::vector<std::wstring> SerialListEntries(const std::vector<std::wstring>& found);
// The first entry equal to the remembered text, ignoring case; 0 when none is.
int SerialListSelection(const std::vector<std::wstring>& entries, std::wstring_view remembered);

// The port list: entry 0 is "-", entry n stands for COM n.
inline constexpr int kComPortCount = 98;
std::wstring ComEntryText(int comNumber);  // "com<n>"

// The send time: clamped to 0.1..3600 and shown with one decimal.
double ClampSendTime(double seconds);
std::wstring SendTimeText(double seconds);
// A typed send time confirmed by a change of the request: parsed, clamped and
// formatted.
std::wstring ConfirmSendTime(std::wstring_view typed);
// The send time field is shown for "Timer(s)" and "Timer(min)".
bool ShowsSendTime(int sendMode);

// The section as the dialog opens it.
struct OpenedSlot {
    int type = -1;  // an index outside the type list selects nothing
    int port = 4;   // the remembered port index
    std::wstring serial;
    int channel = 1;
    int parameter = 0;
    int sendMode = 0;
    int textSource = 0;
    std::wstring textFile;
    std::wstring sendTime;  // clamped and formatted
    std::wstring decimals;  // clamped to 0..8
    std::wstring factor;
    std::wstring offset;
    std::wstring title;
};
OpenedSlot OpenSlotSection(const platform::ProfileDocument& doc, int slot);

// What the dialog holds when OK is pressed. Indexes are -1 for a list
// without selection.
struct DialogValues {
    int type = -1;
    std::wstring typeText;
    int port = -1;
    std::wstring portText;
    std::wstring serial;
    int channel = -1;
    int parameter = -1;
    int textSource = -1;
    std::wstring textPath;
    std::wstring textFile;
    int sendMode = -1;
    std::wstring sendTime;
    std::wstring format;
    std::wstring factor;
    std::wstring offset;
    std::wstring title;
};

// The texts OK writes, in key order: a list without selection writes "-1" as
// its index and as its text; edit fields are cut to 49 characters, the text
// file to 255.
SlotKeyTexts OkKeyTexts(const DialogValues& values);
inline constexpr std::size_t kFieldChars = 49;
inline constexpr std::size_t kTextFileChars = 255;

// The request list's immediate write: `sendmode`, then the confirmed send time
// as `sendtime`.
void WriteRequestChoice(platform::ProfileDocument& doc, int slot, int sendMode,
                        std::wstring_view confirmedSendTime);

}  // namespace karvelo::devices
