// The simulated libftd2xx.so, loaded the way the station loads FTDI's library
// and driven through the raw D2XX calls: what each adapter answers, how its
// misbehaviour shows, which opens are refused, what a read waits for.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "backends/ftdi/d2xx_api.h"
#include "platform/shared_library.h"
#include "support/temp_dir.h"

namespace karvelo {
namespace {

using namespace karvelo::ftdi;
using karvelo::platform::SharedLibrary;
using karvelo::testing::TempDir;
using Clock = std::chrono::steady_clock;

// The library's calls, resolved by name like the station's back-end does.
struct D2xxCalls {
    FT_OpenFn Open = nullptr;
    FT_CloseFn Close = nullptr;
    FT_ReadFn Read = nullptr;
    FT_WriteFn Write = nullptr;
    FT_SetBaudRateFn SetBaudRate = nullptr;
    FT_SetDataCharacteristicsFn SetDataCharacteristics = nullptr;
    FT_SetDtrFn SetDtr = nullptr;
    FT_ClrDtrFn ClrDtr = nullptr;
    FT_SetTimeoutsFn SetTimeouts = nullptr;
    FT_GetQueueStatusFn GetQueueStatus = nullptr;
    FT_GetDeviceInfoFn GetDeviceInfo = nullptr;
    int (*Reload)() = nullptr;

    bool Resolve(const SharedLibrary& lib) {
        auto get = [&](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(lib.Symbol(name));
            return fn != nullptr;
        };
        return get(Open, "FT_Open") && get(Close, "FT_Close") && get(Read, "FT_Read") &&
               get(Write, "FT_Write") && get(SetBaudRate, "FT_SetBaudRate") &&
               get(SetDataCharacteristics, "FT_SetDataCharacteristics") &&
               get(SetDtr, "FT_SetDtr") && get(ClrDtr, "FT_ClrDtr") &&
               get(SetTimeouts, "FT_SetTimeouts") && get(GetQueueStatus, "FT_GetQueueStatus") &&
               get(GetDeviceInfo, "FT_GetDeviceInfo") && get(Reload, "KarveloSimReload");
    }
};

struct Line {
    ULONG baud;
    UCHAR bits, stop, parity;
};
constexpr Line kPuLine{57600, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE};
constexpr Line kSlowLine{4800, FT_BITS_7, FT_STOP_BITS_2, FT_PARITY_EVEN};

// A request in a table: written bytes, or a DTR pulse.
constexpr const char* kDtrPulse = "<DTR pulse>";

// Each test gets its own scenario, log and a freshly read library state.
class FtdiSim : public ::testing::Test {
  protected:
    void TearDown() override {
        unsetenv("KARVELO_FTDI_SIM");
        unsetenv("KARVELO_FTDI_SIM_LOG");
    }

    // Loads the library with this scenario text (nullopt: no scenario file).
    void Load(const std::optional<std::string>& scenario) {
        if (scenario) dir_.Write("bench.ini", *scenario);
        setenv("KARVELO_FTDI_SIM", dir_.file("bench.ini").c_str(), 1);
        setenv("KARVELO_FTDI_SIM_LOG", dir_.file("sim.log").c_str(), 1);
        lib_ = SharedLibrary::Load("libftd2xx.so", KARVELO_SIM_DIR);
        ASSERT_TRUE(lib_.loaded()) << lib_.error();
        ASSERT_TRUE(ft_.Resolve(lib_));
        // Another test in this process may have used the library already.
        ft_.Reload();
    }

    std::string Log() const { return dir_.Read("sim.log"); }

    // Opens an adapter with its line set as given and a read time-out.
    FT_HANDLE OpenAt(int index, Line line, ULONG readMs = 300) {
        FT_HANDLE h = nullptr;
        EXPECT_EQ(ft_.Open(index, &h), FT_OK) << Log();
        EXPECT_EQ(ft_.SetBaudRate(h, line.baud), FT_OK);
        EXPECT_EQ(ft_.SetDataCharacteristics(h, line.bits, line.stop, line.parity), FT_OK);
        EXPECT_EQ(ft_.SetTimeouts(h, readMs, readMs), FT_OK);
        return h;
    }

    struct Exchanged {
        DWORD written = 0;
        std::string reply;
    };

