#pragma once
// The list files that other programs keep up to date for texts: ISO 8859-1,
// fields separated by ';' without quoting, only the first line counts.

#include <array>
#include <string>
#include <string_view>

namespace karvelo::exports {

inline constexpr int kTextFields = 10;
inline constexpr std::size_t kTextFieldChars = 255;
// Of the first line, at most this many characters are read, line end included.
inline constexpr std::size_t kTextLineChars = 1022;

// Fields 1..10 of a line (index 0 unused), each cut at 255 characters. A field
// ends at the next ';'; the line end stays in the field where the line ends;
// fields the line does not reach are empty and anything after the tenth ';' is
// ignored.
using TextFields = std::array<std::wstring, kTextFields + 1>;
TextFields SplitTextLine(std::wstring_view line);

// The first line of a file, at most 1022 characters including its line end (a
// CR LF line end reads as LF). The file is opened for reading only, without any
// lock, so its writer may keep working on it. False when the file cannot be
// opened or read, is not a regular file, or is empty.
bool ReadFirstLine(const std::string& path, std::wstring& line);

// Field n (1..10) of the first line of the text-source file of entry e (0: the
// ID, 1..10: the slots): TextPath[e] followed by TextFile[e]. Empty when the
// line has fewer fields; false when the file gives no line.
bool ReadTextSourceField(int entry, int n, std::wstring& field);

}  // namespace karvelo::exports
