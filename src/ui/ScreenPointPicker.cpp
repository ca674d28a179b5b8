#include "ui/ScreenPointPicker.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>

#include <functional>

namespace quindel {

namespace {

// A plain window rather than a widget: a widget's mouse events carry whole logical pixels,
// and on a screen at scale 2 in physical pixels that would lose every odd pixel.
class PickerWindow : public QRasterWindow {
  public:
    PickerWindow(QScreen* screen, std::function<void(std::optional<ScreenCover::Press>)> done)
        : done_(std::move(done)) {
        setObjectName("pointPicker");
        setFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool);
        QSurfaceFormat translucent = format();
        translucent.setAlphaBufferSize(8);
        setFormat(translucent);
        setCursor(Qt::CrossCursor);
        setScreen(screen);
        setGeometry(screen->geometry());
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        // A faint tint tells the user the next click is taken; what lies below stays visible.
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(QRect(QPoint(), size()), QColor(0, 0, 0, 40));
    }
    void mousePressEvent(QMouseEvent* event) override {
        // The window fills its screen, so its own coordinates are those on the screen.
        if (event->button() == Qt::LeftButton)
            done_(ScreenCover::Press{screen()->name().toStdString(), event->position().x(),
                                     event->position().y()});
        else if (event->button() == Qt::RightButton)
            done_(std::nullopt);
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape)
            done_(std::nullopt);
    }

  private:
    std::function<void(std::optional<ScreenCover::Press>)> done_;
};

} // namespace

ScreenPointPicker::ScreenPointPicker(QObject* parent) : QObject(parent) {}

ScreenPointPicker::~ScreenPointPicker() = default;

void ScreenPointPicker::show(std::function<void(std::optional<Press>)> done) {
    hide();
    done_ = std::move(done);
    for (QScreen* screen : QGuiApplication::screens()) {
        auto window = std::make_unique<PickerWindow>(
            screen, [this](std::optional<Press> press) { end(std::move(press)); });
        window->showFullScreen();
        windows_.push_back(std::move(window));
    }
    if (!windows_.empty())
        windows_.front()->requestActivate();
}

void ScreenPointPicker::hide() {
    // The windows may be deleted from inside one of their own event handlers.
    for (auto& window : windows_)
        window.release()->deleteLater();
    windows_.clear();
    done_ = nullptr;
}

void ScreenPointPicker::end(std::optional<Press> press) {
    if (windows_.empty())
        return; // a second press before the windows went
    auto done = std::move(done_);
    hide();
    if (done)
        done(std::move(press));
}

} // namespace quindel
