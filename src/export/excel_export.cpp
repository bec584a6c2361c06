#include "export/excel_export.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <exception>
#include <utility>

#include "export/csv_export.h"
#include "export/excel_config.h"
#include "platform/durable_file.h"
#include "platform/numbers.h"
#include "platform/report.h"
#include "platform/text_encoding.h"
#include "state/control_ids.h"
#include "state/run_state.h"

namespace karvelo::exports {
namespace {

using excel::AutomationError;
using excel::Range;

constexpr std::wstring_view kErrorCaption = L"ERROR";
constexpr std::wstring_view kFileMissing = L"Excel file missing!";
constexpr std::wstring_view kApplicationMissing = L"Microsoft Office Excel missing!";
// What the application says comes in a box with the program's name.
constexpr std::wstring_view kApplicationCaption = L"KARVELO";

constexpr std::size_t kFullNameLimit = 1023;
constexpr std::size_t kFixedAddressLimit = 19;
constexpr int kLastColumn = 16384;

// The record's thirteen items: "no.", "date", "time", then slots 1 to 10.
constexpr int kNumberItem = 1;
constexpr int kDateItem = 2;
constexpr int kTimeItem = 3;
constexpr int kFirstSlotItem = 4;
constexpr int kRecordItems = kExcelDialogItems;

void ShowOpenButton(WindowPort& window, bool open) {
    window.ShowControl(kExcelOpenButton, open);
    window.ShowControl(kExcelCloseButton, !open);
}

bool FileExists(const std::wstring& path) {
    std::FILE* f = std::fopen(platform::WideToUtf8(path).c_str(), "rb");
    if (f == nullptr) return false;
    std::fclose(f);
    return true;
}

// The defined cell's address: "A1" when the key holds less than an address.
std::wstring DefinedAddress() {
    std::wstring address = g_run.ExcelRefAddress.str();
    return address.size() < 2 ? std::wstring(L"A1") : address;
}

void Report(const std::wstring& text) {
    platform::Report(text);
}

// Whether the cell holds anything, a formula's result included. An application
// that cannot read a cell back must not cost the record: a cell not known to
// hold something does not ask for a copy.
bool HoldsSomething(Range& cell) {
    try {
        return cell.GetValue2().kind != excel::Variant::Kind::Empty;
    } catch (const std::exception&) {
        return false;
    }
}

// "/x/book.xlsx" -> "/x/book.before-20261209-120000.xlsx"; "-2", "-3" ... are
// added when that name is taken, so that an earlier copy is never replaced.
std::string FreeCopyPath(const std::string& path, const std::string& stamp) {
    const std::size_t nameStart = path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1;
    std::size_t dot = path.rfind('.');
    // A leading dot starts the name, not an extension.
    if (dot == std::string::npos || dot <= nameStart) dot = path.size();
    const std::string stem = path.substr(0, dot) + ".before-" + stamp;
    const std::string extension = path.substr(dot);
    std::string candidate = stem + extension;
    struct stat st {};
    for (int n = 2; ::lstat(candidate.c_str(), &st) == 0; ++n) {
        candidate = stem + "-" + std::to_string(n) + extension;
    }
    return candidate;
}

}  // namespace

std::wstring CellAddressFromPosition(std::int32_t column, std::int32_t row) {
    std::wstring letters;
    if (column < 1 || column > kLastColumn) {
        letters = L"A";
    } else {
        // Bijective base 26: Z is followed by AA, not by A again, so that a
        // record shifted past column Z never lands on the first records.
        for (std::int32_t c = column; c > 0; c = (c - 1) / 26) {
            letters.insert(letters.begin(), static_cast<wchar_t>(L'A' + (c - 1) % 26));
        }
    }
    return letters + platform::FormatInt(row);
}

ExcelLink::ExcelLink(WindowPort& window, excel::ApplicationFactory factory, LocalClock clock)
    : window_(window), factory_(std::move(factory)), clock_(clock) {}

ExcelLink::~ExcelLink() = default;

void ExcelLink::ReportError(const AutomationError& error) {
    window_.MessageBox(kApplicationCaption, error.text(), MessageIcon::Error);
    window_.ShowExportProblem(error.text());
}

void ExcelLink::OpenExcel() {
    const std::wstring fileName = g_run.XlsFileName.str();
    if (fileName.size() < 3) {
        window_.MessageBox(kErrorCaption, kFileMissing, MessageIcon::None);
        return;
    }
    ShowOpenButton(window_, false);
    if (g_run.ExcelConnected) return;
    g_run.RecordNumber = 0;

    if (application_ == nullptr) {
        for (std::wstring_view progId : kExcelProgIds) {
            if (!factory_) break;
            try {
                application_ = factory_(progId);
            } catch (const AutomationError&) {
                application_ = nullptr;
            }
            if (application_ != nullptr) break;
        }
        if (application_ == nullptr) {
            window_.MessageBox(kErrorCaption, kApplicationMissing, MessageIcon::None);
            ShowOpenButton(window_, true);
            return;
        }
        try {
            application_->PutVisible(g_run.ExcelVisible);
            application_->PutInteractive(g_run.ExcelEdit);
            application_->PutUserControl(g_run.ExcelEdit);
            workbooks_ = application_->GetWorkbooks();
        } catch (const AutomationError& error) {
            ReportError(error);
            return;
        }
    }

    std::wstring fullName = ExportFolder() + fileName;
    if (fullName.size() > kFullNameLimit) fullName.resize(kFullNameLimit);
    if (!FileExists(fullName)) {
        window_.MessageBox(kErrorCaption, kFileMissing, MessageIcon::None);
        ShowOpenButton(window_, true);
        return;
    }
    try {
        if (workbooks_ == nullptr) throw AutomationError(L"The application has no workbooks.");
        workbook_ = workbooks_->Open(fullName);
        worksheets_ = workbook_->GetWorksheets();
    } catch (const AutomationError& error) {
        // The application stays; "close" stays shown until it is pressed.
        workbook_ = nullptr;
        worksheets_ = nullptr;
        ReportError(error);
        return;
    }
    g_run.ExcelConnected = true;
    // Each attachment is a run of its own: a form filled afresh keeps what
    // the earlier run left in it.
    workbookPath_ = fullName;
    copyTried_ = false;
    ShowOpenButton(window_, false);
    window_.ShowControl(kSendButton, true);
}

void ExcelLink::CloseExcel() {
    ShowOpenButton(window_, true);
    if (!g_run.ExcelConnected || application_ == nullptr) return;
    try {
        if (workbooks_ != nullptr) workbooks_->Close();
    } catch (const AutomationError& error) {
        // Records not yet in the file would go with the workbook: it stays
        // attached, and "close" can be pressed again once the cause is gone.
        ShowOpenButton(window_, false);
        ReportError(error);
        return;
    }
    worksheet_ = nullptr;
    worksheets_ = nullptr;
    workbook_ = nullptr;
    workbooks_ = nullptr;
    try {
        application_->Quit();
    } catch (const AutomationError& error) {
        ReportError(error);
    }
    application_ = nullptr;
    g_run.ExcelConnected = false;
}

WorkbookWrite ExcelLink::WriteExcelRecord(const Record& record, bool withTextSlots) {
    if (g_run.ExcelOpen) OpenExcel();
    if (!g_run.ExcelConnected || application_ == nullptr || worksheets_ == nullptr) {
        ReportRecordNotWritten(window_,
                               L"The workbook is not open (\"open\"): this record is not "
                               L"written.");
        return WorkbookWrite::NotWritten;
    }
    // Once the cells hold the record and the reference has moved on, writing
    // it again would give it a second row: a save that fails leaves it there.
    bool inCells = false;
    copyName_.clear();
    copyProblem_.clear();
    try {
        application_->PutUserControl(false);
        application_->PutInteractive(false);
        worksheet_ = worksheets_->Item(g_run.ExcelSheet.str());

        std::unique_ptr<Range> reference;
        switch (static_cast<ExcelReferenceMode>(g_run.ExcelRefMode.load())) {
            case ExcelReferenceMode::ActiveCell:
                reference = application_->ActiveCell();
                break;
            case ExcelReferenceMode::DefinedCell:
                worksheet_->Activate();
                reference = worksheet_->GetRange(DefinedAddress());
                if (reference) reference->Select();
                break;
            case ExcelReferenceMode::AddressInCell: {
                worksheet_->Activate();
                const excel::Variant held =
                    worksheet_->GetRange(g_run.ExcelRefAddress.str())->GetValue2();
                const std::wstring address =
                    held.kind == excel::Variant::Kind::Text ? held.text : std::wstring(L"A1");
                reference = worksheet_->GetRange(address);
                if (reference) reference->Select();
                break;
            }
            default:
                throw AutomationError(L"The reference mode " +
                                      platform::FormatInt(g_run.ExcelRefMode) +
                                      L" (key refmode) is not known: the record is not written.");
        }
        if (reference == nullptr) throw AutomationError(L"The reference cell cannot be found.");

        g_run.RecordNumber = g_run.RecordNumber + 1;
        WriteItems(record, *reference, withTextSlots);
        if (g_run.ExcelShiftMode != 0) Shift();
        inCells = true;
        if (g_run.ExcelSave) workbook_->Save();
        if (g_run.ExcelEdit) {
            application_->PutInteractive(true);
            application_->PutUserControl(true);
        }
    } catch (const AutomationError& error) {
        ReportError(error);
        return inCells ? WorkbookWrite::NotSaved : WorkbookWrite::NotWritten;
    }
    std::wstring where = ExportFolder() + g_run.XlsFileName.str();
    if (!copyName_.empty()) where += L" (the workbook as it was is kept in " + copyName_ + L")";
    window_.ShowRecordWritten(record.localTime, where);
    // All is well again: the problem line shows only CSV lines still waiting.
    RetryPendingRecords(window_);
    // Unless the workbook's earlier content could not be kept: that is told
    // until the next record.
    if (!copyProblem_.empty()) window_.ShowExportProblem(copyProblem_);
    return WorkbookWrite::Written;
}

void ExcelLink::WriteItems(const Record& record, Range& reference, bool withTextSlots) {
    for (int item = 1; item <= kRecordItems; ++item) {
        if (!g_run.ExcelValueOn[item]) continue;
        const int slot = item - kFirstSlotItem + 1;
        if (item >= kFirstSlotItem && !WorkbookSlotApplies(record, slot, withTextSlots)) continue;

        std::unique_ptr<Range> target;
        if (g_run.ExcelRelative[item]) {
            target = reference.Offset(static_cast<std::int16_t>(g_run.ExcelRow[item].load()),
                                      static_cast<std::int16_t>(g_run.ExcelColumn[item].load()));
        } else {
            worksheet_->Activate();
            std::wstring address =
                g_run.ExcelColumnText[item].str() + g_run.ExcelRowText[item].str();
            if (address.size() > kFixedAddressLimit) address.resize(kFixedAddressLimit);
            target = worksheet_->GetRange(address);
        }
        if (target == nullptr) throw AutomationError(L"A cell of the record cannot be found.");
        // Nothing is saved between this and the cell's write, so the file on
        // disk is still the workbook as it was before this record.
        if (!copyTried_ && HoldsSomething(*target)) KeepWorkbookAsItWas();

        switch (item) {
            case kNumberItem:
                target->PutValue2(g_run.RecordNumber);
                break;
            case kDateItem:
                target->PutValue(record.localDate);
                break;
            case kTimeItem:
                target->PutValue(record.localTime);
                break;
            default:
                target->PutValue(WorkbookSlotText(record, slot));
                break;
        }
    }
}

void ExcelLink::KeepWorkbookAsItWas() {
    copyTried_ = true;
    std::tm local{};
    char stamp[32] = "unknown-time";
    if (clock_ != nullptr && clock_(local))
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);

