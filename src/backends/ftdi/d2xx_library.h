#pragma once
// Where the FTDI back-end gets its D2XX interface: FTDI's own libftd2xx.so
// when the user has it (beside the program, or installed on the system's
// library path), else the built-in implementation over libftdi1.

#include <functional>
#include <memory>
#include <string>

#include "backends/ftdi/d2xx.h"

namespace karvelo::ftdi {

// Loaded the first time a slot needs an adapter.
using D2xxLoader = std::function<std::unique_ptr<D2xx>()>;

// libftd2xx.so from `folder` (empty: the program's folder) or the system's
// library path. A library that lacks one of the eleven calls opens no adapter
// and says which call is missing; no library at all gives the built-in one.
std::unique_ptr<D2xx> LoadD2xx(const std::string& folder = {});

// A library file that must be used as it is (tests, benchmarks); null when it
// cannot be loaded.
std::unique_ptr<D2xx> LoadD2xxFile(const std::string& path);

// An interface without adapters: every open fails.
std::unique_ptr<D2xx> NoAdapters();

}  // namespace karvelo::ftdi
