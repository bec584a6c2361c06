#include "ui/station/main_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QToolTip>
#include <QWindow>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <vector>

#include "app/configuration.h"
#include "app/timers.h"
#include "app/version.h"
#include "devices/catalogue.h"
#include "export/csv_export.h"
#include "export/export_record.h"
#include "export/export_types.h"
#include "export/workbook_application.h"
#include "platform/wait.h"
#include "platform/window_placement.h"
#include "resources/artwork.h"
#include "state/control_ids.h"
#include "state/run_state.h"
#include "ui/devices/device_config_dialog.h"
#include "ui/export/id_config_dialog.h"
#include "ui/station/batch_mode.h"
#include "ui/station/qt_window_port.h"

namespace karvelo::app {
namespace {

// How a control is made.
enum class Kind { Label, Edit, SlotTextEdit, Button, DefaultButton, List, BitmapButton, Radio };

// What a control's y position is counted from: the top of the window, its
// slot row (61 per slot, k = 0..9) or the row below the last slot (61 * D).
enum class Anchor { Top, SlotRow, Bottom };

// When a control is visible after a layout.
enum class Shown { Always, Never, SlotInUse, TextSlot, ExportOn, WorkbookExport };

struct ControlSpec {
    int id;  // for Anchor::SlotRow the id of slot 1; slot k + 1 has id + k
    Kind kind;
    const char* caption;
    Anchor anchor;
    int x, y, width, height;
    Shown shown;
};

constexpr ControlSpec kControls[] = {
    {kIdLabel, Kind::Label, "ID:", Anchor::Top, 12, 9, 26, 17, Shown::Always},
    {kIdField, Kind::Edit, "", Anchor::Top, 40, 5, 250, 25, Shown::Always},
    {kIdConfigButton, Kind::Button, ">>", Anchor::Top, 305, 5, 25, 25, Shown::Always},
    {kSlotConfigFirst, Kind::Button, ">>", Anchor::SlotRow, 305, 40, 25, 25, Shown::SlotInUse},
    {kSlotTextFirst, Kind::SlotTextEdit, "", Anchor::SlotRow, 18, 50, 270, 25, Shown::TextSlot},
    {kFewerSlotsButton, Kind::Button, "--", Anchor::Bottom, 305, 10, 25, 15, Shown::Always},
    {kMoreSlotsButton, Kind::Button, "++", Anchor::Bottom, 305, 25, 25, 15, Shown::Always},
    {kSendButton, Kind::DefaultButton, "SEND / EXPORT", Anchor::Bottom, 10, 45, 320, 25,
     Shown::ExportOn},
    {kExportTypeList, Kind::List, "", Anchor::Bottom, 10, 77, 90, 25, Shown::Always},
    {kFileNameField, Kind::Edit, "", Anchor::Bottom, 110, 75, 190, 25, Shown::ExportOn},
    {kExportTargetButton, Kind::Button, ">>", Anchor::Bottom, 305, 75, 25, 25, Shown::ExportOn},
    {kLogoPlaceholder, Kind::BitmapButton, "", Anchor::Bottom, 1, 105, 60, 49, Shown::Never},
    {kFinishButton, Kind::Button, "FINISH / EXIT", Anchor::Bottom, 130, 105, 200, 25,
     Shown::Always},
    {kExcelCloseButton, Kind::Button, "close", Anchor::Bottom, 69, 105, 60, 25,
     Shown::WorkbookExport},
    {kExcelOpenButton, Kind::Button, "open", Anchor::Bottom, 69, 105, 60, 25,
     Shown::WorkbookExport},
    {kSetRadioFirst + 0, Kind::Radio, "0.", Anchor::Bottom, 70, 135, 25, 25, Shown::Always},
    {kSetRadioFirst + 1, Kind::Radio, "1.", Anchor::Bottom, 100, 135, 25, 25, Shown::Always},
    {kSetRadioFirst + 2, Kind::Radio, "2.", Anchor::Bottom, 130, 135, 25, 25, Shown::Always},
    {kSetRadioFirst + 3, Kind::Radio, "3.", Anchor::Bottom, 160, 135, 25, 25, Shown::Always},
    {kSetRadioFirst + 4, Kind::Radio, "4.", Anchor::Bottom, 190, 135, 25, 25, Shown::Always},
    {kSetRadioLast, Kind::Radio, "5. configuration", Anchor::Bottom, 220, 135, 200, 25,
     Shown::Always},
};

// The export types in list order; the index is ExportType. Type 6 (workbook
// without text slots) has no entry of its own.

// The line that tells the operator about records that cannot be written, or
// else about the last one written, in the free band under the
// configuration-set buttons.
constexpr int kStatusLineTop = 163;  // from 61 * D
constexpr int kStatusLineHeight = 26;
// Its text stays inside the border and padding.
constexpr int kStatusLineTextInset = 10;

// X11 windows cannot be higher than 32767 pixels; a hand-edited slot count
// beyond this many rows lays out as this many.
constexpr int kMaxLayoutRows = 500;

// How often a command waiting for the pause looks at the flag.
constexpr int kPausePollMs = 100;

constexpr int kStartSettleMs = 10;
constexpr int kSlotTextFontPixels = 15;
// The controls' own type: small, as the fixed control sizes need (the
// configuration-set buttons are 25 pixels wide with their mark).
constexpr int kControlFontPixels = 11;

int LayoutRows() {
    return std::clamp<int>(g_run.DeviceCount, 0, kMaxLayoutRows);
}

// A radio button whose mark only the program sets: a click runs the command
// and leaves the mark to the next layout.
class SetRadioButton : public QRadioButton {
  public:
    using QRadioButton::QRadioButton;

