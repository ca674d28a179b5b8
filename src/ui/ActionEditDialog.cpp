#include "ui/ActionEditDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace quindel {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

template <typename Widget>
Widget* place(Widget* widget, const char* name, int x, int y, int width, int height) {
    widget->setObjectName(name);
    widget->setGeometry(x, y, width, height);
    return widget;
}

} // namespace

ActionEditDialog::ActionEditDialog(const LanguageTexts& texts, const ActionRecord& action,
                                   QWidget* parent)
    : QDialog(parent), action_(action) {
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(420, 170);
    setWindowTitle(qs(texts.editActionTitle));

    // One row each for description, trigger and point: caption, value, capture button.
    descriptionCaption =
        place(new QLabel(qs(texts.editDescriptionLabel), this), "lblDescrizione", 8, 8, 128, 24);
    descriptionEdit =
        place(new QLineEdit(qs(action.description), this), "txtDescrizione", 140, 8, 272, 24);
    triggerCaption =
        place(new QLabel(qs(texts.editTriggerLabel), this), "lblComandoTitolo", 8, 44, 128, 24);
    triggerLabel = place(new QLabel(this), "lblComando", 140, 44, 150, 24);
    captureTriggerButton = place(new QPushButton(qs(texts.captureAgainCaption), this),
                                 "cmdCatturaComando", 296, 44, 116, 24);
    pointCaption =
        place(new QLabel(qs(texts.editPointLabel), this), "lblPuntoTitolo", 8, 80, 128, 24);
    pointLabel = place(new QLabel(this), "lblPunto", 140, 80, 150, 24);
    capturePointButton = place(new QPushButton(qs(texts.captureAgainCaption), this),
                               "cmdCatturaPunto", 296, 80, 116, 24);
    okButton = place(new QPushButton(qs(texts.okCaption), this), "cmdOk", 212, 128, 96, 28);
    cancelButton =
        place(new QPushButton(qs(texts.cancelCaption), this), "cmdAnnulla", 316, 128, 96, 28);
    for (QLabel* value : {triggerLabel, pointLabel})
        value->setFrameStyle(QFrame::Box | QFrame::Plain);
    // Return in the description confirms the edit; it never starts a capture.
    for (QPushButton* button : {captureTriggerButton, capturePointButton, cancelButton})
        button->setAutoDefault(false);
    okButton->setDefault(true);
    setTrigger(action.triggerCode, action.triggerKind);
    setPoint(action.clickX, action.clickY);

    connect(captureTriggerButton, &QPushButton::clicked, this, [this] { done(CaptureTrigger); });
    connect(capturePointButton, &QPushButton::clicked, this, [this] { done(CapturePoint); });
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void ActionEditDialog::setTrigger(const std::string& code, uint8_t kind) {
    action_.triggerCode = code;
    action_.triggerKind = kind;
    triggerLabel->setText(qs(code));
}

void ActionEditDialog::setPoint(int32_t x, int32_t y) {
    action_.clickX = x;
    action_.clickY = y;
    pointLabel->setText(QString("(%1, %2)").arg(x).arg(y));
}

ActionRecord ActionEditDialog::editedAction() const {
    ActionRecord edited = action_;
    // An untouched description keeps its bytes, even those that do not survive a round trip.
    if (descriptionEdit->text() != qs(action_.description))
        edited.description = descriptionEdit->text().toStdString();
    return edited;
}

} // namespace quindel
