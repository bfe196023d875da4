#pragma once

#include "core/net/src/kit/channel.hpp"

namespace net::kit {

template <class T>
using CrossChannel = Channel<T>;

}  // namespace net::kit
