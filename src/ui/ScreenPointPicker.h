#pragma once

#include "platform/Platform.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QWindow;

namespace quindel {

// The screen cover of a desktop that lets no program read the pointer and offers no overlay of
// its own (GNOME on Wayland): a frameless, faintly tinted window covers each screen, and the
// first left press on any of them is reported with the screen's name and the press's position
// on it, in logical pixels. Escape or a right click cancels. The platform turns the press into
// a point of its click space.
class ScreenPointPicker : public QObject, public ScreenCover {
    Q_OBJECT
  public:
    explicit ScreenPointPicker(QObject* parent = nullptr);
    ~ScreenPointPicker() override;

    void show(std::function<void(std::optional<Press>)> done) override;
    void hide() override;

  private:
    void end(std::optional<Press> press);

    std::vector<std::unique_ptr<QWindow>> windows_;
    std::function<void(std::optional<Press>)> done_;
};

} // namespace quindel
