#include "backends/ftdi/libftdi_d2xx.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "backends/ftdi/adapter_order.h"

namespace karvelo::ftdi {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kFtdiVendor = 0x0403;
// The chip sends a status packet every latency period even when idle, so a
// bulk read returns within this time; 2 ms keeps a poll of the queue short.
constexpr unsigned char kLatencyMs = 2;
// A bulk read that is not answered within this time means a stalled bus, not an
// idle line.
constexpr int kUsbReadTimeoutMs = 250;
// FTDI's write time-out 0 means "for ever"; a dead adapter must not hang the
// acquisition thread, so 0 gets this bound.
constexpr ULONG kDefaultWriteMs = 5000;
// Chunks of one bulk read; GetQueueStatus reads at most this many rounds.
constexpr int kChunkBytes = 4096;
constexpr int kDrainRounds = 4;
constexpr int kMaxPortDepth = 7;  // USB 3 allows at most 7 tiers below the root
constexpr std::size_t kStringBytes = 256;

// One FTDI chip of the last enumeration.
struct Chip {
    libusb_device* dev = nullptr;  // referenced
    UsbPlace place;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::uint16_t release = 0;  // bcdDevice: tells the chip type
    std::uint8_t serialIndex = 0;
    std::uint8_t productIndex = 0;
};

// One opened index. The handle given out is this object's address.
struct Adapter {
    std::mutex mutex;  // one call at a time on the adapter
    bool closed = false;
    Chip chip;                            // dev referenced by this adapter
    int interface = 0;                    // 0 = A
    libusb_device_handle* usb = nullptr;  // descriptors only: claims nothing
    ftdi_context* line = nullptr;         // set once the adapter is taken
    unsigned char latencyBefore = 0;      // the serial driver's, put back at Close
    ULONG readMs = 0;
    ULONG writeMs = 0;
    std::deque<unsigned char> received;  // read from the chip, not yet given out
};

// FTDI's FT_DEVICE numbering, from bcdDevice as FTDI's library and libftdi
// tell the chips apart.
ULONG DeviceType(const Chip& chip) {
    switch (chip.release) {
        case 0x0200:
            return chip.serialIndex == 0 ? 0 : 1;  // BM without serial, else AM
        case 0x0400:
            return 0;  // BM
        case 0x0500:
            return 4;  // FT2232C
        case 0x0600:
            return 5;  // FT232R
        case 0x0700:
            return 6;  // FT2232H
        case 0x0800:
            return 7;  // FT4232H
        case 0x0900:
            return 8;  // FT232H
        case 0x1000:
            return 9;  // FT-X series
        default:
            return 3;  // unknown
    }
}

int InterfaceCount(libusb_device* dev) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(dev, &config) != 0 &&
        libusb_get_config_descriptor(dev, 0, &config) != 0) {
        return 1;
    }
    const int count = config->bNumInterfaces;
    libusb_free_config_descriptor(config);
    return count;
}

// A string descriptor as 8-bit text; index 0 means the chip has none.
bool ReadString(libusb_device_handle* usb, std::uint8_t index, std::string& out) {
    out.clear();
    if (index == 0) return true;
    unsigned char text[kStringBytes] = {};
    const int n = libusb_get_string_descriptor_ascii(usb, index, text, sizeof text);
    if (n < 0) return false;
    out.assign(reinterpret_cast<const char*>(text), static_cast<std::size_t>(n));
    return true;
}

void CopyOut(const std::string& text, char* out) {
    if (out == nullptr) return;
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
}

std::wstring InterfaceName(const Adapter& a) {
    std::wstring name = AdapterName(a.chip.vendor, a.chip.product, a.chip.place);
    if (a.chip.place.interfaces > 1) {
        name += L" interface ";
        name += static_cast<wchar_t>(L'A' + a.interface);
    }
    return name;
}

