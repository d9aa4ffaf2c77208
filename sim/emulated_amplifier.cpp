#include "sim/emulated_amplifier.h"

#include <cstring>
#include <utility>

#include "driver/device/streaming_packet.h"
#include "driver/usb/frame_clock.h"
#include "sim/usb_descriptors.h"

namespace torva::sim {
namespace {

using usb::kDescriptorTypeConfiguration;
using usb::kDescriptorTypeDevice;
using usb::kDescriptorTypeString;
using usb::kRequestGetConfiguration;
using usb::kRequestGetDescriptor;
using usb::kRequestGetInterface;
using usb::kRequestGetStatus;
using usb::kRequestSetInterface;

constexpr std::uint8_t kRequestKindMask = 0x60;
constexpr std::uint8_t kStandardKind = 0x00;
constexpr std::uint8_t kRecipientMask = 0x1F;
constexpr std::uint8_t kRecipientInterface = 0x01;
constexpr std::uint8_t kRecipientEndpoint = 0x02;
constexpr std::uint8_t kDirectionIn = 0x80;
// Endpoint 0, the default control pipe.
constexpr std::uint8_t kControlEndpoint = 0x00;
constexpr std::uint8_t kClearFeature = 0x01;
constexpr std::uint8_t kSetConfiguration = 0x09;
constexpr std::uint16_t kEndpointHaltFeature = 0;
constexpr std::uint8_t kConfigurationValue = 1;
// A start frame this many frames ahead or fewer is waited for; one further away has passed.
constexpr std::uint32_t kStartFrameHorizon = 1024;

TransferResult Done(std::size_t bytes) { return {TransferStatus::kCompleted, bytes}; }
TransferResult Failed(TransferStatus status) { return {status, 0}; }

std::size_t CopyOut(const std::vector<std::uint8_t>& bytes, std::uint8_t* data,
                    std::size_t capacity) {
  const std::size_t n = bytes.size() < capacity ? bytes.size() : capacity;
  if (n > 0) std::memcpy(data, bytes.data(), n);
  return n;
}

}  // namespace

EmulatedAmplifier::EmulatedAmplifier(AmplifierDescription description, SteadyTime busEpoch)
    : description_(std::move(description)),
      busEpoch_(busEpoch),
      signal_(description_),
      firmware_(description_) {}

std::vector<std::uint8_t> EmulatedAmplifier::DeviceDescriptor() const {
  return DeviceDescriptorBytes(description_);
}

std::vector<std::uint8_t> EmulatedAmplifier::ConfigurationDescriptor(std::uint8_t index) const {
  if (index != 0) return {};
  return ConfigurationDescriptorBytes(description_);
}

std::vector<std::uint8_t> EmulatedAmplifier::StringDescriptor(std::uint8_t index) const {
  return StringDescriptorBytes(description_, index);
}

void EmulatedAmplifier::Log(WireRecord record) { log_.Add(std::move(record)); }

TransferResult EmulatedAmplifier::ControlOut(const SetupPacket& setup, const std::uint8_t* data,
                                             std::size_t length) {
  const SteadyTime now = std::chrono::steady_clock::now();
  Lock lock(mutex_);
  if (!present_) return Failed(TransferStatus::kNoDevice);
  WireRecord record;
  record.event = WireEvent::kControlOut;
  record.setup = setup;
  if (data != nullptr && length > 0) record.data.assign(data, data + length);
  TransferResult result = Failed(TransferStatus::kStall);
  if ((setup.requestType & kDirectionIn) != 0 || length != setup.length ||
      (length > 0 && data == nullptr)) {
    result = Failed(TransferStatus::kStall);
  } else if ((setup.requestType & kRequestKindMask) == kStandardKind) {
    const std::uint8_t recipient = setup.requestType & kRecipientMask;
    if (setup.request == kRequestSetInterface && recipient == kRecipientInterface && setup.index == 0 &&
        setup.value == 0) {
      alternateSetting_ = 0;
      result = Done(0);
    } else if (setup.request == kSetConfiguration && setup.value <= kConfigurationValue) {
      result = Done(0);
    } else if (setup.request == kClearFeature && recipient == kRecipientEndpoint &&
               setup.value == kEndpointHaltFeature) {
      if (setup.index == kDataEndpoint) dataHalted_ = false;
      changed_.notify_all();
      result = Done(0);
    }
  } else if (setup.requestType == kVendorOutRequestType) {
    result = VendorOut(setup, data, length, now);
  }
  record.accepted = result.status == TransferStatus::kCompleted;
  Log(std::move(record));
  return result;
}

TransferResult EmulatedAmplifier::VendorOut(const SetupPacket& setup, const std::uint8_t* data,
                                            std::size_t length, SteadyTime now) {
  const bool commandRequest =
      setup.request == kCommandRequest || setup.request == kReadBackRequest;
  // Command requests carry wValue 0 and wIndex 0; anything else is not a request it knows.
  if (!description_.speaksAmplifierProtocol || !commandRequest || setup.value != 0 ||
      setup.index != 0) {
    return Failed(TransferStatus::kStall);
  }
  const CommandEffect effect = firmware_.Execute(setup.request, data, length, ReadingAt(now));
  if (effect.stop) {
    schedule_.Stop();
    changed_.notify_all();
  }
  // The host sends Start more than once (it has no reply to wait for); a Start while streaming
  // leaves the running stream alone.
  if (effect.start && !schedule_.Running()) StartStreaming(effect.startFrame, now);
  return Done(length);
}

void EmulatedAmplifier::StartStreaming(std::int32_t startFrame, SteadyTime now) {
  // Sampling begins at the start of the requested USB frame when that lies ahead, so amplifiers
  // on one bus started for the same frame sample in step; a frame that has passed starts now.
  const std::uint32_t current = FrameNumber(now);
  const std::uint32_t ahead =
      (static_cast<std::uint32_t>(startFrame) - current) & usb::kFrameNumberMask;
  SteadyTime begin = now;
  if (ahead > 0 && ahead < kStartFrameHorizon) {
    begin = usb::FrameStartAt(busEpoch_, now) + std::chrono::milliseconds(ahead);
  }
  schedule_.Start(begin, firmware_.Memory().acquisitionRate, firstPacketDelay_);
  changed_.notify_all();
}

PlateReading EmulatedAmplifier::ReadingAt(SteadyTime now) const {
  PlateReading plate{};
  double seconds = 0.0;
  if (schedule_.Running() && now > schedule_.Begin()) {
    seconds = std::chrono::duration<double>(now - schedule_.Begin()).count();
  }
  signal_.Load(seconds, plate.reading);
  for (std::size_t c = 0; c < kChannelCount; ++c) {
    plate.drift[c] = signal_.Drift()[c];
    plate.reading[c] += plate.drift[c];
  }
  return plate;
}

TransferResult EmulatedAmplifier::ControlIn(const SetupPacket& setup, std::uint8_t* data,
                                            std::size_t capacity) {
  Lock lock(mutex_);
  if (!present_) return Failed(TransferStatus::kNoDevice);
  WireRecord record;
  record.event = WireEvent::kControlIn;
  record.setup = setup;
  TransferResult result = Failed(TransferStatus::kStall);
  const std::size_t limit = setup.length < capacity ? setup.length : capacity;
  if (data == nullptr && limit > 0) {
    result = Failed(TransferStatus::kStall);
  } else if ((setup.requestType & kDirectionIn) == 0) {
    result = Failed(TransferStatus::kStall);
  } else if ((setup.requestType & kRequestKindMask) == kStandardKind) {
    result = StandardIn(setup, data, limit);
  } else if (setup.requestType == kVendorInRequestType && description_.speaksAmplifierProtocol &&
             (setup.request == kReplyRequest || setup.request == kConfirmReplyRequest) &&
             setup.value == 0 && setup.index == 0) {
    // A held reply also ends when the host aborts the control pipe, as a pending request does.
    const std::uint64_t aborts = aborts_[kControlEndpoint];
    changed_.wait_for(lock, kHeldReplyLimit, [&] {
      return !repliesHeld_ || !present_ || aborts_[kControlEndpoint] != aborts;
    });
    if (aborts_[kControlEndpoint] != aborts) {
      result = Failed(TransferStatus::kCancelled);
    } else if (const auto bytes = firmware_.TakeReply(setup.request, data, limit)) {
      result = Done(*bytes);
    }
  }
  record.accepted = result.status == TransferStatus::kCompleted;
  if (record.accepted && result.bytes > 0) record.data.assign(data, data + result.bytes);
  Log(std::move(record));
  return result;
}

TransferResult EmulatedAmplifier::StandardIn(const SetupPacket& setup, std::uint8_t* data,
                                             std::size_t limit) {
  switch (setup.request) {
    case kRequestGetDescriptor: {
      const auto type = static_cast<std::uint8_t>(setup.value >> 8);
      const auto index = static_cast<std::uint8_t>(setup.value & 0xFF);
      std::vector<std::uint8_t> bytes;
      if (type == kDescriptorTypeDevice) bytes = DeviceDescriptor();
      if (type == kDescriptorTypeConfiguration) bytes = ConfigurationDescriptor(index);
      if (type == kDescriptorTypeString) bytes = StringDescriptor(index);
      if (bytes.empty()) return Failed(TransferStatus::kStall);
      return Done(CopyOut(bytes, data, limit));
    }
    case kRequestGetStatus:
      return Done(CopyOut({0, 0}, data, limit));
    case kRequestGetConfiguration:
      return Done(CopyOut({kConfigurationValue}, data, limit));
    case kRequestGetInterface:
      if (setup.index != 0) return Failed(TransferStatus::kStall);
      return Done(CopyOut({alternateSetting_}, data, limit));
    default:
      return Failed(TransferStatus::kStall);
  }
}

BulkPoll EmulatedAmplifier::PollLocked(std::uint8_t endpoint, std::uint8_t* buffer,
                                       std::size_t length, SteadyTime now) {
  BulkPoll poll;
  poll.result = Failed(TransferStatus::kPending);
  if (!present_) {
    poll.result = Failed(TransferStatus::kNoDevice);
    return poll;
  }
  if ((endpoint & kDirectionIn) == 0 || !HasEndpoint(description_, endpoint)) {
    poll.result = Failed(TransferStatus::kStall);
    return poll;
  }
  // Only the data endpoint of an amplifier ever carries traffic.
  if (!description_.speaksAmplifierProtocol || endpoint != kDataEndpoint) return poll;
  if (dataHalted_) {
    poll.result = Failed(TransferStatus::kStall);
    return poll;
  }
  if (!schedule_.Running()) return poll;
  if (buffer == nullptr || length < kStreamingPacketBytes) {
    poll.result = Failed(TransferStatus::kOverflow);
    return poll;
  }
  if (dropsPending_ > 0) {
    schedule_.Skip(dropsPending_);
    dropsPending_ = 0;
  }
  const std::int64_t packet = schedule_.NextPacket();
  const SteadyTime due = schedule_.PacketDue(packet);
  if (now < due) {
    poll.readyAt = due;
    return poll;
  }
  FillPacket(packet, buffer);
  schedule_.Advance();
  ++packetsSent_;
  poll.result = Done(kStreamingPacketBytes);
  if (shortPending_ > 0) {
    --shortPending_;
    poll.result.bytes = shortBytes_;
  }
  return poll;
}

void EmulatedAmplifier::FillPacket(std::int64_t packet, std::uint8_t* buffer) const {
  StreamingPacket out{};
  for (std::size_t s = 0; s < kSamplesPerPacket; ++s) {
    const std::int64_t index = packet * static_cast<std::int64_t>(kSamplesPerPacket) +
                               static_cast<std::int64_t>(s);
    StreamingSample& sample = out.samples[s];
    sample.counter = static_cast<std::int32_t>(
        (description_.firstSampleCounter + index) % kSampleCounterModulus);
    signal_.Measure(index, schedule_.SampleSeconds(index), sample.channels);
    firmware_.Condition(sample.channels, signal_.Drift());
    sample.auxiliary = triggerLevel_;
  }
  std::memcpy(buffer, &out, sizeof out);
}

BulkPoll EmulatedAmplifier::PollBulkIn(std::uint8_t endpoint, std::uint8_t* buffer,
                                       std::size_t length, SteadyTime now) {
  Lock lock(mutex_);
  return PollLocked(endpoint, buffer, length, now);
}

TransferResult EmulatedAmplifier::BulkIn(std::uint8_t endpoint, std::uint8_t* buffer,
                                         std::size_t length, std::optional<SteadyTime> deadline) {
  Lock lock(mutex_);
  const std::uint64_t generation = aborts_[endpoint];
  while (true) {
    if (aborts_[endpoint] != generation) return Failed(TransferStatus::kCancelled);
    const SteadyTime now = std::chrono::steady_clock::now();
    const BulkPoll poll = PollLocked(endpoint, buffer, length, now);
    if (poll.result.status != TransferStatus::kPending) return poll.result;
    if (deadline && now >= *deadline) return Failed(TransferStatus::kTimeout);
    std::optional<SteadyTime> wake = poll.readyAt;
    if (deadline && (!wake || *deadline < *wake)) wake = deadline;
    ++blockedReads_;
    blockedReadsChanged_.notify_all();
    if (wake) {
      changed_.wait_until(lock, *wake);
    } else {
      changed_.wait(lock);
    }
    --blockedReads_;
  }
}

bool EmulatedAmplifier::WaitForBlockedReads(int readers, std::chrono::milliseconds limit) const {
  Lock lock(mutex_);
  return blockedReadsChanged_.wait_for(lock, limit, [&] { return blockedReads_ >= readers; });
}

TransferResult EmulatedAmplifier::BulkOut(std::uint8_t endpoint, const std::uint8_t* /*data*/,
                                          std::size_t length) {
  Lock lock(mutex_);
  if (!present_) return Failed(TransferStatus::kNoDevice);
  if ((endpoint & kDirectionIn) != 0 || !HasEndpoint(description_, endpoint)) {
    return Failed(TransferStatus::kStall);
  }
  // The OUT endpoint is declared but the firmware ignores what arrives on it.
  return Done(length);
}

void EmulatedAmplifier::AbortPipe(std::uint8_t endpoint) {
  Lock lock(mutex_);
  ++aborts_[endpoint];
  WireRecord record;
  record.event = WireEvent::kAbortPipe;
  record.endpoint = endpoint;
  record.accepted = present_;
  Log(std::move(record));
  changed_.notify_all();
}

bool EmulatedAmplifier::ClearHalt(std::uint8_t endpoint) {
  Lock lock(mutex_);
  if (!present_) return false;
  const bool known = endpoint == 0 || HasEndpoint(description_, endpoint);
  if (known && endpoint == kDataEndpoint) dataHalted_ = false;
  WireRecord record;
  record.event = WireEvent::kClearHalt;
  record.endpoint = endpoint;
  record.accepted = known;
  Log(std::move(record));
  changed_.notify_all();
  return known;
}

bool EmulatedAmplifier::ResetDevice() {
  Lock lock(mutex_);
  if (!present_) return false;
  // A bus reset ends streaming and any half-finished exchange; the memory stays.
  schedule_.Stop();
  dataHalted_ = false;
  alternateSetting_ = 0;
  firmware_.OnBusReset();
  WireRecord record;
  record.event = WireEvent::kResetDevice;
  record.accepted = true;
  Log(std::move(record));
  changed_.notify_all();
  return true;
}

std::optional<std::uint8_t> EmulatedAmplifier::AlternateSetting() const {
  Lock lock(mutex_);
  if (!present_) return std::nullopt;
  return alternateSetting_;
}

bool EmulatedAmplifier::SelectAlternateSetting(std::uint8_t setting) {
  Lock lock(mutex_);
  if (!present_) return false;
  // Interface 0 has only alternate setting 0.
  const bool accepted = setting == 0;
  if (accepted) alternateSetting_ = setting;
  WireRecord record;
  record.event = WireEvent::kSelectAlternateSetting;
  record.setup.value = setting;
  record.accepted = accepted;
  Log(std::move(record));
  return accepted;
}

std::uint32_t EmulatedAmplifier::FrameNumber(SteadyTime now) const {
  return usb::FrameNumberAt(busEpoch_, now);
}

bool EmulatedAmplifier::Present() const {
  Lock lock(mutex_);
  return present_;
}

std::vector<WireRecord> EmulatedAmplifier::WireLog() const {
  Lock lock(mutex_);
  return log_.Records();
}

std::vector<int> EmulatedAmplifier::ReceivedCommandCodes() const {
  Lock lock(mutex_);
  std::vector<int> codes;
  for (const WireRecord& record : log_.Records()) {
    if (const auto code = record.CommandCode()) codes.push_back(*code);
  }
  return codes;
}

void EmulatedAmplifier::ClearWireLog() {
  Lock lock(mutex_);
  log_.Clear();
}

AmplifierParameterBlock EmulatedAmplifier::Memory() const {
  Lock lock(mutex_);
  return firmware_.Memory();
}

bool EmulatedAmplifier::Streaming() const {
  Lock lock(mutex_);
  return schedule_.Running();
}

std::int32_t EmulatedAmplifier::StreamRate() const {
  Lock lock(mutex_);
  return schedule_.Rate();
}

std::int64_t EmulatedAmplifier::PacketsSent() const {
  Lock lock(mutex_);
  return packetsSent_;
}

std::vector<std::uint8_t> EmulatedAmplifier::ReceivedCalibration() const {
  Lock lock(mutex_);
  return firmware_.Calibration().Received();
}

std::vector<std::uint8_t> EmulatedAmplifier::BootImage() const {
  Lock lock(mutex_);
  return firmware_.BootImage();
}

int EmulatedAmplifier::BlinkCount() const {
  Lock lock(mutex_);
  return firmware_.BlinkCount();
}

bool EmulatedAmplifier::Zeroed() const {
  Lock lock(mutex_);
  return firmware_.Zeroed();
}

void EmulatedAmplifier::Unplug() {
  Lock lock(mutex_);
  present_ = false;
  schedule_.Stop();
  changed_.notify_all();
}

void EmulatedAmplifier::StallDataEndpoint() {
  Lock lock(mutex_);
  dataHalted_ = true;
  changed_.notify_all();
}

void EmulatedAmplifier::ForceReplyStatus(std::uint8_t status, int replies) {
  Lock lock(mutex_);
  firmware_.ForceReplyStatus(status, replies);
}

void EmulatedAmplifier::SetPlateStaysBusy(bool staysBusy) {
  Lock lock(mutex_);
  firmware_.Calibration().SetStaysBusy(staysBusy);
}

void EmulatedAmplifier::SetPlateBusyQueries(int queries) {
  Lock lock(mutex_);
  firmware_.Calibration().SetBusyQueriesPerBlock(queries);
}

void EmulatedAmplifier::SetPlateStoresEveryBlock(bool stores) {
  Lock lock(mutex_);
  firmware_.Calibration().SetStoresEveryBlock(stores);
}

void EmulatedAmplifier::SetRejectCalibrationVersion(bool reject) {
  Lock lock(mutex_);
  firmware_.Calibration().SetRejectVersion(reject);
}

void EmulatedAmplifier::SetRepliesHeld(bool held) {
  {
    Lock lock(mutex_);
    repliesHeld_ = held;
  }
  changed_.notify_all();
}

void EmulatedAmplifier::CorruptCalibrationByte(std::int32_t offset) {
  Lock lock(mutex_);
  firmware_.Calibration().CorruptByteAt(offset);
}

void EmulatedAmplifier::DropPackets(int packets) {
  Lock lock(mutex_);
  if (packets > 0) dropsPending_ += packets;
  changed_.notify_all();
}

void EmulatedAmplifier::ShortenPackets(int packets, std::size_t bytes) {
  Lock lock(mutex_);
  shortPending_ = packets > 0 ? packets : 0;
  shortBytes_ = bytes < kStreamingPacketBytes ? bytes : kStreamingPacketBytes;
}

void EmulatedAmplifier::SetFirstPacketDelay(std::chrono::milliseconds delay) {
  Lock lock(mutex_);
  firstPacketDelay_ = delay < std::chrono::milliseconds::zero() ? std::chrono::milliseconds::zero()
                                                                : delay;
}

void EmulatedAmplifier::SetTriggerLevel(std::int32_t level) {
  Lock lock(mutex_);
  triggerLevel_ = level;
}

void EmulatedAmplifier::SetSignal(SignalProfile profile) {
  Lock lock(mutex_);
  AmplifierDescription changed = description_;
  changed.signal = profile;
  signal_ = SignalGenerator(changed);
}

}  // namespace torva::sim
