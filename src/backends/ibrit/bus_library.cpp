#include "backends/ibrit/bus_library.h"

namespace karvelo::ibrit {

std::unique_ptr<BusDriver> LoadBusDriver(const std::string&) {
    return nullptr;
}

}  // namespace karvelo::ibrit
