#pragma once
// The automation interface answered by the workbook engine: the "application"
// is the engine, its one workbook a file held in memory and saved in place.
// No spreadsheet program is started or needed.
//
// Where a live application would keep the workbook open for the user, the
// engine has no window to keep it in: letting the workbook go (Close, Quit,
// or the last reference dropped at the end) saves changes not yet saved, so
// that records written with "save" off still reach the file.

#include "export/excel_automation.h"

namespace karvelo::exports {

// Creates the engine for "Excel.Application" and nothing for the other
// identifiers, which are only tried when that one fails.
excel::ApplicationFactory WorkbookEngineFactory();

}  // namespace karvelo::exports
