#include "ui/MainWindow.h"
#include "ui/AssignmentEditor.h"
#include "core/engine/RuntimeState.h"
#include "midi/RtMidiInput.h"
#include "ui/ScreenPointPicker.h"
#include "ui/DeviceDialog.h"
#include "app/TriggerChannel.h"
#include "command/TriggerSocket.h"
#include "platform/Platform.h"
#include "core/storage/UserFilesFolder.h"
#include "core/text/LanguageTexts.h"
#include "platform/wayland/CompositorKeymap.h"
#include "platform/xkb/XkbKeymapCodes.h"
#include "app/KdeShortcutChannel.h"
#include "command/KeyBindings.h"
#include "command/TriggerCommand.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
    const quindel::PlatformKind platformKind =
        quindel::platformKindFor(QGuiApplication::platformName().toStdString());
    std::unique_ptr<quindel::Platform> platform = quindel::createPlatform(platformKind);
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
    // Where keys cannot be watched, KDE's global shortcut service may bring them.
    std::unique_ptr<quindel::KdeShortcutChannel> shortcuts;
    window.hooks.openEditor = [&] {
        quindel::AssignmentEditor editor(state, *platform, midiFactory, &window);
        editor.exec();
        if (shortcuts)
            shortcuts->groupChanged();
    };
    window.show();
    quindel::TriggerChannel triggerChannel(std::move(channelListener), window);
    if (!platform->canWatchKeys())
        shortcuts = std::make_unique<quindel::KdeShortcutChannel>(state, window);
    return app.exec();
}

namespace {

// How a desktop's binding runs this executable: "quindel" when that name on the PATH is this
// executable, else its path, quoted for the shell that runs the binding's command.
std::string commandForBindings() {
    const std::string self = quindel::programFolder() + "/quindel";
    std::error_code error;
    if (const char* path = std::getenv("PATH")) {
        const std::string folders = path;
        for (std::size_t start = 0; start <= folders.size();) {
            const std::size_t end = std::min(folders.find(':', start), folders.size());
            const std::string candidate = folders.substr(start, end - start) + "/quindel";
            if (end > start && std::filesystem::equivalent(candidate, self, error))
                return "quindel";
            start = end + 1;
        }
    }
    if (self.find_first_not_of(
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-") ==
        std::string::npos)
        return self;
    std::string quoted = "'";
    for (char c : self)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace

// `quindel --print-bindings DESKTOP`: prints the desktop's key bindings for every key trigger of
// every group, with the keys named by the compositor's keymap (the default layout without one).
extern "C" int quindelPrintBindings(int argc, char** argv) {
    const quindel::CommandLineTexts t = quindel::commandLineTexts(quindel::commandLineLanguage());
    if (argc != 3 || std::string(argv[2]) != "sway") {
        std::fprintf(stderr, "%s (%s)\n", t.bindingsDesktops.c_str(), t.usage.c_str());
        return 2;
    }
    quindel::XkbKeymapCodes keymap;
    std::string error;
    const std::string text = quindel::compositorKeymapText(error);
    if (text.empty() || !keymap.setKeymapText(text)) {
        std::fprintf(stderr, "%s%s\n", t.defaultKeymap.c_str(), error.c_str());
        const char* layout = std::getenv("XKB_DEFAULT_LAYOUT");
        keymap.setKeymapNames(layout != nullptr && layout[0] != '\0' ? layout : "us");
    }
    const std::string folder = quindel::userFilesFolderFor(quindel::programFolder());
    const std::string lines = quindel::swayBindings(
        folder, [&keymap](int code) { return keymap.keysymName(code); }, commandForBindings());
    std::fputs(lines.c_str(), stdout);
    return 0;
}
