#pragma once
// The one place that names the keys of a slot's section ("DEVICE1" ..
// "DEVICE10") and of the ID's text source (section "IDNR"), with their
// defaults and how they reach the run-time record. The configuration load, the
// ID dialog and the device configuration dialog all go through here.

#include <array>
#include <string>
#include <string_view>

#include "platform/profile.h"
#include "state/run_state.h"

namespace karvelo {

// The keys of a slot's section, in the order the device configuration writes
// them on OK.
enum class SlotKey : int {
    Type,        // typ
    TypeText,    // typ_txt
    Port,        // port
    PortText,    // port_txt
    SerialNo,    // sn
    Channel,     // ch
    Parameter,   // parameter
    TextSource,  // textsource
    TextPath,    // textpath
    TextFile,    // textfile
    SendMode,    // sendmode
    SendTime,    // sendtime
    Format,      // format
    Factor,      // factor
    Offset,      // offset
    Title,       // title
    TextLast,    // textlast: written by the station, never by the dialog's OK
};
inline constexpr int kSlotKeyCount = static_cast<int>(SlotKey::TextLast) + 1;

// The key's name in the file.
std::wstring_view SlotKeyName(SlotKey key);

// The section of an entry: "IDNR" for the ID (entry 0), "DEVICE<s>" for slot s.
std::wstring SettingsSection(int entry);

// Loads every key of slot s (1..10) into the record, as the station uses them:
// numbers parsed, a "Timer(min)" send time in seconds, the title cut to its
// field.
void LoadSlotSettings(RunState& run, const platform::ProfileDocument& doc, int slot);

// The texts of a slot's keys as the file holds them (defaults for missing
// keys), indexed by SlotKey.
using SlotKeyTexts = std::array<std::wstring, kSlotKeyCount>;
SlotKeyTexts ReadSlotKeyTexts(const platform::ProfileDocument& doc, int slot);
// Writes every key but `textlast`, in SlotKey order.
void WriteSlotKeyTexts(platform::ProfileDocument& doc, int slot, const SlotKeyTexts& texts);

// The text source of an entry (0: the ID, 1..10: a text slot): `textsource`,
// `textpath`, `textfile` and, with `withLast`, `textlast`.
void LoadTextSource(RunState& run, const platform::ProfileDocument& doc, int entry, bool withLast);
// Writes `textsource`, `textpath` and `textfile` of the entry.
void WriteTextSource(platform::ProfileDocument& doc, int entry, int source, std::wstring_view path,
                     std::wstring_view file);
// Writes only the entry's `textsource` (the list writes its choice at once).
void WriteTextSourceChoice(platform::ProfileDocument& doc, int entry, int source);
// Writes the entry's `textlast`.
void WriteTextLast(platform::ProfileDocument& doc, int entry, std::wstring_view text);

}  // namespace karvelo
