// The simulated libibr_ddk.so, loaded the way the station loads IBR's driver
// and driven through its five calls: what each channel answers, the latch a
// channel may wait for, the driver's start and a scenario it cannot use.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "backends/ibrit/bus_library.h"
#include "platform/shared_library.h"
#include "support/temp_dir.h"

namespace karvelo {
namespace {

using karvelo::ibrit::BusDriver;
using karvelo::platform::SharedLibrary;
using karvelo::testing::TempDir;

struct Collected {
    int code;
    double value;

    bool operator==(const Collected&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Collected& c) {
    return os << "{" << c.code << ", " << c.value << "}";
}

class IbritSim : public ::testing::Test {
  protected:
    void TearDown() override {
        if (driver_) driver_->DeInit();
        unsetenv("KARVELO_IBRIT_SIM");
        unsetenv("KARVELO_IBRIT_SIM_LOG");
    }

    // Loads the library with this scenario text and starts the driver;
    // returns what Device_Init answered.
    int Load(const std::string& scenario) {
        dir_.Write("bench.ini", scenario);
        setenv("KARVELO_IBRIT_SIM", dir_.file("bench.ini").c_str(), 1);
        setenv("KARVELO_IBRIT_SIM_LOG", dir_.file("sim.log").c_str(), 1);
        hook_ = SharedLibrary::Load("libibr_ddk.so", KARVELO_SIM_DIR);
        auto reload = reinterpret_cast<int (*)()>(hook_.Symbol("KarveloSimReload"));
        EXPECT_NE(reload, nullptr);
        if (reload) reload();
        driver_ = ibrit::LoadBusDriver(KARVELO_SIM_DIR);
        EXPECT_NE(driver_, nullptr);
        return driver_ ? driver_->Init(1, "/opt/bench/ibr.ddk", 0, 0) : -1;
    }
    Collected Collect(int bus, int channel) {
        std::int32_t ch = channel;
        double value = -99.0;
        const int code = driver_->Collect(bus, &ch, &value);
        return {code, value};
    }
    std::string Log() const { return dir_.Read("sim.log"); }

    TempDir dir_;
    SharedLibrary hook_;
    std::unique_ptr<BusDriver> driver_;
};

TEST_F(IbritSim, ChannelsAnswerInTurnAndDeliverTheirValuesInTurn) {
    ASSERT_EQ(Load("[g]\nbus=2\nchannel=5\nvalues=1.5 2.5\nanswers=0 190 0 3 0 -7\n"
                   "[driver]\nunknown=12\n"),
              0);
    std::vector<Collected> got;
    for (int i = 0; i < 7; ++i) got.push_back(Collect(2, 5));
    EXPECT_EQ(got,
              (std::vector<Collected>{
                  {0, 1.5}, {190, -99.0}, {0, 2.5}, {3, -99.0}, {0, 1.5}, {-7, -99.0}, {0, 2.5}}));
    EXPECT_EQ(Collect(2, 6), (Collected{12, -99.0}));  // no such channel
    EXPECT_EQ(Collect(9, 5), (Collected{5, -99.0}));   // no such bus
    EXPECT_NE(Log().find("\"/opt/bench/ibr.ddk\""), std::string::npos) << Log();
}

TEST_F(IbritSim, ChannelThatNeedsALatchAnswersThreeWithoutOne) {
    ASSERT_EQ(Load("[g]\nbus=3\nchannel=1\nvalues=4\nneeds_latch=yes\n"), 0);
    EXPECT_EQ(Collect(3, 1).code, 3);
    driver_->Latch(2);  // another bus
    EXPECT_EQ(Collect(3, 1).code, 3);
    driver_->Latch(3);
    EXPECT_EQ(Collect(3, 1), (Collected{0, 4.0}));
    EXPECT_EQ(Collect(3, 1).code, 3);
    EXPECT_NE(Log().find("latch bus 3 (1)"), std::string::npos) << Log();
}

TEST_F(IbritSim, DriverThatDoesNotStartAnswersNothing) {
    const struct {
        const char* scenario;
        int init;
    } cases[] = {
        {"[driver]\ninit=6\n[g]\nbus=1\nchannel=1\n", 6},
        {"[g]\nbus=1\n", 1},  // no channel: a bad scenario, no bus
        {"[g]\nbus=1\nchannel=1\nanswers=x\n", 1},
        {"[a]\nbus=1\nchannel=1\n[b]\nbus=1\nchannel=1\n", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Load(c.scenario), c.init) << c.scenario;
        EXPECT_EQ(Collect(1, 1).code, 4) << c.scenario;  // not initialised
        EXPECT_EQ(driver_->Latch(1), 4) << c.scenario;
        driver_->DeInit();
    }
    EXPECT_NE(Log().find("channel is missing"), std::string::npos) << Log();
}

}  // namespace
}  // namespace karvelo
