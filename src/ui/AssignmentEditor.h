#pragma once

#include "core/engine/RuntimeState.h"
#include "core/midi/MidiInputControl.h"

#include <QDialog>
#include <QPoint>
#include <QMessageBox>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QEventLoop;
class QLabel;
class QListWidget;
class QPushButton;

namespace quindel {

struct ActionRecord;
struct RuntimeState;
class ActionEditDialog;
class Platform;

// The assignment editor: chooses and creates groups and edits the actions, the sequence and
// the next/prev triggers of the current group in place in the runtime state. It opens on the
// group that is running. OK writes the group file; leaving with unsaved edits any other way,
// or choosing another group, first asks whether to save them or to drop them (the group is
// then loaded again from its file), so what runs is always what is saved.
class AssignmentEditor : public QDialog {
    Q_OBJECT

  public:
    AssignmentEditor(RuntimeState& state, Platform& platform, MidiInputFactory midiFactory,
                     QWidget* parent = nullptr);
    ~AssignmentEditor() override;

    QLabel* groupLabel;
    QComboBox* groupCombo;
    QPushButton* newGroupButton;
    QLabel* actionListLabel;
    QLabel* sequenceListLabel;
    QListWidget* actionList;
    QListWidget* sequenceList;
    QPushButton* addToSequenceButton;
    QPushButton* removeFromSequenceButton;
    QPushButton* addAllToSequenceButton;
    QPushButton* removeAllFromSequenceButton;
    QPushButton* moveUpButton;
    QPushButton* moveDownButton;
    QPushButton* deleteButton;
    QPushButton* newActionButton;
    QPushButton* nextTriggerButton;
    QLabel* nextTriggerLabel;
    QPushButton* prevTriggerButton;
    QLabel* prevTriggerLabel;
    QPushButton* okButton;

    // The click-point capture: false only while a capture waits for the left button.
    bool pointCaptured = true;
    int32_t capturedX = 0;
    int32_t capturedY = 0;

    // Fills groupCombo and shows the current group when it is listed; otherwise the first
    // listed group becomes current.
    void refreshGroupList();
    // Makes the group of entry index of groupCombo current and loads it.
    void selectGroup(int index);
    // True when the tables differ from what was last loaded or saved.
    bool hasUnsavedChanges() const;
    void refreshActionList();
    void refreshSequenceList();
    void showNextPrevTriggers();
    void syncSequencePositions();

    void newGroupClicked();
    void newActionClicked();
    void deleteClicked();
    // Edits the action of row in place (double click or Return on the action list).
    void editAction(int row);
    void addToSequenceClicked();
    void removeFromSequenceClicked();
    void addAllToSequenceClicked();
    void removeAllFromSequenceClicked();
    void moveUpClicked();
    void moveDownClicked();
    void nextTriggerClicked();
    void prevTriggerClicked();
    void okClicked();

    // Minimises the editor and waits, without blocking the user interface, while the platform
    // takes a click point its own way; the point is then in capturedX, capturedY. False when
    // the wait ended without a point: the user cancelled, the platform cannot take one (after
    // telling the user), or the editor was closed meanwhile.
    virtual bool captureClickPoint();

    void done(int result) override;
    // Escape and the close box: asks first when there are unsaved edits.
    void reject() override;

    // What the editor shows for a trigger: its code and readable name ("116 F5").
    QString triggerText(const std::string& code) const;
    // An action's row: "order | description  trigger name  (x, y)", the description shortened
    // when the row would not fit the list.
    QString actionRowText(const ActionRecord& action) const;

  protected:
    // The modal steps of editing; tests replace them.
    // An input box with the prompt and an empty default; nothing on Cancel.
    virtual std::optional<QString> askText(const QString& prompt);
    // Save / Discard / Cancel for unsaved edits.
    virtual QMessageBox::StandardButton askSaveChanges();
    // The edit dialog of one action, shown modally; its exec() result.
    virtual int runEditDialog(ActionEditDialog& dialog);
    // A message box with an OK button.
    virtual void showMessage(const QString& text);
    // The keyboard and MIDI trigger capture dialogs, shown modally; true when the user
    // confirmed a trigger, which is then in capturedTriggerCode.
    virtual bool runKeyCapture();
    virtual bool runMidiCapture();
    // The wheel changes the group only when the group list has the focus; Return on the
    // action list edits the current action.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Widens the action list and the next/prev labels so that rows and triggers with their
    // names fit, moving the controls right of them along.
    void makeRoomForTriggerNames();
    // Moves the editor off the screen while a click point is taken, or back, where no window
    // manager minimises it.
    void stepAside(bool aside);

    // What saving would write: the actions with the working sequence's positions, next, prev.
    struct SavedTables {
        std::vector<ActionRecord> actions;
        std::string nextTriggerCode, prevTriggerCode;
        bool operator==(const SavedTables&) const = default;
    };
    SavedTables tablesAsSaved() const;
    void groupChosen(int index);
    int listedIndexOf(const std::string& groupFile) const;
    void showCurrentGroup();
    // Saves with OK's steps; false, after telling the user, when the file could not be written.
    bool saveGroup();
    // Before unsaved edits are left: Save, Discard (reloading the group) or Cancel; true unless
    // the user cancelled or the save failed.
    bool settleUnsavedChanges();
    bool captureTrigger();
    int selectedRow(const QListWidget* list) const;
    bool sequenceHasDescription(const std::string& description) const;

    RuntimeState& state_;
    Platform& platform_;
    MidiInputFactory midiFactory_;
    QEventLoop* captureLoop_ = nullptr;
    // The last capture ended because the editor was closed, not by the user's choice.
    bool closedDuringCapture_ = false;
    std::optional<QPoint> placeBeforeAside_;
    SavedTables savedTables_;
};

} // namespace quindel
