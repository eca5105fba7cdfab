// Volumes of regular tanks: closed forms for a level tank, the area's antiderivative for a
// tilted body, and slice-by-slice integration for heads of a tilted tank and as the general
// path that checks the closed forms.
#include "tank_shape.h"

#include "tare_grid.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace vq31 {

namespace {

constexpr double Pi = std::numbers::pi;
// The tilt a tank may have and still be called lying (beyond it the sensor reads a wall).
constexpr double MaxTiltDeg = 45.0;
// Below this change of depth over a piece of length, the tilted integral is taken by
// Simpson's rule instead of the difference of antiderivatives (which would cancel).
constexpr double FlatDepthChangeMm = 1e-4;
// Adaptive integration: absolute tolerance as a share of the tank's capacity, pieces the
// range is cut into first (so a wet stretch between two dry samples is not missed), and the
// deepest halving.
constexpr double SliceTolerance = 1e-13;
constexpr int SliceStartPieces = 16;
// The heads of a tilted tank, computed for every sample of a table, need far less: a
// ten-billionth of their volume is still far below a table's litre step.
constexpr double HeadTolerance = 1e-10;
constexpr int SliceMaxDepth = 40;

// Area of a circle of radius r below the height y over its lowest point.
double SegmentArea(double r, double y) {
    if (r <= 0.0 || y <= 0.0) {
        return 0.0;
    }
    if (y >= 2 * r) {
        return Pi * r * r;
    }
    const double d = r - y;
    return r * r * std::acos(std::clamp(d / r, -1.0, 1.0)) -
           d * std::sqrt(std::max(0.0, y * (2 * r - y)));
}

// Integral of SegmentArea(r, t) for t from 0 to y; above the circle it grows by the full
// area per millimetre.
double SegmentIntegral(double r, double y) {
    if (r <= 0.0 || y <= 0.0) {
        return 0.0;
    }
    const auto g = [r](double d) {
        const double rest = std::max(0.0, r * r - d * d);
        return r * r * (d * std::acos(std::clamp(d / r, -1.0, 1.0)) - std::sqrt(rest)) +
               rest * std::sqrt(rest) / 3.0;
    };
    if (y >= 2 * r) {
        return -g(-r) + Pi * r * r * (y - 2 * r);
    }
    return -g(r - y);
}

// Cross-section of width w and height h whose four corners are rounded with radius r
// (r = 0: a rectangle; r = h / 2 = w / 2: a circle). Area below a depth and its integral.
struct RoundedSection {
    double w, h, r;

    double Area(double y) const {
        const double c = std::clamp(y, 0.0, h);
        const double sides = r > 0.0 ? SegmentArea(r, std::clamp(c, 0.0, r)) +
                                           2 * r * std::clamp(c - r, 0.0, h - 2 * r) +
                                           SegmentArea(r, std::clamp(c - (h - 2 * r), r, 2 * r)) -
                                           SegmentArea(r, r)
                                     : 0.0;
        return (w - 2 * r) * c + sides;
    }

