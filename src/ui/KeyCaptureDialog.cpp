#include "ui/KeyCaptureDialog.h"

#include "ui/Twips.h"
#include "ui/DialogSupport.h"
#include "core/text/TriggerNames.h"
#include "core/engine/RuntimeState.h"
#include "platform/Platform.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace quindel {

int virtualKeyFromQtKey(int qtKey, bool keypad) {
    if (keypad) {
        if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
            return 96 + (qtKey - Qt::Key_0);
        switch (qtKey) {
        case Qt::Key_Asterisk:
            return 106;
        case Qt::Key_Plus:
            return 107;
        case Qt::Key_Minus:
            return 109;
        case Qt::Key_Period:
        case Qt::Key_Comma:
            return 110;
        case Qt::Key_Slash:
            return 111;
        default:
            break;
        }
    }
    // Letters and digits carry their virtual-key codes as Qt key values.
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return qtKey;
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return qtKey;
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return 112 + (qtKey - Qt::Key_F1);
    switch (qtKey) {
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 9;
    case Qt::Key_Clear:
        return 12;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Shift:
        return 16;
    case Qt::Key_Control:
        return 17;
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
        return 18;
    case Qt::Key_Pause:
        return 19;
    case Qt::Key_CapsLock:
        return 20;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Space:
        return 32;
    case Qt::Key_PageUp:
        return 33;
    case Qt::Key_PageDown:
        return 34;
    case Qt::Key_End:
        return 35;
    case Qt::Key_Home:
        return 36;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return 38;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return 40;
    case Qt::Key_Print:
        return 44;
    case Qt::Key_Insert:
        return 45;
    case Qt::Key_Delete:
        return 46;
    case Qt::Key_Help:
        return 47;
    case Qt::Key_Meta:
        return 91;
    case Qt::Key_Menu:
        return 93;
    case Qt::Key_NumLock:
        return 144;
    case Qt::Key_ScrollLock:
        return 145;
    // Shifted digits of a US layout come from the digit keys.
    case Qt::Key_ParenRight:
        return 48;
    case Qt::Key_Exclam:
        return 49;
    case Qt::Key_At:
        return 50;
    case Qt::Key_NumberSign:
        return 51;
    case Qt::Key_Dollar:
        return 52;
    case Qt::Key_Percent:
        return 53;
    case Qt::Key_AsciiCircum:
        return 54;
    case Qt::Key_Ampersand:
        return 55;
    case Qt::Key_Asterisk:
        return 56;
    case Qt::Key_ParenLeft:
        return 57;
    // Punctuation keys, plain and shifted.
    case Qt::Key_Semicolon:
    case Qt::Key_Colon:
        return 186;
    case Qt::Key_Equal:
    case Qt::Key_Plus:
        return 187;
    case Qt::Key_Comma:
    case Qt::Key_Less:
        return 188;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
        return 189;
    case Qt::Key_Period:
    case Qt::Key_Greater:
        return 190;
    case Qt::Key_Slash:
    case Qt::Key_Question:
        return 191;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde:
        return 192;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft:
        return 219;
    case Qt::Key_Backslash:
    case Qt::Key_Bar:
        return 220;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight:
        return 221;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl:
        return 222;
    default:
        return 0;
    }
}

int foldSidedModifier(int virtualKey) {
    // Left and right Shift, Ctrl and Alt (160 to 165) arrive as their generic codes, which
    // the key poll answers for either hand.
    if (virtualKey >= 160 && virtualKey <= 165)
        return 16 + (virtualKey - 160) / 2;
    return virtualKey;
}

