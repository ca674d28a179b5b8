#include "ui/ScreenPointPicker.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWidget>

#include <functional>

namespace quindel {

namespace {

class PickerWindow : public QWidget {
  public:
    PickerWindow(QScreen* screen, std::function<void(std::optional<QPoint>)> done)
        : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool),
          done_(std::move(done)) {
        setObjectName("pointPicker");
        setAttribute(Qt::WA_TranslucentBackground);
        setCursor(Qt::CrossCursor);
        setFocusPolicy(Qt::StrongFocus);
        setScreen(screen);
        setGeometry(screen->geometry());
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        // A faint tint tells the user the next click is taken; what lies below stays visible.
        QPainter(this).fillRect(rect(), QColor(0, 0, 0, 40));
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton)
            done_(screen()->geometry().topLeft() + event->position().toPoint());
        else if (event->button() == Qt::RightButton)
            done_(std::nullopt);
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape)
            done_(std::nullopt);
    }

  private:
    std::function<void(std::optional<QPoint>)> done_;
};

} // namespace

ScreenPointPicker::ScreenPointPicker(QObject* parent) : QObject(parent) {}

ScreenPointPicker::~ScreenPointPicker() = default;

void ScreenPointPicker::start() {
    stop();
    for (QScreen* screen : QGuiApplication::screens()) {
        auto window = std::make_unique<PickerWindow>(
            screen, [this](std::optional<QPoint> point) { end(point); });
        window->showFullScreen();
        windows_.push_back(std::move(window));
    }
    if (!windows_.empty()) {
        windows_.front()->activateWindow();
        windows_.front()->setFocus();
    }
}

void ScreenPointPicker::stop() {
    // The windows may be deleted from inside one of their own event handlers.
    for (auto& window : windows_)
        window.release()->deleteLater();
    windows_.clear();
}

void ScreenPointPicker::end(std::optional<QPoint> point) {
    if (windows_.empty())
        return; // a second press before the windows went
    stop();
    emit finished(point);
}

} // namespace quindel
