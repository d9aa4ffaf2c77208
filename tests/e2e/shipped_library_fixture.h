#pragma once
// A fixture that plugs emulated amplifiers into the emulated usbfs and brings the shipped driver
// library (libTorvaUSBDevice.so, linked as it is built) up on them through libusb, with
// TORVA_SIMULATE unset: the library takes the path it takes with real amplifiers. Afterwards it
// shuts the library down and takes the amplifiers away.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "driver/api/TorvaUSBDevice.h"
#include "driver/layout/TorvaFrameLayout.h"
#include "platform/thread_messages.h"
#include "sim/amplifier_description.h"
#include "tests/e2e/usbfs_testbed.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/wait_until.h"

namespace torva::e2e {

// fmDLLIsDeviceInitComplete once every amplifier is up.
inline constexpr int kAmplifiersReady = 2;
inline constexpr std::int32_t kPlateType = 100;
inline constexpr int kSamplesPerFrame = 16;
inline constexpr int kRateHz = 1000;
// How long a bring-up or a shutdown may take on a loaded machine.
inline constexpr std::chrono::seconds kLibraryLimit{10};

// The serial number of the amplifier at library position `position` (which it selects).
inline std::string AmplifierSerialAt(int position) {
  fmDLLSelectDeviceIndex(position);
  char serial[17] = {};
  fmGetAmplifierSerialNumber(serial);
  return serial;
}

// The serial numbers of every amplifier the library serves.
inline std::set<std::string> LibrarySerials() {
  std::set<std::string> serials;
  for (int position = 0; position < fmDLLGetDeviceCount(); ++position) {
    serials.insert(AmplifierSerialAt(position));
  }
  return serials;
}

class ShippedLibraryOnUsbfs : public testing::ScratchDirectory {
 protected:
  void SetUp() override {
    ScratchDirectory::SetUp();
    testbed_ = std::make_unique<UsbfsTestbed>();
    DrainQueue();
  }
  void TearDown() override {
    if (initialised_) {
      EXPECT_TRUE(ShutDownWithin(kLibraryLimit));
    }
    testbed_.reset();
    ScratchDirectory::TearDown();
  }

  // Plugs in `count` distinct amplifiers with plates of the given type.
  void Plug(int count, std::int32_t productType = kPlateType) {
    for (int i = 0; i < count; ++i) {
      const int index = static_cast<int>(testbed_->Count());
      testbed_->Plug(sim::DescribeAmplifier(index, productType));
    }
  }
  // fmDLLInit, then waits for the bring-up to end; returns the state it ended in.
  int Initialise() {
    if (fmDLLInit() != 1) return 0;
    initialised_ = true;
    testing::WaitUntil([] { return fmDLLIsDeviceInitComplete() != 0; }, kLibraryLimit);
    return fmDLLIsDeviceInitComplete();
  }
  void BringUp(int count) {
    Plug(count);
    ASSERT_EQ(Initialise(), kAmplifiersReady);
    ASSERT_EQ(fmDLLGetDeviceCount(), count);
  }
  bool ShutDownWithin(std::chrono::milliseconds limit) {
    initialised_ = false;
    fmDLLShutDown();
    return testing::WaitUntil([] { return fmIsDLLShutDown() == 1; }, limit);
  }

  // The library position of the testbed's amplifier `index`, or -1.
  int PositionOf(std::size_t index) const {
    const std::string serial = testbed_->Amplifier(index).Description().amplifierSerial;
    for (int position = 0; position < fmDLLGetDeviceCount(); ++position) {
      if (AmplifierSerialAt(position) == serial) return position;
    }
    return -1;
  }

  // Starts acquisition in data format 1 with data-ready messages to this thread.
  static void StartStreaming() {
    fmDLLSetDataFormat(1);
    fmDLLPostDataReadyMessages(1);
    fmDLLPostUserThreadMessages(static_cast<int>(platform::CurrentThreadId()));
    fmBroadcastStart();
  }
  // Collects frames (copied) until `frames` have arrived or `limit` has passed.
  static std::vector<std::vector<float>> Collect(int frames, int plates,
                                                 std::chrono::milliseconds limit) {
    const std::size_t values =
        static_cast<std::size_t>(torva_frame_values_per_row({TORVA_FORMAT_RECORDS, plates})) *
        kSamplesPerFrame;
    std::vector<std::vector<float>> collected;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (static_cast<int>(collected.size()) < frames &&
           std::chrono::steady_clock::now() < deadline) {
      platform::WaitForMessage(std::chrono::milliseconds(100));
      DrainQueue();
      float* frame = nullptr;
      while (static_cast<int>(collected.size()) < frames && fmDLLTransferFloatData(&frame) > 0) {
        collected.emplace_back(frame, frame + values);
      }
    }
    return collected;
  }
  static void DrainQueue() {
    platform::Message message;
    while (platform::PeekMessage(message, true)) {
    }
  }

  std::unique_ptr<UsbfsTestbed> testbed_;
  bool initialised_ = false;
};

// What a run of format-1 frames looks like: samples whose plates disagree on the counter, and
// places where the counter does not rise by exactly one from one sample to the next.
struct FrameCheck {
  int samples = 0;
  int misaligned = 0;
  int gaps = 0;
  float firstCounter = -1.0f;
  float lastCounter = -1.0f;
};

inline FrameCheck CheckFrames(const std::vector<std::vector<float>>& frames, int plates,
                              float previousCounter = -1.0f) {
  FrameCheck check;
  for (const auto& frame : frames) {
    for (int sample = 0; sample < kSamplesPerFrame; ++sample) {
      const TorvaFrameLayout layout = {TORVA_FORMAT_RECORDS, plates};
      const auto counterOf = [&](int plate) {
        return frame[static_cast<std::size_t>(torva_frame_counter(layout, sample, plate))];
      };
      const float counter = counterOf(0);
      for (int plate = 1; plate < plates; ++plate) {
        if (counterOf(plate) != counter) ++check.misaligned;
      }
      if (previousCounter >= 0.0f && counter != previousCounter + 1.0f) ++check.gaps;
      if (check.samples++ == 0) check.firstCounter = counter;
      previousCounter = counter;
    }
  }
  check.lastCounter = previousCounter;
  return check;
}

}  // namespace torva::e2e
