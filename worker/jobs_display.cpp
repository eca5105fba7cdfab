// Display segment test: one mask per run, re-armed every 250 ms while the test is on.
#include "command_worker.h"

namespace vq31 {

void CommandWorker::TestDisplay() {
    if (Stopping())
        return;
    view_.SetLiveView(false);
    if (Stopping())
        return;
    const uint32_t mask = view_.BuildDisplayPattern(uint32_t(Get(params_.DisplayTestPattern)));
    if (Abandoned())
        return; // a closing view hands back the running mask, not the user's choice
    Put(params_.DisplayTestPattern, int32_t(mask));
    const Status status = Try(SettingTries, std::chrono::milliseconds(0), [&] {
        return WriteValue(link_, cmd::WriteDisplayTest, Address(), mask);
    });
    if (status == StatusOk)
        displayLit_ = mask != 0;
    if (status == StatusOk || Stopping())
        return;
    ErrorBox(texts_.DeviceStatus(status));
    PostCommand(job::PollEcho); // the test stops
}

// The display keeps the last test mask until told otherwise: the first job after the test
// sends mask 0, which gives the display back to the sensor's own readings. One attempt
// pair; a sensor that does not answer is left to the job that follows.
void CommandWorker::EndDisplayTest() {
    if (Stopping())
        return; // the stop gives the display back once the worker has ended
    const Status status = Try(SettingTries, std::chrono::milliseconds(0), [&] {
        return WriteValue(link_, cmd::WriteDisplayTest, Address(), 0);
    });
    // A write cut short by a stop is left to the stop; any other outcome ends the matter.
    if (status == StatusOk || !Stopping())
        displayLit_ = false;
}

} // namespace vq31
