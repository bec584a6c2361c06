#include "platform/fixed_text.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace karvelo {
namespace {

TEST(FixedText, CutsAtCapacityAndAtNul) {
    FixedText<5> t(L"abcdefgh");
    EXPECT_EQ(t.view(), L"abcd");
    EXPECT_EQ(t.c_str()[4], L'\0');
    t = std::wstring(L"ab\0cd", 5);
    EXPECT_EQ(t.view(), L"ab");
    t.Append(L"xyz");
    EXPECT_EQ(t.view(), L"abxy");
    FixedText<1> none(L"x");
    EXPECT_TRUE(none.empty());
}

// Writers and readers on two threads: a reader sees one whole text or the
// other, never a mixture (ThreadSanitizer checks the access itself).
TEST(SharedText, ReadersSeeWholeTexts) {
    SharedText<50> text;
    const std::wstring a(40, L'a');
    const std::wstring b(20, L'b');
    text.Set(a);
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) text.Set(i % 2 ? a : b);
    });
    for (int i = 0; i < 20000; ++i) {
        const std::wstring seen = text.str();
        ASSERT_TRUE(seen == a || seen == b) << "torn text of length " << seen.size();
    }
    writer.join();
}

}  // namespace
}  // namespace karvelo
