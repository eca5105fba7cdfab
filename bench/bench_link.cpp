// Round trips of the device link against the simulated sensor: a short exchange and an
// envelope oscillogram, with the simulator answering at once and with it paced at the link
// speed. Each case reports its time per exchange against the protocol's floor: one idle read
// time-out before each request (the pacing rule), plus the wire time of the answer when the
// simulator paces it (the request crosses the pseudo-terminal at once, so its wire time is
// not part of what can be measured here). "ratio" is measured / floor; 1.10 is the target
// ceiling. TracedExchange repeats the short exchange with the trace off (0), kept in the ring
// (1), and also formatted as text lines (2, as vq31ctl --trace does); TraceRecord is the cost
// of recording one frame of the longest kept size.
#include "commands.h"
#include "link.h"
#include "sim_server.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

using namespace vq31;

namespace {

constexpr uint32_t EnvelopeBlocks = 24; // status block + 23 sample blocks

struct Bench {
    sim::SimServer server;
    DeviceLink link;
    bool ok = false;
    Bench(uint32_t baud, bool realtime) : server(sim::SimOptions{1, baud, realtime, {}}) {
        ok = server.Start() && link.UartOpen(server.path(), baud) == 0;
    }
};

double FloorMs(uint32_t baud, uint32_t wireBytes, bool realtime) {
    const double idle = double(IdleTimeout(baud).count());
    return idle + (realtime ? wireBytes * 10000.0 / baud : 0.0);
}

void Report(benchmark::State& state, std::chrono::steady_clock::duration total, double floorMs) {
    const double perMs =
        std::chrono::duration<double, std::milli>(total).count() / double(state.iterations());
    state.counters["ms_per_exchange"] = perMs;
    state.counters["floor_ms"] = floorMs;
    state.counters["ratio"] = perMs / floorMs;
}

void ShortExchange(benchmark::State& state) {
    const bool realtime = state.range(0) != 0;
    Bench b(19200, realtime);
    if (!b.ok) {
        state.SkipWithError("simulator did not start");
        return;
    }
    uint32_t mode = 0;
    ReadValue(b.link, cmd::ReadMode, 1, mode); // first request after the open
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        if (ReadValue(b.link, cmd::ReadMode, 1, mode) != StatusOk)
            state.SkipWithError("exchange failed");
    // The answer of a one-byte read is 5 bytes.
    Report(state, std::chrono::steady_clock::now() - start, FloorMs(19200, 5, realtime));
}

void EnvelopeOscillogram(benchmark::State& state) {
    const bool realtime = state.range(0) != 0;
    Bench b(115200, realtime);
    if (!b.ok) {
        state.SkipWithError("simulator did not start");
        return;
    }
    EchoStatusRecord status{};
    static SampleBuffer samples{};
    ReadOscillogram(b.link, 1, 1, status, samples);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        if (ReadOscillogram(b.link, 1, 1, status, samples) != StatusOk)
            state.SkipWithError("exchange failed");
    Report(state, std::chrono::steady_clock::now() - start,
           FloorMs(115200, EnvelopeBlocks * uint32_t(OscBlockSize), realtime));
}

void TracedExchange(benchmark::State& state) {
    Bench b(19200, false);
    if (!b.ok) {
        state.SkipWithError("simulator did not start");
        return;
    }
    size_t lineBytes = 0;
    if (state.range(0) >= 1) {
        auto monitor = std::make_shared<LinkMonitor>();
        if (state.range(0) >= 2)
            monitor->SetLineSink([&](const std::string& line) { lineBytes += line.size(); });
        b.link.SetMonitor(monitor);
    }
    uint32_t mode = 0;
    ReadValue(b.link, cmd::ReadMode, 1, mode);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        if (ReadValue(b.link, cmd::ReadMode, 1, mode) != StatusOk)
            state.SkipWithError("exchange failed");
    Report(state, std::chrono::steady_clock::now() - start, FloorMs(19200, 5, false));
    benchmark::DoNotOptimize(lineBytes);
}

void TraceRecordCost(benchmark::State& state) {
    LinkMonitor monitor;
    uint8_t frame[TraceBytesKept] = {0x3E, 0x01, 0x22, 0x18};
    for (auto _ : state)
        monitor.RecordFrame(TraceKind::Answer, StatusOk, frame, 3360);
    state.counters["ring_mb"] = double(monitor.MemoryBytes()) / 1e6;
}

} // namespace

BENCHMARK(TracedExchange)->Arg(0)->Arg(1)->Arg(2)->Iterations(100)->UseRealTime();
BENCHMARK(TraceRecordCost);
BENCHMARK(ShortExchange)->Arg(0)->Arg(1)->Iterations(100)->UseRealTime();
BENCHMARK(EnvelopeOscillogram)->Arg(0)->Iterations(100)->UseRealTime();
BENCHMARK(EnvelopeOscillogram)->Arg(1)->Iterations(20)->UseRealTime();
BENCHMARK_MAIN();
