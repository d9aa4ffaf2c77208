// The end-to-end tests run under umockdev's preload library, from the start of the process: the
// tests serve emulated amplifiers through an emulated usbfs to the driver library in this process
// and to the programs they start.

#include <gtest/gtest.h>

#include "tests/e2e/umockdev_preload.h"

int main(int argc, char** argv) {
  torva::e2e::EnsureUmockdevPreload(argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
