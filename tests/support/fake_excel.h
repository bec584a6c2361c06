#pragma once
// An automation application in memory: worksheets as maps of cells, each
// sheet's selection, and a log of every call in the order it was made.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "export/excel_automation.h"

namespace karvelo::testing {

struct FakeExcelState {
    struct Sheet {
        std::map<std::pair<int, int>, std::wstring> cells;  // (row, column) -> text
        std::pair<int, int> selection{1, 1};
    };
    std::map<std::wstring, Sheet> sheets{{L"Tabelle1", {}}};
    std::wstring activeSheet = L"Tabelle1";
    std::vector<std::wstring> log;
    std::wstring failOpen;  // Open throws this text when set
    std::wstring failSave;  // Save throws this text when set
    int created = 0;        // applications created
    bool applicationAlive = false;

    static std::wstring Address(int row, int column) {
        std::wstring letters;
        for (int c = column; c > 0; c = (c - 1) / 26) {
            letters.insert(letters.begin(), static_cast<wchar_t>(L'A' + (c - 1) % 26));
        }
        return letters + std::to_wstring(row);
    }
    // "B7" -> (7, 2); (0, 0) for anything else.
    static std::pair<int, int> Parse(std::wstring_view text) {
        std::size_t i = 0;
        int column = 0;
        while (i < text.size() && text[i] >= L'A' && text[i] <= L'Z') {
            column = column * 26 + (text[i++] - L'A' + 1);
        }
        int row = 0;
        const std::size_t digits = i;
        while (i < text.size() && text[i] >= L'0' && text[i] <= L'9')
            row = row * 10 + (text[i++] - L'0');
        if (column == 0 || i == digits || i != text.size() || row == 0) return {0, 0};
        return {row, column};
    }
    std::wstring Cell(const std::wstring& sheet, const std::wstring& address) {
        const auto at = Parse(address);
        auto& cells = sheets[sheet].cells;
        auto it = cells.find(at);
        return it == cells.end() ? std::wstring() : it->second;
    }
};

class FakeExcel {
  public:
    using State = FakeExcelState;

    class Range : public exports::excel::Range {
      public:
        Range(std::shared_ptr<State> s, std::wstring sheet, int row, int column)
            : s_(std::move(s)), sheet_(std::move(sheet)), row_(row), column_(column) {}
        void Select() override {
            s_->log.push_back(L"Select " + Here());
            s_->sheets[sheet_].selection = {row_, column_};
        }
        std::unique_ptr<exports::excel::Range> Offset(std::int16_t r, std::int16_t c) override {
            if (row_ + r < 1 || column_ + c < 1) throw exports::excel::AutomationError(L"offset");
            return std::make_unique<Range>(s_, sheet_, row_ + r, column_ + c);
        }
        void PutValue(std::wstring_view text) override {
            s_->log.push_back(L"Value " + Here() + L"=" + std::wstring(text));
            Put(std::wstring(text));
        }
        exports::excel::Variant GetValue2() override {
            exports::excel::Variant v;
            auto& cells = s_->sheets[sheet_].cells;
            auto it = cells.find({row_, column_});
            if (it != cells.end()) {
                v.kind = exports::excel::Variant::Kind::Text;
                v.text = it->second;
            }
            return v;
        }
        void PutValue2(std::int32_t value) override {
            s_->log.push_back(L"Value2 " + Here() + L"=" + std::to_wstring(value));
            Put(std::to_wstring(value));
        }
        std::int32_t Column() override { return column_; }
        std::int32_t Row() override { return row_; }

      private:
        std::wstring Here() const { return State::Address(row_, column_); }
        void Put(std::wstring text) {
            auto& cells = s_->sheets[sheet_].cells;
            if (text.empty()) {
                cells.erase({row_, column_});
            } else {
                cells[{row_, column_}] = std::move(text);
            }
        }
        std::shared_ptr<State> s_;
        std::wstring sheet_;
        int row_;
        int column_;
    };

