// The USB access layer against emulated amplifiers: enumeration, descriptors, endpoints, control
// and bulk transfers, time-outs, aborts and the device operations.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>

#include "driver/api/kernel_driver_choice.h"
#include "driver/device/command_packet.h"
#include "driver/device/command_set.h"
#include "driver/device/streaming_packet.h"
#include "driver/usb/device_list.h"
#include "driver/usb/libusb_kernel_driver.h"
#include "driver/usb/usb_device.h"
#include "emulated_bus_fixture.h"
#include "sim/emulated_kernel_driver.h"

namespace torva::usb {
namespace {

// A copy of a packed record field (packed fields cannot bind to the references the test macros
// take).
template <typename T>
T Value(T value) {
  return value;
}

using std::chrono::milliseconds;
using testing::EmulatedBusTest;

constexpr milliseconds kPatience{5000};

// Sends one command packet through the control endpoint as the device thread does.
bool SendCommand(UsbDevice& device, CommandCode code, const void* payload = nullptr,
                 std::size_t bytes = 0) {
  const CommandInfo& info = *FindCommand(static_cast<int>(code));
  CommandPacketBuffer packet{};
  std::int32_t length = static_cast<std::int32_t>(
      BuildCommandPacket(info, payload, bytes, packet.data(), packet.size()));
  CCyControlEndPoint* control = device.ControlEndPoint();
  control->SetTarget(RequestTarget::kDevice);
  control->SetReqType(RequestKind::kVendor);
  control->SetReqCode(info.request);
  control->SetValue(0);
  control->SetIndex(0);
  return length > 0 && control->WriteControl(packet.data(), length);
}

// Reads the reply of `code`; its status byte, or -1 when the read failed.
int ReadReplyStatus(UsbDevice& device, CommandCode code, std::vector<std::uint8_t>* out = nullptr) {
  const CommandInfo& info = *FindCommand(static_cast<int>(code));
  std::vector<std::uint8_t> reply(info.ReplyBytes());
  auto length = static_cast<std::int32_t>(reply.size());
  CCyControlEndPoint* control = device.ControlEndPoint();
  control->SetReqCode(info.ReplyRequest());
  if (!control->ReadControl(reply.data(), length)) return -1;
  if (out != nullptr) *out = reply;
  return reply[5];
}

class UsbDeviceTest : public EmulatedBusTest {
 protected:
  // One amplifier, opened, with its data endpoint set to wait without a limit.
  CCyBulkEndPoint* OpenWithInfiniteDataEndpoint() {
    amplifier_ = Install({sim::DescribeAmplifier(0, 100)})[0];
    device_ = std::make_unique<UsbDevice>(ChosenKernelDriver());  // the emulator, after Install
    if (!device_->OpenDevice(0)) return nullptr;
    device_->BulkInEndPoint()->SetTimeOut(kInfiniteTimeout);
    return device_->BulkInEndPoint();
  }

