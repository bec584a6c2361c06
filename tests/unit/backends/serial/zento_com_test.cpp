#include "backends/serial/zento_com.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "devices/catalogue.h"
#include "platform/serial_tty.h"
#include "state/run_state.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

namespace karvelo::serial {
namespace {

using karvelo::testing::PtyPair;
using karvelo::testing::TempDir;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kPtyCom = 3;  // mapped to the pseudo-terminal in every fixture

std::wstring W(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// The line profile of an instrument type.
const LineProfile& ProfileOf(int type) {
    return devices::DeviceTypeOf(type).serial.line;
}

// Opens COM `com` with the profile of `type`, as the serial back-end does.
bool Open(zento_com& port, int type, int com) {
    return port.open(ProfileOf(type), ComDevicePath(com, g_run.MainConfigFile.str()));
}

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<milliseconds>(Clock::now() - since).count());
}

// Real system calls, with a record of what was asked of the driver, and a few
// answers the test can script: the error counters and a refused line setting.
class RecordingTty : public platform::TtySystem {
  public:
    RecordingTty() { platform::SetTtySystem(this); }
    ~RecordingTty() override { platform::SetTtySystem(nullptr); }
    RecordingTty(const RecordingTty&) = delete;
    RecordingTty& operator=(const RecordingTty&) = delete;

    int Open(const char* path, int flags) override {
        events.push_back("open");
        if (openError != 0) {
            errno = openError;
            return -1;
        }
        return TtySystem::Open(path, flags);
    }
    int Close(int fd) override {
        events.push_back("close");
        return TtySystem::Close(fd);
    }
    ssize_t Read(int fd, void* buffer, std::size_t size) override {
        ++reads;
        return TtySystem::Read(fd, buffer, size);
    }
    int Poll(pollfd* fds, nfds_t count, int timeoutMs) override {
        ++polls;
        return TtySystem::Poll(fds, count, timeoutMs);
    }
    int Flock(int fd, int operation) override {
        events.push_back((operation & LOCK_UN) != 0 ? "unlock" : "lock");
        return TtySystem::Flock(fd, operation);
    }
    int Ioctl(int fd, unsigned long request, void* argument) override {
        if (request == TIOCOUTQ && !outputQueue.empty()) {
            *static_cast<int*>(argument) = outputQueue.front();
            if (outputQueue.size() > 1) outputQueue.erase(outputQueue.begin());
            ++outputQueueChecks;
            return 0;
        }
        if (request == TIOCGICOUNT && counters) {
            *static_cast<serial_icounter_struct*>(argument) = *counters;
            return 0;
        }
        if (request == TIOCMBIS || request == TIOCMBIC) {
            const int bits = *static_cast<int*>(argument);
            const char* line = bits == TIOCM_DTR ? "DTR" : bits == TIOCM_RTS ? "RTS" : "?";
            events.push_back(std::string(request == TIOCMBIS ? "+" : "-") + line);
        } else if (request == TIOCEXCL) {
            events.push_back("exclusive");
        } else if (request == TIOCNXCL) {
            events.push_back("shared");
        }
        return TtySystem::Ioctl(fd, request, argument);
    }
    int TcSetAttr(int fd, int when, const termios* settings) override {
        events.push_back("tcsetattr");
        applied = *settings;
        if (refuseSettings) {
            errno = EINVAL;
            return -1;
        }
        return TtySystem::TcSetAttr(fd, when, settings);
    }
    int TcFlush(int fd, int queue) override {
        events.push_back("purge");
        flushed.push_back(queue);
        return TtySystem::TcFlush(fd, queue);
    }

    // The events among `names`, in order.
    std::vector<std::string> Only(const std::vector<std::string>& names) const {
        std::vector<std::string> out;
        for (const std::string& e : events) {
            if (std::find(names.begin(), names.end(), e) != names.end()) out.push_back(e);
        }
        return out;
    }