  protected:
    void nextCheckState() override {}
};

// A button that is never shown: only its rectangle is used (the logo's).
class PlaceholderButton : public QPushButton {
  public:
    using QPushButton::QPushButton;
};

QWidget* MakeControl(const ControlSpec& spec, QWidget* parent) {
    const QString caption = QString::fromUtf8(spec.caption);
    switch (spec.kind) {
        case Kind::Label:
            return new QLabel(caption, parent);
        case Kind::Edit:
            return new QLineEdit(parent);
        case Kind::SlotTextEdit: {
            // The text of a text slot sits on its black display row.
            auto* edit = new QLineEdit(parent);
            edit->setStyleSheet(
                QStringLiteral(
                    "QLineEdit { background: black; color: #00ff00; border: 1px solid #1f6f1f;"
                    " selection-background-color: #1f6f1f; font-size: %1px; }")
                    .arg(kSlotTextFontPixels));
            return edit;
        }
        case Kind::Button:
        case Kind::DefaultButton: {
            auto* button = new QPushButton(caption, parent);
            const bool isDefault = spec.kind == Kind::DefaultButton;
            // Enter always presses SEND / EXPORT, whichever button has the focus.
            button->setAutoDefault(isDefault);
            button->setDefault(isDefault);
            return button;
        }
        case Kind::List: {
            auto* list = new QComboBox(parent);
            list->setEditable(false);
            return list;
        }
        case Kind::BitmapButton:
            return new PlaceholderButton(parent);
        case Kind::Radio: {
            auto* radio = new SetRadioButton(caption, parent);
            radio->setAutoExclusive(false);
            return radio;
        }
    }
    return nullptr;
}

bool IsShown(Shown rule, int slot) {
    const exports::ExportTarget target = exports::ExportTypeOf(g_run.ExportType).target;
    switch (rule) {
        case Shown::Always:
            return true;
        case Shown::Never:
            return false;
        case Shown::SlotInUse:
            return slot <= g_run.DeviceCount;
        case Shown::TextSlot:
            return slot <= g_run.DeviceCount && devices::IsTextType(g_run.DeviceType[slot]);
        case Shown::ExportOn:
            return target != exports::ExportTarget::None;
        case Shown::WorkbookExport:
            return target == exports::ExportTarget::Workbook;
    }
    return false;
}

QRect Placement(const ControlSpec& spec, int slotIndex, int rows) {
    int y = spec.y;
    if (spec.anchor == Anchor::SlotRow) y += kRowPitch * slotIndex;
    if (spec.anchor == Anchor::Bottom) y += kRowPitch * rows;
    return QRect(spec.x, y, spec.width, spec.height);
}

int SlotCountOf(const ControlSpec& spec) {
    return spec.anchor == Anchor::SlotRow ? kMaxSlots : 1;
}

// Everything that waits for the window to be written, then the end without
// waiting for the other threads: one of them may be blocked in an instrument
// read, and the files are complete already.
void EndProcessNow() {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(0);
}

// The acquisition honours a pause only after its cycle, and so after the
// hand-over of its record: a workbook record's export runs on this thread
// while the pause is awaited, never cut short by the command.
bool PauseReached() {
    return g_run.AcquisitionPaused;
}

QString FromWide(const std::wstring& text) {
    return QString::fromStdWString(text);
}

// The dialogs keep their settings the station's way.
void SaveSettings(const platform::ProfileDocument& document, const std::string& path) {
    SaveSettingsDocument(document, path);
}

platform::ScreenRect ToScreenRect(const QRect& r) {
    return {r.left(), r.top(), r.width(), r.height()};
}

// The desktop's screens, the primary one first: a saved position between
// screens, equally near to several, goes to the primary.
std::vector<platform::ScreenArea> DesktopScreens() {
    std::vector<platform::ScreenArea> areas;
    QScreen* primary = QGuiApplication::primaryScreen();
    const auto add = [&areas](const QScreen* screen) {
        areas.push_back(
            {ToScreenRect(screen->geometry()), ToScreenRect(screen->availableGeometry())});
    };
    if (primary != nullptr) add(primary);
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen != primary) add(screen);
    }
    return areas;
}

}  // namespace

