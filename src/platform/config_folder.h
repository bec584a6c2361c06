#pragma once
// Where the station keeps its configuration. A program in a folder of its own
// that it may write (a portable install, the demo) keeps it beside itself. An
// installed program (a system folder such as /usr/bin, or any folder this
// user may not write) keeps it in the user's configuration folder,
// $XDG_CONFIG_HOME/karvelo/ (default ~/.config/karvelo/), created on first
// start with the defaults a site ships beside the program or in /etc/karvelo/.

#include <string>
#include <vector>

namespace karvelo::platform {

// What the choice depends on, read from the process by CurrentFolderFacts.
struct FolderFacts {
    std::string programDir;  // without a trailing '/'
    bool programDirWritable = false;
    std::string xdgConfigHome;  // $XDG_CONFIG_HOME, may be empty
    std::string home;           // $HOME, else the password database's
};

FolderFacts CurrentFolderFacts(const std::string& programDir);

// The configuration folder for these facts, ending in '/'.
std::string ConfigFolderFor(const FolderFacts& facts);

// True when the configuration stays beside the program.
bool KeepsConfigBesideProgram(const FolderFacts& facts);

// Creates `folder` (and its parents) when it does not exist and then copies
// into it, once, each of `files` that the first of `sources` holding it has.
// A folder that exists is left as it is: nothing is ever overwritten, and a
// file the user removed does not come back. Returns what went wrong, empty
// when all is well.
std::string PrepareConfigFolder(const std::string& folder, const std::vector<std::string>& sources,
                                const std::vector<std::string>& files);

}  // namespace karvelo::platform
