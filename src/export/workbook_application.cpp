#include "export/workbook_application.h"

#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "platform/numbers.h"
#include "platform/report.h"
#include "platform/text_encoding.h"
#include "platform/xlsx/workbook.h"

namespace karvelo::exports {
namespace {

namespace xlsx = platform::xlsx;
using excel::AutomationError;

// The engine's state, shared by every object the application hands out, as
// the objects of a live application share its process.
// A workbook that needs more memory than the station can have is a message,
// never the end of the station.
std::wstring NoMemory(const std::string& path) {
    return (path.empty() ? std::wstring(L"The workbook")
                         : L"The workbook " + platform::Utf8ToWide(path)) +
           L" needs more memory than the station can have; it is not read.";
}

struct Engine {
    std::unique_ptr<xlsx::Workbook> book;

    ~Engine() {
        // The last reference is gone (the end of the station with the
        // workbook left "open"): what has not been saved yet is saved now.
        if (book == nullptr || !book->HasUnsavedChanges()) return;
        try {
            book->Save();
        } catch (const std::exception& error) {
            platform::Report(std::string("records not saved into the workbook: ") + error.what());
        }
    }

    xlsx::Workbook& Book() {
        if (book == nullptr) throw AutomationError(L"No workbook is open.");
        return *book;
    }

    void Save() {
        try {
            Book().Save();
        } catch (const xlsx::WorkbookError& error) {
            throw AutomationError(error.text() +
                                  L" The records written stay in memory and are saved with the "
                                  L"next save.");
        } catch (const std::bad_alloc&) {
            throw AutomationError(NoMemory(Book().Path()) +
                                  L" The records written stay in memory and are saved with the "
                                  L"next save.");
        }
    }

    // Lets the workbook go, saving it first when it holds unsaved records.
    // A workbook that cannot be saved is kept, so that nothing is lost.
    void Close() {
        if (book != nullptr && book->HasUnsavedChanges()) Save();
        book.reset();
    }

    // Another program (the operator's spreadsheet) has saved the file since:
    // take its version, unless records of ours are still unsaved.
    void Refresh() {
        xlsx::Workbook& current = Book();
        if (current.HasUnsavedChanges() || !current.ChangedOnDisk()) return;
        try {
            book = xlsx::Workbook::Open(current.Path());
        } catch (const xlsx::WorkbookError& error) {
            throw AutomationError(error.text());
        } catch (const std::bad_alloc&) {
            throw AutomationError(NoMemory(current.Path()));
        }
    }
};

using EnginePtr = std::shared_ptr<Engine>;

// The engine's failures are the application's errors.
template <typename Work>
auto Translate(Work work) -> decltype(work()) {
    try {
        return work();
    } catch (const xlsx::WorkbookError& error) {
        throw AutomationError(error.text());
    } catch (const std::bad_alloc&) {
        throw AutomationError(NoMemory({}));
    }
}

class EngineRange : public excel::Range {
  public:
    EngineRange(EnginePtr engine, int sheet, xlsx::CellPosition cell)
        : engine_(std::move(engine)), sheet_(sheet), cell_(cell) {}

    void Select() override {
        Translate([&] { engine_->Book().SelectCell(sheet_, cell_); });
    }

    std::unique_ptr<excel::Range> Offset(std::int16_t rows, std::int16_t columns) override {
        const std::int64_t row = std::int64_t{cell_.row} + rows;
        const std::int64_t column = std::int64_t{cell_.column} + columns;
        if (row < 1 || row > xlsx::kMaxRows || column < 1 || column > xlsx::kMaxColumns) {
            throw AutomationError(L"The cell " + platform::FormatInt(rows) + L" rows and " +
                                  platform::FormatInt(columns) + L" columns away from " +
                                  xlsx::FormatCellAddress(cell_) + L" lies outside the sheet.");
        }
        return std::make_unique<EngineRange>(
            engine_, sheet_,
            xlsx::CellPosition{static_cast<std::int32_t>(row), static_cast<std::int32_t>(column)});
    }

    void PutValue(std::wstring_view text) override {
        Translate([&] { engine_->Book().SetCellText(sheet_, cell_, text); });
    }

    excel::Variant GetValue2() override {
        const xlsx::CellValue value =
            Translate([&] { return engine_->Book().GetCell(sheet_, cell_); });
        excel::Variant v;
        v.number = value.number;
        v.text = value.text;
        switch (value.kind) {
            case xlsx::CellKind::Empty:
                v.kind = excel::Variant::Kind::Empty;
                break;
            case xlsx::CellKind::Number:
                v.kind = excel::Variant::Kind::Number;
                break;
            case xlsx::CellKind::Text:
                v.kind = excel::Variant::Kind::Text;
                break;
            case xlsx::CellKind::Boolean:
                v.kind = excel::Variant::Kind::Boolean;
                break;
            case xlsx::CellKind::Error:
                v.kind = excel::Variant::Kind::Error;
                break;
        }
        return v;
    }

