// The serial instrument simulator, reached over its links the way the station
// reaches a port: opened exclusively, raw, purged, a request written, the reply
// read byte for byte.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "support/process.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace karvelo {
namespace {

using karvelo::testing::RunProcess;
using karvelo::testing::SimProcess;
using karvelo::testing::TempDir;
using std::chrono::milliseconds;

// The station's end of a link.
class StationPort {
  public:
    explicit StationPort(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return;
        flock(fd_, LOCK_EX | LOCK_NB);
        ioctl(fd_, TIOCEXCL);
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        cfsetspeed(&t, B9600);
        tcsetattr(fd_, TCSANOW, &t);
        tcflush(fd_, TCIOFLUSH);
    }
    ~StationPort() {
        if (fd_ >= 0) close(fd_);
    }
    StationPort(const StationPort&) = delete;
    StationPort& operator=(const StationPort&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    void Write(const std::string& bytes) {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // At least `size` bytes within `timeout`, and whatever follows them within 30 ms:
    // a reply that is too long shows.
    std::string ReadReply(std::size_t size, milliseconds timeout = milliseconds(1000)) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            auto left = std::chrono::duration_cast<milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now());
            if (got.size() >= size) left = milliseconds(30);
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0 ||
                (p.revents & POLLIN) == 0) {
                return got;
            }
            char buf[256];
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n <= 0) return got;
            got.append(buf, static_cast<std::size_t>(n));
        }
    }

    // Bytes up to and including `end`, within `timeout`.
    std::string ReadLine(char end, milliseconds timeout) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (got.empty() || got.back() != end) {
            const auto left = std::chrono::duration_cast<milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            char c = 0;
            if (read(fd_, &c, 1) != 1) break;
            got += c;
        }
        return got;
    }

    // True when the other end is gone: a hang-up or an end of file within `timeout`.
    bool SeesDeadLine(milliseconds timeout) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
        char c = 0;
        return (p.revents & (POLLHUP | POLLERR)) != 0 || read(fd_, &c, 1) <= 0;
    }

  private:
    int fd_ = -1;
};

bool LinkExists(const std::string& path) {
    return std::filesystem::symlink_status(path).type() != std::filesystem::file_type::not_found;
}

// The ALMEMO's time stamp, after its echo, is the clock's.
std::string WithoutTime(std::string reply) {
    constexpr std::string_view kForm = "dd:dd:dd";
    if (!reply.starts_with("s\r\n") || reply.size() < 3 + kForm.size()) return reply;
    for (std::size_t i = 0; i < kForm.size(); ++i) {
        const char c = reply[3 + i];
        const bool ok = kForm[i] == ':' ? c == ':' : (c >= '0' && c <= '9');
        if (!ok) return reply;
    }
    return reply.replace(3, kForm.size(), "hh:mm:ss");
}

struct Exchange {
    std::string request;
    std::string reply;  // exactly, "" for none
};

struct TypeCase {
    std::string keys;  // type and values, scenario lines
    std::vector<Exchange> exchanges;
};

