#include "backends/marposs/marposs_library.h"

#include <cstdio>
#include <utility>

#include "platform/report.h"
#include "platform/shared_library.h"

namespace karvelo::marposs {
namespace {

constexpr const char* kLibraryName = "libmarposs_zento.so";

using InitFn = int (*)(int);
using ReadValueFn = double (*)(int);

class LoadedMarposs : public MarpossLibrary {
  public:
    LoadedMarposs(platform::SharedLibrary library, InitFn init, ReadValueFn read)
        : library_(std::move(library)), init_(init), read_(read) {}

    int Init(int mode) override { return init_(mode); }
    double ReadValue(int channel) override { return read_(channel); }

  private:
    platform::SharedLibrary library_;
    InitFn init_;
    ReadValueFn read_;
};

}  // namespace

std::unique_ptr<MarpossLibrary> LoadMarpossLibrary(const std::string& folder) {
    platform::SharedLibrary lib = platform::SharedLibrary::Load(kLibraryName, folder);
    if (!lib.loaded()) {
        // Only a broken copy is worth a word: no box at all is the usual case.
        if (lib.foundBeside()) {
            platform::Report(std::string(kLibraryName) + " cannot be used: " + lib.error());
        }
        return nullptr;
    }
    const auto init = reinterpret_cast<InitFn>(lib.Symbol("MarpossInit"));
    const auto read = reinterpret_cast<ReadValueFn>(lib.Symbol("MarpossReadValue"));
    if (init == nullptr || read == nullptr) {
        // Calling through a missing entry point would crash the station.
        platform::Report(lib.path() + " has no " +
                         (init == nullptr ? "MarpossInit" : "MarpossReadValue") +
                         ": the Marposs box stays unavailable");
        return nullptr;
    }
    return std::make_unique<LoadedMarposs>(std::move(lib), init, read);
}

}  // namespace karvelo::marposs
