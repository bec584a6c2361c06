#include "backends/ibrit/bus_library.h"

#include <utility>

#include "platform/shared_library.h"

namespace karvelo::ibrit {
namespace {

constexpr const char* kLibraryName = "libibr_ddk.so";

// The calls of a loaded libibr_ddk.so.
class LibraryBusDriver : public BusDriver {
  public:
    struct Calls {
        Device_InitFn init;
        Device_DeInitFn deInit;
        Device_SetupFn setup;
        Device_LatchFn latch;
        Device_CollectFn collect;
    };

    LibraryBusDriver(platform::SharedLibrary library, const Calls& calls)
        : library_(std::move(library)), c_(calls) {}

    std::int16_t Init(std::int32_t mode, const char* path, std::int32_t a,
                      std::int32_t b) override {
        return c_.init(mode, path, a, b);
    }
    void DeInit() override { c_.deInit(); }
    std::int16_t Setup(std::int32_t mode, const char* path, std::uintptr_t parentWindow,
                       char buffer[20]) override {
        return c_.setup(mode, path, parentWindow, buffer);
    }
    std::int16_t Latch(std::int32_t bus) override { return c_.latch(bus); }
    std::int16_t Collect(std::int32_t bus, std::int32_t* channel, double* value) override {
        return c_.collect(bus, channel, value);
    }

  private:
    platform::SharedLibrary library_;
    Calls c_;
};

}  // namespace

std::unique_ptr<BusDriver> LoadBusDriver(const std::string& folder) {
    platform::SharedLibrary lib = platform::SharedLibrary::Load(kLibraryName, folder);
    if (!lib.loaded()) return nullptr;
    LibraryBusDriver::Calls c{};
    // A library without one of the calls is no driver at all.
    const bool complete =
        lib.Resolve("Device_Init", c.init) && lib.Resolve("Device_DeInit", c.deInit) &&
        lib.Resolve("Device_Setup", c.setup) && lib.Resolve("Device_Latch", c.latch) &&
        lib.Resolve("Device_Collect", c.collect);
    if (!complete) return nullptr;
    return std::make_unique<LibraryBusDriver>(std::move(lib), c);
}

}  // namespace karvelo::ibrit
