// Tanks at representative dimensions, one of each shape and head kind, shared by the table
// tests and the shape benchmark so both judge the same tanks.
#pragma once

#include "tank_shape.h"

#include <vector>

namespace vq31::samples {

inline TankShape Shape(TankShapeKind kind, double d, double w, double h, double l) {
    TankShape s;
    s.kind = kind;
    s.diameterMm = d;
    s.widthMm = w;
    s.heightMm = h;
    s.lengthMm = l;
    return s;
}

struct SampleTank {
    const char* name;
    TankShape shape;
};

inline std::vector<SampleTank> SampleTanks() {
    TankShape ellipsoidal = Shape(TankShapeKind::Cylinder, 1200, 0, 0, 3000);
    ellipsoidal.heads = TankHeads::Ellipsoidal;
    ellipsoidal.headDepthMm = 300;
    TankShape hemispherical = ellipsoidal;
    hemispherical.heads = TankHeads::Hemispherical;
    hemispherical.headDepthMm = 0;
    TankShape box = Shape(TankShapeKind::Box, 0, 1000, 800, 2500);
    box.cornerRadiusMm = 150;
    return {
        {"cylinder 1200x3000", Shape(TankShapeKind::Cylinder, 1200, 0, 0, 3000)},
        {"cylinder, ellipsoidal heads 300", ellipsoidal},
        {"cylinder, hemispherical heads", hemispherical},
        {"box 1000x800x2500 r150", box},
        {"oval 1800x900x4000", Shape(TankShapeKind::Oval, 0, 1800, 900, 4000)},
        {"vertical 1500x2000", Shape(TankShapeKind::Vertical, 1500, 0, 2000, 0)},
    };
}

} // namespace vq31::samples
