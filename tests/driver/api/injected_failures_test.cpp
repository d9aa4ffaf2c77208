// Failures that a caller cannot provoke, injected under the library: thread creation and memory
// allocation. The exported calls must turn them into "nothing done" and leave a library that
// still shuts down and works again. This program replaces pthread_create and the global operator
// new for the whole process, so it runs without the sanitizers (which replace them too).

#include <dlfcn.h>
#include <pthread.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>

#include "tests/support/emulated_library.h"

namespace {

// Thread creations still allowed before every further one fails; negative: no failures.
std::atomic<int> gThreadsBeforeFailure{-1};
std::atomic<int> gFailedThreadCreations{0};
// Allocations of at least this many bytes fail on the thread that set it (0: none fail).
thread_local std::size_t tFailAllocationsFrom = 0;
thread_local int tFailedAllocations = 0;

using PthreadCreate = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*start)(void*), void* argument) {
  static const auto real = reinterpret_cast<PthreadCreate>(dlsym(RTLD_NEXT, "pthread_create"));
  int allowed = gThreadsBeforeFailure.load();
  while (allowed >= 0) {
    if (allowed == 0) {
      ++gFailedThreadCreations;
      return EAGAIN;
    }
    if (gThreadsBeforeFailure.compare_exchange_weak(allowed, allowed - 1)) break;
  }
  return real(thread, attributes, start, argument);
}

void* operator new(std::size_t bytes) {
  if (tFailAllocationsFrom != 0 && bytes >= tFailAllocationsFrom) {
    ++tFailedAllocations;
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(bytes == 0 ? 1 : bytes)) return memory;
  throw std::bad_alloc();
}
// The replaced operator new takes its memory from malloc, so free is the matching release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
#pragma GCC diagnostic pop

namespace torva {
namespace {

using testing::EmulatedLibrary;
using testing::WaitUntil;

class InjectedFailures : public EmulatedLibrary {
 protected:
  void TearDown() override {
    gThreadsBeforeFailure = -1;
    EmulatedLibrary::TearDown();
  }
  // Streams until frames arrive, then stops.
  static bool StreamsFrames() {
    fmBroadcastStart();
    float* frame = nullptr;
    const bool frames = WaitUntil([&] { return fmDLLTransferFloatData(&frame) > 0; });
    fmBroadcastStop();
    return frames;
  }
};

TEST_F(InjectedFailures, ThreadCreationFailingInInitReturnsZeroAndTheLibraryRecovers) {
  Install({sim::DescribeAmplifier(0, 100), sim::DescribeAmplifier(1, 100)});
  // No thread at all: the control thread cannot start.
  gThreadsBeforeFailure = 0;
  EXPECT_EQ(fmDLLInit(), 0);
  EXPECT_GT(gFailedThreadCreations.load(), 0);
  EXPECT_EQ(fmDLLGetDeviceCount(), 0);
  // The control thread starts but no amplifier thread does: the bring-up ends, and shutdown too.
  gThreadsBeforeFailure = 1;
  fmDLLInit();
  EXPECT_TRUE(WaitUntil([] { return fmDLLIsDeviceInitComplete() != 0; }));
  fmDLLShutDown();
  ASSERT_TRUE(WaitUntil([] { return fmIsDLLShutDown() == 1; }));
  // With threads to be had again, the library comes up and streams.
  gThreadsBeforeFailure = -1;
  Initialise();
  EXPECT_EQ(fmDLLGetDeviceCount(), 2);
  EXPECT_TRUE(StreamsFrames());
}

TEST_F(InjectedFailures, AllocationFailingAtTheStartOfAcquisitionStartsNothing) {
  BringUp(2);
  // The frame ring of two amplifiers is hundreds of kilobytes; nothing else at a start is that big.
  tFailAllocationsFrom = 64 * 1024;
  fmBroadcastStart();
  tFailAllocationsFrom = 0;
  EXPECT_GT(tFailedAllocations, 0);
  EXPECT_FALSE(Amplifier(0).Streaming());
  EXPECT_FALSE(Amplifier(1).Streaming());
  float* frame = nullptr;
  EXPECT_EQ(fmDLLTransferFloatData(&frame), 0);
  // The next start works, and the library shuts down (in TearDown).
  EXPECT_TRUE(StreamsFrames());
}

}  // namespace
}  // namespace torva
