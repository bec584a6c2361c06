#pragma once
// Where the running program file is, and how wide path texts become file-system
// paths.

#include <string>
#include <string_view>

namespace karvelo::platform {

// Full path of the running program file as the kernel reports it
// (/proc/self/exe), independent of the working directory and the command line.
// Empty when it cannot be read.
std::wstring ProgramFilePath();

// A wide path text as the byte path the file system takes (UTF-8).
std::string FsPath(std::wstring_view path);

}  // namespace karvelo::platform
