// vq31ctl hub write against the simulated sensor: the image's own size field must describe the
// file, an image that fails its checks needs --force, and a good image lands byte for byte.
#include "ctl_sim_fixture.h"
#include "hub_image.h"
#include "sim_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace vq31::test {
namespace {

class CtlHub : public CtlSimTest {
protected:
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string file = dir_ + "/" + name;
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return file;
    }
    static std::vector<uint8_t> Bytes(const HubBuffer& image, size_t count) {
        return {image.bytes().begin(), image.bytes().begin() + std::ptrdiff_t(count)};
    }
};

TEST_F(CtlHub, AnImageWhoseSizeFieldDoesNotDescribeTheFileIsRefused) {
    const std::vector<uint8_t> before = sim_.HubStore();
    std::vector<uint8_t> huge(200, 0);
    huge[0] = 0xFF;
    huge[1] = 0xFF;                     // 65535 bytes claimed by a 200-byte file
    std::vector<uint8_t> empty(200, 0); // a size field of 0
    std::vector<uint8_t> longer(200, 0);
    longer[0] = 0x2C; // 300 bytes claimed
    longer[1] = 0x01;
    for (const auto& [name, bytes] : {std::pair{"huge.bin", huge}, std::pair{"zero.bin", empty},
                                      std::pair{"long.bin", longer}}) {
        const CommandRun run = Ctl("hub write " + Write(name, bytes));
        EXPECT_EQ(run.exitCode, 1) << name << "\n" << run.output;
        EXPECT_NE(run.output.find("nothing written"), std::string::npos) << run.output;
    }
    EXPECT_EQ(sim_.HubStore(), before);
}

TEST_F(CtlHub, AnImageThatFailsItsChecksNeedsForceAndAGoodOneLandsWhole) {
    auto image = std::make_unique<HubBuffer>();
    HubMakeDefault(*image);
    TankRecord preset;
    preset.Id = 4;
    preset.Scale = 1;
    preset.RowCount = 2;
    preset.rows[0] = {100, 1.5f};
    preset.rows[1] = {900, 40.0f};
    ASSERT_TRUE(HubAppendTank(*image, preset));
    const std::vector<uint8_t> good = Bytes(*image, image->TotalSize());
    std::vector<uint8_t> broken = good;
    broken[40] ^= 0x01; // inside the words the checksum covers

    const std::vector<uint8_t> before = sim_.HubStore();
    const std::string brokenFile = Write("broken.bin", broken);
    const CommandRun refused = Ctl("hub write " + brokenFile);
    EXPECT_EQ(refused.exitCode, 1) << refused.output;
    EXPECT_NE(refused.output.find("--force"), std::string::npos) << refused.output;
    EXPECT_EQ(sim_.HubStore(), before);

    const CommandRun forced = Ctl("hub write " + brokenFile + " --force");
    EXPECT_EQ(forced.exitCode, 0) << forced.output;
    // Written as the window writes: every byte as in the file, the checksum sealed anew.
    const std::vector<uint8_t> store = sim_.HubStore();
    EXPECT_TRUE(std::equal(broken.begin() + 4, broken.end(), store.begin() + 4));
    EXPECT_TRUE(std::equal(broken.begin(), broken.begin() + 2, store.begin()));

    const CommandRun written = Ctl("hub write " + Write("good.bin", good));
    EXPECT_EQ(written.exitCode, 0) << written.output;
    const std::vector<uint8_t> after = sim_.HubStore();
    EXPECT_TRUE(std::equal(good.begin(), good.end(), after.begin()));
}

} // namespace
} // namespace vq31::test
