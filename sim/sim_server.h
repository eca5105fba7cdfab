// The simulated VQ31 sensor served over a pseudo-terminal. Start() creates the
// pseudo-terminal and a serving thread; the tool (or a test's DeviceLink) opens path() like
// a serial port. The device answers only at its own speed, read from the line settings the
// tool made, and only to its own address or the broadcast address.
//
// Device behaviour worth knowing in tests:
// - A request with a bad CRC or a code the device does not know gets no answer (the tool
//   sees no answer); the search for the next start byte resumes after the dropped one.
// - A written value the device cannot take is acknowledged with status 2 and not stored
//   (out-of-range settings, address 255, an unknown speed code, a sweep with step 0).
// - Address, link-flag (speed) and fast-mode changes take effect after the acknowledgement.
//   The fast mode (115200 bit/s) lasts until a request arrives at the configured speed, the
//   speed is changed, or the optional fast-mode idle limit passes.
// - A broadcast request is answered from the own address, or from 255 when the answer-mode
//   bit (bit 5) of the link flags is clear.
// - The long oscillogram answer has no CRC: "fault crc" breaks its first block's check value
//   instead, which the tool reports as a bad answer.
// - The tank starts as a 1000 x 2000 mm horizontal cylinder at 600 mm; tank id 1, tank height
//   10000 (tenths of a millimetre); the HUB_DATA store holds a valid image with entries 0 and 1
//   and presets 2, 3, 4 (preset 2 is the simulated tank).
//
// Several sensors may share the line (SimOptions::moreAddresses, "bus add", "collide"; see
// bus.h): commands without a target act on the first sensor.
//
// Control language (one command per line; the same on the program's standard input and
// through Control()). Numbers are decimal or 0x hexadecimal. A bad line answers a text
// starting with "error:" and changes nothing.
//   level MM              fuel level in millimetres (clears nolevel)
//   pour LITRES           add fuel to the simulated tank (a horizontal cylinder)
//   drain LITRES          take fuel out of the tank
//   nolevel [on|off]      no echo: the level is unknown (status word 33 set)
//   tank DIAMETER LENGTH  shape of the cylinder in millimetres (the level is kept)
//   temp CELSIUS          fuel temperature
//   model TEXT            four characters sent as the model word ("13QV" is the wrong order)
//   firmware N            firmware version byte of the identity answers
//   date Y M D            passport date as the device stores it: year (two digits),
//                         month - 1, day - 1 ("date 16 2 8" reads as 090316)
//   serial N              serial number, 0..16777215
//   flags N               link flags byte; its speed code (bits 2..4, 1..7) becomes the
//                         configured speed
//   address N             bus address 0..254
//   baud N                configured link speed (2400 .. 115200)
//   fastidle SECONDS      leave the fast mode after this much silence (0 = never, default)
//   fault drop N          the next N answers lose one byte
//   fault crc N           the next N answers carry a wrong check value
//   fault address N       the next N answers come from another address
//   fault short N         the next N answers are cut short
//   fault silent N        the next N requests get no answer
//   fault delay MS        every answer waits MS milliseconds first (0 ends it)
//   fault garbage N       the next N answers are replaced by garbage bytes
//   fault ack CODE STATUS [N]  the next N (default 1) acknowledgements of CODE carry STATUS
//                         and the command is not carried out unless STATUS is 0
//   fault code CODE silent N   the next N requests with CODE get no answer
//   fault clear           remove every fault
//   tune fail N           tuning step 2 ends with error number N
//   tune ok               tuning step 2 ends successfully
//   tune time MS          how long tuning step 2 runs (default 3000)
//   unlock                release the terminal's exclusive use left behind by a tool that
//                         ended without closing the port
//   state                 print the device state
//   help                  print this list
//   quit                  end the program (QuitRequested() turns true)
// Counted faults apply to the next N answers (or requests) and then clear.
#pragma once

#include "device_state.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vq31::sim {

struct SimOptions {
    uint8_t address = 1; // the first sensor's
    uint32_t baud = 19200;
    bool realtime = false; // pace every answer at the link speed, 10 bit times per byte
    std::string linkPath;  // symlink to the pseudo-terminal, optional
    std::vector<uint8_t> moreAddresses; // one more sensor on the line for each
};

class SimServer {
public:
    explicit SimServer(SimOptions options = {});
    ~SimServer(); // stops and closes everything
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Creates the pseudo-terminal and the serving thread. False (with the cause in error)
    // when the options are invalid or the pseudo-terminal cannot be made.
    bool Start(std::string* error = nullptr);
    void Stop();
    bool IsRunning() const;
    // The path the tool opens (empty before Start).
    const std::string& path() const;

    // One line of the control language; returns the reply text.
    std::string Control(const std::string& line);
    // True once a "quit" line was given.
    bool QuitRequested() const;

    // The first sensor's state (the others: "@ADDRESS state" through Control).
    DeviceState State() const;

    // The first sensor's HUB_DATA store (HubStoreSize bytes).
    std::vector<uint8_t> HubStore() const;
    // Replaces the store: the bytes go to its start and the rest is zeroed. False (and
    // nothing changed) when more than HubStoreSize bytes are given.
    bool SetHubStore(const std::vector<uint8_t>& bytes);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace vq31::sim
