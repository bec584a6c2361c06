#pragma once
// Files that must survive a crash or a power cut: written whole, synced, and
// put in place in one step.

#include <string>
#include <string_view>

namespace karvelo::platform {

// Writes all of `data` to `fd`; 0 on success, else the errno that stopped it.
int WriteAll(int fd, std::string_view data);

// Makes a change of the folder's entries (a new or renamed file) durable.
void SyncFolder(const std::string& folder);

// The folder part of a path, with its separator ("" for a bare name).
std::string FolderOf(const std::string& path);

// Replaces `path` with `data` in one step: a temporary file beside it, synced,
// then renamed over it, and the folder synced. Empty on success, else what
// went wrong (the old file is then untouched).
std::string ReplaceFileAtomically(const std::string& path, std::string_view data);

// The text of an errno value.
std::string ErrnoText(int error);

}  // namespace karvelo::platform
