#pragma once
// The station's window: one row per slot in use, the ID field, the export
// controls and the configuration-set buttons; its height follows DeviceCount.
// Its start-up starts the whole station (devices, threads, timers), and every
// command the operator gives runs here, on the user-interface thread.
//
// Commands that touch devices or the configuration pause the acquisition
// first: they set a pause request and keep the window's events flowing until
// the acquisition thread has honoured it (and a record it has already handed
// over has been written), then lift the pause when they are done.

#include <QDialog>
#include <QIcon>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "app/station.h"
#include "devices/device_set.h"
#include "export/excel_export.h"
#include "ui/devices/device_config_dialog.h"
#include "ui/export/excel_config_dialog.h"
#include "ui/station/display_painter.h"

class QLabel;

#include "state/window_port.h"

namespace karvelo::platform {
class KeyState;
}

namespace karvelo::exports {
class IdConfigDialog;
}

namespace karvelo::app {

class QtWindowPort;

// The static "ID:" label has no identifier of its own.
inline constexpr int kIdLabel = -1;

inline constexpr int kWindowWidth = 355;
// Client height for `deviceCount` rows: 61 per row plus 195 for the rest.
int WindowHeightFor(int deviceCount);

class MainDialog : public QDialog {
    Q_OBJECT

  public:
    // What the window cannot do by itself in every setting: the dialogs that
    // join later, and the end of the process. Tests replace them.
    struct Hooks {
        std::function<void(int slot)> configureDevice;  // modal, OK or not makes no difference
        std::function<void()> configureExport;          // the workbook export's settings, modal
        std::function<void()> endProcess;               // after FINISH / EXIT has saved everything
    };

    explicit MainDialog(QWidget* parent = nullptr);
    ~MainDialog() override;

    WindowPort& port();
    Hooks& hooks() { return hooks_; }

    // Start-up, in this order: the run-time fields cleared, the export types
    // listed, the configuration loaded, caption, logo and text fields set.
    // The program paths must be derived before.
    void LoadInitialState();
    // Then: devices opened, the key-poll and acquisition threads started, the
    // acquisition released, the send timer and the ID timer started.
    void StartAcquisition(platform::KeyState& keys);
    // Shows the window on top of the others and gives it the focus.
    void ShowStation();

    // Commands.
    void ConfigureSlot(int slot);
    void ConfigureId();
    void MoreSlots();
    void FewerSlots();
    void SelectConfigSet(int set);
    void ChangeExportType(int index);
    void ChooseExportTarget();
    void Send();
    void CloseWindow();
    void FinishStation();
    void OpenExcel();
    void CloseExcel();

    // Controls by identifier; nullptr for an unknown one.
    QWidget* control(int id) const;
    exports::IdConfigDialog& idConfigDialog() { return *idConfig_; }
    exports::ExcelConfigDialog& excelConfigDialog() { return *excelConfig_; }
    // The workbook link of export types 5 and 6.
    exports::ExcelLink& excel() { return *excel_; }
    Station& station() { return *station_; }
    devices::DeviceConfigDialog& deviceConfigDialog() { return *deviceConfig_; }

    // The window side of the WindowPort; user-interface thread only.
    void LayoutControls();
    // Repaints the slot rows whose content changed since they were painted.
    void RefreshChangedRows();
    void SelectListEntry(int id, int index);
    void SetControlText(int id, const QString& text);
    QString ControlText(int id) const;
    void ShowExportProblem(const QString& text);
    QString exportProblem() const;
    // `when`: the record's local time ("14:03:22", may be empty); `where`:
    // its file's full path.
    void ShowRecordWritten(const QString& when, const QString& where);
    // How many records wait for the plant server (0: none) and why.
    void ShowRecordsWaiting(qint64 waiting, const QString& problem);
    // The title says so while changes of the settings cannot be saved.
    void ShowSettingsNotKept(bool notKept);

  protected:
    // A slot row's tooltip says why its port cannot be used.
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Escape presses FINISH / EXIT.
    void reject() override;

  private:
    class CommandScope;

    // The back-ends' lists and the bus setup, for the device configuration.
    devices::DeviceConfigSources DeviceConfigSources();

    void CreateControls();
    void OnCommand(int id);
    void PauseFor(std::atomic<bool>& request);
    void Resume(std::atomic<bool>& request);
    void WaitForPause();
    void EndStation();
    void StartSendTimer();
    void MirrorFileSourcedId();
    void PlaceControl(int id, QWidget* widget);
    // Moves the window of client `size` to its saved position, wholly on the
    // screen of that position (or the nearest one).
    void PlaceOnScreen(QSize size);
    // The file-name field's tip: the export file's full path, then any
    // export problem.
    void UpdateFileNameTip();
    // Shows the loaded set's last ID and slot texts in their fields.
    void ShowLoadedTexts();
    // The band under the set buttons: an export problem in red, else the last
    // record written, else nothing.
    void UpdateStatusLine();

    Hooks hooks_;
    std::map<int, QWidget*> controls_;
    QLabel* statusLine_ = nullptr;
    QString problemText_;
    QString recordTime_;  // the last record written: its time and file
    QString recordFile_;
    qint64 waiting_ = 0;  // records the plant server has not taken yet, and why
    QString waitingProblem_;
    SlotDisplay slots_;
    QIcon icon_;
    std::unique_ptr<QtWindowPort> port_;
    // The instruments; opened and closed only while the acquisition is paused.
    std::unique_ptr<Station> station_;
    std::unique_ptr<exports::ExcelLink> excel_;
    std::unique_ptr<exports::IdConfigDialog> idConfig_;
    std::unique_ptr<devices::DeviceConfigDialog> deviceConfig_;
    std::unique_ptr<exports::ExcelConfigDialog> excelConfig_;
    bool commandRunning_ = false;
    bool ending_ = false;  // CloseWindow or FinishStation has begun
};

}  // namespace karvelo::app