    std::vector<std::string> events;
    int polls = 0;
    int reads = 0;
    std::optional<serial_icounter_struct> counters;
    bool refuseSettings = false;
    int openError = 0;         // the errno that every open fails with; 0: real opens
    std::vector<int> flushed;  // the queue argument of each flush
    // What the driver says is still to be sent, one answer per question (the
    // last one stays); empty: the driver's own answer.
    std::vector<int> outputQueue;
    int outputQueueChecks = 0;
    std::optional<termios> applied;  // the last settings handed to the driver
};

class ZentoComTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        g_run.MainConfigFile = W(dir.file("karvelo.cfg"));
        dir.Write("karvelo.cfg", "[MAIN]\r\nset=0\r\n[PORTS]\r\nCOM3=" + pty.SlavePath() + "\r\n");
    }
    void TearDown() override { ResetRunState(); }

    termios LineSettings() const {
        termios t{};
        EXPECT_EQ(tcgetattr(pty.MasterFd(), &t), 0);
        return t;
    }

    TempDir dir;
    PtyPair pty;
};

TEST_F(ZentoComTest, EveryProfileSetsItsLine) {
    struct Case {
        int type;
        speed_t baud;
        tcflag_t size;
        Parity parity;
        bool twoStopBits;
    };
    const Case cases[] = {
        {2, B4800, CS7, Parity::Even, true},    {1, B4800, CS7, Parity::Even, true},
        {3, B9600, CS8, Parity::None, false},   {4, B9600, CS7, Parity::Even, true},
        {5, B4800, CS8, Parity::None, false},   {6, B1200, CS7, Parity::Even, false},
        {8, B4800, CS7, Parity::Even, true},    {9, B9600, CS8, Parity::None, false},
        {19, B9600, CS8, Parity::None, false},  {23, B9600, CS7, Parity::Odd, true},
        {24, B38400, CS8, Parity::None, false}, {25, B9600, CS8, Parity::None, false},
        {26, B4800, CS7, Parity::Even, true},   {27, B9600, CS8, Parity::None, false},
        {28, B9600, CS7, Parity::Odd, false},   {50, B9600, CS8, Parity::None, false},
        {57, B1200, CS8, Parity::None, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        // Start from a cooked line with flow control, as a console would leave it.
        termios cooked = LineSettings();
        cooked.c_iflag |= ICRNL | IXON | IXOFF | INLCR;
        cooked.c_oflag |= OPOST | ONLCR;
        cooked.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
        cooked.c_cflag = (cooked.c_cflag & ~static_cast<tcflag_t>(CLOCAL)) | CRTSCTS;
        ASSERT_EQ(tcsetattr(pty.MasterFd(), TCSANOW, &cooked), 0);

        RecordingTty tty;
        zento_com port;
        ASSERT_TRUE(Open(port, c.type, kPtyCom));

        // A pseudo-terminal always keeps 8 bits without parity, so framing is
        // checked on the settings handed to the driver; the rest reads back.
        ASSERT_TRUE(tty.applied);
        EXPECT_EQ(tty.applied->c_cflag & CSIZE, c.size);
        EXPECT_EQ((tty.applied->c_cflag & PARENB) != 0, c.parity != Parity::None);
        EXPECT_EQ((tty.applied->c_cflag & PARODD) != 0, c.parity == Parity::Odd);

        const termios t = LineSettings();
        EXPECT_EQ(cfgetispeed(&t), c.baud);
        EXPECT_EQ(cfgetospeed(&t), c.baud);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStopBits);
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
        EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | ISTRIP), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    }
}

TEST_F(ZentoComTest, UnknownProfileFailsWithoutTouchingThePort) {
    // Free, unknown and non-serial codes have no profile.
    for (int type : {7, 29, -1, 58, 10}) {
        SCOPED_TRACE(type);
        RecordingTty tty;
        zento_com port;
        EXPECT_FALSE(Open(port, type, kPtyCom));
        EXPECT_FALSE(port.isOpen());
        EXPECT_TRUE(tty.events.empty());
    }

    zento_com port;
    ASSERT_TRUE(Open(port, 5, kPtyCom));
    const termios before = LineSettings();
    RecordingTty tty;
    EXPECT_FALSE(port.configure(ProfileOf(7)));
    EXPECT_TRUE(tty.events.empty());
    const termios after = LineSettings();
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_TRUE(port.isOpen());
}

