#pragma once

#include "core/midi/MidiInputControl.h"

#include <QDialog>

#include <memory>
#include <string>

class QLabel;
class QPushButton;
class QTimer;

namespace quindel {

struct RuntimeState;

// Waits for one MIDI command on the chosen input device through its own input control and
// port, shows its code and lets the user confirm it or try again. On confirmation the code is
// left in state.capturedTriggerCode; closed otherwise, the dialog changes nothing. The dialog's
// port is closed whenever the dialog closes; the main window's port is never touched.
class MidiCaptureDialog : public QDialog {
    Q_OBJECT

  public:
    MidiCaptureDialog(RuntimeState& state, const MidiInputFactory& midiFactory,
                      QWidget* parent = nullptr);
    ~MidiCaptureDialog() override;

    QLabel* promptLabel;
    QPushButton* repeatButton;
    QPushButton* confirmButton;
    QLabel* instructionLabel;
    QPushButton* cancelButton;
    QTimer* pollTimer;
    std::unique_ptr<MidiInputControl> midiControl;
    // The code taken and shown, handed over on confirmation.
    std::string capturedCode;

    // Clears the shown code and the waiting command, starts polling and opens the port.
    void startMidiCapture();
    // The polling tick: takes the waiting command, if any, and closes the port.
    void pollTimerFired();
    void repeatClicked();
    void confirmClicked();

    void done(int result) override;

  protected:
    // A message box with an OK button, in front of the dialog; it returns at once.
    virtual void showMessage(const QString& text);

  private:
    void closePort();

    RuntimeState& state_;
};

} // namespace quindel
