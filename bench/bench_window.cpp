// Speed and size of the main window (offscreen). Needs the libraries vq31_app and vq31_sim.
//   EchoRefresh: one echo refresh in the envelope mode (1) or the raw mode (2): series
//     refilled and labels set, without (paint:0) and with (paint:1) painting the chart; median and
//     99th percentile against the wire time of one envelope record at 115200 bit/s (the protocol's
//     floor for a refresh; "ratio" = median / floor).
//   PollingWindowThread: the whole program polling the simulated sensor at 115200 bit/s: the
//     longest stretch the window thread was blocked (event-loop latency of a 1 ms timer) and
//     the longest single window step, the echo refreshes per second against the floor's rate,
//     and the resident memory while polling; with the traffic window closed (traffic:0) and
//     open (traffic:1), and the memory held by the trace ring.
//   TrafficFeed: trace records pushed from another thread at the byte rate of a 115200 bit/s
//     line (short frames, the most records a second) while the traffic window redraws on its
//     timer: the longest stretch the window thread was blocked and the redraws per second.
//   StartToShown: program object to first shown window (start-up steps done).
//   PollingCpu: processor time while polling with nothing else to do, as a share of one core:
//     the whole window program polling the simulated sensor (vq31-sim as its own process, at
//     115200 bit/s in real time) against vq31ctl polling the same sensor for the same time;
//     "ratio" = window share / vq31ctl share. Set VQ31_BENCH_POLL_SECONDS for a longer soak.
#include "echo_chart.h"
#include "main_window.h"
#include "program.h"
#include "prompter.h"
#include "qt_worker_view.h"
#include "sim_server.h"
#include "traffic_window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

using namespace vq31;
using namespace vq31::app;

