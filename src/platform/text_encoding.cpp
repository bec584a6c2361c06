#include "platform/text_encoding.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace karvelo::platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Windows-1252 for 0x80..0x9F. The five bytes the code page leaves undefined
// map to the C1 controls of the same value, so that all 256 bytes decode to
// distinct characters and every 1252 file survives a round trip.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

// In a file with a UTF-8 byte-order mark, a byte that is not part of a valid
// sequence is held as this lone low surrogate plus the byte value. No valid
// UTF-8 decodes to a surrogate, so the escape is unambiguous and the encoder
// can write the original byte back.
constexpr char32_t kByteEscapeBase = 0xDC00;

char32_t Cp1252ToChar(unsigned char b) {
    if (b >= 0x80 && b < 0xA0) return kCp1252High[b - 0x80];
    return b;
}

// The Windows-1252 byte for c, or -1 when the code page has none.
int CharToCp1252(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
    for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
        if (kCp1252High[i] == c) return static_cast<int>(0x80 + i);
    }
    return -1;
}

bool IsSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

// wchar_t is signed on Linux; a negative value must not pass as a small code.
char32_t ToChar32(wchar_t c) {
    return static_cast<char32_t>(static_cast<std::uint32_t>(c));
}

bool IsContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// Decodes one well-formed UTF-8 sequence at the start of s (no overlong forms,
// no surrogates, nothing above U+10FFFF). Returns its length, or 0 when the
// bytes there are not a valid sequence.
std::size_t DecodeUtf8Sequence(std::string_view s, std::size_t pos, char32_t& out) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[pos + i]); };
    const std::size_t left = s.size() - pos;
    const unsigned char b0 = byte(0);
    if (b0 < 0x80) {
        out = b0;
        return 1;
    }
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        if (left < 2 || !IsContinuation(byte(1))) return 0;
        out = (char32_t{b0} & 0x1F) << 6 | (byte(1) & 0x3F);
        return 2;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (left < 3) return 0;
        const unsigned char b1 = byte(1);
        const unsigned char lo = b0 == 0xE0 ? 0xA0 : 0x80;
        const unsigned char hi = b0 == 0xED ? 0x9F : 0xBF;
        if (b1 < lo || b1 > hi || !IsContinuation(byte(2))) return 0;
        out = (char32_t{b0} & 0x0F) << 12 | (char32_t{b1} & 0x3F) << 6 | (byte(2) & 0x3F);
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (left < 4) return 0;
        const unsigned char b1 = byte(1);
        const unsigned char lo = b0 == 0xF0 ? 0x90 : 0x80;
        const unsigned char hi = b0 == 0xF4 ? 0x8F : 0xBF;
        if (b1 < lo || b1 > hi || !IsContinuation(byte(2)) || !IsContinuation(byte(3))) return 0;
        out = (char32_t{b0} & 0x07) << 18 | (char32_t{b1} & 0x3F) << 12 |
              (char32_t{byte(2)} & 0x3F) << 6 | (byte(3) & 0x3F);
        return 4;
    }
    return 0;
}

bool IsValidUtf8(std::string_view s) {
    char32_t c = 0;
    for (std::size_t pos = 0; pos < s.size();) {
        const std::size_t n = DecodeUtf8Sequence(s, pos, c);
        if (n == 0) return false;
        pos += n;
    }
    return true;
}

enum class InvalidByte { AsCp1252, AsEscape };

std::wstring DecodeUtf8(std::string_view s, InvalidByte invalid) {
    std::wstring out;
    out.reserve(s.size());
    for (std::size_t pos = 0; pos < s.size();) {
        char32_t c = 0;
        std::size_t n = DecodeUtf8Sequence(s, pos, c);
        if (n == 0) {
            const auto b = static_cast<unsigned char>(s[pos]);
            c = invalid == InvalidByte::AsCp1252 ? Cp1252ToChar(b) : kByteEscapeBase + b;
            n = 1;
        }
        out.push_back(static_cast<wchar_t>(c));
        pos += n;
    }
    return out;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Lone surrogates and values beyond U+10FFFF become U+FFFD, except byte escapes
// when escapesAsBytes is set.
void EncodeUtf8(std::string& out, std::wstring_view text, bool escapesAsBytes) {
    out.reserve(out.size() + text.size());
    for (const wchar_t wc : text) {
        const char32_t c = ToChar32(wc);
        if (escapesAsBytes && c >= kByteEscapeBase + 0x80 && c <= kByteEscapeBase + 0xFF) {
            out.push_back(static_cast<char>(c - kByteEscapeBase));
        } else if (IsSurrogate(c) || c > 0x10FFFF) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, c);
        }
    }
}

enum class ByteOrder { Little, Big };

