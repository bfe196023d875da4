#pragma once

#include <cstdint>
#include <memory>

#include "dcs/install/src/machine.hpp"

// The real operating-system services. Built in the Windows build only.
namespace machine {

// A new bundle of the real services. They hold no state, so every bundle made sees the same
// machine and any number may be used at once (the monitor thread keeps one of its own).
Machine real_machine();

std::unique_ptr<FileSystem> real_file_system();

// The IoError of a Windows error code, with the system's message.
IoError system_error(std::uint32_t code);

}  // namespace machine
