#pragma once

#include <QObject>
#include <QPoint>

#include <memory>
#include <optional>
#include <vector>

class QWidget;

namespace quindel {

// Takes a click point on a desktop that lets no program read the pointer (GNOME on Wayland):
// a frameless, faintly tinted window covers each screen, and the first left press on any of
// them gives the point, that screen's position plus the press's position on it, in the desktop's
// logical pixels. Escape or a right click cancels.
class ScreenPointPicker : public QObject {
    Q_OBJECT
  public:
    explicit ScreenPointPicker(QObject* parent = nullptr);
    ~ScreenPointPicker() override;

    // Shows the windows; finished follows once.
    void start();
    // Closes the windows without a point (finished is not sent).
    void stop();

  signals:
    // The point taken, or nothing when the user cancelled.
    void finished(std::optional<QPoint> point);

  private:
    void end(std::optional<QPoint> point);

    std::vector<std::unique_ptr<QWidget>> windows_;
};

} // namespace quindel
