#pragma once
// Which USB devices are amplifiers: the amplifiers' vendor with product 300 or 200.

#include <cstdint>

#include "driver/device/command_set.h"

namespace torva {

constexpr bool IsAmplifier(std::uint16_t vendorId, std::uint16_t productId) {
  return vendorId == kAmplifierVendorId &&
         (productId == kAmplifierProductId300 || productId == kAmplifierProductId200);
}

}  // namespace torva
