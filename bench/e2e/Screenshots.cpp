// Takes the screenshots for the documentation, in each language: the main window stopped,
// started (after one key trigger, so both displays show something) and started with its MIDI
// device missing (as when it is unplugged), and the editor, whose rows and next/prev labels name
// their triggers. Run on a display:
//   tests/support/with-services.sh --xvfb 1280x1024 -- build/bench/e2e/app_screenshots docs
#include "e2e/E2eHarness.h"

#include <QCoreApplication>

#include <X11/keysym.h>

using namespace quindel::e2e;

namespace {

bool capture(const XRectangle& where, const QString& file) {
    const QString crop =
        QStringLiteral("%1x%2+%3+%4").arg(where.width).arg(where.height).arg(where.x).arg(where.y);
    QProcess shell;
    shell.start(QStringLiteral("bash"),
                {QStringLiteral("-c"),
                 QStringLiteral("xwd -root -silent | convert xwd:- -crop %1 +repage '%2'")
                     .arg(crop, file)});
    return shell.waitForFinished(30000) && shell.exitCode() == 0;
}

// The main window's editor button, in window pixels.
constexpr int kEditorX = 8 + 64, kEditorY = 80 + 12;
// True when the run indicator in the screenshot file is black.
bool indicatorDark(const QString& file) {
    QProcess convert;
    convert.start(QStringLiteral("convert"),
                  {file, QStringLiteral("-format"), QStringLiteral("%[pixel:p{200,224}]"),
                   QStringLiteral("info:")});
    convert.waitForFinished(30000);
    const QString pixel = QString::fromLatin1(convert.readAllStandardOutput());
    return pixel.contains(QStringLiteral("black")) || pixel.contains(QStringLiteral("(0,0,0)"));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    Desktop display;
    if (!display.ok())
        return 1;
    for (int language : {1, 2}) {
        InstalledProgram program;
        if (!program.install())
            return 1;
        program.write("quindel.ini", "[generale]\r\nlingua= " + QByteArray::number(language) +
                                         "\r\n[midi config]\r\nmidi input= 99\r\n[file tasti]\r\n"
                                         "nomefile=gruppo-demo.ini\r\n");
        const bool it = language == 1;
        program.write(
            "gruppo-demo.ini",
            "[main]\r\nnome=demo\r\n" + nextPrevSections("39", "0") +
                actionSection(1, "65", 1, 1000, 900, 1, it ? "Strofa" : "Verse") +
                actionSection(2, "116", 1, 640, 480, 2, it ? "Ritornello" : "Chorus") +
                actionSection(3, "27", 1, 1200, 300, 0, it ? "Luci spente" : "Lights off") +
                actionSection(4, "3C90", 2, 800, 620, 0, it ? "Assolo" : "Solo"));
        const auto where = program.start(display);
        if (!where)
            return 1;
        QThread::msleep(700);
        const QString lang = language == 1 ? QStringLiteral("it") : QStringLiteral("en");
        capture(*where, out + "/main-window-" + lang + "-stopped.png");
        display.click(where->x + kEditorX, where->y + kEditorY);
        const char* editorTitle = it ? "Assegna azioni" : "Assign actions";
        std::optional<XRectangle> editor;
        if (!waitFor([&] { return bool(editor = display.where(display.findClient(editorTitle))); },
                     10000))
            return 1;
        display.moveTo(1200, 1000);
        QThread::msleep(500);
        capture(*editor, out + "/editor-" + lang + ".png");
        display.key(XK_Escape); // closes it unchanged
        if (!waitFor([&] { return !display.findClient(editorTitle); }, 10000))
            return 1;
        display.click(where->x + kStartX, where->y + kStartY);
        QThread::msleep(300);
        display.key(XK_a);
        QThread::msleep(500);
        display.moveTo(1200, 1000); // keep the pointer off the window
        QThread::msleep(400);
        capture(*where, out + "/main-window-" + lang + "-started.png");
        display.click(where->x + kCloseX, where->y + kCloseY);
        program.waitForExit(10000);

        program.write("quindel.ini", "[generale]\r\nlingua= " + QByteArray::number(language) +
                                         "\r\n[midi config]\r\nmidi input= 1\r\n"
                                         "midi input nome=USB MIDI Pads:out\r\n");
        const auto lost = program.start(display);
        if (!lost)
            return 1;
        QThread::msleep(700);
        display.click(lost->x + kStartX, lost->y + kStartY);
        display.moveTo(1200, 1000);
        // Taken again until it shows the blink in its lit phase (amber, not black).
        const QString file = out + "/main-window-" + lang + "-device-lost.png";
        for (int shot = 0; shot < 20 && capture(*lost, file) && indicatorDark(file); ++shot)
            QThread::msleep(60);
        display.click(lost->x + kCloseX, lost->y + kCloseY);
        program.waitForExit(10000);
    }
    return 0;
}
