#include "export/record.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <vector>

#include "devices/catalogue.h"
#include "export/csv_export.h"
#include "export/export_types.h"
#include "platform/numbers.h"
#include "platform/report.h"
#include "platform/text_encoding.h"

namespace karvelo::exports {
namespace {

using platform::FormatInt;

std::atomic<LocalClock> g_clock{nullptr};

// "%02d".
std::wstring TwoDigits(int v) {
    std::wstring text = FormatInt(v);
    if (v >= 0 && v < 10) text.insert(text.begin(), L'0');
    return text;
}

SlotKind KindOf(int code) {
    if (devices::IsTextType(code)) return SlotKind::Text;
    if (devices::IsInstrumentCode(code)) return SlotKind::Instrument;
    return SlotKind::None;
}

std::string Utf8(const std::wstring& text) {
    return platform::WideToUtf8(text);
}

// ---- the one-line encoding -------------------------------------------------

constexpr std::string_view kEncodingMark = "r1";
constexpr char kSeparator = '\t';

void Put(std::string& out, std::string_view text) {
    out.push_back(kSeparator);
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out.push_back(c);
        }
    }
}

void PutWide(std::string& out, const std::wstring& text) {
    Put(out, Utf8(text));
}

void PutInt(std::string& out, long long v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    Put(out, std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
}

void PutReal(std::string& out, const std::optional<double>& v) {
    if (!v) {
        Put(out, "");
        return;
    }
    char buf[40];
    // Shortest text that reads back as the same double, whatever the locale.
    const auto r = std::to_chars(buf, buf + sizeof buf, *v);
    Put(out, std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
}

// Splits an encoded line into its unescaped fields; false on a bad escape.
bool Fields(std::string_view text, std::vector<std::string>& fields) {
    std::string field;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == kSeparator) {
            fields.push_back(std::move(field));
            field.clear();
        } else if (c == '\\') {
            if (++i == text.size()) return false;
            switch (text[i]) {
                case '\\':
                    field.push_back('\\');
                    break;
                case 't':
                    field.push_back('\t');
                    break;
                case 'n':
                    field.push_back('\n');
                    break;
                case 'r':
                    field.push_back('\r');
                    break;
                default:
                    return false;
            }
        } else if (c == '\n' || c == '\r') {
            return false;
        } else {
            field.push_back(c);
        }
    }
    fields.push_back(std::move(field));
    return true;
}

bool ParseInteger(const std::string& text, long long& v) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

bool ParseReal(const std::string& text, std::optional<double>& v) {
    if (text.empty()) {
        v.reset();
        return true;
    }
    double d = 0.0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), d);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return false;
    v = d;
    return true;
}

constexpr std::size_t kHeadFields = 10;  // mark and the record's own fields
constexpr std::size_t kSlotFields = 7;

}  // namespace

bool SystemLocalTime(std::tm& local) {
    const std::time_t now = std::time(nullptr);
    if (now == static_cast<std::time_t>(-1)) return false;
    return ::localtime_r(&now, &local) != nullptr;
}

void SetLocalClock(LocalClock clock) {
    g_clock.store(clock);
}

RecordStamp StampNow() {
    const LocalClock clock = g_clock.load();
    RecordStamp stamp;
    // One reading of the clock for the local texts and the journal's UTC time.
    stamp.utc = std::time(nullptr);
    std::tm t{};
    const bool local = clock != nullptr ? clock(t)
                                        : stamp.utc != static_cast<std::time_t>(-1) &&
                                              ::localtime_r(&stamp.utc, &t) != nullptr;
    if (!local) {
        platform::Report("the local time cannot be determined; the record has no date and time");
        return stamp;
    }
    stamp.date = TwoDigits(t.tm_mday) + L"." + TwoDigits(t.tm_mon + 1) + L"." +
                 FormatInt(static_cast<std::int64_t>(t.tm_year) + 1900);
    stamp.time = TwoDigits(t.tm_hour) + L":" + TwoDigits(t.tm_min) + L":" + TwoDigits(t.tm_sec);
    return stamp;
}

