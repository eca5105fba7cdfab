// Worker benchmarks: echo polling against the instant simulated sensor, reported against the
// protocol's floor (the idle time-out before each of the poll's two requests plus the 10 ms
// re-arm), with the worker thread's CPU share; and the envelope normalisation of one refresh.
#include "command_worker.h"
#include "envelope.h"
#include "quiet_view.h"
#include "sim_server.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <random>
#include <thread>

namespace vq31 {
namespace {

using namespace std::chrono_literals;

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// A view that only counts refreshes and samples the worker thread's CPU time.
class CountingView : public QuietView {
public:
    std::atomic<uint64_t> echoes{0};
    std::atomic<double> firstCpu{0}, lastCpu{0};
    std::chrono::steady_clock::time_point firstAt{}, lastAt{};

    void ShowEcho(const EchoFrame& frame) override {
        benchmark::DoNotOptimize(frame.envelope.data());
        const double cpu = ThreadCpuSeconds();
        if (echoes.fetch_add(1) == 0) {
            firstCpu = cpu;
            firstAt = std::chrono::steady_clock::now();
        }
        lastCpu = cpu;
        lastAt = std::chrono::steady_clock::now();
    }
};

void EchoPolling(benchmark::State& state) {
    const uint32_t baud = uint32_t(state.range(0));
    for (auto _ : state) {
        sim::SimOptions options;
        options.baud = baud;
        sim::SimServer server(options);
        if (!server.Start()) {
            state.SkipWithError("simulator did not start");
            return;
        }
        DeviceLink link;
        if (link.UartOpen(server.path(), baud) != 0) {
            state.SkipWithError("port did not open");
            return;
        }
        CommandParameters params;
        LanguageTexts texts;
        HubRecords hub;
        CountingView view;
        CommandWorker worker(link, params, view, texts, hub);
        worker.Start();
        worker.PostCommand(job::PollEcho);
        std::this_thread::sleep_for(5s);
        worker.PostCommand(job::None);
        worker.Stop();
        link.UartClose();

        const uint64_t cycles = view.echoes.load() - 1;
        const double seconds = std::chrono::duration<double>(view.lastAt - view.firstAt).count();
        const double cycleMs = seconds * 1000.0 / double(cycles);
        const double floorMs = 2.0 * double(IdleTimeout(baud).count()) + 10.0;
        state.counters["polls_per_s"] = double(cycles) / seconds;
        state.counters["cycle_ms"] = cycleMs;
        state.counters["floor_ms"] = floorMs;
        state.counters["cycle_over_floor"] = cycleMs / floorMs;
        // The port watches the line during the re-arm delay, so the first idle wait overlaps
        // it: max(re-arm, idle) + idle is the floor the link can actually reach.
        const double idleMs = double(IdleTimeout(baud).count());
        const double overlappedMs = std::max(10.0, idleMs) + idleMs;
        state.counters["overlapped_floor_ms"] = overlappedMs;
        state.counters["cycle_over_overlapped"] = cycleMs / overlappedMs;
        state.counters["worker_cpu_pct"] = 100.0 * (view.lastCpu - view.firstCpu) / seconds;
    }
}
BENCHMARK(EchoPolling)->Arg(115200)->Arg(19200)->Iterations(1)->Unit(benchmark::kSecond);

void NormaliseEnvelopeRefresh(benchmark::State& state) {
    std::mt19937 rng(1472);
    std::uniform_int_distribution<int> sample(0, 30000);
    std::vector<uint16_t> x(1472);
    for (auto& v : x)
        v = uint16_t(sample(rng));
    std::vector<uint32_t> y(x.size());
    for (auto _ : state) {
        NormaliseEnvelope(x.data(), uint16_t(x.size()), y.data());
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    state.counters["samples"] = double(x.size());
}
BENCHMARK(NormaliseEnvelopeRefresh)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace vq31

BENCHMARK_MAIN();