// Runs a command unless another one is still under way (its pause wait and
// modal dialogs keep the window's events flowing) or the station is ending.
class MainDialog::CommandScope {
  public:
    explicit CommandScope(MainDialog& d) : d_(d), entered_(!d.commandRunning_ && !d.ending_) {
        if (entered_) d_.commandRunning_ = true;
    }
    ~CommandScope() {
        if (entered_) d_.commandRunning_ = false;
    }
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;
    bool entered() const { return entered_; }

  private:
    MainDialog& d_;
    bool entered_;
};

int WindowHeightFor(int deviceCount) {
    return kRowPitch * std::clamp(deviceCount, 0, kMaxLayoutRows) + 195;
}

MainDialog::MainDialog(QWidget* parent)
    : QDialog(parent),
      icon_(StationIcon()),
      port_(std::make_unique<QtWindowPort>(*this)),
      station_(std::make_unique<Station>(g_run, *port_)),
      excel_(std::make_unique<exports::ExcelLink>(*port_, exports::WorkbookEngineFactory())),
      idConfig_(std::make_unique<exports::IdConfigDialog>(&SaveSettings, this)) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowStaysOnTopHint);
    setWindowTitle(QStringLiteral("KARVELO"));
    setWindowIcon(icon_);
    setFixedSize(kWindowWidth, WindowHeightFor(1));
    QFont controlFont(QStringLiteral("Liberation Sans"));
    controlFont.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    controlFont.setStyleHint(QFont::SansSerif);
    controlFont.setPixelSize(kControlFontPixels);
    setFont(controlFont);
    setStyleSheet(QStringLiteral("QRadioButton { spacing: 2px; }"));
    CreateControls();

    deviceConfig_ = std::make_unique<devices::DeviceConfigDialog>(DeviceConfigSources(), this);
    hooks_.configureDevice = [this](int slot) { deviceConfig_->Run(slot); };
    excelConfig_ = std::make_unique<exports::ExcelConfigDialog>(&SaveSettings, this);
    hooks_.configureExport = [this] { excelConfig_->Run(); };
    hooks_.endProcess = &EndProcessNow;

    // Waits on this thread (the pause protocol, settle delays) keep the window alive.
    platform::SetThreadEventPump(&DispatchWaitingEvents);
}

MainDialog::~MainDialog() {
    platform::SetThreadEventPump(nullptr);
    // The dialogs are children of this window: let them go before Qt deletes the children.
    deviceConfig_.reset();
    excelConfig_.reset();
    idConfig_.reset();
}

