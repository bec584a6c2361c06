#pragma once
// Unattended operation (--batch) and the dialogs that depend on it: in batch
// mode nobody is there to answer, so message boxes go to standard error, file
// and folder choosers are cancelled. The choosers never open a file they list
// and never list the record journal's files (records.sqlite*), whose SQLite
// locks a close in this process would drop.

#include <QString>
#include <optional>

class QWidget;

namespace karvelo::app {

void SetBatchMode(bool batch);
bool BatchMode();

// An existing file matching "*.csv*", starting in `folder`; nullopt when
// cancelled (always in batch mode).
std::optional<QString> ChooseExistingCsvFile(QWidget* parent, const QString& folder);

// An existing workbook matching "*.xls*", starting in `folder`; nullopt when
// cancelled (always in batch mode).
std::optional<QString> ChooseExistingWorkbook(QWidget* parent, const QString& folder);

// A CSV file to write records to: an existing file or the name of a new one,
// starting in `folder` with `name` proposed; nullopt when cancelled (always in
// batch mode). An existing file is taken as it is, without asking whether to
// replace it: the export appends to it or replaces only its record.
std::optional<QString> ChooseCsvExportFile(QWidget* parent, const QString& folder,
                                           const QString& name);

// An existing folder, starting at `folder`; nullopt when cancelled (always in
// batch mode). The result has no trailing separator unless it is the root.
std::optional<QString> ChooseFolder(QWidget* parent, const QString& title, const QString& folder);

}  // namespace karvelo::app
