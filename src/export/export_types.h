#pragma once
// The export-type table: one row per export type (key exporttype of section
// EXPORT), with its entry in the window's list, where its file name comes
// from, how ">>" chooses the target, and what a record becomes. Code outside
// the table asks the row; it never compares an export type number. A new
// export target is a new row, a new `ExportTarget` and its writer in
// export_record.cpp.

#include <span>

#include "state/run_state.h"

namespace karvelo::exports {

// Where a type's file name comes from, and so what the file-name field shows.
enum class FileName {
    None,         // no file
    CsvFileName,  // key file_csv
    IdFileName,   // the record's ID ("ID.csv" until an ID is read)
    XlsFileName,  // key file_xls
};

// What ">>" asks the operator for.
enum class Chooser {
    None,
    CsvFile,         // a CSV file, new or existing
    Folder,          // the folder of the ID-named files
    WorkbookDialog,  // the workbook export's own dialog
};

// What a record becomes.
enum class ExportTarget {
    None,       // nothing is written
    CsvSingle,  // the only line of its CSV file
    CsvMulti,   // a line appended to its CSV file
    Workbook,   // cells of the workbook
    Unknown,    // a number no row has (a hand-edited file): reported, not written
};

struct ExportType {
    ExportKind kind;
    const char* listText;  // its entry in the window's list; nullptr: not listed
    FileName fileName;
    Chooser chooser;
    ExportTarget target;
    bool withTexts;  // workbook: the text slots are written too

    bool IsCsv() const {
        return target == ExportTarget::CsvSingle || target == ExportTarget::CsvMulti;
    }
    // Lines taken while it has no file name wait for the file chosen next.
    bool KeepsUnnamedLines() const {
        return target == ExportTarget::CsvMulti && fileName == FileName::CsvFileName;
    }
};

// The row of `kind`; a number without a row gets a row whose target is Unknown.
const ExportType& ExportTypeOf(ExportKind kind);

// Every row, in the order of their numbers.
std::span<const ExportType> ExportTypes();

}  // namespace karvelo::exports
