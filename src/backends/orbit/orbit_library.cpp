#include "backends/orbit/orbit_library.h"

#include <array>
#include <cstdio>
#include <utility>

#include "platform/report.h"
#include "platform/shared_library.h"
#include "platform/text_encoding.h"

namespace karvelo::orbit {
namespace {

constexpr const char* kLibraryName = "liborbit_if.so";

using ConnectFn = std::int32_t (*)(std::int32_t*);
using RstFn = std::int32_t (*)(std::int32_t);
using SetmodeFn = std::int32_t (*)(std::int32_t, std::int32_t, std::int32_t*, std::int32_t*);
using Read2Fn = std::int32_t (*)(std::int32_t, std::int32_t, std::int32_t*);

// Any status but 0 and the two out-of-range codes: a failed call.
constexpr std::int32_t kUnusable = -1;

// A library that lacks an entry point: nothing is called through it.
class UnusableOrbit : public OrbitLibrary {
  public:
    explicit UnusableOrbit(std::wstring problem) : problem_(std::move(problem)) {}

    std::int32_t ConnectToOrbitNetworks(std::int32_t* count) override {
        if (count) *count = 0;
        return kUnusable;
    }
    std::int32_t OrbitRst(std::int32_t) override { return kUnusable; }
    std::int32_t OrbitSetmode(std::int32_t, std::int32_t, std::int32_t*, std::int32_t*) override {
        return kUnusable;
    }
    std::int32_t OrbitRead2(std::int32_t, std::int32_t, std::int32_t*) override {
        return kUnusable;
    }
    std::wstring Problem() const override { return problem_; }

  private:
    std::wstring problem_;
};

class LoadedOrbit : public OrbitLibrary {
  public:
    struct Calls {
        ConnectFn connect;
        RstFn rst;
        SetmodeFn setmode;
        Read2Fn read2;
    };

    LoadedOrbit(platform::SharedLibrary library, const Calls& calls)
        : library_(std::move(library)), c_(calls) {}

    std::int32_t ConnectToOrbitNetworks(std::int32_t* count) override { return c_.connect(count); }
    std::int32_t OrbitRst(std::int32_t network) override { return c_.rst(network); }
    std::int32_t OrbitSetmode(std::int32_t network, std::int32_t channel, std::int32_t* code,
                              std::int32_t* value) override {
        return c_.setmode(network, channel, code, value);
    }
    std::int32_t OrbitRead2(std::int32_t network, std::int32_t channel,
                            std::int32_t* reading) override {
        return c_.read2(network, channel, reading);
    }

  private:
    platform::SharedLibrary library_;
    Calls c_;
};

}  // namespace

std::unique_ptr<OrbitLibrary> LoadOrbitLibrary(const std::string& folder) {
    platform::SharedLibrary lib = platform::SharedLibrary::Load(kLibraryName, folder);
    if (!lib.loaded()) {
        if (lib.foundBeside()) {
            platform::Report(std::string(kLibraryName) + " cannot be used: " + lib.error());
        }
        return nullptr;
    }
    // Looked up in the library's own order. The station never calls the name
    // query or the disconnect, so only the other four must be there.
    struct EntryPoint {
        const char* name;
        bool kept;
    };
    constexpr std::array<EntryPoint, 6> kEntryPoints = {{{"GetOrbitNetworkNameAndType", false},
                                                         {"ConnectToOrbitNetworks", true},
                                                         {"DisconnectFromOrbitNetworks", false},
                                                         {"OrbitRst", true},
                                                         {"OrbitSetmode", true},
                                                         {"OrbitRead2", true}}};
    std::array<void*, 6> found{};
    for (std::size_t i = 0; i < kEntryPoints.size(); ++i) {
        found[i] = lib.Symbol(kEntryPoints[i].name);
        if (found[i] == nullptr && kEntryPoints[i].kept) {
            return std::make_unique<UnusableOrbit>(platform::Utf8ToWide(lib.path()) +
                                                   L" has no entry point " +
                                                   platform::Utf8ToWide(kEntryPoints[i].name));
        }
    }
    LoadedOrbit::Calls calls{};
    calls.connect = reinterpret_cast<ConnectFn>(found[1]);
    calls.rst = reinterpret_cast<RstFn>(found[3]);
    calls.setmode = reinterpret_cast<SetmodeFn>(found[4]);
    calls.read2 = reinterpret_cast<Read2Fn>(found[5]);
    return std::make_unique<LoadedOrbit>(std::move(lib), calls);
}

}  // namespace karvelo::orbit
