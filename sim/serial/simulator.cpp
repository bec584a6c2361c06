#include "serial/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "devices/catalogue.h"
#include "platform/numbers.h"

namespace karvelo::sim {
namespace {

using std::chrono::milliseconds;

// Bytes an instrument holds back when the station does not take them (enough
// for one long reply sent slowly). A real instrument's output is lost when
// nobody reads the line; a long backlog would only deliver stale replies after
// the station's next purge.
constexpr std::size_t kBacklogLimit = 512;
// Input that matches no request is logged (and dropped) after this pause or size.
constexpr milliseconds kIgnoredInputPause{300};
constexpr std::size_t kIgnoredInputLimit = 64;
// A master that reports a hang-up is left alone for a while instead of being
// polled in a busy loop.
constexpr milliseconds kHangupPause{100};

const Clock::time_point kStart = Clock::now();
unsigned long g_droppedLogLines = 0;

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

void WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::tm LocalTime() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

}  // namespace

void LogLine(std::string_view name, std::string_view text) {
    const double seconds = std::chrono::duration<double>(Clock::now() - kStart).count();
    std::string line = "[" + platform::FormatFixedNarrow(seconds, 3) + "] " + std::string(name) +
                       ": " + std::string(text) + "\n";
    pollfd p{STDERR_FILENO, POLLOUT, 0};
    if (poll(&p, 1, 0) != 1 || (p.revents & POLLOUT) == 0) {
        ++g_droppedLogLines;
        return;
    }
    if (g_droppedLogLines > 0) {
        line = "(" + std::to_string(g_droppedLogLines) + " log lines dropped)\n" + line;
        g_droppedLogLines = 0;
    }
    WriteAll(STDERR_FILENO, line);
}

// ---------------------------------------------------------------------------

Instrument::Instrument(InstrumentConfig config)
    : config_(std::move(config)), random_(config_.seed) {}

Instrument::~Instrument() {
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
}

void Instrument::Open() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) throw std::runtime_error(Errno("cannot create a pseudo-terminal"));
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error(Errno("cannot unlock the pseudo-terminal"));
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        throw std::runtime_error(Errno("cannot name the pseudo-terminal"));
    }
    slavePath_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) throw std::runtime_error(Errno("cannot open " + slavePath_));
    // Raw both ways: no echo of what the instrument sends, no CR/LF translation.
    termios t{};
    if (tcgetattr(master_, &t) == 0) {
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        tcsetattr(master_, TCSANOW, &t);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);

    struct stat st {};
    if (lstat(config_.link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        throw std::runtime_error(config_.link + " exists and is not a symbolic link");
    }
    // A new link under a temporary name, renamed over a stale one in one step.
    const std::string temporary = config_.link + ".new-" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(slavePath_.c_str(), temporary.c_str()) != 0) {
        throw std::runtime_error(Errno("cannot create the link " + config_.link));
    }
    if (rename(temporary.c_str(), config_.link.c_str()) != 0) {
        const std::string reason = Errno("cannot create the link " + config_.link);
        unlink(temporary.c_str());
        throw std::runtime_error(reason);
    }
    linked_ = true;
    if (config_.everyMs > 0) nextSend_ = Clock::now() + milliseconds(config_.everyMs);
    Log(config_.link + " -> " + slavePath_ + ", type " + std::to_string(config_.type) + " " +
        std::string(devices::DeviceTypeName(config_.type)) +
        (config_.behaviour == Behaviour::Normal
             ? std::string()
             : ", " + std::string(BehaviourName(config_.behaviour)) +
                   (config_.every > 1 ? ", every " + std::to_string(config_.every)
                                      : std::string()) +
                   (config_.after > 0 ? ", after " + std::to_string(config_.after)
                                      : std::string())) +
        (config_.everyMs > 0 ? ", sends every " + std::to_string(config_.everyMs) + " ms"
                             : std::string()));
}

void Instrument::RemoveLink() {
    if (!linked_) return;
    linked_ = false;
    char target[256];
    const ssize_t n = readlink(config_.link.c_str(), target, sizeof target - 1);
    // Another simulator may have taken the path over since.
    if (n > 0 && std::string_view(target, static_cast<std::size_t>(n)) == slavePath_) {
        unlink(config_.link.c_str());
    }
}

short Instrument::PollEvents(Clock::time_point now) const {
    if (!alive()) return 0;
    short events = 0;
    if (!pausedUntil_) events |= POLLIN;
    if (!output_.empty() && output_.front().due <= now) events |= POLLOUT;
    return events;
}