TEST_F(ZentoComTest, ComZeroFailsWithoutCallingTheDriver) {
    RecordingTty tty;
    zento_com port;
    EXPECT_FALSE(Open(port, 1, 0));
    EXPECT_FALSE(port.isOpen());
    EXPECT_TRUE(tty.events.empty());
}

TEST_F(ZentoComTest, MissingOrNonTerminalDevicesFail) {
    dir.Write("plain-file", "x");
    std::filesystem::create_directory(dir.path() / "folder");
    dir.Write("karvelo.cfg", "[PORTS]\r\nCOM4=" + dir.file("nothing-here") +
                                 "\r\nCOM5=" + dir.file("plain-file") +
                                 "\r\nCOM6=" + dir.file("folder") + "\r\n");
    struct Case {
        int com;
        PortProblem problem;
    };
    const Case cases[] = {
        {4, PortProblem::NoSuchDevice},
        {5, PortProblem::Refused},
        {6, PortProblem::Refused},
        {99, PortProblem::NoDevicePath},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.com);
        zento_com port;
        EXPECT_FALSE(Open(port, 1, c.com));
        EXPECT_FALSE(port.isOpen());
        EXPECT_EQ(port.Problem(), c.problem);
    }
}

TEST_F(ZentoComTest, RefusedOpensSayWhy) {
    struct Case {
        int error;
        PortProblem problem;
        const char* words;
    };
    const Case cases[] = {
        {EACCES, PortProblem::PermissionDenied, "dialout group"},
        {EPERM, PortProblem::PermissionDenied, "dialout group"},
        {ENOENT, PortProblem::NoSuchDevice, "no such device"},
        {ENODEV, PortProblem::NoSuchDevice, "no such device"},
        {ENXIO, PortProblem::NoSuchDevice, "no such device"},
        {EBUSY, PortProblem::Busy, "held by another program"},
        {EIO, PortProblem::Refused, "refused"},
    };
    RecordingTty tty;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        tty.openError = c.error;
        zento_com port;
        EXPECT_FALSE(Open(port, 1, kPtyCom));
        EXPECT_EQ(port.Problem(), c.problem);
        EXPECT_NE(PortProblemText(c.problem).find(c.words), std::string_view::npos);
        // Opens normally once the cause is gone.
        tty.openError = 0;
        EXPECT_TRUE(port.Reopen());
        EXPECT_EQ(port.Problem(), PortProblem::None);
    }
}

TEST_F(ZentoComTest, ComNumbersMapToDevicePaths) {
    dir.Write("karvelo.cfg",
              "[MAIN]\r\nCOM7=/dev/not-this-section\r\n"
              "[PORTS]\r\nCOM2=/dev/port-two\r\ncom12 = /dev/port-twelve\r\nCOM5=\r\n"
              "COM40=/dev/ttyUSB9\r\n");
    struct Case {
        int com;
        const char* path;
    };
    const Case cases[] = {
        {2, "/dev/port-two"},
        {12, "/dev/port-twelve"},
        {22, "/dev/ttyS21"},
        {5, "/dev/ttyS4"},
        {7, "/dev/ttyS6"},
        {1, "/dev/ttyS0"},
        {32, "/dev/ttyS31"},
        {33, "/dev/ttyUSB0"},
        {40, "/dev/ttyUSB9"},
        {64, "/dev/ttyUSB31"},
        {65, "/dev/ttyACM0"},
        {98, "/dev/ttyACM33"},
        {0, ""},
        {99, ""},
        {-1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.com);
        EXPECT_EQ(ComDevicePath(c.com, g_run.MainConfigFile.str()), c.path);
    }
}

TEST_F(ZentoComTest, DefaultPathsWithoutConfigurationFile) {
    std::filesystem::remove(dir.file("karvelo.cfg"));
    EXPECT_EQ(ComDevicePath(3, g_run.MainConfigFile.str()), "/dev/ttyS2");
    EXPECT_EQ(ComDevicePath(70, g_run.MainConfigFile.str()), "/dev/ttyACM5");
}

