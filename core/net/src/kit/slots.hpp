#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <utility>

namespace net::kit {

// A fixed number of slots that are taken without waiting: the counting semaphore that Asio lacks,
// with try-only acquisition. Copies share the same slots; a permit gives its slot back when it goes,
// also after the `Slots` it came from are gone. Thread-safe.
class Slots {
  struct State {
    explicit State(std::size_t count) : free(count) {}
    std::atomic<std::size_t> free;
  };

 public:
  class Permit {
   public:
    Permit(Permit&& other) noexcept : state_(std::exchange(other.state_, nullptr)) {}
    Permit& operator=(Permit other) noexcept {
      std::swap(state_, other.state_);
      return *this;
    }
    ~Permit() { release(); }

    // Gives the slot back now rather than when the permit goes.
    void release() {
      if (state_) std::exchange(state_, nullptr)->free.fetch_add(1, std::memory_order_release);
    }
    bool held() const { return state_ != nullptr; }

   private:
    friend class Slots;
    explicit Permit(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
  };

  explicit Slots(std::size_t count) : state_(std::make_shared<State>(count)) {}

  // One slot, or nothing when all are taken.
  std::optional<Permit> try_take() const {
    std::size_t free = state_->free.load(std::memory_order_acquire);
    while (free > 0) {
      if (state_->free.compare_exchange_weak(free, free - 1, std::memory_order_acq_rel)) return Permit(state_);
    }
    return std::nullopt;
  }

  std::size_t available() const { return state_->free.load(std::memory_order_acquire); }

 private:
  std::shared_ptr<State> state_;
};

}  // namespace net::kit
