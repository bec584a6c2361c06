#include "backends/serial/readers/number_list.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "platform/numbers.h"

namespace karvelo::serial {
namespace {

// Longest line the instruments' buffers hold.
constexpr std::size_t kMaxLine = 100;

bool IsFieldByte(char c) {
    return (c >= '0' && c <= '9') || c == '-' || c == '.';
}

int Invalid(NumberList& values) {
    values.fill(0.0);
    return 0;
}

}  // namespace

int SplitNumberList(std::span<char> line, NumberList& values) {
    values.fill(0.0);
    char field[kListFieldCapacity];
    std::size_t length = 0;
    int k = 0;
    auto convert = [&] { return platform::ParseDoubleNarrow(std::string_view(field, length)); };

    const std::size_t limit = std::min(line.size(), kMaxLine);
    std::size_t i = 0;
    for (; i < limit; ++i) {
        const char c = line[i];
        if (c == '\r' || c == '\n' || c == '\0') break;
        if (c == '+') {
            line[i] = ' ';
        } else if (IsFieldByte(c)) {
            if (length + 1 >= kListFieldCapacity) return Invalid(values);
            field[length++] = c;
        } else if (c == ',' || c == ';') {
            values[static_cast<std::size_t>(k)] = convert();
            if (++k >= kListValues) return Invalid(values);
            length = 0;
        }
    }
    if (i == limit) return Invalid(values);  // no terminator
    if (length == 0 && k == 0) return Invalid(values);
    values[static_cast<std::size_t>(k)] = convert();
    return k + 1;
}

}  // namespace karvelo::serial