devices::DeviceConfigSources MainDialog::DeviceConfigSources() {
    using devices::Transport;
    const auto lister = [this](Transport transport) {
        return [this, transport](const devices::DeviceType& type) {
            devices::Backend* backend = station_->devices().BackendFor(transport);
            return backend ? backend->ListDevices(type) : std::vector<std::wstring>{};
        };
    };
    devices::DeviceConfigSources sources;
    sources.ftdiSerials = lister(Transport::FtdiUsb);
    sources.cardAxes = lister(Transport::CounterCard);
    sources.busSetup = [this](std::uintptr_t parent) {
        if (devices::Backend* bus = station_->devices().BackendFor(Transport::IbritBus)) {
            bus->ShowSetup(parent);
        }
    };
    sources.errorBox = [this](const std::wstring& caption, const std::wstring& text) {
        port_->MessageBox(caption, text, MessageIcon::Error);
    };
    sources.saveSettings = &SaveSettings;
    return sources;
}

WindowPort& MainDialog::port() {
    return *port_;
}

void MainDialog::CreateControls() {
    for (const ControlSpec& spec : kControls) {
        for (int k = 0; k < SlotCountOf(spec); ++k) {
            QWidget* w = MakeControl(spec, this);
            w->setGeometry(Placement(spec, k, 1));
            PlaceControl(spec.id + k, w);
        }
    }
    auto* list = static_cast<QComboBox*>(control(kExportTypeList));
    connect(list, &QComboBox::activated, this, [this](int index) { ChangeExportType(index); });
    for (auto& [id, w] : controls_) {
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            connect(button, &QAbstractButton::clicked, this, [this, id = id] { OnCommand(id); });
        }
    }

    statusLine_ = new QLabel(this);
    statusLine_->setObjectName(QStringLiteral("statusLine"));
    // File names and system messages, never markup.
    statusLine_->setTextFormat(Qt::PlainText);
    statusLine_->hide();
}

void MainDialog::PlaceControl(int id, QWidget* widget) {
    if (id != kIdLabel) widget->setObjectName(QStringLiteral("control%1").arg(id));
    controls_[id] = widget;
}

QWidget* MainDialog::control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

// ---- commands --------------------------------------------------------------

namespace {

struct CommandRange {
    int first;
    int last;
    void (*run)(MainDialog& dialog, int offset);
};

const CommandRange kCommands[] = {
    {kSlotConfigFirst, kSlotConfigFirst + kMaxSlots - 1,
     [](MainDialog& d, int k) { d.ConfigureSlot(k + 1); }},
    {kIdConfigButton, kIdConfigButton, [](MainDialog& d, int) { d.ConfigureId(); }},
    {kMoreSlotsButton, kMoreSlotsButton, [](MainDialog& d, int) { d.MoreSlots(); }},
    {kFewerSlotsButton, kFewerSlotsButton, [](MainDialog& d, int) { d.FewerSlots(); }},
    {kSetRadioFirst, kSetRadioLast, [](MainDialog& d, int n) { d.SelectConfigSet(n); }},
    {kExportTargetButton, kExportTargetButton, [](MainDialog& d, int) { d.ChooseExportTarget(); }},
    {kSendButton, kSendButton, [](MainDialog& d, int) { d.Send(); }},
    {kFinishButton, kFinishButton, [](MainDialog& d, int) { d.FinishStation(); }},
    {kExcelOpenButton, kExcelOpenButton, [](MainDialog& d, int) { d.OpenExcel(); }},
    {kExcelCloseButton, kExcelCloseButton, [](MainDialog& d, int) { d.CloseExcel(); }},
};

}  // namespace

void MainDialog::OnCommand(int id) {
    for (const CommandRange& c : kCommands) {
        if (id >= c.first && id <= c.last) {
            c.run(*this, id - c.first);
            return;
        }
    }
}

void MainDialog::StartSendTimer() {
    const double period = g_run.TimerPeriod;
    if (period > 0.0) port_->StartTimer(kSendTimer, SendTimerMs(period));
}

void MainDialog::WaitForPause() {
    while (!PauseReached()) platform::PumpWait(kPausePollMs);
}

