#pragma once
// The Heidenhain IK220 library as the counter-card back-end uses it: the five
// calls of libik220.so, loaded at run time. Tests use fakes.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace karvelo::ik220 {

// Entries of the axis table the library fills; the station reads the first 8.
inline constexpr int kAxisTableEntries = 16;

class CardLibrary {
  public:
    virtual ~CardLibrary() = default;
    // Nonzero: the card was found; table[i] is axis i's identification number.
    virtual int Find(std::uint32_t table[kAxisTableEntries]) = 0;
    virtual int Init(std::uint16_t axis) = 0;
    virtual int WritePar(std::uint16_t axis, std::uint16_t par, std::uint32_t value) = 0;
    // Nonzero: `value` holds the axis position.
    virtual int Read48(std::uint16_t axis, std::uint16_t latch, double* value) = 0;
    virtual int ReadEn(std::uint16_t axis, std::uint32_t* status, double* value,
                       std::uint32_t* alarm) = 0;
};

// Loaded when a slot needs the card; null when there is no usable library.
using CardLoader = std::function<std::unique_ptr<CardLibrary>()>;

// libik220.so from `folder` (empty: the program's folder), else from the
// system's library path.
std::unique_ptr<CardLibrary> LoadCardLibrary(const std::string& folder = {});

}  // namespace karvelo::ik220
