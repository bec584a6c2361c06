#include "backends/serial/readers/almemo_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "reader_fixture.h"

namespace karvelo::serial {
namespace {

using testing::ScriptedPort;

constexpr int kAlmemo = 9;
const std::string kHead = "s\r\n12:30:45\r\n";
const std::string kPoint1 = "01: +023.50mV\r\n";
const std::string kPoint2 = "02: -001.25mV\r\n";

using AlmemoTest = ReaderTest;

TEST_F(AlmemoTest, OneListFillsEverySlotByPoint) {
    ScriptedPort otherPort;
    Configure(3, kAlmemo, port, 6, /*point*/ 2, /*factor*/ 2.0, /*offset*/ 1.0);
    Configure(5, kAlmemo, port, 6, 1);
    Configure(7, kAlmemo, otherPort, 7, 1);  // another instrument
    Configure(8, kAlmemo, port, 6, 3);       // a point the list does not have
    GivePreviousResult(7);
    GivePreviousResult(8);
    port.Reply(kHead + kPoint1 + kPoint2);

    EXPECT_EQ(Read(3, true), 1);
    EXPECT_EQ(ResultOf(3), Stored(-1.5));
    EXPECT_EQ(ResultOf(5), Stored(23.5));
    EXPECT_EQ(ResultOf(7), kPrevious);
    EXPECT_EQ(ResultOf(8), kPrevious);
    // Slot 5 is done for this cycle without a second list.
    const int reads = port.readCalls();
    EXPECT_EQ(Read(5, true), 1);
    EXPECT_EQ(port.readCalls(), reads);
}

TEST_F(AlmemoTest, FindsTheEchoBehindNoiseAndRepeats) {
    const std::string heads[] = {"xx\rs" + kHead, "ss\r\n12:30:45\r\n", "s\r\ns\r\n12:30:45\r\n",
                                 "s\rs\r\n12:30:45\r\n"};
    for (const std::string& head : heads) {
        SCOPED_TRACE(head);
        ResetRunState();
        Configure(3, kAlmemo, port, 6, 1);
        port.Reply(head + kPoint1);
        EXPECT_EQ(Read(3, true), 1);
        EXPECT_EQ(ResultOf(3), Stored(23.5));
    }
}

TEST_F(AlmemoTest, ASecondNumberBeforeTheValueNamesThePoint) {
    Configure(3, kAlmemo, port, 6, 4);
    port.Reply(kHead + "01:04: +023.50mV\r\n");
    EXPECT_EQ(Read(3, true), 1);
    EXPECT_EQ(ResultOf(3), Stored(23.5));
}

TEST_F(AlmemoTest, MalformedAnswers) {
    struct Case {
        const char* what;
        std::string reply;
        int code;  // the reader's result
    };
    const Case cases[] = {
        {"no answer", "", -1},
        {"no echo", "12:30:45\r\n", -1},
        {"echo cut", "s\r", 0},
        {"letter in the time stamp", "s\r\n12:3a:45\r\n" + kPoint1, 0},
        {"time stamp cut", "s\r\n12:30", 0},
        {"repeated echo cut", "s\r\ns\r", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Configure(3, kAlmemo, port, 6, 1);
        GivePreviousResult(3);
        port.Reply(c.reply);
        EXPECT_EQ(Read(3, true), c.code);
        EXPECT_EQ(ResultOf(3), kCleared);
        while (port.pending() > 0) port.ReadByte();
    }
}

TEST_F(AlmemoTest, ACutListKeepsThePointsReadBeforeTheCut) {
    for (const std::string& cut :
         {std::string("02: -00"), std::string("02: -001.25m"), std::string("02: -001.25mV\r")}) {
        SCOPED_TRACE(cut);
        ResetRunState();
        Configure(3, kAlmemo, port, 6, 1);
        Configure(4, kAlmemo, port, 6, 2);
        GivePreviousResult(4);
        port.Reply(kHead + kPoint1 + cut);
        EXPECT_EQ(Read(3, true), 1);
        EXPECT_EQ(ResultOf(3), Stored(23.5));
        EXPECT_EQ(ResultOf(4), kPrevious);  // never filled from bytes that did not arrive
    }
}

TEST_F(AlmemoTest, AFieldThatReadsAsInfinityFillsNothing) {
    Configure(3, kAlmemo, port, 6, 1);
    Configure(4, kAlmemo, port, 6, 2);
    GivePreviousResult(3);
    port.Reply(kHead + "01: 1e99999mV\r\n" + kPoint2);
    EXPECT_EQ(Read(3, true), 1);
    EXPECT_EQ(ResultOf(3), kPrevious);
    EXPECT_EQ(ResultOf(4), Stored(-1.25));
}

TEST_F(AlmemoTest, ReadsAtMostTenPoints) {
    Configure(3, kAlmemo, port, 6, 11);
    Configure(4, kAlmemo, port, 6, 10);
    std::string list = kHead;
    for (int p = 1; p <= 11; ++p) {
        list += (p < 10 ? "0" : "") + std::to_string(p) + ": +000" + std::to_string(p % 10) +
                ".00mV\r\n";
    }
    port.Reply(list);
    GivePreviousResult(3);
    EXPECT_EQ(Read(3, true), 1);
    EXPECT_EQ(ResultOf(4), Stored(0.0));
    EXPECT_EQ(ResultOf(3), kPrevious);
}

TEST_F(AlmemoTest, EndlessOutputDoesNotHoldTheReader) {
    Configure(3, kAlmemo, port, 6, 1);
    port.Reply(std::string(20000, 'x'));
    EXPECT_EQ(Read(3, true), -1);
    EXPECT_GT(port.pending(), 0u);
}

TEST_F(AlmemoTest, NoPortLeavesTheSlotAlone) {
    Configure(3, kAlmemo, port, 6, 1);
    ports().SlotPort[3] = nullptr;
    GivePreviousResult(3);
    EXPECT_EQ(Read(3, true), 0);
    EXPECT_EQ(ResultOf(3), kPrevious);
}

}  // namespace
}  // namespace karvelo::serial
