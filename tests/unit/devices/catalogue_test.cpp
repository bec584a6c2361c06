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
        {0, "TEXT input"},         {2, "Sylvac simplex"},  {8, "TESA GTLXX USB"},
        {22, "Marpos EasyBox"},    {30, "IBRIT-BUS.1"},    {37, "IBRIT-BUS.8"},
        {40, "RedLab16xx 10V"},    {41, "RedLab16xx  5V"}, {47, "RedLab12xx  1V"},
        {50, "OPTRIS IR Temp."},   {54, "UMP-K 1608T"},    {57, "Z-MIKE"},
        {7, "-"},  {29, "-"},  {38, "-"},  {39, "-"},  {48, "-"},  {49, "-"},  {55, "-"},  {56, "-"},
        {-1, ""},  {58, ""},   {1000, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(DeviceTypeName(c.code), c.name);
    }
}

std::set<int> Members(TypeSet set) {
    std::set<int> out;
    for (int code = -5; code <= 70; ++code) {
        if (InTypeSet(code, set)) out.insert(code);
    }
    return out;
}

TEST(Catalogue, TypeSets) {
    EXPECT_EQ(Members(kSerialType),
              (std::set<int>{1, 2, 3, 4, 5, 6, 8, 9, 19, 23, 24, 25, 26, 27, 28, 50, 57}));
    EXPECT_EQ(Members(kFtdiType), (std::set<int>{10, 11, 12, 13, 14, 15, 16, 17, 18}));
    EXPECT_EQ(Members(kSharedRequest), (std::set<int>{3, 11, 12, 13, 14, 15, 16, 18, 19, 25}));
    EXPECT_EQ(Members(kFanOutReader), (std::set<int>{3, 9, 25, 26}));
    EXPECT_EQ(Members(kSendKeyResult), (std::set<int>{11, 12, 13, 14, 15, 16, 17, 18, 25}));
    EXPECT_EQ(Members(kStoredResult), (std::set<int>{30, 31, 32, 33, 34, 35, 36, 37}));
    EXPECT_EQ(Members(kRequestOnlyAfterTrigger), (std::set<int>{9}));
}

TEST(Catalogue, TransportsAndMissingDeviceWords) {
    struct Case {
        int code;
        Transport transport;
        const char* word;
    };
    const Case cases[] = {
        {0, Transport::Text, ""},              {1, Transport::SerialCom, "com error"},
        {7, Transport::None, ""},              {10, Transport::FtdiUsb, "usb error"},
        {20, Transport::CounterCard, "pci error"}, {21, Transport::Orbit, "pci error"},
        {22, Transport::Marposs, "pci error"}, {33, Transport::IbritBus, "usb error"},
        {45, Transport::AnalogInput, "usb error"}, {52, Transport::AnalogInput, "usb error"},
        {57, Transport::SerialCom, "com error"}, {-3, Transport::None, ""}, {99, Transport::None, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(DeviceTransport(c.code), c.transport);
        EXPECT_EQ(MissingDeviceWord(c.code), c.word);
    }
}

TEST(Catalogue, LineProfiles) {
    EXPECT_EQ(DeviceLineProfile(2), 0);  // Sylvac simplex has profile 0, not its code
    for (int code = 0; code <= kLastDeviceType; ++code) {
        SCOPED_TRACE(code);
        if (code == 2) continue;
        EXPECT_EQ(DeviceLineProfile(code), IsSerialType(code) ? code : kNoLineProfile);
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
