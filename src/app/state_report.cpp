#include "app/state_report.h"

#include "backends/serial/zento_com.h"
#include "devices/catalogue.h"
#include "export/plant_server.h"
#include "platform/numbers.h"
#include "platform/text_encoding.h"
#include "state/run_state.h"

namespace karvelo::app {
namespace {

using platform::FormatG15Narrow;
using platform::WideToUtf8;

class Report {
  public:
    void Line(const std::string& name, const std::string& value) {
        out_ += name;
        out_ += '=';
        out_ += value;
        out_ += '\n';
    }
    template <std::size_t N>
    void Text(const std::string& name, const SharedText<N>& t) {
        Line(name, WideToUtf8(t.str()));
    }
    void Int(const std::string& name, long long v) { Line(name, std::to_string(v)); }
    void Real(const std::string& name, double v) { Line(name, FormatG15Narrow(v)); }
    void Bool(const std::string& name, bool v) { Line(name, v ? "1" : "0"); }
    std::string Take() { return std::move(out_); }

  private:
    std::string out_;
};

}  // namespace

std::string ConfigurationReport() {
    const RunState& rs = g_run;
    Report r;
    r.Text("ConfigDir", rs.ConfigDir);
    r.Text("MainConfigFile", rs.MainConfigFile);
    r.Text("ActiveConfigFile", rs.ActiveConfigFile);
    r.Int("ConfigSet", rs.ConfigSet);
    r.Text("StationName", rs.StationName);
    // The server only: a password in the connection string stays in the file.
    const std::string url = WideToUtf8(rs.DatabaseUrl.str());
    r.Line("PlantServer", url.empty() ? std::string() : exports::PlantServerName(url));
    r.Int("KeepDays", rs.KeepDays);
    r.Int("DeviceCount", rs.DeviceCount);
    r.Int("WindowX", rs.WindowX);
    r.Int("WindowY", rs.WindowY);
    r.Int("ExportType", static_cast<int>(rs.ExportType.load()));
    r.Text("ExportPath", rs.ExportPath);
    r.Text("CsvFileName", rs.CsvFileName);
    r.Text("XlsFileName", rs.XlsFileName);
    r.Real("TimerPeriod", rs.TimerPeriod);
    r.Int("SendKey", rs.SendKey);

    r.Int("Id.TextSource", rs.TextSource[kIdEntry]);
    r.Text("Id.TextPath", rs.TextPath[kIdEntry]);
    r.Text("Id.TextFile", rs.TextFile[kIdEntry]);
    r.Text("Id.TextLast", rs.TextLast[kIdEntry]);

    for (int s = 1; s <= kMaxSlots; ++s) {
        const std::string p = "Slot" + std::to_string(s) + ".";
        r.Int(p + "DeviceType", rs.DeviceType[s]);
        r.Line(p + "TypeName", std::string(devices::DeviceTypeName(rs.DeviceType[s])));
        r.Text(p + "TypeText", rs.TypeText[s]);
        r.Int(p + "Port", rs.Port[s]);
        r.Text(p + "PortText", rs.PortText[s]);
        // Where the slot's COM number leads; empty for slots without one.
        const bool onCom = devices::DeviceTypeOf(rs.DeviceType[s]).Has(devices::kHoldsComPort);
        r.Line(p + "PortDevice",
               onCom ? serial::ComDevicePath(rs.Port[s], rs.MainConfigFile.str()) : std::string());
        r.Text(p + "SerialNo", rs.SerialNo[s]);
        r.Int(p + "Channel", rs.Channel[s]);
        r.Int(p + "Parameter", rs.Parameter[s]);
        r.Int(p + "SendMode", static_cast<int>(rs.SendMode[s].load()));
        r.Real(p + "SendTime", rs.SendTime[s]);
        r.Int(p + "TextSource", rs.TextSource[s]);
        r.Text(p + "TextPath", rs.TextPath[s]);
        r.Text(p + "TextFile", rs.TextFile[s]);
        r.Text(p + "TextLast", rs.TextLast[s]);
        r.Int(p + "Decimals", rs.Decimals[s]);
        r.Real(p + "Factor", rs.Factor[s]);
        r.Real(p + "Offset", rs.Offset[s]);
        r.Text(p + "Title", rs.Title[s]);
        r.Text(p + "DeviceSummary", rs.DeviceSummary[s]);
    }

    r.Bool("Excel.Visible", rs.ExcelVisible);
    r.Bool("Excel.Edit", rs.ExcelEdit);
    r.Bool("Excel.Open", rs.ExcelOpen);
    r.Bool("Excel.Close", rs.ExcelClose);
    r.Bool("Excel.Save", rs.ExcelSave);
    for (int n = 1; n <= kExcelItems; ++n) {
        const std::string num = std::to_string(n);
        r.Bool("Excel.ValueOn" + num, rs.ExcelValueOn[n]);
        r.Bool("Excel.Relative" + num, rs.ExcelRelative[n]);
        r.Int("Excel.Column" + num, rs.ExcelColumn[n]);
        r.Text("Excel.ColumnText" + num, rs.ExcelColumnText[n]);
        r.Int("Excel.Row" + num, rs.ExcelRow[n]);
        r.Text("Excel.RowText" + num, rs.ExcelRowText[n]);
    }
    r.Text("Excel.Sheet", rs.ExcelSheet);
    r.Int("Excel.RefMode", rs.ExcelRefMode);
    r.Text("Excel.RefAddress", rs.ExcelRefAddress);
    r.Int("Excel.ShiftMode", rs.ExcelShiftMode);
    r.Int("Excel.AutoShiftColumn", rs.ExcelAutoShiftColumn);
    r.Int("Excel.AutoShiftRow", rs.ExcelAutoShiftRow);
    return r.Take();
}

std::string SlotResultReport(int slot) {
    const RunState& rs = g_run;
    Report r;
    const std::string p = "Slot" + std::to_string(slot) + ".";
    r.Real(p + "Value", rs.Value[slot]);
    r.Text(p + "TextLast", rs.TextLast[slot]);
    r.Text(p + "StatusText", rs.StatusText[slot]);
    r.Bool(p + "ValueReady", rs.ValueReady[slot]);
    r.Bool(p + "ValueError", rs.ValueError[slot]);
    return r.Take();
}

}  // namespace karvelo::app