std::optional<Clock::time_point> Instrument::NextDeadline(Clock::time_point now) const {
    if (!alive()) return replugAt_;
    std::optional<Clock::time_point> next;
    auto consider = [&](Clock::time_point t) {
        if (!next || t < *next) next = t;
    };
    if (nextSend_) consider(*nextSend_);
    if (!output_.empty() && output_.front().due > now) consider(output_.front().due);
    if (!input_.empty()) consider(lastInput_ + kIgnoredInputPause);
    if (pausedUntil_) consider(*pausedUntil_);
    return next;
}

void Instrument::OnPoll(short revents, Clock::time_point now) {
    if (!alive() || revents == 0) return;
    if (revents & POLLIN) {
        char buf[256];
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n > 0 && LineEchoes()) {
            // Our own replies come back as input; answering them could loop forever.
            if (!echoReported_)
                Log("the line echoes (ECHO set on it); input ignored until it is off");
            echoReported_ = true;
        } else if (n > 0) {
            echoReported_ = false;
            OnInput(std::string_view(buf, static_cast<std::size_t>(n)), now);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            pausedUntil_ = now + kHangupPause;
        }
    } else if (revents & (POLLHUP | POLLERR)) {
        pausedUntil_ = now + kHangupPause;
    }
    if (alive() && (revents & POLLOUT)) FlushOutput(now);
}

void Instrument::OnTimers(Clock::time_point now) {
    if (!alive()) return;
    if (pausedUntil_ && *pausedUntil_ <= now) pausedUntil_.reset();
    if (!input_.empty() && now - lastInput_ >= kIgnoredInputPause) FlushIgnored();
    if (nextSend_ && *nextSend_ <= now) {
        *nextSend_ += milliseconds(config_.everyMs);
        // After a stall, carry on from now rather than sending a burst.
        if (*nextSend_ <= now) *nextSend_ = now + milliseconds(config_.everyMs);
        Turn(0, true, now);
    }
    if (alive()) FlushOutput(now);
}

bool Instrument::LineEchoes() const {
    termios t{};
    return tcgetattr(slave_, &t) == 0 && (t.c_lflag & ECHO) != 0;
}

void Instrument::OnInput(std::string_view bytes, Clock::time_point now) {
    for (char c : bytes) {
        input_ += c;
        lastInput_ = now;
        for (const RequestCode& r : config_.protocol->requests) {
            if (r.bytes.empty() || !input_.ends_with(r.bytes)) continue;
            input_.resize(input_.size() - r.bytes.size());
            FlushIgnored();
            Log("request " + Escape(r.bytes));
            Turn(r.valueIndex, false, now);
            if (!alive()) return;
            break;
        }
        if (input_.size() > kIgnoredInputLimit) FlushIgnored();
    }
}

void Instrument::FlushIgnored() {
    if (input_.empty()) return;
    Log("ignored " + Escape(input_));
    input_.clear();
}

bool Instrument::Misbehaves() const {
    const auto after = static_cast<std::uint64_t>(config_.after);
    return config_.behaviour != Behaviour::Normal && turns_ > after &&
           (turns_ - after) % static_cast<std::uint64_t>(config_.every) == 0;
}

void Instrument::Turn(int valueIndex, bool scheduled, Clock::time_point now) {
    ++turns_;
    const std::size_t index = static_cast<std::size_t>(turns_ - 1);
    ReplyData d;
    d.values = config_.replies[index % config_.replies.size()];
    d.decimals = config_.decimals;
    d.valueIndex = valueIndex;
    d.sendFlag = config_.flags[index % config_.flags.size()];
    d.unit = config_.unit;
    d.points = config_.points;
    d.time = LocalTime();
    const InstrumentProtocol& p = *config_.protocol;
    const std::string via = scheduled ? " (send key)" : "";

    switch (Misbehaves() ? config_.behaviour : Behaviour::Normal) {
        case Behaviour::Normal:
            Send(NormalReply(p, d), "reply" + via, now);
            break;
        case Behaviour::Silent:
            Log("silent, no reply" + via);
            break;
        case Behaviour::Slow:
            SendSlowly(NormalReply(p, d), via, now);
            break;
        case Behaviour::Cut: {
            std::string reply = NormalReply(p, d);
            reply.resize(std::max<std::size_t>(1, reply.size() / 2));
            Send(std::move(reply), "cut reply" + via, now);
            break;
        }
        case Behaviour::Error:
            // Types without an error marker are refused when the scenario is read.
            Send(ErrorReply(p, d).value_or(std::string()), "error reply" + via, now);
            break;
        case Behaviour::Garbage: {
            std::uniform_int_distribution<int> length(4, 24);
            std::uniform_int_distribution<int> byte(0, 255);
            std::string reply(static_cast<std::size_t>(length(random_)), '\0');
            for (char& c : reply) c = static_cast<char>(byte(random_));
            Send(std::move(reply), "garbage" + via, now);
            break;
        }
        case Behaviour::Invalid:
            Send(InvalidReply(p, d), "invalid reply" + via, now);
            break;
        case Behaviour::Hangup:
            HangUp();
            break;
    }
}

