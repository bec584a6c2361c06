#pragma once
// A serial port whose instrument follows a script. Each ReadByte call takes
// the next scripted event: a byte, a silence (the read time-out passes without
// a byte) or a line error; with nothing left the line is silent. Writes and
// line actions are recorded in order.
//
//   ScriptedPort port;
//   port.Reply("+012.345\r").Silence().LineErrorNext().Reply({0x04, 0xB0});
//   ... run the code under test ...
//   EXPECT_THAT(port.actions(), ElementsAre("purge", "write ?\r"));

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "backends/serial/serial_line.h"

namespace karvelo::testing {

class ScriptedPort : public serial::SerialLine {
  public:
    // Bytes the instrument sends from now on, one per ReadByte call. A
    // string_view keeps embedded zero bytes: Reply(std::string_view("1\0\r", 3)).
    ScriptedPort& Reply(std::string_view bytes) {
        for (char c : bytes) events_.push_back({Event::kByte, static_cast<std::uint8_t>(c), false});
        return *this;
    }
    ScriptedPort& Reply(std::initializer_list<std::uint8_t> bytes) {
        for (std::uint8_t b : bytes) events_.push_back({Event::kByte, b, false});
        return *this;
    }
    // Bytes already waiting in the driver's input queue; a Purge discards them,
    // unlike the bytes of Reply, which the instrument sends after the purge.
    ScriptedPort& Waiting(std::string_view bytes) {
        for (char c : bytes) events_.push_back({Event::kByte, static_cast<std::uint8_t>(c), true});
        return *this;
    }
    // `count` reads that time out without a byte.
    ScriptedPort& Silence(int count = 1) {
        for (int i = 0; i < count; ++i) events_.push_back({Event::kSilence, 0, false});
        return *this;
    }
    // The line is disturbed: the next LineError() reports (and clears) it;
    // if ReadByte comes first, that read fails because of it.
    ScriptedPort& LineErrorNext() {
        events_.push_back({Event::kLineError, 0, false});
        return *this;
    }

    // Every write fails from now on (false: succeed again). Still recorded.
    void FailWrites(bool fail = true) { failWrites_ = fail; }
    // Runs after every write with the written bytes, e.g. to script the
    // instrument's answer to a request.
    void OnWrite(std::function<void(ScriptedPort&, std::string_view)> handler) {
        onWrite_ = std::move(handler);
    }

    bool Write(std::span<const std::uint8_t> bytes) override {
        std::string written(bytes.begin(), bytes.end());
        writes_.push_back(written);
        actions_.push_back("write " + written);
        if (onWrite_) onWrite_(*this, written);
        return !failWrites_;
    }
    bool LineError() override {
        ++lineErrorChecks_;
        if (!events_.empty() && events_.front().kind == Event::kLineError) {
            events_.pop_front();
            return true;
        }
        return false;
    }
    std::optional<std::uint8_t> ReadByte() override {
        ++readCalls_;
        if (events_.empty()) {
            ++readsAfterEnd_;
            return std::nullopt;
        }
        const Event e = events_.front();
        events_.pop_front();
        if (e.kind == Event::kByte) return e.byte;
        return std::nullopt;
    }
    void Purge() override {
        actions_.push_back("purge");
        std::erase_if(events_, [](const Event& e) { return e.waiting; });
    }
    void SetRts(bool on) override { actions_.push_back(on ? "rts on" : "rts off"); }
    void SetDtr(bool on) override { actions_.push_back(on ? "dtr on" : "dtr off"); }
    void SetBreak(bool on) override { actions_.push_back(on ? "break on" : "break off"); }

    // Every write's bytes, in order.
    const std::vector<std::string>& writes() const { return writes_; }
    // Writes ("write <bytes>") and line actions ("purge", "rts on", "rts off",
    // "dtr on", "dtr off", "break on", "break off") in the order they happened.
    const std::vector<std::string>& actions() const { return actions_; }
    // Scripted events not consumed yet.
    std::size_t pending() const { return events_.size(); }
    int readCalls() const { return readCalls_; }
    // ReadByte calls made after the script ran out.
    int readsAfterEnd() const { return readsAfterEnd_; }
    int lineErrorChecks() const { return lineErrorChecks_; }

  private:
    struct Event {
        enum Kind : std::uint8_t { kByte, kSilence, kLineError } kind;
        std::uint8_t byte;
        bool waiting;  // already queued: discarded by a purge
    };

    std::deque<Event> events_;
    std::vector<std::string> writes_;
    std::vector<std::string> actions_;
    std::function<void(ScriptedPort&, std::string_view)> onWrite_;
    bool failWrites_ = false;
    int readCalls_ = 0;
    int readsAfterEnd_ = 0;
    int lineErrorChecks_ = 0;
};

}  // namespace karvelo::testing
