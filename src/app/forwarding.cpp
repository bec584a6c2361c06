#include "app/forwarding.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "export/forwarder.h"
#include "export/plant_server.h"
#include "export/record_journal.h"
#include "platform/report.h"
#include "platform/text_encoding.h"
#include "state/run_state.h"

namespace karvelo::app {
namespace {

struct Forwarding {
    std::mutex lock;
    std::string url;  // the server the forwarder sends to; empty: none
    std::unique_ptr<exports::JournalForwarder> forwarder;
    std::string told;  // the problem last told on standard error
};
Forwarding g_forwarding;

// On the forwarder's thread, at every change of what waits or why.
void Tell(WindowPort& window, const exports::ForwardingStatus& status) {
    window.ShowRecordsWaiting(status.waiting, platform::Utf8ToWide(status.problem));
    std::string line;
    {
        std::lock_guard<std::mutex> hold(g_forwarding.lock);
        if (status.problem == g_forwarding.told) return;
        if (!status.problem.empty()) {
            line = status.problem + " (" + std::to_string(status.waiting) +
                   " records wait in the journal)";
        } else if (g_forwarding.url.empty()) {
            line = "records are no longer forwarded: no url in section DATABASE";
        } else {
            line =
                "records are forwarded to " + exports::PlantServerName(g_forwarding.url) + " again";
        }
        g_forwarding.told = status.problem;
    }
    platform::Report(line);
}

}  // namespace

void UpdateForwarding(WindowPort& window) {
    const std::string url = platform::WideToUtf8(g_run.DatabaseUrl.str());
    const std::string path = exports::JournalFilePath();
    std::lock_guard<std::mutex> hold(g_forwarding.lock);
    // The configuration folder is settled before the first record, so the
    // journal a forwarder reads never changes; only the server may.
    if (g_forwarding.forwarder != nullptr && url == g_forwarding.url) {
        g_forwarding.forwarder->Wake();
        return;
    }
    if (g_forwarding.forwarder == nullptr && (url.empty() || path.empty())) return;
    g_forwarding.url = url;
    std::unique_ptr<exports::RecordServer> server;
    if (!url.empty()) server = std::make_unique<exports::PlantServer>(url);
    if (g_forwarding.forwarder != nullptr) {
        // A forwarder busy with the old server is not waited for.
        g_forwarding.forwarder->UseServer(std::move(server));
        return;
    }
    WindowPort* shown = &window;
    g_forwarding.forwarder = std::make_unique<exports::JournalForwarder>(
        path, std::move(server),
        [shown](const exports::ForwardingStatus& status) { Tell(*shown, status); });
}

}  // namespace karvelo::app
