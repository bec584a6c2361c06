#pragma once
// DEVICECFG, the "DEVICE CONFIGURATION" dialog: one slot's device type, how
// its instrument is reached (COM port, USB serial number, card axis), channel,
// encoder parameter, send mode and time or text source, decimals, factor,
// offset and title. Runs modally on the user-interface thread while the
// station's devices are closed and the acquisition is paused.
//
// It works on the active configuration file: the request and text-source
// lists write their choice at once, OK writes every key of the section. What
// it decides lives in devices/device_config.h; this class shows and collects.

#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devices/device_config.h"
#include "devices/device_type.h"
#include "ui/settings_saver.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace karvelo::serial {
class ComProbe;
}

namespace karvelo::devices {

// What the dialog asks of the station's back-ends; tests hand it fakes.
struct DeviceConfigSources {
    // Serial numbers of the FTDI adapters that match a type.
    std::function<std::vector<std::wstring>(const DeviceType&)> ftdiSerials;
    // Identification numbers of the counter card's axes; empty when there is
    // no card (or no library).
    std::function<std::vector<std::wstring>(const DeviceType&)> cardAxes;
    // The bus driver's own setup dialog over the given window.
    std::function<void(std::uintptr_t parentWindow)> busSetup;
    // A message box with the error icon.
    std::function<void(const std::wstring& caption, const std::wstring& text)> errorBox;
    // Keeps a changed settings document.
    ui::SaveSettings saveSettings;
};

class DeviceConfigDialog : public QDialog {
    Q_OBJECT

  public:
    explicit DeviceConfigDialog(DeviceConfigSources sources, QWidget* parent = nullptr);
    ~DeviceConfigDialog() override;

    // Fills the dialog from section DEVICE<slot> of the active file (the
    // opening step).
    void Open(int slot);
    // Open, then modal until OK or close; QDialog::Accepted after OK.
    int Run(int slot);

    // The handlers, as the controls call them.
    void OnTypeChanged();
    void OnPortChanged(int index);
    void OnRequestChanged(int index);
    void OnTextSourceChanged(int index);
    void Browse();
    void BusSetup();
    void accept() override;

    // Waits (keeping events flowing) until the COM probe has filled the port
    // list; at most `timeoutMs`. True when it has.
    bool FinishPortProbe(int timeoutMs);

    QWidget* control(int id) const;
    int rememberedPort() const { return rememberedPort_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void CreateControls();
    QRect Dlu(int x, int y, int width, int height) const;
    void FillPorts(PortFill fill);
    void FillSerials(SerialFill fill);
    void TakeProbeResults();
    std::string ActiveFile() const;

    DeviceConfigSources sources_;
    int slot_ = 1;
    int rememberedPort_ = 4;
    std::wstring rememberedSerial_;
    std::unique_ptr<serial::ComProbe> probe_;
    QTimer probeTimer_;

    QComboBox* types_ = nullptr;
    QComboBox* requests_ = nullptr;
    QComboBox* textSources_ = nullptr;
    QComboBox* ports_ = nullptr;
    QComboBox* serials_ = nullptr;
    QComboBox* channels_ = nullptr;
    QComboBox* parameters_ = nullptr;
    QLineEdit* sendTime_ = nullptr;
    QLineEdit* textFile_ = nullptr;
    QLineEdit* decimals_ = nullptr;
    QLineEdit* title_ = nullptr;
    QLineEdit* factor_ = nullptr;
    QLineEdit* offset_ = nullptr;
    QPushButton* browse_ = nullptr;
    QPushButton* busSetup_ = nullptr;
    QWidget* logo_ = nullptr;
    QPushButton* ok_ = nullptr;
    std::map<int, QWidget*> controls_;
};

}  // namespace karvelo::devices