TEST_F(ZentoComTest, PortIsExclusiveWhileOpen) {
    zento_com first;
    zento_com second;
    ASSERT_TRUE(Open(first, 1, kPtyCom));
    EXPECT_FALSE(Open(second, 1, kPtyCom));
    EXPECT_FALSE(second.isOpen());
    EXPECT_EQ(second.Problem(), PortProblem::Busy);

    first.close();
    EXPECT_FALSE(first.isOpen());
    EXPECT_TRUE(Open(second, 1, kPtyCom));

    // Destroying an open port frees it as well.
    {
        zento_com third;
        second.close();
        ASSERT_TRUE(Open(third, 1, kPtyCom));
    }
    EXPECT_TRUE(Open(first, 1, kPtyCom));
}

TEST_F(ZentoComTest, OpenAndCloseTalkToTheDriverInOrder) {
    RecordingTty tty;
    {
        zento_com port;
        ASSERT_TRUE(Open(port, 5, kPtyCom));
        EXPECT_EQ(
            tty.Only({"open", "lock", "exclusive", "purge", "tcsetattr", "+DTR"}),
            (std::vector<std::string>{"open", "lock", "exclusive", "purge", "tcsetattr", "+DTR"}));
        tty.events.clear();
        port.close();
        EXPECT_EQ(tty.events,
                  (std::vector<std::string>{"-DTR", "purge", "shared", "unlock", "close"}));
        tty.events.clear();
        port.close();
        EXPECT_TRUE(tty.events.empty());
        ASSERT_TRUE(Open(port, 5, kPtyCom));
        tty.events.clear();
    }
    // The destructor closes as close() does.
    EXPECT_EQ(tty.events, (std::vector<std::string>{"-DTR", "purge", "shared", "unlock", "close"}));
}

