#include "state/slot_settings.h"

#include "platform/numbers.h"

namespace karvelo {
namespace {

using platform::FormatInt;
using platform::ParseDouble;
using platform::ParseInt;
using platform::ProfileDocument;

struct KeyInfo {
    std::wstring_view name;
    std::wstring_view defaultValue;
};

// Indexed by SlotKey.
constexpr std::array<KeyInfo, kSlotKeyCount> kKeys = {{
    {L"typ", L"0"},
    {L"typ_txt", L""},
    {L"port", L"0"},
    {L"port_txt", L""},
    {L"sn", L""},
    {L"ch", L"1"},
    {L"parameter", L"0"},
    {L"textsource", L"0"},
    {L"textpath", L""},
    {L"textfile", L""},
    {L"sendmode", L"0"},
    {L"sendtime", L"60"},
    {L"format", L""},
    {L"factor", L"1.0"},
    {L"offset", L"0.0"},
    {L"title", L""},
    {L"textlast", L""},
}};

const KeyInfo& Info(SlotKey key) {
    return kKeys[static_cast<std::size_t>(key)];
}

// Titles are read with a 49-character buffer: at most 48 characters reach the field.
constexpr std::size_t kTitleChars = 48;

// The file also knows "Timer(min)"; the record holds it as seconds.
constexpr int kTimerMinutesCode = 4;

std::wstring Read(const ProfileDocument& doc, const std::wstring& section, SlotKey key) {
    return doc.ReadString(section, Info(key).name, Info(key).defaultValue);
}

}  // namespace

std::wstring_view SlotKeyName(SlotKey key) {
    return Info(key).name;
}

std::wstring SettingsSection(int entry) {
    return entry == kIdEntry ? std::wstring(L"IDNR") : L"DEVICE" + FormatInt(entry);
}

void LoadSlotSettings(RunState& run, const ProfileDocument& doc, int s) {
    const std::wstring section = SettingsSection(s);
    const auto text = [&](SlotKey key) { return Read(doc, section, key); };
    run.DeviceType[s] = ParseInt(text(SlotKey::Type));
    run.TypeText[s] = text(SlotKey::TypeText);
    run.Port[s] = ParseInt(text(SlotKey::Port));
    run.PortText[s] = text(SlotKey::PortText);
    run.SerialNo[s] = text(SlotKey::SerialNo);
    run.Channel[s] = ParseInt(text(SlotKey::Channel));
    run.Parameter[s] = ParseInt(text(SlotKey::Parameter));
    LoadTextSource(run, doc, s, /*withLast*/ true);

    const int mode = ParseInt(text(SlotKey::SendMode));
    double sendTime = ParseDouble(text(SlotKey::SendTime));
    if (mode == kTimerMinutesCode) {
        run.SendMode[s] = SendModeKind::Timer;
        sendTime *= 60.0;
    } else {
        run.SendMode[s] = static_cast<SendModeKind>(mode);
    }
    run.SendTime[s] = sendTime;

    run.Decimals[s] = ParseInt(text(SlotKey::Format));
    run.Factor[s] = ParseDouble(text(SlotKey::Factor));
    run.Offset[s] = ParseDouble(text(SlotKey::Offset));
    const std::wstring title = text(SlotKey::Title);
    run.Title[s] = std::wstring_view(title).substr(0, kTitleChars);
}

SlotKeyTexts ReadSlotKeyTexts(const ProfileDocument& doc, int s) {
    SlotKeyTexts texts;
    const std::wstring section = SettingsSection(s);
    for (int k = 0; k < kSlotKeyCount; ++k) {
        texts[static_cast<std::size_t>(k)] = Read(doc, section, static_cast<SlotKey>(k));
    }
    return texts;
}

void WriteSlotKeyTexts(ProfileDocument& doc, int s, const SlotKeyTexts& texts) {
    const std::wstring section = SettingsSection(s);
    for (int k = 0; k < kSlotKeyCount; ++k) {
        const auto key = static_cast<SlotKey>(k);
        if (key == SlotKey::TextLast) continue;
        doc.Set(section, SlotKeyName(key), texts[static_cast<std::size_t>(k)]);
    }
}

void LoadTextSource(RunState& run, const ProfileDocument& doc, int entry, bool withLast) {
    const std::wstring section = SettingsSection(entry);
    run.TextSource[entry] = ParseInt(Read(doc, section, SlotKey::TextSource));
    run.TextPath[entry] = Read(doc, section, SlotKey::TextPath);
    run.TextFile[entry] = Read(doc, section, SlotKey::TextFile);
    if (withLast) run.TextLast[entry] = Read(doc, section, SlotKey::TextLast);
}

void WriteTextSource(ProfileDocument& doc, int entry, int source, std::wstring_view path,
                     std::wstring_view file) {
    const std::wstring section = SettingsSection(entry);
    doc.Set(section, SlotKeyName(SlotKey::TextSource), FormatInt(source));
    doc.Set(section, SlotKeyName(SlotKey::TextPath), path);
    doc.Set(section, SlotKeyName(SlotKey::TextFile), file);
}

void WriteTextSourceChoice(ProfileDocument& doc, int entry, int source) {
    doc.Set(SettingsSection(entry), SlotKeyName(SlotKey::TextSource), FormatInt(source));
}

void WriteTextLast(ProfileDocument& doc, int entry, std::wstring_view text) {
    doc.Set(SettingsSection(entry), SlotKeyName(SlotKey::TextLast), text);
}

}  // namespace karvelo
