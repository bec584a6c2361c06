#pragma once
// The device-type table: one row per instrument type code 0..57, the single
// source of what the station does with a type (see device_type.h). The codes
// and names are part of the configuration file format and never change.
//
// A new instrument is one row here (plus, for a serial gauge, one row in the
// simulator's protocol table); a new transport is one back-end under
// src/backends/ registered in backends/registry.cpp.

#include <span>
#include <string_view>

#include "devices/device_type.h"

namespace karvelo::devices {

inline constexpr int kFirstDeviceType = 0;
inline constexpr int kLastDeviceType = 57;
inline constexpr int kDeviceTypeCount = kLastDeviceType + 1;

// The row of a code. A code outside 0..57 gives a row with no name, no
// transport and no capability (whose settle time is that of codes beyond the
// table for codes above it).
const DeviceType& DeviceTypeOf(int code);

// Every row, indexed by code.
std::span<const DeviceType> DeviceTypes();

// A text slot: its record text comes from the keyboard or a list file.
inline bool IsTextType(int code) {
    return DeviceTypeOf(code).transport == Transport::Text;
}

// The slot holds an instrument code (free and unknown codes included): neither
// a text slot nor a negative "none" from a hand-edited file.
inline bool IsInstrumentCode(int code) {
    return code > kFirstDeviceType;
}

// The display name ("-" for a free code; empty for a code outside the table).
inline std::string_view DeviceTypeName(int code) {
    return DeviceTypeOf(code).name;
}

// The line settings the device dialog's COM probe opens ports with: those of
// the first serial gauge of the table.
const serial::LineProfile& ComProbeLineProfile();

// Entries of the `ch` list of the device configuration: 0..50 are the numbers,
// 51 "max", 52 "min", 53 "max-min". Empty for an index outside the list.
inline constexpr int kChannelEntryCount = 54;
std::string_view ChannelEntryName(int index);

// Entries of the `parameter` list (encoder interface of the counter card).
inline constexpr int kParameterEntryCount = 4;
std::string_view ParameterEntryName(int index);

}  // namespace karvelo::devices
