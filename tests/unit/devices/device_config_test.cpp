// The device configuration's decisions without a window: the values a slot's
// section opens with, the confirmed send time, the serial list and the keys
// OK writes.

#include "devices/device_config.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/temp_dir.h"

namespace karvelo::testing {
namespace {

using namespace devices;

platform::ProfileDocument Section(const std::string& keys, TempDir& dir) {
    dir.Write("karvelo.cfg", "[DEVICE3]\r\n" + keys);
    return platform::ProfileDocument::Load(dir.file("karvelo.cfg"));
}

struct OpenCase {
    const char* keys;
    const wchar_t* sendTime;
    const wchar_t* decimals;
};

class OpeningClamps : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpeningClamps, SendTimeAndDecimalsAreClampedAndFormatted) {
    TempDir dir;
    const OpenedSlot o = OpenSlotSection(Section(GetParam().keys, dir), 3);
    EXPECT_EQ(o.sendTime, GetParam().sendTime);
    EXPECT_EQ(o.decimals, GetParam().decimals);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpeningClamps,
    ::testing::Values(OpenCase{"sendtime=0.05\r\nformat=12\r\n", L"0.1", L"8"},
                      OpenCase{"sendtime=5000\r\nformat=-3\r\n", L"3600.0", L"0"},
                      OpenCase{"", L"60.0", L"0"},
                      OpenCase{"sendtime=12.34\r\nformat=3\r\n", L"12.3", L"3"},
                      OpenCase{"sendtime=abc\r\nformat=x\r\n", L"0.1", L"0"},
                      OpenCase{"sendtime=nan\r\n", L"0.1", L"0"}));

TEST(DeviceConfigOpening, AnEmptySectionSelectsNoTypeAndRemembersComFour) {
    TempDir dir;
    const OpenedSlot o = OpenSlotSection(Section("", dir), 3);
    EXPECT_EQ(o.type, -1);
    EXPECT_EQ(o.port, 4);
    EXPECT_EQ(o.channel, 1);
    EXPECT_EQ(o.sendMode, 0);
    EXPECT_EQ(o.textSource, 0);
    EXPECT_EQ(o.factor, L"1.0");
    EXPECT_EQ(o.offset, L"0.0");
}

TEST(DeviceConfigOpening, StoredValuesAreTakenAsTheyAre) {
    TempDir dir;
    const OpenedSlot o = OpenSlotSection(
        Section("typ=26\r\nport=7\r\nsn=AB12\r\nch=52\r\nparameter=2\r\nsendmode=4\r\n"
                "textsource=3\r\ntextfile=parts.csv\r\nfactor=2.5\r\noffset=-1\r\ntitle=Bore\r\n",
                dir),
        3);
    EXPECT_EQ(o.type, 26);
    EXPECT_EQ(o.port, 7);
    EXPECT_EQ(o.serial, L"AB12");
    EXPECT_EQ(o.channel, 52);
    EXPECT_EQ(o.parameter, 2);
    EXPECT_EQ(o.sendMode, 4);
    EXPECT_EQ(o.textSource, 3);
    EXPECT_EQ(o.textFile, L"parts.csv");
    EXPECT_EQ(o.factor, L"2.5");
    EXPECT_EQ(o.offset, L"-1");
    EXPECT_EQ(o.title, L"Bore");
}

TEST(DeviceConfigSendTime, AConfirmedTimeIsClampedWithOneDecimal) {
    const struct {
        const wchar_t* typed;
        const wchar_t* confirmed;
    } cases[] = {{L"5000", L"3600.0"}, {L"0.01", L"0.1"}, {L"-4", L"0.1"},
                 {L"2.26", L"2.3"},    {L"7", L"7.0"},    {L"", L"0.1"}};
    for (const auto& c : cases) EXPECT_EQ(ConfirmSendTime(c.typed), c.confirmed) << c.typed;
}

TEST(DeviceConfigSerialList, PaddedToTwentyCutAndMatchedIgnoringCase) {
    const std::vector<std::wstring> entries =
        SerialListEntries({L"FT1A", L"ft2b", L"A-serial-number-longer-than-nineteen"});
    ASSERT_EQ(entries.size(), 20u);
    EXPECT_EQ(entries[2], L"A-serial-number-lon");
    EXPECT_EQ(entries[19], L"");
    EXPECT_EQ(SerialListSelection(entries, L"FT2B"), 1);
    EXPECT_EQ(SerialListSelection(entries, L"nowhere"), 0);
    // An empty remembered text finds the first empty entry.
    EXPECT_EQ(SerialListSelection(entries, L""), 3);
}

std::vector<std::string> Lines(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

TEST(DeviceConfigOk, ListsWithoutSelectionWriteMinusOneInKeyOrder) {
    DialogValues v;  // nothing selected anywhere, as for a section without `typ`
    v.typeText = L"ignored";
    v.portText = L"ignored";
    v.serial = std::wstring(60, L's');
    v.textPath = L"/srv/lists/";
    v.textFile = std::wstring(300, L'f');
    v.sendTime = L"60.0";
    v.format = L"12";
    v.factor = L"1.0";
    v.offset = L"0.0";
    v.title = L"Gap";

    platform::ProfileDocument doc;
    WriteSlotKeyTexts(doc, 2, OkKeyTexts(v));
    const std::vector<std::string> expected = {
        "[DEVICE2]",
        "typ=-1",
        "typ_txt=-1",
        "port=-1",
        "port_txt=-1",
        "sn=" + std::string(49, 's'),
        "ch=-1",
        "parameter=-1",
        "textsource=-1",
        "textpath=/srv/lists/",
        "textfile=" + std::string(255, 'f'),
        "sendmode=-1",
        "sendtime=60.0",
        "format=12",
        "factor=1.0",
        "offset=0.0",
        "title=Gap",
    };
    EXPECT_EQ(Lines(doc.Serialize()), expected);
}

TEST(DeviceConfigOk, SelectedEntriesWriteTheirIndexAndText) {
    DialogValues v;
    v.type = 1;
    v.typeText = L"Sylvac duplex";
    v.port = 5;
    v.portText = L"";  // a remembered port that the probe could not open
    v.channel = 1;
    v.parameter = 0;
    v.textSource = 0;
    v.sendMode = 3;
    const SlotKeyTexts t = OkKeyTexts(v);
    const auto at = [&](SlotKey k) { return t[static_cast<std::size_t>(k)]; };
    EXPECT_EQ(at(SlotKey::Type), L"1");
    EXPECT_EQ(at(SlotKey::TypeText), L"Sylvac duplex");
    EXPECT_EQ(at(SlotKey::Port), L"5");
    EXPECT_EQ(at(SlotKey::PortText), L"");
    EXPECT_EQ(at(SlotKey::SendMode), L"3");
}

}  // namespace
}  // namespace karvelo::testing
