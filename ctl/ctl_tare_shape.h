// vq31ctl tare shape: tank 1's table computed from the tank's dimensions (see
// ctl_tare_shape.cpp). Both builds route the word here; each gives its hub write.
#pragma once

#include "ctl.h"

namespace vq31 {
class HubBuffer;
}

namespace vq31::ctl {

// The build's hub write (snapshot, write, read-back; its exit code), or null when the build
// cannot write the hub.
using HubWriter = int (*)(const Options& o, const HubBuffer& image);

// A string literal, so that the tare family's usage can take it in.
#define VQ31_TARE_SHAPE_USAGE                                                                      \
    "tare shape SHAPE --DIMENSION MM ... [--offset MM] [--tilt DEG --sensor-at MM]\n"              \
    "                 [--rows N] [--pours FILE.csv] [--write]  tank 1's table from the\n"          \
    "                 tank's dimensions in mm; SHAPE and its dimensions:\n"                        \
    "    cylinder --diameter D --length L [--heads flat|ellipsoidal|hemispherical\n"               \
    "             [--head-depth H]]\n"                                                             \
    "    box --width W --height H --length L [--corner-radius R]\n"                                \
    "    oval --width W --height H --length L\n"                                                   \
    "    vertical --diameter D --height H"
inline constexpr const char* TareShapeUsage = VQ31_TARE_SHAPE_USAGE;

// The options "tare shape" takes a value for.
inline constexpr const char* TareShapeValues[] = {
    "--diameter",   "--length", "--width", "--height",    "--corner-radius", "--heads",
    "--head-depth", "--offset", "--tilt",  "--sensor-at", "--rows",          "--pours"};

int TareShape(const Options& o, HubWriter writeHub);

} // namespace vq31::ctl
