#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace karvelo::app {
namespace {

struct HistoryCase {
    std::vector<std::string> args;
    RunMode mode;
    const char* from;
    const char* to;
};

TEST(CommandLine, HistoryTakesUpToTwoDates) {
    const HistoryCase cases[] = {
        {{"--history"}, RunMode::History, "", ""},
        {{"--history", "2026-12-01"}, RunMode::History, "2026-12-01", ""},
        {{"--history", "2026-12-01", "2026-12-31"}, RunMode::History, "2026-12-01", "2026-12-31"},
        {{"--history", "--batch"}, RunMode::History, "", ""},
        {{"--history", "2026-12-1"}, RunMode::Error, "", ""},
        {{"--history", "2026-00-10"}, RunMode::Error, "", ""},
        {{"--history", "2026-12-32"}, RunMode::Error, "", ""},
        {{"--history", "2026-12-01", "2026-12-02", "2026-12-03"}, RunMode::Error, "", ""},
    };
    for (const HistoryCase& c : cases) {
        std::vector<std::string> args = {"karvelo"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CommandLine cl = ParseCommandLine(args);
        SCOPED_TRACE(args.size() > 2 ? args[2] : "none");
        EXPECT_EQ(cl.mode, c.mode) << cl.error;
        EXPECT_EQ(cl.historyFrom, c.from);
        EXPECT_EQ(cl.historyTo, c.to);
    }
}

}  // namespace
}  // namespace karvelo::app
