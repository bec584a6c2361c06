// Every serial instrument type of the catalogue, read end to end: the real
// program's --probe opens the simulated instrument's pseudo-terminal with the
// type's line profile, sends its request and reads the reply with its reader.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "support/process.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace karvelo {
namespace {

using karvelo::testing::RunProcess;
using karvelo::testing::SimProcess;
using karvelo::testing::TempDir;

struct TypeCase {
    int type;
    const char* simKeys;   // extra scenario keys
    const char* slotKeys;  // extra slot keys
    const char* value;     // expected Value
};

const TypeCase kTypes[] = {
    {1, "values=12.345", "", "12.345"},
    {2, "values=12.345\nevery_ms=100", "", "12.345"},  // triggered by a DTR pulse: sends by itself
    {3, "values=12.345", "ch=1\n", "12.345"},
    {4, "values=-1.5", "", "-1.5"},
    {5, "values=12.345", "", "12.345"},
    {6, "values=12.345\nevery_ms=100", "", "12.345"},  // triggered by a break: sends by itself
    {8, "values=12.345", "", "12.345"},
    {9, "values=23.4/-5.25\npoints=1/2", "ch=2\n", "-5.25"},
    {19, "values=12.345", "ch=0\n", "12.345"},
    {23, "values=12.345", "", "12.345"},
    {24, "values=1.23", "", "1.23"},
    {25, "values=1.5/2.5", "ch=2\n", "2.5"},
    {26, "values=1.5/2.5/3.5", "ch=3\n", "3.5"},
    {27, "values=12.345", "", "12.345"},
    {28, "values=12.345", "", "12.345"},
    {50, "values=20.5", "", "20.5"},
    {57, "values=12.345", "", "12.345"},
};

TEST(AllSerialTypes, EachIsReadThroughItsTerminal) {
    TempDir bench;
    TempDir install;
    std::filesystem::copy_file(KARVELO_BINARY, install.file("karvelo"));
    std::string scenario;
    std::string ports = "[PORTS]\n";
    int com = 1;
    for (const TypeCase& c : kTypes) {
        const std::string link = bench.file("tty" + std::to_string(c.type));
        scenario += "[type" + std::to_string(c.type) + "]\nlink=" + link +
                    "\ntype=" + std::to_string(c.type) + "\n" + c.simKeys + "\n";
        ports += "COM" + std::to_string(com++) + "=" + link + "\n";
    }
    SimProcess sim(bench.path(), scenario);
    ASSERT_TRUE(sim.ready()) << sim.Log();

    com = 1;
    for (const TypeCase& c : kTypes) {
        SCOPED_TRACE(::testing::Message() << "type " << c.type);
        install.Write("karvelo.cfg", ports + "[DEVICE1]\ntyp=" + std::to_string(c.type) +
                                         "\nport=" + std::to_string(com++) + "\nformat=3\n" +
                                         c.slotKeys);
        const auto r = RunProcess({install.file("karvelo"), "--batch", "--probe", "1"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        auto f = karvelo::testing::ReportFields(r.out);
        EXPECT_EQ(f["Slot1.Value"], c.value) << r.out << sim.Log();
        EXPECT_EQ(f["Slot1.StatusText"], "");
        EXPECT_EQ(f["Slot1.ValueError"], "0");
    }
}

}  // namespace
}  // namespace karvelo
