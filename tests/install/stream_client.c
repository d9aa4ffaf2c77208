/*
 * A lab's program as it is built against an installed driver library (pkg-config or CMake): it
 * brings the amplifiers up, streams from them, takes frames until it has kWantedFrames, checks that
 * the sample counters run on without a gap, stops and shuts the library down. It finds the counters
 * in a frame through the installed frame-layout header.
 * Exit status 0 when all of that worked; 1 with a message otherwise.
 */
#define _POSIX_C_SOURCE 200809L /* nanosleep */

#include <TorvaFrameLayout.h>
#include <TorvaUSBDevice.h>

#include <stdio.h>
#include <time.h>

enum {
  kAmplifiersReady = 2,     /* fmDLLIsDeviceInitComplete: bring-up finished with amplifiers */
  kUsbPacketBytes = 512,
  kWantedFrames = 40,
  kPollMilliseconds = 5,
  kLimitMilliseconds = 10000 /* for the bring-up, the frames and the shutdown, each */
};

static void SleepMilliseconds(long milliseconds) {
  struct timespec pause;
  pause.tv_sec = milliseconds / 1000;
  pause.tv_nsec = (milliseconds % 1000) * 1000000L;
  nanosleep(&pause, NULL);
}

/* Polls `done` every kPollMilliseconds; 0 when it was still false after kLimitMilliseconds. */
static int PollUntil(int (*done)(void)) {
  int waited;
  for (waited = 0; waited < kLimitMilliseconds; waited += kPollMilliseconds) {
    if (done()) return 1;
    SleepMilliseconds(kPollMilliseconds);
  }
  return done();
}

static int BringUpFinished(void) { return fmDLLIsDeviceInitComplete() != 0; }
static int ShutDownFinished(void) { return fmIsDLLShutDown() == 1; }

/* Takes frames until kWantedFrames have come or the limit passed; counts the sample counter's
 * gaps. Returns the frames taken. */
static int TakeFrames(int plates, int* gaps) {
  /* Format 2: per sample row the counter, six channels per plate and the auxiliary word. */
  const TorvaFrameLayout layout = {TORVA_FORMAT_ROWS, plates};
  float previous = -1.0f;
  int frames = 0;
  int waited;
  for (waited = 0; frames < kWantedFrames && waited < kLimitMilliseconds;
       waited += kPollMilliseconds) {
    float* frame = NULL;
    while (frames < kWantedFrames && fmDLLTransferFloatData(&frame) > 0) {
      int row;
      for (row = 0; row < TORVA_FRAME_ROWS; ++row) {
        const float counter = frame[torva_frame_counter(layout, row, 0)];
        if (previous >= 0.0f && counter != previous + 1.0f) ++*gaps;
        previous = counter;
      }
      ++frames;
    }
    SleepMilliseconds(kPollMilliseconds);
  }
  return frames;
}

int main(void) {
  int plates;
  int frames;
  int gaps = 0;
  int shutDown;

  if (fmDLLInit() != 1 || !PollUntil(BringUpFinished)) {
    fprintf(stderr, "stream_client: the library did not bring the amplifiers up\n");
    return 1;
  }
  plates = fmDLLGetDeviceCount();
  if (fmDLLIsDeviceInitComplete() != kAmplifiersReady || plates < 1) {
    fprintf(stderr, "stream_client: no amplifiers (bring-up state %d, %d amplifiers)\n",
            fmDLLIsDeviceInitComplete(), plates);
    fmDLLShutDown();
    return 1;
  }

  fmDLLSetUSBPacketSize(kUsbPacketBytes);
  fmDLLSetDataFormat(TORVA_FORMAT_ROWS);
  fmBroadcastStart();
  frames = TakeFrames(plates, &gaps);
  fmBroadcastStop();
  fmDLLShutDown();
  shutDown = PollUntil(ShutDownFinished);

  printf("stream_client: %d amplifiers, %d frames, %d counter gaps, dropped %d\n", plates, frames,
         gaps, fmDLLGetDroppedDataCount());
  if (frames != kWantedFrames || gaps != 0 || !shutDown) {
    fprintf(stderr, "stream_client: wanted %d frames without gaps and a shutdown%s\n",
            kWantedFrames, shutDown ? "" : " (the library did not shut down)");
    return 1;
  }
  return 0;
}