// One row per instrument type that answers a request: the bytes each reader of
// the station takes apart, values cycled reply by reply.
const std::vector<TypeCase> kTypeCases = {
    {"type=1\nvalues=12.345 -0.5", {{"?\r", "+0012.345\r"}, {"?\r", "-0000.500\r"}}},
    {"type=3\nvalues=1.5/2.25", {{"DAS2\r", "D2 +0002.250\r"}, {"DAS1\r", "D1 +0001.500\r"}}},
    {"type=4\nvalues=-1.5\ndecimals=4", {{"\x02", "-   1.5000\r"}}},
    {"type=5\nvalues=12.345", {{"?\r", "+0012.345\r"}}},
    {"type=8\nvalues=0.02", {{"?\r", "+0000.020\r"}}},
    {"type=9\nvalues=20.5/-1.25\ndecimals=2\npoints=1/2",
     {{"N0\n\r", ""}, {"s", "s\r\nhh:mm:ss\r\n01:   20.50mm\r\n02:   -1.25mm\r\n"}}},
    {"type=19\nvalues=1/2/3",
     {{"?\r", "+0001.000\r"}, {"2\r", "+0003.000\r"}, {"1\r", "+0002.000\r"}}},
    {"type=23\nvalues=12.345", {{"K", "+0012.345mm\r"}}},
    {"type=24\nvalues=1.23\ndecimals=2", {{"M", "M,+1.23\r"}}},
    {"type=25\nvalues=1.5/-2.5\nflag=0 2",
     {{"$PRI,0*57\r", "$PRI,+1.500,-2.500,0*52\r"}, {"$PRI,0*57\r", "$PRI,+1.500,-2.500,2*50\r"}}},
    {"type=26\nvalues=1.5/2/-3", {{"?\r", "+1.500;+2.000;-3.000\r"}}},
    {"type=27\nvalues=12.345", {{"SR,00,000\r\n", "SR,00,000,+12.345\r\n"}}},
    {"type=28\nvalues=12.345", {{"?\r\n", "+0012.345\r"}}},
    {"type=50\nvalues=20 -200", {{"\x01", "\x04\xb0"}, {"\x01", "\xfc\x18"}}},
    {"type=57\nvalues=12.345", {{"GO\r", "+0012.345\r"}}},
    // Misbehaviour on the k-th reply, in the forms the readers reject.
    {"type=1\nvalues=1\nbehaviour=error\nevery=2",
     {{"?\r", "+0001.000\r"}, {"?\r", "Error    \r"}}},
    {"type=28\nvalues=1\nbehaviour=error", {{"?\r\n", "----h    \r"}}},
    {"type=27\nvalues=1\nbehaviour=error", {{"SR,00,000\r\n", "SR,00,000,Error\r\n"}}},
    {"type=25\nvalues=1\nbehaviour=error", {{"$PRI,0*57\r", "$PRI,Error,0*23\r"}}},
    {"type=5\nvalues=1\nbehaviour=invalid", {{"?\r", "1.2\r"}}},
    {"type=1\nvalues=12.345\nbehaviour=cut\nafter=1", {{"?\r", "+0012.345\r"}, {"?\r", "+0012"}}},
    {"type=57\nvalues=1\nbehaviour=slow\ndelay_ms=10", {{"GO\r", "+0001.000\r"}}},
};

TEST(SerialSimulator, AnswersEachTypeAsItsReaderExpects) {
    TempDir dir;
    std::string scenario;
    for (std::size_t i = 0; i < kTypeCases.size(); ++i) {
        scenario += "[row" + std::to_string(i) + "]\nlink=" + dir.file("tty" + std::to_string(i)) +
                    "\n" + kTypeCases[i].keys + "\n\n";
    }
    SimProcess sim(dir.path(), scenario);
    ASSERT_TRUE(sim.ready()) << sim.Log();
    for (std::size_t i = 0; i < kTypeCases.size(); ++i) {
        SCOPED_TRACE(kTypeCases[i].keys);
        StationPort port(dir.file("tty" + std::to_string(i)));
        ASSERT_TRUE(port.isOpen());
        for (const Exchange& e : kTypeCases[i].exchanges) {
            port.Write(e.request);
            const std::string got =
                port.ReadReply(e.reply.size(), milliseconds(e.reply.empty() ? 150 : 1000));
            EXPECT_EQ(WithoutTime(got), e.reply) << "request " << e.request;
        }
    }
    EXPECT_EQ(sim.Stop(), 0) << sim.Log();
}

