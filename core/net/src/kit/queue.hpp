#pragma once

#include "core/net/src/kit/channel.hpp"

namespace net::kit {

template <class T>
using Queue = Channel<T>;

}  // namespace net::kit
