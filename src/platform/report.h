#pragma once
// The station's lines on standard error, all in one form: "karvelo: <text>".
// A condition that lasts is said when it begins and when it changes, never
// once per record; the callers keep what they last said.

#include <string_view>

namespace karvelo::platform {

// Writes "karvelo: <text>" and a line end to standard error in one write
// (any thread).
void Report(std::string_view text);
void Report(std::wstring_view text);

}  // namespace karvelo::platform
