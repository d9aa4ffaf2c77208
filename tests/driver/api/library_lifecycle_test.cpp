// The library's life cycle through its exported functions, with no amplifier attached.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/usb_manager.h"
#include "platform/thread_messages.h"
#include "platform/window_target.h"
#include "sim/emulated_bus.h"
#include "tests/support/fake_sleep_clock.h"
#include "tests/support/process_stats.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/wait_until.h"

namespace torva {
namespace {

using testing::FakeSleepClock;
using testing::ResidentBytes;
using testing::ThreadCount;
using testing::WaitUntil;

class LibraryLifecycle : public testing::ScratchDirectory {
 protected:
  // An emulated bus without amplifiers: nothing is found, and no real bus is touched. The
  // machine settings are the test's own.
  void SetUp() override {
    ScratchDirectory::SetUp();
    Settings().Write("SOFTWARE\\Torva\\CFG", "Path", Path(""));
    sim::EmulatedBus::Instance().Install({});
    baselineThreads_ = testing::ThreadBaseline();
  }
  void TearDown() override {
    ShutDownAndWait();
    sim::EmulatedBus::Instance().Reset();
    ScratchDirectory::TearDown();
  }

  static void InitAndWaitForBringUp() {
    ASSERT_EQ(fmDLLInit(), 1);
    ASSERT_TRUE(WaitUntil([] { return fmDLLIsDeviceInitComplete() != 0; }));
  }
  static void ShutDownAndWait() {
    fmDLLShutDown();
    ASSERT_TRUE(WaitUntil([] { return fmIsDLLShutDown() == 1; }));
  }
  bool BackToBaselineThreads() const {
    return WaitUntil([this] { return ThreadCount() == baselineThreads_; });
  }

