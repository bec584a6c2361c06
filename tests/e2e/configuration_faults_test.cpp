// Broken files beside the program, as a bench may have them after a crash, a
// wrong copy or a hand edit: the station (and --show-config) says what it
// cannot read, keeps running on defaults and leaves the file alone.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/profile.h"
#include "support/process.h"
#include "support/station_process.h"
#include "support/temp_dir.h"

namespace karvelo {
namespace {

namespace fs = std::filesystem;
using karvelo::testing::Key;
using karvelo::testing::Lines;
using karvelo::testing::RunProcess;
using karvelo::testing::Station;
using karvelo::testing::TempDir;
using namespace std::chrono_literals;

// Long enough for the station to be up and measuring.
constexpr auto kRunning = 1500ms;

void Install(const TempDir& dir) {
    fs::copy_file(KARVELO_BINARY, dir.file("karvelo"));
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::string Utf16Be(const std::string& ascii) {
    std::string out = "\xFE\xFF";
    for (const char c : ascii) {
        out.push_back('\0');
        out.push_back(c);
    }
    return out;
}

struct BrokenFile {
    const char* what;
    void (*make)(const TempDir& dir);
    const char* why;
};

const BrokenFile kBrokenFiles[] = {
    {"folder", [](const TempDir& d) { fs::create_directory(d.file("karvelo.cfg")); },
     "(it is a folder)"},
    {"named pipe", [](const TempDir& d) { ::mkfifo(d.file("karvelo.cfg").c_str(), 0644); },
     "(it is a named pipe)"},
    {"binary junk",
     [](const TempDir& d) {
         std::string junk;
         for (int i = 0; i < 2048; ++i) junk.push_back(static_cast<char>((i * 7919 + 13) % 256));
         d.Write("karvelo.cfg", junk);
     },
     "(it is not a text file"},
    {"UTF-16 without byte-order mark",
     [](const TempDir& d) {
         d.Write("karvelo.cfg", Utf16Be("[EXPORT]\r\nexporttype=2\r\n").substr(2));
     },
     "(it is not a text file"},
};

TEST(ConfigurationFaults, ShowConfigSaysWhichFileItCannotRead) {
    for (const BrokenFile& c : kBrokenFiles) {
        SCOPED_TRACE(c.what);
        TempDir install;
        Install(install);
        c.make(install);
        const auto r = RunProcess({install.file("karvelo"), "--show-config"}, {}, {}, 10s);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(Count(r.err, "Cannot read the configuration file " + install.file("karvelo.cfg") +
                                   " " + c.why),
                  1u)
            << r.err;
        EXPECT_EQ(testing::ReportFields(r.out)["ExportType"], "0");
    }
}

// The stations run side by side, one per kind of broken file.
TEST(ConfigurationFaults, StationSaysOnceWhatItCannotReadAndLeavesTheFile) {
    std::vector<std::unique_ptr<TempDir>> installs;
    std::vector<std::unique_ptr<Station>> stations;
    std::vector<std::string> before;
    for (const BrokenFile& c : kBrokenFiles) {
        installs.push_back(std::make_unique<TempDir>());
        const TempDir& install = *installs.back();
        Install(install);
        c.make(install);
        before.push_back(fs::is_regular_file(install.file("karvelo.cfg"))
                             ? install.Read("karvelo.cfg")
                             : std::string());
        stations.push_back(std::make_unique<Station>(install));
    }
    std::this_thread::sleep_for(kRunning);
    for (std::size_t i = 0; i < stations.size(); ++i) {
        const BrokenFile& c = kBrokenFiles[i];
        const TempDir& install = *installs[i];
        SCOPED_TRACE(c.what);
        EXPECT_EQ(stations[i]->Stop(SIGTERM), 0) << install.Read("station.err");
        const std::string err = install.Read("station.err");
        EXPECT_EQ(Count(err, "Cannot read the configuration file " + install.file("karvelo.cfg") +
                                 " " + c.why),
                  1u)
            << err;
        EXPECT_EQ(Count(err, "Cannot read the configuration file"), 1u) << err;
        EXPECT_NE(err.find("uses the default settings"), std::string::npos) << err;

        const fs::path file = install.file("karvelo.cfg");
        if (before[i].empty()) {
            EXPECT_FALSE(fs::is_regular_file(file)) << "still the folder or pipe it was";
        } else {
            EXPECT_EQ(install.Read("karvelo.cfg"), before[i]) << "nothing written into the file";
        }
        for (const auto& entry : fs::directory_iterator(install.path())) {
            EXPECT_NE(entry.path().filename().string().rfind(".karvelo", 0), 0u)
                << "temporary file left: " << entry.path();
        }
    }
}

TEST(ConfigurationFaults, Utf16BigEndianIsReadAndWrittenBackAsItWas) {
    TempDir install;
    Install(install);
    install.Write("karvelo.cfg", Utf16Be("[WINDOW]\r\nmaxno=2\r\n[IDNR]\r\ntextlast=LOT-16\r\n"
                                         "[DEVICE2]\r\ntextlast=operator\r\n"));
    Station station(install);
    std::this_thread::sleep_for(kRunning);
    EXPECT_EQ(station.Stop(SIGTERM), 0) << install.Read("station.err");
    EXPECT_EQ(install.Read("station.err").find("configuration file"), std::string::npos)
        << install.Read("station.err");

    const std::string bytes = install.Read("karvelo.cfg");
    const platform::ProfileDocument doc =
        platform::ProfileDocument::Load(install.file("karvelo.cfg"));
    EXPECT_EQ(doc.encoding(), platform::TextEncoding::Utf16BeBom);
    EXPECT_EQ(bytes.size() % 2, 0u);
    for (std::size_t i = 2; i < bytes.size(); i += 2) {
        ASSERT_EQ(bytes[i], '\0') << "an 8-bit character at byte " << i;
    }
    EXPECT_EQ(doc.Find(L"WINDOW", L"maxno"), L"2");
    EXPECT_EQ(doc.Find(L"IDNR", L"textlast"), L"LOT-16");
    EXPECT_EQ(doc.Find(L"DEVICE2", L"textlast"), L"operator");
    // The default position 663 moved left onto the offscreen platform's 800 x
    // 800 screen, the window being 355 wide and its frame 2 on each side.
    EXPECT_EQ(doc.Find(L"WINDOW", L"X"), L"441");
    EXPECT_EQ(doc.Find(L"DEVICE10", L"textlast"), L"");
}

// What writes of a killed station left behind goes at the next start; the
// temporary file of a write still running elsewhere (locked) stays.
TEST(ConfigurationFaults, StartRemovesStaleTemporaryFiles) {
    TempDir install;
    Install(install);
    install.Write("karvelo.cfg", "[MAIN]\r\ncfg=0\r\n");
    const std::vector<std::string> stale = {".karvelo.cfg.k1Ll3d", ".karvelo.cfg.AAAAAA",
                                            ".karvelo2.cfg.zz9Zz9"};
    for (const std::string& name : stale) install.Write(name, "[MAIN]\r\ncf");
    install.Write(".karvelo.cfg.wr1t3s", "[MAIN]\r\ncfg=0\r\n");
    install.Write("notes.txt", "not ours");
    const int live = ::open(install.file(".karvelo.cfg.wr1t3s").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(live, 0);
    ASSERT_EQ(::flock(live, LOCK_EX), 0);

    Station station(install);
    std::this_thread::sleep_for(kRunning);
    EXPECT_EQ(station.Stop(SIGTERM), 0) << install.Read("station.err");
    ::close(live);
    for (const std::string& name : stale) EXPECT_FALSE(install.Exists(name)) << name;
    EXPECT_TRUE(install.Exists(".karvelo.cfg.wr1t3s"));
    EXPECT_TRUE(install.Exists("notes.txt"));
}

// The spool files of kept records are read at start too: a named pipe under
// such a name is passed over, not waited for.
TEST(ConfigurationFaults, NamedPipeAmongTheSpoolFilesDoesNotHoldTheStart) {
    TempDir install;
    Install(install);
    const std::string pipe = install.file("karvelo-pending-x.csv-0000000000000000.spool");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    Station station(install);
    std::this_thread::sleep_for(kRunning);
    EXPECT_EQ(station.Stop(SIGTERM), 0) << install.Read("station.err");
    EXPECT_NE(install.Read("station.err").find("ignoring unreadable spool file " + pipe),
              std::string::npos)
        << install.Read("station.err");
    EXPECT_TRUE(fs::is_fifo(pipe));
}

TEST(ConfigurationFaults, ExtremeWindowPositionIsSavedBackClamped) {
    TempDir install;
    Install(install);
    install.Write("karvelo.cfg", "[WINDOW]\r\nX=2147483647\r\nY=-2147483648\r\n");
    const auto shown = RunProcess({install.file("karvelo"), "--show-config"}, {}, {}, 10s);
    auto fields = testing::ReportFields(shown.out);
    EXPECT_EQ(fields["WindowX"], "32767");
    EXPECT_EQ(fields["WindowY"], "-32768");

    Station station(install);
    std::this_thread::sleep_for(kRunning);
    EXPECT_EQ(station.Stop(SIGTERM), 0) << install.Read("station.err");
    // The window itself goes wholly onto the offscreen platform's 800 x 800
    // screen (355 + 2 * 2 wide with its frame), and that is the position saved.
    EXPECT_EQ(Key(install, "karvelo.cfg", L"WINDOW", L"X"), L"441");
    EXPECT_EQ(Key(install, "karvelo.cfg", L"WINDOW", L"Y"), L"0");
}

}  // namespace
}  // namespace karvelo
