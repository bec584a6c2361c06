#include "backends/orbit/orbit_library.h"

namespace karvelo::orbit {

std::unique_ptr<OrbitLibrary> LoadOrbitLibrary(const std::string&) {
    return nullptr;
}

}  // namespace karvelo::orbit