    const std::string path = platform::WideToUtf8(workbookPath_);
    const std::string copy = FreeCopyPath(path, stamp);
    std::string problem;
    std::string bytes;
    std::wstring failure;
    if (!platform::ReadWholeFile(path, bytes, problem)) {
        failure = L"reading " + workbookPath_ + L": " + platform::Utf8ToWide(problem);
    } else {
        problem = platform::ReplaceFileAtomically(copy, bytes);
        if (!problem.empty()) {
            failure =
                L"writing " + platform::Utf8ToWide(copy) + L": " + platform::Utf8ToWide(problem);
        }
    }
    const std::wstring overwrite =
        L"This record writes over cells of " + workbookPath_ + L" that hold something";
    if (!failure.empty()) {
        copyProblem_ = overwrite + L", and no copy of the workbook as it was could be made (" +
                       failure + L"); the record goes into the workbook all the same.";
        Report(copyProblem_);
        return;
    }
    // The copy is readable by whoever could read the workbook.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) ::chmod(copy.c_str(), st.st_mode & 07777);
    const std::size_t slash = copy.rfind('/');
    copyName_ = platform::Utf8ToWide(slash == std::string::npos ? copy : copy.substr(slash + 1));
    Report(overwrite + L"; the workbook as it was is kept in " + platform::Utf8ToWide(copy) + L".");
}

