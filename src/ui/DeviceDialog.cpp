#include "ui/DeviceDialog.h"

#include "core/engine/RuntimeState.h"
#include "core/midi/MidiInputControl.h"
#include "core/midi/PortControl.h"
#include "core/storage/Settings.h"
#include "ui/DialogSupport.h"

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

DeviceDialog::DeviceDialog(RuntimeState& state, MidiInputControl& mainControl, QWidget* parent)
    : QDialog(parent), state_(state), mainControl_(mainControl) {
    setWindowTitle("MIDI");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(4125 / 15, 2565 / 15);

    promptLabel = new QLabel(this);
    promptLabel->setObjectName("Label1");
    promptLabel->setGeometry(twips(120, 120, 3855, 255));
    deviceList = new QListWidget(this);
    deviceList->setObjectName("List2");
    deviceList->setGeometry(twips(120, 480, 3855, 1425));
    deviceList->setSelectionMode(QAbstractItemView::SingleSelection);
    okButton = new QPushButton(this);
    okButton->setObjectName("cmdOK");
    okButton->setGeometry(twips(1680, 2040, 1095, 375));
    cancelButton = new QPushButton(this);
    cancelButton->setObjectName("cmdAnnulla");
    cancelButton->setGeometry(twips(2880, 2040, 1095, 375));

    cancelButton->setText(QString::fromStdString(state_.texts.cancelCaption));
    okButton->setText(QString::fromStdString(state_.texts.okCaption));
    promptLabel->setText(QString::fromStdString(state_.texts.selectDeviceLabel));

    connect(okButton, &QPushButton::clicked, this, &DeviceDialog::okClicked);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    fillDeviceList();
}

void DeviceDialog::fillDeviceList() {
    const int count = mainControl_.deviceCount();
    if (count > 0) {
        for (int i = 0; i < count; ++i) {
            mainControl_.deviceIndex(static_cast<int16_t>(i));
            deviceNames_.push_back(mainControl_.deviceName());
            deviceList->addItem(QString::fromStdString(deviceNames_.back()));
        }
    } else {
        // The message waits until the dialog is shown, so that it appears over it.
        noDevices_ = true;
    }
    deviceList->addItem(QString::fromStdString(state_.texts.keyboardEntryCaption));
    deviceList->setCurrentRow(0);

    // The stored device is looked for by its name, so another device that took its place in
    // the list is not offered in its stead.
    const int device = state_.midiInputDevice == kKeyboardDevice || count <= 0
                           ? state_.midiInputDevice
                           : storedDeviceNumber(state_, mainControl_);
    if (!state_.midiInputName.empty() && device == kNoInputDevice) {
        deviceList->setCurrentRow(deviceList->count() - 1); // not present, as when unplugged
    } else if (device >= 1) {
        if (device - 1 < deviceList->count() && device != kKeyboardDevice)
            deviceList->setCurrentRow(device - 1);
        else
            deviceList->setCurrentRow(deviceList->count() - 1);
    } else {
        state_.setInputDevice(kNoInputDevice);
    }
}

void DeviceDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (noDevices_ && !noDevicesShown_) {
        noDevicesShown_ = true;
        showMessage(QString::fromStdString(state_.texts.noDeviceMessage));
    }
}

void DeviceDialog::okClicked() {
    const QList<QListWidgetItem*> selected = deviceList->selectedItems();
    if (selected.isEmpty()) {
        showMessage(QString::fromStdString(state_.texts.selectDeviceMessage));
        return;
    }
    const int row = deviceList->row(selected.front());
    if (row == deviceList->count() - 1) {
        state_.setInputDevice(kKeyboardDevice);
        state_.midiInputName.clear();
    } else {
        state_.setInputDevice(static_cast<int16_t>(row + 1));
        state_.midiInputName = deviceNames_[static_cast<std::size_t>(row)];
    }
    writeInputSource(state_);
    accept();
}

void DeviceDialog::showMessage(const QString& text) {
    QMessageBox::information(this, kMessageTitle, text, QMessageBox::Ok);
}

} // namespace quindel
