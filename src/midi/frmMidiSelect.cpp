#include "midi/frmMidiSelect.h"

#include "engine/RuntimeState.h"
#include "midi/MidiInputControl.h"
#include "storage/Settings.h"
#include "storage/gestioneFileIni.h"

#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>

namespace quindel {

namespace {

// Layouts are given in twips; 15 twips make one pixel.
QRect twips(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

} // namespace

frmMidiSelect::frmMidiSelect(RuntimeState& state, MidiInputControl& mainControl, QWidget* parent)
    : QDialog(parent), state_(state), mainControl_(mainControl) {
    setWindowTitle("MIDI");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(4125 / 15, 2565 / 15);

    Label1 = new QLabel(this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(twips(120, 120, 3855, 255));
    List2 = new QListWidget(this);
    List2->setObjectName("List2");
    List2->setGeometry(twips(120, 480, 3855, 1425));
    List2->setSelectionMode(QAbstractItemView::SingleSelection);
    cmdOK = new QPushButton(this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setGeometry(twips(1680, 2040, 1095, 375));
    cmdAnnulla = new QPushButton(this);
    cmdAnnulla->setObjectName("cmdAnnulla");
    cmdAnnulla->setGeometry(twips(2880, 2040, 1095, 375));

    cmdAnnulla->setText(QString::fromStdString(state_.texts.cancelCaption));
    cmdOK->setText(QString::fromStdString(state_.texts.okCaption));
    Label1->setText(QString::fromStdString(state_.texts.selectDeviceLabel));

    connect(cmdOK, &QPushButton::clicked, this, &frmMidiSelect::cmdOK_Click);
    connect(cmdAnnulla, &QPushButton::clicked, this, &QDialog::reject);

    fillDeviceList();
}

void frmMidiSelect::fillDeviceList() {
    const int count = mainControl_.deviceCount();
    if (count > 0) {
        for (int i = 0; i < count; ++i) {
            mainControl_.deviceIndex(static_cast<int16_t>(i));
            List2->addItem(QString::fromStdString(mainControl_.deviceName()));
        }
    } else {
        // The message waits until the dialog is shown, so that it appears over it.
        noDevices_ = true;
    }
    List2->addItem(kKeyboardEntry);
    List2->setCurrentRow(0);

    const int device = state_.midiInputDevice;
    if (device >= 1) {
        if (device - 1 < List2->count() && device != kKeyboardDevice)
            List2->setCurrentRow(device - 1);
        else
            List2->setCurrentRow(List2->count() - 1);
    } else {
        state_.setInputDevice(kNoInputDevice);
    }
}

void frmMidiSelect::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (noDevices_ && !noDevicesShown_) {
        noDevicesShown_ = true;
        showMessage(QString::fromStdString(state_.texts.noDeviceMessage));
    }
}

void frmMidiSelect::cmdOK_Click() {
    const QList<QListWidgetItem*> selected = List2->selectedItems();
    if (selected.isEmpty()) {
        showMessage(QString::fromStdString(state_.texts.selectDeviceMessage));
        return;
    }
    const int row = List2->row(selected.front());
    if (row == List2->count() - 1)
        state_.setInputDevice(kKeyboardDevice);
    else
        state_.setInputDevice(static_cast<int16_t>(row + 1));
    writeSetting(state_, kMidiSection, kMidiInputKey, numberForm(state_.midiInputDevice));
    accept();
}

void frmMidiSelect::showMessage(const QString& text) {
    QMessageBox::information(this, windowTitle(), text, QMessageBox::Ok);
}

} // namespace quindel