std::wstring RecordTargetPath(const RunState& run, ExportKind exportType,
                              std::wstring_view idText) {
    std::wstring name;
    switch (ExportTypeOf(exportType).fileName) {
        case FileName::CsvFileName:
            name = run.CsvFileName.str();
            break;
        case FileName::IdFileName:
            name = IdFileName(idText);
            break;
        case FileName::XlsFileName:
            name = run.XlsFileName.str();
            break;
        case FileName::None:
            return {};
    }
    std::wstring path = run.ExportPath.str() + name;
    // A path that ends in a folder names no file.
    if (path.empty() || path.back() == L'/') return {};
    if (path.front() != L'/') path.insert(0, run.ConfigDir.str());
    return path;
}

Record CaptureRecord(const RunState& run, const RecordStamp& stamp, std::string id) {
    Record r;
    r.id = std::move(id);
    r.utc = stamp.utc;
    r.localDate = stamp.date;
    r.localTime = stamp.time;
    r.station = run.StationName.str();
    r.configSet = run.ConfigSet;
    r.idText = run.TextLast[kIdEntry].str();
    r.exportType = run.ExportType;
    r.target = RecordTargetPath(run, r.exportType, r.idText);
    const int inUse = std::clamp(run.DeviceCount.load(), 0, kMaxSlots);
    for (int s = 1; s <= kMaxSlots; ++s) {
        RecordSlot& slot = r.slots[static_cast<std::size_t>(s - 1)];
        const int code = run.DeviceType[s];
        slot.kind = KindOf(code);
        slot.inUse = s <= inUse;
        slot.typeName = std::string(devices::DeviceTypeName(code));
        slot.title = run.Title[s].str();
        slot.status = run.StatusText[s].str();
        const bool valid = run.ValueReady[s] && !run.ValueError[s];
        if (slot.kind == SlotKind::Text) {
            slot.field = run.TextLast[s].str();
        } else if (valid) {
            slot.value = run.Value[s].load();
            slot.field = run.TextLast[s].str();
        }
    }
    return r;
}

namespace {

// [+-]digits[(.|,)digits][e[+-]digits]: a number a spreadsheet reads as one.
bool IsPlainNumber(std::wstring_view text) {
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t from = i;
        while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') ++i;
        return i - from;
    };
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) ++i;
    std::size_t n = digits();
    if (i < text.size() && (text[i] == L'.' || text[i] == L',')) {
        ++i;
        n += digits();
    }
    if (n == 0) return false;
    if (i < text.size() && (text[i] == L'e' || text[i] == L'E')) {
        ++i;
        if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) ++i;
        if (digits() == 0) return false;
    }
    return i == text.size();
}

}  // namespace

std::wstring CsvSafeText(std::wstring_view text) {
    // A spreadsheet that opens the file would take such a field for a formula
    // (=HYPERLINK(...), +cmd|...), so it is written as text.
    const bool formulaLike =
        !text.empty() && (text[0] == L'=' || text[0] == L'+' || text[0] == L'-' ||
                          text[0] == L'@' || text[0] == L'\t' || text[0] == L'\r');
    if (!formulaLike || IsPlainNumber(text)) return std::wstring(text);
    return L"'" + std::wstring(text);
}

std::string CsvLineOf(const Record& record) {
    std::wstring slots[kMaxSlots];
    for (int s = 0; s < kMaxSlots; ++s) {
        const RecordSlot& slot = record.slots[static_cast<std::size_t>(s)];
        // Measured values are numbers the station formatted; only texts that
        // came from an operator or a file are made safe.
        slots[s] = slot.kind == SlotKind::Text ? CsvSafeText(slot.field) : slot.field;
    }
    return CsvLine(CsvSafeText(record.idText), record.localDate, record.localTime, slots);
}

