#include "editor/frmAspettaTastoMIDI.h"

#include "editor/Twips.h"
#include "engine/MidiIntake.h"
#include "engine/RuntimeState.h"
#include "midi/PortControl.h"

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

frmAspettaTastoMIDI::frmAspettaTastoMIDI(RuntimeState& state, const MidiInputFactory& midiFactory,
                                         QWidget* parent)
    : QDialog(parent), state_(state) {
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(twipsToPixels(4680), twipsToPixels(3090));

    Label1 = new QLabel(this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(twipsRect(1560, 240, 1680, 1035));
    Label1->setFrameStyle(QFrame::Box | QFrame::Plain);
    Label1->setAlignment(Qt::AlignCenter);
    cmdRipeti = new QPushButton(this);
    cmdRipeti->setObjectName("cmdRipeti");
    cmdRipeti->setGeometry(twipsRect(1560, 1440, 1695, 495));
    cmdConferma = new QPushButton(this);
    cmdConferma->setObjectName("cmdConferma");
    cmdConferma->setGeometry(twipsRect(1560, 2160, 1695, 495));
    for (QPushButton* button : {cmdRipeti, cmdConferma})
        button->setAutoDefault(false);
    Timer1 = new QTimer(this);
    connect(Timer1, &QTimer::timeout, this, &frmAspettaTastoMIDI::Timer1_Timer);
    connect(cmdRipeti, &QPushButton::clicked, this, &frmAspettaTastoMIDI::cmdRipeti_Click);
    connect(cmdConferma, &QPushButton::clicked, this, &frmAspettaTastoMIDI::cmdConferma_Click);

    if (midiFactory)
        MIDIInput1 = midiFactory();
    if (MIDIInput1) {
        MIDIInput1->messagesArrived = [this] {
            // No user input in the pauses: a click on Confirm or Repeat waits until the drain
            // is done. A tap's note-off does not replace its note-on.
            drainMidiInput(
                state_, *MIDIInput1,
                [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); },
                MidiIntakeFor::Capture);
        };
        MIDIInput1->errorReported = [this](int code, const std::string& text) {
            if (code != kSilentErrorA && code != kSilentErrorB)
                showMessage(QString::fromStdString(text));
        };
    }

    setWindowTitle(QString::fromStdString(state_.texts.midiCommandTitle));
    cmdConferma->setText(QString::fromStdString(state_.texts.confirmCaption));
    cmdRipeti->setText(QString::fromStdString(state_.texts.repeatCaption));
    startMidiCapture();
}

frmAspettaTastoMIDI::~frmAspettaTastoMIDI() {
    closePort();
    if (MIDIInput1) {
        // The events refer to this window; nothing may reach them once it is gone.
        MIDIInput1->messagesArrived = nullptr;
        MIDIInput1->errorReported = nullptr;
    }
}

void frmAspettaTastoMIDI::startMidiCapture() {
    cmdConferma->hide();
    cmdRipeti->hide();
    Label1->clear();
    Timer1->start(100);
    state_.lastMidiCommand.clear();
    if (state_.inputMode == kMidiMode && MIDIInput1)
        openMidiInput(state_, *MIDIInput1);
}

void frmAspettaTastoMIDI::Timer1_Timer() {
    if (state_.lastMidiCommand.empty())
        return;
    const std::string& command = state_.lastMidiCommand;
    capturedCode = command.size() > 4 ? command.substr(command.size() - 4) : command;
    state_.lastMidiCommand.clear();
    Label1->setText(QString::fromStdString(capturedCode));
    cmdRipeti->show();
    cmdConferma->show();
    Timer1->stop();
    closePort();
}

void frmAspettaTastoMIDI::cmdRipeti_Click() {
    startMidiCapture();
}

void frmAspettaTastoMIDI::cmdConferma_Click() {
    state_.capturedTriggerCode = capturedCode;
    accept();
}

void frmAspettaTastoMIDI::done(int result) {
    // Every way out of the dialog ends the wait and closes the dialog's own port.
    Timer1->stop();
    closePort();
    QDialog::done(result);
}

void frmAspettaTastoMIDI::closePort() {
    if (MIDIInput1)
        closeMidiInput(*MIDIInput1);
}

void frmAspettaTastoMIDI::showMessage(const QString& text) {
    QMessageBox::information(this, windowTitle(), text, QMessageBox::Ok);
}

} // namespace quindel
