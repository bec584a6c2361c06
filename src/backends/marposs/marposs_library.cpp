#include "backends/marposs/marposs_library.h"

namespace karvelo::marposs {

std::unique_ptr<MarpossLibrary> LoadMarpossLibrary(const std::string&) {
    return nullptr;
}

}  // namespace karvelo::marposs