bool Instrument::Backlogged(std::size_t size) {
    if (queued_ + size <= kBacklogLimit) {
        if (dropped_ > 0)
            Log(std::to_string(dropped_) + " replies were dropped, the line was not read");
        dropped_ = 0;
        return false;
    }
    if (dropped_++ == 0) Log("reply dropped, the line is not read (further drops are counted)");
    return true;
}

void Instrument::Send(std::string reply, std::string_view what, Clock::time_point now) {
    if (Backlogged(reply.size())) return;
    Log(std::string(what) + " " + Escape(reply));
    queued_ += reply.size();
    const Clock::time_point due = output_.empty() ? now : std::max(now, output_.back().due);
    output_.push_back({due, std::move(reply)});
    FlushOutput(now);
}

void Instrument::SendSlowly(const std::string& reply, std::string_view via, Clock::time_point now) {
    if (Backlogged(reply.size())) return;
    Log("slow reply" + std::string(via) + ", " + std::to_string(config_.delayMs) + " ms per byte " +
        Escape(reply));
    Clock::time_point due = output_.empty() ? now : std::max(now, output_.back().due);
    for (char c : reply) {
        output_.push_back({due, std::string(1, c)});
        due += milliseconds(config_.delayMs);
    }
    queued_ += reply.size();
    FlushOutput(now);
}

void Instrument::FlushOutput(Clock::time_point now) {
    while (!output_.empty() && output_.front().due <= now) {
        std::string& bytes = output_.front().bytes;
        const ssize_t n = write(master_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) return;  // wait for POLLOUT
            Log(Errno("write failed, output dropped"));
            output_.clear();
            queued_ = 0;
            return;
        }
        queued_ -= static_cast<std::size_t>(n);
        if (static_cast<std::size_t>(n) < bytes.size()) {
            bytes.erase(0, static_cast<std::size_t>(n));
            return;
        }
        output_.pop_front();
    }
}

void Instrument::HangUp() {
    Log("hang-up after " + std::to_string(turns_ - 1) + " replies: link removed, line dead");
    output_.clear();
    queued_ = 0;
    input_.clear();
    nextSend_.reset();
    // The terminal's number is free for others once the station lets go; the link
    // must not lead there. Gone before the line goes dead, so whoever sees the
    // hang-up finds no link.
    RemoveLink();
    close(master_);
    master_ = -1;
    close(slave_);
    slave_ = -1;
    if (config_.replugMs > 0) {
        replugAt_ = Clock::now() + milliseconds(config_.replugMs);
        Log("plugged in again in " + std::to_string(config_.replugMs) + " ms");
    }
}

bool Instrument::Replug() {
    replugAt_.reset();
    pausedUntil_.reset();
    openers_ = 0;
    try {
        Open();
    } catch (const std::exception& e) {
        if (master_ >= 0) close(master_);
        if (slave_ >= 0) close(slave_);
        master_ = slave_ = -1;
        Log(std::string("cannot plug in again: ") + e.what());
        return false;
    }
    Log("plugged in again");
    return true;
}

void Instrument::OnSlaveOpened() {
    ++openers_;
    Log("line opened");
}

void Instrument::OnSlaveClosed() {
    if (openers_ > 0) --openers_;
    std::string text = "line closed";
    // The station opens its port for exclusive use. On a pseudo-terminal that
    // mark outlives the station's descriptor (the terminal stays while the
    // master is open) and would refuse every later open by an ordinary user;
    // a real port forgets it on the last close, so do the same here.
    int exclusive = 0;
    if (openers_ == 0 && slave_ >= 0 && ioctl(slave_, TIOCGEXCL, &exclusive) == 0 &&
        exclusive != 0 && ioctl(slave_, TIOCNXCL) == 0) {
        text += ", exclusive use released";
    }
    Log(text);
}

