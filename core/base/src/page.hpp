#pragma once

#include <cstdint>
#include <memory>
#include <string>

// What the page server and the relay state machine both name a page and its texts by.
namespace base {

// Names one page connection, counted from 1 by the accept loop.
using PageId = std::uint64_t;

// One immutable text that many pages share from one allocation (a data message, a tick).
using SharedText = std::shared_ptr<const std::string>;

}  // namespace base