JournalRecord JournalRowOf(const Record& record) {
    JournalRecord row;
    row.id = record.id;
    row.station = Utf8(record.station);
    row.configSet = record.configSet;
    row.utc = UtcText(record.utc);
    row.localDate = Utf8(record.localDate);
    row.localTime = Utf8(record.localTime);
    row.idText = Utf8(record.idText);
    row.exportType = static_cast<int>(record.exportType);
    row.target = Utf8(record.target);
    row.written = record.target.empty();
    row.payload = EncodeRecord(record);
    for (int s = 1; s <= kMaxSlots; ++s) {
        const RecordSlot& slot = record.slots[static_cast<std::size_t>(s - 1)];
        if (!slot.inUse) continue;
        JournalSlot j;
        j.slot = s;
        j.typeName = slot.typeName;
        j.title = Utf8(slot.title);
        j.value = slot.value;
        j.text = Utf8(slot.field);
        j.status = Utf8(slot.status);
        row.slots.push_back(std::move(j));
    }
    return row;
}

bool WorkbookSlotApplies(const Record& record, int slot, bool withTextSlots) {
    if (slot < 1 || slot > kMaxSlots) return false;
    const RecordSlot& s = record.slots[static_cast<std::size_t>(slot - 1)];
    if (withTextSlots) return s.kind != SlotKind::None && s.inUse;
    return s.kind == SlotKind::Instrument;
}

std::wstring WorkbookSlotText(const Record& record, int slot) {
    if (slot < 1 || slot > kMaxSlots) return {};
    // Without any slot in use nothing was measured; otherwise a slot beyond
    // the count keeps its last reading (the workbook without text slots
    // writes every measuring slot).
    if (!record.slots[0].inUse) return {};
    const RecordSlot& s = record.slots[static_cast<std::size_t>(slot - 1)];
    if (s.kind == SlotKind::Instrument) {
        return s.value ? platform::FormatFixed(*s.value, 6) : std::wstring();
    }
    if (s.kind == SlotKind::Text) return s.field;
    return {};
}

std::string EncodeRecord(const Record& record) {
    std::string out(kEncodingMark);
    Put(out, record.id);
    PutInt(out, static_cast<long long>(record.utc));
    PutWide(out, record.localDate);
    PutWide(out, record.localTime);
    PutWide(out, record.station);
    PutInt(out, record.configSet);
    PutWide(out, record.idText);
    PutInt(out, static_cast<long long>(record.exportType));
    PutWide(out, record.target);
    for (const RecordSlot& s : record.slots) {
        PutInt(out, static_cast<long long>(s.kind));
        PutInt(out, s.inUse ? 1 : 0);
        Put(out, s.typeName);
        PutWide(out, s.title);
        PutReal(out, s.value);
        PutWide(out, s.field);
        PutWide(out, s.status);
    }
    return out;
}

bool DecodeRecord(std::string_view text, Record& record) {
    std::vector<std::string> f;
    if (!Fields(text, f)) return false;
    if (f.size() != kHeadFields + kSlotFields * kMaxSlots || f[0] != kEncodingMark) return false;
    Record r;
    long long utc = 0, set = 0, type = 0;
    if (!ParseInteger(f[2], utc) || !ParseInteger(f[6], set) || !ParseInteger(f[8], type)) {
        return false;
    }
    const auto wide = [](const std::string& s) { return platform::Utf8ToWide(s); };
    r.id = f[1];
    r.utc = static_cast<std::time_t>(utc);
    r.localDate = wide(f[3]);
    r.localTime = wide(f[4]);
    r.station = wide(f[5]);
    r.configSet = static_cast<int>(set);
    r.idText = wide(f[7]);
    r.exportType = static_cast<ExportKind>(type);
    r.target = wide(f[9]);
    for (std::size_t s = 0; s < r.slots.size(); ++s) {
        const std::size_t at = kHeadFields + kSlotFields * s;
        RecordSlot& slot = r.slots[s];
        long long kind = 0, inUse = 0;
        if (!ParseInteger(f[at], kind) || kind < 0 || kind > 2 || !ParseInteger(f[at + 1], inUse) ||
            !ParseReal(f[at + 4], slot.value)) {
            return false;
        }
        slot.kind = static_cast<SlotKind>(kind);
        slot.inUse = inUse != 0;
        slot.typeName = f[at + 2];
        slot.title = wide(f[at + 3]);
        slot.field = wide(f[at + 5]);
        slot.status = wide(f[at + 6]);
    }
    record = std::move(r);
    return true;
}

}  // namespace karvelo::exports
