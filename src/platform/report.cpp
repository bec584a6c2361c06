#include "platform/report.h"

#include <cstdio>
#include <string>

#include "platform/text_encoding.h"

namespace karvelo::platform {

void Report(std::string_view text) {
    // One write per line, so that lines of several threads never interleave.
    std::string line = "karvelo: ";
    line.append(text);
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void Report(std::wstring_view text) {
    Report(WideToUtf8(text));
}

}  // namespace karvelo::platform
