#include "platform/shared_library.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <utility>

#include "platform/program_path.h"

namespace karvelo::platform {

SharedLibrary::~SharedLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      foundBeside_(other.foundBeside_),
      path_(std::move(other.path_)),
      error_(std::move(other.error_)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
    if (this != &other) {
        if (handle_ != nullptr) dlclose(handle_);
        handle_ = std::exchange(other.handle_, nullptr);
        foundBeside_ = other.foundBeside_;
        path_ = std::move(other.path_);
        error_ = std::move(other.error_);
    }
    return *this;
}

SharedLibrary SharedLibrary::Load(std::string_view fileName, std::string folder) {
    SharedLibrary lib;
    if (folder.empty()) folder = ProgramFolder();
    const std::string beside = folder + "/" + std::string(fileName);
    struct stat st {};
    lib.foundBeside_ = !folder.empty() && stat(beside.c_str(), &st) == 0;
    const std::string name = lib.foundBeside_ ? beside : std::string(fileName);
    // RTLD_LOCAL: a vendor library's symbols never stand in for ours.
    lib.handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib.handle_ != nullptr) {
        lib.path_ = name;
    } else {
        const char* why = dlerror();
        lib.error_ = why ? why : name + ": cannot be loaded";
    }
    return lib;
}

void* SharedLibrary::Symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    return dlsym(handle_, name);
}

std::string ProgramFolder() {
    std::string path = FsPath(ProgramFilePath());
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    path.resize(slash);
    return path;
}

}  // namespace karvelo::platform
