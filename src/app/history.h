#pragma once
// `karvelo --history`: the record journal read back as CSV lines.

#include <cstdio>
#include <string>

namespace karvelo::app {

// Writes the journal's records whose UTC date lies from `from` to `to`
// (YYYY-MM-DD, both included, empty for open) to `out` as the lines of a
// "*.csv multi" file, oldest first. Returns the exit status: 0, or 1 with a
// message on standard error when the journal cannot be read.
int PrintHistory(const std::string& journalPath, const std::string& from, const std::string& to,
                 std::FILE* out);

}  // namespace karvelo::app
