#include "backends/ftdi/libftdi_d2xx.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "backends/ftdi/adapter_order.h"

namespace karvelo::ftdi {
namespace {

struct OrderCase {
    const char* name;
    std::vector<UsbPlace> devices;
    std::vector<AdapterIndex> expected;
};

class AdapterOrderTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(AdapterOrderTest, NumbersInterfacesInBusOrder) {
    EXPECT_EQ(OrderAdapters(GetParam().devices), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AdapterOrderTest,
    ::testing::Values(
        OrderCase{"Empty", {}, {}},
        OrderCase{"BusBeforePortAndAddress", {{2, {1}, 2, 1}, {1, {3}, 9, 1}}, {{1, 0}, {0, 0}}},
        // A port path is compared step by step: 1.10 after 1.2, and a device
        // on a hub's port after one nearer the root on the same root port.
        OrderCase{"PortPathStepByStep",
                  {{1, {1, 10}, 4, 1}, {1, {1, 2}, 7, 1}, {1, {1}, 9, 1}, {1, {2}, 3, 1}},
                  {{2, 0}, {1, 0}, {0, 0}, {3, 0}}},
        // Same place (re-plugged between lists): the address decides.
        OrderCase{"AddressLast", {{1, {4}, 12, 1}, {1, {4}, 5, 1}}, {{1, 0}, {0, 0}}},
        OrderCase{"MultiInterfaceChipsTakeOneIndexPerInterface",
                  {{1, {3}, 6, 4}, {1, {2}, 5, 2}, {1, {1}, 4, 0}},
                  {{2, 0}, {1, 0}, {1, 1}, {0, 0}, {0, 1}, {0, 2}, {0, 3}}}),
    [](const ::testing::TestParamInfo<OrderCase>& param) { return param.param.name; });

TEST(AdapterOrderStrings, InterfaceLetterAppendedAndKept) {
    struct Case {
        std::string base;
        int interface;
        int interfaces;
        std::string description;
        std::string serial;
    };
    const std::string longName(70, 'x');
    const std::vector<Case> cases = {
        {"FT232R USB UART", 0, 1, "FT232R USB UART", "FT232R USB UART"},
        {"Dual RS232-HS", 0, 2, "Dual RS232-HS A", "Dual RS232-HSA"},
        {"Quad RS232-HS", 3, 4, "Quad RS232-HS D", "Quad RS232-HSD"},
        {longName, 1, 2, std::string(61, 'x') + " B", std::string(14, 'x') + "B"},
        {longName, 0, 1, std::string(63, 'x'), std::string(15, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.base + " interface " + std::to_string(c.interface));
        EXPECT_EQ(InterfaceDescription(c.base, c.interface, c.interfaces, kDescriptionBytes - 1),
                  c.description);
        EXPECT_EQ(InterfaceSerial(c.base, c.interface, c.interfaces, kSerialNumberBytes - 1),
                  c.serial);
    }
}

TEST(AdapterOrderStrings, AdapterNameAsLsusbShowsIt) {
    EXPECT_EQ(AdapterName(0x0403, 0x6001, {1, {1, 4}, 5, 1}),
              L"USB adapter 0403:6001 on bus 1 port 1.4 (/dev/bus/usb/001/005)");
    EXPECT_EQ(AdapterName(0x0403, 0xfaf0, {12, {10}, 127, 1}),
              L"USB adapter 0403:faf0 on bus 12 port 10 (/dev/bus/usb/012/127)");
}

// An FTDI chip on this machine's USB, as the kernel lists it.
bool FtdiChipAttached() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/bus/usb/devices", ec)) {
        std::ifstream vendor(entry.path() / "idVendor");
        std::string id;
        if (vendor >> id && id == "0403") return true;
    }
    return false;
}

// Runs whether libusb can start here or not: both must end in "not found".
TEST(LibFtdiD2xxTest, WithoutAdaptersEveryCallFailsCleanly) {
    if (FtdiChipAttached()) GTEST_SKIP() << "an FTDI adapter is attached";
    auto d2xx = MakeLibFtdiD2xx();
    for (int index = 0; index < 20; ++index) {
        FT_HANDLE handle = &index;
        EXPECT_EQ(d2xx->Open(index, &handle), FT_DEVICE_NOT_FOUND) << index;
        EXPECT_EQ(handle, nullptr) << index;
    }
    EXPECT_NE(d2xx->Open(-1, nullptr), FT_OK);
    EXPECT_TRUE(d2xx->TakeProblems().empty());

    // Unknown handles are refused without being looked into.
    int notAnAdapter = 0;
    for (FT_HANDLE bogus :
         {static_cast<FT_HANDLE>(nullptr), static_cast<FT_HANDLE>(&notAnAdapter)}) {
        char buffer[8] = {};
        DWORD got = 99;
        DWORD waiting = 99;
        char serial[kSerialNumberBytes] = {};
        char description[kDescriptionBytes] = {};
        ULONG device = 0;
        DWORD id = 0;
        EXPECT_NE(d2xx->Close(bogus), FT_OK);
        EXPECT_NE(d2xx->Read(bogus, buffer, sizeof buffer, &got), FT_OK);
        EXPECT_EQ(got, 0u);
        EXPECT_NE(d2xx->Write(bogus, buffer, sizeof buffer, &got), FT_OK);
        EXPECT_NE(d2xx->GetQueueStatus(bogus, &waiting), FT_OK);
        EXPECT_NE(d2xx->SetBaudRate(bogus, 9600), FT_OK);
        EXPECT_NE(d2xx->SetDtr(bogus), FT_OK);
        EXPECT_NE(d2xx->GetDeviceInfo(bogus, &device, &id, serial, description), FT_OK);
    }
}

}  // namespace
}  // namespace karvelo::ftdi
