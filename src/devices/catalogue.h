#pragma once
// The device catalogue: every instrument type code (key `typ` of a slot) with
// its display name, transport, serial line profile and the fixed type sets the
// device code dispatches on. The codes and names are part of the configuration
// file format and never change.

#include <cstdint>
#include <string_view>

namespace karvelo::devices {

enum class Transport : std::uint8_t {
    None,         // no instrument: free codes and codes outside the table
    Text,         // code 0, a text slot
    SerialCom,    // a COM port with the type's line profile
    FtdiUsb,      // an FTDI USB adapter selected by serial number
    CounterCard,  // Heidenhain IK220
    Orbit,        // Solartron Orbit network
    Marposs,      // Marposs EasyBox
    IbritBus,     // IBRit measuring bus 1 to 8
    AnalogInput,  // Measurement Computing module
};

// Type sets, as bits of DeviceTypeInfo::sets.
enum TypeSet : std::uint8_t {
    kSerialType = 1 << 0,         // opened as a COM port
    kFtdiType = 1 << 1,           // opened by USB serial number
    kSharedRequest = 1 << 2,      // later slots of the same instrument are read after one request
    kFanOutReader = 1 << 3,       // one reply fills several slots
    kSendKeyResult = 1 << 4,      // the reader can report the instrument's send key
    kStoredResult = 1 << 5,       // the reader can report "stored"
    kRequestOnlyAfterTrigger = 1 << 6,  // read only right after a request, never polled
};

inline constexpr int kFirstDeviceType = 0;
inline constexpr int kLastDeviceType = 57;
inline constexpr int kDeviceTypeCount = kLastDeviceType + 1;
inline constexpr int kNoLineProfile = -1;

struct DeviceTypeInfo {
    std::string_view name;  // display name, exactly as listed and stored in `typ_txt`
    Transport transport;
    int lineProfile;        // serial line profile, kNoLineProfile for non-serial types
    std::uint8_t sets;      // TypeSet bits
};

// The entry of a code; codes outside 0..57 give an entry with no name, no
// transport and no set.
const DeviceTypeInfo& DeviceTypeLookup(int code);

// The display name ("-" for a free code; empty for a code outside the table).
std::string_view DeviceTypeName(int code);
Transport DeviceTransport(int code);
int DeviceLineProfile(int code);
bool InTypeSet(int code, TypeSet set);

inline bool IsSerialType(int code) { return InTypeSet(code, kSerialType); }
inline bool IsFtdiType(int code) { return InTypeSet(code, kFtdiType); }
inline bool IsSharedRequestType(int code) { return InTypeSet(code, kSharedRequest); }
inline bool IsFanOutType(int code) { return InTypeSet(code, kFanOutReader); }
inline bool IsSendKeyResultType(int code) { return InTypeSet(code, kSendKeyResult); }
inline bool IsStoredResultType(int code) { return InTypeSet(code, kStoredResult); }
inline bool IsRequestOnlyAfterTrigger(int code) { return InTypeSet(code, kRequestOnlyAfterTrigger); }

// The status word shown when the slot's device is not open: "com error",
// "usb error" or "pci error" by transport; empty for text slots, free and
// unknown codes.
std::string_view MissingDeviceWord(int code);

// Entries of the `ch` list of the device configuration: 0..50 are the numbers,
// 51 "max", 52 "min", 53 "max-min". Empty for an index outside the list.
inline constexpr int kChannelEntryCount = 54;
std::string_view ChannelEntryName(int index);

// Entries of the `parameter` list (encoder interface of the counter card).
inline constexpr int kParameterEntryCount = 4;
std::string_view ParameterEntryName(int index);

}  // namespace karvelo::devices
