#include "backends/serial/readers/shared_readers.h"

#include <gtest/gtest.h>

#include "reader_fixture.h"

namespace karvelo::serial {
namespace {

using testing::ScriptedPort;

constexpr int kSd1 = 26;
constexpr int kPu = 25;
constexpr int kIbrit = 3;

using Sd1Test = ReaderTest;

TEST_F(Sd1Test, OneReplyFillsEverySlotOnThePortByChannel) {
    ScriptedPort otherPort;
    Configure(2, kSd1, port, 4, /*channel*/ 1, /*factor*/ 2.0, /*offset*/ 100.0);
    Configure(5, kSd1, port, 4, 3, 10.0, 100.0);
    Configure(6, kSd1, otherPort, 5, 1);  // same type, other COM port
    Configure(7, 1, port, 4, 1);          // other type, same COM port
    GivePreviousResult(6);
    GivePreviousResult(7);
    port.Reply("1.5;2.5;3.5\r");

    EXPECT_EQ(Read(2, true), 1);
    EXPECT_EQ(ResultOf(2), Stored(3.0));  // no offset for list instruments
    EXPECT_EQ(ResultOf(5), Stored(35.0));
    EXPECT_EQ(ResultOf(6), kPrevious);
    EXPECT_EQ(ResultOf(7), kPrevious);
    EXPECT_EQ(port.pending(), 0u);
}

TEST_F(Sd1Test, ChannelsOutsideTheListAreClamped) {
    Configure(1, kSd1, port, 4, 0);
    Configure(2, kSd1, port, 4, 12);
    port.Reply("1,2,3,4,5,6,7,8,9,10\r");
    EXPECT_EQ(Read(1, true), 1);
    EXPECT_EQ(ResultOf(1), Stored(1));
    EXPECT_EQ(ResultOf(2), Stored(10));
}

TEST_F(Sd1Test, SlotsReadInThisCycleAreNotFilledAgain) {
    Configure(1, kSd1, port, 4, 1);
    Configure(2, kSd1, port, 4, 2);
    g_run.SlotState[2] = SlotStage::Read;
    g_run.Value[2] = 42.0;
    port.Reply("1; 2\r");
    EXPECT_EQ(Read(1, true), 1);
    EXPECT_EQ(g_run.Value[2].load(), 42.0);
}

TEST_F(Sd1Test, ValuesThatWereNotSentAreNotInvented) {
    Configure(1, kSd1, port, 4, 1);
    Configure(2, kSd1, port, 4, 3);
    GivePreviousResult(2);
    port.Reply("1.5;2\r").Reply("1.5;2\r");
    EXPECT_EQ(Read(1, true), 1);
    EXPECT_EQ(ResultOf(1), Stored(1.5));
    EXPECT_EQ(ResultOf(2), kPrevious);  // left for its own read
    EXPECT_EQ(Read(2, true), -3);
    EXPECT_EQ(ResultOf(2), kCleared);
}

TEST_F(Sd1Test, LineFailuresConcernOnlyTheSlotRead) {
    struct Case {
        const char* reply;
        int code;  // the reader's result
    };
    for (const Case& c :
         {Case{"1;2\r", -3}, Case{"1.5E3;2\r", -4}, Case{"1;2;3", -1}, Case{"abcde\r", -3}}) {
        SCOPED_TRACE(c.reply);
        Configure(1, kSd1, port, 4, 1);
        Configure(2, kSd1, port, 4, 2);
        GivePreviousResult(1);
        GivePreviousResult(2);
        port.Reply(c.reply);
        EXPECT_EQ(Read(1, true), c.code);
        EXPECT_EQ(ResultOf(1), kCleared);
        EXPECT_EQ(ResultOf(2), kPrevious);
    }
}

using PuListTest = ReaderTest;

TEST_F(PuListTest, SendFlagInTheLastField) {
    struct Case {
        const char* reply;
        int code;  // the reader's result
        double value;
    };
    for (const Case& c :
         {Case{"$PRI,+1.250,-0.500,1*3E\r", 2, 2.5}, Case{"$PRI,+1.250,-0.500,2*3E\r", 3, 2.5},
          Case{"$PRI,+1.250,-0.500,0*3E\r", 1, 2.5}, Case{"$PRI,+1.250,-0.500,2.9*3E\r", 3, 2.5},
          Case{"$PRI,1*3E\r", 1, 2.0}}) {
        SCOPED_TRACE(c.reply);
        ResetRunState();
        Configure(3, kPu, port, 2, 1, 2.0, 5.0);
        port.Reply(c.reply);
        EXPECT_EQ(Read(3, true), c.code);
        EXPECT_EQ(ResultOf(3), Stored(c.value));  // factor only, no offset
    }
}

TEST_F(PuListTest, FillsSiblingsByChannel) {
    Configure(3, kPu, port, 2, 1);
    Configure(4, kPu, port, 2, 2, 10.0);
    port.Reply("$PRI,+1.250,-0.500,0*4E\r");
    EXPECT_EQ(Read(3, true), 1);
    EXPECT_EQ(ResultOf(3), Stored(1.25));
    EXPECT_EQ(ResultOf(4), Stored(-5.0));
}

TEST_F(PuListTest, ChecksumNeverReadsAsAnError) {
    Configure(3, kPu, port, 2, 1);
    port.Reply("$PRI,+1.250,0*EE\r");
    EXPECT_EQ(Read(3, true), 1);
    EXPECT_EQ(ResultOf(3), Stored(1.25));
}

TEST_F(PuListTest, ErrorsAndShortFrames) {
    struct Case {
        const char* reply;
        int code;  // the reader's result
    };
    for (const Case& c : {Case{"$PRI,ERR*00\r", -4}, Case{"$P*\r", -3}, Case{"$PRI,1.5", -1}}) {
        SCOPED_TRACE(c.reply);
        Configure(3, kPu, port, 2, 1);
        GivePreviousResult(3);
        port.Reply(c.reply);
        EXPECT_EQ(Read(3, true), c.code);
        EXPECT_EQ(ResultOf(3), kCleared);
    }
}

using IbritDisplayTest = ReaderTest;

TEST_F(IbritDisplayTest, SkipsLinesOfOtherChannels) {
    Configure(2, kIbrit, port, 3, 1, 1.0, 0.0);
    port.Reply("D7 +099.0000\r").Reply("D1 +012.3456\r");
    EXPECT_EQ(Read(2, true), 1);
    EXPECT_EQ(ResultOf(2), Stored(12.3456));
}

TEST_F(IbritDisplayTest, LaterSlotsOfTheSameChannelGetTheirOwnOffset) {
    ScriptedPort otherPort;
    g_run.SerialNo[1] = L"A17";
    g_run.SerialNo[2] = L"A17";
    g_run.SerialNo[5] = L"A17";
    g_run.SerialNo[6] = L"A17";
    g_run.SerialNo[7] = L"B01";
    Configure(1, kIbrit, port, 3, 1, 1.0, 50.0);  // earlier slot: read on its own turn
    Configure(2, kIbrit, port, 3, 1, 1.0, 0.5);
    Configure(5, kIbrit, port, 3, 1, 2.0, -1.0);
    Configure(6, kIbrit, port, 3, 2, 1.0, 0.0);  // other channel
    Configure(7, kIbrit, port, 3, 1, 1.0, 0.0);  // other serial number
    for (int s : {1, 6, 7}) GivePreviousResult(s);
    port.Reply("D1 +012.3456\r");

    EXPECT_EQ(Read(2, true), 1);
    EXPECT_EQ(ResultOf(2), Stored(12.8456));
    EXPECT_EQ(ResultOf(5), Stored(23.6912));
    for (int s : {1, 6, 7}) EXPECT_EQ(ResultOf(s), kPrevious) << s;
    // Slot 5 is done for this cycle without reading the port again.
    EXPECT_EQ(Read(5, true), 1);
    EXPECT_EQ(port.readCalls(), 13);
}

TEST_F(IbritDisplayTest, ErrorOrCutReadingKeepsTheValueAndRaisesTheError) {
    for (const char* reply : {"D1 -E-----\r", "D1 +1.5e\r", "D1 1.25\r"}) {
        SCOPED_TRACE(reply);
        ResetRunState();
        g_run.SerialNo[2] = L"X";
        g_run.SerialNo[3] = L"X";
        Configure(2, kIbrit, port, 3, 1);
        Configure(3, kIbrit, port, 3, 1);
        GivePreviousResult(2, 4.5);
        port.Reply(reply);
        EXPECT_EQ(Read(2, true), 1);
        EXPECT_EQ(ResultOf(2), (SlotResult{4.5, true, true, 2}));
        EXPECT_EQ(ResultOf(3), (SlotResult{0.0, true, true, 2}));
    }
}

TEST_F(IbritDisplayTest, ShortLineIsMalformedAfterAPause) {
    Configure(2, kIbrit, port, 3, 1);
    GivePreviousResult(2);
    port.Reply("1\r");
    EXPECT_EQ(Read(2, true), -3);
    EXPECT_EQ(ResultOf(2), kCleared);
    EXPECT_GE(clock.now, 500u);
}

TEST_F(IbritDisplayTest, TwelveSilentReadsInARowGiveUp) {
    Configure(2, kIbrit, port, 3, 1);
    GivePreviousResult(2);
    // Eleven silent reads are bridged; the count starts again with each byte.
    port.Silence(11).Reply("D").Silence(11).Reply("1 +012.3456\r");
    EXPECT_EQ(Read(2, true), 1);
    EXPECT_EQ(ResultOf(2), Stored(12.3456));

    ResetRunState();
    Configure(2, kIbrit, port, 3, 1);
    GivePreviousResult(2);
    const int readsBefore = port.readCalls();
    port.Reply("D1 +0");
    EXPECT_EQ(Read(2, true), -1);
    EXPECT_EQ(port.readCalls() - readsBefore, 5 + 12);
    EXPECT_EQ(ResultOf(2), (SlotResult{0.0, false, false, 2}));
}

TEST_F(IbritDisplayTest, ADisplayThatNeverAnswersItsChannelIsGivenUp) {
    Configure(2, kIbrit, port, 3, 1);
    for (int i = 0; i < 1000; ++i) port.Reply("D7 +099.0000\r");
    EXPECT_EQ(Read(2, true), -1);
    EXPECT_GT(port.pending(), 0u);
}

TEST_F(IbritDisplayTest, PollingConsumesTheProbedByte) {
    Configure(2, kIbrit, port, 3, 1);
    GivePreviousResult(2);
    EXPECT_EQ(Read(2, false), -1);
    EXPECT_EQ(ResultOf(2), kPrevious);

    // The LF left behind the previous line's CR is what the probe takes.
    port.Reply("\nD1 +012.3456\r");
    EXPECT_EQ(Read(2, false), 1);
    EXPECT_EQ(ResultOf(2), Stored(12.3456));
}

TEST_F(IbritDisplayTest, NoPortLeavesTheSlotAlone) {
    Configure(2, kIbrit, port, 3, 1);
    ports().SlotPort[2] = nullptr;
    GivePreviousResult(2);
    EXPECT_EQ(Read(2, true), 0);
    EXPECT_EQ(ResultOf(2), kPrevious);
}

}  // namespace
}  // namespace karvelo::serial
