// The workbook engine: the package's workbook part, its worksheets (parsed when
// first used and kept), the shared strings, and the changed parts written back.

#include "platform/xlsx/workbook.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <map>
#include <pugixml.hpp>
#include <sstream>

#include "platform/text_encoding.h"
#include "platform/xlsx/zip_package.h"

namespace karvelo::platform::xlsx {
namespace {

constexpr const char* kWorksheetType =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet";
constexpr const char* kOfficeDocumentType =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument";
constexpr const char* kSharedStringsType =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings";
constexpr const char* kCalcChainType =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/calcChain";
constexpr unsigned kParseOptions =
    pugi::parse_default | pugi::parse_declaration | pugi::parse_ws_pcdata_single;

std::wstring W(const std::string& s) {
    return Utf8ToWide(s);
}

// Element names compared without their namespace prefix.
std::string_view Local(const char* name) {
    std::string_view n(name);
    const std::size_t colon = n.find(':');
    return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

pugi::xml_node Child(pugi::xml_node parent, std::string_view local) {
    for (pugi::xml_node n = parent.first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_element && Local(n.name()) == local) return n;
    }
    return {};
}

// The prefix ("x:" or "") the part's elements carry.
std::string PrefixOf(pugi::xml_node element) {
    std::string_view n(element.name());
    const std::size_t colon = n.find(':');
    return colon == std::string_view::npos ? std::string() : std::string(n.substr(0, colon + 1));
}

// Inserts a new element so that the children stay in the schema's order:
// after the last child whose name comes before it in `order`.
pugi::xml_node InsertOrdered(pugi::xml_node parent, const std::string& name,
                             std::initializer_list<std::string_view> order) {
    const std::string prefix = PrefixOf(parent);
    auto rank = [&](std::string_view local) {
        int i = 0;
        for (std::string_view o : order) {
            if (o == local) return i;
            ++i;
        }
        return -1;
    };
    const int mine = rank(name);
    pugi::xml_node after;
    for (pugi::xml_node n = parent.first_child(); n; n = n.next_sibling()) {
        if (n.type() != pugi::node_element) continue;
        const int r = rank(Local(n.name()));
        if (r >= 0 && r < mine) after = n;
    }
    const std::string full = prefix + name;
    return after ? parent.insert_child_after(full.c_str(), after)
                 : parent.prepend_child(full.c_str());
}

std::string Serialize(const pugi::xml_document& doc) {
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return out.str();
}

// A part's path from a relationship's target, relative to the part's folder.
std::string ResolveTarget(const std::string& sourcePart, const std::string& target) {
    if (!target.empty() && target[0] == '/') return target.substr(1);
    std::string base = sourcePart.substr(0, sourcePart.rfind('/') + 1);
    std::vector<std::string> parts;
    std::string joined = base + target;
    std::size_t start = 0;
    while (start <= joined.size()) {
        const std::size_t slash = std::min(joined.find('/', start), joined.size());
        const std::string piece = joined.substr(start, slash - start);
        if (piece == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!piece.empty() && piece != ".") {
            parts.push_back(piece);
        }
        start = slash + 1;
    }
    std::string path;
    for (const std::string& p : parts) path += (path.empty() ? "" : "/") + p;
    return path;
}

std::string RelsPathOf(const std::string& part) {
    const std::size_t slash = part.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : part.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? part : part.substr(slash + 1);
    return folder + "_rels/" + name + ".rels";
}

// The column of a cell reference ("B7": 2). A sheet ends at column XFD, so
// more than three letters are no column of it: they count as past the last,
// before the arithmetic could overflow.
std::int32_t ColumnOfRef(const char* ref) {
    constexpr int kMaxLetters = 3;
    constexpr std::int32_t kPastLastColumn = 16385;
    std::int32_t column = 0;
    int letters = 0;
    for (const char* p = ref; *p >= 'A' && *p <= 'Z'; ++p) {
        if (++letters > kMaxLetters) return kPastLastColumn;
        column = column * 26 + (*p - 'A' + 1);
    }
    return column;
}

std::string Narrow(std::wstring_view text) {
    return WideToUtf8(text);
}

std::string RefOf(CellPosition cell) {
    return Narrow(FormatCellAddress(cell));
}

// Characters XML cannot carry are written as the file format escapes them
// (_xHHHH_), and a literal "_x" that would read as such an escape is escaped.
std::string EscapeCellText(std::wstring_view text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        const bool control =
            (c < 0x20 && c != L'\t' && c != L'\n' && c != L'\r') || c == 0xFFFE || c == 0xFFFF;
        bool literalEscape = false;
        if (c == L'_' && i + 6 < text.size() + 0 && text[i + 1] == L'x' && text[i + 6] == L'_') {
            literalEscape = std::all_of(text.begin() + static_cast<std::ptrdiff_t>(i) + 2,
                                        text.begin() + static_cast<std::ptrdiff_t>(i) + 6,
                                        [](wchar_t h) { return std::iswxdigit(h); });
        }
        if (control || literalEscape) {
            wchar_t buffer[16];
            std::swprintf(buffer, 16, L"_x%04X_", static_cast<unsigned>(c));
            out += buffer;
        } else {
            out += c;
        }
    }
    return Narrow(out);
}

std::wstring UnescapeCellText(const std::string& utf8) {
    const std::wstring text = W(utf8);
    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'_' && i + 6 < text.size() && text[i + 1] == L'x' && text[i + 6] == L'_' &&
            std::all_of(text.begin() + static_cast<std::ptrdiff_t>(i) + 2,
                        text.begin() + static_cast<std::ptrdiff_t>(i) + 6,
                        [](wchar_t h) { return std::iswxdigit(h); })) {
            out += static_cast<wchar_t>(std::wcstoul(text.substr(i + 2, 4).c_str(), nullptr, 16));
            i += 6;
        } else {
            out += text[i];
        }
    }
    return out;
}

