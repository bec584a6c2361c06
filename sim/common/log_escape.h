#pragma once
// How both simulators write wire bytes into their logs.

#include <string>
#include <string_view>

namespace karvelo::simcommon {

// A byte text for the log: printable ASCII as it is, control and 8-bit bytes as
// C escapes, in double quotes.
std::string Escape(std::string_view bytes);

}  // namespace karvelo::simcommon
