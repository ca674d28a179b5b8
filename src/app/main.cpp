#include "app/Form2.h"
#include "app/ProgramFolder.h"
#include "engine/RuntimeState.h"
#include "platform/Platform.h"

#include <QApplication>

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
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

    quindel::MidiInputFactory midiFactory = [] {
        return std::unique_ptr<quindel::MidiInputControl>();
    };
    quindel::Form2 window(state, *platform, midiFactory);
    window.show();
    return app.exec();
}
