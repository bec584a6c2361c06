#include "export/record_channel.h"

#include <utility>

#include "export/export_types.h"

namespace karvelo::exports {

RecordLane LaneOf(ExportKind exportType) {
    return ExportTypeOf(exportType).target == ExportTarget::Workbook ? RecordLane::Window
                                                                     : RecordLane::Files;
}

std::uint64_t RecordChannel::Hand(Record record) {
    const RecordLane lane = LaneOf(record.exportType);
    std::uint64_t number = 0;
    {
        std::lock_guard<std::mutex> hold(lock_);
        number = ++last_;
        open_.emplace(number, lane);
        lanes_[Index(lane)].push_back({number, std::move(record)});
    }
    changed_.notify_all();
    return number;
}

bool RecordChannel::WaitTaken(std::uint64_t number, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, limit, [&] { return !open_.contains(number); });
}

std::deque<HandedRecord> RecordChannel::Take(RecordLane lane) {
    std::lock_guard<std::mutex> hold(lock_);
    return std::exchange(lanes_[Index(lane)], {});
}

std::deque<HandedRecord> RecordChannel::WaitAndTake(RecordLane lane) {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return closed_ || !lanes_[Index(lane)].empty(); });
    if (closed_) return {};
    return std::exchange(lanes_[Index(lane)], {});
}

void RecordChannel::Requeue(RecordLane lane, std::deque<HandedRecord> kept) {
    if (kept.empty()) return;
    {
        std::lock_guard<std::mutex> hold(lock_);
        std::deque<HandedRecord>& queue = lanes_[Index(lane)];
        for (HandedRecord& r : queue) kept.push_back(std::move(r));
        queue = std::move(kept);
    }
    changed_.notify_all();
}

void RecordChannel::Settle(std::uint64_t number) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        open_.erase(number);
    }
    changed_.notify_all();
}

std::size_t RecordChannel::Queued(RecordLane lane) const {
    std::lock_guard<std::mutex> hold(lock_);
    return lanes_[Index(lane)].size();
}

std::size_t RecordChannel::Open() const {
    std::lock_guard<std::mutex> hold(lock_);
    return open_.size();
}

bool RecordChannel::IdleLocked(RecordLane lane) const {
    if (!lanes_[Index(lane)].empty()) return false;
    for (const auto& [number, itsLane] : open_) {
        if (itsLane == lane) return false;
    }
    return true;
}

bool RecordChannel::WaitIdle(RecordLane lane, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, limit, [&] { return IdleLocked(lane); });
}

void RecordChannel::Close() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        closed_ = true;
    }
    changed_.notify_all();
}

}  // namespace karvelo::exports
