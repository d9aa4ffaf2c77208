#include "allocation_probe.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> watching{false};
std::atomic<std::size_t> largest{0};
std::atomic<std::size_t> allocations{0};
std::atomic<std::size_t> ceiling{0};
}  // namespace

void* operator new(std::size_t size) {
  if (watching.load()) {
    ++allocations;
    if (size > largest.load()) largest.store(size);
    if (size > ceiling.load()) throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace SabloDigitalDevice {

AllocationProbe::AllocationProbe(std::size_t largestAllowed) {
  largest.store(0);
  allocations.store(0);
  ceiling.store(largestAllowed);
  watching.store(true);
}
AllocationProbe::~AllocationProbe() { watching.store(false); }
std::size_t AllocationProbe::Largest() const { return largest.load(); }
std::size_t AllocationProbe::Count() const { return allocations.load(); }

}  // namespace SabloDigitalDevice
