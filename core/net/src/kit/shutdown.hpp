#pragma once

#include <mutex>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/execution_context.hpp>

namespace net::kit {

class ShutdownService;

// Something of the kit that must be let go of when its runtime's io_context shuts down.
//
// A task waiting in a kit primitive is held by a completion handler stored in the primitive, and
// the primitive's state is usually owned by that very task: a cycle that Asio's own shutdown cannot
// see. Left alone, its work guard keeps a Windows io_context from ever finishing its destruction,
// and elsewhere the task's frames (and all they own) leak. So the kit's pending waits and open
// cross-thread channels join the shutdown of their io_context while they are pending or open, and
// the io_context's shutdown lets go of them as Asio's services do of their pending operations.
//
// Joining and leaving happen on the runtime thread, or before the object is shared with it.
class ShutdownHook {
 public:
  ShutdownHook(const ShutdownHook&) = delete;
  ShutdownHook& operator=(const ShutdownHook&) = delete;

 protected:
  ShutdownHook() = default;
  // The owner leaves before it goes (leave_shutdown), whenever it has joined.
  ~ShutdownHook() = default;

  // Joins the shutdown of the io_context behind `executor`; false when that io_context has shut
  // down already (nothing is joined then).
  bool join_shutdown(const boost::asio::any_io_executor& executor);
  // Leaves it again; nothing when not joined, also when the shutdown took this hook already. Only
  // while the io_context is still there, which holds whenever this hook has joined since the last
  // shutdown.
  void leave_shutdown() noexcept;

 private:
  friend class ShutdownService;

  // Called once for each joining, by the shutdown, after it has taken this hook out. Lets go of
  // whatever keeps tasks of the runtime alive, without running any of them. What it lets go of may
  // destroy this object, so it touches nothing of it afterwards.
  virtual void on_shutdown() noexcept = 0;

  ShutdownService* home_ = nullptr;  // found at the first joining and kept
  bool joined_ = false;              // guarded by the service's mutex
  ShutdownHook* previous_ = nullptr;
  ShutdownHook* next_ = nullptr;
};

// The io_context service that keeps the joined hooks and lets go of them at shutdown.
class ShutdownService final : public boost::asio::execution_context::service {
 public:
  using key_type = ShutdownService;
  static boost::asio::execution_context::id id;

  explicit ShutdownService(boost::asio::execution_context& context);
  ~ShutdownService() override;

 private:
  friend class ShutdownHook;

  bool add(ShutdownHook& hook);
  void remove(ShutdownHook& hook) noexcept;
  void shutdown() override;

  std::mutex mutex_;
  ShutdownHook* first_ = nullptr;
  ShutdownHook* last_ = nullptr;
  bool shut_down_ = false;
};

}  // namespace net::kit