std::wstring AccessProblem(const std::wstring& name) {
    return name +
           L" cannot be opened: permission denied. Allow your user to use it, for example with "
           L"a udev rule: SUBSYSTEM==\"usb\", ATTR{idVendor}==\"0403\", MODE=\"0660\", "
           L"GROUP=\"plugdev\", and add the user to group plugdev; then plug the adapter in "
           L"again.";
}

std::wstring BusyProblem(const std::wstring& name) {
    return name +
           L" is in use by another program. Close the program that holds the adapter, then "
           L"open the devices again.";
}

class LibFtdiD2xx final : public D2xx {
  public:
    LibFtdiD2xx() = default;
    LibFtdiD2xx(const LibFtdiD2xx&) = delete;
    LibFtdiD2xx& operator=(const LibFtdiD2xx&) = delete;

    ~LibFtdiD2xx() override {
        for (auto& a : open_) {
            std::lock_guard<std::mutex> hold(a->mutex);
            Release(*a);
        }
        open_.clear();
        ForgetChips();
        if (usb_ != nullptr) libusb_exit(usb_);
    }

    FT_STATUS Open(int index, FT_HANDLE* handle) override {
        if (handle == nullptr) return FT_INVALID_PARAMETER;
        *handle = nullptr;
        std::lock_guard<std::mutex> hold(mutex_);
        if (!UsbReady() || index < 0) return FT_DEVICE_NOT_FOUND;
        const auto wanted = static_cast<std::size_t>(index);
        // The station lists adapters from index 0 up; a fresh list there, and
        // whenever an index is beyond the list (an adapter just plugged in).
        if (index == 0 || wanted >= order_.size()) Enumerate();
        if (wanted >= order_.size()) return FT_DEVICE_NOT_FOUND;

        const AdapterIndex at = order_[wanted];
        const Chip& chip = chips_[at.device];
        for (const auto& a : open_) {
            if (a->chip.place.bus == chip.place.bus &&
                a->chip.place.address == chip.place.address && a->interface == at.interface) {
                return FT_DEVICE_NOT_OPENED;  // as FTDI's library: one handle per adapter
            }
        }
        libusb_device_handle* usb = nullptr;
        const int rc = libusb_open(chip.dev, &usb);
        if (rc != 0) {
            if (rc == LIBUSB_ERROR_ACCESS) {
                AddProblem(AccessProblem(AdapterName(chip.vendor, chip.product, chip.place)));
            }
            return FT_DEVICE_NOT_OPENED;
        }
        auto a = std::make_shared<Adapter>();
        a->chip = chip;
        libusb_ref_device(a->chip.dev);
        a->interface = at.interface;
        a->usb = usb;
        open_.push_back(a);
        *handle = a.get();
        return FT_OK;
    }

