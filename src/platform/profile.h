#pragma once
// Profile files: INI-style configuration files read and written one key at a
// time, with the semantics of Windows private profile files.
//
//  - Section and key names match without regard to letter case; blanks around
//    names and values are ignored; a value in matching quotes ('' or "") reads
//    without them.
//  - Only the first section of a name counts, and within it the first key.
//  - A line that is not a section header or a key (comments, blank lines,
//    garbage) is kept byte for byte by every write.
//  - A write replaces the value of an existing key in place, or appends the key
//    after the last non-blank line of its section, or appends the section at the
//    end of the file; a missing file is created (UTF-8 without BOM, CRLF).
//  - Files are decoded as UTF-16 with BOM (either byte order), UTF-8 (with or
//    without BOM) or Windows-1252 and written back in the encoding and line
//    ends they had.
//  - A file that cannot be read as text (unreadable, not a regular file, too
//    large, or holding control characters: binary data or an encoding without a
//    mark such as UTF-16 without BOM) reads as empty and is never written: the
//    loaded document says why.
//  - Every write replaces the file atomically (temporary file in the same
//    folder, then rename, keeping the permissions): a failed write leaves the
//    old file exactly as it was and returns false.

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text_encoding.h"

namespace karvelo::platform {

// What loading a profile file found.
enum class ProfileSource {
    Missing,     // no file: every key reads as its default
    Read,        // the file's contents
    Unreadable,  // the file could not be opened or read (an errno value says why)
    NotAFile,    // a folder, named pipe, device or socket
    TooLarge,    // more than kMaxProfileBytes: no configuration file is that large
    NotText,     // control characters: binary data or text in an encoding without a mark
};

inline constexpr std::size_t kMaxProfileBytes = 16 * 1024 * 1024;

class ProfileDocument {
  public:
    // An empty document (as for a missing file): UTF-8, CRLF.
    ProfileDocument() = default;

    // Loads a file. Anything but a readable text file gives an empty document
    // with exists() false; source() tells what was found. Never waits for a
    // named pipe.
    static ProfileDocument Load(const std::string& path);
    // Parses file contents as they are on disk, whatever they hold.
    static ProfileDocument Parse(std::string_view bytes);

    bool exists() const { return exists_; }
    TextEncoding encoding() const { return encoding_; }
    ProfileSource source() const { return source_; }
    // Why the file could not be used ("Permission denied", "it is a folder",
    // ...); empty for a file that was read and for a missing one.
    std::wstring Problem() const;

    // The value of the first matching key of the first matching section, blanks
    // trimmed and one pair of matching quotes removed; nullopt when the section
    // or key is missing or the key line has no '='.
    std::optional<std::wstring> Find(std::wstring_view section, std::wstring_view key) const;
    // Find() or the default.
    std::wstring ReadString(std::wstring_view section, std::wstring_view key,
                            std::wstring_view defaultValue) const;

    // Edits the document in memory (see the rules above). Names are used with
    // blanks trimmed. False, and the document unchanged, when the text cannot be
    // written as one key line that reads back the same: an empty key, a key that
    // contains '=' or starts with '[' or ';', or a line break in any of the three.
    bool Set(std::wstring_view section, std::wstring_view key, std::wstring_view value);

    // The document as it goes to disk.
    std::string Serialize() const;
    // Writes the document atomically. False (and the old file untouched) when the
    // target is read-only, not a regular file, or the write fails in any way, and
    // when a file is there but the document did not come from one (exists()
    // false: the file could not be read, or appeared since). After a successful
    // write exists() is true.
    bool Save(const std::string& path) const;

  private:
    std::vector<std::wstring> lines_;  // split at LF; the CR of a CRLF stays in the line
    std::string tail_;                 // undecodable trailing bytes kept as they were
    TextEncoding encoding_ = TextEncoding::Utf8;
    ProfileSource source_ = ProfileSource::Missing;
    int error_ = 0;                // errno for Unreadable
    mode_t fileType_ = 0;          // S_IFMT bits for NotAFile
    bool crlf_ = true;             // line end used for lines this class writes
    bool finalNewline_ = true;     // whether the last line had a line end
    mutable bool exists_ = false;  // set by a successful Save as well
};

// One-key operations on a file, as the configuration code and the dialogs use them.
std::wstring ReadProfileString(std::wstring_view section, std::wstring_view key,
                               std::wstring_view defaultValue, const std::string& path);
// Loads, edits and saves atomically; false when nothing was written (also when
// the file is there but cannot be read as text).
bool WriteProfileString(std::wstring_view section, std::wstring_view key, std::wstring_view value,
                        const std::string& path);

// Removes the temporary files that writes of `path` left behind when their
// process was killed: ".<name>.XXXXXX" beside the file that `path` leads to.
// The temporary file of a write still running in another process is locked
// and stays. Returns how many files were removed.
int RemoveStaleTemporaryFiles(const std::string& path);

}  // namespace karvelo::platform
