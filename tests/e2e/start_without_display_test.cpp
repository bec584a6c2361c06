// Starting the station where there is no desktop, and with options it does
// not know: a clear line and an exit code, never an abort inside the toolkit.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/process.h"
#include "support/temp_dir.h"

namespace karvelo {
namespace {

using karvelo::testing::ProcessResult;
using karvelo::testing::RunProcess;
using karvelo::testing::TempDir;
using namespace std::chrono_literals;

const std::vector<std::string> kNoDesktop = {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="};

class StartTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::copy_file(KARVELO_BINARY, install.file("karvelo"));
        install.Write("karvelo.cfg", "[WINDOW]\r\nmaxno=1\r\n");
    }
    ProcessResult Run(std::vector<std::string> args, std::vector<std::string> env = kNoDesktop,
                      std::chrono::milliseconds limit = 20s) {
        args.insert(args.begin(), install.file("karvelo"));
        return RunProcess(args, install.path().string(), env, limit);
    }
    TempDir install;
};

TEST_F(StartTest, NoDisplaySaysSoInOneLine) {
    const ProcessResult r = Run({});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("no display found (DISPLAY is not set)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\"--batch\""), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("reinstalling"), std::string::npos) << r.err;

    const ProcessResult unreachable =
        Run({}, {"DISPLAY=:97", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="});
    EXPECT_EQ(unreachable.exitCode, 1) << unreachable.err;
    EXPECT_NE(unreachable.err.find("cannot be reached"), std::string::npos) << unreachable.err;
}

TEST_F(StartTest, BatchWithoutDisplayRunsOffscreen) {
    // The station runs until the time is up: it did not stop at the missing display.
    const ProcessResult r = Run({"--batch"}, kNoDesktop, 3s);
    EXPECT_TRUE(r.timedOut) << r.exitCode << " " << r.err;
    EXPECT_EQ(r.err.find("no display"), std::string::npos) << r.err;
}

TEST_F(StartTest, UnknownOptionsAreRefusedWithTheUsage) {
    for (const char* option : {"-v", "--verbose", "extra"}) {
        const ProcessResult r = Run({option});
        EXPECT_EQ(r.exitCode, 2) << option;
        EXPECT_NE(r.err.find(option), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Usage: karvelo"), std::string::npos) << r.err;
    }
    // The toolkit's own options still reach it.
    const ProcessResult qt = Run({"-platform", "offscreen", "-reverse", "--version"});
    EXPECT_EQ(qt.exitCode, 0) << qt.err;
}

}  // namespace
}  // namespace karvelo
