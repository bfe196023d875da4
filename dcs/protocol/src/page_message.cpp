#include "dcs/protocol/src/page_message.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <system_error>
#include <utility>

#include <nlohmann/json.hpp>

#include "core/base/src/clip.hpp"
#include "dcs/protocol/src/strict_json.hpp"

namespace protocol {
namespace {

using nlohmann::json;

// The message types and their allowed fields, in the order in which a missing one is named.
struct MessageType {
  std::string_view word;
  std::array<std::string_view, 3> fields;
  std::size_t field_count;
};

constexpr std::array<MessageType, 4> kMessageTypes = {{
    {"subscribe", {"type", "sim", "keys"}, 3},
    {"writes", {"type", "sim", "writes"}, 3},
    {"ticks", {"type", "on"}, 2},
    {"openRepair", {"type"}, 1},
}};

const MessageType* find_type(std::string_view word) {
  for (const MessageType& type : kMessageTypes)
    if (type.word == word) return &type;
  return nullptr;
}

bool allows(const MessageType& type, std::string_view key) {
  for (std::size_t i = 0; i < type.field_count; ++i)
    if (type.fields[i] == key) return true;
  return false;
}

bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return is_lower(c) || (c >= 'A' && c <= 'Z'); }

template <typename Pred>
bool all_of_nonempty(std::string_view text, Pred pred) {
  if (text.empty()) return false;
  for (char c : text)
    if (!pred(c)) return false;
  return true;
}

// The address of a read key: letters, digits, "." and "_", and the escapes "%20" and "%25".
bool is_address(std::string_view address) {
  if (address.empty()) return false;
  for (std::size_t i = 0; i < address.size();) {
    const char c = address[i];
    if (is_letter(c) || is_digit(c) || c == '.' || c == '_') {
      ++i;
    } else if (c == '%' && (address.substr(i + 1, 2) == "20" || address.substr(i + 1, 2) == "25")) {
      i += 3;
    } else {
      return false;
    }
  }
  return true;
}

// channel:[device:]address, split at the first colon and then at the next one.
bool is_read_key(std::string_view key) {
  const std::size_t colon = key.find(':');
  if (colon == std::string_view::npos) return false;
  if (!all_of_nonempty(key.substr(0, colon), is_lower)) return false;
  std::string_view rest = key.substr(colon + 1);
  const std::size_t second = rest.find(':');
  if (second != std::string_view::npos) {
    if (!all_of_nonempty(rest.substr(0, second), is_digit)) return false;
    rest = rest.substr(second + 1);
  }
  return is_address(rest);
}

bool is_element(std::string_view element) {
  return all_of_nonempty(element, [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x21 && byte <= 0x7E;
  });
}

const json* member(const json& object, std::string_view key) {
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

const std::string* string_member(const json& object, std::string_view key) {
  const json* value = member(object, key);
  return value != nullptr && value->is_string() ? &value->get_ref<const std::string&>() : nullptr;
}

WriteItemError item_error(WriteError error) { return WriteItemError{std::move(error)}; }

}  // namespace

std::expected<PageMessage, PageMessageError> PageMessage::parse(std::string_view text) {
  using E = PageMessageError;
  const std::optional<json> doc = strict_json::parse(text);
  if (!doc) return std::unexpected(E{E::NotJson{}});
  if (!doc->is_object()) return std::unexpected(E{E::NotObject{}});

  const std::string* type_text = string_member(*doc, "type");
  if (type_text == nullptr) return std::unexpected(E{E::NoTypeString{}});
  const MessageType* type = find_type(*type_text);
  if (type == nullptr) return std::unexpected(E{E::UnknownType{base::clip(*type_text)}});

  // The object's keys come in ascending byte order, so the first unknown one in that order is named.
  for (const auto& [key, value] : doc->get_ref<const json::object_t&>()) {
    if (!allows(*type, key)) return std::unexpected(E{E::UnknownField{type->word, base::clip(key)}});
  }
  for (std::size_t i = 0; i < type->field_count; ++i) {
    if (member(*doc, type->fields[i]) == nullptr)
      return std::unexpected(E{E::MissingField{type->word, type->fields[i]}});
  }
  if (allows(*type, "sim")) {
    const std::string* sim = string_member(*doc, "sim");
    if (sim == nullptr || *sim != "dcs") return std::unexpected(E{E::WrongSim{type->word}});
  }

  if (type->word == "writes") {
    auto writes = page_message::parse_writes(doc->at("writes"));
    if (!writes) return std::unexpected(E{std::move(writes.error())});
    return PageMessage{Writes{std::move(*writes)}};
  }
  if (type->word == "ticks") {
    const json& on = doc->at("on");
    if (!on.is_boolean()) return std::unexpected(E{E::TicksOnNotBoolean{}});
    return PageMessage{Ticks{on.get<bool>()}};
  }
  if (type->word == "subscribe") {
    auto line = page_message::read_line(doc->at("keys"));
    if (!line) return std::unexpected(E{std::move(line.error())});
    return PageMessage{Subscribe{std::move(*line)}};
  }
  return PageMessage{OpenRepair{}};
}

std::string CollectorWrite::to_line() const {
  if (const auto* click = std::get_if<Clickable>(&kind)) {
    std::string line = "clickable ";
    line += std::to_string(click->device);
    line += ':';
    line += std::to_string(click->command);
    line += ' ';
    line += page_message::collector_number(click->value);
    return line;
  }
  const auto& highlight = std::get<Highlight>(kind);
  std::string line = "highlight ";
  line += highlight.element;
  line += ' ';
  line += page_message::collector_number(highlight.seconds);
  return line;
}

std::optional<CollectorPacket> CollectorPacket::from_datagram(std::string_view bytes) {
  // The JSON rules include valid UTF-8, so this is the whole packet rule.
  if (!strict_json::is_object(bytes)) return std::nullopt;
  return CollectorPacket(bytes);
}

namespace page_message {

std::expected<ReadLine, SubscribeError> read_line(const json& keys) {
  using E = SubscribeError;
  if (!keys.is_array()) return std::unexpected(E{E::KeysNotList{}});
  if (keys.empty()) return ReadLine::default_line();
  for (const json& key : keys)
    if (!key.is_string()) return std::unexpected(E{E::KeyNotString{}});

  std::string line = "read";
  for (const json& element : keys) {
    const std::string& key = element.get_ref<const std::string&>();
    if (!is_read_key(key)) return std::unexpected(E{ReadKeyError{ReadKeyError::BadKey{base::clip(key)}}});
    if (line.size() + 1 + key.size() > kMaxLineBytes)
      return std::unexpected(E{ReadKeyError{ReadKeyError::LineTooLong{keys.size()}}});
    line += ' ';
    line += key;
  }
  return ReadLine{std::move(line)};
}

std::expected<std::vector<CollectorWrite>, WritesError> parse_writes(const json& writes) {
  using E = WritesError;
  if (!writes.is_array()) return std::unexpected(E{E::NotList{}});
  if (writes.size() > kMaxWritesPerMessage) return std::unexpected(E{E::TooMany{writes.size()}});
  std::vector<CollectorWrite> out;
  out.reserve(writes.size());
  for (std::size_t i = 0; i < writes.size(); ++i) {
    auto write = parse_write(writes[i]);
    if (!write) return std::unexpected(E{E::BadWrite{i, std::move(write.error())}});
    out.push_back(std::move(*write));
  }
  return out;
}

std::expected<CollectorWrite, WriteItemError> parse_write(const json& write) {
  using E = WriteItemError;
  if (!write.is_object()) return std::unexpected(E{E::NotObject{}});
  const std::string* channel = string_member(write, "channel");
  if (channel == nullptr) return std::unexpected(E{E::NotString{"channel"}});
  const std::string* address = string_member(write, "address");
  if (address == nullptr) return std::unexpected(E{E::NotString{"address"}});
  const json* value_json = member(write, "value");
  if (value_json == nullptr || !value_json->is_number())
    return std::unexpected(E{E::NotNumber{"value"}});
  const double value = value_json->get<double>();

  CollectorWrite result;
  if (*channel == "clickable") {
    const std::string* device_text = string_member(write, "device");
    if (device_text == nullptr) return std::unexpected(E{E::NotString{"device"}});
    std::optional<double> release_value;
    if (const json* release = member(write, "releaseValue")) {
      if (!release->is_number()) return std::unexpected(E{E::NotNumber{"releaseValue"}});
      release_value = release->get<double>();
    }
    const auto device = parse_decimal_id(*device_text, IdField::Device);
    if (!device) return std::unexpected(item_error(device.error()));
    const auto command = parse_decimal_id(*address, IdField::Command);
    if (!command) return std::unexpected(item_error(command.error()));
    if (*command < kMinCommand)
      return std::unexpected(item_error(WriteError{WriteError::CommandTooLow{*command}}));
    if (!std::isfinite(value))
      return std::unexpected(item_error(WriteError{WriteError::NotFinite{false}}));
    if (release_value && !std::isfinite(*release_value))
      return std::unexpected(item_error(WriteError{WriteError::NotFinite{true}}));
    result.kind = Clickable{*device, *command, value, release_value};
  } else if (*channel == "highlight") {
    if (!is_element(*address))
      return std::unexpected(item_error(WriteError{WriteError::BadElement{base::clip(*address)}}));
    // Written so that a NaN is refused too.
    if (!(value > 0 && value <= kMaxHighlightSeconds))
      return std::unexpected(item_error(WriteError{WriteError::SecondsOutOfRange{value}}));
    result.kind = Highlight{value, *address};
  } else {
    return std::unexpected(E{E::UnsupportedChannel{base::clip(*channel)}});
  }

  auto checked = check_write_line(std::move(result));
  if (!checked) return std::unexpected(item_error(std::move(checked.error())));
  return std::move(*checked);
}

std::expected<std::uint32_t, WriteError> parse_decimal_id(std::string_view text, IdField field) {
  const auto refuse = [&] {
    return std::unexpected(WriteError{WriteError::NotDecimalId{field, base::clip(text)}});
  };
  if (!all_of_nonempty(text, is_digit)) return refuse();
  if (text.size() > 1 && text.front() == '0') return refuse();
  if (text.size() > 10) return refuse();  // more digits than 4294967295 has
  std::uint64_t id = 0;
  for (char c : text) id = id * 10 + static_cast<std::uint64_t>(c - '0');
  if (id > 0xFFFF'FFFFu) return refuse();
  return static_cast<std::uint32_t>(id);
}

std::expected<CollectorWrite, WriteError> check_write_line(CollectorWrite write) {
  if (write.to_line().size() > kMaxLineBytes)
    return std::unexpected(WriteError{WriteError::LineTooLong{}});
  return write;
}

std::string collector_number(double value) {
  if (value == 0) return "0";  // also -0
  // Write lines are checked for finite numbers before they are built; an error text may still
  // show a non-finite value, which has no exponent to lay out.
  if (!std::isfinite(value)) return std::isnan(value) ? "NaN" : value > 0 ? "inf" : "-inf";
  // The shortest digits that read back as the same double, in scientific form ("1.25e+02"), then
  // laid out without the exponent. std::to_chars with chars_format::fixed is no help here: for
  // large values it writes every digit of the exact binary value (1.2345678901234568e20 would
  // come out as 123456789012345683968, not 123456789012345680000).
  std::array<char, 32> buffer;
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::scientific);
  if (result.ec != std::errc()) return "0";  // cannot happen with this buffer
  const std::string_view text(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));

