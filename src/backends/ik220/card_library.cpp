#include "backends/ik220/card_library.h"

#include <utility>

#include "backends/ik220/ik220_api.h"
#include "platform/shared_library.h"

namespace karvelo::ik220 {
namespace {

constexpr const char* kLibraryName = "libik220.so";

// The calls of a loaded libik220.so.
class LoadedCardLibrary : public CardLibrary {
  public:
    struct Calls {
        IK220FindFn find;
        IK220InitFn init;
        IK220WriteParFn writePar;
        IK220Read48Fn read48;
        IK220ReadEnFn readEn;
    };

    LoadedCardLibrary(platform::SharedLibrary library, const Calls& calls)
        : library_(std::move(library)), c_(calls) {}

    int Find(std::uint32_t table[kAxisTableEntries]) override { return c_.find(table); }
    int Init(std::uint16_t axis) override { return c_.init(axis); }
    int WritePar(std::uint16_t axis, std::uint16_t par, std::uint32_t value) override {
        return c_.writePar(axis, par, value);
    }
    int Read48(std::uint16_t axis, std::uint16_t latch, double* value) override {
        return c_.read48(axis, latch, value);
    }
    int ReadEn(std::uint16_t axis, std::uint32_t* status, double* value,
               std::uint32_t* alarm) override {
        return c_.readEn(axis, status, value, alarm);
    }

  private:
    platform::SharedLibrary library_;
    Calls c_;
};

}  // namespace

std::unique_ptr<CardLibrary> LoadCardLibrary(const std::string& folder) {
    platform::SharedLibrary lib = platform::SharedLibrary::Load(kLibraryName, folder);
    if (!lib.loaded()) return nullptr;
    LoadedCardLibrary::Calls c{};
    // A library without one of the calls is no card library: it is not used
    // at all rather than called through a null address.
    bool complete = lib.Resolve("IK220Find", c.find);
    complete = lib.Resolve("IK220Init", c.init) && complete;
    complete = lib.Resolve("IK220WritePar", c.writePar) && complete;
    complete = lib.Resolve("IK220Read48", c.read48) && complete;
    complete = lib.Resolve("IK220ReadEn", c.readEn) && complete;
    if (!complete) return nullptr;
    return std::make_unique<LoadedCardLibrary>(std::move(lib), c);
}

}  // namespace karvelo::ik220