TEST_F(ZentoComTest, LineActionsInProfileOrder) {
    struct Case {
        int type;
        std::vector<std::string> expected;
    };
    // Every profile's settings raise DTR and drop RTS; the profile's own
    // actions follow (ALMEMO raises DTR before the settings).
    const Case cases[] = {
        {9, {"+DTR", "tcsetattr", "+DTR", "-RTS"}},
        {3, {"tcsetattr", "+DTR", "-RTS", "+RTS", "+RTS"}},
        {2, {"tcsetattr", "+DTR", "-RTS", "+RTS", "+DTR"}},
        {1, {"tcsetattr", "+DTR", "-RTS", "-RTS", "+DTR"}},
        {4, {"tcsetattr", "+DTR", "-RTS", "+DTR", "+RTS"}},
        {6, {"tcsetattr", "+DTR", "-RTS", "-RTS", "+DTR"}},
        {8, {"tcsetattr", "+DTR", "-RTS", "-RTS", "+DTR"}},
        {26, {"tcsetattr", "+DTR", "-RTS", "-RTS", "+DTR"}},
        {24, {"tcsetattr", "+DTR", "-RTS"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        RecordingTty tty;
        zento_com port;
        ASSERT_TRUE(Open(port, c.type, kPtyCom));
        EXPECT_EQ(tty.Only({"tcsetattr", "+DTR", "-DTR", "+RTS", "-RTS"}), c.expected);

        // configure() on an open port does the same again.
        tty.events.clear();
        EXPECT_TRUE(port.configure(ProfileOf(c.type)));
        EXPECT_EQ(tty.Only({"tcsetattr", "+DTR", "-DTR", "+RTS", "-RTS"}), c.expected);
    }
}

TEST_F(ZentoComTest, RefusedSettingsCloseThePort) {
    {
        RecordingTty tty;
        tty.refuseSettings = true;
        zento_com port;
        EXPECT_FALSE(Open(port, 1, kPtyCom));
        EXPECT_FALSE(port.isOpen());
        EXPECT_EQ(tty.Only({"close"}), std::vector<std::string>{"close"});
    }
    // Nothing of the failed attempt keeps the port busy.
    zento_com port;
    EXPECT_TRUE(Open(port, 1, kPtyCom));
}

TEST_F(ZentoComTest, BytesArriveUntranslated) {
    zento_com port;
    ASSERT_TRUE(Open(port, 1, kPtyCom));
    // CR, LF, XON, XOFF, Ctrl-C, DEL and 8-bit bytes would all be eaten or
    // changed by a line that is not raw.
    const std::string sent = "A\r\n\x11\x13\x03\x7f\xff\x80";
    ASSERT_TRUE(pty.Write(sent));
    std::string got;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const std::optional<std::uint8_t> b = port.ReadByte();
        ASSERT_TRUE(b) << "byte " << i;
        got.push_back(static_cast<char>(*b));
    }
    EXPECT_EQ(got, sent);
}

TEST_F(ZentoComTest, SilenceGivesNoByteAfterTheReadTimeout) {
    zento_com port;
    ASSERT_TRUE(Open(port, 1, kPtyCom));
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(port.ReadByte());
    // It waited for a byte rather than giving up at once.
    EXPECT_GE(ElapsedMs(start), 150);
    // A byte that comes later is still read.
    ASSERT_TRUE(pty.Write("x"));
    EXPECT_EQ(port.ReadByte(), std::optional<std::uint8_t>('x'));
}

TEST_F(ZentoComTest, OpenDiscardsWhatWaitedOnTheLine) {
    ASSERT_TRUE(pty.Write("stale"));
    zento_com port;
    ASSERT_TRUE(Open(port, 1, kPtyCom));
    ASSERT_TRUE(pty.Write("N"));
    EXPECT_EQ(port.ReadByte(), std::optional<std::uint8_t>('N'));
}

TEST_F(ZentoComTest, HungUpLineClosesThePortWithoutSpinning) {
    zento_com port;
    ASSERT_TRUE(Open(port, 1, kPtyCom));
    pty.CloseMaster();

    RecordingTty tty;
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(port.ReadByte());
    const long ms = ElapsedMs(start);
    // The read time-out is spent, not burnt in a loop of system calls.
    EXPECT_GE(ms, 100);
    EXPECT_LT(ms, 5000);
    EXPECT_LE(tty.polls + tty.reads, 4);
    // The dead line is let go at once, so that the device name is free for
    // the adapter when it comes back.
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.Problem(), PortProblem::HungUp);
    EXPECT_EQ(tty.Only({"close"}), std::vector<std::string>{"close"});
    tty.polls = tty.reads = 0;
    EXPECT_FALSE(port.ReadByte());
    EXPECT_FALSE(port.Write(Bytes("?\r")));
    EXPECT_EQ(tty.polls + tty.reads, 0);
    EXPECT_EQ(port.Problem(), PortProblem::HungUp);
}

TEST_F(ZentoComTest, UnpluggedAdapterIsOpenedAgainWhereItComesBack) {
    // The configured path is a link, like /dev/serial/by-id, that leads to
    // whichever terminal the adapter has now.
    const std::string link = dir.file("ttyAdapter");
    std::filesystem::create_symlink(pty.SlavePath(), link);
    dir.Write("karvelo.cfg", "[PORTS]\r\nCOM4=" + link + "\r\n");
    zento_com port;
    ASSERT_TRUE(Open(port, 1, 4));

    // Pulled out: the write that finds the line dead gives the problem.
    pty.CloseMaster();
    std::filesystem::remove(link);
    EXPECT_FALSE(port.ReadByte());
    EXPECT_EQ(port.Problem(), PortProblem::HungUp);
    EXPECT_FALSE(port.Reopen());
    EXPECT_EQ(port.Problem(), PortProblem::NoSuchDevice);

    // Plugged in again, on another terminal.
    PtyPair again;
    std::filesystem::create_symlink(again.SlavePath(), link);
    ASSERT_TRUE(port.Reopen());
    EXPECT_EQ(port.Problem(), PortProblem::None);
    EXPECT_TRUE(port.Write(Bytes("?\r")));
    EXPECT_EQ(again.Read(2), "?\r");
    ASSERT_TRUE(again.Write("+1.5\r"));
    EXPECT_EQ(port.ReadByte(), std::optional<std::uint8_t>('+'));
    // With the settings of the first open.
    termios t{};
    ASSERT_EQ(tcgetattr(again.MasterFd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), *platform::BaudConstant(ProfileOf(1).baud));
}