void MainDialog::PauseFor(std::atomic<bool>& request) {
    port_->StopTimer(kSendTimer);
    request = true;
    WaitForPause();
    // The acquisition may have restarted it at the end of its last cycle. Its
    // start reaches this thread queued: let it arrive first, then stop it.
    QCoreApplication::sendPostedEvents(port_.get(), QEvent::MetaCall);
    port_->StopTimer(kSendTimer);
}

void MainDialog::Resume(std::atomic<bool>& request) {
    StartSendTimer();
    station_->Go();
    request = false;
}

void MainDialog::ConfigureSlot(int slot) {
    CommandScope scope(*this);
    if (!scope.entered()) return;
    PauseFor(g_run.ConfigPauseRequest);
    SaveMainFileState(*port_);
    station_->devices().CloseAll();
    g_run.ConfigSlot = slot;
    if (hooks_.configureDevice) hooks_.configureDevice(slot);
    LoadConfiguration(*port_);
    station_->devices().OpenAll(*port_);
    Resume(g_run.ConfigPauseRequest);
}

void MainDialog::ConfigureId() {
    CommandScope scope(*this);
    if (!scope.entered()) return;
    PauseFor(g_run.ConfigPauseRequest);
    idConfig_->Run();
    Resume(g_run.ConfigPauseRequest);
}

void MainDialog::MoreSlots() {
    CommandScope scope(*this);
    if (!scope.entered()) return;
    g_run.DeviceCount = std::min<int>(g_run.DeviceCount + 1, kMaxSlots);
    WriteDeviceCount();
    LoadConfiguration(*port_);
}

void MainDialog::FewerSlots() {
    CommandScope scope(*this);
    if (!scope.entered()) return;
    g_run.DeviceCount = std::max<int>(g_run.DeviceCount - 1, 1);
    WriteDeviceCount();
    LoadConfiguration(*port_);
}

void MainDialog::SelectConfigSet(int set) {
    CommandScope scope(*this);
    if (!scope.entered()) return;
    PauseFor(g_run.ConfigPauseRequest);
    station_->devices().CloseAll();
    excel_->CloseExcel();
    SelectConfigSetFiles(set, *port_);
    // Nothing of the old set carries over: the ID and slot fields, which the
    // keyboard sources read, show the new set's last texts.
    ShowLoadedTexts();
    station_->devices().OpenAll(*port_);
    Resume(g_run.ConfigPauseRequest);
}

void MainDialog::ChangeExportType(int index) {
    CommandScope scope(*this);
    if (!scope.entered()) {
        // The list must not show a type the export does not use.
        SelectListEntry(kExportTypeList, static_cast<int>(g_run.ExportType.load()));
        return;
    }
    g_run.ExportType = static_cast<ExportKind>(index);
    WriteExportType();
    LoadConfiguration(*port_);
}

void MainDialog::ChooseExportTarget() {
    CommandScope scope(*this);
    if (!scope.entered()) return;
    PauseFor(g_run.ExportPauseRequest);
    switch (exports::ExportTypeOf(g_run.ExportType).chooser) {
        case exports::Chooser::CsvFile: {
            // A new file may be named as well as an existing one chosen.
            const auto file = ChooseCsvExportFile(this, FromWide(exports::ExportFolder()),
                                                  FromWide(g_run.CsvFileName.str()));
            if (!file) break;
            const qsizetype cut = file->lastIndexOf(QLatin1Char('/')) + 1;
            g_run.ExportPath = file->left(cut).toStdWString();
            g_run.CsvFileName = file->mid(cut).toStdWString();
            WriteExportTarget();
            SetControlText(kFileNameField, *file);
            break;
        }
        case exports::Chooser::Folder: {
            const auto folder = ChooseFolder(this, QStringLiteral("Please choose a folder."),
                                             FromWide(exports::ExportFolder()));
            if (!folder) break;
            const QString withSeparator =
                folder->endsWith(QLatin1Char('/')) ? *folder : *folder + QLatin1Char('/');
            g_run.ExportPath = withSeparator.toStdWString();
            // The field names the file only (its folder is ExportPath, shown in
            // the field's tip): the current ID's file, where a record goes
            // until the next ID read names it again.
            SetControlText(kFileNameField,
                           FromWide(exports::IdFileName(ControlText(kIdField).toStdWString())));
            break;
        }
        case exports::Chooser::WorkbookDialog:
            if (hooks_.configureExport) hooks_.configureExport();
            SetControlText(kFileNameField, FromWide(g_run.XlsFileName.str()));
            break;
        case exports::Chooser::None:
            break;
    }
    // Lines kept for want of a file may go to the one chosen now, and the
    // problem line shows what still waits.
    exports::ExportTargetChosen(*port_);
    Resume(g_run.ExportPauseRequest);
}

