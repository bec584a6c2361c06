#include "platform/program_path.h"

#include <unistd.h>

#include <vector>

#include "platform/text_encoding.h"

namespace karvelo::platform {

std::wstring ProgramFilePath() {
    std::vector<char> buf(4096);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buf.size()) {
            return Utf8ToWide(std::string_view(buf.data(), static_cast<std::size_t>(n)));
        }
        buf.resize(buf.size() * 2);
    }
}

std::string FsPath(std::wstring_view path) {
    return WideToUtf8(path);
}

}  // namespace karvelo::platform
