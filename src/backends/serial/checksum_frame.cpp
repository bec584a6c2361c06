#include "backends/serial/checksum_frame.h"

#include <cstdint>

namespace karvelo::serial {

std::string ChecksumFrame(std::string_view body, std::string_view terminator) {
    std::uint8_t sum = 0;
    for (char c : body) sum ^= static_cast<std::uint8_t>(c);
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string frame = "$";
    frame += body;
    frame += '*';
    if (sum >= 16) frame += kHex[sum >> 4];
    frame += kHex[sum & 0x0F];
    frame += terminator;
    return frame;
}

}  // namespace karvelo::serial