// ---------------------------------------------------------------------------

Simulator::Simulator(std::vector<InstrumentConfig> instruments) {
    for (InstrumentConfig& c : instruments) {
        instruments_.push_back(std::make_unique<Instrument>(std::move(c)));
    }
    watches_.assign(instruments_.size(), -1);
}

Simulator::~Simulator() {
    for (auto& i : instruments_) i->RemoveLink();
    if (inotify_ >= 0) close(inotify_);
    if (signals_ >= 0) close(signals_);
}

void Simulator::WatchSlaves() {
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0) {
        LogLine("simulator", Errno("no inotify, opens and closes of the lines are not seen"));
        return;
    }
    for (std::size_t i = 0; i < instruments_.size(); ++i) Watch(i);
}

void Simulator::Watch(std::size_t i) {
    if (inotify_ < 0) return;
    watches_[i] = inotify_add_watch(inotify_, instruments_[i]->slavePath().c_str(),
                                    IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
}

void Simulator::Unwatch(Instrument& instrument) {
    for (std::size_t i = 0; i < instruments_.size(); ++i) {
        if (instruments_[i].get() == &instrument && watches_[i] >= 0) {
            inotify_rm_watch(inotify_, watches_[i]);
            watches_[i] = -1;
        }
    }
}

void Simulator::OnWatchEvents() {
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = read(inotify_, buf, sizeof buf);
        if (n <= 0) return;
        for (ssize_t at = 0; at < n;) {
            inotify_event event{};
            std::memcpy(&event, buf + at, sizeof event);
            at += static_cast<ssize_t>(sizeof event + event.len);
            if (event.mask & IN_Q_OVERFLOW) {
                for (auto& i : instruments_) i->OnOpenCountLost();
                continue;
            }
            const auto it = std::find(watches_.begin(), watches_.end(), event.wd);
            if (it == watches_.end()) continue;
            Instrument& instrument = *instruments_[static_cast<std::size_t>(it - watches_.begin())];
            if (event.mask & IN_IGNORED) *it = -1;
            if (event.mask & IN_OPEN) instrument.OnSlaveOpened();
            if (event.mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) instrument.OnSlaveClosed();
        }
    }
}

int Simulator::Run() {
    // SIGTERM, SIGINT and SIGHUP arrive through a descriptor of the poll loop.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGHUP);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);
    signals_ = signalfd(-1, &stop, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signals_ < 0) {
        std::fprintf(stderr, "karvelo-serial-sim: %s\n", Errno("signalfd").c_str());
        return 1;
    }

    for (auto& i : instruments_) {
        try {
            i->Open();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "karvelo-serial-sim: %s: %s\n", i->config().name.c_str(),
                         e.what());
            return 1;  // the destructor removes the links made so far
        }
    }
    WatchSlaves();
    std::fputs("READY\n", stdout);
    std::fflush(stdout);

    std::vector<pollfd> fds;
    for (;;) {
        Clock::time_point now = Clock::now();
        for (std::size_t k = 0; k < instruments_.size(); ++k) {
            Instrument& i = *instruments_[k];
            if (i.ReplugDue(now) && i.Replug()) Watch(k);
            i.OnTimers(now);
            if (!i.alive()) Unwatch(i);
        }

        std::optional<Clock::time_point> next;
        fds.assign({{signals_, POLLIN, 0}, {inotify_, POLLIN, 0}});
        for (auto& i : instruments_) {
            fds.push_back({i->masterFd(), i->PollEvents(now), 0});
            if (const auto d = i->NextDeadline(now); d && (!next || *d < *next)) next = d;
        }
        int timeout = 1000;
        if (next) {
            const auto wait = std::chrono::ceil<milliseconds>(*next - now).count();
            timeout = static_cast<int>(std::clamp<long long>(wait, 0, 1000));
        }
        if (poll(fds.data(), fds.size(), timeout) < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "karvelo-serial-sim: %s\n", Errno("poll").c_str());
            return 1;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(signals_, &info, sizeof info) > 0) {
                LogLine("simulator",
                        "signal " + std::to_string(info.ssi_signo) + ", removing the links");
            }
            return 0;
        }
        if (fds[1].revents & POLLIN) OnWatchEvents();
        now = Clock::now();
        for (std::size_t k = 0; k < instruments_.size(); ++k) {
            instruments_[k]->OnPoll(fds[k + 2].revents, now);
            if (!instruments_[k]->alive()) Unwatch(*instruments_[k]);
        }
    }
}

}  // namespace karvelo::sim
