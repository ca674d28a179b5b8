#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;

namespace quindel {

struct RuntimeState;
class MidiInputControl;

// The input device dialog: lists the MIDI input devices of the main window's control and the
// PC keyboard, and stores the choice in the runtime state and the settings file on OK.
class DeviceDialog : public QDialog {
    Q_OBJECT

  public:
    DeviceDialog(RuntimeState& state, MidiInputControl& mainControl, QWidget* parent = nullptr);

    QLabel* promptLabel;
    QListWidget* deviceList;
    QPushButton* okButton;
    QPushButton* cancelButton;

    // Stores the selected entry and closes; stays open with a message when nothing is selected.
    void okClicked();

  protected:
    // A message box with an OK button; tests replace it.
    virtual void showMessage(const QString& text);
    void showEvent(QShowEvent* event) override;

  private:
    void fillDeviceList();

    RuntimeState& state_;
    MidiInputControl& mainControl_;
    std::vector<std::string> deviceNames_; // as the control gives them, byte for byte
    bool noDevices_ = false;
    bool noDevicesShown_ = false;
};

} // namespace quindel