    double Integral(double y) const {
        if (y <= 0.0) {
            return 0.0;
        }
        const double middle = y <= h ? y * y / 2 : h * h / 2 + h * (y - h);
        if (r <= 0.0) {
            return w * middle;
        }
        const double half = SegmentArea(r, r);
        // Bottom half-circle.
        const double bottom =
            y <= r ? SegmentIntegral(r, y) : SegmentIntegral(r, r) + half * (y - r);
        // Straight part of the sides.
        const double straight = h - 2 * r;
        const double u = y - r;
        const double sides = u <= 0.0 ? 0.0
                             : u <= straight
                                 ? r * u * u
                                 : r * straight * straight + 2 * r * straight * (u - straight);
        // Top half-circle, above the half already counted.
        const double v = y - straight;
        const double topAt = [&](double t) {
            return SegmentIntegral(r, t) - SegmentIntegral(r, r) - half * (t - r);
        }(std::clamp(v, r, 2 * r));
        const double top = v <= 2 * r ? topAt : topAt + (Pi * r * r - half) * (v - 2 * r);
        return (w - 2 * r) * middle + bottom + sides + top;
    }
};

RoundedSection SectionOf(const TankShape& s) {
    switch (s.kind) {
    case TankShapeKind::Cylinder:
        return {s.diameterMm, s.diameterMm, s.diameterMm / 2};
    case TankShapeKind::Box:
    case TankShapeKind::Oval:
        return {s.widthMm, s.heightMm, s.cornerRadiusMm};
    case TankShapeKind::Vertical:
        break;
    }
    return {0.0, 0.0, 0.0};
}

double HeadDepth(const TankShape& s) {
    return s.kind == TankShapeKind::Cylinder ? s.headDepthMm : 0.0;
}

template <class F>
double SimpsonStep(const F& f, double a, double b, double fa, double fm, double fb, double whole,
                   double tolerance, int depth) {
    const double m = (a + b) / 2;
    const double lm = (a + m) / 2, rm = (m + b) / 2;
    const double flm = f(lm), frm = f(rm);
    const double left = (m - a) / 6 * (fa + 4 * flm + fm);
    const double right = (b - m) / 6 * (fm + 4 * frm + fb);
    const double delta = left + right - whole;
    if (depth <= 0 || std::abs(delta) <= 15 * tolerance) {
        return left + right + delta / 15;
    }
    return SimpsonStep(f, a, m, fa, flm, fm, left, tolerance / 2, depth - 1) +
           SimpsonStep(f, m, b, fm, frm, fb, right, tolerance / 2, depth - 1);
}

// Adaptive Simpson over [a, b] to an absolute tolerance.
template <class F> double Integrate(const F& f, double a, double b, double tolerance) {
    double sum = 0.0;
    const double piece = (b - a) / SliceStartPieces;
    for (int i = 0; i < SliceStartPieces; ++i) {
        const double x0 = a + i * piece, x1 = x0 + piece;
        const double f0 = f(x0), fm = f((x0 + x1) / 2), f1 = f(x1);
        sum += SimpsonStep(f, x0, x1, f0, fm, f1, piece / 6 * (f0 + 4 * fm + f1),
                           tolerance / SliceStartPieces, SliceMaxDepth);
    }
    return sum;
}

// Both heads of a horizontal cylinder, slice by slice: a slice at distance u beyond the
// seam is a circle of radius R sqrt(1 - (u / a)^2) about the tank's axis. u = a sin(phi)
// keeps the integrand smooth at the head's tip.
double SlicedHeads(const TankShape& s, double depth, double at, double slope, double tolerance) {
    const double a = HeadDepth(s);
    if (a <= 0.0) {
        return 0.0;
    }
    const double R = s.diameterMm / 2;
    const double seams[2] = {a, a + s.lengthMm};
    const double outward[2] = {-1.0, 1.0};
    double sum = 0.0;
    for (int head = 0; head < 2; ++head) {
        const auto slice = [&](double phi) {
            const double x = seams[head] + outward[head] * a * std::sin(phi);
            const double rho = R * std::cos(phi);
            const double z = depth + (x - at) * slope;
            return a * std::cos(phi) * SegmentArea(rho, z - (R - rho));
        };
        sum += Integrate(slice, 0.0, Pi / 2, tolerance / 2);
    }
    return sum;
}

// The body of a horizontal tank between x0 and x1, depth z at x: the antiderivative's
// difference over the slope, or Simpson's rule where the depth hardly changes.
double TiltedBody(const RoundedSection& section, double depth, double at, double slope, double x0,
                  double x1) {
    const double z0 = depth + (x0 - at) * slope, z1 = depth + (x1 - at) * slope;
    if (std::abs(z1 - z0) < FlatDepthChangeMm) {
        return (x1 - x0) / 6 *
               (section.Area(z0) + 4 * section.Area((z0 + z1) / 2) + section.Area(z1));
    }
    return (section.Integral(z1) - section.Integral(z0)) / slope;
}

const char* HeadsName(TankHeads heads) {
    switch (heads) {
    case TankHeads::Flat:
        return "flat";
    case TankHeads::Ellipsoidal:
        return "ellipsoidal";
    case TankHeads::Hemispherical:
        return "hemispherical";
    }
    return "flat";
}

std::string Number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

} // namespace

TankShape Normalised(TankShape s) {
    if (s.kind == TankShapeKind::Cylinder) {
        if (s.heads == TankHeads::Hemispherical) {
            s.headDepthMm = s.diameterMm / 2;
        } else if (s.heads == TankHeads::Ellipsoidal && s.headDepthMm <= 0.0) {
            s.headDepthMm = s.diameterMm / 4;
        } else if (s.heads == TankHeads::Flat) {
            s.headDepthMm = 0.0;
        }
    }
    if (s.kind == TankShapeKind::Oval) {
        s.cornerRadiusMm = std::min(s.widthMm, s.heightMm) / 2;
    }
    return s;
}

