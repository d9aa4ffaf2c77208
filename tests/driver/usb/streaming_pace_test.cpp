// Real-time streaming through the USB layer: over 2 s the emulated amplifier delivers its
// configured rate within 1 %, without gaps in the counters.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "driver/api/kernel_driver_choice.h"
#include "driver/device/command_packet.h"
#include "driver/device/command_set.h"
#include "driver/device/streaming_packet.h"
#include "driver/usb/usb_device.h"
#include "emulated_bus_fixture.h"

namespace torva::usb {
namespace {

bool Send(UsbDevice& device, CommandCode code, std::int32_t value) {
  const CommandInfo& info = *FindCommand(static_cast<int>(code));
  CommandPacketBuffer packet{};
  auto length = static_cast<std::int32_t>(
      BuildCommandPacket(info, &value, sizeof value, packet.data(), packet.size()));
  CCyControlEndPoint* control = device.ControlEndPoint();
  control->SetReqCode(info.request);
  if (!control->WriteControl(packet.data(), length)) return false;
  if (info.replyBlocks == 0) return true;
  std::uint8_t reply[kBlockBytes];
  length = sizeof reply;
  control->SetReqCode(info.ReplyRequest());
  return control->ReadControl(reply, length) && reply[5] == kReplyStatusDone;
}

class SlowStreamingPace : public testing::EmulatedBusTest {};

TEST_F(SlowStreamingPace, TwoSecondsOfStreamingMatchTheConfiguredRateWithinOnePercent) {
  Install({sim::DescribeAmplifier(0, 100)});
  UsbDevice device(ChosenKernelDriver());
  ASSERT_TRUE(device.OpenDevice(0));
  constexpr std::int32_t kRate = 2000;
  ASSERT_TRUE(Send(device, CommandCode::kSetAcquisitionRate, kRate));
  CCyBulkEndPoint* data = device.BulkInEndPoint();
  data->SetTimeOut(kInfiniteTimeout);

  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Send(device, CommandCode::kStart, 0));
  const auto end = start + std::chrono::seconds(2);
  std::int64_t packets = 0;
  std::int32_t previous = 1 - static_cast<std::int32_t>(kSamplesPerPacket);
  StreamingPacket packet{};
  while (true) {
    std::int32_t length = sizeof packet;
    ASSERT_TRUE(data->Transfer(reinterpret_cast<std::uint8_t*>(&packet), length));
    if (std::chrono::steady_clock::now() > end) break;
    ASSERT_EQ(length, 512);
    ASSERT_EQ(packet.samples[0].counter - previous, 16) << "after " << packets << " packets";
    previous = packet.samples[0].counter;
    ++packets;
  }
  const double expected = 2.0 * kRate / kSamplesPerPacket;  // 250 packets
  EXPECT_LE(std::fabs(static_cast<double>(packets) - expected), 0.01 * expected)
      << packets << " packets in 2 s";
}

}  // namespace
}  // namespace torva::usb
