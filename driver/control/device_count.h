#pragma once

namespace torva {

// Amplifiers attached now (vendor 0x1F6D, product 300 or 200); devices that cannot be opened are
// skipped. Works whether or not the library is initialised.
int CountAttachedAmplifiers();

}  // namespace torva
