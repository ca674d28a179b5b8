#include "ui/MidiCaptureDialog.h"

#include "ui/Twips.h"
#include "ui/DialogSupport.h"
#include "core/text/TriggerNames.h"
#include "core/midi/MidiIntake.h"
#include "core/engine/RuntimeState.h"
#include "core/midi/PortControl.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace quindel {

namespace {
// Component error codes that are not worth telling the user about.
constexpr int kSilentErrorA = 0;
constexpr int kSilentErrorB = 8;
} // namespace

MidiCaptureDialog::MidiCaptureDialog(RuntimeState& state, const MidiInputFactory& midiFactory,
                                     QWidget* parent)
    : QDialog(parent), state_(state) {
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(twipsToPixels(4680), twipsToPixels(3090));

    promptLabel = new QLabel(this);
    promptLabel->setObjectName("Label1");
    promptLabel->setGeometry(twipsRect(1560, 240, 1680, 1035));
    promptLabel->setFrameStyle(QFrame::Box | QFrame::Plain);
    promptLabel->setAlignment(Qt::AlignCenter);
    repeatButton = new QPushButton(this);
    repeatButton->setObjectName("cmdRipeti");
    repeatButton->setGeometry(twipsRect(1560, 1440, 1695, 495));
    confirmButton = new QPushButton(this);
    confirmButton->setObjectName("cmdConferma");
    confirmButton->setGeometry(twipsRect(1560, 2160, 1695, 495));
    for (QPushButton* button : {repeatButton, confirmButton})
        button->setAutoDefault(false);
    pollTimer = new QTimer(this);
    connect(pollTimer, &QTimer::timeout, this, &MidiCaptureDialog::pollTimerFired);
    connect(repeatButton, &QPushButton::clicked, this, &MidiCaptureDialog::repeatClicked);
    connect(confirmButton, &QPushButton::clicked, this, &MidiCaptureDialog::confirmClicked);

    if (midiFactory)
        midiControl = midiFactory();
    if (midiControl) {
        midiControl->messagesArrived = [this] {
            // No user input in the pauses: a click on Confirm or Repeat waits until the drain
            // is done. A tap's note-off does not replace its note-on.
            drainMidiInput(
                state_, *midiControl,
                [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); },
                MidiIntakeFor::Capture);
        };
        midiControl->errorReported = [this](int code, const std::string& text) {
            if (code != kSilentErrorA && code != kSilentErrorB)
                showMessage(QString::fromStdString(text));
        };
    }

    setWindowTitle(QString::fromStdString(state_.texts.midiCommandTitle));
    confirmButton->setText(QString::fromStdString(state_.texts.confirmCaption));
    repeatButton->setText(QString::fromStdString(state_.texts.repeatCaption));

    // What to do, the command taken with its name, and a way out.
    instructionLabel =
        new QLabel(QString::fromStdString(state_.texts.midiCaptureInstruction), this);
    instructionLabel->setObjectName("lblIstruzione");
    instructionLabel->setGeometry(twipsRect(120, 45, 4440, 420));
    instructionLabel->setAlignment(Qt::AlignCenter);
    instructionLabel->setWordWrap(true);
    promptLabel->setGeometry(twipsRect(240, 480, 4200, 900));
    cancelButton = new QPushButton(QString::fromStdString(state_.texts.cancelCaption), this);
    cancelButton->setObjectName("cmdAnnulla");
    cancelButton->setGeometry(twipsRect(3360, 2160, 1215, 495));
    cancelButton->setAutoDefault(false);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    giveOwnFrame(this);
    startMidiCapture();
}

MidiCaptureDialog::~MidiCaptureDialog() {
    closePort();
    if (midiControl) {
        // The events refer to this window; nothing may reach them once it is gone.
        midiControl->messagesArrived = nullptr;
        midiControl->errorReported = nullptr;
    }
}

void MidiCaptureDialog::startMidiCapture() {
    confirmButton->hide();
    repeatButton->hide();
    promptLabel->clear();
    pollTimer->start(100);
    state_.lastMidiCommand.clear();
    if (state_.inputMode == kMidiMode && midiControl)
        openMidiInput(state_, *midiControl);
}

void MidiCaptureDialog::pollTimerFired() {
    if (state_.lastMidiCommand.empty())
        return;
    const std::string& command = state_.lastMidiCommand;
    capturedCode = command.size() > 4 ? command.substr(command.size() - 4) : command;
    state_.lastMidiCommand.clear();
    const std::string name = midiCommandName(capturedCode);
    promptLabel->setText(
        QString::fromStdString(name.empty() ? capturedCode : capturedCode + " " + name));
    repeatButton->show();
    confirmButton->show();
    pollTimer->stop();
    closePort();
}

void MidiCaptureDialog::repeatClicked() {
    startMidiCapture();
}

void MidiCaptureDialog::confirmClicked() {
    state_.capturedTriggerCode = capturedCode;
    accept();
}

void MidiCaptureDialog::done(int result) {
    // Every way out of the dialog ends the wait and closes the dialog's own port.
    pollTimer->stop();
    closePort();
    QDialog::done(result);
}

void MidiCaptureDialog::closePort() {
    if (midiControl)
        closeMidiInput(*midiControl);
}

void MidiCaptureDialog::showMessage(const QString& text) {
    // Errors arrive as posted events, which also run in the pauses of a MIDI drain (the main
    // window's, while it is started). A box with an event loop of its own would hold that drain,
    // and every MIDI trigger with it, until the user closed the box; this one returns at once
    // and still keeps the dialog itself until OK.
    auto* box =
        new QMessageBox(QMessageBox::Information, kMessageTitle, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace quindel