TEST_F(ZentoComTest, PurgeNeverDiscardsWhatWasWritten) {
    // ALMEMO's start bytes go out one at a time right after the open, and the
    // first request purges at once. On a pseudo-terminal an output flush
    // takes back bytes that the other end has not taken in yet: a race, so it
    // is run many times, with both cores kept busy to give it its chance.
    std::atomic<bool> stop{false};
    std::vector<std::thread> load;
    for (int k = 0; k < 2; ++k) {
        load.emplace_back([&stop] {
            while (!stop.load(std::memory_order_relaxed)) {
            }
        });
    }
    struct Joined {
        std::atomic<bool>& stop;
        std::vector<std::thread>& threads;
        ~Joined() {
            stop = true;
            for (std::thread& t : threads) t.join();
        }
    } joined{stop, load};
    for (int i = 0; i < 200; ++i) {
        SCOPED_TRACE(i);
        zento_com port;
        ASSERT_TRUE(Open(port, 9, kPtyCom));
        for (char c : std::string("N0\n\r")) ASSERT_TRUE(port.Write(Bytes(std::string(1, c))));
        port.Purge();
        ASSERT_TRUE(port.Write(Bytes("s")));
        ASSERT_EQ(pty.Read(5, milliseconds(2000)), "N0\n\rs");
    }
}

