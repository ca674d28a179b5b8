#pragma once

#include "core/midi/MidiInputControl.h"

#include <QDialog>
#include <QPoint>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QEventLoop;
class QLabel;
class QListWidget;
class QPushButton;
class QTimer;

namespace quindel {

struct ActionRecord;
struct RuntimeState;
class Platform;

// The group name of a program-folder file when the file is a group file: the name without
// its "gruppo-" prefix and its four-character extension. Names too short to hold both are
// not group files.
std::optional<std::string> groupNameOfFile(const std::string& fileName);
// The group names of the group files in folder, sorted by name ignoring letter case.
std::vector<std::string> listGroupNames(const std::string& folder);
// True when a group name can be part of a file name in the program folder: no folder
// separators and no control characters.
bool isValidGroupName(const std::string& name);

// The assignment editor: chooses and creates groups and edits the actions, the sequence and
// the next/prev triggers of the current group in place in the runtime state. OK writes the
// group file; the close box writes nothing.
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
    QTimer* clickPointTimer;

    // The click-point capture: false only while a capture waits for the left button.
    bool pointCaptured = true;
    int32_t capturedX = 0;
    int32_t capturedY = 0;

    void refreshGroupList();
    // Makes the group of entry index of groupCombo current and loads it.
    void selectGroup(int index);
    void refreshActionList();
    void refreshSequenceList();
    void showNextPrevTriggers();
    void syncSequencePositions();

    void newGroupClicked();
    void newActionClicked();
    void deleteClicked();
    void addToSequenceClicked();
    void removeFromSequenceClicked();
    void addAllToSequenceClicked();
    void removeAllFromSequenceClicked();
    void moveUpClicked();
    void moveDownClicked();
    void nextTriggerClicked();
    void prevTriggerClicked();
    void okClicked();
    void clickPointTimerFired();

    // Minimises the editor and waits, without blocking the user interface, until the left
    // button is seen down; the pointer position is then in capturedX, capturedY. False when
    // the wait ended without a point (the editor or the program was closed meanwhile).
    virtual bool captureClickPoint();

    void done(int result) override;

    // What the editor shows for a trigger: its code and readable name ("116 F5").
    QString triggerText(const std::string& code) const;
    // An action's row: "order | description  trigger name  (x, y)", the description shortened
    // when the row would not fit the list.
    QString actionRowText(const ActionRecord& action) const;

  protected:
    // The modal steps of editing; tests replace them.
    // An input box with the prompt and an empty default; Cancel gives the empty text.
    virtual QString askText(const QString& prompt);
    // A message box with an OK button.
    virtual void showMessage(const QString& text);
    // The keyboard and MIDI trigger capture dialogs, shown modally; true when the user
    // confirmed a trigger, which is then in capturedTriggerCode.
    virtual bool runKeyCapture();
    virtual bool runMidiCapture();
    // The wheel changes the group only when the group list has the focus.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Widens the action list and the next/prev labels so that rows and triggers with their
    // names fit, moving the controls right of them along.
    void makeRoomForTriggerNames();
    // Moves the editor off the screen while a click point is taken, or back, where no window
    // manager minimises it.
    void stepAside(bool aside);

    bool captureTrigger();
    int selectedRow(const QListWidget* list) const;
    bool sequenceHasDescription(const std::string& description) const;

    RuntimeState& state_;
    Platform& platform_;
    MidiInputFactory midiFactory_;
    QEventLoop* captureLoop_ = nullptr;
    std::optional<QPoint> placeBeforeAside_;
};

} // namespace quindel
