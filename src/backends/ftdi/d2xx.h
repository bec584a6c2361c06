#pragma once
// The D2XX interface as the FTDI back-end uses it: the eleven calls, each
// answering as FTDI's library does. Two implementations stand behind it:
// FTDI's own libftd2xx.so (or a simulator with its name) loaded at run time,
// and the built-in one over libftdi1 for a stock system. Tests use fakes.

#include <memory>
#include <string>
#include <vector>

#include "backends/ftdi/d2xx_api.h"

namespace karvelo::ftdi {

class D2xx {
  public:
    virtual ~D2xx() = default;

    virtual FT_STATUS Open(int index, FT_HANDLE* handle) = 0;
    virtual FT_STATUS Close(FT_HANDLE handle) = 0;
    // Blocks until `count` bytes came or the read time-out passed.
    virtual FT_STATUS Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* got) = 0;
    virtual FT_STATUS Write(FT_HANDLE handle, const void* bytes, DWORD count, DWORD* written) = 0;
    virtual FT_STATUS SetBaudRate(FT_HANDLE handle, ULONG baud) = 0;
    virtual FT_STATUS SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                             UCHAR parity) = 0;
    virtual FT_STATUS SetDtr(FT_HANDLE handle) = 0;
    virtual FT_STATUS ClrDtr(FT_HANDLE handle) = 0;
    virtual FT_STATUS SetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) = 0;
    // The number of received bytes not read yet.
    virtual FT_STATUS GetQueueStatus(FT_HANDLE handle, DWORD* waiting) = 0;
    // serial: kSerialNumberBytes, description: kDescriptionBytes, both
    // zero-terminated 8-bit strings.
    virtual FT_STATUS GetDeviceInfo(FT_HANDLE handle, ULONG* device, DWORD* id, char* serial,
                                    char* description) = 0;

    // Why adapters could not be opened since the last call, each as a sentence
    // for the operator (an adapter the user may not open, a library without a
    // call the station needs). Emptied by the call.
    virtual std::vector<std::wstring> TakeProblems() { return {}; }
};

}  // namespace karvelo::ftdi