  const bool negative = text.front() == '-';
  const std::size_t e_at = text.find('e');
  std::string digits;
  for (char c : text.substr(negative ? 1 : 0, e_at - (negative ? 1 : 0)))
    if (c != '.') digits += c;
  int exponent = 0;
  std::from_chars(text.data() + e_at + (text[e_at + 1] == '+' ? 2 : 1), text.data() + text.size(),
                  exponent);

  std::string out = negative ? "-" : "";
  if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
    return out;
  }
  const auto integral = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= integral) {
    out += digits;
    out.append(integral - digits.size(), '0');
  } else {
    out.append(digits, 0, integral);
    out += '.';
    out.append(digits, integral, std::string::npos);
  }
  return out;
}

std::string data_message(const CollectorPacket& packet) {
  constexpr std::string_view kHead = R"({"type":"data","sim":"dcs","data":)";
  std::string out;
  out.reserve(kHead.size() + packet.text().size() + 1);
  out += kHead;
  out += packet.text();
  out += '}';
  return out;
}

std::string hello_message(std::string_view bridge_version, const DcsStatus& status) {
  json dcs = json::object();
  dcs["installState"] = install::wire_word(status.install_state);
  dcs["installedCollectorVersion"] = status.installed_collector_version
                                         ? json(*status.installed_collector_version)
                                         : json(nullptr);
  dcs["isCollectorQuiet"] = status.is_collector_quiet;
  dcs["isSimulatorRunning"] = status.is_simulator_running;
  constexpr auto kReplace = json::error_handler_t::replace;

  std::string out = R"({"type":"hello","bridgeVersion":)";
  out += json(bridge_version).dump(-1, ' ', false, kReplace);
  out += R"(,"wireVersion":)";
  out += std::to_string(kWireVersion);
  out += R"(,"dcs":)";
  out += dcs.dump(-1, ' ', false, kReplace);
  out += '}';
  return out;
}

std::string tick_message(std::uint64_t ms) {
  std::string out = R"({"type":"tick","ms":)";
  out += std::to_string(ms);
  out += '}';
  return out;
}

}  // namespace page_message
}  // namespace protocol
