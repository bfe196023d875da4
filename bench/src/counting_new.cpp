// The global operator new of the bench's variant of the bridge program: every call is counted, and
// from start-up on the count lives in the file that the bench names (allocation_count.hpp), where
// the bench reads it. Linked only into that variant, never into the program itself.

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "bench/src/allocation_count.hpp"

namespace {

using Counter = std::atomic<std::uint64_t>;
static_assert(Counter::is_always_lock_free, "the counter is shared with another process");

// Where calls are counted until the shared counter is mapped, and when there is none.
Counter own_count{0};
Counter* count = &own_count;

// Runs before main, while the program has one thread.
__attribute__((constructor)) void map_shared_count() {
  const char* path = std::getenv(bench::kAllocationCountVariable);
  if (path == nullptr) return;
  const int fd = ::open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) return;
  void* shared = ::mmap(nullptr, bench::kAllocationCountBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (shared == MAP_FAILED) return;
  auto* counter = static_cast<Counter*>(shared);
  counter->store(own_count.load());
  count = counter;
}

void* counted(std::size_t size) {
  count->fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}

void* counted_aligned(std::size_t size, std::align_val_t alignment) {
  count->fetch_add(1, std::memory_order_relaxed);
  const auto align = static_cast<std::size_t>(alignment);
  // aligned_alloc wants a size that is a multiple of the alignment.
  return std::aligned_alloc(align, (size + align - 1) / align * align);
}

}  // namespace

// The array and nothrow forms of the library call these.
void* operator new(std::size_t size) {
  if (void* p = counted(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  if (void* p = counted_aligned(size, alignment)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return counted(size); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return counted_aligned(size, alignment);
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return operator new(size, alignment); }

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