// All text of a string item, its phonetic runs left out.
std::string ItemText(pugi::xml_node item) {
    std::string text;
    for (pugi::xml_node n = item.first_child(); n; n = n.next_sibling()) {
        const std::string_view name = Local(n.name());
        if (name == "t") {
            text += n.text().get();
        } else if (name == "r") {
            if (pugi::xml_node t = Child(n, "t")) text += t.text().get();
        }
    }
    return text;
}

bool SameName(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    }
    return true;
}

struct Sheet {
    std::wstring name;
    std::string part;
    int tabIndex = 0;  // among all sheets, chart sheets included
    bool loaded = false;
    bool dirty = false;
    bool resultsDropped = false;
    pugi::xml_document doc;
    pugi::xml_node sheetData;
    std::map<std::int32_t, pugi::xml_node> rows;
};

class PackageWorkbook : public Workbook {
  public:
    explicit PackageWorkbook(const std::string& path) : path_(path), package_(path) {
        stamp_ = StampOf(path);
        LoadWorkbookPart();
    }

    const std::string& Path() const override { return path_; }

    std::vector<std::wstring> SheetNames() const override {
        std::vector<std::wstring> names;
        for (const auto& s : sheets_) names.push_back(s->name);
        return names;
    }

    int FindSheet(std::wstring_view name) const override {
        for (std::size_t i = 0; i < sheets_.size(); ++i) {
            if (SameName(sheets_[i]->name, name)) return static_cast<int>(i);
        }
        return -1;
    }

    int ActiveSheet() const override {
        for (std::size_t i = 0; i < sheets_.size(); ++i) {
            if (sheets_[i]->tabIndex == activeTab_) return static_cast<int>(i);
        }
        return sheets_.empty() ? -1 : 0;
    }

    void ActivateSheet(int sheet) override {
        Sheet& target = SheetAt(sheet);
        if (target.tabIndex == activeTab_) return;
        const int old = ActiveSheet();
        pugi::xml_node bookViews = Child(workbookRoot(), "bookViews");
        if (!bookViews) {
            bookViews = InsertOrdered(
                workbookRoot(), "bookViews",
                {"fileVersion", "fileSharing", "workbookPr", "workbookProtection", "bookViews"});
        }
        pugi::xml_node view = Child(bookViews, "workbookView");
        if (!view) view = bookViews.append_child((PrefixOf(bookViews) + "workbookView").c_str());
        SetAttribute(view, "activeTab", std::to_string(target.tabIndex));
        activeTab_ = target.tabIndex;
        workbookDirty_ = true;
        if (old >= 0) SetTabSelected(SheetAt(old), false);
        SetTabSelected(target, true);
    }

