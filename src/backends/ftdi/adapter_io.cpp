#include "backends/ftdi/adapter_io.h"

#include <algorithm>
#include <array>

namespace karvelo::ftdi {

bool DiscardInput(D2xx& api, FT_HANDLE handle) {
    DWORD waiting = 0;
    if (api.GetQueueStatus(handle, &waiting) != FT_OK) return false;
    std::array<char, 256> scratch;
    while (waiting > 0) {
        const DWORD chunk = std::min<DWORD>(waiting, scratch.size());
        DWORD got = 0;
        if (api.Read(handle, scratch.data(), chunk, &got) != FT_OK) return false;
        // Fewer than were waiting: the rest was taken in the meantime (never
        // by us); nothing more to throw away.
        if (got < chunk) break;
        waiting -= got;
    }
    return true;
}

DWORD WriteBytes(D2xx& api, FT_HANDLE handle, std::string_view bytes) {
    DWORD written = 0;
    if (api.Write(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written) != FT_OK)
        return 0;
    return std::min<DWORD>(written, static_cast<DWORD>(bytes.size()));
}

DWORD WaitingBytes(D2xx& api, FT_HANDLE handle) {
    DWORD waiting = 0;
    if (api.GetQueueStatus(handle, &waiting) != FT_OK) return 0;
    return waiting;
}

ByteRead ReadByte(D2xx& api, FT_HANDLE handle, char& byte) {
    DWORD got = 0;
    if (api.Read(handle, &byte, 1, &got) != FT_OK) return ByteRead::Failed;
    return got == 1 ? ByteRead::Got : ByteRead::TimedOut;
}

}  // namespace karvelo::ftdi
