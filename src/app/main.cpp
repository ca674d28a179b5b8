#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle("Quindel 0.5 Beta");
    window.show();
    return app.exec();
}
