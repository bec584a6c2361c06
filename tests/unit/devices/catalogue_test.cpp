#include "devices/catalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace karvelo::devices {
namespace {

TEST(Catalogue, NamesAsStoredInConfigurations) {
    struct Case {
        int code;
        const char* name;
    };
    const Case cases[] = {
        {0, "TEXT input"},
        {2, "Sylvac simplex"},
        {8, "TESA GTLXX USB"},
        {22, "Marpos EasyBox"},
        {30, "IBRIT-BUS.1"},
        {37, "IBRIT-BUS.8"},
        {40, "RedLab16xx 10V"},
        {41, "RedLab16xx  5V"},
        {47, "RedLab12xx  1V"},
        {50, "OPTRIS IR Temp."},
        {54, "UMP-K 1608T"},
        {57, "Z-MIKE"},
        {7, "-"},
        {29, "-"},
        {38, "-"},
        {39, "-"},
        {48, "-"},
        {49, "-"},
        {55, "-"},
        {56, "-"},
        {-1, ""},
        {58, ""},
        {1000, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(DeviceTypeName(c.code), c.name);
    }
}

template <typename Pred>
std::set<int> Members(Pred pred) {
    std::set<int> out;
    for (int code = -5; code <= 70; ++code) {
        if (pred(DeviceTypeOf(code))) out.insert(code);
    }
    return out;
}

std::set<int> WithCapability(Capability c) {
    return Members([c](const DeviceType& t) { return t.Has(c); });
}

std::set<int> OnTransport(Transport transport) {
    return Members([transport](const DeviceType& t) { return t.transport == transport; });
}

TEST(Catalogue, TransportsAndCapabilities) {
    EXPECT_EQ(OnTransport(Transport::SerialCom),
              (std::set<int>{1, 2, 3, 4, 5, 6, 8, 9, 19, 23, 24, 25, 26, 27, 28, 50, 57}));
    EXPECT_EQ(OnTransport(Transport::FtdiUsb), (std::set<int>{10, 11, 12, 13, 14, 15, 16, 17, 18}));
    // The free code 7 still takes part in the COM-port open.
    EXPECT_EQ(WithCapability(kHoldsComPort),
              (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 19, 23, 24, 25, 26, 27, 28, 50, 57}));
    EXPECT_EQ(WithCapability(kSharedRequest),
              (std::set<int>{3, 11, 12, 13, 14, 15, 16, 17, 18, 19, 25}));
    EXPECT_EQ(WithCapability(kFanOutReader),
              (std::set<int>{3, 9, 11, 12, 13, 14, 15, 16, 17, 18, 25, 26}));
    EXPECT_EQ(WithCapability(kSendKeyResult), (std::set<int>{11, 12, 13, 14, 15, 16, 17, 18, 25}));
    EXPECT_EQ(WithCapability(kStoredResult), (std::set<int>{30, 31, 32, 33, 34, 35, 36, 37}));
    EXPECT_EQ(WithCapability(kRequestOnlyAfterTrigger), (std::set<int>{9}));
}

TEST(Catalogue, TransportsAndMissingDeviceWords) {
    struct Case {
        int code;
        Transport transport;
        const char* word;
    };
    const Case cases[] = {
        {0, Transport::Text, ""},
        {1, Transport::SerialCom, "com error"},
        {7, Transport::None, ""},
        {10, Transport::FtdiUsb, "usb error"},
        {20, Transport::CounterCard, "pci error"},
        {21, Transport::Orbit, "pci error"},
        {22, Transport::Marposs, "pci error"},
        {33, Transport::IbritBus, "usb error"},
        {45, Transport::AnalogInput, "usb error"},
        {52, Transport::AnalogInput, "usb error"},
        {57, Transport::SerialCom, "com error"},
        {-3, Transport::None, ""},
        {99, Transport::None, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(DeviceTypeOf(c.code).transport, c.transport);
        EXPECT_EQ(DeviceTypeOf(c.code).MissingWord(), c.word);
    }
}

// Every serial row can be opened and read; no other row has serial settings,
// so a generic loop can trust the row.
TEST(Catalogue, SerialRowsAreComplete) {
    for (const DeviceType& t : DeviceTypes()) {
        SCOPED_TRACE(t.code);
        const bool serial = t.transport == Transport::SerialCom;
        EXPECT_EQ(t.serial.line.valid(), serial);
        EXPECT_EQ(t.serial.reader != nullptr, serial);
        EXPECT_EQ(t.status != nullptr,
                  t.transport != Transport::None && t.transport != Transport::Text);
        if (t.request.action == RequestAction::Write) {
            EXPECT_FALSE(t.request.bytes.empty());
        }
    }
    // Sylvac simplex raises RTS where the duplex lowers it.
    EXPECT_EQ(DeviceTypeOf(2).serial.line.after[0], serial::LineAction::SetRts);
    EXPECT_EQ(DeviceTypeOf(1).serial.line.after[0], serial::LineAction::ClearRts);
}

TEST(Catalogue, SettleTimes) {
    struct Case {
        int code;
        int ms;
    };
    const Case cases[] = {{0, 0},    {1, 200},   {2, 300}, {7, 200},  {9, 200},  {10, 100},
                          {11, 50},  {23, 50},   {24, 10}, {26, 10},  {29, 50},  {39, 50},
                          {40, 10},  {48, 100},  {50, 10}, {51, 100}, {56, 100}, {57, 300},
                          {58, 100}, {900, 100}, {-1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(DeviceTypeOf(c.code).settleMs, c.ms);
    }
}

TEST(Catalogue, ChannelAndParameterEntries) {
    EXPECT_EQ(ChannelEntryName(0), "0");
    EXPECT_EQ(ChannelEntryName(50), "50");
    EXPECT_EQ(ChannelEntryName(51), "max");
    EXPECT_EQ(ChannelEntryName(52), "min");
    EXPECT_EQ(ChannelEntryName(53), "max-min");
    EXPECT_EQ(ChannelEntryName(54), "");
    EXPECT_EQ(ChannelEntryName(-1), "");
    EXPECT_EQ(ParameterEntryName(1), "11\u00b5A");
    EXPECT_EQ(ParameterEntryName(4), "");
}

}  // namespace
}  // namespace karvelo::devices
