#include "backends/ik220/card_library.h"

namespace karvelo::ik220 {

std::unique_ptr<CardLibrary> LoadCardLibrary(const std::string&) {
    return nullptr;
}

}  // namespace karvelo::ik220
