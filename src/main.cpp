#include "ui/MainWindow.h"
#include "ui/ProgramFolder.h"
#include "ui/AssignmentEditor.h"
#include "core/engine/RuntimeState.h"
#include "ui/RtMidiInput.h"
#include "ui/DeviceDialog.h"
#include "ui/TriggerChannel.h"
#include "ui/TriggerCommand.h"
#include "platform/Platform.h"

#include <QApplication>

#include <cstdio>
#include <memory>
#include <utility>

int main(int argc, char** argv) {
    // `--trigger CODE` and a second start end here, before any window or display is needed.
    quindel::InstanceStart instance = quindel::startInstance(argc, argv);
    if (instance.exitCode)
        return *instance.exitCode;

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
    quindel::TriggerChannel triggerChannel(std::move(instance.listener), window);
    return app.exec();
}
