#pragma once
// The workbook file as a zip package: its parts read by name, and a save that
// replaces some parts and keeps every other one byte for byte, written beside
// the file and put in its place in one step.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

struct zip;  // libzip's archive

namespace karvelo::platform::xlsx {

// What identifies one version of a file on the disk.
struct FileStamp {
    unsigned long long device = 0;
    unsigned long long inode = 0;
    long long size = -1;
    long long mtimeNs = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// The file's stamp; size -1 when it cannot be read.
FileStamp StampOf(const std::string& path);

class ZipPackage {
  public:
    // Opens the package at `path`; throws WorkbookError naming what the file is
    // when it is not a workbook package.
    explicit ZipPackage(const std::string& path);
    ~ZipPackage();
    ZipPackage(const ZipPackage&) = delete;
    ZipPackage& operator=(const ZipPackage&) = delete;

    // What the station inflates at most: one part, and all parts read from
    // one package together. A workbook that a spreadsheet program writes
    // for a gauging bench stays far below; a file beyond them is refused, so
    // that a few kilobytes that claim a huge part cannot take the memory.
    static constexpr std::uint64_t kMaxPartBytes = 256ULL << 20;
    static constexpr std::uint64_t kMaxPackageBytes = 1ULL << 30;

    bool Has(const std::string& name) const;
    // The part's bytes; nullopt when there is no such part. Throws on a
    // damaged one, on one larger than its index says, and beyond the limits.
    std::optional<std::string> Read(const std::string& name) const;

    // Writes the file again with `replaced` parts (name to new bytes) and
    // without `removed` parts; everything else copied unchanged. Atomic and
    // synced; throws WorkbookError and leaves the file as it was on failure.
    // The package then reads the new file.
    void Save(const std::map<std::string, std::string>& replaced,
              const std::map<std::string, bool>& removed);

  private:
    void OpenArchive();

    std::string path_;
    ::zip* archive_ = nullptr;
    // Bytes inflated from this package so far.
    mutable std::uint64_t inflated_ = 0;
};

}  // namespace karvelo::platform::xlsx