    CellPosition ActiveCell(int sheet) const override {
        // A sheet is parsed on first use, reading included.
        auto* self = const_cast<PackageWorkbook*>(this);
        pugi::xml_node selection = self->ActiveSelection(self->Loaded(sheet), false);
        if (selection) {
            if (auto cell = ParseCellAddress(W(selection.attribute("activeCell").value()))) {
                return *cell;
            }
        }
        return CellPosition{};
    }

    void SelectCell(int sheet, CellPosition cell) override {
        Sheet& s = Loaded(sheet);
        pugi::xml_node selection = ActiveSelection(s, true);
        const std::string ref = RefOf(cell);
        if (std::string_view(selection.attribute("activeCell").value()) == ref &&
            std::string_view(selection.attribute("sqref").value()) == ref) {
            return;
        }
        SetAttribute(selection, "activeCell", ref);
        selection.remove_attribute("activeCellId");
        SetAttribute(selection, "sqref", ref);
        s.dirty = true;
    }

    CellValue GetCell(int sheet, CellPosition cell) const override {
        auto* self = const_cast<PackageWorkbook*>(this);
        Sheet& s = self->Loaded(sheet);
        CellValue value;
        pugi::xml_node c = self->FindCell(s, cell, false);
        if (!c) return value;
        const std::string_view type = c.attribute("t").value();
        pugi::xml_node v = Child(c, "v");
        if (type == "inlineStr") {
            value.kind = CellKind::Text;
            value.text = UnescapeCellText(ItemText(Child(c, "is")));
        } else if (!v) {
            return value;
        } else if (type == "s") {
            value.kind = CellKind::Text;
            value.text = self->SharedString(v.text().as_int(-1));
        } else if (type == "str") {
            value.kind = CellKind::Text;
            value.text = UnescapeCellText(v.text().get());
        } else if (type == "b") {
            value.kind = CellKind::Boolean;
            value.number = std::string_view(v.text().get()) == "1" ? 1.0 : 0.0;
        } else if (type == "e") {
            value.kind = CellKind::Error;
            value.text = W(v.text().get());
        } else {
            double number = 0.0;
            if (ReadsAsNumber(W(v.text().get()), &number)) {
                value.kind = CellKind::Number;
                value.number = number;
            }
        }
        return value;
    }

    void SetCellText(int sheet, CellPosition cell, std::wstring_view text) override {
        if (text.empty() && !HoldsValue(Loaded(sheet), cell)) return;  // nothing to clear
        double number = 0.0;
        if (ReadsAsNumber(text, &number)) {
            SetCellNumber(sheet, cell, number);
            return;
        }
        pugi::xml_node c = Cleared(sheet, cell, !text.empty());
        if (text.empty()) return;
        c.append_attribute("t") = "inlineStr";
        const std::string prefix = PrefixOf(c);
        pugi::xml_node t =
            c.append_child((prefix + "is").c_str()).append_child((prefix + "t").c_str());
        const std::string escaped = EscapeCellText(text);
        if (!escaped.empty() && (std::isspace(static_cast<unsigned char>(escaped.front())) ||
                                 std::isspace(static_cast<unsigned char>(escaped.back())))) {
            t.append_attribute("xml:space") = "preserve";
        }
        t.text().set(escaped.c_str());
    }

    void SetCellNumber(int sheet, CellPosition cell, double value) override {
        pugi::xml_node c = Cleared(sheet, cell, true);
        char buffer[32];
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
        const std::string digits = ec == std::errc() ? std::string(buffer, end) : std::string("0");
        c.append_child((PrefixOf(c) + "v").c_str()).text().set(digits.c_str());
    }

    bool HasUnsavedChanges() const override {
        if (workbookDirty_ || calcChainRemoved_) return true;
        return std::any_of(sheets_.begin(), sheets_.end(), [](const auto& s) { return s->dirty; });
    }

