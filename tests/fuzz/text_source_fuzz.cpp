// libFuzzer target: the list files that other programs keep up to date for
// the ID and the texts of text slots.
//
// Input: byte 0 picks the field (1..10, or one outside); the rest is the file.
//
// Checked: no memory error or undefined behaviour; the first line comes back
// as the file holds it (up to a NUL, at most 1022 characters, a CR LF line end
// read as LF) and an empty file gives none; its fields are the pieces between
// the ';', at most ten, each cut at 255 characters; the field of a text source
// is that field of that line.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "export/text_source_file.h"
#include "fuzz_support.h"
#include "state/run_state.h"

namespace {

using karvelo::fuzz::Check;
namespace exports = karvelo::exports;

// ISO 8859-1: bytes are characters.
std::wstring ToWide(std::string_view bytes) {
    std::wstring out;
    for (const char c : bytes) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return out;
}

// The first line as the readers of these files have always taken it.
std::wstring ExpectedLine(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    const std::size_t lf = bytes.find('\n');
    std::string line(bytes.substr(0, lf == std::string_view::npos ? bytes.size() : lf + 1));
    if (line.ends_with("\r\n")) line.erase(line.size() - 2, 1);
    line.resize(std::min(line.size(), exports::kTextLineChars));
    return ToWide(line);
}

void CheckFields(const std::wstring& line) {
    const exports::TextFields fields = exports::SplitTextLine(line);
    Check(fields[0].empty());
    std::size_t p = 0;
    for (int k = 1; k <= exports::kTextFields; ++k) {
        const std::wstring& field = fields[static_cast<std::size_t>(k)];
        Check(field.size() <= exports::kTextFieldChars);
        if (p >= line.size()) {
            Check(field.empty());
            continue;
        }
        const std::size_t end = std::min(line.find(L';', p), line.size());
        const std::wstring piece = line.substr(p, end - p);
        Check(field == piece.substr(0, exports::kTextFieldChars));
        p = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int n = static_cast<int>(data[0] % 12);  // 0 and 11 are no field
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string folder = karvelo::fuzz::ScratchFolder() + "/";
    karvelo::fuzz::WriteFile(folder + "list.csv", bytes);

    std::wstring line;
    const bool read = exports::ReadFirstLine(folder + "list.csv", line);
    Check(read == !bytes.empty());
    if (read) {
        Check(line == ExpectedLine(bytes));
        CheckFields(line);
    }
    CheckFields(ToWide(bytes));  // a line as long and odd as the input

    karvelo::g_run.TextPath[karvelo::kIdEntry] = ToWide(folder);
    karvelo::g_run.TextFile[karvelo::kIdEntry] = L"list.csv";
    std::wstring field = L"unchanged";
    Check(exports::ReadTextSourceField(karvelo::kIdEntry, n, field) == read);
    if (read) {
        const bool inRange = n >= 1 && n <= exports::kTextFields;
        Check(field == (inRange ? exports::SplitTextLine(line)[static_cast<std::size_t>(n)] : L""));
    }
    return 0;
}
