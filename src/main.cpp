#include "ui/MainWindow.h"
#include "ui/ProgramFolder.h"
#include "ui/AssignmentEditor.h"
#include "core/engine/RuntimeState.h"
#include "ui/RtMidiInput.h"
#include "ui/DeviceDialog.h"
#include "ui/TriggerChannel.h"
#include "ui/TriggerSocket.h"
#include "platform/Platform.h"

#include <QApplication>

#include <cstdio>
#include <memory>
#include <utility>

// The application: the executable (launcher.cpp) has read the command line and claimed this
// program folder's one instance without Qt, and calls this from the module it loads. listener is
// the instance's channel (null when it has none); this function takes it over.
extern "C" int quindelRunApplication(int argc, char** argv, quindel::TriggerListener* listener) {
    std::unique_ptr<quindel::TriggerListener> channelListener(listener);
    // Pointer output needs the desktop's display. Without it the program can do nothing a
    // performer wants, and Qt could not open a window either: say why and end cleanly.
    std::unique_ptr<quindel::Platform> platform = quindel::createPlatform();
    if (!platform || !platform->available()) {
        std::fprintf(stderr, "Quindel cannot start: %s\n",
                     platform ? platform->errorText().c_str() : "no desktop display");
        return 2;
    }

    QApplication app(argc, argv);
    quindel::RuntimeState state;
    state.programFolder = quindel::programFolder();

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
