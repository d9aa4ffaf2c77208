#pragma once
// What one emulated device is: its USB identity, the amplifier and plate it reports and the
// signal it streams. Tests fill these in code; TORVA_SIMULATE builds them with DescribeAmplifier.

#include <cstdint>
#include <string>

#include "driver/device/command_set.h"

namespace torva::sim {

// What the emulated plate feels while streaming.
enum class SignalProfile {
  kUnloaded,      // sensor noise around zero
  kStaticLoad,    // a constant load standing off the plate centre
  kWalkingTrial,  // a person stepping across the plate, once every few seconds
};

// Smart-plate status values reported by the emulated plate at offset 900 of its memory.
enum class SmartPlateStatus : std::int32_t {
  kNotSmart = 0,             // plate without on-board calibration memory
  kCalibrated = 1,           // calibration present and valid
  kPlateFault = 2,           // the plate reports a fault; no download helps
  kCalibrationMissing = 3,   // needs a download
  kCalibrationOutdated = 4,  // needs a download
  kMemoryFault = 5,          // calibration memory unusable
};

struct AmplifierDescription {
  // USB identity. A device whose `speaksAmplifierProtocol` is false is another product of the
  // same vendor: it enumerates and answers standard requests but stalls every vendor request.
  std::uint16_t vendorId = kAmplifierVendorId;
  std::uint16_t productId = kAmplifierProductId300;
  bool speaksAmplifierProtocol = true;
  // A device that enumerates but cannot be opened (held by another program, no permission).
  bool refusesOpen = false;
  bool highSpeed = true;
  std::string manufacturer = "Torva";
  std::string productName = "Torva USB Amplifier";

  // Amplifier identity (read-only parameter memory).
  std::string firmwareVersion = "3.2.14";
  std::string firmwareSuffix = "R";
  std::string amplifierModel = "TA-6";
  std::string amplifierSerial = "TA60001";

  // Plate.
  std::int32_t productType = 100;
  std::string platformModel = "TP4060";
  std::string platformSerial = "P40601";
  double platformLengthInches = 23.62;  // along y
  double platformWidthInches = 15.75;   // along x
  float platformOffsets[3] = {0.0f, 0.0f, -1.57f};  // X, Y, Z of the origin, inches
  std::int32_t smartPlateStatus = static_cast<std::int32_t>(SmartPlateStatus::kNotSmart);

  // Settings the amplifier powers up with.
  std::int32_t acquisitionRate = 1000;

  // Streaming signal.
  SignalProfile signal = SignalProfile::kWalkingTrial;
  double bodyMassKg = 75.0;
  std::uint32_t noiseSeed = 1;
  // Counter of the first sample after Start (counters count modulo 2^24).
  std::int32_t firstSampleCounter = 1;
};

// A plausible amplifier and plate of the given product type; `index` makes serials, offsets and
// small calibration details distinct between amplifiers.
AmplifierDescription DescribeAmplifier(int index, std::int32_t productType);

}  // namespace torva::sim
