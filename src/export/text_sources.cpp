#include "export/text_sources.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "export/csv_export.h"
#include "export/export_types.h"
#include "export/text_source_file.h"
#include "platform/program_path.h"
#include "platform/text_encoding.h"
#include "state/control_ids.h"
#include "state/run_state.h"
#include "state/window_port.h"

namespace karvelo::exports {
namespace {

constexpr std::size_t kIdFieldChars = 254;
// A text shorter than this is taken for the record but not shown in its field.
constexpr std::size_t kShownTextChars = 2;

// What a text-source number means for the ID and for a slot.
enum class SourceKind { Keyboard, FileField, Empty, Unchanged };

SourceKind IdSourceKind(int source) {
    if (source == 0) return SourceKind::Keyboard;
    if (source >= 1 && source <= 9) return SourceKind::FileField;
    return SourceKind::Empty;  // only a hand-edited configuration gets here
}

SourceKind SlotSourceKind(int source) {
    if (source >= 1 && source <= kTextFields) return SourceKind::FileField;
    return SourceKind::Unchanged;  // the keyboard is served by the acquisition thread itself
}

void MarkReady(int entry) {
    g_run.ValueReady[entry] = true;
    g_run.ValueError[entry] = false;
}

}  // namespace

TextFields SplitTextLine(std::wstring_view line) {
    TextFields fields;
    std::size_t p = 0;
    for (int k = 1; k <= kTextFields && p < line.size(); ++k) {
        const std::size_t end = std::min(line.find(L';', p), line.size());
        const std::wstring_view field = line.substr(p, end - p);
        fields[static_cast<std::size_t>(k)] =
            field.substr(0, std::min(field.size(), kTextFieldChars));
        p = end + 1;
    }
    return fields;
}

bool ReadFirstLine(const std::string& path, std::wstring& line) {
    // Non-blocking, so that a named pipe put there by mistake cannot hang the reader.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    // One byte more than the line may hold: the CR of a CR LF line end.
    char buf[kTextLineChars + 1];
    std::size_t got = 0;
    bool ok = true;
    while (got < sizeof buf) {
        const ssize_t n = ::read(fd, buf + got, sizeof buf - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (!ok || got == 0) return false;

    std::string bytes;
    for (std::size_t i = 0; i < got && bytes.size() < kTextLineChars; ++i) {
        const char c = buf[i];
        if (c == '\0') break;  // the line ends there, as a C string would
        if (c == '\r' && i + 1 < got && buf[i + 1] == '\n') continue;
        bytes.push_back(c);
        if (c == '\n') break;
    }
    line = platform::Latin1ToWide(bytes);
    return true;
}

bool ReadTextSourceField(int entry, int n, std::wstring& field) {
    std::wstring path = g_run.TextPath[entry].str() + g_run.TextFile[entry].str();
    // A list file named without a folder is looked for in the configuration
    // folder, never in whatever folder the station was started from.
    if (!path.empty() && path.front() != L'/') path.insert(0, g_run.ConfigDir.str());
    std::wstring line;
    if (!ReadFirstLine(platform::FsPath(path), line)) return false;
    field = (n >= 1 && n <= kTextFields) ? SplitTextLine(line)[static_cast<std::size_t>(n)]
                                         : std::wstring();
    return true;
}

void ReadIdText(WindowPort& window) {
    const int source = g_run.TextSource[kIdEntry];
    switch (IdSourceKind(source)) {
        case SourceKind::Keyboard: {
            const std::wstring text = window.GetControlText(kIdField);
            g_run.TextLast[kIdEntry] =
                std::wstring_view(text).substr(0, std::min(text.size(), kIdFieldChars));
            break;
        }
        case SourceKind::FileField: {
            std::wstring field;
            // A file that cannot be read leaves the ID, its field and the file name as they are.
            if (!ReadTextSourceField(kIdEntry, source, field)) return;
            g_run.TextLast[kIdEntry] = field;
            if (field.size() >= kShownTextChars) window.SetControlText(kIdField, field);
            break;
        }
        case SourceKind::Empty:
        case SourceKind::Unchanged:
            g_run.TextLast[kIdEntry].Clear();
            break;
    }
    MarkReady(kIdEntry);
    // The file the next record goes to: named by the ID just read, as the
    // record's own file is, never by what the ID field happens to show (a
    // one-character ID from a list file is not shown there).
    if (ExportTypeOf(g_run.ExportType).fileName == FileName::IdFileName) {
        window.SetControlText(kFileNameField, IdFileName(g_run.TextLast[kIdEntry].str()));
    }
}

bool ReadSlotText(int slot, WindowPort& window) {
    if (slot < 1 || slot > kMaxSlots) return false;
    const int source = g_run.TextSource[slot];
    if (SlotSourceKind(source) == SourceKind::FileField) {
        std::wstring field;
        if (!ReadTextSourceField(slot, source, field)) return false;
        g_run.TextLast[slot] = field;
        if (field.size() >= kShownTextChars) {
            window.SetControlText(kSlotTextFirst + slot - 1, field);
        }
    }
    MarkReady(slot);
    return true;
}

}  // namespace karvelo::exports