void MainDialog::OpenExcel() {
    CommandScope scope(*this);
    if (!scope.entered()) return;
    excel_->OpenExcel();
}

void MainDialog::CloseExcel() {
    CommandScope scope(*this);
    if (!scope.entered()) return;
    excel_->CloseExcel();
}

void MainDialog::Send() {
    g_run.SendTrigger = TriggerStage::Pending;
}

void MainDialog::CloseWindow() {
    if (ending_) return;
    ending_ = true;
    port_->StopTimer(kSendTimer);
    g_run.ClosePauseRequest = true;
    WaitForPause();
    SaveTexts();
    EndStation();
}

void MainDialog::FinishStation() {
    if (ending_) return;
    ending_ = true;
    // A record whose export waits in a message box is written first: the box
    // is answered, and the end follows as soon as the export has returned.
    if (ExportInProgress()) {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->done(QMessageBox::Ok);
        }
    }
    RunAfterExport([this] { EndStation(); });
}

void MainDialog::EndStation() {
    port_->StopTimer(kSendTimer);
    // No device is closed while the acquisition thread may use it.
    if (!PauseReached()) {
        g_run.ClosePauseRequest = true;
        WaitForPause();
    }
    excel_->EndSequence();
    // The CSV lines handed over last are on disk before the end (the wait
    // keeps the window's events flowing, as every wait of this thread does).
    for (int waited = 0; !station_->FilesWritten() && waited < kExportWatchdogMs;
         waited += kPausePollMs) {
        platform::PumpWait(kPausePollMs);
    }
    station_->devices().CloseAll();
    SaveMainFileState(*port_);
    SaveTexts();
    if (hooks_.endProcess) hooks_.endProcess();
}

// ---- start-up --------------------------------------------------------------

void MainDialog::LoadInitialState() {
    ClearRunTimeFields();
    auto* list = static_cast<QComboBox*>(control(kExportTypeList));
    list->clear();
    for (const exports::ExportType& type : exports::ExportTypes()) {
        if (type.listText != nullptr) list->addItem(QString::fromUtf8(type.listText));
    }
    // A station killed in the middle of a configuration write left its
    // temporary file; nothing else will ever remove it.
    RemoveStaleConfigurationTemporaries();
    LoadConfiguration(*port_);
    setWindowTitle(FromWide(std::wstring(kVersionBanner)));
    LoadSharedLogo();
    ShowLoadedTexts();
}

void MainDialog::ShowLoadedTexts() {
    SetControlText(kIdField, FromWide(g_run.TextLast[kIdEntry].str()));
    for (int s = 1; s <= kMaxSlots; ++s) {
        SetControlText(kSlotTextFirst + s - 1, FromWide(g_run.TextLast[s].str()));
    }
}

void MainDialog::StartAcquisition(platform::KeyState& keys) {
    station_->Start(keys);
    station_->Go();
    platform::PumpWait(kStartSettleMs);
    StartSendTimer();
    g_run.IdReadRequest = true;
    port_->StartTimer(kIdTimer, TimerPeriodMs(kIdTimer));
}

void MainDialog::ShowStation() {
    show();
    // Platforms without a desktop (offscreen, minimal) have nothing to raise
    // and would only say so on standard error.
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) return;
    raise();
    activateWindow();
}

// ---- window side of the port -----------------------------------------------

