#include "backends/analog/analog_library.h"

#include <utility>

#include "backends/analog/cbw_api.h"
#include "platform/shared_library.h"

namespace karvelo::analog {
namespace {

constexpr const char* kLibraryName = "libcbw.so";

class LoadedAnalogLibrary : public AnalogLibrary {
  public:
    LoadedAnalogLibrary(platform::SharedLibrary library, cbAInFn aIn)
        : library_(std::move(library)), aIn_(aIn) {}

    int AIn(int board, int channel, int range, std::uint16_t* value) override {
        return aIn_(board, channel, range, value);
    }

  private:
    platform::SharedLibrary library_;
    cbAInFn aIn_;
};

}  // namespace

std::unique_ptr<AnalogLibrary> LoadAnalogLibrary(const std::string& folder) {
    platform::SharedLibrary lib = platform::SharedLibrary::Load(kLibraryName, folder);
    if (!lib.loaded()) return nullptr;
    const auto aIn = reinterpret_cast<cbAInFn>(lib.Symbol("cbAIn"));
    // A library without the call is no module library: never called through
    // a null address.
    if (aIn == nullptr) return nullptr;
    return std::make_unique<LoadedAnalogLibrary>(std::move(lib), aIn);
}

}  // namespace karvelo::analog
