#include "platform/window_target.h"

#include "platform/queue_registry.h"

namespace torva::platform {
namespace {

detail::QueueRegistry& WindowQueues() {
  static auto* registry = new detail::QueueRegistry;
  return *registry;
}

std::uint32_t IdOf(WindowHandle window) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window));
}

}  // namespace

WindowHandle CreateWindowTarget() {
  const std::uint32_t id = WindowQueues().Add(std::make_shared<MessageQueue>());
  return reinterpret_cast<WindowHandle>(static_cast<std::uintptr_t>(id));
}

bool DestroyWindowTarget(WindowHandle window) { return WindowQueues().Remove(IdOf(window)); }

bool PostWindowMessage(WindowHandle window, std::uint32_t message, WParam wParam, LParam lParam) {
  auto queue = WindowQueues().Find(IdOf(window));
  return queue && queue->Post(Message{message, wParam, lParam});
}

bool GetWindowMessage(WindowHandle window, Message& out, std::chrono::nanoseconds limit) {
  auto queue = WindowQueues().Find(IdOf(window));
  return queue && queue->WaitForMessage(limit) && queue->TryTake(out);
}

bool PeekWindowMessage(WindowHandle window, Message& out) {
  auto queue = WindowQueues().Find(IdOf(window));
  return queue && queue->TryTake(out);
}

}  // namespace torva::platform
