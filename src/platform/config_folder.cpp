#include "platform/config_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace karvelo::platform {
namespace {

namespace fs = std::filesystem;

// Folders a package installs into: never a place for one user's settings,
// even for root, who may write them.
constexpr const char* kSystemFolders[] = {"/usr/", "/bin/", "/sbin/", "/lib/", "/lib64/"};

bool IsSystemFolder(const std::string& dir) {
    const std::string slashed = dir + "/";
    for (const char* prefix : kSystemFolders) {
        if (slashed.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

std::string WithSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

}  // namespace

FolderFacts CurrentFolderFacts(const std::string& programDir) {
    FolderFacts f;
    f.programDir = programDir;
    f.programDirWritable = !programDir.empty() && ::access(programDir.c_str(), W_OK) == 0;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME")) f.xdgConfigHome = xdg;
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        f.home = home;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir) {
        f.home = pw->pw_dir;
    }
    return f;
}

bool KeepsConfigBesideProgram(const FolderFacts& facts) {
    return facts.programDirWritable && !IsSystemFolder(facts.programDir);
}

std::string ConfigFolderFor(const FolderFacts& facts) {
    if (KeepsConfigBesideProgram(facts)) return WithSlash(facts.programDir);
    // A relative $XDG_CONFIG_HOME is invalid and ignored, as the base
    // directory rules say.
    if (!facts.xdgConfigHome.empty() && facts.xdgConfigHome.front() == '/') {
        return WithSlash(facts.xdgConfigHome) + "karvelo/";
    }
    if (!facts.home.empty()) return WithSlash(facts.home) + ".config/karvelo/";
    // No home at all (a service account): beside the program after all.
    return WithSlash(facts.programDir);
}

std::string PrepareConfigFolder(const std::string& folder, const std::vector<std::string>& sources,
                                const std::vector<std::string>& files) {
    std::error_code ec;
    if (fs::exists(folder, ec)) return {};
    fs::create_directories(folder, ec);
    if (ec) return "cannot create " + folder + ": " + ec.message();
    std::string problems;
    for (const std::string& name : files) {
        for (const std::string& source : sources) {
            const fs::path from = fs::path(source) / name;
            if (!fs::is_regular_file(from, ec)) continue;
            fs::copy_file(from, fs::path(folder) / name, fs::copy_options::skip_existing, ec);
            if (ec) {
                if (!problems.empty()) problems += "; ";
                problems += "cannot copy " + from.string() + ": " + ec.message();
            }
            break;
        }
    }
    return problems;
}

}  // namespace karvelo::platform
