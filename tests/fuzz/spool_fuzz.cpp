// libFuzzer target: the spool files that keep records across a restart until
// their CSV file can be written.
//
// Input: byte 0 picks the mode and how the check is drawn.
//  - Even: the rest is a spool file, named as the spool of the target it
//    names, read as the station reads its spool files at start.
//  - Odd: a well-formed head naming a CSV file in the scratch folder, then a
//    "check" line from bytes 1..12 (offset, length) and the waiting lines; the
//    CSV file already holds a part of the input. The station then writes what
//    waits, as it does at start.
//
// Checked: no memory error or undefined behaviour; what is loaded is
// consistent (lines to write, a check within them); writing never changes or
// loses what the CSV file held, adds at most the waiting lines (without a part
// the check found already there), and the spool goes exactly when they are in.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <string_view>

#include "app/null_window.h"
#include "export/csv_export.h"
#include "export/pending_records.h"
#include "fuzz_support.h"
#include "state/run_state.h"

namespace {

using karvelo::fuzz::Check;
using karvelo::fuzz::ReadFile;
using karvelo::fuzz::WriteFile;
namespace exports = karvelo::exports;
namespace fs = std::filesystem;

std::string Folder() {
    return karvelo::fuzz::ScratchFolder() + "/";
}

void ClearFolder() {
    for (const auto& entry : fs::directory_iterator(karvelo::fuzz::ScratchFolder())) {
        std::error_code ignored;
        fs::remove_all(entry.path(), ignored);
    }
}

// The target a spool file names on its second line, as far as it has one.
std::string NamedTarget(std::string_view text) {
    const std::size_t first = text.find('\n');
    if (first == std::string_view::npos) return "x";
    text.remove_prefix(first + 1);
    text = text.substr(0, text.find('\n'));
    return text.starts_with("target ") ? std::string(text.substr(7)) : "x";
}

void CheckLoaded(const exports::PendingStore& store) {
    for (const std::string& target : store.Targets()) {
        const exports::PendingLines* lines = store.Find(target);
        Check(lines != nullptr && !lines->bytes.empty() && lines->persisted);
        Check(lines->checkOffset >= -1);
        Check(lines->checkLength <= lines->bytes.size());
        Check(lines->checkOffset >= 0 || lines->checkLength == 0);
    }
}

void ReadSpool(std::string_view text) {
    const exports::PendingStore namer(Folder());
    WriteFile(namer.SpoolPath(NamedTarget(text)), text);
    const exports::PendingStore store(Folder());
    CheckLoaded(store);
}

std::int64_t Int64At(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int k = 0; k < 8; ++k) v |= std::uint64_t{p[k]} << (8 * k);
    std::int64_t signedValue = 0;
    std::memcpy(&signedValue, &v, sizeof v);
    return signedValue;
}

void WriteWaiting(const std::uint8_t* data, std::size_t size) {
    if (size < 14) return;
    const std::string_view rest(reinterpret_cast<const char*>(data + 14), size - 14);
    // Byte 13 splits the rest: what the CSV file holds, then the waiting lines.
    const std::size_t split = std::min<std::size_t>(data[13], rest.size());
    const std::string held(rest.substr(0, split));
    const std::string waiting(rest.substr(split));

    std::int64_t offset = Int64At(data + 1);
    // Mostly offsets in or near the file, sometimes near the largest one,
    // sometimes any value at all.
    if ((data[0] & 2) == 0) {
        offset = offset % static_cast<std::int64_t>(held.size() + 2) - 1;
    } else if ((data[0] & 8) == 0) {
        offset = std::numeric_limits<std::int64_t>::max() - (offset & 0xFF);
    }
    std::uint32_t length = 0;
    std::memcpy(&length, data + 9, sizeof length);
    if ((data[0] & 4) == 0) length %= static_cast<std::uint32_t>(waiting.size() + 2);

    const std::string target = Folder() + "out.csv";
    WriteFile(target, held);
    const std::string spoolText = "karvelo pending records\ntarget " + target + "\ncheck " +
                                  std::to_string(offset) + " " + std::to_string(length) + "\n" +
                                  waiting;
    const exports::PendingStore namer(Folder());
    const std::string spool = namer.SpoolPath(target);
    WriteFile(spool, spoolText);

    const std::string folder = Folder();
    karvelo::g_run.ConfigDir = std::wstring(folder.begin(), folder.end());
    exports::ReloadPendingRecords();
    const exports::PendingLines* loaded = exports::PendingRecords().Find(target);
    CheckLoaded(exports::PendingRecords());
    const std::string kept = loaded != nullptr ? loaded->bytes : std::string();
    const std::size_t found = loaded != nullptr ? loaded->checkLength : 0;

    karvelo::app::NullWindow window;
    exports::RetryPendingRecords(window);

    const std::string after = ReadFile(target);
    Check(after.starts_with(held));
    const std::string added = after.substr(held.size());
    if (fs::exists(spool)) {
        // Still waiting (not ours to write, or a spool the station ignores).
        Check(added.empty());
    } else {
        Check(loaded != nullptr);
        Check(added == kept || (found > 0 && added == kept.substr(found)));
    }
    exports::ReloadPendingRecords();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    ClearFolder();
    if ((data[0] & 1) == 0) {
        ReadSpool(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    } else {
        WriteWaiting(data, size);
    }
    return 0;
}
