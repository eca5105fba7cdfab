// Tables computed from a tank's dimensions: for each shape at representative dimensions, the
// largest interpolation error of 50 rows placed where the curve bends against 50 evenly
// spaced rows (litres, share of capacity, and their ratio), on the device's levels (0.1 mm)
// and on the tare grid's (1 mm, 0.1 l); then the time a computation takes against the time
// of filling the curve's samples alone (the floor every placement starts from).
#include "../tests/calibration_geometry/sample_tanks.h"
#include "tank_table.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace vq31;

struct Case {
    const char* name;
    TankShape shape;
    SensorPlacement placement;
};

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (const samples::SampleTank& t : samples::SampleTanks())
        cases.push_back({t.name, t.shape, {}});
    cases.push_back({"cylinder 1200x3000 tilted 2 deg",
                     samples::Shape(TankShapeKind::Cylinder, 1200, 0, 0, 3000),
                     {30, 2, 500}});
    return cases;
}

void PrintErrors(const char* title, ShapeTableOptions options) {
    std::printf("%s\n%-34s %12s %10s %12s %10s %8s\n", title, "shape", "placed, l", "% cap",
                "even, l", "% cap", "ratio");
    for (const Case& c : Cases()) {
        const TankModel model(c.shape, c.placement);
        options.evenlySpaced = false;
        const ShapeTable placed = ComputeShapeTable(model, options);
        options.evenlySpaced = true;
        const ShapeTable even = ComputeShapeTable(model, options);
        std::printf("%-34s %12.3f %10.4f %12.3f %10.4f %8.2f\n", c.name, placed.maxErrorLitres,
                    placed.ErrorShare() * 100, even.maxErrorLitres, even.ErrorShare() * 100,
                    even.maxErrorLitres / placed.maxErrorLitres);
    }
    std::printf("\n");
}

void ComputeTable(benchmark::State& state) {
    const Case c = Cases()[static_cast<size_t>(state.range(0))];
    const TankModel model(c.shape, c.placement);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ComputeShapeTable(model).maxErrorLitres);
    }
    state.SetLabel(c.name);
}

// The floor: the curve's samples alone, as many as a table of this tank samples.
void SampleCurve(benchmark::State& state) {
    const Case c = Cases()[static_cast<size_t>(state.range(0))];
    const TankModel model(c.shape, c.placement);
    const int samples = static_cast<int>(model.TopReadingMm() / 0.1);
    for (auto _ : state) {
        double sum = 0.0;
        for (int i = 0; i <= samples; ++i) {
            sum += model.LitresAtReading(i * 0.1);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetLabel(c.name);
}

BENCHMARK(ComputeTable)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);
BENCHMARK(SampleCurve)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    PrintErrors("Largest interpolation error of 50 rows, device levels (0.1 mm):", {});
    ShapeTableOptions grid;
    grid.levelStepMm = 1.0;
    grid.minLitresStep = 0.1;
    PrintErrors("Largest interpolation error of 50 rows, tare grid (1 mm, 0.1 l):", grid);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
