#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace quindel {

struct RuntimeState;

// The About window: name, version and credit line, and two buttons that open the about page
// and the user manual of the current language with the system's handler. Modal.
class AboutWindow : public QDialog {
    Q_OBJECT
  public:
    AboutWindow(const RuntimeState& state, QWidget* parent = nullptr);

    QLabel* aboutLabel = nullptr;
    QPushButton* helpButton = nullptr;
    QPushButton* homePageButton = nullptr;
    QPushButton* okButton = nullptr;

    // The local file a page slot names: the program folder, "/", then the slot's text.
    static QUrl pageUrl(const RuntimeState& state, const std::string& slot);

    // Opens the page a slot names with the system's handler; when the file is missing or no
    // handler took it, a message box gives the file's path so it can be opened by hand.
    bool openPage(const std::string& slot);

  private:
    const RuntimeState& state_;
};

} // namespace quindel
