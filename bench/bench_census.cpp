// The line census against the simulated line: addresses 0 to 254 at 19200 bit/s, and at all
// seven speeds, with three sensors answering (paced at the link speed) among silent
// addresses. Reports the whole census time and the time per silent address against its
// floor: the idle time-out of the speed plus the identity request's wire time. "ratio" is
// measured / floor over every silent address of the run.
#include "census.h"
#include "sim_server.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

using namespace vq31;

namespace {

void RunCensusBench(benchmark::State& state, std::vector<uint32_t> speeds) {
    sim::SimOptions options;
    options.realtime = true;
    options.address = 1;
    options.moreAddresses = {2, 7};
    sim::SimServer server(options);
    if (!server.Start()) {
        state.SkipWithError("simulator did not start");
        return;
    }
    // At the other speeds too, a sensor each, so every speed measures its answer delay.
    server.Control("bus add 3 9600");
    server.Control("bus add 5 115200");
    DeviceLink link;
    CensusOptions census;
    census.speeds = std::move(speeds);
    CensusResult r;
    for (auto _ : state)
        r = RunCensus(link, server.path(), census);
    if (!r.Complete()) {
        state.SkipWithError(("census did not complete: " + r.portError).c_str());
        return;
    }
    double silentMs = 0, floorMs = 0, silent = 0;
    for (const CensusSpeedTiming& t : r.timing) {
        silentMs += std::chrono::duration<double, std::milli>(t.silentTime).count();
        floorMs += double(t.silentAddresses) *
                   std::chrono::duration<double, std::milli>(CensusSilentFloor(t.speed)).count();
        silent += double(t.silentAddresses);
        state.counters["wait_ms_" + std::to_string(t.speed)] = double(t.firstByteWait.count());
    }
    state.counters["census_s"] = double(r.elapsed.count()) / 1000.0;
    state.counters["sensors"] = double(r.sensors.size());
    state.counters["ms_per_silent"] = silent > 0 ? silentMs / silent : 0;
    state.counters["floor_ms"] = silent > 0 ? floorMs / silent : 0;
    state.counters["ratio"] = floorMs > 0 ? silentMs / floorMs : 0;
}

void CensusOneSpeed(benchmark::State& state) {
    RunCensusBench(state, {19200});
}

void CensusAllSpeeds(benchmark::State& state) {
    RunCensusBench(state, {CensusSpeeds.begin(), CensusSpeeds.end()});
}

} // namespace

BENCHMARK(CensusOneSpeed)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(CensusAllSpeeds)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_MAIN();
