#pragma once

#include <QDialog>

#include <string>

class QLabel;
class QPushButton;
class QKeyEvent;

namespace quindel {

struct RuntimeState;
class Platform;

// The virtual-key code for a Qt key, for key events that carry no scan code or when no
// platform reads the keyboard (0 when the key has no virtual-key code). keypad marks a key of the
// numeric pad.
int virtualKeyFromQtKey(int qtKey, bool keypad = false);

// The code a key-down reports for a key: the left- and right-hand codes of Shift, Ctrl and
// Alt become 16, 17 and 18; every other code stays as it is.
int foldSidedModifier(int virtualKey);

// Waits for one key of the PC keyboard, shows it and lets the user confirm it or try again.
// On confirmation the key's virtual-key code is left in state.capturedTriggerCode.
class KeyCaptureDialog : public QDialog {
    Q_OBJECT

  public:
    KeyCaptureDialog(RuntimeState& state, Platform& platform, QWidget* parent = nullptr);

    QLabel* promptLabel;
    QPushButton* repeatButton;
    QPushButton* confirmButton;
    QLabel* instructionLabel;
    QPushButton* cancelButton;

    bool waitingForKey = true;
    std::string capturedKeyText;

    // The key-down handler: sets the button captions and takes the key when one is awaited
    // and the key has a code (0: none).
    void keyDown(int keyCode);
    void repeatClicked();
    void confirmClicked();

  protected:
    bool event(QEvent* event) override;

  private:
    void takeKey(int code);

    RuntimeState& state_;
    Platform& platform_;
};

} // namespace quindel