KeyCaptureDialog::KeyCaptureDialog(RuntimeState& state, Platform& platform, QWidget* parent)
    : QDialog(parent), state_(state), platform_(platform) {
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(twipsToPixels(4680), twipsToPixels(3090));
    // Every key is a candidate trigger, Tab and Escape included, so the dialog itself keeps
    // the keyboard focus and the buttons are clicked with the mouse only.
    setFocusPolicy(Qt::StrongFocus);

    promptLabel = new QLabel(this);
    promptLabel->setObjectName("Label1");
    promptLabel->setGeometry(twipsRect(1560, 600, 1680, 1035));
    promptLabel->setFrameStyle(QFrame::Box | QFrame::Plain);
    promptLabel->setAlignment(Qt::AlignCenter);
    repeatButton = new QPushButton(this);
    repeatButton->setObjectName("cmdRipeti");
    repeatButton->setGeometry(twipsRect(1560, 1800, 1695, 495));
    confirmButton = new QPushButton(this);
    confirmButton->setObjectName("cmdConferma");
    confirmButton->setGeometry(twipsRect(1560, 2520, 1695, 495));
    for (QPushButton* button : {repeatButton, confirmButton}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
    }
    connect(repeatButton, &QPushButton::clicked, this, &KeyCaptureDialog::repeatClicked);
    connect(confirmButton, &QPushButton::clicked, this, &KeyCaptureDialog::confirmClicked);

    setWindowTitle(QString::fromStdString(state_.texts.keyboardKeyTitle));
    confirmButton->hide();
    repeatButton->hide();
    promptLabel->clear();
    waitingForKey = true;

    // What to do, the key taken with its name, and a way out that is no key.
    instructionLabel = new QLabel(QString::fromStdString(state_.texts.keyCaptureInstruction), this);
    instructionLabel->setObjectName("lblIstruzione");
    instructionLabel->setGeometry(twipsRect(120, 90, 4440, 480));
    instructionLabel->setAlignment(Qt::AlignCenter);
    instructionLabel->setWordWrap(true);
    promptLabel->setGeometry(twipsRect(240, 600, 4200, 1035));
    cancelButton = new QPushButton(QString::fromStdString(state_.texts.cancelCaption), this);
    cancelButton->setObjectName("cmdAnnulla");
    cancelButton->setGeometry(twipsRect(3360, 2520, 1215, 495));
    cancelButton->setFocusPolicy(Qt::NoFocus);
    cancelButton->setAutoDefault(false);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    giveOwnFrame(this);
}

bool KeyCaptureDialog::event(QEvent* event) {
    // Taken here rather than in keyPressEvent so that Tab, Escape and Return are captured
    // instead of moving the focus or closing the dialog.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        // A key of the keyboard is named by its scan code, so the code taken is the one the
        // key poll fires on for that key on the current layout (on Wayland, the one the same
        // layout gives on X11), whatever Shift or the typed character; a key the keymap gives
        // no code is not offered (by its Qt key, keypad "=" and "(" would take the codes of the
        // "=" and "9" keys). Events without a scan code (made up by the program), and keys
        // while the platform knows no keymap, go by the Qt key.
        const quint32 scanCode = key->nativeScanCode();
        const int code =
            scanCode != 0 && platform_.available() && platform_.knowsKeymap()
                ? foldSidedModifier(platform_.virtualKeyFromNative(scanCode))
                : virtualKeyFromQtKey(key->key(), key->modifiers() & Qt::KeypadModifier);
        keyDown(code);
        return true;
    }
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    return QDialog::event(event);
}

void KeyCaptureDialog::keyDown(int keyCode) {
    repeatButton->setText(QString::fromStdString(state_.texts.repeatCaption));
    confirmButton->setText(QString::fromStdString(state_.texts.confirmCaption));
    // A key without a code cannot fire an action, so it is not offered as a trigger.
    if (waitingForKey && keyCode > 0)
        takeKey(keyCode);
}

void KeyCaptureDialog::takeKey(int code) {
    capturedKeyText = std::to_string(code);
    promptLabel->setText(
        QString::fromStdString(triggerWithName(capturedKeyText, platform_, state_.texts)));
    repeatButton->show();
    confirmButton->show();
    waitingForKey = false;
}

void KeyCaptureDialog::repeatClicked() {
    confirmButton->hide();
    repeatButton->hide();
    waitingForKey = true;
    promptLabel->clear();
}

void KeyCaptureDialog::confirmClicked() {
    state_.capturedTriggerCode = capturedKeyText;
    accept();
}

} // namespace quindel
