#include "devices/catalogue.h"

#include <array>

#include "backends/ftdi/ftdi_readers.h"
#include "backends/serial/readers/almemo_reader.h"
#include "backends/serial/readers/line_reader.h"
#include "backends/serial/readers/shared_readers.h"

namespace karvelo::devices {
namespace {

using namespace std::string_view_literals;
using serial::ByteFilter;
using serial::Conversion;
using serial::LineAction;
using serial::LineProfile;
using serial::LineVariant;
using serial::Parity;
using T = Transport;
using A = RequestAction;

// --- Status words by result code (0, -1, ..., -5) ---------------------------

constexpr StatusRule kSerialRule = {
    {"com error", "unavailable", "device error", "invalid", "error", nullptr}, false, false, false};
constexpr StatusRule kPuSerialRule = {
    {"com error", "unavailable", "device error", "invalid", "error", nullptr}, true, false, false};
constexpr StatusRule kUsbRule = {
    {"usb error", "unavailable", "device error", "invalid", "error", nullptr}, false, false, false};
constexpr StatusRule kPuUsbRule = {
    {"usb error", "unavailable", "device error", "invalid", "error", nullptr}, true, false, false};
constexpr StatusRule kCardRule = {
    {"pci error", "unavailable", "device error", "invalid", "error", nullptr}, false, false, false};
constexpr StatusRule kNetworkRule = {
    {"pci error", "unavailable", "device error", "invalid", "error", "out of range"},
    false,
    false,
    false};
// The first bus keeps silent about missing answers.
constexpr StatusRule kFirstBusRule = {
    {"usb error", nullptr, nullptr, "invalid", "error", nullptr}, false, true, true};
constexpr StatusRule kBusRule = {
    {"usb error", "unavailable", "device error", "invalid", "error", nullptr}, false, true, false};

// --- What the device configuration dialog shows for a type -----------------

constexpr std::uint16_t kValue = kFormValue;
// A COM-port gauge with one value: port and request; the hidden channel is "1".
constexpr DialogForm kComForm = {kFormPort | kFormRequest | kValue, PortFill::ComProbe,
                                 SerialFill::Cleared, true};
// A COM-port instrument with channels.
constexpr DialogForm kComChannelForm = {kFormPort | kFormChannel | kFormRequest | kValue,
                                        PortFill::ComProbe, SerialFill::Cleared, false};
constexpr DialogForm kComNoChannelForm = {kFormPort | kFormRequest | kValue, PortFill::ComProbe,
                                          SerialFill::Cleared, false};
// Shows the channel list, yet selects "1" whatever it held.
constexpr DialogForm kComForcedChannelForm = {kFormPort | kFormChannel | kFormRequest | kValue,
                                              PortFill::ComProbe, SerialFill::Cleared, true};
constexpr DialogForm kTextForm = {kFormTextSource, PortFill::Empty, SerialFill::Cleared, false};
constexpr DialogForm kValueOnlyForm = {kValue, PortFill::Empty, SerialFill::Cleared, false};
constexpr DialogForm kMahrForm = {kFormPort | kFormSerial | kFormRequest | kValue, PortFill::Usb,
                                  SerialFill::FtdiList, true};
constexpr DialogForm kPuForm = {kFormPort | kFormSerial | kFormChannel | kFormRequest | kValue,
                                PortFill::Usb, SerialFill::FtdiList, false};
constexpr DialogForm kCardForm = {kFormSerial | kFormParameter | kFormRequest | kValue,
                                  PortFill::Pci, SerialFill::CardList, true};
// Network number, board number or free text in the serial field.
constexpr DialogForm kFreeSerialForm = {
    kFormPort | kFormSerial | kFormChannel | kFormRequest | kValue, PortFill::Usb,
    SerialFill::FreeText, false};
constexpr DialogForm kBusForm = {kFormPort | kFormChannel | kFormRequest | kFormBusSetup | kValue,
                                 PortFill::Usb, SerialFill::KeptHidden, false};
constexpr DialogForm kFixedInputForm = {kFormPort | kFormRequest | kValue, PortFill::Usb,
                                        SerialFill::KeptHidden, false};

constexpr DeviceType WithForm(DeviceType t, const DialogForm& form) {
    t.form = form;
    return t;
}

// --- Building blocks of the rows ---------------------------------------------

constexpr int kClose = 200;  // the usual closing wait of a request, ms
constexpr char kCr = '\r';
constexpr char kLf = '\n';
constexpr LineAction kNoAction = LineAction::None;

constexpr LineProfile Port(int baud, int bits, Parity parity, int stop,
                           LineAction after1 = kNoAction, LineAction after2 = kNoAction,
                           LineAction before = kNoAction) {
    return {baud, bits, parity, stop, {before, kNoAction}, {after1, after2}};
}

constexpr LineVariant Line(char terminator, int maxLength, int minLength,
                           ByteFilter filter = ByteFilter::None,
                           std::string_view errorMarkers = "E",
                           Conversion conversion = Conversion::Plain, bool keepOnReject = false) {
    return {terminator, maxLength, minLength, filter, errorMarkers, conversion, keepOnReject};
}

struct SerialRow {
    int code;
    std::string_view name;
    std::uint8_t caps;
    RequestRecipe request;
    int settleMs;
    LineProfile port;
    LineVariant frame;
    serial::SerialReaderFn reader;
    const StatusRule* status = &kSerialRule;
    std::string_view afterOpen = {};
};

constexpr DeviceType Serial(const SerialRow& r) {
    DeviceType t;
    t.code = r.code;
    t.name = r.name;
    t.transport = T::SerialCom;
    t.caps = static_cast<std::uint8_t>(r.caps | kHoldsComPort);
    t.request = r.request;
    t.settleMs = r.settleMs;
    t.status = r.status;
    t.serial = {r.port, r.afterOpen, r.frame, r.reader};
    t.form = kComForm;
    return t;
}

constexpr DeviceType Other(int code, std::string_view name, Transport transport, std::uint8_t caps,
                           RequestRecipe request, int settleMs, const StatusRule* status) {
    DeviceType t;
    t.code = code;
    t.name = name;
    t.transport = transport;
    t.caps = caps;
    t.request = request;
    t.settleMs = settleMs;
    t.status = status;
    return t;
}

// An instrument behind an FTDI USB adapter.
constexpr DeviceType Usb(int code, std::string_view name, std::uint8_t caps, RequestRecipe request,
                         int settleMs, const StatusRule* status, const ftdi::FtdiRow& row) {
    DeviceType t = Other(code, name, T::FtdiUsb, caps, request, settleMs, status);
    t.ftdi = row;
    t.form = kPuForm;
    return t;
}

constexpr ftdi::AdapterLine kPuLine = {57600, ftdi::FT_BITS_8, ftdi::FT_STOP_BITS_1,
                                       ftdi::FT_PARITY_NONE, true};
constexpr ftdi::AdapterLine kMahrLine = {4800, ftdi::FT_BITS_7, ftdi::FT_STOP_BITS_2,
                                         ftdi::FT_PARITY_EVEN, false};

// A PU interface: description texts the open step takes, further ones the
// device dialog lists.
constexpr ftdi::FtdiRow Pu(std::array<std::string_view, 2> accepted,
                           std::array<std::string_view, 4> alsoListed = {}) {
    return {accepted, alsoListed, kPuLine, ftdi::FtdiRequest::PrintValues, &ftdi::ReadPuReply};
}

// A code no instrument uses; it still has a settle time.
constexpr DeviceType Free(int code, int settleMs, std::uint8_t caps = 0) {
    return Other(code, "-", T::None, caps, {}, settleMs, nullptr);
}

constexpr RequestRecipe Write(std::string_view bytes, int closingWaitMs = kClose) {
    return {A::Write, bytes, closingWaitMs};
}
constexpr RequestRecipe Do(RequestAction action, int closingWaitMs = kClose) {
    return {action, {}, closingWaitMs};
}

// Bus n of the IBRit measuring bus.
constexpr DeviceType Bus(int code, std::string_view name, int number, const StatusRule* status) {
    DeviceType t = Other(code, name, T::IbritBus, kStoredResult, Do(A::BusLatch), 50, status);
    t.bus.number = number;
    t.form = kBusForm;
    return t;
}

// An analog input: raw conversion r gives (r - zero) / divisor * multiplier.
constexpr DeviceType Analog(int code, std::string_view name, RequestRecipe request, int settleMs,
                            const analog::AnalogRow& row) {
    DeviceType t = Other(code, name, T::AnalogInput, 0, request, settleMs, &kUsbRule);
    t.analog = row;
    t.form = row.inputFromSlot ? kFreeSerialForm : kFixedInputForm;
    return t;
}

// The library's bipolar range codes.
constexpr int kBip10Volts = 1;
constexpr int kBip5Volts = 0;
constexpr int kBip2Volts = 14;
constexpr int kBip1Volts = 4;

// A RedLab module: the input from the slot, `volts` full scale.
constexpr analog::AnalogRow RedLab(int rangeCode, int runs, double zero, double volts) {
    return {true, rangeCode, runs, zero, zero, volts};
}
// A UMP-K sensor set-up on board 0, channel 0.
constexpr analog::AnalogRow Umpk(int rangeCode, double zero, double divisor, double multiplier) {
    return {false, rangeCode, 1, zero, divisor, multiplier};
}

constexpr std::uint8_t kPuFamily = kSharedRequest | kFanOutReader | kSendKeyResult;
constexpr auto kSetRts = LineAction::SetRts;
constexpr auto kClearRts = LineAction::ClearRts;
constexpr auto kSetDtr = LineAction::SetDtr;
constexpr auto N = Parity::None;
constexpr auto E = Parity::Even;
constexpr auto O = Parity::Odd;

constexpr serial::SerialReaderFn kNumber = &serial::ReadNumberLine;

// Indexed by code.
// clang-format off
constexpr std::array<DeviceType, kDeviceTypeCount> kTable = {{
    /*  0 */ WithForm(Other(0, "TEXT input", T::Text, 0, {}, 0, nullptr), kTextForm),
    /*  1 */ Serial({1, "Sylvac duplex", 0, Write("?\r"), 200, Port(4800, 7, E, 2, kClearRts, kSetDtr), Line(kCr, 20, 5), kNumber}),
    /*  2 */ Serial({2, "Sylvac simplex", 0, Do(A::DtrPulse), 300, Port(4800, 7, E, 2, kSetRts, kSetDtr), Line(kCr, 98, 5), kNumber}),
    /*  3 */ WithForm(Serial({3, "IBRit-md1", kSharedRequest | kFanOutReader, Do(A::IbritChannel, 0), 200, Port(9600, 8, N, 1, kSetRts, kSetRts), {}, &serial::ReadIbritDisplay}), kComChannelForm),
    /*  4 */ Serial({4, "Heidenhain ND", 0, Write("\x02"sv), 200, Port(9600, 7, E, 2, kSetDtr, kSetRts), Line(kCr, 20, 5, ByteFilter::None, "E", Conversion::SeparateSign), kNumber}),
    /*  5 */ Serial({5, "Starrett 2900", 0, Write("?\r"), 200, Port(4800, 8, N, 1), Line(kCr, 20, 5), kNumber}),
    /*  6 */ Serial({6, "TESA TT10", 0, Do(A::Break), 200, Port(1200, 7, E, 1, kClearRts, kSetDtr), Line(kLf, 20, 5), kNumber}),
    /*  7 */ WithForm(Free(7, 200, kHoldsComPort), kValueOnlyForm),  // still takes part in the COM-port open, never gets a port
    /*  8 */ WithForm(Serial({8, "TESA GTLXX USB", 0, Write("?\r", 0), 200, Port(4800, 7, E, 2, kClearRts, kSetDtr), Line(kCr, 20, 5), kNumber}), kComForcedChannelForm),
    /*  9 */ WithForm(Serial({9, "ALMEMO", kFanOutReader | kRequestOnlyAfterTrigger, Write("s", 0), 200, Port(9600, 8, N, 1, kNoAction, kNoAction, kSetDtr), {}, &serial::ReadAlmemoList, &kSerialRule, "N0\n\r"}), kComChannelForm),
    /* 10 */ WithForm(Usb(10, "MAHR 16EXu", 0, Do(A::FtdiDevice), 100, &kUsbRule, {{"16EXu"}, {}, kMahrLine, ftdi::FtdiRequest::DtrPulse, &ftdi::Read16ExuLine}), kMahrForm),
    // The PU requests and readers bring their own waits.
    /* 11 */ Usb(11, "PU 11", kPuFamily, Do(A::FtdiDevice, 0), 50, &kPuUsbRule, Pu({"PU11"})),
    /* 12 */ Usb(12, "PU 23", kPuFamily, Do(A::FtdiDevice, 0), 50, &kPuUsbRule, Pu({"PU 23", "PU23"})),
    /* 13 */ Usb(13, "PU 25", kPuFamily, Do(A::FtdiDevice, 0), 50, &kPuUsbRule, Pu({"PU 25", "PU25"})),
    /* 14 */ Usb(14, "PU 60", kPuFamily, Do(A::FtdiDevice, 0), 50, &kPuUsbRule, Pu({"PU 60", "PU60"}, {"PU 36", "PU36"})),
    /* 15 */ Usb(15, "PU 300", kPuFamily, Do(A::FtdiDevice, 0), 50, &kPuUsbRule, Pu({"PU 300", "PU300"}, {"PU 36", "PU36"})),
    /* 16 */ Usb(16, "PU xxx", kPuFamily, Do(A::FtdiDevice, 0), 50, &kPuUsbRule, Pu({"PU"})),
    /* 17 */ Usb(17, "MFP Control", kPuFamily, Do(A::FtdiDevice, 0), 50, &kPuUsbRule, {{"MFP Control"}, {}, kMahrLine, ftdi::FtdiRequest::MfpValue, &ftdi::ReadMfpReply}),
    /* 18 */ Usb(18, "PU 36", kPuFamily, Do(A::FtdiDevice, 0), 50, &kPuUsbRule, Pu({"PU 36", "PU36"}, {"PU 300", "PU300", "PU 60", "PU60"})),
    /* 19 */ WithForm(Serial({19, "PU 26", kSharedRequest, Do(A::Pu26Channel), 50, Port(9600, 8, N, 1), Line(kCr, 20, 5, ByteFilter::PlusAsBlank), kNumber}), kComChannelForm),
    /* 20 */ WithForm(Other(20, "IK220", T::CounterCard, 0, Do(A::CounterCard, 0), 50, &kCardRule), kCardForm),
    /* 21 */ WithForm(Other(21, "Solartron Orbit3", T::Orbit, 0, {}, 50, &kNetworkRule), kFreeSerialForm),
    /* 22 */ WithForm(Other(22, "Marpos EasyBox", T::Marposs, 0, {}, 50, &kNetworkRule), kFreeSerialForm),
    /* 23 */ Serial({23, "AE1IH", 0, Write("K"), 50, Port(9600, 7, O, 2), Line(kCr, 20, 10, ByteFilter::None, "E", Conversion::FixedPosition), kNumber}),
    /* 24 */ Serial({24, "Millimar 1245", 0, Write("M"), 10, Port(38400, 8, N, 1), Line(kCr, 20, 5, ByteFilter::DropMarkAndComma), kNumber}),
    // The PU41/42 frame: length and error marker are checked after it is taken apart.
    /* 25 */ WithForm(Serial({25, "PU41/42", kSharedRequest | kFanOutReader | kSendKeyResult, Write("$PRI,0*57\r"), 50, Port(9600, 8, N, 1), Line(kCr, 95, 0, ByteFilter::PlusAsBlank, "", Conversion::None), &serial::ReadPuList, &kPuSerialRule}), kComChannelForm),
    /* 26 */ WithForm(Serial({26, "SD1", kFanOutReader, Write("?\r", 0), 10, Port(4800, 7, E, 2, kClearRts, kSetDtr), Line(kCr, 95, 5, ByteFilter::None, "E", Conversion::None), &serial::ReadSd1List}), kComChannelForm),
    /* 27 */ WithForm(Serial({27, "Keyence GT2-UB1", 0, Write("SR,00,000\r\n", 0), 50, Port(9600, 8, N, 1), Line(kCr, 20, 5, ByteFilter::BlankHeader, "E", Conversion::Plain, true), kNumber}), kComNoChannelForm),
    /* 28 */ Serial({28, "EMS8186", 0, Write("?\r\n", 0), 50, Port(9600, 7, O, 1), Line(kCr, 98, 5, ByteFilter::None, "h:"), kNumber}),
    /* 29 */ WithForm(Free(29, 50), kValueOnlyForm),
    /* 30 */ Bus(30, "IBRIT-BUS.1", 1, &kFirstBusRule),
    /* 31 */ Bus(31, "IBRIT-BUS.2", 2, &kBusRule),
    /* 32 */ Bus(32, "IBRIT-BUS.3", 3, &kBusRule),
    /* 33 */ Bus(33, "IBRIT-BUS.4", 4, &kBusRule),
    /* 34 */ Bus(34, "IBRIT-BUS.5", 5, &kBusRule),
    /* 35 */ Bus(35, "IBRIT-BUS.6", 6, &kBusRule),
    /* 36 */ Bus(36, "IBRIT-BUS.7", 7, &kBusRule),
    /* 37 */ Bus(37, "IBRIT-BUS.8", 8, &kBusRule),
    /* 38 */ Free(38, 50),
    /* 39 */ Free(39, 50),
    /* 40 */ Analog(40, "RedLab16xx 10V", Do(A::WaitOnly), 10, RedLab(kBip10Volts, 5, 32768, 10)),
    /* 41 */ Analog(41, "RedLab16xx  5V", Do(A::WaitOnly), 10, RedLab(kBip5Volts, 5, 32768, 5)),
    /* 42 */ Analog(42, "RedLab16xx  2V", Do(A::WaitOnly), 10, RedLab(kBip2Volts, 5, 32768, 2)),
    /* 43 */ Analog(43, "RedLab16xx  1V", Do(A::WaitOnly), 10, RedLab(kBip1Volts, 5, 32768, 1)),
    /* 44 */ Analog(44, "RedLab12xx 10V", Do(A::WaitOnly), 10, RedLab(kBip10Volts, 1, 2048, 10)),
    /* 45 */ Analog(45, "RedLab12xx  5V", Do(A::WaitOnly), 10, RedLab(kBip5Volts, 1, 2048, 5)),
    /* 46 */ Analog(46, "RedLab12xx  2V", Do(A::WaitOnly), 10, RedLab(kBip2Volts, 1, 2048, 2)),
    /* 47 */ Analog(47, "RedLab12xx  1V", Do(A::WaitOnly), 10, RedLab(kBip1Volts, 1, 2048, 1)),
    /* 48 */ Free(48, 100),
    /* 49 */ Free(49, 100),
    /* 50 */ Serial({50, "OPTRIS IR Temp.", 0, Write("\x01"sv, 0), 10, Port(9600, 8, N, 1), {}, &serial::ReadThermometer}),
    /* 51 */ Analog(51, "UMP-K 1208", {}, 100, Umpk(kBip1Volts, 2048, 200, 1)),
    /* 52 */ Analog(52, "UMP-K 1208T", {}, 100, Umpk(kBip5Volts, 2048, 100, 1)),
    // The factors are the doubles of 0.77 / 1000 and 1.54 / 1000, as the sensors were calibrated.
    /* 53 */ Analog(53, "UMP-K 1608", {}, 100, Umpk(kBip2Volts, 32768, 1, 0.77 / 1000)),
    /* 54 */ Analog(54, "UMP-K 1608T", {}, 100, Umpk(kBip10Volts, 32768, 1, 1.54 / 1000)),
    /* 55 */ WithForm(Free(55, 100), kValueOnlyForm),
    /* 56 */ WithForm(Free(56, 100), kValueOnlyForm),
    /* 57 */ Serial({57, "Z-MIKE", 0, Write("GO\r", 0), 300, Port(1200, 8, N, 1), Line(kCr, 98, 5, ByteFilter::DropXonXoff), kNumber}),
}};
// clang-format on

constexpr bool RowsInCodeOrder() {
    for (int i = 0; i < kDeviceTypeCount; ++i) {
        if (kTable[static_cast<std::size_t>(i)].code != i) return false;
    }
    return true;
}
static_assert(RowsInCodeOrder(), "row i of the device-type table must hold code i");

// Codes outside the table: nothing to open, request or show.
constexpr DeviceType kBelowTable = Other(-1, "", T::None, 0, {}, 0, nullptr);
constexpr DeviceType kAboveTable = Other(-1, "", T::None, 0, {}, 100, nullptr);

constexpr std::array<std::string_view, 4> kParameterEntries = {"1Vss", "11\u00b5A", "EnDat", "SSI"};
constexpr std::array<std::string_view, 3> kChannelWords = {"max", "min", "max-min"};
constexpr std::array<std::string_view, 51> kChannelNumbers = {
    "0",  "1",  "2",  "3",  "4",  "5",  "6",  "7",  "8",  "9",  "10", "11", "12",
    "13", "14", "15", "16", "17", "18", "19", "20", "21", "22", "23", "24", "25",
    "26", "27", "28", "29", "30", "31", "32", "33", "34", "35", "36", "37", "38",
    "39", "40", "41", "42", "43", "44", "45", "46", "47", "48", "49", "50"};

}  // namespace

const DeviceType& DeviceTypeOf(int code) {
    if (code < kFirstDeviceType) return kBelowTable;
    if (code > kLastDeviceType) return kAboveTable;
    return kTable[static_cast<std::size_t>(code)];
}

std::span<const DeviceType> DeviceTypes() {
    return kTable;
}

const serial::LineProfile& ComProbeLineProfile() {
    return kTable[1].serial.line;
}

std::string_view ChannelEntryName(int index) {
    if (index < 0 || index >= kChannelEntryCount) return {};
    if (index < 51) return kChannelNumbers[static_cast<std::size_t>(index)];
    return kChannelWords[static_cast<std::size_t>(index - 51)];
}

std::string_view ParameterEntryName(int index) {
    if (index < 0 || index >= kParameterEntryCount) return {};
    return kParameterEntries[static_cast<std::size_t>(index)];
}

}  // namespace karvelo::devices
