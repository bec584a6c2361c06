#include "app/configuration.h"

#include <array>
#include <string>

#include "state/control_ids.h"
#include "state/run_state.h"
#include "state/window_port.h"
#include "platform/numbers.h"
#include "platform/profile.h"
#include "platform/program_path.h"

namespace karvelo::app {
namespace {

using platform::FormatInt;
using platform::ParseDouble;
using platform::ParseInt;
using platform::ProfileDocument;

constexpr std::array<std::wstring_view, kConfigSetCount> kSetFiles = {
    L"karvelo.cfg", L"karvelo1.cfg", L"karvelo2.cfg", L"karvelo3.cfg", L"karvelo4.cfg", L"karvelo5.cfg"};

// Titles are read with a 49-character buffer: at most 48 characters reach the field.
constexpr std::size_t kTitleChars = 48;

constexpr double kNoTimerPeriod = 100000.0;

// The file also knows "Timer(min)"; the record holds it as seconds.
constexpr int kTimerMinutesCode = 4;

std::string MainFile() { return platform::FsPath(g_run.MainConfigFile.str()); }
std::string ActiveFile() { return platform::FsPath(g_run.ActiveConfigFile.str()); }

std::wstring SlotSection(int s) { return L"DEVICE" + FormatInt(s); }

// One key of a DEVICE section: its name, default text and where its value goes.
struct SlotKey {
    std::wstring_view key;
    std::wstring_view defaultValue;
    void (*store)(int slot, const std::wstring& value);
};

// In the order the keys are read; `sendtime` relies on `sendmode` coming first.
const std::array<SlotKey, 17> kSlotKeys = {{
    {L"typ", L"0", [](int s, const std::wstring& v) { g_run.DeviceType[s] = ParseInt(v); }},
    {L"typ_txt", L"", [](int s, const std::wstring& v) { g_run.TypeText[s] = v; }},
    {L"port", L"0", [](int s, const std::wstring& v) { g_run.Port[s] = ParseInt(v); }},
    {L"port_txt", L"", [](int s, const std::wstring& v) { g_run.PortText[s] = v; }},
    {L"sn", L"", [](int s, const std::wstring& v) { g_run.SerialNo[s] = v; }},
    {L"ch", L"1", [](int s, const std::wstring& v) { g_run.Channel[s] = ParseInt(v); }},
    {L"parameter", L"0", [](int s, const std::wstring& v) { g_run.Parameter[s] = ParseInt(v); }},
    {L"sendmode", L"0", [](int s, const std::wstring& v) { g_run.SendMode[s] = static_cast<SendModeKind>(ParseInt(v)); }},
    {L"textsource", L"0", [](int s, const std::wstring& v) { g_run.TextSource[s] = ParseInt(v); }},
    {L"textpath", L"", [](int s, const std::wstring& v) { g_run.TextPath[s] = v; }},
    {L"textfile", L"", [](int s, const std::wstring& v) { g_run.TextFile[s] = v; }},
    {L"textlast", L"", [](int s, const std::wstring& v) { g_run.TextLast[s] = v; }},
    {L"sendtime", L"60",
     [](int s, const std::wstring& v) {
         g_run.SendTime[s] = ParseDouble(v);
         // The record knows only seconds: minutes become seconds here.
         if (static_cast<int>(g_run.SendMode[s].load()) == kTimerMinutesCode) {
             g_run.SendMode[s] = SendModeKind::Timer;
             g_run.SendTime[s] = g_run.SendTime[s] * 60.0;
         }
     }},
    {L"format", L"", [](int s, const std::wstring& v) { g_run.Decimals[s] = ParseInt(v); }},
    {L"factor", L"1.0", [](int s, const std::wstring& v) { g_run.Factor[s] = ParseDouble(v); }},
    {L"offset", L"0.0", [](int s, const std::wstring& v) { g_run.Offset[s] = ParseDouble(v); }},
    {L"title", L"",
     [](int s, const std::wstring& v) { g_run.Title[s] = std::wstring_view(v).substr(0, kTitleChars); }},
}};

// The ID entry (index 0 of the text-source fields) in section IDNR.
void LoadIdSource(const ProfileDocument& doc) {
    g_run.TextSource[kIdEntry] = ParseInt(doc.ReadString(L"IDNR", L"textsource", L"0"));
    g_run.TextPath[kIdEntry] = doc.ReadString(L"IDNR", L"textpath", L"");
    g_run.TextFile[kIdEntry] = doc.ReadString(L"IDNR", L"textfile", L"");
    g_run.TextLast[kIdEntry] = doc.ReadString(L"IDNR", L"textlast", L"");
}

// What the disabled file-name field shows for each export type; type 0 keeps its text.
void ShowExportFileName(WindowPort& window) {
    switch (g_run.ExportType) {
        case ExportKind::CsvSingle:
        case ExportKind::CsvMulti: window.SetControlText(kFileNameField, g_run.CsvFileName.str()); break;
        case ExportKind::IdCsvSingle:
        case ExportKind::IdCsvMulti: window.SetControlText(kFileNameField, L"ID.csv"); break;
        case ExportKind::Workbook:
        case ExportKind::WorkbookNoTexts: window.SetControlText(kFileNameField, g_run.XlsFileName.str()); break;
        default: break;
    }
    window.EnableControl(kFileNameField, false);
}

void LoadExport(const ProfileDocument& doc, WindowPort& window) {
    g_run.ExportType = static_cast<ExportKind>(ParseInt(doc.ReadString(L"EXPORT", L"exporttype", L"0")));
    window.SetListSelection(kExportTypeList, static_cast<int>(g_run.ExportType.load()));
    g_run.ExportPath = doc.ReadString(L"EXPORT", L"path", L"");
    g_run.CsvFileName = doc.ReadString(L"EXPORT", L"file_csv", L"");
    g_run.XlsFileName = doc.ReadString(L"EXPORT", L"file_xls", L"");
    ShowExportFileName(window);
}

bool ReadFlag(const ProfileDocument& doc, std::wstring_view key, std::wstring_view def) {
    return ParseInt(doc.ReadString(L"EXCEL", key, def)) != 0;
}

int ReadExcelInt(const ProfileDocument& doc, std::wstring_view key, std::wstring_view def) {
    return ParseInt(doc.ReadString(L"EXCEL", key, def));
}

void LoadExcel(const ProfileDocument& doc) {
    g_run.ExcelVisible = ReadFlag(doc, L"visible", L"1");
    g_run.ExcelEdit = ReadFlag(doc, L"edit", L"1");
    g_run.ExcelOpen = ReadFlag(doc, L"open", L"1");
    g_run.ExcelClose = ReadFlag(doc, L"close", L"1");
    g_run.ExcelSave = ReadFlag(doc, L"save", L"1");
    g_run.SendKey = ReadExcelInt(doc, L"sendkey", L"0");
    for (int n = 1; n <= kExcelItems; ++n) {
        const std::wstring num = FormatInt(n);
        g_run.ExcelValueOn[n] = ReadFlag(doc, L"value" + num, L"1");
        g_run.ExcelRelative[n] = ReadFlag(doc, L"rel" + num, L"1");
        const std::wstring column = doc.ReadString(L"EXCEL", L"SP" + num, FormatInt(n - 1));
        g_run.ExcelColumnText[n] = column;
        g_run.ExcelColumn[n] = ParseInt(column);
        const std::wstring row = doc.ReadString(L"EXCEL", L"ZL" + num, L"0");
        g_run.ExcelRowText[n] = row;
        g_run.ExcelRow[n] = ParseInt(row);
    }
    g_run.ExcelSheet = doc.ReadString(L"EXCEL", L"sheet", L"Tabelle1");
    g_run.ExcelRefMode = ReadExcelInt(doc, L"refmode", L"1");
    g_run.ExcelRefAddress = doc.ReadString(L"EXCEL", L"refadresse", L"0");
    g_run.ExcelShiftMode = ReadExcelInt(doc, L"shiftmode", L"1");
    g_run.ExcelAutoShiftColumn = ReadExcelInt(doc, L"autoshift_sp", L"0");
    g_run.ExcelAutoShiftRow = ReadExcelInt(doc, L"autoshift_zl", L"1");
}

void LoadSlots(const ProfileDocument& doc) {
    for (int s = 1; s <= kMaxSlots; ++s) {
        const std::wstring section = SlotSection(s);
        for (const SlotKey& k : kSlotKeys) k.store(s, doc.ReadString(section, k.key, k.defaultValue));
    }
}

void FillDeviceSummaries() {
    for (int s = 1; s <= kMaxSlots; ++s) {
        std::wstring summary = g_run.TypeText[s].str();
        summary += L" / ";
        summary += g_run.PortText[s].str();
        summary += L" / ";
        summary += g_run.SerialNo[s].str();
        summary += L" C:";
        summary += FormatInt(g_run.Channel[s]);
        g_run.DeviceSummary[s] = summary;
    }
}

bool IsConfigSet(int set) { return set >= 0 && set < kConfigSetCount; }

void SetActiveFileFor(int set) {
    std::wstring path = g_run.ConfigDir.str();
    path += ConfigSetFileName(set);
    g_run.ActiveConfigFile = path;
}

// A profile value is one line. A text taken from the last field of a list file
// ends in its line feed; the value keeps the text without its line ends
// (trailing ones dropped, inner ones as blanks), which is what it reads back as.
std::wstring OneLine(std::wstring text) {
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
    for (wchar_t& c : text) {
        if (c == L'\n' || c == L'\r') c = L' ';
    }
    return text;
}

void WriteActiveKey(std::wstring_view section, std::wstring_view key, std::wstring_view value) {
    platform::WriteProfileString(section, key, value, ActiveFile());
}

}  // namespace

std::wstring_view ConfigSetFileName(int set) {
    if (!IsConfigSet(set)) return {};
    return kSetFiles[static_cast<std::size_t>(set)];
}

void DerivePaths(std::wstring_view programFile) {
    // The program path is cut at the capacity first, as the fixed buffer would.
    const FixedText<kLongText> full(programFile);
    std::wstring_view dir = full.view();
    const std::size_t cut = dir.rfind(L'/');
    dir = cut == std::wstring_view::npos ? std::wstring_view() : dir.substr(0, cut);
    g_run.ProgramDir = dir;

    FixedText<kLongText> configDir(dir);
    configDir.Append(L"/");
    g_run.ConfigDir = configDir.view();

    FixedText<kLongText> mainFile = configDir;
    mainFile.Append(kMainConfigFileName);
    g_run.MainConfigFile = mainFile.view();
    g_run.ActiveConfigFile = mainFile.view();
}

void DeriveProgramPaths() { DerivePaths(platform::ProgramFilePath()); }

double ComputeTimerPeriod() {
    double period = kNoTimerPeriod;
    for (int s = 1; s <= kMaxSlots; ++s) {
        if (g_run.DeviceType[s] > 0 &&
            g_run.SendMode[s] == SendModeKind::Timer &&
            g_run.SendTime[s] < period) {
            period = g_run.SendTime[s];
        }
    }
    return period == kNoTimerPeriod ? 0.0 : period;
}

void LoadConfiguration(WindowPort& window) {
    const ProfileDocument mainDoc = ProfileDocument::Load(MainFile());
    g_run.WindowX = ParseInt(mainDoc.ReadString(L"WINDOW", L"X", L"663"));
    g_run.WindowY = ParseInt(mainDoc.ReadString(L"WINDOW", L"Y", L"405"));
    g_run.ConfigSet = ParseInt(mainDoc.ReadString(L"MAIN", L"cfg", L"0"));
    if (IsConfigSet(g_run.ConfigSet)) SetActiveFileFor(g_run.ConfigSet);

    const bool sameFile = g_run.ActiveConfigFile == g_run.MainConfigFile.str();
    const ProfileDocument activeDoc = sameFile ? mainDoc : ProfileDocument::Load(ActiveFile());

    g_run.DeviceCount = ParseInt(activeDoc.ReadString(L"WINDOW", L"maxno", L"1"));
    LoadIdSource(activeDoc);
    LoadExport(activeDoc, window);
    LoadExcel(activeDoc);
    LoadSlots(activeDoc);
    g_run.TimerPeriod = ComputeTimerPeriod();
    window.LayoutWindow();
    FillDeviceSummaries();
    window.InvalidateWindow(true);
}

void SaveTexts() {
    // One document edit and one atomic replace for all eleven keys: the texts
    // of a record reach the file together or not at all.
    const std::string path = ActiveFile();
    ProfileDocument doc = ProfileDocument::Load(path);
    doc.Set(L"IDNR", L"textlast", OneLine(g_run.TextLast[kIdEntry].str()));
    for (int s = 1; s <= kMaxSlots; ++s) doc.Set(SlotSection(s), L"textlast", OneLine(g_run.TextLast[s].str()));
    doc.Save(path);
}

void SaveWindowPosition(WindowPort& window) {
    const WindowRect r = window.GetWindowRect();
    const std::string path = MainFile();
    ProfileDocument doc = ProfileDocument::Load(path);
    doc.Set(L"WINDOW", L"X", FormatInt(r.left));
    doc.Set(L"WINDOW", L"Y", FormatInt(r.top));
    doc.Save(path);
}

void SaveMainFileState(WindowPort& window) {
    SaveWindowPosition(window);
    const int set = g_run.ConfigSet;
    if (!IsConfigSet(set)) return;
    platform::WriteProfileString(L"MAIN", L"cfg", FormatInt(set), MainFile());
    if (set > 0) SetActiveFileFor(set);
}

void SelectConfigSetFiles(int set, WindowPort& window) {
    if (!IsConfigSet(set)) return;
    SaveWindowPosition(window);
    g_run.ConfigSet = set;
    platform::WriteProfileString(L"MAIN", L"cfg", FormatInt(set), MainFile());
    if (set > 0) SetActiveFileFor(set);
    LoadConfiguration(window);
}

void WriteDeviceCount() { WriteActiveKey(L"WINDOW", L"maxno", FormatInt(g_run.DeviceCount)); }

void WriteExportType() { WriteActiveKey(L"EXPORT", L"exporttype", FormatInt(static_cast<int>(g_run.ExportType.load()))); }

void WriteExportTarget() {
    WriteActiveKey(L"EXPORT", L"path", g_run.ExportPath.str());
    WriteActiveKey(L"EXPORT", L"file_csv", g_run.CsvFileName.str());
}

}  // namespace karvelo::app