  FakeSleepClock clock_;
  std::size_t baselineThreads_ = 0;
};

TEST_F(LibraryLifecycle, CallsBeforeInitDoNothingAndReturnZero) {
  EXPECT_EQ(fmDLLGetVersionID(), 30568);
  EXPECT_EQ(fmDebugEntry(), -1);
  EXPECT_EQ(fmIsDLLShutDown(), 1);
  EXPECT_EQ(fmDLLIsDeviceInitComplete(), 0);
  EXPECT_EQ(fmDLLGetDeviceCount(), 0);
  EXPECT_EQ(fmDLLSetupCheck(), 0);
  EXPECT_EQ(fmDLLGetDeviceIndex(), 0);
  EXPECT_EQ(fmDLLShutDown(), 0);
  int values[6] = {42, 0, 0, 0, 0, 0};
  EXPECT_EQ(fmSetExcCorrections(values), 0);
  EXPECT_EQ(fmGetExcCorrections(values), 0);
  char text[TORVA_ERROR_TEXT_BYTES];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(fmDLLGetError(text), 0);
  EXPECT_EQ(text[0], 'x');
  fmDLLSelectDeviceIndex(0);
  fmDLLSetUSBPacketSize(512);
  fmDLLPostUserThreadMessages(1);
  fmDLLPostWindowMessages(nullptr);
  EXPECT_EQ(ThreadCount(), baselineThreads_);
}

TEST_F(LibraryLifecycle, WithoutAmplifiersBringUpEndsInStateOneAndCanBeRepeated) {
  InitAndWaitForBringUp();
  EXPECT_EQ(fmDLLGetVersionID(), 30568);
  EXPECT_EQ(fmDLLIsDeviceInitComplete(), 1);
  EXPECT_EQ(fmDLLGetDeviceCount(), 0);
  EXPECT_EQ(fmDLLSetupCheck(), 0);
  EXPECT_EQ(fmIsDLLShutDown(), 0);

  EXPECT_EQ(fmDLLShutDown(), 1);
  ASSERT_TRUE(WaitUntil([] { return fmIsDLLShutDown() == 1; }));
  EXPECT_EQ(fmDLLGetDeviceCount(), 0);
  EXPECT_EQ(fmDLLIsDeviceInitComplete(), 0);
  EXPECT_TRUE(BackToBaselineThreads());

  InitAndWaitForBringUp();
  EXPECT_EQ(fmDLLIsDeviceInitComplete(), 1);
}

TEST_F(LibraryLifecycle, ShutdownTakesItsPauseThroughTheClock) {
  InitAndWaitForBringUp();
  const long long before = clock_.sleptMilliseconds;
  ShutDownAndWait();
  EXPECT_EQ(clock_.sleptMilliseconds - before, 250);
}

TEST_F(LibraryLifecycle, SelectionOutOfRangeChangesNothing) {
  InitAndWaitForBringUp();
  const int before = fmDLLGetDeviceIndex();
  fmDLLSelectDeviceIndex(fmDLLGetDeviceCount());
  fmDLLSelectDeviceIndex(-1);
  fmDLLSelectDeviceIndex(25);
  EXPECT_EQ(fmDLLGetDeviceIndex(), before);
}

TEST_F(LibraryLifecycle, GetErrorWithoutAnErrorLeavesTheBufferAlone) {
  InitAndWaitForBringUp();
  char text[TORVA_ERROR_TEXT_BYTES];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(fmDLLGetError(text), 0);
  for (char c : text) ASSERT_EQ(c, 'x');
  EXPECT_EQ(fmDLLGetError(nullptr), 0);
}

TEST_F(LibraryLifecycle, ExcitationCorrectionsEchoTheFirstValueAndSurviveNull) {
  InitAndWaitForBringUp();
  int values[6] = {17, 1, 2, 3, 4, 5};
  EXPECT_EQ(fmSetExcCorrections(values), 17);
  EXPECT_EQ(fmGetExcCorrections(values), 17);
  EXPECT_EQ(values[0], 17);
  EXPECT_EQ(fmSetExcCorrections(nullptr), 0);
  EXPECT_EQ(fmGetExcCorrections(nullptr), 0);
}

TEST_F(LibraryLifecycle, DataReadyFlagSetBeforeInitReachesTheControlThread) {
  fmDLLPostDataReadyMessages(7);
  InitAndWaitForBringUp();
  CThreadManager* control = CUSBManager::Instance().Control();
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(control->Notifier().Flag(), 1);
  fmDLLPostDataReadyMessages(0);
  EXPECT_EQ(control->Notifier().Flag(), 0);

  fmDLLPostUserThreadMessages(static_cast<int>(platform::CurrentThreadId()));
  EXPECT_EQ(control->Notifier().Target(), NotifyTarget::kThread);
  platform::WindowHandle window = platform::CreateWindowTarget();
  fmDLLPostWindowMessages(window);
  EXPECT_EQ(control->Notifier().Target(), NotifyTarget::kWindow);
  platform::DestroyWindowTarget(window);
}

TEST_F(LibraryLifecycle, ASecondInitEndsTheRunningControlThreadFirst) {
  InitAndWaitForBringUp();
  auto firstHandle = CUSBManager::Instance().Control()->Handle();
  InitAndWaitForBringUp();
  // The first control thread ended before the second bring-up ran: one owner at a time.
  EXPECT_TRUE(firstHandle->HasEnded());
  EXPECT_NE(CUSBManager::Instance().Control()->Handle(), firstHandle);
  EXPECT_EQ(fmDLLIsDeviceInitComplete(), 1);
  EXPECT_TRUE(WaitUntil([this] { return ThreadCount() == baselineThreads_ + 1; }));
  ShutDownAndWait();
  EXPECT_TRUE(BackToBaselineThreads());
}

TEST_F(LibraryLifecycle, InitAfterShutdownWaitsForTheOldThreadToEnd) {
  InitAndWaitForBringUp();
  auto firstHandle = CUSBManager::Instance().Control()->Handle();
  ASSERT_EQ(fmDLLShutDown(), 1);
  // No polling of fmIsDLLShutDown before the next init.
  InitAndWaitForBringUp();
  EXPECT_TRUE(firstHandle->HasEnded());
}

TEST_F(LibraryLifecycle, TwoHundredCyclesLeaveNoThreadAndNoMemoryGrowth) {
  auto cycle = [] {
    InitAndWaitForBringUp();
    ShutDownAndWait();
  };
  for (int i = 0; i < 20; ++i) cycle();  // let allocator pools settle
  ASSERT_TRUE(BackToBaselineThreads());
  const std::size_t residentBefore = ResidentBytes();
  for (int i = 0; i < 200; ++i) {
    cycle();
    if (HasFatalFailure()) return;
  }
  EXPECT_TRUE(BackToBaselineThreads());
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // One control thread object with its records is a few tens of kilobytes; a leak per cycle
  // would show as megabytes over 200 cycles. (Under AddressSanitizer freed memory is held in
  // quarantine, and its leak checker takes over this check; ThreadSanitizer keeps a history per
  // thread ever started.)
  EXPECT_LT(ResidentBytes(), residentBefore + 1024 * 1024);
#else
  (void)residentBefore;
#endif
}

TEST_F(LibraryLifecycle, UnloadingTheLibraryWhileItRunsEndsItsThreads) {
  // The loaded copy has a bus of its own: an emulated one without amplifiers.
  ::setenv("TORVA_SIMULATE", "0", 1);
  void* library = dlopen(TORVA_DRIVER_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto init = reinterpret_cast<int (*)()>(dlsym(library, "fmDLLInit"));
  auto state = reinterpret_cast<int (*)()>(dlsym(library, "fmDLLIsDeviceInitComplete"));
  ASSERT_NE(init, nullptr);
  ASSERT_NE(state, nullptr);
  ASSERT_EQ(init(), 1);
  ASSERT_TRUE(WaitUntil([&] { return state() != 0; }));
  EXPECT_GT(ThreadCount(), baselineThreads_);
  dlclose(library);
  ::unsetenv("TORVA_SIMULATE");
  EXPECT_TRUE(BackToBaselineThreads());
}

}  // namespace
}  // namespace torva
