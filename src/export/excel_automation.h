#pragma once
// The automation interface the workbook export talks to: exactly the members
// of the spreadsheet application's object model that the export calls. The
// default implementation is the workbook engine (export/workbook_application.h);
// a live spreadsheet application can be put behind the same interface without
// touching the export.
//
// Every call may throw AutomationError with the application's error text. All
// calls are made on the user-interface thread.

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace karvelo::exports::excel {

class AutomationError : public std::exception {
  public:
    explicit AutomationError(std::wstring text);
    const std::wstring& text() const { return text_; }
    const char* what() const noexcept override { return narrow_.c_str(); }

  private:
    std::wstring text_;
    std::string narrow_;
};

// What Value2 gives back.
struct Variant {
    enum class Kind { Empty, Text, Number, Boolean, Error };
    Kind kind = Kind::Empty;
    double number = 0.0;
    std::wstring text;
};

class Range {
  public:
    virtual ~Range() = default;
    virtual void Select() = 0;
    // The cell `rowOffset` rows down and `columnOffset` columns right of this one.
    virtual std::unique_ptr<Range> Offset(std::int16_t rowOffset, std::int16_t columnOffset) = 0;
    // Value, put with a text (the application decides what the text becomes).
    virtual void PutValue(std::wstring_view text) = 0;
    virtual Variant GetValue2() = 0;
    virtual void PutValue2(std::int32_t value) = 0;
    virtual std::int32_t Column() = 0;
    virtual std::int32_t Row() = 0;
};

class Worksheet {
  public:
    virtual ~Worksheet() = default;
    virtual void Activate() = 0;
    // The cell at an A1-style address.
    virtual std::unique_ptr<Range> GetRange(std::wstring_view address) = 0;
};

class Worksheets {
  public:
    virtual ~Worksheets() = default;
    virtual std::shared_ptr<Worksheet> Item(std::wstring_view name) = 0;
};

class Workbook {
  public:
    virtual ~Workbook() = default;
    virtual std::shared_ptr<Worksheets> GetWorksheets() = 0;
    virtual void Save() = 0;
};

class Workbooks {
  public:
    virtual ~Workbooks() = default;
    virtual std::shared_ptr<Workbook> Open(std::wstring_view fileName) = 0;
    virtual void Close() = 0;
};

class Application {
  public:
    virtual ~Application() = default;
    virtual void PutVisible(bool visible) = 0;
    virtual void PutInteractive(bool interactive) = 0;
    virtual void PutUserControl(bool userControl) = 0;
    virtual std::shared_ptr<Workbooks> GetWorkbooks() = 0;
    virtual std::unique_ptr<Range> ActiveCell() = 0;
    virtual void Quit() = 0;
};

// Creates a new application instance for a programmatic identifier
// ("Excel.Application", ...); nullptr when the identifier names nothing
// that can be created.
using ApplicationFactory = std::function<std::shared_ptr<Application>(std::wstring_view progId)>;

}  // namespace karvelo::exports::excel
