#include "platform/config_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace karvelo::platform {
namespace {

using karvelo::testing::TempDir;

TEST(ConfigFolder, BesideAWritableProgramElseTheUsersFolder) {
    struct Case {
        const char* what;
        FolderFacts facts;
        const char* folder;
    };
    const Case cases[] = {
        {"portable install, writable",
         {"/opt/bench/karvelo", true, "", "/home/qs"},
         "/opt/bench/karvelo/"},
        {"read-only program folder",
         {"/opt/bench/karvelo", false, "", "/home/qs"},
         "/home/qs/.config/karvelo/"},
        {"installed, even for root who may write it",
         {"/usr/bin", true, "", "/root"},
         "/root/.config/karvelo/"},
        {"installed under /usr/local",
         {"/usr/local/bin", true, "", "/home/qs"},
         "/home/qs/.config/karvelo/"},
        {"XDG_CONFIG_HOME", {"/usr/bin", false, "/srv/cfg", "/home/qs"}, "/srv/cfg/karvelo/"},
        {"XDG_CONFIG_HOME with a slash",
         {"/usr/bin", false, "/srv/cfg/", "/home/qs"},
         "/srv/cfg/karvelo/"},
        {"a relative XDG_CONFIG_HOME is ignored",
         {"/usr/bin", false, "cfg", "/home/qs"},
         "/home/qs/.config/karvelo/"},
        {"no home at all", {"/usr/bin", false, "", ""}, "/usr/bin/"},
        {"a folder that only starts like /usr",
         {"/usrdata/karvelo", true, "", "/home/qs"},
         "/usrdata/karvelo/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ConfigFolderFor(c.facts), c.folder);
    }
}

TEST(ConfigFolder, DefaultsAreCopiedOnceAndNeverOverwritten) {
    TempDir dir;
    const std::string program = dir.file("program");
    const std::string site = dir.file("etc");
    std::filesystem::create_directories(program);
    std::filesystem::create_directories(site);
    dir.Write("program/karvelo.cfg", "[WINDOW]\nmaxno=3\n");
    dir.Write("etc/karvelo.cfg", "[WINDOW]\nmaxno=9\n");
    dir.Write("etc/karvelo2.cfg", "[WINDOW]\nmaxno=2\n");
    const std::string user = dir.file("home/.config/karvelo");
    const std::vector<std::string> files = {"karvelo.cfg", "karvelo1.cfg", "karvelo2.cfg"};

    EXPECT_EQ(PrepareConfigFolder(user, {program, site}, files), "");
    // Beside the program comes first; the site's file fills what is missing.
    EXPECT_EQ(dir.Read("home/.config/karvelo/karvelo.cfg"), "[WINDOW]\nmaxno=3\n");
    EXPECT_EQ(dir.Read("home/.config/karvelo/karvelo2.cfg"), "[WINDOW]\nmaxno=2\n");
    EXPECT_FALSE(std::filesystem::exists(user + "/karvelo1.cfg"));

    // The user changes one and removes another; the next start keeps both so.
    dir.Write("home/.config/karvelo/karvelo.cfg", "[WINDOW]\nmaxno=7\n");
    std::filesystem::remove(user + "/karvelo2.cfg");
    EXPECT_EQ(PrepareConfigFolder(user, {program, site}, files), "");
    EXPECT_EQ(dir.Read("home/.config/karvelo/karvelo.cfg"), "[WINDOW]\nmaxno=7\n");
    EXPECT_FALSE(std::filesystem::exists(user + "/karvelo2.cfg"));
}

TEST(ConfigFolder, AFolderThatCannotBeMadeSaysWhy) {
    TempDir dir;
    dir.Write("blocked", "a file where a folder should be");
    const std::string problem =
        PrepareConfigFolder(dir.file("blocked/karvelo"), {}, {"karvelo.cfg"});
    EXPECT_NE(problem.find(dir.file("blocked/karvelo")), std::string::npos) << problem;
}

}  // namespace
}  // namespace karvelo::platform
