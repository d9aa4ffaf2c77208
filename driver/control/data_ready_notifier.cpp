#include "driver/control/data_ready_notifier.h"

#include "driver/control/message_numbers.h"
#include "platform/thread_messages.h"
#include "platform/window_target.h"

namespace torva {

void DataReadyNotifier::NotifyThread(platform::ThreadId thread) {
  thread_ = thread;
  kind_ = static_cast<int>(NotifyTarget::kThread);
}

void DataReadyNotifier::NotifyWindow(platform::WindowHandle window) {
  window_ = window;
  kind_ = static_cast<int>(NotifyTarget::kWindow);
}

void DataReadyNotifier::Notify(int ringIndex) const {
  if (flag_.load() == 0) return;
  const auto index = static_cast<platform::WParam>(ringIndex);
  switch (Target()) {
    case NotifyTarget::kThread:
      platform::PostThreadMessage(thread_.load(), kMsgDataReadyThread, index, 0);
      break;
    case NotifyTarget::kWindow:
      platform::PostWindowMessage(window_.load(), kMsgDataReadyWindow, index, 0);
      break;
    case NotifyTarget::kNone:
      break;
  }
}

}  // namespace torva
