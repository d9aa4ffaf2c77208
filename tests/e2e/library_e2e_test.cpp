// The shipped driver library on emulated amplifiers reached through libusb and the emulated usbfs:
// it finds them, brings them up, reads their parameters, streams aligned frames, stops and shuts
// down, and waiting for the bus never burns the processor.

#include <gtest/gtest.h>

#include <set>

#include "tests/e2e/shipped_library_fixture.h"

namespace torva::e2e {
namespace {

using testing::WaitUntil;

constexpr int kPlates = 2;
constexpr int kFrames = 60;  // about a second at 1000 samples/s
constexpr std::chrono::seconds kCollectLimit{30};

using UsbfsLibrary = ShippedLibraryOnUsbfs;

TEST_F(UsbfsLibrary, BringsUpReadsParametersStreamsStopsAndShutsDown) {
  BringUp(kPlates);

  const std::set<std::string> plugged = {testbed_->Amplifier(0).Description().amplifierSerial,
                                         testbed_->Amplifier(1).Description().amplifierSerial};
  EXPECT_EQ(LibrarySerials(), plugged);
  for (std::size_t index = 0; index < kPlates; ++index) {
    fmDLLSelectDeviceIndex(PositionOf(index));
    char plate[17] = {};
    fmGetPlatformSerialNumber(plate);
    EXPECT_EQ(std::string(plate), testbed_->Amplifier(index).Description().platformSerial);
    EXPECT_EQ(fmGetProductType(), kPlateType);
  }

  fmBroadcastAcquisitionRate(kRateHz);
  StartStreaming();
  const auto frames = Collect(kFrames, kPlates, kCollectLimit);
  ASSERT_EQ(static_cast<int>(frames.size()), kFrames);
  const FrameCheck check = CheckFrames(frames, kPlates);
  EXPECT_EQ(check.misaligned, 0);
  EXPECT_EQ(check.gaps, 0);
  EXPECT_EQ(fmDLLGetDroppedDataCount(), 0);
  for (std::size_t index = 0; index < kPlates; ++index) {
    EXPECT_EQ(testbed_->Amplifier(index).StreamRate(), kRateHz);
  }

  fmBroadcastStop();
  EXPECT_TRUE(WaitUntil([&] {
    return !testbed_->Amplifier(0).Streaming() && !testbed_->Amplifier(1).Streaming();
  }));
  ASSERT_TRUE(ShutDownWithin(kLibraryLimit));
  // Every file the library opened on the nodes is closed again.
  // (umockdev tells of a closed file when its socket reports the end.)
  EXPECT_TRUE(WaitUntil([&] {
    return testbed_->Node(0).OpenClients() == 0 && testbed_->Node(1).OpenClients() == 0;
  })) << testbed_->Node(0).OpenClients() << " " << testbed_->Node(1).OpenClients();

  // libusb slept until URBs completed: a busy-polling waiter would have found nothing to reap
  // thousands of times.
  const NodeStatistics served = testbed_->Statistics();
  EXPECT_GT(served.urbsSubmitted, kFrames * kPlates);
  EXPECT_LE(served.emptyReaps, 2 * served.urbsSubmitted);
}

}  // namespace
}  // namespace torva::e2e
