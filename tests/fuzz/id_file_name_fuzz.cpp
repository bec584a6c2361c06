// libFuzzer target: the step that turns an ID text (typed, scanned or taken
// from a list file) into the name of the file its records go to.
//
// Input: byte 0 says how the rest becomes text (bit 0: four bytes per
// character, any 32-bit value; otherwise one byte per character).
//
// Checked: no memory error or undefined behaviour; the name is a plain file
// name in the export folder: "<ID, at most 254 characters>.csv" or "ID.csv",
// made of ASCII letters, digits, '-', '.' and '_' only, so no ID can reach
// another folder.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "export/csv_export.h"
#include "fuzz_support.h"

namespace {

using karvelo::fuzz::Check;

constexpr std::size_t kIdChars = 254;

bool IsPlain(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') ||
           c == L'-' || c == L'.' || c == L'_';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::wstring id = karvelo::fuzz::WideText(data + 1, size - 1, (data[0] & 1) != 0);
    const std::wstring name = karvelo::exports::IdFileName(id);

    Check(name.ends_with(L".csv"));
    if (id.empty()) {
        Check(name == L"ID.csv");
    } else {
        Check(name.size() == std::min(id.size(), kIdChars) + 4);
    }
    for (const wchar_t c : name) Check(IsPlain(c));
    // Characters that are plain already stay as they are.
    for (std::size_t i = 0; i < std::min(id.size(), kIdChars); ++i) {
        if (IsPlain(id[i]) && id[i] != L'_') Check(name[i] == id[i]);
    }
    return 0;
}
