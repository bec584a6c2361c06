#pragma once
// The IBRit bus driver as the bus back-end uses it: the five calls of
// libibr_ddk.so, loaded at run time. Tests use fakes.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace karvelo::ibrit {

// The exported calls of libibr_ddk.so.
using Device_InitFn = std::int16_t (*)(std::int32_t, const char*, std::int32_t, std::int32_t);
using Device_DeInitFn = void (*)();
using Device_SetupFn = std::int16_t (*)(std::int32_t, const char*, std::uintptr_t, char*);
using Device_LatchFn = std::int16_t (*)(std::int32_t);
using Device_CollectFn = std::int16_t (*)(std::int32_t, std::int32_t*, double*);

// Device_Collect's answers the station tells apart.
inline constexpr std::int16_t kCollectValue = 0;
inline constexpr std::int16_t kCollectNothingNew = 190;
inline constexpr std::int16_t kCollectNotLatched = 3;  // nothing new when a latch was sent

class BusDriver {
  public:
    virtual ~BusDriver() = default;
    // Above 0: failure.
    virtual std::int16_t Init(std::int32_t mode, const char* path, std::int32_t a,
                              std::int32_t b) = 0;
    virtual void DeInit() = 0;
    virtual std::int16_t Setup(std::int32_t mode, const char* path, std::uintptr_t parentWindow,
                               char buffer[20]) = 0;
    virtual std::int16_t Latch(std::int32_t bus) = 0;
    // 0: a new value; 190 and 3: no new value; anything else: failure.
    virtual std::int16_t Collect(std::int32_t bus, std::int32_t* channel, double* value) = 0;
};

// Loaded when a slot needs the bus; null when there is no usable library.
using BusLoader = std::function<std::unique_ptr<BusDriver>()>;

// libibr_ddk.so from `folder` (empty: the program's folder), else from the
// system's library path; null when neither loads or a call is missing.
std::unique_ptr<BusDriver> LoadBusDriver(const std::string& folder = {});

}  // namespace karvelo::ibrit
