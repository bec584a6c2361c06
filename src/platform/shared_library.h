#pragma once
// Vendor libraries loaded at run time. A library is looked for in the program's
// folder first, where a user puts a vendor's file beside the program, then on
// the system's library path, where a vendor's installer puts it.

#include <string>
#include <string_view>

namespace karvelo::platform {

class SharedLibrary {
  public:
    SharedLibrary() = default;
    ~SharedLibrary();
    SharedLibrary(SharedLibrary&& other) noexcept;
    SharedLibrary& operator=(SharedLibrary&& other) noexcept;
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Loads `fileName` ("libftd2xx.so") from `folder` when it is there, else
    // from the system's library path. An empty folder: the program's folder.
    static SharedLibrary Load(std::string_view fileName, std::string folder = {});

    bool loaded() const { return handle_ != nullptr; }
    // A file was found beside the program, loaded or not: a broken copy there
    // is reported rather than passed over.
    bool foundBeside() const { return foundBeside_; }
    // The file that was loaded, or why nothing was (the loader's message).
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

    // The address of an exported symbol; null when the library has none.
    void* Symbol(const char* name) const;

    // Looks up function `name` as type Fn. False, with `fn` null, when the
    // library has none; the first name not found goes to `missing`.
    template <typename Fn>
    bool Resolve(const char* name, Fn& fn, std::string* missing = nullptr) const {
        fn = reinterpret_cast<Fn>(Symbol(name));
        if (fn == nullptr && missing != nullptr && missing->empty()) *missing = name;
        return fn != nullptr;
    }

  private:
    void* handle_ = nullptr;
    bool foundBeside_ = false;
    std::string path_;
    std::string error_;
};

// The folder of the running program, as a byte path without the final "/".
std::string ProgramFolder();

}  // namespace karvelo::platform
