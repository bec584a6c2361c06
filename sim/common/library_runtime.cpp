#include "common/library_runtime.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "common/scenario_text.h"

namespace karvelo::simcommon {
namespace {

// The folder of the file this code was loaded from: the simulated library,
// since every simulator carries its own copy.
std::filesystem::path LibraryFolder() {
    static const char anchor = 0;
    Dl_info info{};
    if (dladdr(&anchor, &info) == 0 || info.dli_fname == nullptr) return {};
    return std::filesystem::path(info.dli_fname).parent_path();
}

// A variable's value, or nullptr when it is unset or empty.
const char* Setting(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

std::string Fixed3(double v) {
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 3);
    return ec == std::errc() ? std::string(buf, end) : std::string("?");
}

}  // namespace

std::string Shortest(double v) {
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::string("?");
}

LibraryRuntime::LibraryRuntime(const LibraryNames& names)
    : library_(names.library),
      scenarioVariable_(names.variable),
      logVariable_(std::string(names.variable) + "_LOG"),
      scenarioFile_(std::string(names.files) + ".ini"),
      logFile_(std::string(names.files) + ".log"),
      noScenario_(names.noScenario),
      unusable_(names.unusable) {}

LibraryRuntime::~LibraryRuntime() {
    if (logFd_ >= 0) close(logFd_);
}

void LibraryRuntime::Complain(const std::string& text) const {
    const std::string line = library_ + ".so (simulator): " + text + "\n";
    std::fputs(line.c_str(), stderr);
}

ScenarioOutcome LibraryRuntime::Load(const TakeScenario& take) {
    loaded_ = true;
    if (logFd_ >= 0) close(logFd_);
    logFd_ = -1;

    const char* named = Setting(scenarioVariable_.c_str());
    const std::filesystem::path scenario =
        named ? std::filesystem::path(named) : LibraryFolder() / scenarioFile_;
    std::ifstream in(scenario, std::ios::binary);
    const int readError = errno;
    const char* logName = Setting(logVariable_.c_str());
    // Without a scenario of its own choosing the library leaves no files behind.
    if (!in && !named && !logName) return ScenarioOutcome::Absent;
    const std::filesystem::path log =
        logName ? std::filesystem::path(logName) : scenario.parent_path() / logFile_;
    logFd_ = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (logFd_ < 0) {
        Complain("cannot write the log " + log.string() + ": " + std::strerror(errno));
    }

    std::string problem;
    if (!in) {
        if (!named) {
            Log("no scenario " + scenario.string() + ": " + noScenario_);
            return ScenarioOutcome::Absent;
        }
        problem =
            scenario.string() + ": cannot read the scenario (" + std::strerror(readError) + ")";
    } else {
        const std::string text{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
        try {
            const std::string summary = take(text, scenario.string());
            Log("scenario " + scenario.string() + ": " + summary);
            return ScenarioOutcome::Used;
        } catch (const ScenarioError& e) {
            problem = e.what();
        }
    }
    const std::string report = problem + "; " + unusable_;
    Log(report);
    Complain(report);
    return ScenarioOutcome::Unusable;
}

void LibraryRuntime::Log(std::string_view name, std::string_view text) {
    if (logFd_ < 0) return;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const std::string line =
        "[" + Fixed3(seconds) + "] " + std::string(name) + ": " + std::string(text) + "\n";
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t n = write(logFd_, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace karvelo::simcommon
