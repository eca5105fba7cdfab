// Echo polling through a network gateway: the simulated sensor (pacing its answers at the
// link speed, as a wire does) behind Debian's ser2net with an RFC 2217 accepter on
// 127.0.0.1, reached directly (0 ms added) and through a proxy that holds each direction
// 100 ms. One poll cycle is what the oscilloscope page repeats: the device's mode, then an
// envelope oscillogram record, at 115200 bit/s. The floor is the idle read time-out before
// each of the two requests (the pacing rule) plus the wire time of both answers; each
// exchange also crosses the network once, so the reference is floor + 2 x the round trip
// the link measured at connect. "ratio" is the measured cycle over that reference.
#include "commands.h"
#include "gateway_rig.h"
#include "link.h"
#include "sim_server.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

using namespace vq31;

namespace {

constexpr uint32_t Speed = 115200;
constexpr int ExchangesPerCycle = 2;
constexpr uint32_t EnvelopeBlocks = 24; // status block + 23 sample blocks

struct Rig {
    sim::SimServer server{sim::SimOptions{1, Speed, true, {}}};
    std::unique_ptr<test::Ser2net> gateway;
    std::unique_ptr<test::DelayProxy> proxy;
    DeviceLink link;
    std::string error;

    bool Start(std::chrono::milliseconds delay) {
        if (!server.Start(&error))
            return false;
        gateway = std::make_unique<test::Ser2net>(server.path(), Speed);
        if (!gateway->Start(&error))
            return false;
        uint16_t port = gateway->rfc2217Port();
        if (delay.count() > 0) {
            proxy = std::make_unique<test::DelayProxy>(port, delay);
            if (!proxy->Start(&error))
                return false;
            port = proxy->port();
        }
        if (link.UartOpen("rfc2217://127.0.0.1:" + std::to_string(port), Speed) != 0) {
            error = link.OpenError();
            return false;
        }
        // The connect's identity read, which also measures the round trip.
        uint32_t model = 0;
        if (ReadValue(link, cmd::ReadModelCode, 1, model) != StatusOk) {
            error = "no answer through the gateway";
            return false;
        }
        return true;
    }
};

void PollOverRfc2217(benchmark::State& state) {
    const auto delay = std::chrono::milliseconds(state.range(0));
    Rig rig;
    if (!rig.Start(delay)) {
        state.SkipWithError(rig.error.c_str());
        return;
    }
    EchoStatusRecord status{};
    static SampleBuffer samples{};
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        uint32_t mode = 0;
        if (ReadValue(rig.link, cmd::ReadMode, 1, mode) != StatusOk ||
            ReadOscillogram(rig.link, 1, 1, status, samples) != StatusOk)
            state.SkipWithError("poll failed");
    }
    const double cycleMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count() /
        double(state.iterations());
    const double answerBytes =
        double(AnswerLength(AnswerKindOf(cmd::ReadMode)) + EnvelopeBlocks * OscBlockSize);
    const double floorMs =
        ExchangesPerCycle * double(IdleTimeout(Speed).count()) + answerBytes * 10000.0 / Speed;
    const double roundTripMs = double(rig.link.RoundTrip().count());
    state.counters["added_each_way_ms"] = double(delay.count());
    state.counters["cycle_ms"] = cycleMs;
    state.counters["floor_ms"] = floorMs;
    state.counters["round_trip_ms"] = roundTripMs;
    state.counters["ratio"] = cycleMs / (floorMs + ExchangesPerCycle * roundTripMs);
}

} // namespace

BENCHMARK(PollOverRfc2217)->Arg(0)->Iterations(30)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(PollOverRfc2217)->Arg(100)->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
