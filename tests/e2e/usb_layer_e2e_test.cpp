// The USB access layer's libusb driver against an emulated amplifier behind the emulated usbfs:
// descriptors, a control request that never completes, a bulk read ended by an abort, a halted
// endpoint, and an unplug while a read waits.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <future>
#include <memory>

#include "driver/device/command_set.h"
#include "driver/usb/libusb_kernel_driver.h"
#include "driver/usb/usb_device.h"
#include "tests/e2e/usbfs_testbed.h"

namespace torva::e2e {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int32_t kPlateType = 100;
constexpr std::uint32_t kShortTimeoutMs = 300;
// What a loaded machine may add to a time-out before the request ends.
constexpr std::chrono::milliseconds kLateness{1500};
constexpr std::chrono::seconds kPendingLimit{30};
constexpr std::chrono::seconds kPromptly{2};
constexpr std::size_t kStatusBytes = 2;
constexpr std::size_t kPacketBytes = 512;
// Interface 0's three endpoints and endpoint 0.
constexpr int kEndpoints = 4;

struct ReadResult {
  bool succeeded = false;
  std::uint32_t status = 0;
};

class UsbfsUsbLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    testbed_ = std::make_unique<UsbfsTestbed>(
        std::vector<sim::AmplifierDescription>{sim::DescribeAmplifier(0, kPlateType)});
    device_ = std::make_unique<usb::UsbDevice>(driver_);
    ASSERT_TRUE(device_->OpenDevice(0));
    ASSERT_EQ(device_->SelectAltSetting(0), usb::UsbResult::kSuccess);  // takes the interface
  }
  void TearDown() override {
    device_.reset();
    testbed_.reset();
  }

  sim::EmulatedAmplifier& Amplifier() { return testbed_->Amplifier(0); }
  UsbfsNode& Node() { return testbed_->Node(0); }

  // GET_STATUS of the device: a standard request every device answers.
  bool ReadDeviceStatus() {
    usb::CCyControlEndPoint* control = device_->ControlEndPoint();
    control->SetTarget(usb::RequestTarget::kDevice);
    control->SetReqType(usb::RequestKind::kStandard);
    control->SetReqCode(usb::kRequestGetStatus);
    control->SetValue(0);
    control->SetIndex(0);
    std::array<std::uint8_t, kStatusBytes> status{};
    auto length = static_cast<std::int32_t>(status.size());
    return control->ReadControl(status.data(), length) && length == static_cast<int>(kStatusBytes);
  }

  // Reads one packet from the data endpoint on another thread.
  std::future<ReadResult> ReadPacketInBackground() {
    usb::CCyBulkEndPoint* data = device_->BulkInEndPoint();
    return std::async(std::launch::async, [data] {
      std::array<std::uint8_t, kPacketBytes> packet{};
      auto length = static_cast<std::int32_t>(packet.size());
      ReadResult result;
      result.succeeded = data->Transfer(packet.data(), length);
      result.status = data->UsbdStatus();
      return result;
    });
  }
  // Waits for a background read; if it does not end in time it is ended by unplugging the
  // amplifier, so that the test fails instead of hanging.
  ReadResult Await(std::future<ReadResult>& read) {
    if (read.wait_for(kPromptly) != std::future_status::ready) {
      ADD_FAILURE() << "the read did not end";
      testbed_->Unplug(0);
    }
    return read.get();
  }

  std::unique_ptr<UsbfsTestbed> testbed_;
  usb::LibusbKernelDriver driver_{kAmplifierVendorId};
  std::unique_ptr<usb::UsbDevice> device_;
};

constexpr std::uint32_t Code(usb::UsbResult result) { return static_cast<std::uint32_t>(result); }

TEST_F(UsbfsUsbLayer, ReadsTheDescriptorsAndStringsThroughLibusb) {
  EXPECT_EQ(device_->VendorId(), kAmplifierVendorId);
  EXPECT_EQ(device_->ProductId(), kAmplifierProductId300);
  EXPECT_EQ(device_->SerialNumberText(), Amplifier().Description().amplifierSerial);
  EXPECT_EQ(device_->ProductText(), Amplifier().Description().productName);
  EXPECT_EQ(device_->Speed(), usb::BusSpeed::kHigh);
  EXPECT_EQ(device_->EndpointCount(), kEndpoints);
  ASSERT_NE(device_->BulkInEndPoint(), nullptr);
  EXPECT_EQ(device_->BulkInEndPoint()->Address(), kDataEndpoint);
  EXPECT_EQ(device_->BulkInEndPoint()->MaxPacketSize(), kPacketBytes);
}

