#include "platform/text_encoding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>

namespace karvelo::platform {
namespace {

using namespace std::string_literals;

const char* Name(TextEncoding e) {
    switch (e) {
        case TextEncoding::Utf8:
            return "Utf8";
        case TextEncoding::Utf8Bom:
            return "Utf8Bom";
        case TextEncoding::Utf16LeBom:
            return "Utf16LeBom";
        case TextEncoding::Utf16BeBom:
            return "Utf16BeBom";
        case TextEncoding::Windows1252:
            return "Windows1252";
    }
    return "?";
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += digits[b >> 4];
        out += digits[b & 15];
        out += ' ';
    }
    return out;
}

struct DetectCase {
    const char* what;
    std::string bytes;
    TextEncoding encoding;
    std::wstring text;
};

TEST(TextEncoding, DetectsAndDecodes) {
    const DetectCase cases[] = {
        {"empty file", "", TextEncoding::Utf8, L""},
        {"ASCII", "a=1\r\n", TextEncoding::Utf8, L"a=1\r\n"},
        {"NUL is a character", "a\0b"s, TextEncoding::Utf8, L"a\0b"s},
        {"two-byte UTF-8", "\xC2\xB5s", TextEncoding::Utf8, L"\u00B5s"},
        {"four-byte UTF-8", "\xF0\x9F\x98\x80", TextEncoding::Utf8, L"\U0001F600"},
        {"1252 micro sign", "\xB5s", TextEncoding::Windows1252, L"\u00B5s"},
        {"1252 euro sign", "\x80", TextEncoding::Windows1252, L"\u20AC"},
        {"overlong slash", "\xC0\xAF", TextEncoding::Windows1252, L"\u00C0\u00AF"},
        {"UTF-8 surrogate", "\xED\xA0\x80", TextEncoding::Windows1252, L"\u00ED\u00A0\u20AC"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", TextEncoding::Windows1252,
         L"\u00F4\u0090\u20AC\u20AC"},
        {"truncated sequence", "a\xE2\x82", TextEncoding::Windows1252, L"a\u00E2\u201A"},
        {"UTF-8 mark", "\xEF\xBB\xBF[a]", TextEncoding::Utf8Bom, L"[a]"},
        {"UTF-8 mark only", "\xEF\xBB\xBF", TextEncoding::Utf8Bom, L""},
        {"UTF-8 mark, stray byte escaped", "\xEF\xBB\xBF\xB5\xC2\xB5", TextEncoding::Utf8Bom,
         L"\xDCB5\u00B5"},
        {"UTF-16LE",
         "\xFF\xFE"
         "a\0\xB5\0"s,
         TextEncoding::Utf16LeBom, L"a\u00B5"},
        {"UTF-16LE pair", "\xFF\xFE\x3D\xD8\x00\xDE"s, TextEncoding::Utf16LeBom, L"\U0001F600"},
        {"UTF-16LE lone surrogates", "\xFF\xFE\x00\xDC\x00\xD8x\0"s, TextEncoding::Utf16LeBom,
         L"\xDC00\xD800x"},
        {"UTF-16LE high surrogate at end", "\xFF\xFE\x00\xD8"s, TextEncoding::Utf16LeBom,
         L"\xD800"},
        {"UTF-16LE odd byte",
         "\xFF\xFE"
         "a\0b"s,
         TextEncoding::Utf16LeBom, L"a\uFFFD"},
        {"UTF-16BE", "\xFE\xFF\0a\0\xB5\x20\xAC"s, TextEncoding::Utf16BeBom, L"a\u00B5\u20AC"},
        {"UTF-16BE pair", "\xFE\xFF\xD8\x3D\xDE\x00"s, TextEncoding::Utf16BeBom, L"\U0001F600"},
        {"UTF-16BE lone surrogates", "\xFE\xFF\xDC\x00\xD8\x00\0x"s, TextEncoding::Utf16BeBom,
         L"\xDC00\xD800x"},
        {"UTF-16BE odd byte", "\xFE\xFF\0ab"s, TextEncoding::Utf16BeBom, L"a\uFFFD"},
        {"UTF-16BE mark only", "\xFE\xFF", TextEncoding::Utf16BeBom, L""},
    };
    for (const DetectCase& c : cases) {
        SCOPED_TRACE(c.what);
        TextEncoding detected = TextEncoding::Utf8;
        EXPECT_EQ(DecodeFileText(c.bytes, detected), c.text);
        EXPECT_EQ(detected, c.encoding) << Name(detected);
    }
}

TEST(TextEncoding, EncodesWithMarkAndKeepsEscapedBytes) {
    const std::wstring text = L"a\u00B5\u20AC\U0001F600";
    EXPECT_EQ(EncodeFileText(text, TextEncoding::Utf8), "a\xC2\xB5\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(EncodeFileText(text, TextEncoding::Utf8Bom),
              "\xEF\xBB\xBF"
              "a\xC2\xB5\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(EncodeFileText(text, TextEncoding::Utf16LeBom),
              "\xFF\xFE"
              "a\0\xB5\0\xAC\x20\x3D\xD8\x00\xDE"s);
    EXPECT_EQ(EncodeFileText(text, TextEncoding::Utf16BeBom),
              "\xFE\xFF"
              "\0a\0\xB5\x20\xAC\xD8\x3D\xDE\x00"s);
    EXPECT_EQ(EncodeFileText(text, TextEncoding::Windows1252), "a\xB5\x80?");

    // A byte escape goes back as its byte only under a UTF-8 mark; in a file
    // without one it would turn the whole file into Windows-1252 on the next read.
    EXPECT_EQ(EncodeFileText(L"\xDCB5", TextEncoding::Utf8Bom), "\xEF\xBB\xBF\xB5");
    EXPECT_EQ(EncodeFileText(L"\xDCB5", TextEncoding::Utf8), "\xEF\xBF\xBD");
    EXPECT_EQ(EncodeFileText(L"\xD800", TextEncoding::Utf8Bom), "\xEF\xBB\xBF\xEF\xBF\xBD");
}

TEST(TextEncoding, Windows1252IsABijectionOfAllBytes) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    TextEncoding detected = TextEncoding::Utf8;
    const std::wstring text = DecodeFileText(all, detected);
    ASSERT_EQ(detected, TextEncoding::Windows1252);
    ASSERT_EQ(text.size(), 256u);
    EXPECT_EQ(std::set<wchar_t>(text.begin(), text.end()).size(), 256u);
    EXPECT_EQ(text[0x80], L'\u20AC');
    EXPECT_EQ(text[0x81], L'\u0081');
    EXPECT_EQ(text[0x8D], L'\u008D');
    EXPECT_EQ(text[0x9F], L'\u0178');
    EXPECT_EQ(text[0xB5], L'\u00B5');
    EXPECT_EQ(EncodeFileText(text, TextEncoding::Windows1252), all);
}

