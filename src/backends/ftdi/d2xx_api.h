#pragma once
// The D2XX calls the station makes, with the types FTDI documents for its
// Linux library (libftd2xx.so): a handle is a pointer, a status and a DWORD are
// 32-bit unsigned, a UCHAR is 8 bits. This header depends on nothing else, so
// that the adapter simulator library can be built against the same prototypes.

#include <cstdint>

namespace karvelo::ftdi {

using FT_HANDLE = void*;
using FT_STATUS = std::uint32_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using UCHAR = std::uint8_t;

// Status values (FTDI's numbering); the station tests only for FT_OK.
inline constexpr FT_STATUS FT_OK = 0;
inline constexpr FT_STATUS FT_INVALID_HANDLE = 1;
inline constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
inline constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
inline constexpr FT_STATUS FT_IO_ERROR = 4;
inline constexpr FT_STATUS FT_INVALID_PARAMETER = 6;
inline constexpr FT_STATUS FT_OTHER_ERROR = 18;

// Data characteristics.
inline constexpr UCHAR FT_BITS_8 = 8;
inline constexpr UCHAR FT_BITS_7 = 7;
inline constexpr UCHAR FT_STOP_BITS_1 = 0;
inline constexpr UCHAR FT_STOP_BITS_2 = 2;
inline constexpr UCHAR FT_PARITY_NONE = 0;
inline constexpr UCHAR FT_PARITY_ODD = 1;
inline constexpr UCHAR FT_PARITY_EVEN = 2;

// Sizes of the two strings FT_GetDeviceInfo fills, terminator included.
inline constexpr int kSerialNumberBytes = 16;
inline constexpr int kDescriptionBytes = 64;

// The C signatures, as the library exports them.
extern "C" {
using FT_OpenFn = FT_STATUS (*)(int deviceNumber, FT_HANDLE* handle);
using FT_CloseFn = FT_STATUS (*)(FT_HANDLE handle);
using FT_ReadFn = FT_STATUS (*)(FT_HANDLE handle, void* buffer, DWORD bytesToRead,
                                DWORD* bytesReturned);
using FT_WriteFn = FT_STATUS (*)(FT_HANDLE handle, void* buffer, DWORD bytesToWrite,
                                 DWORD* bytesWritten);
using FT_SetBaudRateFn = FT_STATUS (*)(FT_HANDLE handle, ULONG baudRate);
using FT_SetDataCharacteristicsFn = FT_STATUS (*)(FT_HANDLE handle, UCHAR wordLength,
                                                  UCHAR stopBits, UCHAR parity);
using FT_SetDtrFn = FT_STATUS (*)(FT_HANDLE handle);
using FT_ClrDtrFn = FT_STATUS (*)(FT_HANDLE handle);
using FT_SetTimeoutsFn = FT_STATUS (*)(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout);
using FT_GetQueueStatusFn = FT_STATUS (*)(FT_HANDLE handle, DWORD* rxBytes);
using FT_GetDeviceInfoFn = FT_STATUS (*)(FT_HANDLE handle, ULONG* device, DWORD* id,
                                         char* serialNumber, char* description, void* dummy);
}

}  // namespace karvelo::ftdi
