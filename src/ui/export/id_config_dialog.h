#pragma once
// IDNRCFG, the "ID CONFIGURATION" dialog: where the ID text comes from, typed
// in ("TEXT input") or field 1 to 9 of the first line of a list file
// ("CSV_1" .. "CSV_9"), and which file that is. Runs modally on the
// user-interface thread while the acquisition is paused.
//
// A change of the choice is written to the configuration at once; OK writes
// the choice, the folder and the file name; closing the dialog otherwise
// writes nothing more (a file chosen with ">>" stays in the run-time state).

#include <QDialog>
#include <map>

#include "ui/settings_saver.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace karvelo::exports {

enum IdConfigControl : int {
    kIdConfigOk = 1,
    kIdBrowseButton = 1009,
    kIdSourceList = 1310,
    kIdFileField = 1311,
};

class IdConfigDialog : public QDialog {
    Q_OBJECT

  public:
    explicit IdConfigDialog(ui::SaveSettings save, QWidget* parent = nullptr);

    // Fills the dialog from the active configuration file (the open step).
    void Open();
    // Open, then modal until OK or close; returns QDialog::Accepted after OK.
    int Run();

    // The handlers, as the controls call them.
    void OnChoiceChanged(int index);
    void Browse();
    void accept() override;

    QWidget* control(int id) const;

  private:
    ui::SaveSettings save_;
    void ShowFileControls(int choice);

    QComboBox* list_ = nullptr;
    QLineEdit* fileField_ = nullptr;
    QPushButton* browse_ = nullptr;
    QPushButton* ok_ = nullptr;
    std::map<int, QWidget*> controls_;
};

}  // namespace karvelo::exports