TEST(TextEncoding, Windows1252WritesQuestionMarkForWhatItCannotHold) {
    EXPECT_EQ(EncodeFileText(L"\u4E2D\u0080\u0100\U0001F600", TextEncoding::Windows1252), "????");
    EXPECT_EQ(EncodeFileText(std::wstring(1, static_cast<wchar_t>(-1)), TextEncoding::Windows1252),
              "?");
}

TEST(TextEncoding, Utf8ToWideDecodesInvalidBytesAsWindows1252) {
    EXPECT_EQ(Utf8ToWide("a\xC2\xB5\xB5\x80\xE2\x82\xAC\xE2\x82"),
              L"a\u00B5\u00B5\u20AC\u20AC\u00E2\u201A");
    // An invalid lead byte must not swallow the line feed after it.
    EXPECT_EQ(Utf8ToWide("\xE2\n\x82"), L"\u00E2\n\u201A");
}

TEST(TextEncoding, WideToUtf8ReplacesWhatUtf8CannotHold) {
    EXPECT_EQ(WideToUtf8(L"\u00B5\U0001F600"), "\xC2\xB5\xF0\x9F\x98\x80");
    EXPECT_EQ(WideToUtf8(L"\xD800x\xDCB5"), "\xEF\xBF\xBDx\xEF\xBF\xBD");
    EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
    EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(-1))), "\xEF\xBF\xBD");
}

TEST(TextEncoding, Latin1MapsBytesOneToOne) {
    std::string all;
    std::wstring wide;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
        wide.push_back(static_cast<wchar_t>(b));
    }
    EXPECT_EQ(Latin1ToWide(all), wide);
    EXPECT_EQ(WideToLatin1(wide), all);
    EXPECT_EQ(WideToLatin1(L"\u20AC\u0100\U0001F600"), "???");
}

std::string RandomBytes(std::mt19937& rng, std::size_t size) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::string out(size, '\0');
    for (char& c : out) c = static_cast<char>(byte(rng));
    return out;
}

std::string RandomUtf8(std::mt19937& rng, std::size_t chars) {
    std::uniform_int_distribution<std::uint32_t> plane(0, 3);
    std::wstring text;
    for (std::size_t i = 0; i < chars; ++i) {
        const std::uint32_t top[] = {0x80, 0x800, 0x10000, 0x110000};
        std::uint32_t c = std::uniform_int_distribution<std::uint32_t>(0, top[plane(rng)] - 1)(rng);
        if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
        text.push_back(static_cast<wchar_t>(c));
    }
    return WideToUtf8(text);
}

// Decoding and encoding again gives the same bytes, whatever the bytes.
TEST(TextEncoding, RoundTripIsByteExactForAnyInput) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 300; ++round) {
        const std::size_t size = std::uniform_int_distribution<std::size_t>(0, 200)(rng);
        const std::string inputs[] = {
            RandomBytes(rng, size),
            "\xEF\xBB\xBF" + RandomBytes(rng, size),
            "\xFF\xFE" + RandomBytes(rng, size & ~std::size_t{1}),
            "\xFE\xFF" + RandomBytes(rng, size & ~std::size_t{1}),
            RandomUtf8(rng, size),
            "\xEF\xBB\xBF" + RandomUtf8(rng, size),
        };
        for (const std::string& bytes : inputs) {
            TextEncoding detected = TextEncoding::Utf8;
            const std::wstring text = DecodeFileText(bytes, detected);
            ASSERT_EQ(EncodeFileText(text, detected), bytes)
                << Name(detected) << ": " << Hex(bytes);
        }
        const std::string utf8 = RandomUtf8(rng, size);
        TextEncoding detected = TextEncoding::Windows1252;
        DecodeFileText(utf8, detected);
        ASSERT_EQ(detected, TextEncoding::Utf8) << Hex(utf8);
    }
}

}  // namespace
}  // namespace karvelo::platform
