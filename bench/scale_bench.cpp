// 25 emulated amplifiers at 3000 samples/s, the consumer draining frames on the data-ready
// message: prints dropped samples, ring overruns, rows whose amplifiers disagree, counter gaps
// the process's CPU time per second of capture (user and system apart) and its wake-ups per
// packet (context switches of all threads over the amplifier packets received).
//   bench_scale [seconds=60] [amplifiers=25] [rate=3000]

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/bench_support.h"
#include "driver/api/usb_manager.h"
#include "driver/layout/TorvaFrameLayout.h"
#include "driver/device/amplifier_device.h"

using namespace torva;

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
  const int amplifiers = argc > 2 ? std::atoi(argv[2]) : 25;
  const int rate = argc > 3 ? std::atoi(argv[3]) : 3000;
  if (!bench::PrepareStreaming(amplifiers, rate)) return 1;
  CThreadManager& control = *CUSBManager::Instance().Control();

  const bench::ProcessUsage usageBefore = bench::ProcessUsage::Now();
  const auto begin = std::chrono::steady_clock::now();
  const auto end = begin + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                               std::chrono::duration<double>(seconds));
  fmBroadcastStart();
  long long frames = 0;
  long long misalignedRows = 0;
  long long gaps = 0;
  float previous = -1.0f;
  while (std::chrono::steady_clock::now() < end) {
    bench::WaitForDataReady(std::chrono::milliseconds(100));
    float* frame = nullptr;
    const TorvaFrameLayout layout = {TORVA_FORMAT_RECORDS, amplifiers};
    while (fmDLLTransferFloatData(&frame) > 0) {
      ++frames;
      for (int s = 0; s < 16; ++s) {
        const float counter = frame[torva_frame_counter(layout, s, 0)];
        for (int p = 1; p < amplifiers; ++p)
          if (frame[torva_frame_counter(layout, s, p)] != counter) {
            ++misalignedRows;
            break;
          }
        if (previous >= 0 && counter != previous + 1.0f) ++gaps;
        previous = counter;
      }
    }
  }
  fmBroadcastStop();
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  const bench::ProcessUsage used = bench::ProcessUsage::Now() - usageBefore;
  const double cpu = used.userSeconds + used.systemSeconds;
  const double packets = static_cast<double>(frames) * amplifiers;
  const int dropped = fmDLLGetDroppedDataCount();
  const int overruns = control.Assembler().Ring().Overruns();
  const double expectedFrames = elapsed * rate / 16.0;
  std::printf("amplifiers             %d at %d samples/s for %.1f s\n", amplifiers, rate, elapsed);
  std::printf("frames                 %lld (%.1f%% of %.0f expected)\n", frames,
              100.0 * static_cast<double>(frames) / expectedFrames, expectedFrames);
  std::printf("dropped samples        %d\n", dropped);
  std::printf("ring overruns          %d\n", overruns);
  std::printf("misaligned rows        %lld\n", misalignedRows);
  std::printf("counter gaps           %lld\n", gaps);
  std::printf("CPU per second         %.3f s (%.1f%% of one core)\n", cpu / elapsed,
              100.0 * cpu / elapsed);
  std::printf("  user / system        %.2f s / %.2f s\n", used.userSeconds, used.systemSeconds);
  std::printf("wake-ups per packet    %.2f (%lld context switches, %.0f packets)\n",
              packets > 0 ? static_cast<double>(used.contextSwitches) / packets : 0.0,
              used.contextSwitches, packets);
  bench::ShutDown();
  return dropped == 0 && overruns == 0 && misalignedRows == 0 && gaps == 0 ? 0 : 1;
}
