#include "backends/analog/analog_library.h"

namespace karvelo::analog {

std::unique_ptr<AnalogLibrary> LoadAnalogLibrary(const std::string&) {
    return nullptr;
}

}  // namespace karvelo::analog
