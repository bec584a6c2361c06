#include "common/log_escape.h"

namespace karvelo::simcommon {

std::string Escape(std::string_view bytes) {
    std::string s = "\"";
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '\r':
                s += "\\r";
                break;
            case '\n':
                s += "\\n";
                break;
            case '\t':
                s += "\\t";
                break;
            case '"':
                s += "\\\"";
                break;
            case '\\':
                s += "\\\\";
                break;
            default:
                if (c >= 0x20 && c < 0x7F) {
                    s += static_cast<char>(c);
                } else {
                    static constexpr char kHex[] = "0123456789abcdef";
                    s += "\\x";
                    s += kHex[c >> 4];
                    s += kHex[c & 0xF];
                }
        }
    }
    return s + "\"";
}

}  // namespace karvelo::simcommon
