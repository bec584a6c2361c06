#include "app/configuration.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "devices/catalogue.h"
#include "export/export_types.h"
#include "export/plant_server.h"
#include "platform/config_folder.h"
#include "platform/numbers.h"
#include "platform/profile.h"
#include "platform/program_path.h"
#include "platform/report.h"
#include "platform/text_encoding.h"
#include "platform/wait.h"
#include "state/control_ids.h"
#include "state/run_state.h"
#include "state/slot_settings.h"
#include "state/window_port.h"

namespace karvelo::app {
namespace {

using platform::FormatInt;
using platform::ParseInt;
using platform::ProfileDocument;

constexpr std::array<std::wstring_view, kConfigSetCount> kSetFiles = {
    L"karvelo.cfg",  L"karvelo1.cfg", L"karvelo2.cfg",
    L"karvelo3.cfg", L"karvelo4.cfg", L"karvelo5.cfg"};

constexpr double kNoTimerPeriod = 100000.0;

// Window systems place windows within 16-bit coordinates (X11 carries them as
// such). A hand-edited extreme is taken as the nearest of these, so that the
// window's own arithmetic (its right edge is left + width) cannot overflow.
constexpr int kMinWindowCoordinate = -32768;
constexpr int kMaxWindowCoordinate = 32767;

constexpr std::wstring_view kMessageCaption = L"KARVELO";
// Where a site ships default settings for installed stations.
constexpr const char* kSiteDefaultsFolder = "/etc/karvelo";

std::string MainFile() {
    return platform::FsPath(g_run.MainConfigFile.str());
}
std::string ActiveFile() {
    return platform::FsPath(g_run.ActiveConfigFile.str());
}

// The ID entry (index 0 of the text-source fields) in section IDNR.
void LoadIdSource(const ProfileDocument& doc) {
    LoadTextSource(g_run, doc, kIdEntry, /*withLast*/ true);
}

// What the disabled file-name field shows for each export type; a type
// without a file keeps its text.
void ShowExportFileName(WindowPort& window) {
    switch (exports::ExportTypeOf(g_run.ExportType).fileName) {
        case exports::FileName::CsvFileName:
            window.SetControlText(kFileNameField, g_run.CsvFileName.str());
            break;
        case exports::FileName::IdFileName:
            window.SetControlText(kFileNameField, L"ID.csv");
            break;
        case exports::FileName::XlsFileName:
            window.SetControlText(kFileNameField, g_run.XlsFileName.str());
            break;
        case exports::FileName::None:
            break;
    }
    window.EnableControl(kFileNameField, false);
}

void LoadExport(const ProfileDocument& doc, WindowPort& window) {
    g_run.ExportType =
        static_cast<ExportKind>(ParseInt(doc.ReadString(L"EXPORT", L"exporttype", L"0")));
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
    for (int s = 1; s <= kMaxSlots; ++s) LoadSlotSettings(g_run, doc, s);
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

bool IsConfigSet(int set) {
    return set >= 0 && set < kConfigSetCount;
}

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

// Settings that could not be written (a read-only configuration folder or
// file, a full disk). The running station keeps them: they are laid over the
// file whenever it is read again, until the station ends. The operator hears
// of the first failure once, with the file and the reason; afterwards the
// window's title says that changes are not kept.
std::map<std::wstring, std::wstring>& ToldProblems();

struct UnsavedKey {
    std::string file;
    std::wstring section;
    std::wstring key;
    std::wstring value;
};
std::vector<UnsavedKey> g_unsaved;
std::wstring g_unsavedMessage;  // the first failure, not yet shown
bool g_unsavedShown = false;
bool g_textsUnsaved = false;  // the last text save failed

std::set<std::string> g_toldFiles;  // said on standard error, once per file

void NoteFailedWrite(const std::string& file, int error) {
    const std::string reason =
        error != 0 ? std::strerror(error) : "the file is read-only or not a regular file";
    if (g_toldFiles.insert(file).second) {
        platform::Report("cannot save settings in " + file + " (" + reason +
                         "); changes are not kept");
    }
    // A file that could not even be read was told of already.
    if (ToldProblems().contains(platform::Utf8ToWide(file))) return;
    if (g_unsavedShown || !g_unsavedMessage.empty()) return;
    g_unsavedMessage = L"Cannot save the settings in " + platform::Utf8ToWide(file) + L" (" +
                       platform::Utf8ToWide(reason) +
                       L").\nChanges apply until the station ends, but they will not be kept.";
}

// Writes one key; when that fails, the running station keeps the value.
void WriteKey(std::wstring_view section, std::wstring_view key, std::wstring_view value,
              const std::string& file) {
    const auto same = [&](const UnsavedKey& u) {
        return u.file == file && u.section == section && u.key == key;
    };
    errno = 0;
    if (platform::WriteProfileString(section, key, value, file)) {
        std::erase_if(g_unsaved, same);
        return;
    }
    const int error = errno;
    std::erase_if(g_unsaved, same);
    g_unsaved.push_back({file, std::wstring(section), std::wstring(key), std::wstring(value)});
    NoteFailedWrite(file, error);
}

// The file could take a write now (it was repaired, or made writable).
bool WritableNow(const std::string& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        const std::string folder = std::filesystem::path(file).parent_path().string();
        return errno == ENOENT && ::access(folder.empty() ? "." : folder.c_str(), W_OK) == 0;
    }
    return S_ISREG(st.st_mode) && (st.st_mode & 0222) != 0 && ::access(file.c_str(), W_OK) == 0;
}

// Lays the settings that could not be written over the file just read. Once
// the file can be written again, what it holds counts: the lost changes stay
// lost, as the operator was told.
void ApplyUnsaved(ProfileDocument& doc, const std::string& file) {
    if (WritableNow(file)) {
        std::erase_if(g_unsaved, [&](const UnsavedKey& u) { return u.file == file; });
        return;
    }
    for (const UnsavedKey& u : g_unsaved) {
        if (u.file == file) doc.Set(u.section, u.key, u.value);
    }
}

// Shows the first failure once, and marks the window while changes are not kept.
void TellUnsaved(WindowPort& window) {
    if (!g_unsavedMessage.empty()) {
        g_unsavedShown = true;
        window.MessageBox(kMessageCaption, std::exchange(g_unsavedMessage, {}), MessageIcon::Error);
    }
    window.ShowSettingsNotKept(!g_unsaved.empty() || g_textsUnsaved);
}

void WriteActiveKey(std::wstring_view section, std::wstring_view key, std::wstring_view value) {
    WriteKey(section, key, value, ActiveFile());
}

int WindowCoordinate(int value) {
    return std::clamp(value, kMinWindowCoordinate, kMaxWindowCoordinate);
}

// What was said about each configuration file that could not be read. The
// configuration is loaded again after every device or set change and after
// "++" and "--": the operator hears of a file once, and again only when its
// problem changes or comes back after it was fixed.
std::map<std::wstring, std::wstring>& ToldProblems() {
    static std::map<std::wstring, std::wstring> told;
    return told;
}

void ReportUnreadable(const ProfileDocument& doc, const std::wstring& file, WindowPort& window) {
    std::map<std::wstring, std::wstring>& told = ToldProblems();
    const std::wstring problem = doc.Problem();
    if (problem.empty()) {
        told.erase(file);
        return;
    }
    const auto [it, fresh] = told.try_emplace(file, problem);
    if (!fresh) {
        if (it->second == problem) return;
        it->second = problem;
    }
    window.MessageBox(kMessageCaption,
                      L"Cannot read the configuration file " + file + L" (" + problem +
                          L"). The station uses the default settings instead and does not "
                          L"write to this file.",
                      MessageIcon::Error);
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

    const platform::FolderFacts facts = platform::CurrentFolderFacts(platform::FsPath(dir));
    const FixedText<kLongText> configDir(platform::Utf8ToWide(platform::ConfigFolderFor(facts)));
    g_run.ConfigDir = configDir.view();

    FixedText<kLongText> mainFile = configDir;
    mainFile.Append(kMainConfigFileName);
    g_run.MainConfigFile = mainFile.view();
    g_run.ActiveConfigFile = mainFile.view();
}

void DeriveProgramPaths() {
    DerivePaths(platform::ProgramFilePath());
    const std::string programDir = platform::FsPath(g_run.ProgramDir.str());
    if (platform::KeepsConfigBesideProgram(platform::CurrentFolderFacts(programDir))) return;
    // An installed station: the user's folder, with the site's defaults on
    // first start (beside the program, else in /etc/karvelo).
    std::vector<std::string> files = {platform::FsPath(kMainConfigFileName), "ibr.ddk"};
    for (int set = 1; set < kConfigSetCount; ++set) {
        files.push_back(platform::FsPath(ConfigSetFileName(set)));
    }
    const std::string problem = platform::PrepareConfigFolder(
        platform::FsPath(g_run.ConfigDir.str()), {programDir, kSiteDefaultsFolder}, files);
    if (!problem.empty()) platform::Report(problem);
}

double ComputeTimerPeriod() {
    double period = kNoTimerPeriod;
    for (int s = 1; s <= kMaxSlots; ++s) {
        if (devices::IsInstrumentCode(g_run.DeviceType[s]) &&
            g_run.SendMode[s] == SendModeKind::Timer && g_run.SendTime[s] < period) {
            period = g_run.SendTime[s];
        }
    }
    return period == kNoTimerPeriod ? 0.0 : period;
}

namespace {

// The machine's name: what tells the benches' records apart unless the
// configuration names the station.
std::wstring HostName() {
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0) return {};
    return platform::Utf8ToWide(name.data());
}

}  // namespace

namespace {

// A password for the plant server in a file other users may read is said
// once per file, with the way out.
void WarnOfReadablePassword(const std::string& file, const std::wstring& url) {
    static std::set<std::string> told;
    struct stat st {};
    if (url.empty() || !exports::ConnectionHasPassword(platform::WideToUtf8(url)) ||
        ::stat(file.c_str(), &st) != 0 || (st.st_mode & 0044) == 0 || !told.insert(file).second) {
        return;
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    platform::Report(file +
                     " holds the plant server's password (key url of section DATABASE) "
                     "and other users can read it (mode " +
                     mode + "): make it private with chmod 600, or keep the password in ~/.pgpass");
}

}  // namespace

void LoadConfiguration(WindowPort& window) {
    // Texts still waiting for their write belong to what is loaded now.
    FlushTexts();
    ForgetWrittenTexts();
    ProfileDocument mainDoc = ProfileDocument::Load(MainFile());
    ReportUnreadable(mainDoc, g_run.MainConfigFile.str(), window);
    ApplyUnsaved(mainDoc, MainFile());
    g_run.WindowX = WindowCoordinate(ParseInt(mainDoc.ReadString(L"WINDOW", L"X", L"663")));
    g_run.WindowY = WindowCoordinate(ParseInt(mainDoc.ReadString(L"WINDOW", L"Y", L"405")));
    g_run.ConfigSet = ParseInt(mainDoc.ReadString(L"MAIN", L"cfg", L"0"));
    g_run.StationName = mainDoc.ReadString(L"DATABASE", L"station", HostName());
    g_run.DatabaseUrl = mainDoc.ReadString(L"DATABASE", L"url", L"");
    WarnOfReadablePassword(MainFile(), g_run.DatabaseUrl.str());
    // Anything but a positive number keeps every record.
    g_run.KeepDays = std::max(0, ParseInt(mainDoc.ReadString(L"DATABASE", L"keep_days", L"0")));
    if (IsConfigSet(g_run.ConfigSet)) SetActiveFileFor(g_run.ConfigSet);

    const bool sameFile = g_run.ActiveConfigFile == g_run.MainConfigFile.str();
    ProfileDocument activeDoc = sameFile ? mainDoc : ProfileDocument::Load(ActiveFile());
    if (!sameFile) {
        ReportUnreadable(activeDoc, g_run.ActiveConfigFile.str(), window);
        ApplyUnsaved(activeDoc, ActiveFile());
    }

    g_run.DeviceCount = ParseInt(activeDoc.ReadString(L"WINDOW", L"maxno", L"1"));
    LoadIdSource(activeDoc);
    LoadExport(activeDoc, window);
    LoadExcel(activeDoc);
    LoadSlots(activeDoc);
    g_run.TimerPeriod = ComputeTimerPeriod();
    window.LayoutWindow();
    FillDeviceSummaries();
    window.InvalidateWindow(true);
    TellUnsaved(window);
}

namespace {

// The record texts as the active file last got them, so that a record with
// the same texts writes nothing; and when they were last written, so that
// records in quick succession write them at most once a second.
struct WrittenTexts {
    std::string file;  // empty: unknown, the next save writes
    std::array<std::wstring, kSlotEntries> texts;
    std::uint32_t atTick = 0;
    bool soon = false;  // a write is due at the text-save timer
};
WrittenTexts g_written;

constexpr std::uint32_t kTextSaveSpacingMs = 1000;

std::array<std::wstring, kSlotEntries> CurrentTexts() {
    std::array<std::wstring, kSlotEntries> texts;
    for (int e = 0; e <= kMaxSlots; ++e) texts[e] = OneLine(g_run.TextLast[e].str());
    return texts;
}

bool TextsChanged(const std::string& path, const std::array<std::wstring, kSlotEntries>& texts) {
    return g_written.file.empty() || g_written.file != path || g_written.texts != texts;
}

}  // namespace

void SaveTexts() {
    g_written.soon = false;
    const std::string path = ActiveFile();
    const std::array<std::wstring, kSlotEntries> texts = CurrentTexts();
    if (!TextsChanged(path, texts)) return;
    // One document edit and one atomic replace for all eleven keys: the texts
    // of a record reach the file together or not at all.
    ProfileDocument doc = ProfileDocument::Load(path);
    for (int e = 0; e <= kMaxSlots; ++e) WriteTextLast(doc, e, texts[e]);
    errno = 0;
    g_textsUnsaved = !doc.Save(path);
    if (g_textsUnsaved) {
        NoteFailedWrite(path, errno);
        g_written.file.clear();  // unknown now: the next save tries again
        return;
    }
    g_written.file = path;
    g_written.texts = texts;
    g_written.atTick = platform::TickCount();
}

void SaveTextsSoon(WindowPort& window) {
    if (g_written.soon) return;  // the timer writes the newest texts anyway
    if (!TextsChanged(ActiveFile(), CurrentTexts())) return;
    const std::uint32_t since = platform::TickCount() - g_written.atTick;
    if (g_written.file.empty() || since >= kTextSaveSpacingMs) {
        SaveTexts();
        if (!g_unsavedMessage.empty()) TellUnsaved(window);
        return;
    }
    g_written.soon = true;
    window.StartTimer(kTextSaveTimer, static_cast<int>(kTextSaveSpacingMs - since));
}

void FlushTexts() {
    if (g_written.soon) SaveTexts();
}

void ForgetWrittenTexts() {
    g_written = WrittenTexts{};
}

bool SaveSettingsDocument(const platform::ProfileDocument& doc, const std::string& path) {
    errno = 0;
    if (doc.Save(path)) return true;
    NoteFailedWrite(path, errno);
    return false;
}

void ForgetUnsavedSettings() {
    g_unsaved.clear();
    g_unsavedMessage.clear();
    g_unsavedShown = false;
    g_textsUnsaved = false;
    g_toldFiles.clear();
}

void SaveWindowPosition(WindowPort& window) {
    const WindowRect r = window.GetWindowRect();
    const std::string path = MainFile();
    ProfileDocument doc = ProfileDocument::Load(path);
    doc.Set(L"WINDOW", L"X", FormatInt(WindowCoordinate(r.left)));
    doc.Set(L"WINDOW", L"Y", FormatInt(WindowCoordinate(r.top)));
    errno = 0;
    if (!doc.Save(path)) NoteFailedWrite(path, errno);
}

void SaveMainFileState(WindowPort& window) {
    SaveWindowPosition(window);
    const int set = g_run.ConfigSet;
    if (!IsConfigSet(set)) return;
    WriteKey(L"MAIN", L"cfg", FormatInt(set), MainFile());
    if (set > 0) SetActiveFileFor(set);
}

void SelectConfigSetFiles(int set, WindowPort& window) {
    if (!IsConfigSet(set)) return;
    FlushTexts();  // into the set they belong to
    SaveWindowPosition(window);
    g_run.ConfigSet = set;
    WriteKey(L"MAIN", L"cfg", FormatInt(set), MainFile());
    if (set > 0) SetActiveFileFor(set);
    LoadConfiguration(window);
}

void RemoveStaleConfigurationTemporaries() {
    for (int set = 0; set < kConfigSetCount; ++set) {
        std::wstring path = g_run.ConfigDir.str();
        path += ConfigSetFileName(set);
        platform::RemoveStaleTemporaryFiles(platform::FsPath(path));
    }
}

void WriteDeviceCount() {
    WriteActiveKey(L"WINDOW", L"maxno", FormatInt(g_run.DeviceCount));
}

void WriteExportType() {
    WriteActiveKey(L"EXPORT", L"exporttype", FormatInt(static_cast<int>(g_run.ExportType.load())));
}

void WriteExportTarget() {
    WriteActiveKey(L"EXPORT", L"path", g_run.ExportPath.str());
    WriteActiveKey(L"EXPORT", L"file_csv", g_run.CsvFileName.str());
}

}  // namespace karvelo::app
