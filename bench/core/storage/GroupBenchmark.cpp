// Loading and saving a group of 100 actions, the largest a group file holds.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/engine/RuntimeState.h"
#include "core/storage/GroupFiles.h"

using namespace quindel;

namespace {

struct Folder {
    std::string path;
    Folder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quindel-bench-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~Folder() { std::filesystem::remove_all(path); }
};

void fillGroup(RuntimeState& state, const std::string& folder) {
    state.userFilesFolder = folder;
    state.groupFile = "gruppo-bench.ini";
    state.nextTriggerCode = "3C90";
    state.prevTriggerCode = "3B90";
    state.actionTable.clear();
    for (int i = 0; i < kMaxActions; ++i) {
        ActionRecord r;
        r.triggerCode = i % 2 ? std::to_string(48 + i) : "3C9" + std::to_string(i % 10);
        r.triggerKind = i % 2 ? 1 : 2;
        r.clickX = 10 * i;
        r.clickY = 1080 - 7 * i;
        r.sequencePos = static_cast<uint8_t>(i % 3 ? 0 : i / 3 + 1);
        r.description = "Azione numero " + std::to_string(i) + " della scena";
        state.actionTable.push_back(r);
    }
}

void BM_LoadGroup100(benchmark::State& bench) {
    Folder folder;
    RuntimeState state;
    fillGroup(state, folder.path);
    if (!saveGroupFile(state))
        bench.SkipWithError("save failed");
    for (auto _ : bench) {
        loadGroupFile(state);
        loadNextPrevTriggers(state);
        buildSequenceTable(state);
        benchmark::DoNotOptimize(state.actionTable.data());
    }
    bench.counters["actions"] = state.actionCount;
}
BENCHMARK(BM_LoadGroup100)->Unit(benchmark::kMillisecond);

void BM_SaveGroup100(benchmark::State& bench) {
    Folder folder;
    RuntimeState state;
    fillGroup(state, folder.path);
    for (auto _ : bench)
        if (!saveGroupFile(state))
            bench.SkipWithError("save failed");
}
BENCHMARK(BM_SaveGroup100)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
