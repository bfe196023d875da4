#pragma once

// The message model of both links of the relay: what a page may send and how it is checked, the
// texts the bridge sends to pages, the lines it sends to the collector and what a collector
// datagram must be. Pure functions of their arguments: no I/O, no clock, no state.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "dcs/protocol/src/install_status.hpp"

namespace protocol {

inline constexpr std::size_t kMaxLineBytes = 8000;       // one read line or write line
inline constexpr std::size_t kMaxWritesPerMessage = 32;  // 33 are refused
inline constexpr std::uint32_t kMinCommand = 3000;       // smallest command id of a clickable
inline constexpr double kMaxHighlightSeconds = 600;      // highlight seconds are in (0, 600]
inline constexpr int kWireVersion = 3;
inline constexpr std::string_view kDefaultReadKey = "loget:LoGetSelfData.Name";
inline constexpr std::string_view kDefaultReadLine = "read loget:LoGetSelfData.Name";

// The read request of all pages: "read" followed by a blank and a key for every subscribed key,
// at most kMaxLineBytes bytes.
struct ReadLine {
  std::string text;

  // The line read while nobody has subscribed to anything: "read loget:LoGetSelfData.Name".
  static ReadLine default_line() { return ReadLine{std::string(kDefaultReadLine)}; }
  bool operator==(const ReadLine&) const = default;
};

// A press of a cockpit control: the device's command with a value; with a release value, the
// press is held and later released with that value.
struct Clickable {
  std::uint32_t device = 0;
  std::uint32_t command = 0;  // at least kMinCommand when it came from a page
  double value = 0;           // finite
  std::optional<double> release_value;  // finite when present
  bool operator==(const Clickable&) const = default;
};

// A cockpit element highlighted for some seconds.
struct Highlight {
  double seconds = 0;   // in (0, kMaxHighlightSeconds]
  std::string element;  // one or more bytes from 0x21 to 0x7E
  bool operator==(const Highlight&) const = default;
};

// One cockpit write of a page. One that came from a page has passed every check of parse_write,
// so its line fits in kMaxLineBytes.
struct CollectorWrite {
  std::variant<Clickable, Highlight> kind;

  // "clickable 25:3001 1" or "highlight X 2.5".
  std::string to_line() const;
  bool operator==(const CollectorWrite&) const = default;
};

// Which id field of a clickable a decimal id came from.
enum class IdField { Device, Command };

// A write whose fields have the right JSON types but wrong values.
struct WriteError {
  struct NotDecimalId {
    IdField field;
    std::string text;  // clipped
    bool operator==(const NotDecimalId&) const = default;
  };
  struct CommandTooLow {
    std::uint32_t command;
    bool operator==(const CommandTooLow&) const = default;
  };
  struct NotFinite {
    bool release_value;  // false: the value, true: the release value
    bool operator==(const NotFinite&) const = default;
  };
  struct BadElement {
    std::string element;  // clipped
    bool operator==(const BadElement&) const = default;
  };
  struct SecondsOutOfRange {
    double seconds;
    bool operator==(const SecondsOutOfRange&) const = default;
  };
  struct LineTooLong {
    bool operator==(const LineTooLong&) const = default;
  };

  std::variant<NotDecimalId, CommandTooLow, NotFinite, BadElement, SecondsOutOfRange, LineTooLong>
      kind;

  std::string fmt() const;
  bool operator==(const WriteError&) const = default;
};

// Why one element of a writes list was refused.
struct WriteItemError {
  struct NotObject {
    bool operator==(const NotObject&) const = default;
  };
  struct NotString {
    std::string_view field;  // "channel", "address" or "device"
    bool operator==(const NotString&) const = default;
  };
  struct NotNumber {
    std::string_view field;  // "value" or "releaseValue"
    bool operator==(const NotNumber&) const = default;
  };
  struct UnsupportedChannel {
    std::string channel;  // clipped
    bool operator==(const UnsupportedChannel&) const = default;
  };

  std::variant<NotObject, NotString, NotNumber, UnsupportedChannel, WriteError> kind;

  std::string fmt() const;
  bool operator==(const WriteItemError&) const = default;
};

struct WritesError {
  struct NotList {
    bool operator==(const NotList&) const = default;
  };
  struct TooMany {
    std::size_t count;
    bool operator==(const TooMany&) const = default;
  };
  struct BadWrite {
    std::size_t index;  // from 0
    WriteItemError error;
    bool operator==(const BadWrite&) const = default;
  };

  std::variant<NotList, TooMany, BadWrite> kind;

  std::string fmt() const;
  bool operator==(const WritesError&) const = default;
};

struct ReadKeyError {
  struct BadKey {
    std::string key;  // clipped
    bool operator==(const BadKey&) const = default;
  };
  struct LineTooLong {
    std::size_t key_count;  // keys in the whole message, not the position reached
    bool operator==(const LineTooLong&) const = default;
  };