    void Save() override {
        if (!HasUnsavedChanges()) return;
        RefuseWhenOpenElsewhere();
        std::map<std::string, std::string> replaced;
        std::map<std::string, bool> removed;
        for (const auto& s : sheets_) {
            if (s->dirty) replaced[s->part] = Serialize(s->doc);
        }
        if (workbookDirty_) replaced[workbookPart_] = Serialize(workbookDoc_);
        if (calcChainRemoved_) {
            removed[calcChainPart_] = true;
            replaced[RelsPathOf(workbookPart_)] = Serialize(workbookRelsDoc_);
            replaced["[Content_Types].xml"] = Serialize(contentTypesDoc_);
        }
        package_.Save(replaced, removed);
        for (const auto& s : sheets_) s->dirty = false;
        workbookDirty_ = false;
        if (calcChainRemoved_) calcChainPart_.clear();
        calcChainRemoved_ = false;
        stamp_ = StampOf(path_);
    }

    bool ChangedOnDisk() const override { return !(StampOf(path_) == stamp_); }

  private:
    pugi::xml_node workbookRoot() { return workbookDoc_.document_element(); }

    static void SetAttribute(pugi::xml_node node, const char* name, const std::string& value) {
        pugi::xml_attribute a = node.attribute(name);
        if (!a) a = node.append_attribute(name);
        a.set_value(value.c_str());
    }

    pugi::xml_document ParsePart(const std::string& part) {
        pugi::xml_document doc;
        const auto bytes = package_.Read(part);
        if (!bytes) {
            throw WorkbookError(L"The workbook " + W(path_) + L" has no part " + W(part) + L".");
        }
        const pugi::xml_parse_result result =
            doc.load_buffer(bytes->data(), bytes->size(), kParseOptions, pugi::encoding_auto);
        if (!result) {
            throw WorkbookError(L"The part " + W(part) + L" of the workbook " + W(path_) +
                                L" is damaged (" + W(result.description()) + L").");
        }
        return doc;
    }

    void LoadWorkbookPart() {
        if (package_.Has("xl/workbook.bin")) {
            throw WorkbookError(L"The workbook " + W(path_) +
                                L" is a binary workbook (.xlsb), which the station cannot write. "
                                L"Save it as .xlsx.");
        }
        // A zip of something else (an OpenDocument file, an archive): no package
        // relationships, so no workbook.
        if (!package_.Has("_rels/.rels")) {
            throw WorkbookError(L"The file " + W(path_) + L" is not a workbook (.xlsx or .xlsm).");
        }
        const pugi::xml_document rootRels = ParsePart("_rels/.rels");
        for (pugi::xml_node r : rootRels.document_element().children()) {
            if (std::string_view(r.attribute("Type").value()) == kOfficeDocumentType) {
                workbookPart_ = ResolveTarget("", r.attribute("Target").value());
            }
        }
        if (workbookPart_.empty() || !package_.Has(workbookPart_)) {
            throw WorkbookError(L"The file " + W(path_) + L" is not a workbook (.xlsx or .xlsm).");
        }
        workbookDoc_ = ParsePart(workbookPart_);
        workbookRelsDoc_ = ParsePart(RelsPathOf(workbookPart_));
        std::map<std::string, std::string> targets;  // relationship id -> part
        for (pugi::xml_node r : workbookRelsDoc_.document_element().children()) {
            const std::string_view type = r.attribute("Type").value();
            const std::string part = ResolveTarget(workbookPart_, r.attribute("Target").value());
            if (type == kWorksheetType) targets[r.attribute("Id").value()] = part;
            if (type == kSharedStringsType) sharedStringsPart_ = part;
            if (type == kCalcChainType) calcChainPart_ = part;
        }
        int tab = 0;
        for (pugi::xml_node s : Child(workbookRoot(), "sheets").children()) {
            if (Local(s.name()) != "sheet") continue;
            const char* id = s.attribute("r:id").value();
            for (pugi::xml_attribute a : s.attributes()) {
                if (Local(a.name()) == "id" && std::string_view(a.name()) != "sheetId")
                    id = a.value();
            }
            auto it = targets.find(id);
            if (it != targets.end()) {
                auto sheet = std::make_unique<Sheet>();
                sheet->name = W(s.attribute("name").value());
                sheet->part = it->second;
                sheet->tabIndex = tab;
                sheets_.push_back(std::move(sheet));
            }
            ++tab;
        }
        if (pugi::xml_node view = Child(Child(workbookRoot(), "bookViews"), "workbookView")) {
            activeTab_ = view.attribute("activeTab").as_int(0);
        }
    }

