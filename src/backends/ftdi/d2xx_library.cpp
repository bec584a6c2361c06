#include "backends/ftdi/d2xx_library.h"

#include <utility>

#include "backends/ftdi/libftdi_d2xx.h"
#include "platform/shared_library.h"
#include "platform/text_encoding.h"

namespace karvelo::ftdi {
namespace {

constexpr const char* kLibraryName = "libftd2xx.so";

// Every call of a library missing: nothing can be opened, and the reason is
// told once.
class NoD2xx : public D2xx {
  public:
    explicit NoD2xx(std::wstring problem = {}) : problem_(std::move(problem)) {}

    FT_STATUS Open(int, FT_HANDLE* handle) override {
        if (handle) *handle = nullptr;
        return FT_DEVICE_NOT_FOUND;
    }
    FT_STATUS Close(FT_HANDLE) override { return FT_INVALID_HANDLE; }
    FT_STATUS Read(FT_HANDLE, void*, DWORD, DWORD* got) override {
        if (got) *got = 0;
        return FT_INVALID_HANDLE;
    }
    FT_STATUS Write(FT_HANDLE, const void*, DWORD, DWORD* written) override {
        if (written) *written = 0;
        return FT_INVALID_HANDLE;
    }
    FT_STATUS SetBaudRate(FT_HANDLE, ULONG) override { return FT_INVALID_HANDLE; }
    FT_STATUS SetDataCharacteristics(FT_HANDLE, UCHAR, UCHAR, UCHAR) override {
        return FT_INVALID_HANDLE;
    }
    FT_STATUS SetDtr(FT_HANDLE) override { return FT_INVALID_HANDLE; }
    FT_STATUS ClrDtr(FT_HANDLE) override { return FT_INVALID_HANDLE; }
    FT_STATUS SetTimeouts(FT_HANDLE, ULONG, ULONG) override { return FT_INVALID_HANDLE; }
    FT_STATUS GetQueueStatus(FT_HANDLE, DWORD* waiting) override {
        if (waiting) *waiting = 0;
        return FT_INVALID_HANDLE;
    }
    FT_STATUS GetDeviceInfo(FT_HANDLE, ULONG*, DWORD*, char*, char*) override {
        return FT_INVALID_HANDLE;
    }
    std::vector<std::wstring> TakeProblems() override {
        if (problem_.empty()) return {};
        return {std::exchange(problem_, std::wstring())};
    }

  private:
    std::wstring problem_;
};

// The calls of a loaded libftd2xx.so.
class LibraryD2xx : public D2xx {
  public:
    struct Calls {
        FT_OpenFn open;
        FT_CloseFn close;
        FT_ReadFn read;
        FT_WriteFn write;
        FT_SetBaudRateFn setBaudRate;
        FT_SetDataCharacteristicsFn setDataCharacteristics;
        FT_SetDtrFn setDtr;
        FT_ClrDtrFn clrDtr;
        FT_SetTimeoutsFn setTimeouts;
        FT_GetQueueStatusFn getQueueStatus;
        FT_GetDeviceInfoFn getDeviceInfo;
    };

    LibraryD2xx(platform::SharedLibrary library, const Calls& calls)
        : library_(std::move(library)), c_(calls) {}

    FT_STATUS Open(int index, FT_HANDLE* handle) override { return c_.open(index, handle); }
    FT_STATUS Close(FT_HANDLE h) override { return c_.close(h); }
    FT_STATUS Read(FT_HANDLE h, void* buffer, DWORD count, DWORD* got) override {
        return c_.read(h, buffer, count, got);
    }
    FT_STATUS Write(FT_HANDLE h, const void* bytes, DWORD count, DWORD* written) override {
        // The library's prototype takes a non-const buffer but never writes to it.
        return c_.write(h, const_cast<void*>(bytes), count, written);
    }
    FT_STATUS SetBaudRate(FT_HANDLE h, ULONG baud) override { return c_.setBaudRate(h, baud); }
    FT_STATUS SetDataCharacteristics(FT_HANDLE h, UCHAR bits, UCHAR stop, UCHAR parity) override {
        return c_.setDataCharacteristics(h, bits, stop, parity);
    }
    FT_STATUS SetDtr(FT_HANDLE h) override { return c_.setDtr(h); }
    FT_STATUS ClrDtr(FT_HANDLE h) override { return c_.clrDtr(h); }
    FT_STATUS SetTimeouts(FT_HANDLE h, ULONG readMs, ULONG writeMs) override {
        return c_.setTimeouts(h, readMs, writeMs);
    }
    FT_STATUS GetQueueStatus(FT_HANDLE h, DWORD* waiting) override {
        return c_.getQueueStatus(h, waiting);
    }
    FT_STATUS GetDeviceInfo(FT_HANDLE h, ULONG* device, DWORD* id, char* serial,
                            char* description) override {
        return c_.getDeviceInfo(h, device, id, serial, description, nullptr);
    }

  private:
    platform::SharedLibrary library_;
    Calls c_;
};

std::unique_ptr<D2xx> FromLibrary(platform::SharedLibrary lib) {
    LibraryD2xx::Calls c{};
    std::string missing;
    lib.Resolve("FT_Open", c.open, &missing);
    lib.Resolve("FT_Close", c.close, &missing);
    lib.Resolve("FT_Read", c.read, &missing);
    lib.Resolve("FT_Write", c.write, &missing);
    lib.Resolve("FT_SetBaudRate", c.setBaudRate, &missing);
    lib.Resolve("FT_SetDataCharacteristics", c.setDataCharacteristics, &missing);
    lib.Resolve("FT_SetDtr", c.setDtr, &missing);
    lib.Resolve("FT_ClrDtr", c.clrDtr, &missing);
    lib.Resolve("FT_SetTimeouts", c.setTimeouts, &missing);
    lib.Resolve("FT_GetQueueStatus", c.getQueueStatus, &missing);
    lib.Resolve("FT_GetDeviceInfo", c.getDeviceInfo, &missing);
    if (!missing.empty()) {
        return std::make_unique<NoD2xx>(platform::Utf8ToWide(lib.path()) + L" has no " +
                                        platform::Utf8ToWide(missing) +
                                        L": no USB adapter can be opened through it.");
    }
    return std::make_unique<LibraryD2xx>(std::move(lib), c);
}

}  // namespace

std::unique_ptr<D2xx> LoadD2xx(const std::string& folder) {
    platform::SharedLibrary lib = platform::SharedLibrary::Load(kLibraryName, folder);
    if (lib.loaded()) return FromLibrary(std::move(lib));
    // A copy the user put beside the program but that cannot be used (wrong
    // architecture, a missing dependency): say so rather than quietly using
    // another implementation.
    if (lib.foundBeside()) return std::make_unique<NoD2xx>(platform::Utf8ToWide(lib.error()));
    return MakeLibFtdiD2xx();
}

std::unique_ptr<D2xx> LoadD2xxFile(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return nullptr;
    platform::SharedLibrary lib =
        platform::SharedLibrary::Load(path.substr(slash + 1), path.substr(0, slash));
    if (!lib.loaded() || lib.path() != path) return nullptr;
    return FromLibrary(std::move(lib));
}

std::unique_ptr<D2xx> NoAdapters() {
    return std::make_unique<NoD2xx>();
}

}  // namespace karvelo::ftdi
