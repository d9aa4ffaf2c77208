#include <gtest/gtest.h>
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/worker_thread.h"
#include "tests/support/wait_until.h"

namespace torva::platform {
namespace {

using torva::testing::WaitUntil;

constexpr std::uint32_t kRecord = kUserMessage + 10;
constexpr std::uint32_t kSwallowed = kUserMessage + 11;
constexpr std::uint32_t kUnmapped = kUserMessage + 12;

// What a test worker saw; outlives the worker, which deletes itself.
struct Observations {
  std::mutex mutex;
  std::vector<WParam> handled;
  std::vector<long> idleCounts;
  std::atomic<bool> initialised{false};
  std::atomic<bool> exited{false};
  std::atomic<bool> destroyed{false};
  std::atomic<pthread_t> thread{};
};

class RecordingWorker : public WorkerThread {
 public:
  RecordingWorker(Observations& seen, long idleSteps) : seen_(seen), idleSteps_(idleSteps) {
    MapMessage(kRecord, [this](WParam w, LParam) {
      std::lock_guard<std::mutex> lock(seen_.mutex);
      seen_.handled.push_back(w);
    });
  }
  ~RecordingWorker() override { seen_.destroyed = true; }

 protected:
  bool InitInstance() override {
    seen_.thread = pthread_self();
    seen_.initialised = true;
    return true;
  }
  bool OnIdle(long count) override {
    std::lock_guard<std::mutex> lock(seen_.mutex);
    seen_.idleCounts.push_back(count);
    return count + 1 < idleSteps_;
  }
  bool PreTranslateMessage(Message& message) override { return message.message == kSwallowed; }
  int ExitInstance() override {
    seen_.exited = true;
    return WorkerThread::ExitInstance();
  }

 private:
  Observations& seen_;
  long idleSteps_;
};

// Starts a worker and returns its handle and identifier.
struct Started {
  std::shared_ptr<ThreadHandle> handle;
  ThreadId id;
};

Started Start(Observations& seen, long idleSteps, ThreadPriority priority = ThreadPriority::kNormal,
              bool resume = true) {
  auto* worker = new RecordingWorker(seen, idleSteps);
  EXPECT_TRUE(worker->CreateThread(priority));
  Started started{worker->Handle(), worker->Identifier()};
  if (resume) worker->Resume();
  return started;
}

TEST(WorkerThread, MessagesPostedWhileSuspendedAreHandledAfterResume) {
  Observations seen;
  auto* worker = new RecordingWorker(seen, 1);
  ASSERT_TRUE(worker->CreateThread(ThreadPriority::kNormal));
  const ThreadId id = worker->Identifier();
  auto handle = worker->Handle();
  for (WParam i = 0; i < 5; ++i) ASSERT_TRUE(PostThreadMessage(id, kRecord, i, 0));
  EXPECT_FALSE(seen.initialised.load());
  worker->Resume();
  ASSERT_TRUE(PostThreadMessage(id, kQuitMessage, 3, 0));
  ASSERT_TRUE(handle->WaitForEnd(std::chrono::seconds(30)));
  EXPECT_EQ(seen.handled, (std::vector<WParam>{0, 1, 2, 3, 4}));
}

TEST(WorkerThread, QuitEndsTheThreadDeletesTheObjectAndSignalsTheHandle) {
  Observations seen;
  Started started = Start(seen, 1);
  ASSERT_TRUE(PostThreadMessage(started.id, kQuitMessage, 16, 0));
  ASSERT_TRUE(started.handle->WaitForEnd(std::chrono::seconds(30)));
  EXPECT_TRUE(seen.exited.load());
  EXPECT_TRUE(seen.destroyed.load());
  EXPECT_EQ(started.handle->ExitCode(), 16);
  // The queue went with the thread.
  EXPECT_FALSE(PostThreadMessage(started.id, kRecord, 0, 0));
}

TEST(WorkerThread, PreTranslateCanConsumeAndUnmappedMessagesAreIgnored) {
  Observations seen;
  Started started = Start(seen, 1);
  PostThreadMessage(started.id, kSwallowed, 1, 0);
  PostThreadMessage(started.id, kUnmapped, 2, 0);
  PostThreadMessage(started.id, kRecord, 3, 0);
  PostThreadMessage(started.id, kQuitMessage, 0, 0);
  ASSERT_TRUE(started.handle->WaitForEnd(std::chrono::seconds(30)));
  EXPECT_EQ(seen.handled, (std::vector<WParam>{3}));
}

TEST(WorkerThread, IdleStepsCountUpAndRestartAfterAMessage) {
  Observations seen;
  Started started = Start(seen, 3);
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> lock(seen.mutex);
    return seen.idleCounts.size() >= 3;
  }));
  PostThreadMessage(started.id, kKickIdleMessage, 0, 0);
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> lock(seen.mutex);
    return seen.idleCounts.size() >= 6;
  }));
  PostThreadMessage(started.id, kQuitMessage, 0, 0);
  ASSERT_TRUE(started.handle->WaitForEnd(std::chrono::seconds(30)));
  EXPECT_EQ(seen.idleCounts, (std::vector<long>{0, 1, 2, 0, 1, 2}));
  EXPECT_TRUE(seen.handled.empty());
}

double ThreadCpuSeconds(pthread_t thread) {
  clockid_t clock;
  if (pthread_getcpuclockid(thread, &clock) != 0) return -1;
  timespec used{};
  clock_gettime(clock, &used);
  return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) * 1e-9;
}

TEST(WorkerThread, AWorkerWithoutIdleWorkWaitsWithoutUsingTheProcessor) {
  Observations seen;
  Started started = Start(seen, 1, ThreadPriority::kTimeCritical);
  ASSERT_TRUE(WaitUntil([&] { return seen.initialised.load(); }));
  const double before = ThreadCpuSeconds(seen.thread.load());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const double used = ThreadCpuSeconds(seen.thread.load()) - before;
  // A spinning loop would use most of the 200 ms; a waiting one next to nothing.
  EXPECT_LT(used, 0.1);
  PostThreadMessage(started.id, kRecord, 1, 0);
  PostThreadMessage(started.id, kQuitMessage, 0, 0);
  ASSERT_TRUE(started.handle->WaitForEnd(std::chrono::seconds(30)));
  EXPECT_EQ(seen.handled, (std::vector<WParam>{1}));
}

}  // namespace
}  // namespace torva::platform
