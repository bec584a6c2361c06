#pragma once
// Text reports of the run-time state for the command-line tools: one
// "Name=value" line per field, numbers with "." whatever the locale.

#include <string>

namespace karvelo::app {

// Every configuration field, as --show-config prints it (UTF-8).
std::string ConfigurationReport();

// The result fields of one slot (Value, TextLast, StatusText, ValueReady,
// ValueError) as "Slot<s>.<Field>=value" lines.
std::string SlotResultReport(int slot);

}  // namespace karvelo::app
