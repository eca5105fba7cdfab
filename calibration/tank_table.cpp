// Row placement for a computed tare table. The readings are sampled on the levels a row may
// stand on; for a given error bound, rows are placed greedily, each segment as long as its
// chord stays within the bound, and the smallest bound that needs no more than the allowed
// rows is found by bisection. No segment spans more than the level gap the table checks
// flag. A chord's error shrinks with its segment on a curve that bends
// one way, so the greedy cover is the fewest rows for the bound.
#include "tank_table.h"

#include "tare_check.h"

#include <algorithm>
#include <cmath>

namespace vq31 {

namespace {

// Enough samples that the largest error between two of them is missed by a negligible
// amount; tall tanks sample every few row steps.
constexpr std::size_t MaxSamples = 20000;
constexpr int BisectionSteps = 60;
// How far (in samples) a row placed on the exact curve may move to where its litres round
// least.
constexpr std::size_t SnapSamples = 8;

class Placer {
public:
    // span: the most samples one segment may cover.
    Placer(std::vector<double> litres, double litresStep, std::size_t span)
        : v_(std::move(litres)), step_(litresStep), last_(v_.size() - 1),
          span_(std::max<std::size_t>(1, span)) {}

    double Stored(std::size_t i) const {
        return step_ > 0.0 ? std::round(v_[i] / step_) * step_ : v_[i];
    }

    // Largest distance between the chord of stored ends i, j and the curve, and where.
    double SegmentError(std::size_t i, std::size_t j, std::size_t* at = nullptr) const {
        const double a = Stored(i), b = Stored(j);
        double worst = 0.0;
        for (std::size_t k = i; k <= j; ++k) {
            const double chord = a + (b - a) * double(k - i) / double(j - i);
            const double e = std::abs(chord - v_[k]);
            if (e > worst) {
                worst = e;
                if (at != nullptr) {
                    *at = k;
                }
            }
        }
        return worst;
    }

    // The farthest sample a segment from i may reach within the bound; i when not even the
    // next one can.
    std::size_t Reach(std::size_t i, double bound) const {
        if (SegmentError(i, i + 1) > bound) {
            return i;
        }
        const std::size_t end = std::min(last_, i + span_);
        std::size_t good = i + 1, bad = 0;
        while (good < end) {
            const std::size_t next = std::min(end, i + 2 * (good - i));
            if (SegmentError(i, next) <= bound) {
                good = next;
            } else {
                bad = next;
                break;
            }
        }
        if (good == end) {
            return good;
        }
        while (bad - good > 1) {
            const std::size_t mid = good + (bad - good) / 2;
            (SegmentError(i, mid) <= bound ? good : bad) = mid;
        }
        return good;
    }

    // Row samples covering the range within the bound, or empty when more than maxSegments
    // segments would be needed.
    std::vector<std::size_t> Cover(double bound, std::size_t maxSegments) const {
        std::vector<std::size_t> rows{0};
        std::size_t i = 0;
        while (i < last_) {
            const std::size_t j = Reach(i, bound);
            if (j == i || rows.size() > maxSegments) {
                return {};
            }
            rows.push_back(j);
            i = j;
        }
        return rows;
    }

    std::vector<std::size_t> Best(std::size_t maxSegments) const {
        // A bound below half a litre step cannot be met by any row; the chord over the
        // whole range meets its own error.
        double low = 0.0, high = std::max(SegmentError(0, last_), step_ / 2 * (1 + 1e-9));
        std::vector<std::size_t> best = Cover(high, maxSegments);
        if (best.empty()) {
            best = {0, last_};
        }
        for (int step = 0; step < BisectionSteps && high - low > 1e-12 * (1 + high); ++step) {
            const double mid = (low + high) / 2;
            auto rows = Cover(mid, maxSegments);
            if (rows.empty()) {
                low = mid;
            } else {
                high = mid;
                best = std::move(rows);
            }
        }
        return best;
    }