void MainDialog::LayoutControls() {
    const int rows = LayoutRows();
    const QSize size(kWindowWidth, WindowHeightFor(rows));
    setFixedSize(size);
    PlaceOnScreen(size);
    for (const ControlSpec& spec : kControls) {
        for (int k = 0; k < SlotCountOf(spec); ++k) {
            QWidget* w = control(spec.id + k);
            w->setGeometry(Placement(spec, k, rows));
            w->setVisible(IsShown(spec.shown, k + 1));
        }
    }
    // "open" and "close" share one place: the one that can act now is on top.
    control(g_run.ExcelConnected ? kExcelCloseButton : kExcelOpenButton)->raise();

    const int set = g_run.ConfigSet;
    for (int id = kSetRadioFirst; id <= kSetRadioLast; ++id) {
        static_cast<QRadioButton*>(control(id))->setChecked(id - kSetRadioFirst == set);
    }
    statusLine_->setGeometry(5, kRowPitch * rows + kStatusLineTop, kWindowWidth - 10,
                             kStatusLineHeight);
    UpdateStatusLine();
    UpdateFileNameTip();
}

void MainDialog::PlaceOnScreen(QSize size) {
    // A saved position may belong to a screen that is gone or smaller now, and
    // the window grows with every slot: SEND and FINISH must stay reachable.
    // The position is the frame's; its margins are known once the window
    // system has framed the window.
    const QMargins frame = windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
    const int outerWidth = size.width() + frame.left() + frame.right();
    const int outerHeight = size.height() + frame.top() + frame.bottom();
    const std::vector<platform::ScreenArea> screens = DesktopScreens();
    const platform::ScreenPoint placed =
        platform::PlaceWindow({g_run.WindowX, g_run.WindowY}, outerWidth, outerHeight, screens);
    move(placed.x, placed.y);
}

void MainDialog::SelectListEntry(int id, int index) {
    auto* list = qobject_cast<QComboBox*>(control(id));
    if (list == nullptr) return;
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

void MainDialog::SetControlText(int id, const QString& text) {
    QWidget* w = control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        // Unchanged text is left alone, so that typing in the field is not disturbed.
        if (edit->text() != text) edit->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(text);
    }
    if (id == kFileNameField) UpdateFileNameTip();
}

void MainDialog::UpdateFileNameTip() {
    // The field shows only the file's name; its tip says where the file is.
    QString tip;
    if (g_run.ExportType != ExportKind::None) {
        const std::wstring path =
            exports::ExportFilePath(ControlText(kFileNameField).toStdWString());
        tip = path.empty() ? QStringLiteral("No file chosen") : FromWide(path);
    }
    if (!problemText_.isEmpty()) {
        if (!tip.isEmpty()) tip += QStringLiteral("\n\n");
        tip += problemText_;
    }
    control(kFileNameField)->setToolTip(tip);
}

QString MainDialog::ControlText(int id) const {
    QWidget* w = control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
    if (auto* list = qobject_cast<QComboBox*>(w)) return list->currentText();
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    return {};
}

void MainDialog::ShowExportProblem(const QString& text) {
    // Every successful export says "no problem": restyling the window each
    // time would cost a style sheet parse and a relayout per record.
    if (text == problemText_) return;
    const bool styleChanges = text.isEmpty() != problemText_.isEmpty();
    problemText_ = text;
    UpdateFileNameTip();
    UpdateStatusLine();
    if (!styleChanges) return;
    auto* field = static_cast<QLineEdit*>(control(kFileNameField));
    field->setStyleSheet(
        text.isEmpty() ? QString()
                       : QStringLiteral("QLineEdit { background: #ffd0d0; color: #800000; }"));
}

void MainDialog::ShowSettingsNotKept(bool notKept) {
    const QString title = FromWide(std::wstring(kVersionBanner));
    setWindowTitle(notKept ? title + QStringLiteral(" - settings not saved") : title);
}

void MainDialog::ShowRecordWritten(const QString& when, const QString& where) {
    recordTime_ = when;
    recordFile_ = where;
    UpdateStatusLine();
}

void MainDialog::ShowRecordsWaiting(qint64 waiting, const QString& problem) {
    if (waiting == waiting_ && problem == waitingProblem_) return;
    waiting_ = waiting;
    waitingProblem_ = problem;
    UpdateStatusLine();
}

