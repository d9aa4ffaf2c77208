#pragma once
// Which kernel driver the library opens amplifiers with: the emulator's while TORVA_SIMULATE is
// set or a test has installed emulated amplifiers (sim::EmulatedBus), otherwise libusb's for the
// amplifiers' vendor. Decided afresh at every call, so a test may switch between them.
//
// The choice is made here, at the top of the library, because only here may the emulator be
// known: the device layer asks for the driver through ChosenKernelDriver()
// (driver/device/kernel_driver_source.h), which kernel_driver_choice.cpp defines, and the USB
// layer under it knows neither the emulator nor the amplifiers' protocol.
//
// Threads: any thread; the two drivers live as long as the process.

#include "driver/device/kernel_driver_source.h"
