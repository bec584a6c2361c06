#pragma once
// The running simulator: one pseudo-terminal per instrument, served by one
// poll loop, so that an instrument whose line nobody reads never holds up the
// others.

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "serial/scenario.h"

namespace karvelo::sim {

using Clock = std::chrono::steady_clock;

// One line "[seconds] name: text" on standard error. A log that nobody reads
// drops lines instead of stalling the instruments.
void LogLine(std::string_view name, std::string_view text);

class Instrument {
  public:
    explicit Instrument(InstrumentConfig config);
    ~Instrument();
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    // Creates the pseudo-terminal and the link to its slave; throws
    // std::runtime_error with the reason.
    void Open();
    // Removes the link if it still leads to this instrument's terminal.
    void RemoveLink();

    bool alive() const { return master_ >= 0; }
    // A hung-up instrument that comes back is due to be plugged in again.
    bool ReplugDue(Clock::time_point now) const { return replugAt_ && *replugAt_ <= now; }
    // Plugs it in again: a new terminal behind the same link; false (logged)
    // when that fails.
    bool Replug();
    int masterFd() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }
    const InstrumentConfig& config() const { return config_; }

    short PollEvents(Clock::time_point now) const;
    void OnPoll(short revents, Clock::time_point now);
    // Scheduled sends, due output, input that matched no request.
    void OnTimers(Clock::time_point now);
    std::optional<Clock::time_point> NextDeadline(Clock::time_point now) const;

    // Someone opened or closed the slave (the station).
    void OnSlaveOpened();
    void OnSlaveClosed();
    void OnOpenCountLost() { openers_ = 0; }

  private:
    struct Chunk {
        Clock::time_point due;
        std::string bytes;
    };

    void OnInput(std::string_view bytes, Clock::time_point now);
    bool LineEchoes() const;
    void FlushIgnored();
    // One request answered or one scheduled send: the next values, normal or
    // misbehaving.
    void Turn(int valueIndex, bool scheduled, Clock::time_point now);
    bool Misbehaves() const;
    void Send(std::string reply, std::string_view what, Clock::time_point now);
    void SendSlowly(const std::string& reply, std::string_view via, Clock::time_point now);
    // True when `size` more bytes do not fit the backlog: the reply is dropped.
    bool Backlogged(std::size_t size);
    void FlushOutput(Clock::time_point now);
    void HangUp();
    void Log(std::string_view text) const { LogLine(config_.name, text); }

    InstrumentConfig config_;
    int master_ = -1;
    int slave_ = -1;  // held open so the master never sees a hang-up; never read
    std::string slavePath_;
    bool linked_ = false;

    std::uint64_t turns_ = 0;
    std::mt19937 random_;
    std::deque<Chunk> output_;
    std::size_t queued_ = 0;
    std::uint64_t dropped_ = 0;  // replies dropped since the line was last read
    std::string input_;
    Clock::time_point lastInput_{};
    std::optional<Clock::time_point> nextSend_;
    std::optional<Clock::time_point> pausedUntil_;
    std::optional<Clock::time_point> replugAt_;
    int openers_ = 0;
    bool echoReported_ = false;
};

class Simulator {
  public:
    explicit Simulator(std::vector<InstrumentConfig> instruments);
    ~Simulator();

    // Creates every link, prints READY, serves until SIGTERM, SIGINT or SIGHUP
    // and removes the links. The exit code: 0 after a signal, 1 when an
    // instrument could not be set up.
    int Run();

  private:
    void WatchSlaves();
    void Watch(std::size_t index);
    void OnWatchEvents();
    void Unwatch(Instrument& instrument);

    std::vector<std::unique_ptr<Instrument>> instruments_;
    std::vector<int> watches_;  // inotify watch of each instrument's slave, -1 when none
    int signals_ = -1;
    int inotify_ = -1;
};

}  // namespace karvelo::sim
