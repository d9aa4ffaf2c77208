#pragma once
// Owns one reference to a GObject (a umockdev testbed, ioctl handler or ioctl data block) and
// drops it when destroyed.

#include <glib-object.h>

#include <utility>

namespace torva::e2e {

template <typename T>
class GObjectRef {
 public:
  GObjectRef() = default;
  // Takes over a reference the caller owns (what a *_new or *_resolve call returns).
  static GObjectRef Adopt(T* object) {
    GObjectRef ref;
    ref.object_ = object;
    return ref;
  }
  // Adds a reference of its own.
  static GObjectRef Share(T* object) {
    if (object != nullptr) g_object_ref(object);
    return Adopt(object);
  }

  GObjectRef(GObjectRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  GObjectRef& operator=(GObjectRef&& other) noexcept {
    if (this != &other) {
      Reset();
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  GObjectRef(const GObjectRef&) = delete;
  GObjectRef& operator=(const GObjectRef&) = delete;
  ~GObjectRef() { Reset(); }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  void Reset() {
    if (object_ != nullptr) g_object_unref(std::exchange(object_, nullptr));
  }

 private:
  T* object_ = nullptr;
};

}  // namespace torva::e2e
