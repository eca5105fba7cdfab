// Builds the starting HUB_DATA image. Preset tables are sampled from cylinder shapes and
// stored with the smallest power-of-ten scale that keeps every volume within 16 bits.
#include "sim_hub_image.h"

#include "tank.h"

#include "protocol.h"

#include <algorithm>
#include <cmath>

namespace vq31::sim {

namespace {

constexpr uint16_t MlPerBitDefault = 1;
constexpr size_t StandardTableRows = 50;

struct Preset {
    uint16_t id;
    double diameterMm;
    double lengthMm;
    int rows; // table rows from level 0 up to the full diameter
};

// Tank 2 matches the tank the simulator starts with.
constexpr Preset Presets[] = {
    {2, 1000, 2000, 21},
    {3, 600, 1400, 13},
    {4, 1200, 3000, 25},
};

uint16_t ScaleFor(double largestLitres) {
    const double a = largestLitres * 1000 / 65535;
    const int exponent = a <= 0 ? 0 : int(std::ceil(std::log10(a)));
    return uint16_t(std::pow(10.0, std::max(0, exponent)));
}

class ImageWriter {
public:
    explicit ImageWriter(std::vector<uint8_t>& image) : image_(image) {}

    // Appends an entry head with room for capacity rows; returns the entry's offset.
    size_t Entry(uint16_t id, uint16_t heightTenths, uint16_t rowCount, uint16_t scale,
                 size_t capacity) {
        const size_t at = size_;
        const size_t entrySize = HubEntryHeadSize + HubRowSize * capacity;
        PutU16(&image_[at], uint32_t(entrySize));
        PutU16(&image_[at + 2], id);
        PutU16(&image_[at + 4], heightTenths);
        PutU16(&image_[at + 6], rowCount);
        PutU16(&image_[at + 8], scale);
        size_ += entrySize;
        ++entries_;
        return at;
    }
    void Row(size_t entry, size_t index, uint16_t code, uint16_t value) {
        uint8_t* p = &image_[entry + HubEntryHeadSize + HubRowSize * index];
        PutU16(p, code);
        PutU16(p + 2, value);
    }
    void Finish() {
        PutU16(&image_[0], uint32_t(size_));
        PutU16(&image_[4], HubVersion);
        PutU16(&image_[6], uint32_t(entries_));
        PutU16(&image_[8], MlPerBitDefault);
        HubSealImage(image_.data());
    }

private:
    std::vector<uint8_t>& image_;
    size_t size_ = HubHeaderSize;
    size_t entries_ = 0;
};

} // namespace

uint16_t HubWordSum(const uint8_t* image, size_t totalSize) {
    uint16_t sum = 0;
    for (size_t i = 0; i + 1 < totalSize; i += 2)
        sum = uint16_t(sum + GetU16(image + i));
    return sum;
}

void HubSealImage(uint8_t* image) {
    PutU16(image + 2, 0);
    const uint16_t sum = HubWordSum(image, GetU16(image));
    PutU16(image + 2, uint16_t(0x10000u - sum));
}

bool HubImageValid(const std::vector<uint8_t>& image) {
    if (image.size() < HubHeaderSize)
        return false;
    const size_t total = GetU16(image.data());
    return total <= image.size() && GetU16(image.data() + 4) == HubVersion &&
           HubWordSum(image.data(), total) == 0;
}

std::vector<uint8_t> MakePresetHubImage(size_t storeSize) {
    std::vector<uint8_t> image(std::max(storeSize, HubMaxImageSize), 0);
    ImageWriter w(image);
    w.Entry(0, 0, 0, 1, 0);
    w.Entry(1, 0, 0, 1000, StandardTableRows);
    for (const Preset& p : Presets) {
        const CylinderTank tank(p.diameterMm, p.lengthMm);
        const uint16_t scale = ScaleFor(tank.CapacityLitres());
        const size_t entry =
            w.Entry(p.id, uint16_t(p.diameterMm * 10), uint16_t(p.rows), scale, size_t(p.rows));
        for (int i = 0; i < p.rows; ++i) {
            const double mm = p.diameterMm * i / (p.rows - 1);
            const double litres = tank.LitresAt(mm);
            w.Row(entry, size_t(i), uint16_t(std::lround(mm * 10)),
                  uint16_t(std::lround(litres * 1000 / scale)));
        }
    }
    w.Finish();
    image.resize(storeSize);
    return image;
}

} // namespace vq31::sim