  std::unique_ptr<UsbDevice> device_;
  std::shared_ptr<sim::EmulatedAmplifier> amplifier_;
};

TEST_F(UsbDeviceTest, NoDeviceMeansCountZeroAndOpenFails) {
  Install({});
  UsbDevice device(ChosenKernelDriver());
  EXPECT_EQ(device.CountDevices(), 0);
  EXPECT_FALSE(device.OpenDevice(0));
  EXPECT_FALSE(device.IsOpen());
  EXPECT_EQ(device.EndpointCount(), 0);
  EXPECT_EQ(device.Endpoint(0), nullptr);
  EXPECT_FALSE(device.ResetUsbDevice());
  EXPECT_FALSE(device.CurrentFrameNumber());
  EXPECT_EQ(FormatUsbDeviceList(ListUsbDevices(ChosenKernelDriver())), "no devices\n");
}

TEST_F(UsbDeviceTest, OpensAndReadsDescriptorsStringsAndEndpoints) {
  Install({sim::DescribeAmplifier(0, 100), sim::DescribeAmplifier(1, 300)});
  UsbDevice device(ChosenKernelDriver(), true);  // open device 0 at once
  ASSERT_TRUE(device.IsOpen());
  EXPECT_EQ(device.DeviceCount(), 2);
  ASSERT_TRUE(device.OpenDevice(1));
  EXPECT_EQ(device.DeviceIndex(), 1);
  EXPECT_EQ(device.VendorId(), kAmplifierVendorId);
  EXPECT_EQ(device.ProductId(), kAmplifierProductId300);
  EXPECT_EQ(device.UsbRelease(), 0x0200);
  EXPECT_EQ(device.DeviceClass(), 0xFF);
  EXPECT_EQ(device.MaxPacketSize0(), 64);
  EXPECT_EQ(device.LanguageId(), 0x0409);
  EXPECT_EQ(device.SerialNumberText(), "TA601202");
  EXPECT_EQ(device.ProductText(), "Torva USB Amplifier");
  EXPECT_EQ(std::u16string(device.Manufacturer()), u"Torva");
  EXPECT_TRUE(device.IsHighSpeed());
  EXPECT_EQ(device.DriverVersion(), kDirectTransferDriverVersion);
  ASSERT_EQ(device.Configurations().size(), 1u);
  EXPECT_EQ(device.AltSetting(), 0);

  ASSERT_EQ(device.EndpointCount(), 4);
  EXPECT_EQ(device.Endpoint(0), device.ControlEndPoint());
  EXPECT_EQ(device.Endpoint(0)->MaxPacketSize(), 64u);
  EXPECT_EQ(device.Endpoint(2)->Address(), kDataEndpoint);
  EXPECT_EQ(device.Endpoint(2)->Type(), EndpointType::kBulk);
  EXPECT_EQ(device.Endpoint(2)->MaxPacketSize(), 512u);
  EXPECT_EQ(device.Endpoint(2)->PacketsPerMicroframe(), 1u);
  EXPECT_EQ(device.Endpoint(2)->TimeOut(), 10000u);
  EXPECT_EQ(device.Endpoint(2)->Mode(), TransferMode::kDirect);
  EXPECT_EQ(device.Endpoint(4), nullptr);
  EXPECT_EQ(device.Endpoint(-1), nullptr);
  ASSERT_NE(device.BulkInEndPoint(), nullptr);
  EXPECT_EQ(device.BulkInEndPoint()->Address(), kDataEndpoint);  // the first bulk IN
  ASSERT_NE(device.BulkOutEndPoint(), nullptr);
  EXPECT_EQ(device.InterruptInEndPoint(), nullptr);
  EXPECT_EQ(device.IsocInEndPoint(), nullptr);

  EXPECT_EQ(device.SelectAltSetting(0), UsbResult::kSuccess);
  EXPECT_NE(device.SelectAltSetting(1), UsbResult::kSuccess);
  EXPECT_FALSE(device.OpenDevice(2));
  EXPECT_FALSE(device.IsOpen());
}

TEST_F(UsbDeviceTest, ControlTimeoutsReachTheRecordInWholeSeconds) {
  Install({sim::DescribeAmplifier(0, 100)});
  UsbDevice device(ChosenKernelDriver());
  ASSERT_TRUE(device.OpenDevice(0));
  CCyControlEndPoint* control = device.ControlEndPoint();
  control->SetTimeOut(500);
  ASSERT_TRUE(SendCommand(device, CommandCode::kBlink));
  EXPECT_EQ(Value(control->LastRecord().timeoutSeconds), 1u);
  EXPECT_EQ(Value(control->LastRecord().requestType), 0x40);
  EXPECT_EQ(Value(control->LastRecord().request), 0xB0);
  EXPECT_EQ(Value(control->LastRecord().length), 64);
  EXPECT_EQ(Value(control->LastRecord().dataOffset), kTransferRecordBytes);
  control->SetTimeOut(10000);
  EXPECT_EQ(ReadReplyStatus(device, CommandCode::kBlink), 1);
  EXPECT_EQ(Value(control->LastRecord().timeoutSeconds), 10u);
  EXPECT_EQ(Value(control->LastRecord().requestType), 0xC0);
  EXPECT_EQ(Value(control->LastRecord().request), 0xB5);
  EXPECT_EQ(control->BytesTransferred(), 64u);
  EXPECT_EQ(control->UsbdStatus(), 0u);
}

TEST_F(UsbDeviceTest, VendorCommandsRoundTripThroughTheControlEndpoint) {
  const auto amplifiers = Install({sim::DescribeAmplifier(0, 300)});
  UsbDevice device(ChosenKernelDriver());
  ASSERT_TRUE(device.OpenDevice(0));
  const float offsets[3] = {0.25f, -0.5f, -1.75f};
  ASSERT_TRUE(SendCommand(device, CommandCode::kSetXYZOffsets, offsets, sizeof offsets));
  EXPECT_EQ(ReadReplyStatus(device, CommandCode::kSetXYZOffsets), 1);
  ASSERT_TRUE(SendCommand(device, CommandCode::kReadAllParameters));
  std::vector<std::uint8_t> reply;
  EXPECT_EQ(ReadReplyStatus(device, CommandCode::kReadAllParameters, &reply), 1);
  ASSERT_EQ(reply.size(), 960u);
  AmplifierParameterBlock block;
  std::memcpy(&block, reply.data() + 16, sizeof block);
  EXPECT_EQ(block.platformOffsets[2], -1.75f);
  EXPECT_EQ(amplifiers[0]->ReceivedCommandCodes(), (std::vector<int>{219, 208}));
  // A reply request with nothing pending stalls: the transfer fails and says so.
  EXPECT_EQ(ReadReplyStatus(device, CommandCode::kBlink), -1);
  EXPECT_EQ(device.ControlEndPoint()->UsbdStatus(), static_cast<std::uint32_t>(UsbResult::kStall));
}

TEST_F(UsbDeviceTest, AnInfiniteBulkReadReturnsWhenDataArrives) {
  CCyBulkEndPoint* data = OpenWithInfiniteDataEndpoint();
  ASSERT_NE(data, nullptr);
  StreamingPacket packet{};
  auto read = std::async(std::launch::async, [&] {
    std::int32_t length = sizeof packet;
    const bool ok = data->Transfer(reinterpret_cast<std::uint8_t*>(&packet), length);
    return ok ? length : -1;
  });
  ASSERT_TRUE(amplifier_->WaitForBlockedReads(1, kPatience));
  EXPECT_EQ(read.wait_for(milliseconds(0)), std::future_status::timeout);
  const std::int32_t startFrame = 0;
  ASSERT_TRUE(SendCommand(*device_, CommandCode::kStart, &startFrame, sizeof startFrame));
  EXPECT_EQ(read.get(), 512);
  EXPECT_EQ(packet.samples[0].counter, 1);
  EXPECT_EQ(packet.samples[15].counter, 16);
}

TEST_F(UsbDeviceTest, AnInfiniteBulkReadReturnsWhenAnotherThreadAbortsThePipe) {
  CCyBulkEndPoint* data = OpenWithInfiniteDataEndpoint();
  ASSERT_NE(data, nullptr);
  auto read = std::async(std::launch::async, [&] {
    std::uint8_t buffer[512];
    std::int32_t length = sizeof buffer;
    return data->Transfer(buffer, length);
  });
  ASSERT_TRUE(amplifier_->WaitForBlockedReads(1, kPatience));
  EXPECT_EQ(read.wait_for(milliseconds(0)), std::future_status::timeout);
  EXPECT_TRUE(data->AbortPipe());
  EXPECT_FALSE(read.get());
  EXPECT_EQ(data->UsbdStatus(), static_cast<std::uint32_t>(UsbResult::kCancelled));
  EXPECT_EQ(data->BytesTransferred(), 0u);
}

TEST_F(UsbDeviceTest, AFiniteBulkReadTimesOutWhenNothingArrives) {
  Install({sim::DescribeAmplifier(0, 100)});
  UsbDevice device(ChosenKernelDriver());
  ASSERT_TRUE(device.OpenDevice(0));
  CCyBulkEndPoint* data = device.BulkInEndPoint();
  data->SetTimeOut(30);
  std::uint8_t buffer[512];
  std::int32_t length = sizeof buffer;
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(data->Transfer(buffer, length));
  EXPECT_GE(std::chrono::steady_clock::now() - before, milliseconds(30));
  EXPECT_EQ(data->UsbdStatus(), static_cast<std::uint32_t>(UsbResult::kTimeout));
  EXPECT_EQ(length, 0);
  length = -1;
  EXPECT_FALSE(data->Transfer(buffer, length));  // a negative length is refused
  length = 16;
  EXPECT_FALSE(data->Transfer(nullptr, length));
}

TEST_F(UsbDeviceTest, BufferedTransfersAndAStalledPipeThatIsReset) {
  const auto amplifiers = Install({sim::DescribeAmplifier(0, 100)});
  UsbDevice device(ChosenKernelDriver());
  ASSERT_TRUE(device.OpenDevice(0));
  std::int32_t rate = 3000;
  ASSERT_TRUE(SendCommand(device, CommandCode::kSetAcquisitionRate, &rate, sizeof rate));
  ASSERT_EQ(ReadReplyStatus(device, CommandCode::kSetAcquisitionRate), 1);
  const std::int32_t startFrame = 0;
  ASSERT_TRUE(SendCommand(device, CommandCode::kStart, &startFrame, sizeof startFrame));
  CCyBulkEndPoint* data = device.BulkInEndPoint();
  data->SetMode(TransferMode::kBuffered);
  StreamingPacket packet{};
  std::int32_t length = sizeof packet;
  ASSERT_TRUE(data->Transfer(reinterpret_cast<std::uint8_t*>(&packet), length));
  EXPECT_EQ(packet.samples[0].counter, 1);
  EXPECT_EQ(Value(data->LastRecord().dataOffset), kTransferRecordBytes);

  amplifiers[0]->StallDataEndpoint();
  length = sizeof packet;
  EXPECT_FALSE(data->Transfer(reinterpret_cast<std::uint8_t*>(&packet), length));
  EXPECT_EQ(data->UsbdStatus(), static_cast<std::uint32_t>(UsbResult::kStall));
  EXPECT_TRUE(data->ResetPipe());
  data->SetMode(TransferMode::kDirect);
  length = sizeof packet;
  ASSERT_TRUE(data->Transfer(reinterpret_cast<std::uint8_t*>(&packet), length));
  EXPECT_EQ(packet.samples[0].counter, 17);
  EXPECT_EQ(Value(data->LastRecord().dataOffset), 0u);
}

TEST_F(UsbDeviceTest, DeviceResetFrameNumberAndSpeed) {
  sim::AmplifierDescription fullSpeed = sim::DescribeAmplifier(1, 100);
  fullSpeed.highSpeed = false;
  const auto amplifiers = Install({sim::DescribeAmplifier(0, 100), fullSpeed});
  UsbDevice device(ChosenKernelDriver());
  ASSERT_TRUE(device.OpenDevice(0));
  const std::int32_t startFrame = 0;
  ASSERT_TRUE(SendCommand(device, CommandCode::kStart, &startFrame, sizeof startFrame));
  EXPECT_TRUE(amplifiers[0]->Streaming());
  EXPECT_TRUE(device.ResetUsbDevice());
  EXPECT_FALSE(amplifiers[0]->Streaming());
  const auto log = amplifiers[0]->WireLog();
  EXPECT_EQ(log.back().event, sim::WireEvent::kResetDevice);

  // The frame number is the bus's: between what the model says just before and just after.
  const std::uint32_t before = amplifiers[0]->FrameNumber(std::chrono::steady_clock::now());
  const auto frame = device.CurrentFrameNumber();
  const std::uint32_t after = amplifiers[0]->FrameNumber(std::chrono::steady_clock::now());
  ASSERT_TRUE(frame);
  EXPECT_LE(*frame, kFrameNumberMask);
  EXPECT_LE((*frame - before) & kFrameNumberMask, (after - before) & kFrameNumberMask);
  EXPECT_EQ(device.Speed(), BusSpeed::kHigh);
  ASSERT_TRUE(device.OpenDevice(1));
  EXPECT_EQ(device.Speed(), BusSpeed::kFullOrLow);
  EXPECT_FALSE(device.IsHighSpeed());
  EXPECT_EQ(device.BulkInEndPoint()->MaxPacketSize(), 64u);
}

TEST_F(UsbDeviceTest, AnUnpluggedDeviceLeavesTheBusAndFailsEveryTransfer) {
  const auto amplifiers = Install({sim::DescribeAmplifier(0, 100), sim::DescribeAmplifier(1, 100)});
  UsbDevice device(ChosenKernelDriver());
  ASSERT_TRUE(device.OpenDevice(0));
  amplifiers[0]->Unplug();
  EXPECT_EQ(device.CountDevices(), 1);
  EXPECT_FALSE(SendCommand(device, CommandCode::kBlink));
  EXPECT_EQ(device.ControlEndPoint()->UsbdStatus(),
            static_cast<std::uint32_t>(UsbResult::kNoDevice));
  std::uint8_t buffer[512];
  std::int32_t length = sizeof buffer;
  EXPECT_FALSE(device.BulkInEndPoint()->Transfer(buffer, length));
  EXPECT_FALSE(device.ResetUsbDevice());
  EXPECT_FALSE(device.BulkInEndPoint()->ResetPipe());
  EXPECT_FALSE(device.CurrentFrameNumber());
  // The remaining amplifier is now device 0.
  ASSERT_TRUE(device.OpenDevice(0));
  EXPECT_EQ(device.SerialNumberText(), "TA601202");
}

TEST_F(UsbDeviceTest, OtherProductsOfTheVendorAreListedWithTheirIdentity) {
  sim::AmplifierDescription syncBox = sim::DescribeAmplifier(1, 100);
  syncBox.productId = 0x0101;
  syncBox.speaksAmplifierProtocol = false;
  sim::AmplifierDescription product200 = sim::DescribeAmplifier(2, 100);
  product200.productId = kAmplifierProductId200;
  Install({sim::DescribeAmplifier(0, 100), syncBox, product200});
  const std::vector<UsbDeviceSummary> devices = ListUsbDevices(ChosenKernelDriver());
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_EQ(devices[1].productId, 0x0101);
  EXPECT_EQ(devices[2].productId, 0x00C8);
  EXPECT_EQ(devices[2].serialNumber, "TA601203");
  EXPECT_EQ(devices[0].speed, BusSpeed::kHigh);
  const std::string text = FormatUsbDeviceList(devices);
  EXPECT_NE(text.find("0  1f6d:012c  serial TA601201  high speed  Torva USB Amplifier\n"),
            std::string::npos);
  EXPECT_NE(text.find("2  1f6d:00c8  serial TA601203"), std::string::npos);
  // The other product stalls the amplifier's commands.
  UsbDevice device(ChosenKernelDriver());
  ASSERT_TRUE(device.OpenDevice(1));
  EXPECT_FALSE(SendCommand(device, CommandCode::kBlink));
  EXPECT_EQ(device.ControlEndPoint()->UsbdStatus(), static_cast<std::uint32_t>(UsbResult::kStall));
}

TEST_F(UsbDeviceTest, IsochronousTransfersFailCleanlyOnTheAmplifiers) {
  Install({sim::DescribeAmplifier(0, 100)});
  UsbDevice device(ChosenKernelDriver());
  ASSERT_TRUE(device.OpenDevice(0));
  CCyIsocEndPoint isoc(device.DriverHandle(), EndpointDescriptor{7, 5, 0x83, 1, 0x1400, 1});
  EXPECT_EQ(isoc.MaxPacketSize(), 3u * 1024u);
  EXPECT_EQ(isoc.PacketsPerMicroframe(), 3u);
  std::vector<std::uint8_t> buffer(7000);
  std::int32_t length = static_cast<std::int32_t>(buffer.size());
  EXPECT_FALSE(isoc.Transfer(buffer.data(), length));
  EXPECT_EQ(isoc.Packets().size(), 3u);  // 7000 bytes in packets of 3072
  EXPECT_EQ(isoc.Packets()[2].length, 7000u - 2 * 3072u);
  EXPECT_EQ(Value(isoc.LastRecord().isoPacketTableLength), 24u);
  isoc.Detach();
  EXPECT_FALSE(isoc.Transfer(buffer.data(), length));
  EXPECT_EQ(isoc.UsbdStatus(), static_cast<std::uint32_t>(UsbResult::kNoDevice));
}

TEST_F(UsbDeviceTest, TheActiveDriverFollowsTheEmulatedBus) {
  Install({sim::DescribeAmplifier(0, 100)});
  EXPECT_NE(dynamic_cast<sim::EmulatedKernelDriver*>(&ChosenKernelDriver()), nullptr);
  EXPECT_EQ(ChosenKernelDriver().CountDevices(), 1);
  unsetenv("TORVA_SIMULATE");
  sim::EmulatedBus::Instance().Reset();
  EXPECT_NE(dynamic_cast<LibusbKernelDriver*>(&ChosenKernelDriver()), nullptr);
  setenv("TORVA_SIMULATE", "2", 1);
  sim::EmulatedBus::Instance().Reset();
  EXPECT_NE(dynamic_cast<sim::EmulatedKernelDriver*>(&ChosenKernelDriver()), nullptr);
  EXPECT_EQ(ChosenKernelDriver().CountDevices(), 2);
  unsetenv("TORVA_SIMULATE");
}

}  // namespace
}  // namespace torva::usb
