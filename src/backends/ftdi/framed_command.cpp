#include "backends/ftdi/framed_command.h"

#include <cstdint>

namespace karvelo::ftdi {

std::string FramedCommand(std::string_view payload, std::string_view terminator) {
    std::int32_t sum = 0;
    for (char c : payload) sum ^= static_cast<std::int8_t>(c);
    // A byte above 0x7F widens with its sign, so the checksum prints as eight
    // digits then; the instruments do the same.
    static constexpr char kHex[] = "0123456789ABCDEF";
    auto bits = static_cast<std::uint32_t>(sum);
    std::string hex;
    do {
        hex.insert(hex.begin(), kHex[bits & 0xF]);
        bits >>= 4;
    } while (bits != 0);
    std::string frame;
    frame.reserve(payload.size() + hex.size() + terminator.size() + 2);
    frame += '$';
    frame += payload;
    frame += '*';
    frame += hex;
    frame += terminator;
    return frame;
}

}  // namespace karvelo::ftdi
