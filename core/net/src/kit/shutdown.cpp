#include "core/net/src/kit/shutdown.hpp"

#include <boost/asio/execution/context.hpp>
#include <boost/asio/query.hpp>

namespace net::kit {

namespace asio = boost::asio;

asio::execution_context::id ShutdownService::id;

bool ShutdownHook::join_shutdown(const asio::any_io_executor& executor) {
  if (!home_) home_ = &asio::use_service<ShutdownService>(asio::query(executor, asio::execution::context));
  return home_->add(*this);
}

void ShutdownHook::leave_shutdown() noexcept {
  if (home_) home_->remove(*this);
}

ShutdownService::ShutdownService(asio::execution_context& context) : asio::execution_context::service(context) {}

ShutdownService::~ShutdownService() = default;

bool ShutdownService::add(ShutdownHook& hook) {
  std::lock_guard lock(mutex_);
  if (shut_down_) return false;
  if (hook.joined_) return true;
  hook.joined_ = true;
  hook.previous_ = last_;
  hook.next_ = nullptr;
  (last_ ? last_->next_ : first_) = &hook;
  last_ = &hook;
  return true;
}

void ShutdownService::remove(ShutdownHook& hook) noexcept {
  std::lock_guard lock(mutex_);
  if (!hook.joined_) return;
  hook.joined_ = false;
  (hook.previous_ ? hook.previous_->next_ : first_) = hook.next_;
  (hook.next_ ? hook.next_->previous_ : last_) = hook.previous_;
  hook.previous_ = hook.next_ = nullptr;
}

void ShutdownService::shutdown() {
  // One hook at a time, in the order they joined: letting go of one may destroy others, which
  // leave meanwhile, and nothing may join any more.
  for (;;) {
    ShutdownHook* hook = nullptr;
    {
      std::lock_guard lock(mutex_);
      shut_down_ = true;
      hook = first_;
      if (!hook) return;
      hook->joined_ = false;
      first_ = hook->next_;
      (first_ ? first_->previous_ : last_) = nullptr;
      hook->previous_ = hook->next_ = nullptr;
    }
    hook->on_shutdown();
  }
}

}  // namespace net::kit