namespace {

constexpr int EnvelopeSamples = 1472;
constexpr int RawSamples = 1984;
// Wire time of an envelope oscillogram answer (status block + 23 sample blocks of 128 bytes
// with its frame bytes) and its request at 115200 bit/s, 10 bits per byte.
constexpr double EnvelopeAnswerBytes = 24 * 128 + 8;
constexpr double FloorMs = EnvelopeAnswerBytes * 10.0 / 115200.0 * 1000.0;

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

double ResidentMb() {
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

struct Frames {
    std::vector<int16_t> samples = std::vector<int16_t>(RawSamples);
    std::vector<uint32_t> envelope = std::vector<uint32_t>(EnvelopeSamples);
    std::vector<uint8_t> high = std::vector<uint8_t>(EnvelopeSamples);
    Frames() {
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = int16_t((i * 7919) % 30000);
        for (size_t i = 0; i < envelope.size(); ++i) {
            envelope[i] = uint32_t((i * 104729) % 6000);
            high[i] = envelope[i] >= EnvelopeHighLevel;
        }
    }
    EchoFrame Make(bool envelopeMode) const {
        EchoFrame f;
        f.mode = envelopeMode ? 1 : 2;
        f.labels = {"2000", "Wide", "5.0", "0", "10"};
        f.fields = EchoFields{"OK", "2200/2", "75", "2457", "2456", "600", "20.0"};
        f.dataInst = "Не активен";
        f.sampleStep = envelopeMode ? 10 : 1;
        f.oscillogram =
            std::span<const int16_t>(samples.data(), envelopeMode ? EnvelopeSamples : RawSamples);
        if (envelopeMode) {
            f.envelope = envelope;
            f.envelopeHigh = high;
        }
        return f;
    }
};

void EchoRefresh(benchmark::State& state) {
    const bool envelopeMode = state.range(0) == 1;
    const bool paint = state.range(1) == 1;
    QTemporaryDir dir;
    ProgramOptions options;
    options.settingsPath = dir.filePath("s.ini");
    options.languagePath = dir.filePath("none.lng");
    Program program(options);
    MainWindow& window = program.Window();
    window.show();
    window.SetMainPage(PageOscill);
    window.Chart().SetSeriesActive(EchoChart::Integrator, true);
    QApplication::processEvents();
    Frames frames;
    const EchoFrame frame = frames.Make(envelopeMode);
    QImage canvas(window.Chart().size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> times;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        program.View().ShowEcho(frame); // on the window thread: runs inline
        if (paint) {
            QPainter painter(&canvas);
            window.Chart().render(&painter);
        }
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        times.push_back(ms);
        state.SetIterationTime(ms / 1000.0);
    }
    const double median = Percentile(times, 0.5);
    state.counters["median_ms"] = median;
    state.counters["p99_ms"] = Percentile(times, 0.99);
    state.counters["floor_ms"] = FloorMs;
    state.counters["ratio"] = median / FloorMs;
}
BENCHMARK(EchoRefresh)
    ->ArgsProduct({{1, 2}, {0, 1}})
    ->ArgNames({"envelope", "paint"})
    ->UseManualTime()
    ->Iterations(200);

void PollingWindowThread(benchmark::State& state) {
    const bool traffic = state.range(0) != 0;
    for (auto _ : state) {
        sim::SimOptions simOptions;
        simOptions.baud = 115200;
        simOptions.realtime = true;
        sim::SimServer server(simOptions);
        if (!server.Start()) {
            state.SkipWithError("simulator did not start");
            return;
        }
        QTemporaryDir dir;
        ProgramOptions options;
        options.settingsPath = dir.filePath("s.ini");
        options.languagePath = dir.filePath("none.lng");
        options.port = QString::fromStdString(server.path());
        options.baud = 115200;
        Program program(options);
        program.Window().show();
        const double before = ResidentMb();
        program.Window().BtnPortOpen->click();
        if (!QTest::qWaitFor([&] { return program.Window().EditAuth->text() == "OK"; }, 10000)) {
            state.SkipWithError("no echo from the simulator");
            return;
        }
        TrafficWindow* trafficWindow = traffic ? program.Window().OpenTrafficWindow() : nullptr;
        const uint64_t requestsBefore = program.Link().Monitor()->Health().requests;
        // Latency of a 1 ms timer: the longest gap is the longest time the window thread was
        // busy (a window step, a repaint) while the worker polled.
        double longestGap = 0;
        QElapsedTimer sinceTick;
        sinceTick.start();
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, double(sinceTick.nsecsElapsed()) / 1e6);
            sinceTick.restart();
        });
        int frames = 0;
        QString last;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            const QString now = program.Window().EditFrame->text();
            if (now != last)
                ++frames, last = now;
        });
        tick.start(1);
        watch.start(1);
        constexpr int PollMs = 3000;
        QTest::qWait(PollMs);
        tick.stop();
        watch.stop();
        state.counters["window_blocked_max_ms"] = longestGap;
        state.counters["longest_step_ms"] = program.View().LongestStepMs();
        state.counters["refresh_per_s"] = frames * 1000.0 / PollMs;
        state.counters["floor_refresh_per_s"] = 1000.0 / FloorMs;
        state.counters["rss_mb"] = ResidentMb();
        state.counters["rss_growth_mb"] = ResidentMb() - before;
        const auto monitor = program.Link().Monitor();
        state.counters["requests_per_s"] =
            double(monitor->Health().requests - requestsBefore) * 1000.0 / PollMs;
        state.counters["trace_ring_mb"] = double(monitor->MemoryBytes()) / 1e6;
        if (trafficWindow)
            state.counters["traffic_redraws_per_s"] = trafficWindow->Redraws() * 1000.0 / PollMs;
        program.Window().close();
    }
}
BENCHMARK(PollingWindowThread)
    ->ArgName("traffic")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Boxes that nobody answers: the feed never shows one.
class SilentBoxes : public Prompter {
public:
    void Error(const QString&) override {}
    void Information(const QString&) override {}
    bool Question(const QString&) override { return false; }
    QString ChooseOpenFile(const QString&) override { return {}; }
    QString ChooseSaveFile(const QString&) override { return {}; }
};

void TrafficFeed(benchmark::State& state) {
    for (auto _ : state) {
        auto monitor = std::make_shared<LinkMonitor>();
        SilentBoxes boxes;
        LanguageTexts texts;
        TrafficWindow window(monitor, boxes, texts);
        window.show();
        // 115200 bit/s is 11 520 bytes a second; 5-byte frames give the most records.
        constexpr int FramesPerSecond = 11520 / 5;
        std::atomic<bool> stop{false};
        std::atomic<uint64_t> fed{0};
        std::thread feeder([&] {
            const uint8_t frame[] = {0x3E, 0x01, 0x2A, 0x00, 0x4E};
            auto next = std::chrono::steady_clock::now();
            while (!stop) {
                monitor->RecordFrame(TraceKind::Answer, StatusOk, frame, sizeof frame);
                ++fed;
                next += std::chrono::microseconds(1000000 / FramesPerSecond);
                std::this_thread::sleep_until(next);
            }
        });
        double longestGap = 0;
        QElapsedTimer sinceTick;
        sinceTick.start();
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, double(sinceTick.nsecsElapsed()) / 1e6);
            sinceTick.restart();
        });
        tick.start(1);
        constexpr int FeedMs = 3000;
        const int redrawsBefore = window.Redraws();
        QTest::qWait(FeedMs);
        tick.stop();
        stop = true;
        feeder.join();
        state.counters["records_per_s"] = double(fed) * 1000.0 / FeedMs;
        state.counters["redraws_per_s"] = (window.Redraws() - redrawsBefore) * 1000.0 / FeedMs;
        state.counters["window_blocked_max_ms"] = longestGap;
        state.counters["ring_records"] = double(monitor->size());
    }
}
BENCHMARK(TrafficFeed)->Iterations(1)->Unit(benchmark::kMillisecond);

