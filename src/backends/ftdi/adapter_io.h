#pragma once
// Byte-level steps on an adapter that the open step, the requests and the
// readers share.

#include <string_view>

#include "backends/ftdi/d2xx.h"

namespace karvelo::ftdi {

// Reads exactly the bytes waiting and throws them away; false when asking for
// them or reading them failed.
bool DiscardInput(D2xx& api, FT_HANDLE handle);

// One write call with the bytes; the count the adapter took (0 on failure).
DWORD WriteBytes(D2xx& api, FT_HANDLE handle, std::string_view bytes);

// The bytes waiting to be read; 0 when the adapter cannot say.
DWORD WaitingBytes(D2xx& api, FT_HANDLE handle);

enum class ByteRead { Got, TimedOut, Failed };

// One byte; TimedOut when nothing came within the adapter's read time-out.
ByteRead ReadByte(D2xx& api, FT_HANDLE handle, char& byte);

}  // namespace karvelo::ftdi
