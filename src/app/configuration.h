#pragma once
// The configuration files beside the program: the main file "karvelo.cfg"
// (window position, current set) and the six configuration sets
// ("karvelo.cfg", "karvelo1.cfg" .. "karvelo5.cfg"). This file loads a set into
// the run-time state and writes the keys the application core owns.

#include <string>
#include <string_view>

#include "platform/profile.h"

#include "state/window_port.h"

namespace karvelo::app {

inline constexpr int kConfigSetCount = 6;
inline constexpr std::wstring_view kMainConfigFileName = L"karvelo.cfg";

// The file of configuration set 0..5; empty for any other number.
std::wstring_view ConfigSetFileName(int set);

// Sets ProgramDir, ConfigDir, MainConfigFile and ActiveConfigFile from the full
// path of the program file (cut at the texts' capacity first).
void DerivePaths(std::wstring_view programFile);
// The same from the running program's own file.
void DeriveProgramPaths();

// Reads the current set into the run-time state and lays the window out. A
// file that is there but cannot be read is reported in a message box, once
// per file and problem; its keys read as their defaults.
void LoadConfiguration(WindowPort& window);

// Removes the hidden temporary files that configuration writes of a killed
// station left beside the six configuration files (station start only).
void RemoveStaleConfigurationTemporaries();

// The send-timer period in seconds from the loaded slots: the shortest
// SendTime of all ten timer slots with an instrument, 0 for none.
double ComputeTimerPeriod();

// Writes the record texts (ID and slots 1..10) as `textlast` into the active
// file, unless the file already holds exactly these texts from this process.
// Every ending of the station calls it.
void SaveTexts();

// SaveTexts after a record: at once when the last write is a second ago or
// more, else when the text-save timer (kTextSaveTimer) fires, so that records
// in quick succession rewrite the file at most once a second.
void SaveTextsSoon(WindowPort& window);

// Writes texts that SaveTextsSoon left for its timer; nothing when none wait.
void FlushTexts();

// Forgets which texts the active file holds: the next save writes (after the
// configuration was loaded again, and for tests).
void ForgetWrittenTexts();

// Saves a settings document a dialog edited; a failure is told like any
// settings write that fails (once, with the file and the reason, at the next
// reload of the configuration). False when nothing was written.
bool SaveSettingsDocument(const platform::ProfileDocument& doc, const std::string& path);

// Forgets the settings that could not be written and that this was told
// (tests that run several station starts in one process).
void ForgetUnsavedSettings();

// Writes the window's top-left corner as `X` and `Y` of `WINDOW` into the main file.
void SaveWindowPosition(WindowPort& window);

// Window position, then `cfg` when the set is 0..5 (rebuilding the active file
// name for sets 1..5): what the device command and program end save.
void SaveMainFileState(WindowPort& window);

// The file side of switching to set n (0..5): window position, `cfg`, active
// file, then the new set is loaded. Devices and timers are the caller's.
void SelectConfigSetFiles(int set, WindowPort& window);

// Single-key writes of the window's commands.
void WriteDeviceCount();   // `WINDOW` `maxno`
void WriteExportType();    // `EXPORT` `exporttype`
void WriteExportTarget();  // `EXPORT` `path`, then `file_csv`

}  // namespace karvelo::app
