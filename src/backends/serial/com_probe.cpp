#include "backends/serial/com_probe.h"

#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

#include "backends/serial/zento_com.h"
#include "devices/catalogue.h"
#include "platform/text_encoding.h"

namespace karvelo::serial {
namespace {

namespace fs = std::filesystem;

constexpr int kLastCom = 98;

// The first line of a sysfs attribute, without its line end.
std::string Attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

}  // namespace

ComPortDescription DescribeComPort(const std::string& path, const std::string& sysRoot) {
    ComPortDescription d;
    d.path = path;
    if (path.empty()) return d;
    std::error_code ec;
    // /dev/serial/by-id/... and configured links name the tty behind them.
    fs::path device = fs::canonical(path, ec);
    if (ec) device = path;
    const fs::path link = fs::path(sysRoot) / "class" / "tty" / device.filename() / "device";
    const fs::path root = fs::weakly_canonical(sysRoot, ec);
    fs::path dir = fs::canonical(link, ec);
    if (ec) return d;
    // The interface sits below its USB device, which has the vendor id.
    for (; !dir.empty() && dir != root && dir != dir.root_path(); dir = dir.parent_path()) {
        if (fs::exists(dir / "idVendor", ec)) {
            d.maker = Attribute(dir / "manufacturer");
            d.model = Attribute(dir / "product");
            d.serial = Attribute(dir / "serial");
            break;
        }
    }
    return d;
}

std::wstring ComPortTip(const ComPortDescription& d) {
    std::string tip = d.path;
    const auto add = [&](const std::string& prefix, const std::string& part) {
        if (!part.empty()) tip += prefix + part;
    };
    add(" - ", d.maker);
    add(d.maker.empty() ? " - " : " ", d.model);
    add(", serial no. ", d.serial);
    return platform::Utf8ToWide(tip);
}

bool ComPortAvailable(int comNumber, const std::wstring& mainConfigFile) {
    zento_com port;
    const bool opened =
        port.open(devices::ComProbeLineProfile(), ComDevicePath(comNumber, mainConfigFile));
    port.close();
    return opened;
}

ComProbe::ComProbe(std::wstring mainConfigFile)
    : worker_([this, file = std::move(mainConfigFile)] { Run(file); }) {}

ComProbe::~ComProbe() {
    stop_ = true;
    worker_.join();
}

void ComProbe::Run(const std::wstring& mainConfigFile) {
    for (int com = 1; com <= kLastCom && !stop_; ++com) {
        Entry e;
        e.com = com;
        e.available = ComPortAvailable(com, mainConfigFile);
        e.description = DescribeComPort(ComDevicePath(com, mainConfigFile));
        std::lock_guard lock(mutex_);
        ready_.push_back(std::move(e));
    }
    std::lock_guard lock(mutex_);
    finished_ = true;
}

std::vector<ComProbe::Entry> ComProbe::Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(ready_, {});
}

bool ComProbe::finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

}  // namespace karvelo::serial