TEST_F(ZentoComTest, WriteReturnsWhenTheBytesHaveLeft) {
    zento_com port;
    ASSERT_TRUE(Open(port, 1, kPtyCom));  // 9600 baud: about 1 ms a byte
    RecordingTty tty;
    struct Case {
        const char* what;
        std::vector<int> queued;
        bool done;
        int checks;
    };
    const Case cases[] = {
        {"gone at once", {0}, true, 1},
        {"leaving bit by bit", {3, 2, 1, 0}, true, 4},
        {"stuck in the adapter", {5}, false, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tty.outputQueue = c.queued;
        tty.outputQueueChecks = 0;
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(port.Write(Bytes("?\r")), c.done);
        if (c.checks >= 0) {
            EXPECT_EQ(tty.outputQueueChecks, c.checks);
        }
        // A line that never drains gives up with the write time-out.
        if (!c.done) {
            EXPECT_GE(ElapsedMs(start), 900);
            EXPECT_LT(tty.outputQueueChecks, 1000) << "waits, does not spin";
        }
        EXPECT_EQ(pty.Read(2), "?\r");
    }
}

TEST_F(ZentoComTest, ReplyThatHasArrivedIsTakenInOneCall) {
    zento_com port;
    ASSERT_TRUE(Open(port, 1, kPtyCom));
    ASSERT_TRUE(pty.Write("+0012.345\r"));
    std::this_thread::sleep_for(milliseconds(20));
    RecordingTty tty;
    std::string got;
    for (int i = 0; i < 10; ++i) {
        const std::optional<std::uint8_t> b = port.ReadByte();
        ASSERT_TRUE(b) << got;
        got += static_cast<char>(*b);
    }
    EXPECT_EQ(got, "+0012.345\r");
    EXPECT_EQ(tty.reads, 1);
    EXPECT_EQ(tty.polls, 1);
}

TEST_F(ZentoComTest, PurgeDiscardsWhatCameIn) {
    zento_com port;
    ASSERT_TRUE(Open(port, 1, kPtyCom));
    ASSERT_TRUE(pty.Write("stale reply\r"));
    std::this_thread::sleep_for(milliseconds(20));
    // Part of it already taken from the driver: gone with the purge as well.
    EXPECT_EQ(port.ReadByte(), std::optional<std::uint8_t>('s'));
    RecordingTty tty;
    port.Purge();
    EXPECT_EQ(tty.flushed, std::vector<int>{TCIFLUSH});
    ASSERT_TRUE(pty.Write("N"));
    EXPECT_EQ(port.ReadByte(), std::optional<std::uint8_t>('N'));
}

TEST_F(ZentoComTest, LineErrorsComeFromNewDriverErrorCounts) {
    RecordingTty tty;
    serial_icounter_struct counts{};
    // Errors from before the open are not this line's.
    counts.frame = 4;
    counts.brk = 1;
    counts.buf_overrun = 9;
    tty.counters = counts;
    zento_com port;
    ASSERT_TRUE(Open(port, 1, kPtyCom));
    EXPECT_FALSE(port.LineError());

    struct Step {
        const char* what;
        int serial_icounter_struct::*counter;
        bool disturbed;
    };
    const Step steps[] = {
        {"frame", &serial_icounter_struct::frame, true},
        {"parity", &serial_icounter_struct::parity, true},
        {"overrun", &serial_icounter_struct::overrun, true},
        {"break", &serial_icounter_struct::brk, true},
        {"receive queue overflow", &serial_icounter_struct::buf_overrun, false},
        {"bytes received", &serial_icounter_struct::rx, false},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        counts.*s.counter += 1;
        tty.counters = counts;
        EXPECT_EQ(port.LineError(), s.disturbed);
        // Reported once: the next check sees no new errors.
        EXPECT_FALSE(port.LineError());
    }
}

TEST_F(ZentoComTest, DisturbedLineFailsTheReadAndKeepsTheByte) {
    RecordingTty tty;
    tty.counters = serial_icounter_struct{};
    zento_com port;
    ASSERT_TRUE(Open(port, 1, kPtyCom));
    ASSERT_TRUE(pty.Write("7"));
    std::this_thread::sleep_for(milliseconds(20));

    serial_icounter_struct counts{};
    counts.parity = 1;
    tty.counters = counts;
    tty.reads = 0;
    EXPECT_FALSE(port.ReadByte());
    EXPECT_EQ(tty.reads, 0);
    EXPECT_EQ(port.ReadByte(), std::optional<std::uint8_t>('7'));
}

TEST_F(ZentoComTest, WriteReachesTheOtherEnd) {
    zento_com port;
    ASSERT_TRUE(Open(port, 1, kPtyCom));
    EXPECT_TRUE(port.Write(Bytes("?\r\n")));
    EXPECT_EQ(pty.Read(3), "?\r\n");
    EXPECT_EQ(pty.ReadFor(milliseconds(50)), "");  // no LF became CR LF
    EXPECT_TRUE(port.Write({}));
}

TEST_F(ZentoComTest, WriteWaitsForASlowReader) {
    zento_com port;
    ASSERT_TRUE(Open(port, 1, kPtyCom));
    // Far more than the line buffers hold, so the write has to wait for room.
    std::string block(40000, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('a' + i % 26);
    std::string received;
    std::thread reader([&] {
        std::this_thread::sleep_for(milliseconds(100));
        received = pty.Read(block.size(), milliseconds(5000));
    });
    EXPECT_TRUE(port.Write(Bytes(block)));
    reader.join();
    EXPECT_TRUE(received == block) << received.size() << " bytes arrived";
}

TEST_F(ZentoComTest, WriteGivesUpWhenNobodyReads) {
    zento_com port;
    ASSERT_TRUE(Open(port, 1, kPtyCom));
    const std::string block(256 * 1024, 'x');
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(port.Write(Bytes(block)));
    EXPECT_LT(ElapsedMs(start), 5000);
    // The port stays usable.
    ASSERT_TRUE(pty.Write("k"));
    EXPECT_EQ(port.ReadByte(), std::optional<std::uint8_t>('k'));
}

TEST_F(ZentoComTest, ClosedPortDoesNothing) {
    RecordingTty tty;
    zento_com port;
    EXPECT_FALSE(port.Write(Bytes("x")));
    EXPECT_FALSE(port.ReadByte());
    EXPECT_FALSE(port.LineError());
    EXPECT_FALSE(port.configure(ProfileOf(1)));
    port.Purge();
    port.SetRts(true);
    port.SetDtr(true);
    port.SetBreak(true);
    port.close();
    EXPECT_TRUE(tty.events.empty());
}

}  // namespace
}  // namespace karvelo::serial
