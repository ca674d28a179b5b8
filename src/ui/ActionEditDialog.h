#pragma once

#include "core/engine/RuntimeState.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace quindel {

// Edits one action of the editor's list: its description, and its trigger and click point,
// which the editor captures again on request. The dialog ends to let a capture run: exec()
// then gives CaptureTrigger or CapturePoint, the editor captures with the dialog out of the
// way and shows the dialog again with the new value. Whatever is not redone is kept.
class ActionEditDialog : public QDialog {
    Q_OBJECT

  public:
    enum Result { CaptureTrigger = 2, CapturePoint = 3 };

    ActionEditDialog(const LanguageTexts& texts, const ActionRecord& action,
                     QWidget* parent = nullptr);

    QLabel* descriptionCaption;
    QLineEdit* descriptionEdit;
    QLabel* triggerCaption;
    QLabel* triggerLabel;
    QPushButton* captureTriggerButton;
    QLabel* pointCaption;
    QLabel* pointLabel;
    QPushButton* capturePointButton;
    QPushButton* okButton;
    QPushButton* cancelButton;

    void setTrigger(const std::string& code, uint8_t kind);
    void setPoint(int32_t x, int32_t y);
    // The action with the description, trigger and point shown; the rest as it was given.
    ActionRecord editedAction() const;

  private:
    ActionRecord action_;
};

} // namespace quindel
