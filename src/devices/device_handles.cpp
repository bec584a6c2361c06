#include "devices/device_handles.h"

namespace karvelo::devices {

DeviceHandles g_devices;

}  // namespace karvelo::devices