    FT_STATUS Close(FT_HANDLE handle) override {
        std::shared_ptr<Adapter> a;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            auto it = std::find_if(open_.begin(), open_.end(),
                                   [&](const auto& p) { return p.get() == handle; });
            if (it == open_.end()) return FT_INVALID_HANDLE;
            a = *it;
            open_.erase(it);
        }
        std::lock_guard<std::mutex> hold(a->mutex);
        Release(*a);
        return FT_OK;
    }

    FT_STATUS Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* got) override {
        if (got != nullptr) *got = 0;
        if (got == nullptr || (buffer == nullptr && count > 0)) return FT_INVALID_PARAMETER;
        return WithLine(handle, [&](Adapter& a) {
            auto* out = static_cast<unsigned char*>(buffer);
            const auto deadline = Clock::now() + std::chrono::milliseconds(a.readMs);
            DWORD done = 0;
            bool polled = false;
            for (;;) {
                done += Pop(a, out + done, count - done);
                if (done == count) break;
                // Time-out 0: what the chip has now, no waiting.
                if (polled && Clock::now() >= deadline) break;
                polled = true;
                if (Fill(a) < 0) {
                    *got = done;
                    return FT_IO_ERROR;
                }
            }
            *got = done;
            return FT_OK;
        });
    }

    FT_STATUS Write(FT_HANDLE handle, const void* bytes, DWORD count, DWORD* written) override {
        if (written != nullptr) *written = 0;
        if (written == nullptr || (bytes == nullptr && count > 0)) return FT_INVALID_PARAMETER;
        return WithLine(handle, [&](Adapter& a) {
            if (count == 0) return FT_OK;
            if (count > static_cast<DWORD>(INT_MAX)) return FT_INVALID_PARAMETER;
            const ULONG ms = a.writeMs != 0 ? a.writeMs : kDefaultWriteMs;
            // One bulk transfer straight on libftdi's handle and endpoint (what
            // ftdi_write_data does per chunk): libusb reports the bytes the chip
            // took even when the time-out ends the transfer, which
            // ftdi_write_data would lose.
            int sent = 0;
            const int rc = libusb_bulk_transfer(
                a.line->usb_dev, static_cast<unsigned char>(a.line->in_ep),
                const_cast<unsigned char*>(static_cast<const unsigned char*>(bytes)),
                static_cast<int>(count), &sent, static_cast<unsigned int>(ms));
            *written = static_cast<DWORD>(std::max(sent, 0));
            return rc == 0 || rc == LIBUSB_ERROR_TIMEOUT ? FT_OK : FT_IO_ERROR;
        });
    }

    FT_STATUS SetBaudRate(FT_HANDLE handle, ULONG baud) override {
        return WithLine(handle, [&](Adapter& a) {
            if (baud == 0 || baud > static_cast<ULONG>(INT_MAX)) return FT_INVALID_PARAMETER;
            const int rc = ftdi_set_baudrate(a.line, static_cast<int>(baud));
            if (rc == -1) return FT_INVALID_PARAMETER;  // no divisor within 5 %
            return rc == 0 ? FT_OK : FT_IO_ERROR;
        });
    }

    FT_STATUS SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                     UCHAR parity) override {
        if ((wordLength != FT_BITS_7 && wordLength != FT_BITS_8) ||
            (stopBits != FT_STOP_BITS_1 && stopBits != FT_STOP_BITS_2) || parity > 4) {
            return FT_INVALID_PARAMETER;
        }
        return WithLine(handle, [&](Adapter& a) {
            // The D2XX codes and libftdi's enumerations have the same values.
            const int rc = ftdi_set_line_property(a.line, static_cast<ftdi_bits_type>(wordLength),
                                                  static_cast<ftdi_stopbits_type>(stopBits),
                                                  static_cast<ftdi_parity_type>(parity));
            return rc == 0 ? FT_OK : FT_IO_ERROR;
        });
    }

    FT_STATUS SetDtr(FT_HANDLE handle) override { return Dtr(handle, 1); }
    FT_STATUS ClrDtr(FT_HANDLE handle) override { return Dtr(handle, 0); }

    FT_STATUS SetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) override {
        return WithLine(handle, [&](Adapter& a) {
            a.readMs = readMs;
            a.writeMs = writeMs;
            return FT_OK;
        });
    }

    FT_STATUS GetQueueStatus(FT_HANDLE handle, DWORD* waiting) override {
        if (waiting != nullptr) *waiting = 0;
        if (waiting == nullptr) return FT_INVALID_PARAMETER;
        return WithLine(handle, [&](Adapter& a) {
            // One round ends when the chip answers with status bytes only (within
            // its latency time); a full chunk means more may be waiting.
            for (int round = 0; round < kDrainRounds; ++round) {
                const int n = Fill(a);
                if (n < 0) return FT_IO_ERROR;
                if (n < kChunkBytes) break;
            }
            *waiting = static_cast<DWORD>(a.received.size());
            return FT_OK;
        });
    }

    FT_STATUS GetDeviceInfo(FT_HANDLE handle, ULONG* device, DWORD* id, char* serial,
                            char* description) override {
        std::shared_ptr<Adapter> a = Find(handle);
        if (!a) return FT_INVALID_HANDLE;
        std::lock_guard<std::mutex> hold(a->mutex);
        if (a->closed) return FT_INVALID_HANDLE;
        std::string serialText;
        std::string productText;
        if (!ReadString(a->usb, a->chip.serialIndex, serialText) ||
            !ReadString(a->usb, a->chip.productIndex, productText)) {
            return FT_IO_ERROR;  // unplugged, most likely
        }
        const int interfaces = a->chip.place.interfaces;
        CopyOut(InterfaceSerial(serialText, a->interface, interfaces, kSerialNumberBytes - 1),
                serial);
        CopyOut(InterfaceDescription(productText, a->interface, interfaces, kDescriptionBytes - 1),
                description);
        if (device != nullptr) *device = DeviceType(a->chip);
        if (id != nullptr) {
            *id = (static_cast<DWORD>(a->chip.vendor) << 16) | a->chip.product;
        }
        return FT_OK;
    }

    std::vector<std::wstring> TakeProblems() override {
        std::lock_guard<std::mutex> hold(problemsMutex_);
        std::vector<std::wstring> out;
        out.swap(problems_);
        return out;
    }

  private:
    bool UsbReady() {
        if (!usbTried_) {
            usbTried_ = true;
            // Fails where there is no USB at all (a container without
            // /dev/bus/usb): then there are no adapters.
            if (libusb_init(&usb_) != 0) usb_ = nullptr;
        }
        return usb_ != nullptr;
    }

    void ForgetChips() {
        for (Chip& chip : chips_) libusb_unref_device(chip.dev);
        chips_.clear();
        order_.clear();
    }

    void Enumerate() {
        ForgetChips();
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(usb_, &list);
        if (n < 0) return;
        std::vector<UsbPlace> places;
        for (ssize_t i = 0; i < n; ++i) {
            libusb_device_descriptor desc{};
            if (libusb_get_device_descriptor(list[i], &desc) != 0) continue;
            // Every product id of FTDI's: adapters with a customer id are still
            // FTDI chips, and FTDI's library lists them too.
            if (desc.idVendor != kFtdiVendor) continue;
            Chip chip;
            chip.dev = libusb_ref_device(list[i]);
            chip.vendor = desc.idVendor;
            chip.product = desc.idProduct;
            chip.release = desc.bcdDevice;
            chip.serialIndex = desc.iSerialNumber;
            chip.productIndex = desc.iProduct;
            chip.place.bus = libusb_get_bus_number(list[i]);
            chip.place.address = libusb_get_device_address(list[i]);
            std::uint8_t ports[kMaxPortDepth] = {};
            const int depth = libusb_get_port_numbers(list[i], ports, kMaxPortDepth);
            for (int p = 0; p < depth; ++p) chip.place.ports.push_back(ports[p]);
            chip.place.interfaces = InterfaceCount(list[i]);
            places.push_back(chip.place);
            chips_.push_back(chip);
        }
        libusb_free_device_list(list, 1);
        order_ = OrderAdapters(places);
    }

    std::shared_ptr<Adapter> Find(FT_HANDLE handle) {
        std::lock_guard<std::mutex> hold(mutex_);
        for (const auto& a : open_) {
            if (a.get() == handle) return a;
        }
        return nullptr;
    }

    void AddProblem(const std::wstring& text) {
        std::lock_guard<std::mutex> hold(problemsMutex_);
        if (std::find(problems_.begin(), problems_.end(), text) == problems_.end()) {
            problems_.push_back(text);
        }
    }

    // Runs `step` on a valid, open adapter after taking it from the kernel's
    // serial driver if that has not happened yet.
    template <typename Step>
    FT_STATUS WithLine(FT_HANDLE handle, Step step) {
        std::shared_ptr<Adapter> a = Find(handle);
        if (!a) return FT_INVALID_HANDLE;
        std::lock_guard<std::mutex> hold(a->mutex);
        if (a->closed) return FT_INVALID_HANDLE;
        const FT_STATUS taken = Take(*a);
        if (taken != FT_OK) return taken;
        return step(*a);
    }

    FT_STATUS Take(Adapter& a) {
        if (a.line != nullptr) return FT_OK;
        ftdi_context* line = ftdi_new();
        if (line == nullptr) return FT_OTHER_ERROR;
        ftdi_set_interface(line, static_cast<ftdi_interface>(INTERFACE_A + a.interface));
        // Claiming detaches ftdi_sio from this interface only; libusb binds it
        // again when the interface is released (ftdi_usb_close), so the
        // adapter's /dev/ttyUSBn comes back after Close.
        line->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
        const int rc = ftdi_usb_open_dev(line, a.chip.dev);
        if (rc != 0) {
            ftdi_free(line);
            if (rc == -5) {  // claim failed: another program holds the interface
                AddProblem(BusyProblem(InterfaceName(a)));
                return FT_DEVICE_NOT_OPENED;
            }
            if (rc == -8) {  // inappropriate permissions
                AddProblem(AccessProblem(InterfaceName(a)));
                return FT_DEVICE_NOT_OPENED;
            }
            return FT_IO_ERROR;
        }
        // The serial driver reads the latency back when it binds again, so
        // its own value is restored at Close. A failure only slows polling.
        if (ftdi_get_latency_timer(line, &a.latencyBefore) != 0) a.latencyBefore = 0;
        ftdi_set_latency_timer(line, kLatencyMs);
        line->usb_read_timeout = kUsbReadTimeoutMs;
        a.line = line;
        return FT_OK;
    }

    static void Release(Adapter& a) {
        if (a.closed) return;
        a.closed = true;
        if (a.line != nullptr) {
            if (a.latencyBefore != 0) ftdi_set_latency_timer(a.line, a.latencyBefore);
            ftdi_usb_close(a.line);  // releases the interface: ftdi_sio is bound again
            ftdi_free(a.line);
            a.line = nullptr;
        }
        if (a.usb != nullptr) libusb_close(a.usb);
        a.usb = nullptr;
        libusb_unref_device(a.chip.dev);
        a.chip.dev = nullptr;
        a.received.clear();
    }

    // One read from the chip into the adapter's queue: the bytes that came,
    // 0 when it had none, -1 on a failure (unplugged).
    static int Fill(Adapter& a) {
        unsigned char chunk[kChunkBytes];
        // ftdi_read_data strips the status bytes and returns at the first
        // status-only packet, i.e. when the chip has nothing more.
        const int n = ftdi_read_data(a.line, chunk, kChunkBytes);
        if (n == LIBUSB_ERROR_TIMEOUT) return 0;
        if (n < 0) return -1;
        a.received.insert(a.received.end(), chunk, chunk + n);
        return n;
    }

    static DWORD Pop(Adapter& a, unsigned char* out, DWORD room) {
        const auto n = static_cast<DWORD>(std::min<std::size_t>(room, a.received.size()));
        std::copy_n(a.received.begin(), n, out);
        a.received.erase(a.received.begin(), a.received.begin() + n);
        return n;
    }

    FT_STATUS Dtr(FT_HANDLE handle, int state) {
        return WithLine(handle, [&](Adapter& a) {
            return ftdi_setdtr(a.line, state) == 0 ? FT_OK : FT_IO_ERROR;
        });
    }

    std::mutex mutex_;  // usb_, chips_, order_, open_
    bool usbTried_ = false;
    libusb_context* usb_ = nullptr;
    std::vector<Chip> chips_;
    std::vector<AdapterIndex> order_;
    std::vector<std::shared_ptr<Adapter>> open_;

    std::mutex problemsMutex_;
    std::vector<std::wstring> problems_;
};

}  // namespace

std::unique_ptr<D2xx> MakeLibFtdiD2xx() {
    return std::make_unique<LibFtdiD2xx>();
}

}  // namespace karvelo::ftdi
