#pragma once
// A fresh folder for a benchmark's files, removed at the end: under
// KARVELO_BENCH_DIR, or the system's temporary folder without it (a tmpfs
// there syncs for free, so point it at the disk the station writes to).

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace karvelo::bench {

class BenchFolder {
  public:
    BenchFolder() {
        namespace fs = std::filesystem;
        const char* base = std::getenv("KARVELO_BENCH_DIR");
        std::string pattern =
            ((base != nullptr && *base != '\0') ? fs::path(base) : fs::temp_directory_path()) /
            "karvelo-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~BenchFolder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;

    // Empty when the folder could not be made.
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace karvelo::bench
