#include "backends/ftdi/adapter_order.h"

#include <algorithm>
#include <tuple>

namespace karvelo::ftdi {

namespace {

// FTDI chips have at most four interfaces (FT4232H); a descriptor claiming
// more is not believed.
constexpr int kMaxInterfaces = 4;

int InterfaceCount(const UsbPlace& place) {
    return std::clamp(place.interfaces, 1, kMaxInterfaces);
}

std::string WithSuffix(std::string_view base, std::string_view suffix, std::size_t maxChars) {
    if (suffix.size() >= maxChars) return std::string(suffix.substr(0, maxChars));
    std::string out(base.substr(0, std::min(base.size(), maxChars - suffix.size())));
    out += suffix;
    return out;
}

std::wstring Hex4(std::uint16_t value) {
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring out(4, L'0');
    for (int i = 3; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
        value = static_cast<std::uint16_t>(value >> 4);
    }
    return out;
}

std::wstring Padded3(int value) {
    std::wstring digits = std::to_wstring(value);
    if (digits.size() < 3) digits.insert(0, 3 - digits.size(), L'0');
    return digits;
}

}  // namespace

std::vector<AdapterIndex> OrderAdapters(const std::vector<UsbPlace>& devices) {
    std::vector<std::size_t> chips(devices.size());
    for (std::size_t i = 0; i < chips.size(); ++i) chips[i] = i;
    std::stable_sort(chips.begin(), chips.end(), [&](std::size_t a, std::size_t b) {
        const UsbPlace& x = devices[a];
        const UsbPlace& y = devices[b];
        return std::tie(x.bus, x.ports, x.address) < std::tie(y.bus, y.ports, y.address);
    });
    std::vector<AdapterIndex> order;
    for (std::size_t chip : chips) {
        for (int i = 0; i < InterfaceCount(devices[chip]); ++i) order.push_back({chip, i});
    }
    return order;
}

std::string InterfaceDescription(std::string_view product, int interface, int interfaces,
                                 std::size_t maxChars) {
    if (interfaces <= 1) return std::string(product.substr(0, std::min(product.size(), maxChars)));
    const char letter = static_cast<char>('A' + std::clamp(interface, 0, kMaxInterfaces - 1));
    return WithSuffix(product, std::string{' ', letter}, maxChars);
}

std::string InterfaceSerial(std::string_view serial, int interface, int interfaces,
                            std::size_t maxChars) {
    if (interfaces <= 1) return std::string(serial.substr(0, std::min(serial.size(), maxChars)));
    const char letter = static_cast<char>('A' + std::clamp(interface, 0, kMaxInterfaces - 1));
    return WithSuffix(serial, std::string(1, letter), maxChars);
}

std::wstring AdapterName(std::uint16_t vendor, std::uint16_t product, const UsbPlace& place) {
    std::wstring name = L"USB adapter " + Hex4(vendor) + L":" + Hex4(product) + L" on bus " +
                        std::to_wstring(place.bus);
    if (!place.ports.empty()) {
        name += L" port ";
        for (std::size_t i = 0; i < place.ports.size(); ++i) {
            if (i > 0) name += L'.';
            name += std::to_wstring(place.ports[i]);
        }
    }
    name += L" (/dev/bus/usb/" + Padded3(place.bus) + L"/" + Padded3(place.address) + L")";
    return name;
}

}  // namespace karvelo::ftdi