    std::size_t Last() const { return last_; }

private:
    std::vector<double> v_;
    double step_;
    std::size_t last_;
    std::size_t span_;
};

} // namespace

ShapeTable ComputeShapeTable(const TankModel& model, const ShapeTableOptions& options) {
    ShapeTable table;
    const double q = options.levelStepMm > 0.0 ? options.levelStepMm : 0.1;
    table.topMm = model.TopReadingMm();
    table.capacityLitres = model.CapacityLitres();
    table.deadLitres = model.DeadLitres();
    const double units = std::max(1.0, std::ceil(table.topMm / q - 1e-9));
    const auto every = static_cast<std::size_t>(std::ceil(units / MaxSamples));
    const auto count = static_cast<std::size_t>(std::ceil(units / double(every)));
    std::vector<double> levels(count + 1), litres(count + 1);
    for (std::size_t i = 0; i <= count; ++i) {
        levels[i] = double(i * every) * q;
        litres[i] = model.LitresAtReading(levels[i]);
        if (i > 0) {
            litres[i] = std::max(litres[i], litres[i - 1]);
        }
    }
    table.scaleMl = ScaleForLitres(static_cast<float>(litres.back()));
    table.litresStep = std::max(options.minLitresStep, table.scaleMl / 1000.0);
    const std::size_t maxRows = std::max<std::size_t>(2, options.maxRows);
    // No gap between rows as wide as the table checks flag (a tenth of the height; a sample
    // short of it, so rounding never tips it over), as long as the rows allowed can span the
    // height that way.
    const auto gapSegments = static_cast<std::size_t>(std::ceil(1.0 / kGapShareOfHeight));
    const std::size_t span = maxRows - 1 >= gapSegments
                                 ? static_cast<std::size_t>(std::floor(
                                       kGapShareOfHeight * table.topMm / (every * q) - 1e-6))
                                 : count;
    const Placer placer(litres, table.litresStep, span);

    std::vector<std::vector<std::size_t>> candidates;
    if (options.evenlySpaced) {
        std::vector<std::size_t> rows;
        const std::size_t n = std::min(maxRows, count + 1);
        for (std::size_t r = 0; r < n; ++r) {
            rows.push_back(static_cast<std::size_t>(std::llround(double(r) * count / (n - 1))));
        }
        candidates.push_back(std::move(rows));
    } else {
        // Placed on the stored litres, and placed on the exact curve with each row then moved
        // by a few samples to where its litres round least: rounding makes the first search's
        // bound jump from sample to sample, which matters where the curve hardly bends.
        candidates.push_back(placer.Best(maxRows - 1));
        std::vector<std::size_t> snapped = Placer(litres, 0.0, span).Best(maxRows - 1);
        for (std::size_t k = 1; k + 1 < snapped.size(); ++k) {
            const std::size_t reach = std::min<std::size_t>(
                SnapSamples,
                (std::min(snapped[k + 1] - snapped[k], snapped[k] - snapped[k - 1])) / 4);
            std::size_t best = snapped[k];
            for (std::size_t j = snapped[k] - reach; j <= snapped[k] + reach; ++j) {
                // Never past the widest gap allowed.
                if (j - snapped[k - 1] > span || snapped[k + 1] - j > span) {
                    continue;
                }
                if (std::abs(placer.Stored(j) - litres[j]) <
                    std::abs(placer.Stored(best) - litres[best])) {
                    best = j;
                }
            }
            snapped[k] = best;
        }
        candidates.push_back(std::move(snapped));
    }
    bool first = true;
    for (const std::vector<std::size_t>& rows : candidates) {
        // Stored volumes must rise: a row whose litres round to its neighbour's is left out
        // (the last row, the top, is kept).
        std::vector<std::size_t> kept;
        for (std::size_t idx = 0; idx < rows.size(); ++idx) {
            const std::size_t r = rows[idx];
            if (kept.empty() || placer.Stored(r) > placer.Stored(kept.back())) {
                kept.push_back(r);
            } else if (idx + 1 == rows.size() && kept.size() > 1) {
                kept.back() = r;
            }
        }
        double worst = 0.0;
        std::size_t worstAt = 0;
        for (std::size_t k = 1; k < kept.size(); ++k) {
            std::size_t at = kept[k - 1];
            const double e = placer.SegmentError(kept[k - 1], kept[k], &at);
            if (e > worst) {
                worst = e;
                worstAt = at;
            }
        }
        if (first || worst < table.maxErrorLitres) {
            first = false;
            table.rows.clear();
            for (std::size_t r : kept) {
                table.rows.push_back({levels[r], placer.Stored(r)});
            }
            table.maxErrorLitres = worst;
            table.maxErrorAtMm = levels[worstAt];
        }
    }
    return table;
}

void ShapeTableToRecord(const ShapeTable& table, TankRecord& record) {
    std::fill(record.rows.begin(), record.rows.end(), RecordRow{});
    const std::size_t n = std::min(table.rows.size(), TareTableRows);
    for (std::size_t i = 0; i < n; ++i) {
        record.rows[i].Code = static_cast<uint16_t>(std::lround(table.rows[i].levelMm * 10));
        record.rows[i].Litres = static_cast<float>(table.rows[i].litres);
    }
    record.RowCount = static_cast<uint16_t>(n);
    record.Scale = table.scaleMl;
}

} // namespace vq31