void MainDialog::UpdateStatusLine() {
    QString line;
    QString tip;
    QString sheet;
    // Records the plant server has not taken are safe in the journal: news
    // beside the last record, with the reason on hover.
    const QString waiting =
        waiting_ <= 0 ? QString() : QStringLiteral("%1 waiting for the plant server").arg(waiting_);
    if (!problemText_.isEmpty()) {
        // A problem matters more than the last success: it alone is shown.
        sheet = QStringLiteral(
            "QLabel { background: #5a0000; color: white; border: 1px solid #ff4040;"
            " padding: 0 4px; font-weight: bold; }");
        line = problemText_.section(QLatin1Char('\n'), 0, 0);
        tip = problemText_;
    } else if (!recordFile_.isEmpty()) {
        // Plain text in the window's own colours: news, not an alarm.
        sheet = QStringLiteral("QLabel { padding: 0 4px; }");
        line = recordTime_.isEmpty() ? QStringLiteral("Last record written")
                                     : QStringLiteral("Last record ") + recordTime_;
        tip = recordFile_;
        if (waiting.isEmpty()) {
            line += QStringLiteral(" in ") + recordFile_.section(QLatin1Char('/'), -1);
        } else {
            // The count matters more than the file's name, which the tooltip has.
            line += QStringLiteral("; ") + waiting;
            if (!waitingProblem_.isEmpty()) tip += QLatin1Char('\n') + waitingProblem_;
        }
    } else if (!waiting.isEmpty()) {
        sheet = QStringLiteral("QLabel { padding: 0 4px; }");
        line = waiting_ == 1
                   ? QStringLiteral("1 record waiting for the plant server")
                   : QStringLiteral("%1 records waiting for the plant server").arg(waiting_);
        tip = waitingProblem_;
    } else {
        statusLine_->hide();
        return;
    }
    // Records come every few seconds; the style changes only with the state.
    if (statusLine_->styleSheet() != sheet) statusLine_->setStyleSheet(sheet);
    statusLine_->setText(statusLine_->fontMetrics().elidedText(
        line, Qt::ElideRight, statusLine_->width() - kStatusLineTextInset));
    if (statusLine_->toolTip() != tip) statusLine_->setToolTip(tip);
    // Raised once when it appears; restacking on every record repaints more.
    if (statusLine_->isHidden()) {
        statusLine_->show();
        statusLine_->raise();
    }
}

QString MainDialog::exportProblem() const {
    return problemText_;
}

// ---- painting and window events ----------------------------------------------

void MainDialog::MirrorFileSourcedId() {
    // An ID taken from a file in this cycle is shown in the ID field. Set after
    // the paint, not during it.
    if (g_run.TextSource[kIdEntry] == 0 || g_run.SlotState[kIdEntry] != SlotStage::Read) return;
    const QString id = FromWide(g_run.TextLast[kIdEntry].str());
    if (ControlText(kIdField) == id) return;
    QMetaObject::invokeMethod(
        this, [this, id] { SetControlText(kIdField, id); }, Qt::QueuedConnection);
}

bool MainDialog::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int slot = SlotAtPoint(help->pos());
        if (slot != 0) {
            const QString tip = SlotToolTip(slot);
            if (tip.isEmpty()) {
                QToolTip::hideText();
            } else {
                QToolTip::showText(help->globalPos(), tip, this, SlotRowRect(slot));
            }
            return true;
        }
    }
    return QDialog::event(event);
}

void MainDialog::RefreshChangedRows() {
    const QRegion changed = slots_.ChangedRows();
    if (!changed.isEmpty()) update(changed);
}

void MainDialog::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (isMinimized()) {
        PaintMinimisedIcon(painter, size(), icon_);
        return;
    }
    const QRect logo = control(kLogoPlaceholder)->geometry();
    if (event->rect().intersects(logo)) PaintSharedLogo(painter, logo);
    MirrorFileSourcedId();
    slots_.Paint(painter, event->rect());
}

void MainDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Placed again now that the window exists: its frame may be known by now.
    if (!event->spontaneous()) PlaceOnScreen(size());
}

void MainDialog::closeEvent(QCloseEvent* event) {
    // The window stays until the station has saved everything and ends.
    event->ignore();
    CloseWindow();
}

void MainDialog::reject() {
    FinishStation();
}

}  // namespace karvelo::app
