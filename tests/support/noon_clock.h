#pragma once
// A local clock that always reads 09.12.2026 12:00:00, and the CSV record line
// an otherwise empty record with that stamp gives.

#include <ctime>
#include <string>

namespace karvelo::testing {

inline bool NoonClock(std::tm& local) {
    local = std::tm{};
    local.tm_year = 126;
    local.tm_mon = 11;
    local.tm_mday = 9;
    local.tm_hour = 12;
    return true;
}

// The record line of ID `id` with empty slot fields, stamped by NoonClock.
inline std::string NoonLine(const std::string& id) {
    return id + ";09.12.2026;12:00:00;;;;;;;;;;;\r\n";
}

}  // namespace karvelo::testing