std::string CheckTankShape(const TankShape& given, const SensorPlacement& p) {
    const auto positive = [](double v) { return std::isfinite(v) && v > 0.0; };
    switch (given.kind) {
    case TankShapeKind::Cylinder:
        if (!positive(given.diameterMm) || !positive(given.lengthMm)) {
            return "a cylinder needs --diameter and --length above 0";
        }
        if (given.heads == TankHeads::Flat && given.headDepthMm != 0.0) {
            return "--head-depth goes with ellipsoidal heads";
        }
        if (given.heads == TankHeads::Hemispherical && given.headDepthMm != 0.0 &&
            std::abs(given.headDepthMm - given.diameterMm / 2) > 1e-9) {
            return "hemispherical heads are half the diameter deep: leave --head-depth out";
        }
        if (given.heads == TankHeads::Ellipsoidal &&
            (!std::isfinite(given.headDepthMm) || given.headDepthMm < 0.0)) {
            return "--head-depth must be above 0";
        }
        break;
    case TankShapeKind::Box:
        if (!positive(given.widthMm) || !positive(given.heightMm) || !positive(given.lengthMm)) {
            return "a box needs --width, --height and --length above 0";
        }
        if (!std::isfinite(given.cornerRadiusMm) || given.cornerRadiusMm < 0.0 ||
            given.cornerRadiusMm > std::min(given.widthMm, given.heightMm) / 2) {
            return "--corner-radius must be 0 to half the smaller of width and height";
        }
        break;
    case TankShapeKind::Oval:
        if (!positive(given.widthMm) || !positive(given.heightMm) || !positive(given.lengthMm)) {
            return "an oval needs --width, --height and --length above 0";
        }
        break;
    case TankShapeKind::Vertical:
        if (!positive(given.diameterMm) || !positive(given.heightMm)) {
            return "a vertical cylinder needs --diameter and --height above 0";
        }
        if (p.tiltDeg != 0.0) {
            return "--tilt goes with tanks lying along their length";
        }
        break;
    }
    const TankShape s = Normalised(given);
    const double height = TankHeightMm(s);
    if (!std::isfinite(p.offsetMm) || p.offsetMm < 0.0 || p.offsetMm >= height) {
        return "--offset must be 0 or more and below the tank's height";
    }
    if (height - p.offsetMm > kMaxTareMillimetres - 1) {
        return "the sensor's range in this tank is over " +
               std::to_string(kMaxTareMillimetres - 1) + " mm, more than a table row holds";
    }
    if (!std::isfinite(p.tiltDeg) || std::abs(p.tiltDeg) > MaxTiltDeg) {
        return "--tilt must be within 45 degrees either way";
    }
    if (!std::isfinite(p.sensorAtMm) || p.sensorAtMm < 0.0 || p.sensorAtMm > TankLengthMm(s)) {
        return "--sensor-at must lie on the tank's length (0 to " + Number(TankLengthMm(s)) +
               " mm)";
    }
    if (TankCapacityLitres(s) > kMaxTareLitres) {
        return "the tank holds more than a table can (" + Number(kMaxTareLitres) + " l)";
    }
    return {};
}

double TankHeightMm(const TankShape& s) {
    return s.kind == TankShapeKind::Cylinder ? s.diameterMm : s.heightMm;
}

double TankLengthMm(const TankShape& s) {
    switch (s.kind) {
    case TankShapeKind::Cylinder:
        return s.lengthMm + 2 * HeadDepth(s);
    case TankShapeKind::Box:
    case TankShapeKind::Oval:
        return s.lengthMm;
    case TankShapeKind::Vertical:
        return s.diameterMm;
    }
    return 0.0;
}

double TankCapacityLitres(const TankShape& s) {
    return LitresAtDepth(s, TankHeightMm(s));
}

double LitresAtDepth(const TankShape& s, double depth) {
    return TiltedLitres(s, depth, 0.0, 0.0);
}

