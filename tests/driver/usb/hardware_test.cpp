// Tests against a real amplifier on the bus, through libusb. They run only when asked for
// (TORVA_HARDWARE_TESTS=1) and an amplifier is attached; otherwise they skip.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "driver/device/command_packet.h"
#include "driver/device/command_set.h"
#include "driver/device/streaming_packet.h"
#include "driver/usb/libusb_kernel_driver.h"
#include "driver/usb/usb_device.h"

namespace torva::usb {
namespace {

class HardwareAmplifier : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* wanted = std::getenv("TORVA_HARDWARE_TESTS");
    if (wanted == nullptr || std::strcmp(wanted, "1") != 0) {
      GTEST_SKIP() << "set TORVA_HARDWARE_TESTS=1 to run tests against a real amplifier";
    }
    for (int i = 0; i < device_.CountDevices(); ++i) {
      if (device_.OpenDevice(i) && (device_.ProductId() == kAmplifierProductId300 ||
                                    device_.ProductId() == kAmplifierProductId200)) {
        return;
      }
    }
    GTEST_SKIP() << "no amplifier found (vendor 0x1F6D, product 0x012C or 0x00C8)";
  }

  bool Send(CommandCode code, const void* payload, std::size_t bytes,
            std::vector<std::uint8_t>* reply) {
    const CommandInfo& info = *FindCommand(static_cast<int>(code));
    CommandPacketBuffer packet{};
    auto length = static_cast<std::int32_t>(
        BuildCommandPacket(info, payload, bytes, packet.data(), packet.size()));
    CCyControlEndPoint* control = device_.ControlEndPoint();
    control->SetReqCode(info.request);
    if (!control->WriteControl(packet.data(), length)) return false;
    if (info.replyBlocks == 0) return true;
    reply->assign(info.ReplyBytes(), 0);
    length = static_cast<std::int32_t>(reply->size());
    control->SetReqCode(info.ReplyRequest());
    return control->ReadControl(reply->data(), length);
  }

  LibusbKernelDriver driver_{kAmplifierVendorId};
  UsbDevice device_{driver_};
};

TEST_F(HardwareAmplifier, ReadsAllParameters) {
  std::vector<std::uint8_t> reply;
  ASSERT_TRUE(Send(CommandCode::kReadAllParameters, nullptr, 0, &reply));
  ASSERT_EQ(reply.size(), 960u);
  EXPECT_EQ(reply[1], static_cast<std::uint8_t>(CommandCode::kReadAllParameters));
  AmplifierParameterBlock block;
  std::memcpy(&block, reply.data() + kPacketHeaderBytes, sizeof block);
  EXPECT_GE(block.acquisitionRate, 10);
  EXPECT_LE(block.acquisitionRate, 3000);
}

TEST_F(HardwareAmplifier, StreamsPacketsWithCountersRisingBySixteen) {
  const auto frame = device_.CurrentFrameNumber();
  ASSERT_TRUE(frame);
  const std::int32_t startFrame = static_cast<std::int32_t>((*frame + 32) & kFrameNumberMask);
  std::vector<std::uint8_t> reply;
  ASSERT_TRUE(Send(CommandCode::kStart, &startFrame, sizeof startFrame, &reply));
  CCyBulkEndPoint* data = device_.BulkInEndPoint();
  ASSERT_NE(data, nullptr);
  data->SetTimeOut(2000);
  std::int32_t previous = 0;
  for (int i = 0; i < 20; ++i) {
    StreamingPacket packet{};
    std::int32_t length = sizeof packet;
    ASSERT_TRUE(data->Transfer(reinterpret_cast<std::uint8_t*>(&packet), length));
    if (i > 0) {
      EXPECT_EQ(packet.samples[0].counter - previous, 16);
    }
    previous = packet.samples[0].counter;
  }
  data->AbortPipe();
  data->ResetPipe();
  EXPECT_TRUE(Send(CommandCode::kStop, nullptr, 0, &reply));
}

}  // namespace
}  // namespace torva::usb
