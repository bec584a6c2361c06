#pragma once
// A D2XX library of scripted adapters for unit tests. Each adapter answers a
// write with what its `answer` function returns and a DTR pulse with
// `pulseReply`; the test sees every write, line setting and open.

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "backends/ftdi/d2xx.h"
#include "backends/ftdi/d2xx_library.h"

namespace karvelo::testing {

struct FakeAdapter {
    std::string description;
    std::string serial;
    // The reply to a write (empty: none).
    std::function<std::string(std::string_view written)> answer;
    std::string pulseReply;
    ftdi::DWORD writeLimit = 1u << 20;  // bytes taken per write
    bool busy = false;                  // opened by another program

    // What the station did.
    bool open = false;
    int opens = 0;
    int closes = 0;
    std::vector<std::string> writes;
    std::vector<std::string> events;  // "baud 57600", "data 8 0 0", "timeouts 250 250", "dtr 1"
    std::string rx;                   // received, not read yet
    int timeouts = 0;                 // reads that found nothing
    bool dtr = false;
};

// Replies of a PU firmware: `plain` takes "VER\r", a framed firmware only
// "$VER*41\r"; measurement requests get `reply`.
inline std::function<std::string(std::string_view)> PuFirmware(bool framed, std::string reply) {
    return [framed, reply](std::string_view w) -> std::string {
        if (w == "VER\r") return framed ? "ERROR: unknown\r\n" : "PU V1.07 plain\r\n";
        if (w == "$VER*41\r") return framed ? "$VER,V2.03*05\r\n" : "ERROR: unknown\r\n";
        return reply;
    };
}

class FakeD2xx : public ftdi::D2xx {
  public:
    explicit FakeD2xx(std::vector<FakeAdapter>& adapters, std::vector<std::wstring> problems = {})
        : adapters_(adapters), problems_(std::move(problems)) {}

    ftdi::FT_STATUS Open(int index, ftdi::FT_HANDLE* handle) override {
        *handle = nullptr;
        if (index < 0 || index >= static_cast<int>(adapters_.size()))
            return ftdi::FT_DEVICE_NOT_FOUND;
        FakeAdapter& a = adapters_[static_cast<std::size_t>(index)];
        if (a.open || a.busy) return ftdi::FT_DEVICE_NOT_OPENED;
        a.open = true;
        ++a.opens;
        *handle = &a;
        return ftdi::FT_OK;
    }
    ftdi::FT_STATUS Close(ftdi::FT_HANDLE h) override {
        FakeAdapter* a = Find(h);
        if (!a) return ftdi::FT_INVALID_HANDLE;
        a->open = false;
        ++a->closes;
        a->rx.clear();
        return ftdi::FT_OK;
    }
    ftdi::FT_STATUS Read(ftdi::FT_HANDLE h, void* buffer, ftdi::DWORD count,
                         ftdi::DWORD* got) override {
        FakeAdapter* a = Find(h);
        *got = 0;
        if (!a) return ftdi::FT_INVALID_HANDLE;
        const std::size_t n = std::min<std::size_t>(count, a->rx.size());
        std::copy_n(a->rx.begin(), n, static_cast<char*>(buffer));
        a->rx.erase(0, n);
        if (n < count) ++a->timeouts;
        *got = static_cast<ftdi::DWORD>(n);
        return ftdi::FT_OK;
    }
    ftdi::FT_STATUS Write(ftdi::FT_HANDLE h, const void* bytes, ftdi::DWORD count,
                          ftdi::DWORD* written) override {
        FakeAdapter* a = Find(h);
        *written = 0;
        if (!a) return ftdi::FT_INVALID_HANDLE;
        const std::string w(static_cast<const char*>(bytes), count);
        a->writes.push_back(w);
        *written = std::min(count, a->writeLimit);
        if (*written == count && a->answer) a->rx += a->answer(w);
        return ftdi::FT_OK;
    }
    ftdi::FT_STATUS SetBaudRate(ftdi::FT_HANDLE h, ftdi::ULONG baud) override {
        return Event(h, "baud " + std::to_string(baud));
    }
    ftdi::FT_STATUS SetDataCharacteristics(ftdi::FT_HANDLE h, ftdi::UCHAR bits, ftdi::UCHAR stop,
                                           ftdi::UCHAR parity) override {
        return Event(h, "data " + std::to_string(bits) + " " + std::to_string(stop) + " " +
                            std::to_string(parity));
    }
    ftdi::FT_STATUS SetDtr(ftdi::FT_HANDLE h) override {
        if (FakeAdapter* a = Find(h)) a->dtr = true;
        return Event(h, "dtr 1");
    }
    ftdi::FT_STATUS ClrDtr(ftdi::FT_HANDLE h) override {
        FakeAdapter* a = Find(h);
        if (a && a->dtr) a->rx += a->pulseReply;
        if (a) a->dtr = false;
        return Event(h, "dtr 0");
    }
    ftdi::FT_STATUS SetTimeouts(ftdi::FT_HANDLE h, ftdi::ULONG r, ftdi::ULONG w) override {
        return Event(h, "timeouts " + std::to_string(r) + " " + std::to_string(w));
    }
    ftdi::FT_STATUS GetQueueStatus(ftdi::FT_HANDLE h, ftdi::DWORD* waiting) override {
        FakeAdapter* a = Find(h);
        *waiting = a ? static_cast<ftdi::DWORD>(a->rx.size()) : 0;
        return a ? ftdi::FT_OK : ftdi::FT_INVALID_HANDLE;
    }
    ftdi::FT_STATUS GetDeviceInfo(ftdi::FT_HANDLE h, ftdi::ULONG*, ftdi::DWORD*, char* serial,
                                  char* description) override {
        FakeAdapter* a = Find(h);
        if (!a) return ftdi::FT_INVALID_HANDLE;
        a->serial.copy(serial, ftdi::kSerialNumberBytes - 1);
        serial[std::min<std::size_t>(a->serial.size(), ftdi::kSerialNumberBytes - 1)] = '\0';
        a->description.copy(description, ftdi::kDescriptionBytes - 1);
        description[std::min<std::size_t>(a->description.size(), ftdi::kDescriptionBytes - 1)] =
            '\0';
        return ftdi::FT_OK;
    }
    std::vector<std::wstring> TakeProblems() override { return std::exchange(problems_, {}); }

  private:
    FakeAdapter* Find(ftdi::FT_HANDLE h) {
        for (FakeAdapter& a : adapters_) {
            if (&a == h && a.open) return &a;
        }
        return nullptr;
    }
    ftdi::FT_STATUS Event(ftdi::FT_HANDLE h, std::string e) {
        FakeAdapter* a = Find(h);
        if (!a) return ftdi::FT_INVALID_HANDLE;
        a->events.push_back(std::move(e));
        return ftdi::FT_OK;
    }

    std::vector<FakeAdapter>& adapters_;
    std::vector<std::wstring> problems_;
};

// A loader for TestDevices: the fake library over `adapters`.
inline ftdi::D2xxLoader FakeAdapters(std::vector<FakeAdapter>& adapters,
                                     std::vector<std::wstring> problems = {}) {
    return [&adapters, problems] { return std::make_unique<FakeD2xx>(adapters, problems); };
}

}  // namespace karvelo::testing