    Sheet& SheetAt(int sheet) const {
        if (sheet < 0 || static_cast<std::size_t>(sheet) >= sheets_.size()) {
            throw WorkbookError(L"The workbook " + W(path_) + L" has no such sheet.");
        }
        return *sheets_[static_cast<std::size_t>(sheet)];
    }

    // The sheet's XML, parsed once, with every row and cell given its
    // position and the rows indexed by number.
    Sheet& Loaded(int sheet) {
        Sheet& s = SheetAt(sheet);
        if (s.loaded) return s;
        s.doc = ParsePart(s.part);
        pugi::xml_node root = s.doc.document_element();
        s.sheetData = Child(root, "sheetData");
        if (!s.sheetData) {
            s.sheetData = InsertOrdered(
                root, "sheetData",
                {"sheetPr", "dimension", "sheetViews", "sheetFormatPr", "cols", "sheetData"});
        }
        std::int32_t rowNumber = 0;
        for (pugi::xml_node row = s.sheetData.first_child(); row; row = row.next_sibling()) {
            if (Local(row.name()) != "row") continue;
            rowNumber = row.attribute("r") ? row.attribute("r").as_int() : rowNumber + 1;
            if (!row.attribute("r")) row.append_attribute("r") = rowNumber;
            s.rows[rowNumber] = row;
            std::int32_t column = 0;
            for (pugi::xml_node c = row.first_child(); c; c = c.next_sibling()) {
                if (Local(c.name()) != "c") continue;
                if (c.attribute("r")) {
                    column = ColumnOfRef(c.attribute("r").value());
                } else {
                    ++column;
                    c.append_attribute("r") = RefOf({rowNumber, column}).c_str();
                }
            }
        }
        s.loaded = true;
        return s;
    }

    pugi::xml_node FindCell(Sheet& s, CellPosition cell, bool create) {
        auto rowIt = s.rows.find(cell.row);
        pugi::xml_node row;
        if (rowIt != s.rows.end()) {
            row = rowIt->second;
        } else {
            if (!create) return {};
            const std::string name = PrefixOf(s.sheetData) + "row";
            auto next = s.rows.upper_bound(cell.row);
            row = next == s.rows.end()
                      ? s.sheetData.append_child(name.c_str())
                      : s.sheetData.insert_child_before(name.c_str(), next->second);
            row.append_attribute("r") = cell.row;
            s.rows[cell.row] = row;
        }
        pugi::xml_node before;
        for (pugi::xml_node c = row.first_child(); c; c = c.next_sibling()) {
            if (Local(c.name()) != "c") continue;
            const std::int32_t column = ColumnOfRef(c.attribute("r").value());
            if (column == cell.column) return c;
            if (column > cell.column) {
                before = c;
                break;
            }
        }
        if (!create) return {};
        row.remove_attribute("spans");  // optional; would be stale
        const std::string name = PrefixOf(row.empty() ? s.sheetData : row) + "c";
        pugi::xml_node c =
            before ? row.insert_child_before(name.c_str(), before) : row.append_child(name.c_str());
        c.append_attribute("r") = RefOf(cell).c_str();
        GrowDimension(s, cell);
        return c;
    }

    bool HoldsValue(Sheet& s, CellPosition cell) {
        pugi::xml_node c = FindCell(s, cell, false);
        return c && (c.attribute("t") || Child(c, "v") || Child(c, "f") || Child(c, "is"));
    }

