#pragma once
// The test program's operator new notes the largest single request while a probe lives, so that a
// test can check that malformed input is refused before anything is allocated for it; a probe made
// with a largest allowed size also fails every larger request with std::bad_alloc, as exhausted
// memory would. (Kept in a file of its own: where operator delete is visible beside inlined
// allocations, the compiler takes its free() for a mismatch.)

#include <cstddef>
#include <limits>

namespace SabloDigitalDevice {

class AllocationProbe {
 public:
  explicit AllocationProbe(std::size_t largestAllowed = std::numeric_limits<std::size_t>::max());
  ~AllocationProbe();
  AllocationProbe(const AllocationProbe&) = delete;
  AllocationProbe& operator=(const AllocationProbe&) = delete;
  std::size_t Largest() const;
  // Allocations made (by any thread) since the probe was made.
  std::size_t Count() const;
};

}  // namespace SabloDigitalDevice