double TiltedLitres(const TankShape& s, double depth, double at, double slope) {
    double mm3 = 0.0;
    if (s.kind == TankShapeKind::Vertical) {
        const double r = s.diameterMm / 2;
        mm3 = Pi * r * r * std::clamp(depth, 0.0, s.heightMm);
        return mm3 / CubicMmPerLitre;
    }
    const RoundedSection section = SectionOf(s);
    const double a = HeadDepth(s);
    mm3 = TiltedBody(section, depth, at, slope, a, a + s.lengthMm);
    if (a > 0.0) {
        if (slope == 0.0) {
            // Both heads together are an ellipsoid with semi-axes a, R, R cut by a plane: the
            // spherical cap of radius R stretched by a / R.
            const double R = s.diameterMm / 2;
            const double z = std::clamp(depth, 0.0, 2 * R);
            mm3 += Pi * a * z * z * (3 * R - z) / (3 * R);
        } else {
            const double R = s.diameterMm / 2;
            mm3 += SlicedHeads(s, depth, at, slope, HeadTolerance * 4.0 / 3.0 * Pi * a * R * R);
        }
    }
    return mm3 / CubicMmPerLitre;
}

double SlicedLitres(const TankShape& s, double depth, double at, double slope) {
    const double full = std::max(1.0, TankCapacityLitres(s) * CubicMmPerLitre);
    const double tolerance = SliceTolerance * full;
    if (s.kind == TankShapeKind::Vertical) {
        // Slices across the diameter: x = R (1 - cos t) keeps the chord's root smooth.
        const double r = s.diameterMm / 2;
        const auto slice = [&](double t) {
            const double x = r * (1 - std::cos(t));
            const double z = std::clamp(depth + (x - at) * slope, 0.0, s.heightMm);
            return 2 * r * std::sin(t) * z * r * std::sin(t);
        };
        return Integrate(slice, 0.0, Pi, tolerance) / CubicMmPerLitre;
    }
    const RoundedSection section = SectionOf(s);
    const double a = HeadDepth(s);
    const auto body = [&](double x) { return section.Area(depth + (x - at) * slope); };
    const double mm3 =
        Integrate(body, a, a + s.lengthMm, tolerance) + SlicedHeads(s, depth, at, slope, tolerance);
    return mm3 / CubicMmPerLitre;
}

TankModel::TankModel(const TankShape& shape, const SensorPlacement& placement, double factor)
    : shape_(Normalised(shape)), placement_(placement), factor_(factor),
      slope_(std::tan(placement.tiltDeg * Pi / 180.0)),
      capacity_(TankCapacityLitres(shape_) * factor) {
    const double sensorTop = TankHeightMm(shape_) - placement_.offsetMm;
    top_ = sensorTop;
    // Tilted, the tank may be full before the sensor reaches the top: the first reading
    // that holds the whole capacity ends the table.
    const double full = capacity_ * (1 - 1e-12);
    if (slope_ != 0.0 && LitresAtReading(sensorTop) >= full) {
        double low = 0.0, high = sensorTop;
        for (int i = 0; i < 60; ++i) {
            const double mid = (low + high) / 2;
            (LitresAtReading(mid) >= full ? high : low) = mid;
        }
        top_ = high;
    }
}

double TankModel::LitresAtReading(double readingMm) const {
    return factor_ *
           TiltedLitres(shape_, placement_.offsetMm + readingMm, placement_.sensorAtMm, slope_);
}

std::string DescribeTankShape(const TankShape& given) {
    const TankShape s = Normalised(given);
    switch (s.kind) {
    case TankShapeKind::Cylinder: {
        std::string text = "cylinder --diameter " + Number(s.diameterMm) + " --length " +
                           Number(s.lengthMm) + " --heads " + HeadsName(s.heads);
        if (s.heads != TankHeads::Flat) {
            text += " --head-depth " + Number(s.headDepthMm);
        }
        return text;
    }
    case TankShapeKind::Box:
        return "box --width " + Number(s.widthMm) + " --height " + Number(s.heightMm) +
               " --length " + Number(s.lengthMm) + " --corner-radius " + Number(s.cornerRadiusMm);
    case TankShapeKind::Oval:
        return "oval --width " + Number(s.widthMm) + " --height " + Number(s.heightMm) +
               " --length " + Number(s.lengthMm);
    case TankShapeKind::Vertical:
        return "vertical --diameter " + Number(s.diameterMm) + " --height " + Number(s.heightMm);
    }
    return {};
}

} // namespace vq31
