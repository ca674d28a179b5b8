#include "ui/MainWindow.h"
#include "ui/ProgramFolder.h"
#include "ui/AssignmentEditor.h"
#include "core/engine/RuntimeState.h"
#include "ui/RtMidiInput.h"
#include "ui/ScreenPointPicker.h"
#include "ui/DeviceDialog.h"
#include "ui/TriggerChannel.h"
#include "ui/TriggerSocket.h"
#include "platform/Platform.h"
#include "core/storage/UserFilesFolder.h"

#include <QApplication>

#include <cstdio>
#include <memory>
#include <utility>

// The application: the executable (launcher.cpp) has read the command line and claimed this
// program folder's one instance without Qt, and calls this from the module it loads. listener is
// the instance's channel (null when it has none); this function takes it over.
extern "C" int quindelRunApplication(int argc, char** argv, quindel::TriggerListener* listener) {
    std::unique_ptr<quindel::TriggerListener> channelListener(listener);
    // Pointer output needs the desktop's display. Without one the program can do nothing a
    // performer wants, and Qt could not open a window either (it would abort): say why and end
    // cleanly.
    if (const std::string reason = quindel::unreachableDesktopReason(); !reason.empty()) {
        std::fprintf(stderr, "Quindel cannot start: %s\n", reason.c_str());
        return 2;
    }

    QApplication app(argc, argv);
    // The window's Wayland app_id, and the desktop entry a compositor looks up for it.
    QGuiApplication::setDesktopFileName(QStringLiteral("quindel"));
    // The backend serves the display system Qt runs on: a Wayland session may offer X11 too
    // (XWayland), but X11 clicks do not reach its native windows.
    std::unique_ptr<quindel::Platform> platform = quindel::createPlatform(
        quindel::platformKindFor(QGuiApplication::platformName().toStdString()));
    if (!platform || !platform->available()) {
        std::fprintf(stderr, "Quindel cannot start: %s\n",
                     platform ? platform->errorText().c_str() : "no desktop display");
        return 2;
    }
    // The X server of a Wayland desktop (Qt without its Wayland plugin, or told to use xcb)
    // runs, but its clicks would reach only X11 windows: Start refuses and says why.
    if (platform->onXWayland())
        std::fprintf(stderr, "Quindel: %s\n", platform->errorText().c_str());
    // Where the desktop has no overlay of its own for taking click points, windows of ours do.
    quindel::ScreenPointPicker screenCover;
    platform->setScreenCover(&screenCover);
    quindel::RuntimeState state;
    state.programFolder = quindel::programFolder();
    state.userFilesFolder = quindel::chooseUserFilesFolder(state.programFolder);

    // Each window that takes MIDI gets its own control; its error texts follow the language
    // that is current when it is made.
    quindel::MidiInputFactory midiFactory =
        [&state]() -> std::unique_ptr<quindel::MidiInputControl> {
        return std::make_unique<quindel::RtMidiInput>(state.languageIndex);
    };
    quindel::MainWindow window(state, *platform, midiFactory);
    window.hooks.openDeviceDialog = [&] {
        quindel::DeviceDialog dialog(state, window.midiInput(), &window);
        dialog.exec();
    };
    window.hooks.openEditor = [&] {
        quindel::AssignmentEditor editor(state, *platform, midiFactory, &window);
        editor.exec();
    };
    window.show();
    quindel::TriggerChannel triggerChannel(std::move(channelListener), window);
    return app.exec();
}
