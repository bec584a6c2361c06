#include "backends/serial/readers/number_list.h"

#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

#include "reader_fixture.h"

namespace karvelo::serial {
namespace {

struct SplitCase {
    const char* what;
    std::string line;
    int count;
    std::vector<double> values;  // the leading values; the rest must be 0
};

// Test listings name the case, not its bytes.
void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << c.what;
}

class SplitNumberListTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitNumberListTest, Splits) {
    const SplitCase& c = GetParam();
    std::string line = c.line;
    NumberList values;
    values.fill(99.0);
    EXPECT_EQ(SplitNumberList(line, values), c.count);
    for (std::size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_DOUBLE_EQ(values[i], i < c.values.size() ? c.values[i] : 0.0);
    }
}

std::string Digits(int n) {
    return std::string(static_cast<std::size_t>(n), '1');
}

const SplitCase kSplitCases[] = {
    {"both separators", "1.5;2,5\r", 3, {1.5, 2, 5}},
    {"signs, blanks and units", " +1.0 mm, -2.5mm;3\n", 3, {1, -2.5, 3}},
    {"ends at a zero byte", std::string("1,2\0,3\r", 7), 2, {1, 2}},
    {"ten fields", "1,2,3,4,5,6,7,8,9,10\r", 10, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
    {"eleven fields", "1,2,3,4,5,6,7,8,9,10,11\r", 0, {}},
    {"separator after the tenth", "1,2,3,4,5,6,7,8,9,10,\r", 0, {}},
    {"empty last field counts", "1,2,\r", 3, {1, 2, 0}},
    {"empty line", "\r", 0, {}},
    {"no numbers", "abc\r", 0, {}},
    {"49-character field", Digits(49) + "\r", 1, {1.1111111111111111e48}},
    {"50-character field", Digits(50) + "\r", 0, {}},
    {"partial list then a long field", "1,2," + Digits(50) + "\r", 0, {}},
    {"no terminator", "1,2,3", 0, {}},
    {"terminator beyond 100 bytes", std::string(100, ' ') + "1\r", 0, {}},
    {"terminator at byte 100", std::string(98, ' ') + "7\r", 1, {7}},
};

INSTANTIATE_TEST_SUITE_P(Lines, SplitNumberListTest, ::testing::ValuesIn(kSplitCases),
                         [](const auto& p) { return CaseName(p.param.what); });

TEST(SplitNumberList, BlanksPlusSignsInTheLine) {
    std::string line = "+1,+2\r";
    NumberList values;
    EXPECT_EQ(SplitNumberList(line, values), 2);
    EXPECT_EQ(line, " 1, 2\r");
}

}  // namespace
}  // namespace karvelo::serial
