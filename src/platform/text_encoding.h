#pragma once
// Conversions between the station's wide texts and the 8-bit and 16-bit
// encodings found on disk and on instrument wires. Every decoder here is
// lossless for the encodings it owns, so a file decoded and encoded again is
// byte-identical.

#include <string>
#include <string_view>

namespace karvelo::platform {

enum class TextEncoding {
    Utf8,         // no byte-order mark (also plain ASCII)
    Utf8Bom,      // EF BB BF
    Utf16LeBom,   // FF FE
    Utf16BeBom,   // FE FF
    Windows1252,  // the fallback for bytes that are not valid UTF-8
};

// Decodes file contents, detecting the encoding: a UTF-16 (either byte order)
// or UTF-8 byte-order mark, else valid UTF-8, else Windows-1252. The mark is not part of the text.
// After a UTF-8 mark, each byte that is not valid UTF-8 decodes as U+DC00 plus
// the byte (a lone surrogate no valid UTF-8 produces), and EncodeFileText with
// Utf8Bom writes it back as that byte. UTF-16 keeps unpaired surrogates; an odd
// trailing byte cannot be held and decodes as U+FFFD.
std::wstring DecodeFileText(std::string_view bytes, TextEncoding& detected);

// Encodes text in the given encoding, with the byte-order mark where it has one.
// Characters that Windows-1252 cannot hold are written as '?'. In UTF-8, lone
// surrogates become U+FFFD, except the escapes above under Utf8Bom.
std::string EncodeFileText(std::wstring_view text, TextEncoding encoding);

// UTF-8 <-> wide; invalid UTF-8 bytes decode as their Windows-1252 characters.
std::wstring Utf8ToWide(std::string_view bytes);
std::string WideToUtf8(std::wstring_view text);

// ISO 8859-1 (CSV files, text-source files, instrument wires): bytes map 1:1
// to U+0000..U+00FF; on encoding, characters beyond U+00FF become '?'.
std::wstring Latin1ToWide(std::string_view bytes);
std::string WideToLatin1(std::wstring_view text);

}  // namespace karvelo::platform
