#include "backends/serial/readers/line_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "devices/catalogue.h"
#include "devices/reader.h"
#include "reader_fixture.h"

namespace karvelo::serial {
namespace {

using testing::ScriptedPort;

constexpr int kSlot = 4;

struct LineCase {
    const char* what;
    int type;
    std::string reply;
    bool requested;
    double factor;
    double offset;
    int code;  // the reader's result
    SlotResult result;
};

// Test listings name the case, not its bytes.
void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.what;
}

class LineReaderTest : public ReaderTest, public ::testing::WithParamInterface<LineCase> {};
using LineReaderEdgeTest = ReaderTest;

// Every case starts from a slot that shows an earlier result, so that "left
// untouched" and "cleared" can be told apart.
TEST_P(LineReaderTest, ReadsTheReplyOfItsType) {
    const LineCase& c = GetParam();
    Configure(kSlot, c.type, port, 1, 0, c.factor, c.offset);
    GivePreviousResult(kSlot);
    port.Reply(c.reply);

    EXPECT_EQ(ReadAs(c.type, kSlot, c.requested), c.code);
    EXPECT_EQ(ResultOf(kSlot), c.result);
}

std::string Repeat(char c, int n) {
    return std::string(static_cast<std::size_t>(n), c);
}

const LineCase kLineCases[] = {
    {"Sylvac", 1, "+012.345\r", true, 2.0, 0.5, 1, Stored(25.19)},
    {"four bytes are too short", 1, "1.2\r", true, 1, 0, -3, kCleared},
    {"twenty bytes fit", 1, Repeat(' ', 15) + "1.25\r", true, 1, 0, 1, Stored(1.25)},
    {"twenty-one bytes do not", 1, Repeat(' ', 16) + "1.25\r", true, 1, 0, -1, kCleared},
    {"error marker", 1, "Error\r", true, 1, 0, -4, kCleared},
    {"lower-case e is an exponent", 1, "1.5e2\r", true, 1, 0, 1, Stored(150)},
    {"infinity is no reading", 1, "9e999\r", true, 1, 0, -3, kCleared},
    {"noise without a digit is no reading", 1, std::string("\x13\xff#\x01\r", 5), false, 1, 0, -3,
     kCleared},
    {"line cut off", 1, "+012.3", true, 1, 0, -1, kCleared},
    {"simplex takes 98 bytes", 2, Repeat(' ', 93) + "1.25\r", true, 1, 0, 1, Stored(1.25)},
    {"but not 99", 2, Repeat(' ', 94) + "1.25\r", true, 1, 0, -1, kCleared},
    {"Heidenhain minus", 4, "-   1.5000\r", true, 1, 0.1, 1, Stored(-1.4)},
    {"Heidenhain plus wins", 4, "+  -1.5000\r", true, 1, 0, 1, Stored(1.5)},
    {"Heidenhain sign behind", 4, " 1.5000 -\r", true, 2, 0, 1, Stored(-3.0)},
    {"Starrett", 5, "-0.0625\r", true, 1, 0, 1, Stored(-0.0625)},
    {"TESA TT10 ends at LF", 6, "+1.234\r\n", true, 1, 0, 1, Stored(1.234)},
    {"TESA TT10 ignores CR", 6, "+1.234\r", true, 1, 0, -1, kCleared},
    {"TESA GTLXX", 8, "12.5\r", true, 1, 0, 1, Stored(12.5)},
    {"PU 26 blanks plus", 19, "+ 1.234\r", true, 1, 0, 1, Stored(1.234)},
    {"plus is not blanked elsewhere", 1, "+ 1.234\r", true, 1, 0, 1, Stored(0.0)},
    {"AE1IH fixed position", 23, "+0012.345mm\r", true, 1, 0, 1, Stored(12.345)},
    {"AE1IH prefix blanked", 23, "E1 +0012.345mm\r", true, 1, 0, 1, Stored(12.345)},
    {"AE1IH minimum ten", 23, "1.23456\r", true, 1, 0, -3, kCleared},
    {"AE1IH bare terminator", 23, "\r", true, 1, 0, -3, kCleared},
    {"Millimar drops M and comma", 24, "M,+1.23\r", true, 1, 0, 1, Stored(1.23)},
    {"dropped bytes do not count", 24, "M,1.2\r", true, 1, 0, -3, kCleared},
    {"Keyence header blanked", 27, "SR,00,038,-01.2345\r", true, 1, 0, 1, Stored(-1.2345)},
    {"Keyence plus blanked", 27, "SR,00,038,+ 1.5\r", true, 1, 0, 1, Stored(1.5)},
    {"Keyence error kept", 27, "SR,00,038,ER01\r", true, 1, 0, -4, kPrevious},
    {"Keyence silence cleared", 27, "SR,00,038,+1.", true, 1, 0, -1, kCleared},
    {"EMS colon", 28, "12:30\r", true, 1, 0, -4, kCleared},
    {"EMS h", 28, "1.5 h\r", true, 1, 0, -4, kCleared},
    {"EMS takes E", 28, "1.5E2\r", true, 1, 0, 1, Stored(150)},
    {"Z-MIKE flow control", 57,
     "1.\x13\x11"
     "23\r",
     true, 1, 0, 1, Stored(1.23)},
    {"Z-MIKE flow control not counted", 57,
     "\x11\x13\x11"
     "12\r",
     true, 1, 0, -3, kCleared},
    {"polled line", 1, "+012.345\r", false, 1, 0, 1, Stored(12.345)},
    {"polled silence", 1, "", false, 1, 0, -1, kPrevious},
    {"polled Millimar filters its first byte", 24, "M,+1.23\r", false, 1, 0, 1, Stored(1.23)},
    {"polled Keyence blanks its first byte", 27, "1R,00,038,+1.5\r", false, 1, 0, 1, Stored(1.5)},
    {"polled CR does not end the line", 1, "\r+1.5\r", false, 1, 0, 1, Stored(1.5)},
    // What an instrument sends by itself completes a record: only a reading's form counts.
    {"polled noise around a digit is no reading", 1, "\r7\xfa\xfa\r", false, 1, 0, -3, kCleared},
    {"polled stray letter", 1, "+1.5x3\r", false, 1, 0, -3, kCleared},
    {"polled two numbers", 1, "1.5 2.5\r", false, 1, 0, -3, kCleared},
    {"polled control byte", 1, std::string("1.5\x01\x02\r", 6), false, 1, 0, -3, kCleared},
    {"polled Heidenhain sign behind", 4, " 1.5000 -\r", false, 1, 0, 1, Stored(-1.5)},
    {"polled AE1IH with its unit", 23, "+0012.345mm\r", false, 1, 0, 1, Stored(12.345)},
    {"polled exponent", 28, "1.5E2\r", false, 1, 0, 1, Stored(150)},
};

INSTANTIATE_TEST_SUITE_P(Variants, LineReaderTest, ::testing::ValuesIn(kLineCases),
                         [](const auto& p) { return CaseName(p.param.what); });

TEST_F(LineReaderEdgeTest, PollingOnADisturbedLineReadsWithoutProbe) {
    Configure(kSlot, 1, port);
    port.LineErrorNext().Reply("1.5\r").Reply("+2.5\r");
    // The line error is taken by the check before the probe, so the probe is
    // skipped and the loop starts with the first byte: "1.5\r" is too short.
    EXPECT_EQ(ReadAs(1, kSlot, false), -3);
    EXPECT_EQ(port.lineErrorChecks(), 1);
    EXPECT_EQ(ReadAs(1, kSlot, false), 1);
    EXPECT_EQ(ResultOf(kSlot), Stored(2.5));
}

TEST_F(LineReaderEdgeTest, ALineErrorInsideTheLineFailsIt) {
    Configure(kSlot, 1, port);
    GivePreviousResult(kSlot);
    port.Reply("+1.").LineErrorNext().Reply("5\r");
    EXPECT_EQ(ReadAs(1, kSlot, true), -1);
    EXPECT_EQ(ResultOf(kSlot), kCleared);
}

TEST_F(LineReaderEdgeTest, NoPortLeavesTheSlotAlone) {
    Configure(kSlot, 1, port);
    ports().SlotPort[kSlot] = nullptr;
    GivePreviousResult(kSlot);
    for (int type : {1, 4, 23, 27, 50}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(ReadAs(type, kSlot, true), 0);
        EXPECT_EQ(ResultOf(kSlot), kPrevious);
    }
}

TEST_F(LineReaderEdgeTest, EndlessLineStopsAtTheBufferEnd) {
    Configure(kSlot, 2, port);
    port.Reply(Repeat('7', 500));
    EXPECT_EQ(ReadAs(2, kSlot, true), -1);
    EXPECT_EQ(port.readCalls(), LineBuffer::kMaxStored + 1);
}

TEST(LineBufferTest, NeverGrowsPastItsEnd) {
    LineBuffer line;
    for (int i = 0; i < LineBuffer::kMaxStored; ++i) ASSERT_TRUE(line.Append('x'));
    EXPECT_FALSE(line.Append('x'));
    line.Terminate();
    EXPECT_EQ(line.text().size(), static_cast<std::size_t>(LineBuffer::kMaxStored + 1));
    EXPECT_EQ(line.at(LineBuffer::kSize - 1), '\0');
    EXPECT_EQ(line.at(0), ' ');
}

struct ThermometerCase {
    const char* what;
    std::string reply;
    bool requested;
    int code;  // the reader's result
    SlotResult result;
};

void PrintTo(const ThermometerCase& c, std::ostream* os) {
    *os << c.what;
}

class ThermometerTest : public ReaderTest, public ::testing::WithParamInterface<ThermometerCase> {};

TEST_P(ThermometerTest, ReadsTwoBytes) {
    const ThermometerCase& c = GetParam();
    Configure(kSlot, 50, port, 1, 0, 1.0, 0.0);
    GivePreviousResult(kSlot);
    port.Reply(c.reply);
    EXPECT_EQ(ReadAs(50, kSlot, c.requested), c.code);
    EXPECT_EQ(ResultOf(kSlot), c.result);
}

const ThermometerCase kThermometerCases[] = {
    {"20 degrees", std::string("\x04\xB0", 2), true, 1, Stored(20.0)},
    {"zero count", std::string("\x00\x00", 2), true, 1, Stored(-100.0)},
    {"negative count", std::string("\xFF\x38", 2), true, 1, Stored(-120.0)},
    {"16-bit wrap", std::string("\x80\x00", 2), true, 1, Stored(3176.8)},
    {"polled", std::string("\x04\xB0", 2), false, 1, Stored(20.0)},
    {"low byte missing", std::string("\x04", 1), true, -3, kCleared},
    {"nothing after a request", "", true, -3, kCleared},
    {"nothing while polling", "", false, -1, kPrevious},
};

INSTANTIATE_TEST_SUITE_P(Bytes, ThermometerTest, ::testing::ValuesIn(kThermometerCases),
                         [](const auto& p) { return CaseName(p.param.what); });

TEST_F(LineReaderEdgeTest, PollingOnADisturbedLineHasNoHighByte) {
    Configure(kSlot, 50, port);
    GivePreviousResult(kSlot);
    port.LineErrorNext().Reply(std::string("\x04\xB0", 2));
    EXPECT_EQ(ReadAs(50, kSlot, false), -3);
    EXPECT_EQ(ResultOf(kSlot), kCleared);
}

}  // namespace
}  // namespace karvelo::serial
