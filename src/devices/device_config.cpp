#include "devices/device_config.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cwctype>

#include "devices/catalogue.h"
#include "platform/numbers.h"

namespace karvelo::devices {
namespace {

using platform::FormatInt;
using platform::ParseDouble;
using platform::ParseInt;

constexpr int kStepControls[] = {kDevSerialField,    kDevPortList,      kDevChannelList,
                                 kDevParameterList,  kDevRequestList,   kDevBusSetupButton,
                                 kDevTextSourceList, kDevTextFileField, kDevBrowseButton,
                                 kDevDecimalsField,  kDevFactorField,   kDevOffsetField};

// The dialog's control of each form bit.
constexpr std::pair<FormControl, int> kFormControls[] = {
    {kFormSerial, kDevSerialField},        {kFormPort, kDevPortList},
    {kFormChannel, kDevChannelList},       {kFormParameter, kDevParameterList},
    {kFormRequest, kDevRequestList},       {kFormBusSetup, kDevBusSetupButton},
    {kFormTextSource, kDevTextSourceList}, {kFormValue, kDevDecimalsField},
    {kFormValue, kDevFactorField},         {kFormValue, kDevOffsetField},
};

constexpr std::array<std::string_view, kSendModeCount> kSendModes = {
    "autom.", "F-Key", "F-Key/Print", "Timer(s)", "Timer(min)"};
constexpr std::array<std::string_view, kTextSourceCount> kTextSources = {
    "Keyboard", "CSV_1", "CSV_2", "CSV_3", "CSV_4", "CSV_5", "CSV_6", "CSV_7", "CSV_8", "CSV_9"};

constexpr double kMinSendTime = 0.1;
constexpr double kMaxSendTime = 3600.0;
constexpr int kMaxDecimals = 8;
constexpr int kTimerSecondsMode = 3;
constexpr int kTimerMinutesMode = 4;

std::wstring Cut(std::wstring text, std::size_t chars) {
    if (text.size() > chars) text.resize(chars);
    return text;
}

bool EqualIgnoringCase(std::wstring_view a, std::wstring_view b) {
    return std::ranges::equal(a, b, [](wchar_t x, wchar_t y) {
        return std::towlower(static_cast<wint_t>(x)) == std::towlower(static_cast<wint_t>(y));
    });
}

std::wstring IndexText(int index) {
    return FormatInt(index < 0 ? -1 : index);
}

}  // namespace

std::span<const int> TypeStepControls() {
    return kStepControls;
}

TypeForm FormForType(int code) {
    // Codes outside the table and no selection (-1) show nothing.
    if (code < kFirstDeviceType || code > kLastDeviceType) return {};
    const DialogForm& form = DeviceTypeOf(code).form;
    TypeForm out{{}, form.ports, form.serial, form.channelForced};
    for (const auto& [bit, control] : kFormControls) {
        if ((form.shown & bit) != 0) out.shown.push_back(control);
    }
    return out;
}

bool ShowsTextFile(const TypeForm& form, int textSource) {
    return std::ranges::find(form.shown, kDevTextSourceList) != form.shown.end() && textSource > 0;
}

std::string_view SendModeEntryName(int index) {
    return index >= 0 && index < kSendModeCount ? kSendModes[static_cast<std::size_t>(index)]
                                                : std::string_view{};
}

std::string_view TextSourceEntryName(int index) {
    return index >= 0 && index < kTextSourceCount ? kTextSources[static_cast<std::size_t>(index)]
                                                  : std::string_view{};
}

std::vector<std::wstring> SerialListEntries(const std::vector<std::wstring>& found) {
    std::vector<std::wstring> entries(kSerialListEntries);
    const std::size_t n = std::min<std::size_t>(found.size(), kSerialListEntries);
    for (std::size_t i = 0; i < n; ++i) entries[i] = Cut(found[i], kListEntryChars);
    return entries;
}

int SerialListSelection(const std::vector<std::wstring>& entries, std::wstring_view remembered) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (EqualIgnoringCase(entries[i], remembered)) return static_cast<int>(i);
    }
    return 0;
}