    void PutValue2(std::int32_t value) override {
        Translate([&] { engine_->Book().SetCellNumber(sheet_, cell_, value); });
    }

    std::int32_t Column() override { return cell_.column; }
    std::int32_t Row() override { return cell_.row; }

  private:
    EnginePtr engine_;
    int sheet_;
    xlsx::CellPosition cell_;
};

class EngineWorksheet : public excel::Worksheet {
  public:
    EngineWorksheet(EnginePtr engine, int sheet) : engine_(std::move(engine)), sheet_(sheet) {}

    void Activate() override {
        Translate([&] { engine_->Book().ActivateSheet(sheet_); });
    }

    std::unique_ptr<excel::Range> GetRange(std::wstring_view address) override {
        const auto cell = xlsx::ParseCellAddress(address);
        if (!cell) {
            throw AutomationError(L"\"" + std::wstring(address) +
                                  L"\" is not the address of a cell (such as B7).");
        }
        return std::make_unique<EngineRange>(engine_, sheet_, *cell);
    }

  private:
    EnginePtr engine_;
    int sheet_;
};

class EngineWorksheets : public excel::Worksheets {
  public:
    explicit EngineWorksheets(EnginePtr engine) : engine_(std::move(engine)) {}

    std::shared_ptr<excel::Worksheet> Item(std::wstring_view name) override {
        engine_->Refresh();
        xlsx::Workbook& book = engine_->Book();
        const int sheet = book.FindSheet(name);
        if (sheet < 0) {
            std::wstring sheets;
            for (const std::wstring& s : book.SheetNames()) {
                sheets += (sheets.empty() ? L"\"" : L", \"") + s + L"\"";
            }
            throw AutomationError(L"The workbook " + platform::Utf8ToWide(book.Path()) +
                                  L" has no sheet named \"" + std::wstring(name) +
                                  L"\" (key sheet); its sheets are " + sheets + L".");
        }
        return std::make_shared<EngineWorksheet>(engine_, sheet);
    }

  private:
    EnginePtr engine_;
};

class EngineWorkbook : public excel::Workbook {
  public:
    explicit EngineWorkbook(EnginePtr engine) : engine_(std::move(engine)) {}

    std::shared_ptr<excel::Worksheets> GetWorksheets() override {
        return std::make_shared<EngineWorksheets>(engine_);
    }
    void Save() override { engine_->Save(); }

  private:
    EnginePtr engine_;
};

class EngineWorkbooks : public excel::Workbooks {
  public:
    explicit EngineWorkbooks(EnginePtr engine) : engine_(std::move(engine)) {}

    std::shared_ptr<excel::Workbook> Open(std::wstring_view fileName) override {
        const std::string path = platform::WideToUtf8(fileName);
        // The workbook already held is the one opened again, with its records.
        if (engine_->book == nullptr || engine_->book->Path() != path) {
            if (engine_->book != nullptr) engine_->Close();
            try {
                engine_->book = xlsx::Workbook::Open(path);
            } catch (const xlsx::WorkbookError& error) {
                throw AutomationError(error.text());
            } catch (const std::bad_alloc&) {
                throw AutomationError(NoMemory(path));
            }
        }
        return std::make_shared<EngineWorkbook>(engine_);
    }

    void Close() override { engine_->Close(); }

  private:
    EnginePtr engine_;
};

class EngineApplication : public excel::Application {
  public:
    EngineApplication() : engine_(std::make_shared<Engine>()) {}

    // Nothing to show or lock: the engine has no window.
    void PutVisible(bool) override {}
    void PutInteractive(bool) override {}
    void PutUserControl(bool) override {}

    std::shared_ptr<excel::Workbooks> GetWorkbooks() override {
        return std::make_shared<EngineWorkbooks>(engine_);
    }

    std::unique_ptr<excel::Range> ActiveCell() override {
        return Translate([&] {
            xlsx::Workbook& book = engine_->Book();
            const int sheet = book.ActiveSheet();
            return std::make_unique<EngineRange>(engine_, sheet, book.ActiveCell(sheet));
        });
    }

    void Quit() override { engine_->Close(); }

  private:
    EnginePtr engine_;
};

}  // namespace

excel::ApplicationFactory WorkbookEngineFactory() {
    return [](std::wstring_view progId) -> std::shared_ptr<excel::Application> {
        if (progId != L"Excel.Application") return nullptr;
        return std::make_shared<EngineApplication>();
    };
}

}  // namespace karvelo::exports