    // The cell with its value, type and formula gone, its style kept.
    pugi::xml_node Cleared(int sheet, CellPosition cell, bool create) {
        Sheet& s = Loaded(sheet);
        pugi::xml_node c = FindCell(s, cell, create);
        if (!c) return c;
        for (pugi::xml_node n = c.first_child(); n;) {
            pugi::xml_node next = n.next_sibling();
            const std::string_view name = Local(n.name());
            if (name == "f") FormulaRemoved();
            if (name == "f" || name == "v" || name == "is") c.remove_child(n);
            n = next;
        }
        c.remove_attribute("t");
        c.remove_attribute("vm");
        c.remove_attribute("cm");
        s.dirty = true;
        CellsChanged();
        DropFormulaResults(s);
        return c;
    }

    void GrowDimension(Sheet& s, CellPosition cell) {
        pugi::xml_node dimension = Child(s.doc.document_element(), "dimension");
        if (!dimension) return;
        const std::wstring ref = W(dimension.attribute("ref").value());
        const std::size_t colon = ref.find(L':');
        auto first = ParseCellAddress(ref.substr(0, colon));
        auto last = colon == std::wstring::npos ? first : ParseCellAddress(ref.substr(colon + 1));
        if (!first || !last) return;
        CellPosition from{std::min(first->row, cell.row), std::min(first->column, cell.column)};
        CellPosition to{std::max(last->row, cell.row), std::max(last->column, cell.column)};
        SetAttribute(dimension, "ref", RefOf(from) + ":" + RefOf(to));
    }

    // Formulas elsewhere may depend on the cells: a spreadsheet program
    // recalculates them when it opens the workbook.
    void CellsChanged() {
        if (calcFlagged_) return;
        calcFlagged_ = true;
        pugi::xml_node calcPr = Child(workbookRoot(), "calcPr");
        if (std::string_view(calcPr.attribute("fullCalcOnLoad").value()) == "1") return;
        if (!calcPr) {
            calcPr = InsertOrdered(
                workbookRoot(), "calcPr",
                {"fileVersion", "fileSharing", "workbookPr", "workbookProtection", "bookViews",
                 "sheets", "functionGroups", "externalReferences", "definedNames", "calcPr"});
        }
        SetAttribute(calcPr, "fullCalcOnLoad", "1");
        workbookDirty_ = true;
    }

    // The sheet's formulas lose their last results, so that a program that
    // trusts stored results (LibreOffice by default) calculates them anew.
    static void DropFormulaResults(Sheet& s) {
        if (s.resultsDropped) return;
        s.resultsDropped = true;
        for (auto& [number, row] : s.rows) {
            for (pugi::xml_node c = row.first_child(); c; c = c.next_sibling()) {
                if (!Child(c, "f")) continue;
                if (pugi::xml_node v = Child(c, "v")) c.remove_child(v);
            }
        }
    }

    // A formula written over: the calculation chain would name a cell without
    // one, which spreadsheet programs take for damage. It is rebuilt on open.
    void FormulaRemoved() {
        if (calcChainPart_.empty() || calcChainRemoved_) return;
        calcChainRemoved_ = true;
        pugi::xml_node rels = workbookRelsDoc_.document_element();
        for (pugi::xml_node r = rels.first_child(); r;) {
            pugi::xml_node next = r.next_sibling();
            if (std::string_view(r.attribute("Type").value()) == kCalcChainType)
                rels.remove_child(r);
            r = next;
        }
        contentTypesDoc_ = ParsePart("[Content_Types].xml");
        pugi::xml_node types = contentTypesDoc_.document_element();
        const std::string partName = "/" + calcChainPart_;
        for (pugi::xml_node o = types.first_child(); o;) {
            pugi::xml_node next = o.next_sibling();
            if (partName == o.attribute("PartName").value()) types.remove_child(o);
            o = next;
        }
    }

    void SetTabSelected(Sheet& s, bool selected) {
        Loaded(static_cast<int>(std::find_if(sheets_.begin(), sheets_.end(),
                                             [&](const auto& p) { return p.get() == &s; }) -
                                sheets_.begin()));
        pugi::xml_node view = Child(Child(s.doc.document_element(), "sheetViews"), "sheetView");
        if (!view) return;
        const bool is = view.attribute("tabSelected").as_bool(false);
        if (is == selected) return;
        if (selected) {
            SetAttribute(view, "tabSelected", "1");
        } else {
            view.remove_attribute("tabSelected");
        }
        s.dirty = true;
    }

