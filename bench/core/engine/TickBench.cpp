// One dispatch tick with 100 assigned actions through the real X11 backend: keyboard polling
// (nothing pressed, and one key held so that every tick clicks) and MIDI (every tick takes a
// command and clicks). Reports time per tick and X round trips per tick.
#include <benchmark/benchmark.h>

#include "core/engine/RuntimeState.h"
#include "core/engine/TriggerDispatch.h"
#include "platform/x11/KeyTable.h"
#include "platform/x11/X11Platform.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cstdio>
#include <string>

namespace {

using namespace quindel;

X11Platform& platform() {
    static X11Platform instance;
    return instance;
}

// 100 keyboard actions on the first 100 keys of the table, points spread over the screen.
RuntimeState keyboardState() {
    RuntimeState state;
    state.setInputDevice(kKeyboardDevice);
    state.isRunning = true;
    int i = 0;
    for (const KeyTableEntry& entry : keyTable().first(kMaxActions)) {
        ActionRecord record;
        record.triggerCode = std::to_string(entry.virtualKey);
        record.triggerKind = 1;
        record.description = "action " + std::to_string(++i);
        record.clickX = i * 17;
        record.clickY = i * 9;
        state.actionTable.push_back(record);
    }
    state.nextTriggerCode = "34";
    state.prevTriggerCode = "33";
    return state;
}

RuntimeState midiState() {
    RuntimeState state;
    state.setInputDevice(1);
    state.isRunning = true;
    char code[8];
    for (int i = 0; i < kMaxActions; ++i) {
        std::snprintf(code, sizeof code, "%02X90", i);
        ActionRecord record;
        record.triggerCode = code;
        record.triggerKind = 2;
        record.description = "note " + std::to_string(i);
        record.clickX = i * 17;
        record.clickY = i * 9;
        state.actionTable.push_back(record);
    }
    return state;
}

void reportRoundTrips(benchmark::State& bench, uint64_t before) {
    bench.counters["roundTrips/tick"] = static_cast<double>(platform().roundTrips() - before) /
                                        static_cast<double>(bench.iterations());
}

void BM_KeyboardTick100_NothingPressed(benchmark::State& bench) {
    RuntimeState state = keyboardState();
    DispatchView view;
    const uint64_t before = platform().roundTrips();
    for (auto _ : bench)
        dispatchTick(state, platform(), view);
    reportRoundTrips(bench, before);
}

void BM_KeyboardTick100_LastKeyHeld(benchmark::State& bench) {
    RuntimeState state = keyboardState();
    DispatchView view;
    // Hold the key of the last action from a second connection, as a user would.
    Display* keyboard = XOpenDisplay(nullptr);
    const KeySym keysym = keysymFromVirtualKey(std::stoi(state.actionTable.back().triggerCode));
    const KeyCode keycode = XKeysymToKeycode(keyboard, keysym);
    XTestFakeKeyEvent(keyboard, keycode, True, CurrentTime);
    XSync(keyboard, False);
    const uint64_t before = platform().roundTrips();
    for (auto _ : bench)
        dispatchTick(state, platform(), view);
    reportRoundTrips(bench, before);
    XTestFakeKeyEvent(keyboard, keycode, False, CurrentTime);
    XCloseDisplay(keyboard);
    if (view.shownTrigger != state.actionTable.back().triggerCode)
        bench.SkipWithError("the held key did not fire");
}

void BM_MidiTick100_LastActionClicked(benchmark::State& bench) {
    RuntimeState state = midiState();
    DispatchView view;
    const std::string code = state.actionTable.back().triggerCode;
    const uint64_t before = platform().roundTrips();
    for (auto _ : bench) {
        state.lastMidiCommand = code;
        dispatchTick(state, platform(), view);
    }
    reportRoundTrips(bench, before);
}

BENCHMARK(BM_KeyboardTick100_NothingPressed)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeyboardTick100_LastKeyHeld)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MidiTick100_LastActionClicked)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!platform().available()) {
        std::fprintf(stderr, "%s\n", platform().errorText().c_str());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
