#pragma once
// The Solartron Orbit library as the Orbit back-end uses it: the four calls
// of liborbit_if.so it keeps (two more are only looked up), loaded at run
// time. Tests use fakes.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace karvelo::orbit {

class OrbitLibrary {
  public:
    virtual ~OrbitLibrary() = default;
    // 0: connected; `count` networks.
    virtual std::int32_t ConnectToOrbitNetworks(std::int32_t* count) = 0;
    virtual std::int32_t OrbitRst(std::int32_t network) = 0;
    virtual std::int32_t OrbitSetmode(std::int32_t network, std::int32_t channel,
                                      std::int32_t* code, std::int32_t* value) = 0;
    // 0: `reading` set; 8466, 8467: out of range; other: failure.
    virtual std::int32_t OrbitRead2(std::int32_t network, std::int32_t channel,
                                    std::int32_t* reading) = 0;
    // Why the library must not be called (a file that lacks an entry point);
    // empty when it can be. An unusable library answers every call with a
    // failure.
    virtual std::wstring Problem() const { return {}; }
};

// Loaded at every open with an Orbit slot; null when there is no library.
using OrbitLoader = std::function<std::unique_ptr<OrbitLibrary>()>;

// liborbit_if.so from `folder` (empty: the program's folder), else from the
// system's library path. Null when there is none that loads; a library without
// all six entry points comes back unusable, with its Problem.
std::unique_ptr<OrbitLibrary> LoadOrbitLibrary(const std::string& folder = {});

}  // namespace karvelo::orbit
