#pragma once

// What the collector link needs of the mode that runs it: where the hello's install and simulator
// facts come from, whom to tell about pages and the collector, and who opens the repair window.

#include <cstdint>
#include <optional>

#include "dcs/protocol/src/install_status.hpp"

namespace shuttle {

// The install facts a hello reports.
struct InstallSummary {
  install::InstallStatus status = install::InstallStatus::simulatorNotFound;
  std::optional<std::uint32_t> collector_version;  // of the installed collector, if any
  bool operator==(const InstallSummary&) const = default;
};

// Read for every hello and told when pages come and go and when the collector falls quiet or is
// heard again. Every call comes from the link's own runtime thread, between two of its inputs: an
// implementation must return promptly (a short lock, or a message to another thread) and must not
// wait for another task of that runtime.
class StatusSource {
 public:
  virtual ~StatusSource() = default;

  virtual InstallSummary status() = 0;
  virtual bool simulator_running() = 0;
  // True when the collector has fallen quiet, false when its packets arrive again.
  virtual void set_collector_quiet(bool quiet) = 0;
  // One more page is open.
  virtual void page_opened() = 0;
  // One page fewer is open: called once for every page that page_opened counted.
  virtual void page_closed() = 0;
};

// Called on the link's runtime thread when a page's request for the repair window was accepted.
class RepairOpener {
 public:
  virtual ~RepairOpener() = default;
  virtual void open() = 0;
};

}  // namespace shuttle