std::wstring DecodeUtf16(std::string_view s, ByteOrder order) {
    std::wstring out;
    out.reserve(s.size() / 2 + 1);
    const std::size_t lowByte = order == ByteOrder::Little ? 0 : 1;
    const auto unit = [&](std::size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(s[i + lowByte]) |
                                     static_cast<unsigned char>(s[i + 1 - lowByte]) << 8);
    };
    const std::size_t even = s.size() & ~std::size_t{1};
    for (std::size_t i = 0; i < even; i += 2) {
        const char32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < even) {
            const char32_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                out.push_back(
                    static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00)));
                i += 2;
                continue;
            }
        }
        // Unpaired surrogates stay as they are, so the file is written back unchanged.
        out.push_back(static_cast<wchar_t>(u));
    }
    if (even != s.size()) out.push_back(static_cast<wchar_t>(kReplacement));
    return out;
}

void AppendUtf16Unit(std::string& out, char32_t u, ByteOrder order) {
    const char low = static_cast<char>(u & 0xFF);
    const char high = static_cast<char>((u >> 8) & 0xFF);
    if (order == ByteOrder::Little) {
        out.push_back(low);
        out.push_back(high);
    } else {
        out.push_back(high);
        out.push_back(low);
    }
}

void EncodeUtf16(std::string& out, std::wstring_view text, ByteOrder order) {
    out.reserve(out.size() + 2 * text.size());
    for (const wchar_t wc : text) {
        const char32_t c = ToChar32(wc);
        if (c < 0x10000) {
            AppendUtf16Unit(out, c, order);  // lone surrogates included, as they were read
        } else if (c <= 0x10FFFF) {
            AppendUtf16Unit(out, 0xD800 + ((c - 0x10000) >> 10), order);
            AppendUtf16Unit(out, 0xDC00 + ((c - 0x10000) & 0x3FF), order);
        } else {
            AppendUtf16Unit(out, kReplacement, order);
        }
    }
}

std::wstring DecodeCp1252(std::string_view s) {
    std::wstring out;
    out.reserve(s.size());
    for (const char b : s)
        out.push_back(static_cast<wchar_t>(Cp1252ToChar(static_cast<unsigned char>(b))));
    return out;
}

void EncodeCp1252(std::string& out, std::wstring_view text) {
    out.reserve(out.size() + text.size());
    for (const wchar_t wc : text) {
        const int b = CharToCp1252(ToChar32(wc));
        out.push_back(b < 0 ? '?' : static_cast<char>(b));
    }
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

}  // namespace

std::wstring DecodeFileText(std::string_view bytes, TextEncoding& detected) {
    if (bytes.starts_with(kUtf16LeBom)) {
        detected = TextEncoding::Utf16LeBom;
        return DecodeUtf16(bytes.substr(kUtf16LeBom.size()), ByteOrder::Little);
    }
    if (bytes.starts_with(kUtf16BeBom)) {
        detected = TextEncoding::Utf16BeBom;
        return DecodeUtf16(bytes.substr(kUtf16BeBom.size()), ByteOrder::Big);
    }
    if (bytes.starts_with(kUtf8Bom)) {
        detected = TextEncoding::Utf8Bom;
        return DecodeUtf8(bytes.substr(kUtf8Bom.size()), InvalidByte::AsEscape);
    }
    if (IsValidUtf8(bytes)) {
        detected = TextEncoding::Utf8;
        return DecodeUtf8(bytes, InvalidByte::AsCp1252);  // valid: nothing to escape
    }
    detected = TextEncoding::Windows1252;
    return DecodeCp1252(bytes);
}

std::string EncodeFileText(std::wstring_view text, TextEncoding encoding) {
    std::string out;
    switch (encoding) {
        case TextEncoding::Utf8:
            // Without a mark, one stray byte would make the whole file read as
            // Windows-1252 next time; escapes only come back inside a marked file.
            EncodeUtf8(out, text, false);
            break;
        case TextEncoding::Utf8Bom:
            out.append(kUtf8Bom);
            EncodeUtf8(out, text, true);
            break;
        case TextEncoding::Utf16LeBom:
            out.append(kUtf16LeBom);
            EncodeUtf16(out, text, ByteOrder::Little);
            break;
        case TextEncoding::Utf16BeBom:
            out.append(kUtf16BeBom);
            EncodeUtf16(out, text, ByteOrder::Big);
            break;
        case TextEncoding::Windows1252:
            EncodeCp1252(out, text);
            break;
    }
    return out;
}

std::wstring Utf8ToWide(std::string_view bytes) {
    return DecodeUtf8(bytes, InvalidByte::AsCp1252);
}

std::string WideToUtf8(std::wstring_view text) {
    std::string out;
    EncodeUtf8(out, text, false);
    return out;
}

std::wstring Latin1ToWide(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    for (const char b : bytes) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(b)));
    return out;
}

std::string WideToLatin1(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (const wchar_t wc : text) {
        const char32_t c = ToChar32(wc);
        out.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    }
    return out;
}

}  // namespace karvelo::platform