    // Sends one request and takes exactly what the queue then holds: replies
    // are queued at once, so nothing arrives later.
    Exchanged Exchange(FT_HANDLE h, const std::string& request) {
        Exchanged e;
        if (request == kDtrPulse) {
            EXPECT_EQ(ft_.SetDtr(h), FT_OK);
            EXPECT_EQ(ft_.ClrDtr(h), FT_OK);
        } else {
            std::string bytes = request;
            EXPECT_EQ(ft_.Write(h, bytes.data(), static_cast<DWORD>(bytes.size()), &e.written),
                      FT_OK);
        }
        DWORD queued = 0;
        EXPECT_EQ(ft_.GetQueueStatus(h, &queued), FT_OK);
        e.reply.resize(queued);
        DWORD got = 0;
        EXPECT_EQ(ft_.Read(h, e.reply.data(), queued, &got), FT_OK);
        EXPECT_EQ(got, queued);
        return e;
    }

    TempDir dir_;
    SharedLibrary lib_;
    D2xxCalls ft_;
};

TEST_F(FtdiSim, EachProtocolAnswersItsOwnCommandsOnItsOwnLine) {
    struct Case {
        const char* what;
        const char* keys;  // the adapter's section, without the header
        Line line;
        std::vector<std::string> writes;
        const char* reply;
    };
    const char* plainPu = "protocol=pu\nvalues=1.5/-2.25\n";
    const char* framedPu = "protocol=pu\nfirmware=framed\nvalues=1.5/-2.25\n";
    const std::vector<Case> cases = {
        {"plain VER", plainPu, kPuLine, {"VER\r"}, "PU V1.07 plain\r\n"},
        {"plain firmware, framed VER",
         plainPu,
         kPuLine,
         {"$VER*41\r"},
         "ERROR: unknown command\r\n"},
        {"plain PRI: five fields, flag",
         plainPu,
         kPuLine,
         {"PRI\r"},
         "PRI,+1.500,-2.250,+0.000,+0.000,+0.000,0\r\n"},
        {"plain PRI,5 with prefix",
         "protocol=pu\nvalues=1.5/-2.25\nprefix=\" A+B:\"\n",
         kPuLine,
         {"PRI,5\r\n"},
         "PRI A+B:,+1.500,-2.250,+0.000,+0.000,+0.000,0\r\n"},
        {"plain firmware, framed PRI",
         plainPu,
         kPuLine,
         {"$PRI*4B\r"},
         "ERROR: unknown command\r\n"},
        {"command over three writes, LF ignored",
         plainPu,
         kPuLine,
         {"P", "R\n", "I\r"},
         "PRI,+1.500,-2.250,+0.000,+0.000,+0.000,0\r\n"},
        {"no CR yet: no answer", plainPu, kPuLine, {"PRI"}, ""},
        {"framed firmware, plain VER", framedPu, kPuLine, {"VER\r"}, "ERROR: unknown command\r\n"},
        {"framed VER", framedPu, kPuLine, {"$VER*41\r"}, "$VER,V2.03*24\r\n"},
        {"framed PRI",
         framedPu,
         kPuLine,
         {"$PRI*4B\r"},
         "$PRI,+1.500,-2.250,+0.000,+0.000,+0.000,0*79\r\n"},
        {"framed PRI,5 with prefix",
         "protocol=pu\nfirmware=framed\nvalues=1.5/-2.25\nprefix=\" A+B:\"\n",
         kPuLine,
         {"$PRI,5*52\r"},
         "$PRI A+B:,+1.500,-2.250,+0.000,+0.000,+0.000,0*4B\r\n"},
        {"one-digit checksum",
         "protocol=pu\nfirmware=framed\nvalues=1.5\nprefix=L:\n",
         kPuLine,
         {"$PRI*4B\r"},
         "$PRIL:,+1.500,+0.000,+0.000,+0.000,+0.000,0*C\r\n"},
        {"framed PRI, wrong checksum", framedPu, kPuLine, {"$PRI*4C\r"}, "$ERROR*58\r\n"},
        {"framed firmware, plain PRI", framedPu, kPuLine, {"PRI\r"}, "$ERROR*58\r\n"},
        {"pu at 9600 baud", plainPu, {9600, 8, 0, 0}, {"VER\r"}, ""},
        {"pu with 7 bits", plainPu, {57600, 7, 0, 0}, {"VER\r"}, ""},
        {"mfp",
         "protocol=mfp\nvalues=12.345\ndecimals=2\nflag=1\n",
         kSlowLine,
         {"$i0*59\r"},
         "$i0,+12.35,1*68\r\n"},
        {"mfp, unframed request", "protocol=mfp\n", kSlowLine, {"i0\r"}, "$ERROR*58\r\n"},
        {"mfp, wrong checksum", "protocol=mfp\n", kSlowLine, {"$i0*5A\r"}, "$ERROR*58\r\n"},
        {"mfp on the pu line", "protocol=mfp\n", kPuLine, {"$i0*59\r"}, ""},
        {"16exu takes no written request", "protocol=16exu\n", kSlowLine, {"?\r", "PRI\r"}, ""},
        {"16exu, DTR pulse",
         "protocol=16exu\nvalues=-0.5\ndecimals=2\n",
         kSlowLine,
         {kDtrPulse},
         "-0.50\r\n"},
        {"16exu, DTR pulse on the pu line", "protocol=16exu\n", kPuLine, {kDtrPulse}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Load(std::string("[a]\ndescription=Adapter\n") + c.keys);
        FT_HANDLE h = OpenAt(0, c.line);
        std::string reply;
        for (const std::string& w : c.writes) reply += Exchange(h, w).reply;
        EXPECT_EQ(reply, c.reply) << Log();
        EXPECT_EQ(ft_.Close(h), FT_OK);
    }
}

TEST_F(FtdiSim, RepliesCycleAndMisbehaveOnTheChosenTurns) {
    struct Step {
        std::string reply;
        int written = -1;  // -1: the whole request
    };
    struct Case {
        const char* what;
        const char* keys;
        Line line;
        const char* request;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"values and flags cycle apart",
         "protocol=pu\nvalues=1 2\nflag=0 1 2\ndecimals=1\n",
         kPuLine,
         "PRI\r",
         {{"PRI,+1.0,+0.0,+0.0,+0.0,+0.0,0\r\n"},
          {"PRI,+2.0,+0.0,+0.0,+0.0,+0.0,1\r\n"},
          {"PRI,+1.0,+0.0,+0.0,+0.0,+0.0,2\r\n"},
          {"PRI,+2.0,+0.0,+0.0,+0.0,+0.0,0\r\n"}}},
        {"E05 in the third field of every second reply",
         "protocol=pu\nvalues=1/2/3/4/5\ndecimals=0\nbehaviour=error\nerror_field=3\nevery=2\n",
         kPuLine,
         "PRI\r",
         {{"PRI,+1,+2,+3,+4,+5,0\r\n"},
          {"PRI,+1,+2,E05,+4,+5,0\r\n"},
          {"PRI,+1,+2,+3,+4,+5,0\r\n"},
          {"PRI,+1,+2,E05,+4,+5,0\r\n"}}},
        {"mfp error, flags go on",
         "protocol=mfp\nvalues=1\ndecimals=2\nflag=0 1 2\nbehaviour=error\nafter=2\n",
         kSlowLine,
         "$i0*59\r",
         {{"$i0,+1.00,0*5D\r\n"}, {"$i0,+1.00,1*5C\r\n"}, {"$i0,E05,2*2B\r\n"}}},
        {"silent after 1 every 2; a silent turn uses its value",
         "protocol=mfp\nvalues=1 2 3\ndecimals=2\nflag=0 1 2\nbehaviour=silent\nafter=1\nevery=2\n",
         kSlowLine,
         "$i0*59\r",
         {{"$i0,+1.00,0*5D\r\n"}, {"$i0,+2.00,1*5F\r\n"}, {""}, {"$i0,+1.00,0*5D\r\n"}, {""}}},
        {"silent: VER still answered",
         "protocol=pu\nbehaviour=silent\n",
         kPuLine,
         "VER\r",
         {{"PU V1.07 plain\r\n"}, {"PU V1.07 plain\r\n"}}},
        {"short write every 2",
         "protocol=pu\nvalues=7\ndecimals=0\nbehaviour=short_write\nevery=2\n",
         kPuLine,
         "PRI,5\r",
         {{"PRI,+7,+0,+0,+0,+0,0\r\n"}, {"", 2}, {"PRI,+7,+0,+0,+0,+0,0\r\n"}, {"", 2}}},
        {"cut after 1: the first half",
         "protocol=pu\nfirmware=framed\nvalues=1.5\nbehaviour=cut\nafter=1\n",
         kPuLine,
         "$PRI*4B\r",
         {{"$PRI,+1.500,+0.000,+0.000,+0.000,+0.000,0*7A\r\n"},
          {"$PRI,+1.500,+0.000,+0.0"},
          {"$PRI,+1.500,+0.000,+0.0"}}},
        {"16exu error every 3",
         "protocol=16exu\nvalues=-0.5 1.25\ndecimals=2\nbehaviour=error\nevery=3\n",
         kSlowLine,
         kDtrPulse,
         {{"-0.50\r\n"}, {"+1.25\r\n"}, {"E05\r\n"}, {"+1.25\r\n"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Load(std::string("[a]\ndescription=Adapter\n") + c.keys);
        FT_HANDLE h = OpenAt(0, c.line);
        const std::string request = c.request;
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE("request " + std::to_string(i + 1));
            const Exchanged e = Exchange(h, request);
            EXPECT_EQ(e.reply, c.steps[i].reply) << Log();
            if (request != kDtrPulse) {
                const DWORD expected = c.steps[i].written < 0
                                           ? static_cast<DWORD>(request.size())
                                           : static_cast<DWORD>(c.steps[i].written);
                EXPECT_EQ(e.written, expected);
            }
        }
        EXPECT_EQ(ft_.Close(h), FT_OK);
    }
}

TEST_F(FtdiSim, RefusesOpensAsFtdisLibraryDoes) {
    Load(
        "[free]\ndescription=Free\nprotocol=pu\n"
        "[taken]\ndescription=Taken\nprotocol=pu\nbusy=yes\n");
    FT_HANDLE h = nullptr;
    EXPECT_EQ(ft_.Open(1, &h), FT_DEVICE_NOT_OPENED) << "busy";
    EXPECT_EQ(ft_.Open(2, &h), FT_DEVICE_NOT_FOUND) << "beyond the last";
    EXPECT_EQ(ft_.Open(-1, &h), FT_DEVICE_NOT_FOUND);

    FT_HANDLE first = nullptr;
    ASSERT_EQ(ft_.Open(0, &first), FT_OK);
    EXPECT_EQ(ft_.Open(0, &h), FT_DEVICE_NOT_OPENED) << "already open";
    EXPECT_EQ(ft_.Close(first), FT_OK);
    DWORD queued = 0;
    EXPECT_EQ(ft_.GetQueueStatus(first, &queued), FT_INVALID_HANDLE) << "closed";
    EXPECT_EQ(ft_.Close(first), FT_INVALID_HANDLE);

    // A close frees the index and forgets what was waiting in the queue.
    FT_HANDLE again = OpenAt(0, kPuLine);
    std::string ver = "VER\r";
    DWORD written = 0;
    ASSERT_EQ(ft_.Write(again, ver.data(), 4, &written), FT_OK);
    ASSERT_EQ(ft_.Close(again), FT_OK);
    again = OpenAt(0, kPuLine);
    ASSERT_EQ(ft_.GetQueueStatus(again, &queued), FT_OK);
    EXPECT_EQ(queued, 0u);

    int junk = 0;
    EXPECT_EQ(ft_.GetQueueStatus(&junk, &queued), FT_INVALID_HANDLE);
    EXPECT_EQ(ft_.Close(nullptr), FT_INVALID_HANDLE);
}

TEST_F(FtdiSim, UnpluggedAdapterFailsEveryCallAndCannotBeOpened) {
    Load("[a]\ndescription=Adapter\nprotocol=pu\nbehaviour=unplug\nafter=1\n");
    FT_HANDLE h = OpenAt(0, kPuLine);
    EXPECT_FALSE(Exchange(h, "PRI\r").reply.empty());
    // The request that meets the unplug still went out; nothing comes back.
    std::string bytes = "PRI\r";
    DWORD n = 0;
    ASSERT_EQ(ft_.Write(h, bytes.data(), 4, &n), FT_OK);
    EXPECT_EQ(n, 4u);

    char buf[16];
    ULONG device = 0;
    const std::vector<std::pair<const char*, FT_STATUS>> calls = {
        {"Write", ft_.Write(h, bytes.data(), 4, &n)},
        {"Read", ft_.Read(h, buf, 1, &n)},
        {"GetQueueStatus", ft_.GetQueueStatus(h, &n)},
        {"SetBaudRate", ft_.SetBaudRate(h, 57600)},
        {"SetDataCharacteristics", ft_.SetDataCharacteristics(h, 8, 0, 0)},
        {"SetDtr", ft_.SetDtr(h)},
        {"ClrDtr", ft_.ClrDtr(h)},
        {"SetTimeouts", ft_.SetTimeouts(h, 100, 100)},
        {"GetDeviceInfo", ft_.GetDeviceInfo(h, &device, &n, buf, nullptr, nullptr)},
        {"Close", ft_.Close(h)},
    };
    for (const auto& [call, status] : calls) EXPECT_EQ(status, FT_IO_ERROR) << call;
    EXPECT_EQ(ft_.Open(0, &h), FT_DEVICE_NOT_FOUND);
    EXPECT_NE(Log().find("unplugged"), std::string::npos) << Log();
}

TEST_F(FtdiSim, DeviceInfoGivesTheScenariosTexts) {
    const std::string description(63, 'D');
    Load("[a]\ndescription=" + description + "\nserial=FT123456789ABCD\nprotocol=mfp\n");
    FT_HANDLE h = OpenAt(0, kSlowLine);
    ULONG device = 0;
    DWORD id = 0;
    char serial[kSerialNumberBytes + 4];
    char text[kDescriptionBytes + 4];
    std::fill(std::begin(serial), std::end(serial), 'x');
    std::fill(std::begin(text), std::end(text), 'x');
    ASSERT_EQ(ft_.GetDeviceInfo(h, &device, &id, serial, text, nullptr), FT_OK);
    EXPECT_EQ(device, 5u);
    EXPECT_EQ(id, 0x04036001u);
    EXPECT_EQ(std::string(serial), "FT123456789ABCD");
    EXPECT_EQ(std::string(text), description);
    EXPECT_EQ(serial[kSerialNumberBytes], 'x') << "wrote past the 16 bytes";
    EXPECT_EQ(text[kDescriptionBytes], 'x') << "wrote past the 64 bytes";
}

TEST_F(FtdiSim, ReadWaitsForTheMissingBytesUpToItsTimeOut) {
    struct Case {
        const char* what;
        const char* behaviour;
        ULONG timeoutMs;
        int extra;  // bytes asked for beyond the reply
        std::size_t got;
        int minMs, maxMs;
    };
    const std::string reply = "PRI,+0.000,+0.000,+0.000,+0.000,+0.000,0\r\n";
    const std::vector<Case> cases = {
        {"silence costs the time-out", "silent", 250, 0, 0, 250, 1500},
        {"a whole reply comes at once", "normal", 5000, 0, reply.size(), 0, 1000},
        {"a short reply waits, then comes", "normal", 250, 10, reply.size(), 250, 1500},
        {"a cut reply waits, then comes in part", "cut", 250, 0, reply.size() / 2, 250, 1500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Load(std::string("[a]\ndescription=Adapter\nprotocol=pu\nbehaviour=") + c.behaviour + "\n");
        FT_HANDLE h = OpenAt(0, kPuLine, c.timeoutMs);
        std::string request = "PRI\r";
        DWORD n = 0;
        ASSERT_EQ(ft_.Write(h, request.data(), 4, &n), FT_OK);
        std::string buf(reply.size() + static_cast<std::size_t>(c.extra), '\0');
        const auto start = Clock::now();
        ASSERT_EQ(ft_.Read(h, buf.data(), static_cast<DWORD>(buf.size()), &n), FT_OK);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_EQ(n, c.got);
        EXPECT_EQ(buf.substr(0, n), reply.substr(0, c.got));
        EXPECT_GE(ms, c.minMs);
        EXPECT_LT(ms, c.maxMs);
        EXPECT_EQ(ft_.Close(h), FT_OK);
    }
}

TEST_F(FtdiSim, BadScenarioOffersNoAdaptersAndSaysWhy) {
    struct Case {
        std::optional<std::string> scenario;
        std::vector<std::string> inLog;  // the place, the key, the fault
    };
    const std::string good = "[a]\ndescription=A\nprotocol=pu\n";
    const std::vector<Case> cases = {
        {std::nullopt, {"bench.ini", "cannot read"}},
        {good + "colour=red\n", {"bench.ini:4", "unknown key 'colour'"}},
        {good + "# a comment\nDecimals=2\ndecimals=3\n", {"bench.ini:6", "'decimals' given twice"}},
        {good + "decimals=10\n", {"bench.ini:4", "decimals must be 0 to 9"}},
        {good + "flag=3\n", {"bench.ini:4", "flag must be 0 to 2"}},
        {good + "values=1,5\n", {"bench.ini:4", "'1,5' is not a number"}},
        {good + "values=1/2/3/4/5/6\n", {"bench.ini:1 [a]", "at most 5"}},
        {"[a]\ndescription=" + std::string(64, 'D') + "\nprotocol=pu\n",
         {"bench.ini:2", "description is 64 bytes long"}},
        {"[a]\nprotocol=pu\nserial=0123456789ABCDEF\ndescription=A\n",
         {"bench.ini:3", "serial is 16 bytes long"}},
        {"[a]\ndescription=A\n", {"bench.ini:1 [a]", "protocol is missing"}},
        {"[a]\ndescription=A\nprotocol=usb\n", {"bench.ini:3", "unknown protocol 'usb'"}},
        {"[a]\ndescription=A\nprotocol=mfp\nfirmware=framed\n",
         {"bench.ini:1 [a]", "firmware applies to protocol pu only"}},
        {"[a]\ndescription=A\nprotocol=mfp\nvalues=1/2\n", {"bench.ini:1 [a]", "at most 1"}},
        {good + "behaviour=error\nerror_field=6\n", {"bench.ini:5", "error_field must be 1 to 5"}},
        {good + "busy=maybe\n", {"bench.ini:4", "busy must be yes or no"}},
        // The second adapter is bad: the first is not offered either.
        {good + "[b]\ndescription=B\nprotocol=pu\nevery=0\n", {"bench.ini:7", "every must be"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario.value_or("(no file)"));
        Load(c.scenario);
        FT_HANDLE h = nullptr;
        EXPECT_EQ(ft_.Open(0, &h), FT_DEVICE_NOT_FOUND);
        const std::string log = Log();
        for (const std::string& part : c.inLog) {
            EXPECT_NE(log.find(part), std::string::npos) << part << " not in\n" << log;
        }
        std::filesystem::remove(dir_.file("bench.ini"));
        std::filesystem::remove(dir_.file("sim.log"));
    }
}

// A program that puts the library and an ftdi-sim.ini beside itself needs no
// environment: the library finds its scenario in its own folder at the first
// open and logs beside it.
TEST_F(FtdiSim, WithoutEnvironmentReadsTheScenarioBesideTheLibrary) {
    std::filesystem::copy_file(std::string(KARVELO_SIM_DIR) + "/libftd2xx.so",
                               dir_.file("libftd2xx.so"));
    dir_.Write("ftdi-sim.ini", "[gauge]\ndescription=Beside\nprotocol=16exu\nvalues=3\n");
    unsetenv("KARVELO_FTDI_SIM");
    unsetenv("KARVELO_FTDI_SIM_LOG");
    lib_ = SharedLibrary::Load("libftd2xx.so", dir_.path().string());
    ASSERT_TRUE(lib_.loaded()) << lib_.error();
    ASSERT_EQ(lib_.path(), dir_.file("libftd2xx.so"));
    ASSERT_TRUE(ft_.Resolve(lib_));
    FT_HANDLE h = nullptr;
    ASSERT_EQ(ft_.Open(0, &h), FT_OK);
    char text[kDescriptionBytes];
    ASSERT_EQ(ft_.GetDeviceInfo(h, nullptr, nullptr, nullptr, text, nullptr), FT_OK);
    EXPECT_EQ(std::string(text), "Beside");
    EXPECT_EQ(ft_.Close(h), FT_OK);
    const std::string log = dir_.Read("ftdi-sim.log");
    EXPECT_NE(log.find("gauge: opened"), std::string::npos) << log;
}

// The station reads two adapters from two threads; every reply must still
// reach the handle that asked for it.
TEST_F(FtdiSim, TwoThreadsOnTwoAdaptersGetTheirOwnReplies) {
    Load(
        "[one]\ndescription=One\nprotocol=pu\nvalues=1\ndecimals=0\n"
        "[two]\ndescription=Two\nprotocol=pu\nvalues=2\ndecimals=0\n");
    const std::vector<std::string> expected = {"PRI,+1,+0,+0,+0,+0,0\r\n",
                                               "PRI,+2,+0,+0,+0,+0,0\r\n"};
    std::vector<FT_HANDLE> handles = {OpenAt(0, kPuLine, 1000), OpenAt(1, kPuLine, 1000)};
    std::atomic<int> wrong{0};
    auto run = [&](std::size_t i) {
        for (int k = 0; k < 200; ++k) {
            std::string request = "PRI\r";
            DWORD n = 0;
            if (ft_.Write(handles[i], request.data(), 4, &n) != FT_OK) ++wrong;
            std::string reply(expected[i].size(), '\0');
            if (ft_.Read(handles[i], reply.data(), static_cast<DWORD>(reply.size()), &n) != FT_OK ||
                reply != expected[i]) {
                ++wrong;
            }
        }
    };
    std::thread other(run, 1);
    run(0);
    other.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace karvelo
