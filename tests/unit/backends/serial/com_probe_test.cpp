// The COM probe against pseudo-terminals mapped through [PORTS], and the
// description of a USB serial adapter from a sysfs tree.

#include "backends/serial/com_probe.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "backends/serial/zento_com.h"
#include "devices/catalogue.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

namespace karvelo::testing {
namespace {

using namespace serial;
namespace fs = std::filesystem;

class ComProbeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.Write("karvelo.cfg", "[PORTS]\r\nCOM2=" + free.SlavePath() +
                                     "\r\nCOM3=" + dir.file("no-such-tty") +
                                     "\r\nCOM4=" + held.SlavePath() + "\r\n");
        mainFile = fs::path(dir.file("karvelo.cfg")).wstring();
        // Another program has COM4.
        ASSERT_TRUE(holder.open(devices::DeviceTypeOf(1).serial.line, held.SlavePath()));
    }

    TempDir dir;
    PtyPair free;
    PtyPair held;
    zento_com holder;
    std::wstring mainFile;
};

TEST_F(ComProbeTest, OnlyAPortThatOpensIsAvailable) {
    EXPECT_TRUE(ComPortAvailable(2, mainFile));
    EXPECT_FALSE(ComPortAvailable(3, mainFile));
    EXPECT_FALSE(ComPortAvailable(4, mainFile));
    // The probe closed the port again: the station can take it.
    zento_com station;
    EXPECT_TRUE(station.open(devices::DeviceTypeOf(1).serial.line, free.SlavePath()));
}

TEST_F(ComProbeTest, TheWorkerReportsEveryComNumberInOrder) {
    ComProbe probe(mainFile);
    std::vector<ComProbe::Entry> entries;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!probe.finished() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(probe.finished());
    entries = probe.Take();
    ASSERT_EQ(entries.size(), 98u);
    for (int i = 0; i < 98; ++i) EXPECT_EQ(entries[static_cast<std::size_t>(i)].com, i + 1);
    EXPECT_TRUE(entries[1].available);
    EXPECT_EQ(entries[1].description.path, free.SlavePath());
    EXPECT_FALSE(entries[2].available);
    EXPECT_FALSE(entries[3].available);
    EXPECT_TRUE(probe.Take().empty());
}

// A USB serial adapter as sysfs shows it: the tty below the interface below
// the USB device, which carries the vendor id and the descriptive texts.
TEST(ComPortDescription, UsbAdapterShowsMakerModelAndSerial) {
    TempDir sys;
    const fs::path usb = sys.path() / "devices" / "pci0000:00" / "usb1" / "1-2";
    const fs::path tty = usb / "1-2:1.0" / "ttyUSB7";
    fs::create_directories(tty);
    sys.Write("devices/pci0000:00/usb1/1-2/idVendor", "0403\n");
    sys.Write("devices/pci0000:00/usb1/1-2/manufacturer", "FTDI\n");
    sys.Write("devices/pci0000:00/usb1/1-2/product", "FT232R USB UART\n");
    sys.Write("devices/pci0000:00/usb1/1-2/serial", "A10KX3TB\n");
    fs::create_directories(sys.path() / "class" / "tty" / "ttyUSB7");
    fs::create_directory_symlink(tty, sys.path() / "class" / "tty" / "ttyUSB7" / "device");
    // The plain serial port has no USB device above it.
    const fs::path uart = sys.path() / "devices" / "platform" / "serial8250" / "tty" / "ttyS0";
    fs::create_directories(uart);
    fs::create_directories(sys.path() / "class" / "tty" / "ttyS0");
    fs::create_directory_symlink(uart.parent_path().parent_path(),
                                 sys.path() / "class" / "tty" / "ttyS0" / "device");

    const ComPortDescription usbPort = DescribeComPort("/dev/ttyUSB7", sys.path().string());
    EXPECT_EQ(usbPort.maker, "FTDI");
    EXPECT_EQ(usbPort.model, "FT232R USB UART");
    EXPECT_EQ(usbPort.serial, "A10KX3TB");
    EXPECT_EQ(ComPortTip(usbPort), L"/dev/ttyUSB7 - FTDI FT232R USB UART, serial no. A10KX3TB");

    const ComPortDescription plain = DescribeComPort("/dev/ttyS0", sys.path().string());
    EXPECT_EQ(plain.maker, "");
    EXPECT_EQ(ComPortTip(plain), L"/dev/ttyS0");
    EXPECT_EQ(ComPortTip(DescribeComPort("/dev/ttyACM9", sys.path().string())), L"/dev/ttyACM9");
}

}  // namespace
}  // namespace karvelo::testing
