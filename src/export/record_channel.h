#pragma once
// The hand-over of journaled records from the acquisition thread to their
// targets. Each record gets a number and goes into the lane of its target:
// the files lane is written by a thread of its own, the window lane (the
// workbook, which needs the user-interface thread) by the export timer. The
// acquisition thread waits on a condition variable until its record has had
// its turn, or until the watchdog's time has passed; nothing polls.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>

#include "export/record.h"

namespace karvelo::exports {

enum class RecordLane {
    Files,   // CSV files, written off the window's thread
    Window,  // workbook cells, written on the window's thread
};

// The lane of an export type; types that write no file (a hand-edited
// number) go to the files lane, whose writer reports them.
RecordLane LaneOf(ExportKind exportType);

struct HandedRecord {
    std::uint64_t number = 0;
    Record record;
};

class RecordChannel {
  public:
    RecordChannel() = default;
    RecordChannel(const RecordChannel&) = delete;
    RecordChannel& operator=(const RecordChannel&) = delete;

    // Queues a record for its lane and returns its number (any thread).
    std::uint64_t Hand(Record record);

    // Waits until record `number` has had its turn with its target, at most
    // `limit`. False when the time ran out first.
    bool WaitTaken(std::uint64_t number, std::chrono::milliseconds limit);

    // Takes every record queued for `lane`, oldest first, without waiting.
    std::deque<HandedRecord> Take(RecordLane lane);

    // Waits until `lane` has records, then takes them all; empty once the
    // channel is closed.
    std::deque<HandedRecord> WaitAndTake(RecordLane lane);

    // Puts records that could not be written back in front of those queued
    // meanwhile. They have had their turn: nobody waits for them any more.
    void Requeue(RecordLane lane, std::deque<HandedRecord> kept);

    // Record `number` has had its turn: written, kept for later, or refused.
    void Settle(std::uint64_t number);

    // Records queued for `lane`.
    std::size_t Queued(RecordLane lane) const;

    // Records handed over that have not had their turn yet.
    std::size_t Open() const;

    // Waits until `lane` has nothing queued and nothing being written, at
    // most `limit`. False when the time ran out first.
    bool WaitIdle(RecordLane lane, std::chrono::milliseconds limit);

    // Ends WaitAndTake for good (the writer's end).
    void Close();

  private:
    static std::size_t Index(RecordLane lane) { return static_cast<std::size_t>(lane); }
    bool IdleLocked(RecordLane lane) const;

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::uint64_t last_ = 0;
    // Numbers handed over and not settled yet, with their lanes.
    std::map<std::uint64_t, RecordLane> open_;
    std::array<std::deque<HandedRecord>, 2> lanes_;
    bool closed_ = false;
};

}  // namespace karvelo::exports