void ExcelLink::Shift() {
    std::unique_ptr<Range> active = application_->ActiveCell();
    if (active == nullptr) return;
    std::unique_ptr<Range> next =
        active->Offset(static_cast<std::int16_t>(g_run.ExcelAutoShiftRow.load()),
                       static_cast<std::int16_t>(g_run.ExcelAutoShiftColumn.load()));
    if (next == nullptr) return;
    next->Select();
    const auto mode = static_cast<ExcelReferenceMode>(g_run.ExcelRefMode.load());
    if (mode == ExcelReferenceMode::DefinedCell) {
        // Only the running station moves on; the file keeps the configured cell.
        g_run.ExcelRefAddress = CellAddressFromPosition(next->Column(), next->Row());
    } else if (mode == ExcelReferenceMode::AddressInCell) {
        worksheet_->GetRange(g_run.ExcelRefAddress.str())
            ->PutValue(CellAddressFromPosition(next->Column(), next->Row()));
    }
}

void ExcelLink::ReleaseAll() {
    worksheet_ = nullptr;
    worksheets_ = nullptr;
    workbook_ = nullptr;
    workbooks_ = nullptr;
    application_ = nullptr;
    g_run.ExcelConnected = false;
}

void ExcelLink::EndSequence() {
    if (g_run.ExcelSave && workbook_ != nullptr) {
        try {
            workbook_->Save();
        } catch (const AutomationError& error) {
            ReportError(error);
        }
    }
    if (g_run.ExcelClose || !g_run.ExcelVisible) CloseExcel();
    // Whatever is still held is let go without further calls: the workbook
    // stays with the application for the user.
    if (application_ != nullptr) ReleaseAll();
}

}  // namespace karvelo::exports
