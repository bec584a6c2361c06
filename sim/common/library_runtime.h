#pragma once
// What every vendor library simulator does around its vendor calls: one mutex
// over its state, the scenario file found by an environment variable or beside
// the library, and a log of timestamped lines. Self-contained (no station
// library), since it goes into libraries loaded into the station's process.

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace karvelo::simcommon {

// The names one simulated library goes by.
struct LibraryNames {
    // The library's own name, "libcbw": the log's lines about the library as a
    // whole carry it, and messages on standard error start "libcbw.so (simulator)".
    std::string_view library;
    // "KARVELO_CBW_SIM" names the scenario file, KARVELO_CBW_SIM_LOG the log.
    std::string_view variable;
    // "cbw-sim": cbw-sim.ini beside the library, cbw-sim.log beside the scenario.
    std::string_view files;
    std::string_view noScenario;  // "no modules": the log's word for no scenario file
    std::string_view unusable;    // "no modules offered": said of a scenario that cannot be used
};

enum class ScenarioOutcome {
    Absent,    // no scenario file where none was asked for
    Used,      // read and taken in
    Unusable,  // asked for but unreadable, or refused by the parser
};

class LibraryRuntime {
  public:
    // Parses a scenario's text (`origin` names it in messages), keeps what it
    // needs and returns what the log says of it after "scenario <file>: ";
    // throws ScenarioError for a scenario that cannot be used.
    using TakeScenario =
        std::function<std::string(const std::string& text, const std::string& origin)>;

    explicit LibraryRuntime(const LibraryNames& names);
    ~LibraryRuntime();
    LibraryRuntime(const LibraryRuntime&) = delete;
    LibraryRuntime& operator=(const LibraryRuntime&) = delete;

    std::mutex& Mutex() { return mutex_; }

    // Whether a scenario was looked for since the library was loaded. With the
    // mutex held.
    bool Loaded() const { return loaded_; }

    // Looks for the scenario again and reopens the log. A bad scenario is
    // reported once, to the log and to standard error. With the mutex held.
    ScenarioOutcome Load(const TakeScenario& take);

    // One line "[seconds] name: text", seconds since the library was loaded.
    // With the mutex held.
    void Log(std::string_view name, std::string_view text);
    // A line about the library as a whole.
    void Log(std::string_view text) { Log(library_, text); }

    // Load for a scenario that is a list of devices: "<n> <devices>" after
    // "scenario <file>: ", then a line per device by `describe(config)` or
    // `describe(index, config)`. The devices; none without a usable scenario.
    template <class Config, class Describe>
    std::vector<Config> LoadDevices(std::vector<Config> (*parse)(std::string_view,
                                                                 std::string_view),
                                    std::string_view devices, Describe describe) {
        std::vector<Config> configs;
        Load([&](const std::string& text, const std::string& origin) {
            configs = parse(text, origin);
            return std::to_string(configs.size()) + " " + std::string(devices);
        });
        for (std::size_t i = 0; i < configs.size(); ++i) {
            if constexpr (std::is_invocable_v<Describe, std::size_t, const Config&>) {
                Log(configs[i].name, describe(i, configs[i]));
            } else {
                Log(configs[i].name, describe(configs[i]));
            }
        }
        return configs;
    }

  private:
    void Complain(const std::string& text) const;

    const std::string library_;
    const std::string scenarioVariable_;
    const std::string logVariable_;
    const std::string scenarioFile_;
    const std::string logFile_;
    const std::string noScenario_;
    const std::string unusable_;
    std::mutex mutex_;
    bool loaded_ = false;
    int logFd_ = -1;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// A number for the log, as short as reads back the same.
std::string Shortest(double v);

}  // namespace karvelo::simcommon
