#pragma once
// The kernel driver the device layer opens and counts amplifiers with.
//
// The device layer only asks for it; which driver it is (the emulator's or libusb's) is decided
// above, by driver/api/kernel_driver_choice.cpp, which defines this function. The seam is made at
// link time: that definition is an object of torvadriver_objects, and an object library links
// every one of its objects, so the shipped library and every program that links the objects (the
// tests) have it. A program that links the device layer without it does not link, rather than run
// without a choice.
//
// Threads: any thread, at any time. The answer may change between calls (a test may install or
// take away emulated amplifiers), so callers ask afresh for each use instead of keeping it.

namespace torva {

namespace usb {
class KernelDriver;
}  // namespace usb

usb::KernelDriver& ChosenKernelDriver();

}  // namespace torva