void StartToShown(benchmark::State& state) {
    std::vector<double> times;
    for (auto _ : state) {
        QTemporaryDir dir;
        QElapsedTimer timer;
        timer.start();
        ProgramOptions options;
        options.settingsPath = dir.filePath("s.ini");
        options.languagePath = dir.filePath("none.lng");
        Program program(options);
        program.Window().show();
        QApplication::processEvents();
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        times.push_back(ms);
        state.SetIterationTime(ms / 1000.0);
        program.Window().close();
    }
    state.counters["median_ms"] = Percentile(times, 0.5);
}
BENCHMARK(StartToShown)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// Processor seconds of this process, or of its waited-for children.
double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// vq31-sim as a child process; its first line is the pseudo-terminal's path.
struct SimProcess {
    QProcess process;
    QString port;
    bool Start() {
        const QString program = QCoreApplication::applicationDirPath() + "/../sim/vq31-sim";
        process.start(program, {"--baud", "115200", "--realtime"});
        if (!process.waitForStarted(5000) || !process.waitForReadyRead(5000))
            return false;
        port = QString::fromUtf8(process.readLine()).trimmed();
        return !port.isEmpty();
    }
    ~SimProcess() {
        process.kill();
        process.waitForFinished(5000);
    }
};

void PollingCpu(benchmark::State& state) {
    const int seconds = qEnvironmentVariableIsSet("VQ31_BENCH_POLL_SECONDS")
                            ? qEnvironmentVariableIntValue("VQ31_BENCH_POLL_SECONDS")
                            : 20;
    for (auto _ : state) {
        double windowShare = 0, ctlShare = 0;
        {
            SimProcess sim;
            if (!sim.Start()) {
                state.SkipWithError("vq31-sim did not start");
                return;
            }
            QTemporaryDir dir;
            ProgramOptions options;
            options.settingsPath = dir.filePath("s.ini");
            options.languagePath = dir.filePath("none.lng");
            options.port = sim.port;
            options.baud = 115200;
            Program program(options);
            program.Window().show();
            program.Window().BtnPortOpen->click();
            if (!QTest::qWaitFor([&] { return program.Window().EditAuth->text() == "OK"; },
                                 10000)) {
                state.SkipWithError("no echo from the simulator");
                return;
            }
            QTest::qWait(1000); // past the connection's own work
            const double before = CpuSeconds(RUSAGE_SELF);
            QElapsedTimer wall;
            wall.start();
            QTest::qWait(seconds * 1000);
            windowShare = (CpuSeconds(RUSAGE_SELF) - before) / (double(wall.nsecsElapsed()) / 1e9);
            program.Window().close();
        }
        {
            SimProcess sim;
            if (!sim.Start()) {
                state.SkipWithError("vq31-sim did not start");
                return;
            }
            const double before = CpuSeconds(RUSAGE_CHILDREN);
            QElapsedTimer wall;
            wall.start();
            QProcess ctl;
            ctl.setStandardOutputFile(QProcess::nullDevice());
            ctl.start(QCoreApplication::applicationDirPath() + "/../ctl/vq31ctl",
                      {"--port", sim.port, "--baud", "115200", "poll", "--seconds",
                       QString::number(seconds)});
            ctl.waitForFinished((seconds + 30) * 1000);
            const double elapsed = double(wall.nsecsElapsed()) / 1e9;
            // The simulator is still running: only vq31ctl has been waited for.
            ctlShare = (CpuSeconds(RUSAGE_CHILDREN) - before) / elapsed;
        }
        state.counters["window_core_pct"] = windowShare * 100.0;
        state.counters["vq31ctl_core_pct"] = ctlShare * 100.0;
        state.counters["ratio"] = ctlShare > 0 ? windowShare / ctlShare : 0.0;
    }
}
BENCHMARK(PollingCpu)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    KeepCNumberFormat();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