TEST(SerialSimulator, SilentAndScheduledInstrumentsThenStopsOnSigterm) {
    TempDir dir;
    const std::string silent = dir.file("ttySilent");
    const std::string simplex = dir.file("ttySimplex");
    const std::string answering = dir.file("ttyAnswering");
    std::string scenario;
    scenario += "[silent]\nlink=" + silent + "\ntype=1\nbehaviour=silent\n";
    scenario += "[simplex]\nlink=" + simplex + "\ntype=2\nvalues=1.5\nevery_ms=50\n";
    scenario += "[answering]\nlink=" + answering + "\ntype=1\nvalues=2\n";
    SimProcess sim(dir.path(), scenario);
    ASSERT_TRUE(sim.ready()) << sim.Log();

    {
        StationPort port(silent);
        port.Write("?\r");
        EXPECT_EQ(port.ReadReply(1, milliseconds(300)), "");
    }
    {
        // Sends by itself; after the purge the next line arrives whole.
        StationPort port(simplex);
        EXPECT_EQ(port.ReadLine('\r', milliseconds(1000)), "+0001.500\r");
        EXPECT_EQ(port.ReadLine('\r', milliseconds(1000)), "+0001.500\r");
    }
    {
        // Closed and opened again, as the station does on every configuration change.
        for (int i = 0; i < 3; ++i) {
            StationPort port(answering);
            ASSERT_TRUE(port.isOpen());
            port.Write("?\r");
            EXPECT_EQ(port.ReadReply(10), "+0002.000\r");
        }
    }

    EXPECT_EQ(sim.Stop(), 0) << sim.Log();
    EXPECT_FALSE(LinkExists(silent));
    EXPECT_FALSE(LinkExists(simplex));
    EXPECT_FALSE(LinkExists(answering));
}

TEST(SerialSimulator, CommandLineInstrumentReplacesAStaleLinkAndHangsUp) {
    TempDir dir;
    const std::string link = dir.file("ttyGauge");
    std::filesystem::create_symlink("/nonexistent/pts", link);
    SimProcess sim(dir.path(), "",
                   {"--instrument",
                    "link=" + link + ",type=24,values=1.23,decimals=2,behaviour=hangup,after=1"});
    ASSERT_TRUE(sim.ready()) << sim.Log();

    StationPort port(link);
    ASSERT_TRUE(port.isOpen());
    port.Write("M");
    EXPECT_EQ(port.ReadReply(8), "M,+1.23\r");
    port.Write("M");
    EXPECT_TRUE(port.SeesDeadLine(milliseconds(1000)));
    EXPECT_FALSE(LinkExists(link)) << "the link must not lead to a terminal number that is reused";
    EXPECT_EQ(sim.Stop(), 0) << sim.Log();
}

struct BadInput {
    std::string scenario;
    std::vector<std::string> args;
    std::string message;
};

TEST(SerialSimulator, BadScenarioIsRefusedWithExitCode2) {
    TempDir dir;
    const std::string link = dir.file("ttyBad");
    const std::vector<BadInput> cases = {
        {"[a]\nlink=" + link + "\ntype=7\n", {}, "type 7 is not a serial instrument"},
        {"[a]\nlink=" + link + "\ntype=1\nvalues=12,5\n", {}, "'12,5' is not a number"},
        {"[a]\nlink=" + link + "\ntype=1\nbehavior=silent\n", {}, "unknown key 'behavior'"},
        {"[a]\nlink=" + link + "\ntype=2\nvalues=1\n", {}, "give every_ms"},
        {"[a]\nlink=" + link + "\ntype=27\nvalues=123456.789\n",
         {},
         "the station reads at most 20"},
        {"[a]\nlink=" + link + "\ntype=9\nbehaviour=error\n", {}, "has no error marker"},
        {"", {"--instrument", "type=1"}, "link is missing"},
        {"",
         {"--instrument", "link=" + link + ",type=1", "--instrument", "link=" + link + ",type=5"},
         "used by more than one instrument"},
        {"", {"--frobnicate"}, "unknown option"},
    };
    for (const BadInput& c : cases) {
        SCOPED_TRACE(c.scenario + c.message);
        std::vector<std::string> argv = {testing::SerialSimulatorPath()};
        if (!c.scenario.empty()) {
            dir.Write("bad.ini", c.scenario);
            argv.push_back(dir.file("bad.ini"));
        }
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const auto r = RunProcess(argv, {}, {}, std::chrono::seconds(10));
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(LinkExists(link));
    }
}

}  // namespace
}  // namespace karvelo