TEST_F(UsbfsUsbLayer, AControlRequestThatNeverCompletesTimesOutAfterTheEndpointsTimeOut) {
  device_->ControlEndPoint()->SetTimeOut(kShortTimeoutMs);
  Node().HoldControlRequests(true);
  const long long discarded = Node().Statistics().urbsDiscarded;
  const auto started = Clock::now();
  EXPECT_FALSE(ReadDeviceStatus());
  const auto took = Clock::now() - started;
  EXPECT_EQ(device_->ControlEndPoint()->UsbdStatus(), Code(usb::UsbResult::kTimeout));
  EXPECT_GE(took, std::chrono::milliseconds(kShortTimeoutMs));
  EXPECT_LT(took, std::chrono::milliseconds(kShortTimeoutMs) + kLateness);
  // libusb withdrew the request it gave up on.
  EXPECT_EQ(Node().Statistics().urbsDiscarded, discarded + 1);

  Node().HoldControlRequests(false);
  EXPECT_TRUE(ReadDeviceStatus());
}

TEST_F(UsbfsUsbLayer, AbortPipeEndsABulkReadThatWaitsForDataAtOnce) {
  // The amplifier is not streaming: without the abort the read would wait for ever.
  device_->BulkInEndPoint()->SetTimeOut(usb::kInfiniteTimeout);
  auto read = ReadPacketInBackground();
  ASSERT_TRUE(Node().WaitForPendingBulkReads(1, kPendingLimit));
  EXPECT_TRUE(device_->BulkInEndPoint()->AbortPipe());
  const ReadResult result = Await(read);
  EXPECT_FALSE(result.succeeded);
  EXPECT_EQ(result.status, Code(usb::UsbResult::kCancelled));
  EXPECT_TRUE(Node().WaitForPendingBulkReads(0, std::chrono::seconds(0)));
}

TEST_F(UsbfsUsbLayer, AHaltedEndpointStallsUntilItsHaltIsCleared) {
  usb::CCyBulkEndPoint* data = device_->BulkInEndPoint();
  data->SetTimeOut(kShortTimeoutMs);
  Amplifier().StallDataEndpoint();
  std::array<std::uint8_t, kPacketBytes> packet{};
  auto length = static_cast<std::int32_t>(packet.size());
  EXPECT_FALSE(data->Transfer(packet.data(), length));
  EXPECT_EQ(data->UsbdStatus(), Code(usb::UsbResult::kStall));

  EXPECT_TRUE(data->ResetPipe());
  const auto log = Amplifier().WireLog();
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const sim::WireRecord& record) {
    return record.event == sim::WireEvent::kClearHalt && record.endpoint == kDataEndpoint &&
           record.accepted;
  }));
  // No longer halted: a read now waits for data (none comes: the amplifier does not stream).
  length = static_cast<std::int32_t>(packet.size());
  EXPECT_FALSE(data->Transfer(packet.data(), length));
  EXPECT_EQ(data->UsbdStatus(), Code(usb::UsbResult::kTimeout));
}

TEST_F(UsbfsUsbLayer, AnUnplugEndsAWaitingReadAndEveryLaterRequestFailsAtOnce) {
  device_->BulkInEndPoint()->SetTimeOut(usb::kInfiniteTimeout);
  auto read = ReadPacketInBackground();
  ASSERT_TRUE(Node().WaitForPendingBulkReads(1, kPendingLimit));
  testbed_->Unplug(0);
  const ReadResult result = Await(read);
  EXPECT_FALSE(result.succeeded);
  EXPECT_EQ(result.status, Code(usb::UsbResult::kNoDevice));

  const auto started = Clock::now();
  EXPECT_FALSE(ReadDeviceStatus());
  EXPECT_EQ(device_->ControlEndPoint()->UsbdStatus(), Code(usb::UsbResult::kNoDevice));
  EXPECT_FALSE(device_->BulkInEndPoint()->ResetPipe());
  EXPECT_LT(Clock::now() - started, kPromptly);
  EXPECT_EQ(driver_.CountDevices(), 0);
}

TEST_F(UsbfsUsbLayer, ATransferOnAnUnpluggedDeviceSaysSoEvenBeforeItsInterfaceWasClaimed) {
  // A second handle cannot claim the interface the first holds: its transfers are refused as
  // busy. Once the device is gone they must say "no device" instead.
  usb::UsbDevice second(driver_);
  ASSERT_TRUE(second.OpenDevice(0));
  usb::CCyBulkEndPoint* data = second.BulkInEndPoint();
  data->SetTimeOut(kShortTimeoutMs);
  std::array<std::uint8_t, kPacketBytes> packet{};
  auto length = static_cast<std::int32_t>(packet.size());
  EXPECT_FALSE(data->Transfer(packet.data(), length));
  EXPECT_EQ(data->UsbdStatus(), Code(usb::UsbResult::kBusy));

  testbed_->Unplug(0);
  length = static_cast<std::int32_t>(packet.size());
  EXPECT_FALSE(data->Transfer(packet.data(), length));
  EXPECT_EQ(data->UsbdStatus(), Code(usb::UsbResult::kNoDevice));
}

}  // namespace
}  // namespace torva::e2e