    class Worksheet : public exports::excel::Worksheet {
      public:
        Worksheet(std::shared_ptr<State> s, std::wstring name)
            : s_(std::move(s)), name_(std::move(name)) {}
        void Activate() override {
            s_->log.push_back(L"Activate " + name_);
            s_->activeSheet = name_;
        }
        std::unique_ptr<exports::excel::Range> GetRange(std::wstring_view address) override {
            s_->log.push_back(L"Range " + std::wstring(address));
            const auto at = State::Parse(address);
            if (at.first == 0)
                throw exports::excel::AutomationError(L"bad address " + std::wstring(address));
            return std::make_unique<Range>(s_, name_, at.first, at.second);
        }

      private:
        std::shared_ptr<State> s_;
        std::wstring name_;
    };

    class Worksheets : public exports::excel::Worksheets {
      public:
        explicit Worksheets(std::shared_ptr<State> s) : s_(std::move(s)) {}
        std::shared_ptr<exports::excel::Worksheet> Item(std::wstring_view name) override {
            s_->log.push_back(L"Item " + std::wstring(name));
            if (!s_->sheets.count(std::wstring(name)))
                throw exports::excel::AutomationError(L"no sheet " + std::wstring(name));
            return std::make_shared<Worksheet>(s_, std::wstring(name));
        }

      private:
        std::shared_ptr<State> s_;
    };

    class Workbook : public exports::excel::Workbook {
      public:
        explicit Workbook(std::shared_ptr<State> s) : s_(std::move(s)) {}
        std::shared_ptr<exports::excel::Worksheets> GetWorksheets() override {
            s_->log.push_back(L"Worksheets");
            return std::make_shared<Worksheets>(s_);
        }
        void Save() override {
            s_->log.push_back(L"Save");
            if (!s_->failSave.empty()) throw exports::excel::AutomationError(s_->failSave);
        }

      private:
        std::shared_ptr<State> s_;
    };

    class Workbooks : public exports::excel::Workbooks {
      public:
        explicit Workbooks(std::shared_ptr<State> s) : s_(std::move(s)) {}
        std::shared_ptr<exports::excel::Workbook> Open(std::wstring_view name) override {
            s_->log.push_back(L"Open " + std::wstring(name));
            if (!s_->failOpen.empty()) throw exports::excel::AutomationError(s_->failOpen);
            return std::make_shared<Workbook>(s_);
        }
        void Close() override { s_->log.push_back(L"Close"); }

      private:
        std::shared_ptr<State> s_;
    };

    class Application : public exports::excel::Application {
      public:
        explicit Application(std::shared_ptr<State> s) : s_(std::move(s)) {
            s_->applicationAlive = true;
        }
        ~Application() override { s_->applicationAlive = false; }
        void PutVisible(bool v) override { s_->log.push_back(L"Visible=" + std::to_wstring(v)); }
        void PutInteractive(bool v) override {
            s_->log.push_back(L"Interactive=" + std::to_wstring(v));
        }
        void PutUserControl(bool v) override {
            s_->log.push_back(L"UserControl=" + std::to_wstring(v));
        }
        std::shared_ptr<exports::excel::Workbooks> GetWorkbooks() override {
            s_->log.push_back(L"Workbooks");
            return std::make_shared<Workbooks>(s_);
        }
        std::unique_ptr<exports::excel::Range> ActiveCell() override {
            s_->log.push_back(L"ActiveCell");
            const auto at = s_->sheets[s_->activeSheet].selection;
            return std::make_unique<Range>(s_, s_->activeSheet, at.first, at.second);
        }
        void Quit() override { s_->log.push_back(L"Quit"); }

      private:
        std::shared_ptr<State> s_;
    };

    // A factory that creates applications for "Excel.Application" only.
    static exports::excel::ApplicationFactory Factory(std::shared_ptr<State> state) {
        return [state](std::wstring_view progId) -> std::shared_ptr<exports::excel::Application> {
            if (progId != L"Excel.Application") return nullptr;
            ++state->created;
            return std::make_shared<Application>(state);
        };
    }
};

}  // namespace karvelo::testing