    // The selection that holds the active cell: the one of the active pane.
    pugi::xml_node ActiveSelection(Sheet& s, bool create) {
        pugi::xml_node root = s.doc.document_element();
        pugi::xml_node views = Child(root, "sheetViews");
        if (!views) {
            if (!create) return {};
            views = InsertOrdered(root, "sheetViews", {"sheetPr", "dimension", "sheetViews"});
        }
        pugi::xml_node view = Child(views, "sheetView");
        if (!view) {
            if (!create) return {};
            view = views.append_child((PrefixOf(views) + "sheetView").c_str());
            view.append_attribute("workbookViewId") = 0;
        }
        pugi::xml_node pane = Child(view, "pane");
        const std::string activePane =
            pane ? (pane.attribute("activePane") ? pane.attribute("activePane").value() : "topLeft")
                 : "";
        for (pugi::xml_node sel = view.first_child(); sel; sel = sel.next_sibling()) {
            if (Local(sel.name()) != "selection") continue;
            const std::string p = sel.attribute("pane") ? sel.attribute("pane").value() : "topLeft";
            if (activePane.empty() || p == activePane) return sel;
        }
        if (!create) return {};
        pugi::xml_node sel = InsertOrdered(view, "selection", {"pane", "selection"});
        if (!activePane.empty() && activePane != "topLeft") {
            sel.append_attribute("pane") = activePane.c_str();
        }
        return sel;
    }

    std::wstring SharedString(int index) {
        if (!sharedLoaded_) {
            sharedLoaded_ = true;
            if (!sharedStringsPart_.empty() && package_.Has(sharedStringsPart_)) {
                const pugi::xml_document doc = ParsePart(sharedStringsPart_);
                for (pugi::xml_node si : doc.document_element().children()) {
                    if (Local(si.name()) == "si") shared_.push_back(UnescapeCellText(ItemText(si)));
                }
            }
        }
        if (index < 0 || static_cast<std::size_t>(index) >= shared_.size()) return {};
        return shared_[static_cast<std::size_t>(index)];
    }

    // Replacing the file under a spreadsheet program that has it open would
    // lose either its changes or ours.
    void RefuseWhenOpenElsewhere() const {
        const std::filesystem::path file(path_);
        const std::string name = file.filename().string();
        for (const std::string& lock : {".~lock." + name + "#", "~$" + name}) {
            const std::filesystem::path lockPath = file.parent_path() / lock;
            std::error_code ec;
            if (std::filesystem::exists(lockPath, ec)) {
                throw WorkbookError(L"The workbook " + W(path_) +
                                    L" is open in a spreadsheet program (lock file " +
                                    W(lockPath.string()) +
                                    L"); it is saved once that program has closed it. A lock "
                                    L"file left by a program that has ended may be deleted.");
            }
        }
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        struct flock probe {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        const bool locked = ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
        ::close(fd);
        if (locked) {
            throw WorkbookError(L"The workbook " + W(path_) + L" is locked by another program (" +
                                L"process " + std::to_wstring(probe.l_pid) +
                                L"); it is saved once that program has let it go.");
        }
    }

    std::string path_;
    mutable ZipPackage package_;
    FileStamp stamp_;
    std::string workbookPart_;
    pugi::xml_document workbookDoc_;
    pugi::xml_document workbookRelsDoc_;
    pugi::xml_document contentTypesDoc_;
    std::string sharedStringsPart_;
    std::string calcChainPart_;
    std::vector<std::unique_ptr<Sheet>> sheets_;
    std::vector<std::wstring> shared_;
    bool sharedLoaded_ = false;
    int activeTab_ = 0;
    bool workbookDirty_ = false;
    bool calcFlagged_ = false;
    bool calcChainRemoved_ = false;
};

}  // namespace

WorkbookError::WorkbookError(std::wstring text)
    : std::runtime_error(WideToUtf8(text)), text_(std::move(text)) {}

std::unique_ptr<Workbook> Workbook::Open(const std::string& path) {
    return std::make_unique<PackageWorkbook>(path);
}

}  // namespace karvelo::platform::xlsx
