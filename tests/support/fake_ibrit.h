#pragma once
// An IBRit bus driver of scripted answers: each Device_Collect takes the next
// answer queued for its bus and channel (then the channel's default), and
// every call is recorded.

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "backends/ibrit/bus_library.h"

namespace karvelo::testing {

struct BusAnswer {
    std::int16_t code = 0;
    double value = 0.0;
};

// What the fake driver answers and what it was asked; outlives the driver.
struct FakeBus {
    std::int16_t initResult = 0;
    std::map<std::pair<int, int>, std::deque<BusAnswer>> answers;  // (bus, channel)
    BusAnswer fallback{ibrit::kCollectNothingNew, 0.0};

    int loads = 0;
    int inits = 0;
    int deInits = 0;
    std::vector<std::optional<std::string>> initPaths;  // nullopt: a null path
    std::vector<int> latches;
    std::vector<std::pair<int, int>> collects;  // (bus, channel)
    struct SetupCall {
        std::optional<std::string> path;
        std::uintptr_t parent;
        std::string buffer;
    };
    std::vector<SetupCall> setups;

    void Queue(int bus, int channel, std::vector<BusAnswer> list) {
        auto& q = answers[{bus, channel}];
        q.insert(q.end(), list.begin(), list.end());
    }
};

class FakeBusDriver : public ibrit::BusDriver {
  public:
    explicit FakeBusDriver(FakeBus& bus) : bus_(bus) {}

    std::int16_t Init(std::int32_t, const char* path, std::int32_t, std::int32_t) override {
        ++bus_.inits;
        bus_.initPaths.push_back(path ? std::optional<std::string>(path) : std::nullopt);
        return bus_.initResult;
    }
    void DeInit() override { ++bus_.deInits; }
    std::int16_t Setup(std::int32_t, const char* path, std::uintptr_t parent,
                       char buffer[20]) override {
        bus_.setups.push_back({path ? std::optional<std::string>(path) : std::nullopt, parent,
                               std::string(buffer, 20)});
        return 0;
    }
    std::int16_t Latch(std::int32_t bus) override {
        bus_.latches.push_back(bus);
        return 0;
    }
    std::int16_t Collect(std::int32_t bus, std::int32_t* channel, double* value) override {
        bus_.collects.emplace_back(bus, *channel);
        BusAnswer a = bus_.fallback;
        auto it = bus_.answers.find({bus, *channel});
        if (it != bus_.answers.end() && !it->second.empty()) {
            a = it->second.front();
            it->second.pop_front();
        }
        if (a.code == ibrit::kCollectValue) *value = a.value;
        return a.code;
    }

  private:
    FakeBus& bus_;
};

// A loader that hands out drivers of `bus` and counts the loads.
inline ibrit::BusLoader FakeBusLoader(FakeBus& bus) {
    return [&bus]() -> std::unique_ptr<ibrit::BusDriver> {
        ++bus.loads;
        return std::make_unique<FakeBusDriver>(bus);
    };
}

}  // namespace karvelo::testing
