// Speed of the tank list workbook: export and import of 100 preset tanks of 100 rows each,
// against the floor of writing the same cells with the workbook library alone, and against
// LibreOffice converting the same workbook headless (what driving a spreadsheet application
// costs; measured when LibreOffice is installed). The ratios are printed after the runs.
#include "exchange.h"
#include "hub_image.h"
#include "workbook.h"

#include <benchmark/benchmark.h>
#include <xlsxwriter.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

using namespace vq31;

constexpr int Tanks = 100;
constexpr int Rows = 100;

std::string BenchFile(const char* name) {
    return (std::filesystem::temp_directory_path() /
            (std::string("vq31-bench-") + std::to_string(getpid()) + "-" + name))
        .string();
}

// The default image followed by 100 presets of 100 rows, laid out by hand: the device's
// 4096-byte limit would stop an append after nine of them, and the export takes any valid
// image.
std::unique_ptr<HubBuffer> LargeImage() {
    auto image = std::make_unique<HubBuffer>();
    HubMakeDefault(*image);
    std::size_t at = image->TotalSize();
    for (int t = 0; t < Tanks; ++t) {
        const auto entry = static_cast<uint16_t>(TankEntryHeadSize + EntryRowSize * Rows);
        image->SetWord(at + EntrySizeOffset, entry);
        image->SetWord(at + EntryIdOffset, static_cast<uint16_t>(t + 2));
        image->SetWord(at + EntryHeightOffset, 20000);
        image->SetWord(at + EntryRowCountOffset, Rows);
        image->SetWord(at + EntryScaleOffset, 10);
        for (int r = 0; r < Rows; ++r) {
            const std::size_t row = at + TankEntryHeadSize + EntryRowSize * r;
            image->SetWord(row, static_cast<uint16_t>(200 * r));
            image->SetWord(row + 2, static_cast<uint16_t>(500 * r + t));
        }
        at += entry;
    }
    image->SetTotalSize(static_cast<uint16_t>(at));
    image->SetEntryCount(Tanks + 2);
    HubSeal(*image);
    return image;
}

// The same cells written straight through libxlsxwriter.
void PlainWrite(const std::string& file) {
    lxw_workbook* wb = workbook_new(file.c_str());
    for (int t = 0; t < Tanks; ++t) {
        const std::string name = "TankID " + std::to_string(t + 2);
        lxw_worksheet* ws = workbook_add_worksheet(wb, name.c_str());
        worksheet_write_string(ws, 0, 0, "Liters", nullptr);
        worksheet_write_string(ws, 0, 1, "mm", nullptr);
        worksheet_write_string(ws, 0, 2, "Tank ID", nullptr);
        worksheet_write_string(ws, 0, 3, "Tank Height, mm", nullptr);
        worksheet_write_number(ws, 1, 2, t + 2, nullptr);
        worksheet_write_number(ws, 1, 3, 2000, nullptr);
        for (int r = 0; r < Rows; ++r) {
            worksheet_write_number(ws, lxw_row_t(r + 1), 0, (500.0 * r + t) / 100.0, nullptr);
            worksheet_write_number(ws, lxw_row_t(r + 1), 1, 20 * r, nullptr);
        }
    }
    workbook_close(wb);
}

struct Times {
    double libreOffice = 0;
    double plainWrite = 0;
    double exportList = 0;
    double importList = 0;
};

Times& Measured() {
    static Times times;
    return times;
}

void BM_PlainWrite(benchmark::State& state) {
    const std::string file = BenchFile("plain.xlsx");
    for (auto _ : state) {
        PlainWrite(file);
    }
    std::filesystem::remove(file);
}

void BM_ExportTankList(benchmark::State& state) {
    auto image = LargeImage();
    const std::string file = BenchFile("export.xlsx");
    for (auto _ : state) {
        const auto r = sheets::ExportTankList(*image, file);
        if (!r.ok) {
            state.SkipWithError(r.detail.c_str());
            break;
        }
    }
    std::filesystem::remove(file);
}

void BM_ImportTankList(benchmark::State& state) {
    const std::string file = BenchFile("import.xlsx");
    if (!sheets::ExportTankList(*LargeImage(), file).ok) {
        state.SkipWithError("export failed");
        return;
    }
    auto image = std::make_unique<HubBuffer>();
    auto scratch = std::make_unique<TankRecord>();
    for (auto _ : state) {
        const auto r = sheets::ImportTankList(*image, *scratch, file, ".");
        if (!r.ok) {
            state.SkipWithError(r.detail.c_str());
            break;
        }
    }
    std::filesystem::remove(file);
}

// LibreOffice converting the exported workbook to another format, headless, with a private
// profile that is made once before the timed runs.
void BM_LibreOfficeConvert(benchmark::State& state) {
    if (!sheets::HaveLibreOffice()) {
        state.SkipWithError("LibreOffice is not installed");
        return;
    }
    const std::string file = BenchFile("convert.xlsx");
    const std::string dir = BenchFile("lo");
    std::filesystem::create_directories(dir);
    if (!sheets::ExportTankList(*LargeImage(), file).ok) {
        state.SkipWithError("export failed");
        return;
    }
    const std::string command =
        "HOME=" + dir + " soffice --headless --norestore " + "-env:UserInstallation=file://" + dir +
        "/profile " + "--convert-to ods --outdir " + dir + " " + file + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        state.SkipWithError("LibreOffice failed to convert");
        return;
    }
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("LibreOffice failed to convert");
            break;
        }
    }
    std::filesystem::remove_all(dir);
    std::filesystem::remove(file);
}

BENCHMARK(BM_LibreOfficeConvert)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportTankList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportTankList)->Unit(benchmark::kMillisecond);

// Collects the mean real time per iteration of each run to print the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            // With repetitions only the mean stands for the run.
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "mean") {
                continue;
            }
            const double ms = run.GetAdjustedRealTime();
            const std::string name = run.benchmark_name();
            if (name.find("LibreOffice") != std::string::npos) {
                Measured().libreOffice = ms;
            } else if (name.find("PlainWrite") != std::string::npos) {
                Measured().plainWrite = ms;
            } else if (name.find("Export") != std::string::npos) {
                Measured().exportList = ms;
            } else if (name.find("Import") != std::string::npos) {
                Measured().importList = ms;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const Times& t = Measured();
    if (t.plainWrite > 0) {
        std::printf("\n%d tanks x %d rows: export %.1f ms (%.2f x plain write), import %.1f ms "
                    "(%.2f x plain write), plain write %.1f ms\n",
                    Tanks, Rows, t.exportList, t.exportList / t.plainWrite, t.importList,
                    t.importList / t.plainWrite, t.plainWrite);
    }
    if (t.libreOffice > 0 && t.exportList > 0 && t.importList > 0) {
        std::printf("LibreOffice converting the same workbook headless: %.0f ms; export is %.0f x "
                    "and import %.0f x faster\n",
                    t.libreOffice, t.libreOffice / t.exportList, t.libreOffice / t.importList);
    }
    benchmark::Shutdown();
    return 0;
}
