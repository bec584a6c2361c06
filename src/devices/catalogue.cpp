#include "devices/catalogue.h"

#include <array>

namespace karvelo::devices {
namespace {

using T = Transport;
constexpr std::uint8_t kSer = kSerialType;
constexpr std::uint8_t kUsb = kFtdiType;
constexpr std::uint8_t kPuFamily = kFtdiType | kSharedRequest | kSendKeyResult;
constexpr int kNone = kNoLineProfile;

// Indexed by code. The serial line profile of a serial type is its own code,
// except Sylvac simplex, which uses profile 0.
constexpr std::array<DeviceTypeInfo, kDeviceTypeCount> kCatalogue = {{
    /*  0 */ {"TEXT input", T::Text, kNone, 0},
    /*  1 */ {"Sylvac duplex", T::SerialCom, 1, kSer},
    /*  2 */ {"Sylvac simplex", T::SerialCom, 0, kSer},
    /*  3 */ {"IBRit-md1", T::SerialCom, 3, kSer | kSharedRequest | kFanOutReader},
    /*  4 */ {"Heidenhain ND", T::SerialCom, 4, kSer},
    /*  5 */ {"Starrett 2900", T::SerialCom, 5, kSer},
    /*  6 */ {"TESA TT10", T::SerialCom, 6, kSer},
    /*  7 */ {"-", T::None, kNone, 0},
    /*  8 */ {"TESA GTLXX USB", T::SerialCom, 8, kSer},
    /*  9 */ {"ALMEMO", T::SerialCom, 9, kSer | kFanOutReader | kRequestOnlyAfterTrigger},
    /* 10 */ {"MAHR 16EXu", T::FtdiUsb, kNone, kUsb},
    /* 11 */ {"PU 11", T::FtdiUsb, kNone, kPuFamily},
    /* 12 */ {"PU 23", T::FtdiUsb, kNone, kPuFamily},
    /* 13 */ {"PU 25", T::FtdiUsb, kNone, kPuFamily},
    /* 14 */ {"PU 60", T::FtdiUsb, kNone, kPuFamily},
    /* 15 */ {"PU 300", T::FtdiUsb, kNone, kPuFamily},
    /* 16 */ {"PU xxx", T::FtdiUsb, kNone, kPuFamily},
    /* 17 */ {"MFP Control", T::FtdiUsb, kNone, kUsb | kSendKeyResult},
    /* 18 */ {"PU 36", T::FtdiUsb, kNone, kPuFamily},
    /* 19 */ {"PU 26", T::SerialCom, 19, kSer | kSharedRequest},
    /* 20 */ {"IK220", T::CounterCard, kNone, 0},
    /* 21 */ {"Solartron Orbit3", T::Orbit, kNone, 0},
    /* 22 */ {"Marpos EasyBox", T::Marposs, kNone, 0},
    /* 23 */ {"AE1IH", T::SerialCom, 23, kSer},
    /* 24 */ {"Millimar 1245", T::SerialCom, 24, kSer},
    /* 25 */ {"PU41/42", T::SerialCom, 25, kSer | kSharedRequest | kFanOutReader | kSendKeyResult},
    /* 26 */ {"SD1", T::SerialCom, 26, kSer | kFanOutReader},
    /* 27 */ {"Keyence GT2-UB1", T::SerialCom, 27, kSer},
    /* 28 */ {"EMS8186", T::SerialCom, 28, kSer},
    /* 29 */ {"-", T::None, kNone, 0},
    /* 30 */ {"IBRIT-BUS.1", T::IbritBus, kNone, kStoredResult},
    /* 31 */ {"IBRIT-BUS.2", T::IbritBus, kNone, kStoredResult},
    /* 32 */ {"IBRIT-BUS.3", T::IbritBus, kNone, kStoredResult},
    /* 33 */ {"IBRIT-BUS.4", T::IbritBus, kNone, kStoredResult},
    /* 34 */ {"IBRIT-BUS.5", T::IbritBus, kNone, kStoredResult},
    /* 35 */ {"IBRIT-BUS.6", T::IbritBus, kNone, kStoredResult},
    /* 36 */ {"IBRIT-BUS.7", T::IbritBus, kNone, kStoredResult},
    /* 37 */ {"IBRIT-BUS.8", T::IbritBus, kNone, kStoredResult},
    /* 38 */ {"-", T::None, kNone, 0},
    /* 39 */ {"-", T::None, kNone, 0},
    /* 40 */ {"RedLab16xx 10V", T::AnalogInput, kNone, 0},
    /* 41 */ {"RedLab16xx  5V", T::AnalogInput, kNone, 0},
    /* 42 */ {"RedLab16xx  2V", T::AnalogInput, kNone, 0},
    /* 43 */ {"RedLab16xx  1V", T::AnalogInput, kNone, 0},
    /* 44 */ {"RedLab12xx 10V", T::AnalogInput, kNone, 0},
    /* 45 */ {"RedLab12xx  5V", T::AnalogInput, kNone, 0},
    /* 46 */ {"RedLab12xx  2V", T::AnalogInput, kNone, 0},
    /* 47 */ {"RedLab12xx  1V", T::AnalogInput, kNone, 0},
    /* 48 */ {"-", T::None, kNone, 0},
    /* 49 */ {"-", T::None, kNone, 0},
    /* 50 */ {"OPTRIS IR Temp.", T::SerialCom, 50, kSer},
    /* 51 */ {"UMP-K 1208", T::AnalogInput, kNone, 0},
    /* 52 */ {"UMP-K 1208T", T::AnalogInput, kNone, 0},
    /* 53 */ {"UMP-K 1608", T::AnalogInput, kNone, 0},
    /* 54 */ {"UMP-K 1608T", T::AnalogInput, kNone, 0},
    /* 55 */ {"-", T::None, kNone, 0},
    /* 56 */ {"-", T::None, kNone, 0},
    /* 57 */ {"Z-MIKE", T::SerialCom, 57, kSer},
}};

constexpr DeviceTypeInfo kUnknown = {"", T::None, kNone, 0};

// The status word of a slot whose device is not open, by transport.
constexpr std::string_view MissingWordOf(Transport t) {
    switch (t) {
        case T::SerialCom: return "com error";
        case T::FtdiUsb:
        case T::IbritBus:
        case T::AnalogInput: return "usb error";
        case T::CounterCard:
        case T::Orbit:
        case T::Marposs: return "pci error";
        case T::None:
        case T::Text: return "";
    }
    return "";
}

constexpr std::array<std::string_view, 4> kParameterEntries = {"1Vss", "11\u00b5A", "EnDat", "SSI"};
constexpr std::array<std::string_view, 3> kChannelWords = {"max", "min", "max-min"};
constexpr std::array<std::string_view, 51> kChannelNumbers = {
    "0",  "1",  "2",  "3",  "4",  "5",  "6",  "7",  "8",  "9",  "10", "11", "12",
    "13", "14", "15", "16", "17", "18", "19", "20", "21", "22", "23", "24", "25",
    "26", "27", "28", "29", "30", "31", "32", "33", "34", "35", "36", "37", "38",
    "39", "40", "41", "42", "43", "44", "45", "46", "47", "48", "49", "50"};

}  // namespace

const DeviceTypeInfo& DeviceTypeLookup(int code) {
    if (code < kFirstDeviceType || code > kLastDeviceType) return kUnknown;
    return kCatalogue[static_cast<std::size_t>(code)];
}

std::string_view DeviceTypeName(int code) { return DeviceTypeLookup(code).name; }
Transport DeviceTransport(int code) { return DeviceTypeLookup(code).transport; }
int DeviceLineProfile(int code) { return DeviceTypeLookup(code).lineProfile; }
bool InTypeSet(int code, TypeSet set) { return (DeviceTypeLookup(code).sets & set) != 0; }
std::string_view MissingDeviceWord(int code) { return MissingWordOf(DeviceTransport(code)); }

std::string_view ChannelEntryName(int index) {
    if (index < 0 || index >= kChannelEntryCount) return {};
    if (index < 51) return kChannelNumbers[static_cast<std::size_t>(index)];
    return kChannelWords[static_cast<std::size_t>(index - 51)];
}

std::string_view ParameterEntryName(int index) {
    if (index < 0 || index >= kParameterEntryCount) return {};
    return kParameterEntries[static_cast<std::size_t>(index)];
}

}  // namespace karvelo::devices