std::wstring ComEntryText(int comNumber) {
    return L"com" + FormatInt(comNumber);
}

double ClampSendTime(double seconds) {
    // A text that is no number at all reads as 0 and so becomes the minimum;
    // so does "nan", which no comparison would catch.
    if (std::isnan(seconds)) return kMinSendTime;
    return std::clamp(seconds, kMinSendTime, kMaxSendTime);
}

std::wstring SendTimeText(double seconds) {
    return platform::FormatFixed(seconds, 1);
}

std::wstring ConfirmSendTime(std::wstring_view typed) {
    return SendTimeText(ClampSendTime(ParseDouble(typed)));
}

bool ShowsSendTime(int sendMode) {
    return sendMode == kTimerSecondsMode || sendMode == kTimerMinutesMode;
}

OpenedSlot OpenSlotSection(const platform::ProfileDocument& doc, int slot) {
    const SlotKeyTexts texts = ReadSlotKeyTexts(doc, slot);
    const auto text = [&](SlotKey key) { return texts[static_cast<std::size_t>(key)]; };
    const std::wstring section = SettingsSection(slot);
    // The dialog has its own defaults for these two: no type selected, COM 4.
    const auto own = [&](SlotKey key, std::wstring_view fallback) {
        return ParseInt(doc.ReadString(section, SlotKeyName(key), fallback));
    };

    OpenedSlot o;
    o.type = own(SlotKey::Type, L"-1");
    o.port = own(SlotKey::Port, L"4");
    o.serial = text(SlotKey::SerialNo);
    o.channel = ParseInt(text(SlotKey::Channel));
    o.parameter = ParseInt(text(SlotKey::Parameter));
    o.sendMode = ParseInt(text(SlotKey::SendMode));
    o.textSource = ParseInt(text(SlotKey::TextSource));
    o.textFile = Cut(text(SlotKey::TextFile), kTextFileChars);
    o.sendTime = ConfirmSendTime(text(SlotKey::SendTime));
    o.decimals = FormatInt(std::clamp(ParseInt(text(SlotKey::Format)), 0, kMaxDecimals));
    o.factor = text(SlotKey::Factor);
    o.offset = text(SlotKey::Offset);
    o.title = text(SlotKey::Title);
    return o;
}

SlotKeyTexts OkKeyTexts(const DialogValues& v) {
    SlotKeyTexts t;
    const auto set = [&](SlotKey key, std::wstring value) {
        t[static_cast<std::size_t>(key)] = std::move(value);
    };
    set(SlotKey::Type, IndexText(v.type));
    set(SlotKey::TypeText, v.type < 0 ? L"-1" : v.typeText);
    set(SlotKey::Port, IndexText(v.port));
    set(SlotKey::PortText, v.port < 0 ? L"-1" : v.portText);
    set(SlotKey::SerialNo, Cut(v.serial, kFieldChars));
    set(SlotKey::Channel, IndexText(v.channel));
    set(SlotKey::Parameter, IndexText(v.parameter));
    set(SlotKey::TextSource, IndexText(v.textSource));
    set(SlotKey::TextPath, v.textPath);
    set(SlotKey::TextFile, Cut(v.textFile, kTextFileChars));
    set(SlotKey::SendMode, IndexText(v.sendMode));
    set(SlotKey::SendTime, Cut(v.sendTime, kFieldChars));
    set(SlotKey::Format, Cut(v.format, kFieldChars));
    set(SlotKey::Factor, Cut(v.factor, kFieldChars));
    set(SlotKey::Offset, Cut(v.offset, kFieldChars));
    set(SlotKey::Title, Cut(v.title, kFieldChars));
    return t;
}

void WriteRequestChoice(platform::ProfileDocument& doc, int slot, int sendMode,
                        std::wstring_view confirmedSendTime) {
    const std::wstring section = SettingsSection(slot);
    doc.Set(section, SlotKeyName(SlotKey::SendMode), FormatInt(sendMode));
    doc.Set(section, SlotKeyName(SlotKey::SendTime), confirmedSendTime);
}

}  // namespace karvelo::devices
