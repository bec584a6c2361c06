#include "state/slot_settings.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/profile.h"
#include "state/run_state.h"

namespace karvelo {
namespace {

using platform::ProfileDocument;

// The device configuration's OK writes every key in its order, keeps the
// station's `textlast`, and a section without keys reads as the defaults.
TEST(SlotSettings, KeyTextsRoundTripInTheDialogsOrder) {
    ProfileDocument doc = ProfileDocument::Parse("[DEVICE3]\r\ntextlast=12.5\r\n");
    SlotKeyTexts texts = ReadSlotKeyTexts(doc, 3);
    EXPECT_EQ(texts[static_cast<int>(SlotKey::Factor)], L"1.0");
    EXPECT_EQ(texts[static_cast<int>(SlotKey::Channel)], L"1");
    EXPECT_EQ(texts[static_cast<int>(SlotKey::TextLast)], L"12.5");

    for (int k = 0; k < kSlotKeyCount; ++k)
        texts[static_cast<std::size_t>(k)] = L"v" + std::to_wstring(k);
    WriteSlotKeyTexts(doc, 3, texts);
    EXPECT_EQ(
        doc.Serialize(),
        "[DEVICE3]\r\ntextlast=12.5\r\ntyp=v0\r\ntyp_txt=v1\r\nport=v2\r\nport_txt=v3\r\nsn=v4\r\n"
        "ch=v5\r\nparameter=v6\r\ntextsource=v7\r\ntextpath=v8\r\ntextfile=v9\r\nsendmode=v10\r\n"
        "sendtime=v11\r\nformat=v12\r\nfactor=v13\r\noffset=v14\r\ntitle=v15\r\n");
}

TEST(SlotSettings, LoadTurnsMinutesIntoSecondsAndCutsTheTitle) {
    ResetRunState();
    const ProfileDocument doc = ProfileDocument::Parse(
        "[DEVICE2]\r\ntyp=26\r\nsendmode=4\r\nsendtime=1.5\r\ntitle=" + std::string(60, 'T') +
        "\r\n[IDNR]\r\ntextsource=3\r\ntextfile=ids.csv\r\ntextlast=4711\r\n");
    LoadSlotSettings(g_run, doc, 2);
    EXPECT_EQ(g_run.DeviceType[2], 26);
    EXPECT_EQ(g_run.SendMode[2], SendModeKind::Timer);
    EXPECT_DOUBLE_EQ(g_run.SendTime[2], 90.0);
    EXPECT_EQ(g_run.Title[2].str(), std::wstring(48, L'T'));

    LoadTextSource(g_run, doc, kIdEntry, /*withLast*/ false);
    EXPECT_EQ(g_run.TextSource[kIdEntry], 3);
    EXPECT_EQ(g_run.TextFile[kIdEntry].str(), L"ids.csv");
    EXPECT_EQ(g_run.TextLast[kIdEntry].str(), L"") << "the dialog leaves the last ID alone";
    ResetRunState();
}

}  // namespace
}  // namespace karvelo
