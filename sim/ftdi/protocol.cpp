#include "ftdi/protocol.h"

#include <charconv>
#include <optional>
#include <system_error>

namespace karvelo::ftdisim {
namespace {

constexpr std::string_view kPlainVersion = "PU V1.07 plain\r\n";
constexpr std::string_view kFramedVersionBody = "VER,V2.03";
constexpr std::string_view kPlainError = "ERROR: unknown command\r\n";
constexpr std::string_view kErrorMarker = "E05";

bool IsPuMeasurement(std::string_view body) {
    return body == "PRI" || body == "PRI,5";
}

// The body of a framed command "$body*hh" whose checksum is right; nullopt for
// a frame that is malformed or damaged. The checksum is compared as a number,
// so "*0B" and "*b" pass like "*B".
std::optional<std::string_view> FramedBody(std::string_view command) {
    if (command.empty() || command.front() != '$') return std::nullopt;
    const std::size_t star = command.rfind('*');
    if (star == std::string_view::npos) return std::nullopt;
    const std::string_view hex = command.substr(star + 1);
    unsigned sum = 0;
    const auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), sum, 16);
    if (hex.empty() || hex.size() > 2 || ec != std::errc() || end != hex.data() + hex.size()) {
        return std::nullopt;
    }
    const std::string_view body = command.substr(1, star - 1);
    if (Checksum(body) != sum) return std::nullopt;
    return body;
}

Command Fixed(std::string reply) {
    return {CommandKind::Answer, std::move(reply)};
}

Command Measurement() {
    return {CommandKind::Measurement, {}};
}

}  // namespace

Command Interpret(const AdapterConfig& c, std::string_view command) {
    if (command.empty()) return {};
    switch (c.protocol) {
        case Protocol::Pu:
            if (c.firmware == Firmware::Plain) {
                if (command == "VER") return Fixed(std::string(kPlainVersion));
                if (IsPuMeasurement(command)) return Measurement();
                return Fixed(std::string(kPlainError));
            }
            if (command.front() == '$') {
                const std::optional<std::string_view> body = FramedBody(command);
                if (body && *body == "VER") return Fixed(Frame(kFramedVersionBody));
                if (body && IsPuMeasurement(*body)) return Measurement();
                return Fixed(Frame("ERROR"));
            }
            // The framed firmware knows the plain request but refuses it in its own way.
            if (IsPuMeasurement(command)) return Fixed(Frame("ERROR"));
            return Fixed(std::string(kPlainError));
        case Protocol::Mfp: {
            const std::optional<std::string_view> body = FramedBody(command);
            if (body && *body == "i0") return Measurement();
            return Fixed(Frame("ERROR"));
        }
        case Protocol::Exu16:
            // Triggered by a DTR pulse only.
            return {};
    }
    return {};
}

std::string MeasurementReply(const AdapterConfig& c, std::size_t turn, bool withError) {
    const std::vector<double>& values = c.replies[turn % c.replies.size()];
    const int flag = c.flags[turn % c.flags.size()];
    auto field = [&](std::size_t i) {
        if (withError && static_cast<std::size_t>(c.errorField) == i + 1) {
            return std::string(kErrorMarker);
        }
        return FormatValue(i < values.size() ? values[i] : 0.0, c.decimals);
    };
    switch (c.protocol) {
        case Protocol::Pu: {
            std::string body = "PRI" + c.prefix;
            for (std::size_t i = 0; i < 5; ++i) body += "," + field(i);
            body += "," + std::to_string(flag);
            return c.firmware == Firmware::Framed ? Frame(body) : body + "\r\n";
        }
        case Protocol::Mfp:
            return Frame("i0," + field(0) + "," + std::to_string(flag));
        case Protocol::Exu16:
            return field(0) + "\r\n";
    }
    return {};
}

std::string FormatValue(double value, int decimals) {
    char buf[64];
    const auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return "0";  // not reached: the scenario limits values to 1e9
    std::string text(buf, end);
    if (text.front() != '-') text.insert(text.begin(), '+');
    return text;
}

unsigned Checksum(std::string_view body) {
    unsigned sum = 0;
    for (char ch : body) sum ^= static_cast<unsigned char>(ch);
    return sum;
}

std::string Frame(std::string_view body) {
    char hex[8];
    const auto [end, ec] = std::to_chars(hex, hex + sizeof hex, Checksum(body), 16);
    std::string checksum(hex, ec == std::errc() ? end : hex);
    for (char& ch : checksum) {
        if (ch >= 'a' && ch <= 'f') ch = static_cast<char>(ch - 'a' + 'A');
    }
    return "$" + std::string(body) + "*" + checksum + "\r\n";
}

}  // namespace karvelo::ftdisim
