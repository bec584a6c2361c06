#pragma once
// Files that must survive a crash or a power cut: written whole, synced, and
// put in place in one step; and files read back whole.

#include <sys/stat.h>

#include <string>
#include <string_view>

namespace karvelo::platform {

// Writes all of `data` to `fd`; 0 on success, else the errno that stopped it.
int WriteAll(int fd, std::string_view data);

// Makes a change of the folder's entries (a new or renamed file) durable.
void SyncFolder(const std::string& folder);

// The folder part of a path, with its separator ("" for a bare name).
std::string FolderOf(const std::string& path);

// Puts the temporary file `temp`, written and open as `fd`, in the place of
// `path`: synced, renamed over it, and the folder synced. 0 on success, else
// the errno that stopped it (`path` is then untouched; `temp` is the
// caller's to remove). `fd` stays open.
int PutInPlace(int fd, const std::string& temp, const std::string& path);

// Gives the file open as `fd` the permissions of `old`, and its owner where
// this process may (a station run as root must not take an operator's file
// over; an ordinary user cannot give a file away). 0 or the errno of the
// permissions.
int KeepOwnerAndMode(int fd, const struct stat& old);

// Replaces `path` with `data` in one step: a temporary file beside it, synced,
// then renamed over it, and the folder synced. Empty on success, else what
// went wrong (the old file is then untouched).
std::string ReplaceFileAtomically(const std::string& path, std::string_view data);

// Whether a symbolic link in the last part of a path is followed.
enum class Links { Follow, Refuse };

// Reads the regular file `path` whole into `out`; false with `problem` set
// when it cannot (a named pipe or device under the name is refused, never
// waited for).
bool ReadWholeFile(const std::string& path, std::string& out, std::string& problem,
                   Links links = Links::Follow);

// The text of an errno value.
std::string ErrnoText(int error);

}  // namespace karvelo::platform
