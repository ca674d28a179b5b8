// Time from an RtMidi send over JACK to messagesArrived on the UI thread of a RtMidiInput
// control. Run under a JACK server, e.g.
//   tests/support/with-services.sh --jack -- build/bench/ui/bench_midi_latency [count]
#include "midi/RtMidiInput.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <RtMidi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int findPort(quindel::RtMidiInput& input, const std::string& suffix) {
    const int16_t count = input.deviceCount();
    for (int16_t i = 0; i < count; ++i) {
        input.deviceIndex(i);
        const std::string name = input.deviceName();
        if (name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            return i;
    }
    return -1;
}

double percentile(const std::vector<double>& sorted, double p) {
    const auto at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 500;

    RtMidiOut out(RtMidi::UNIX_JACK, "Quindel bench sender");
    out.openVirtualPort("latency");
    quindel::RtMidiInput input(2);
    const int index = findPort(input, ":latency");
    if (index < 0) {
        std::fprintf(stderr, "no JACK port found: is a JACK server running?\n");
        return 1;
    }
    input.deviceIndex(static_cast<int16_t>(index));
    input.portCommand(quindel::kPortOpen);
    input.portCommand(quindel::kPortStart);
    if (input.openState() == 0) {
        std::fprintf(stderr, "the port did not open\n");
        return 1;
    }

    Clock::time_point arrived{};
    bool seen = false;
    input.messagesArrived = [&] {
        if (!seen) {
            arrived = Clock::now();
            seen = true;
        }
        while (input.pendingCount() > 0)
            input.portCommand(quindel::kPortDropHead);
    };

    std::mt19937 random(42);
    std::uniform_int_distribution<int> pause(0, 6000); // microseconds, spans a JACK period
    std::vector<double> latencies;
    int lost = 0;
    for (int i = 0; i < count; ++i) {
        QThread::usleep(static_cast<unsigned long>(pause(random)));
        seen = false;
        std::vector<unsigned char> note{0x90, static_cast<unsigned char>(i % 128), 100};
        const auto sent = Clock::now();
        out.sendMessage(&note);
        QElapsedTimer limit;
        limit.start();
        while (!seen && limit.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        if (!seen) {
            ++lost;
            continue;
        }
        latencies.push_back(std::chrono::duration<double, std::micro>(arrived - sent).count());
    }
    input.portCommand(quindel::kPortStop);
    input.portCommand(quindel::kPortClose);
    if (latencies.empty()) {
        std::fprintf(stderr, "no message arrived\n");
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("MIDI send -> messagesArrived over JACK, %zu messages (%d lost)\n",
                latencies.size(), lost);
    std::printf("  min    %8.1f us\n", latencies.front());
    std::printf("  median %8.1f us\n", percentile(latencies, 0.5));
    std::printf("  p99    %8.1f us\n", percentile(latencies, 0.99));
    std::printf("  max    %8.1f us\n", latencies.back());
    return 0;
}
