#pragma once
// Helpers shared by the libFuzzer targets.

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace karvelo::fuzz {

// A failed property is a crash for libFuzzer, which keeps the input.
inline void Check(bool ok) {
    if (!ok) std::abort();
}

// A folder of the process's own for the files a target reads, in memory where
// the system has a tmpfs, removed when the process ends.
inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        const char* base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/karvelo-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern;
    }();
    static const bool removedAtExit = [] {
        return std::atexit([] {
                   std::error_code ignored;
                   std::filesystem::remove_all(folder, ignored);
               }) == 0;
    }();
    (void)removedAtExit;
    return folder;
}

inline void WriteFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    Check(out.good());
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Wide text from fuzz bytes: with `raw`, each four bytes are one wchar_t as it
// is (lone surrogates, values beyond Unicode and negative ones included);
// otherwise each byte is one character (ISO 8859-1).
inline std::wstring WideText(const std::uint8_t* data, std::size_t size, bool raw) {
    std::wstring text;
    if (raw) {
        for (std::size_t i = 0; i + 4 <= size; i += 4) {
            std::uint32_t unit = 0;
            for (std::size_t k = 0; k < 4; ++k) unit |= std::uint32_t{data[i + k]} << (8 * k);
            text.push_back(static_cast<wchar_t>(unit));
        }
    } else {
        for (std::size_t i = 0; i < size; ++i) text.push_back(static_cast<wchar_t>(data[i]));
    }
    return text;
}

}  // namespace karvelo::fuzz
