#pragma once
// Workbooks made and read for the tests by tools other than the station's own
// engine (tests/support/workbook_tool.py: openpyxl, zipfile, LibreOffice).

#include <cstdint>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace karvelo::testing::workbook {

inline std::string Tool() {
    return std::string(KARVELO_SOURCE_DIR) + "/tests/support/workbook_tool.py";
}

inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs the tool; its standard output, and its exit status into `status`.
inline std::string Run(const std::vector<std::string>& args, int* status) {
    std::string command = "/usr/bin/python3 " + Quote(Tool());
    for (const std::string& a : args) command += " " + Quote(a);
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    *status = ::pclose(pipe);
    return out;
}

// Runs the tool; its standard output. Throws when it fails.
inline std::string Run(const std::vector<std::string>& args) {
    int status = 0;
    std::string out = Run(args, &status);
    if (status != 0) throw std::runtime_error("failed: workbook_tool.py " + args.at(0));
    return out;
}

struct Cell {
    char kind = 0;  // n, s, b, f, e
    std::string value;
    friend bool operator==(const Cell&, const Cell&) = default;
};

inline std::vector<std::string> Rows(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(
            text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

// Every non-empty cell of the sheet by its address.
inline std::map<std::string, Cell> ReadCells(const std::string& path, const std::string& sheet) {
    std::map<std::string, Cell> cells;
    for (const std::string& line : Rows(Run({"cells", path, sheet}))) {
        const std::size_t a = line.find('\t');
        const std::size_t b = line.find('\t', a + 1);
        if (a == std::string::npos || b == std::string::npos) continue;
        cells[line.substr(0, a)] = Cell{line[a + 1], line.substr(b + 1)};
    }
    return cells;
}

// Each part of the package with the SHA-256 of its bytes.
inline std::map<std::string, std::string> EntryHashes(const std::string& path) {
    std::map<std::string, std::string> entries;
    for (const std::string& line : Rows(Run({"entries", path}))) {
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos) entries[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return entries;
}

inline std::string ActiveCell(const std::string& path, const std::string& sheet) {
    std::string out = Run({"active", path, sheet});
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

inline void Make(const std::string& path, const std::vector<std::string>& sheets) {
    std::vector<std::string> args = {"make", path};
    args.insert(args.end(), sheets.begin(), sheets.end());
    Run(args);
}

inline void MakeRich(const std::string& path) {
    Run({"make-rich", path});
}

// LibreOffice's CSV of the first sheet; `workFolder` holds its profile and output.
inline std::string ConvertToCsv(const std::string& path, const std::string& workFolder) {
    return Run({"csv", path, workFolder});
}

// Replaces (or adds) one part of the package with the bytes of `file`; makes
// a zip holding just that part when `path` does not exist.
inline void PutPart(const std::string& path, const std::string& part, const std::string& file) {
    Run({"put", path, part, file});
}

// Makes the zip's headers say that `part` inflates to `bytes` (a lie).
inline void ClaimSize(const std::string& path, const std::string& part, std::uint32_t bytes) {
    Run({"claim", path, part, std::to_string(bytes)});
}

// LibreOffice's own .xlsx of the file, written into `workFolder`; its path.
inline std::string Resave(const std::string& path, const std::string& workFolder) {
    std::string out = Run({"resave", path, workFolder});
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// The sheet's formatting as openpyxl sees it, one line each: merged ranges,
// column widths, defined names, and the cells that are bold, filled or not of
// the General number format.
inline std::string Layout(const std::string& path, const std::string& sheet) {
    return Run({"layout", path, sheet});
}

// Freezes the sheet's panes at `topLeft` with `cell` selected in the active pane.
inline void Freeze(const std::string& path, const std::string& sheet, const std::string& topLeft,
                   const std::string& cell) {
    Run({"freeze", path, sheet, topLeft, cell});
}

// Adds a calculation chain naming these cells of the first sheet.
inline void AddCalcChain(const std::string& path, const std::vector<std::string>& cells) {
    std::vector<std::string> args = {"calc-chain", path};
    args.insert(args.end(), cells.begin(), cells.end());
    Run(args);
}

// Empty when the sheet part's rows and cells all carry their positions in
// ascending order; otherwise the first offence.
inline std::string OrderFault(const std::string& path, const std::string& part) {
    int status = 0;
    std::string out = Run({"order", path, part}, &status);
    return status == 0 ? std::string() : out.empty() ? std::string("unreadable") : out;
}

// The bytes of one part of the package.
inline std::string Part(const std::string& path, const std::string& part) {
    return Run({"part", path, part});
}

}  // namespace karvelo::testing::workbook