  std::variant<BadKey, LineTooLong> kind;

  std::string fmt() const;
  bool operator==(const ReadKeyError&) const = default;
};

struct SubscribeError {
  struct KeysNotList {
    bool operator==(const KeysNotList&) const = default;
  };
  struct KeyNotString {
    bool operator==(const KeyNotString&) const = default;
  };

  std::variant<KeysNotList, KeyNotString, ReadKeyError> kind;

  std::string fmt() const;
  bool operator==(const SubscribeError&) const = default;
};

// Why a page's text was refused. The kinds are in the order in which parsing checks them.
struct PageMessageError {
  struct NotJson {
    bool operator==(const NotJson&) const = default;
  };
  struct NotObject {
    bool operator==(const NotObject&) const = default;
  };
  struct NoTypeString {
    bool operator==(const NoTypeString&) const = default;
  };
  struct UnknownType {
    std::string type;  // clipped
    bool operator==(const UnknownType&) const = default;
  };
  struct MissingField {
    std::string_view type;
    std::string_view field;
    bool operator==(const MissingField&) const = default;
  };
  struct UnknownField {
    std::string_view type;
    std::string field;  // clipped
    bool operator==(const UnknownField&) const = default;
  };
  struct WrongSim {
    std::string_view type;
    bool operator==(const WrongSim&) const = default;
  };
  struct TicksOnNotBoolean {
    bool operator==(const TicksOnNotBoolean&) const = default;
  };

  std::variant<NotJson, NotObject, NoTypeString, UnknownType, MissingField, UnknownField, WrongSim,
               SubscribeError, WritesError, TicksOnNotBoolean>
      kind;

  std::string fmt() const;
  bool operator==(const PageMessageError&) const = default;
};

// A checked message from a page.
struct PageMessage {
  struct Subscribe {
    ReadLine line;
    bool operator==(const Subscribe&) const = default;
  };
  struct Writes {
    std::vector<CollectorWrite> writes;  // 0 to kMaxWritesPerMessage, in the message's order
    bool operator==(const Writes&) const = default;
  };
  struct Ticks {
    bool on;
    bool operator==(const Ticks&) const = default;
  };
  struct OpenRepair {
    bool operator==(const OpenRepair&) const = default;
  };

  std::variant<Subscribe, Writes, Ticks, OpenRepair> kind;

  // Checks the text of one page message; the first failing check gives the error.
  static std::expected<PageMessage, PageMessageError> parse(std::string_view text);
  bool operator==(const PageMessage&) const = default;
};

// The text of a collector datagram that is valid UTF-8 holding exactly one JSON object. What the
// object holds is left to the collector and the pages. Views the datagram's bytes.
class CollectorPacket {
 public:
  static std::optional<CollectorPacket> from_datagram(std::string_view bytes);
  std::string_view text() const { return text_; }

 private:
  explicit CollectorPacket(std::string_view text) : text_(text) {}
  std::string_view text_;
};

// What a hello tells a page about DCS on this PC.
struct DcsStatus {
  install::InstallStatus install_state = install::InstallStatus::simulatorNotFound;
  std::optional<std::uint32_t> installed_collector_version;
  bool is_collector_quiet = true;
  bool is_simulator_running = false;
};

namespace page_message {

// The read line of a subscribe's `keys`.
std::expected<ReadLine, SubscribeError> read_line(const nlohmann::json& keys);

// The writes of a writes message's `writes`: all of them, or the error of the first bad one.
std::expected<std::vector<CollectorWrite>, WritesError> parse_writes(const nlohmann::json& writes);

// One element of a `writes` list.
std::expected<CollectorWrite, WriteItemError> parse_write(const nlohmann::json& write);

// A device or command id: 1 or more ASCII digits without a leading zero (except "0" itself), at
// most 4294967295.
std::expected<std::uint32_t, WriteError> parse_decimal_id(std::string_view text, IdField field);

// The write itself, or the line-too-long error when its line is over kMaxLineBytes.
std::expected<CollectorWrite, WriteError> check_write_line(CollectorWrite write);

// A number as the collector reads it: the shortest decimal form that reads back as the same
// 64-bit float, never with an exponent ("1e21" is written in full), without a fractional part when
// integral; 0 and -0 are both "0".
std::string collector_number(double value);

// {"type":"data","sim":"dcs","data":<the packet's text, byte for byte>}
std::string data_message(const CollectorPacket& packet);

// {"type":"hello","bridgeVersion":...,"wireVersion":3,"dcs":{...}}
std::string hello_message(std::string_view bridge_version, const DcsStatus& status);

// {"type":"tick","ms":<ms>}
std::string tick_message(std::uint64_t ms);

}  // namespace page_message
}  // namespace protocol
