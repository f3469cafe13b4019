// How long the user-visible work takes on a full table: an enumeration of 64
// cards with 64 ports each, the start-number list, the hub formula and the
// whole mapping of a run over all cards with its checks. The in-memory platform stands in for the controls, so these
// measure the program's own work, not the window system's.
#include <benchmark/benchmark.h>

#include <string>

#include "comdb/number_usage.h"
#include "inventory/device_table.h"
#include "inventory/views.h"
#include "platform/model/model.h"
#include "renumber/plan.h"
#include "renumber/run.h"
#include "resources/ids.h"
#include "simulator/sim_control.h"
#include "core/program.h"
#include "ui/main_dialog.h"
#include "ui/main_views.h"

namespace {

std::string FullTable() {
    std::string json = R"({"cards": [)";
    for (int d = 0; d < 64; ++d) {
        json += d == 0 ? "" : ",";
        json += R"({"category": "usb", "type": "USB64P", "name": "Bench card", "hubPath": [1, 2], "ports": [)";
        for (int j = 0; j < 64; ++j) {
            json += (j == 0 ? "" : ",") + std::string(R"({"name": "COM)") + std::to_string(d * 64 + j + 3) +
                    R"(", "description": "Bench serial port with a realistic description"})";
        }
        json += "]}";
    }
    return json + "]}";
}

Window OpenBench() {
    ModelReset();
    SimReset();
    comDb.store(InvalidComDb());
    SimLoadDescription(FullTable().c_str());
    return ModelOpenDialog(IDD_MAIN, MainDialogProc);
}

void BM_EnumerateFullTable(benchmark::State& state) {
    Window dialog = OpenBench();
    for (auto _ : state) {
        EditSetText(dialog, IDC_LOG, "");
        benchmark::DoNotOptimize(EnumerateDevices());
    }
    state.counters["tableBytes"] = static_cast<double>(sizeof(DeviceTable));
    state.counters["ports"] = 64.0 * 64.0;
}
BENCHMARK(BM_EnumerateFullTable)->Unit(benchmark::kMillisecond);

void BM_FillStartNumbers(benchmark::State& state) {
    OpenBench();
    for (unsigned n = 1; n <= 256; n += 3) {
        ModelComDbSetClaimed(n, true);
    }
    for (auto _ : state) {
        FillStartNumbers(true);
    }
}
BENCHMARK(BM_FillStartNumbers)->Unit(benchmark::kMicrosecond);

void BM_ComputeHubNumber(benchmark::State& state) {
    const NumberingPlan plan{1, 9, kHubGroupOn | 0x03, kHubGroupOn | 0x0F};
    const std::uint16_t path[10] = {0, 0, 0, 2, 3, 0, 0, 0, 0, 0};
    std::uint16_t port = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ComputeHubNumber(plan, path, port, 4));
        port = static_cast<std::uint16_t>((port + 1) & 3);
    }
}
BENCHMARK(BM_ComputeHubNumber);

// Mapping, repeat check and conflict scan of a run over all 4096 ports.
void BM_PlanAllCards(benchmark::State& state) {
    Window dialog = OpenBench();
    ClickButton(dialog, IDC_SCOPE_ALL);
    ComboSelectRow(dialog, IDC_START_NUMBER, 9);
    static RunMapping mapping;
    static char repeats[4096];
    static char inUse[kInUseListSize];
    static char claimed[kClaimedListSize];
    for (unsigned n = 10; n <= 256; ++n) {
        ModelComDbSetClaimed(n, true);
    }
    RunRequest request = ReadRunRequest();
    for (auto _ : state) {
        EditSetText(dialog, IDC_LOG, "");
        MapRun(ListedCards(), request, mapping);
        benchmark::DoNotOptimize(MarkRepeats(ListedCards(), mapping, repeats, sizeof repeats));
        ScanConflicts(ListedCards(), mapping, inUse, sizeof inUse, claimed, sizeof claimed);
        benchmark::DoNotOptimize(claimed[0]);
    }
    state.counters["portsPlanned"] = 64.0 * 64.0;
}
BENCHMARK(BM_PlanAllCards)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
