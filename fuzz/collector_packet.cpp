// The collector packet rule: a datagram is a packet when it is UTF-8 holding exactly one JSON
// object.
//
// Properties: a datagram is a packet exactly when the strict reader reads an object from it; the
// packet's text is the datagram byte for byte; the data message that wraps it for the pages is
// itself a JSON object whose "data" member is the packet's value (read without the depth limit:
// the wrapper adds a level).

#include <nlohmann/json.hpp>

#include "dcs/protocol/src/page_message.hpp"
#include "dcs/protocol/src/strict_json.hpp"
#include "fuzz/fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace strict_json = protocol::strict_json;
  const std::string_view bytes = fuzz::bytes(data, size);
  const std::optional<protocol::CollectorPacket> packet =
      protocol::CollectorPacket::from_datagram(bytes);
  const std::optional<nlohmann::json> value = strict_json::parse(bytes);
  FUZZ_CHECK(packet.has_value() == (value && value->is_object()));
  if (!packet) return 0;

  FUZZ_CHECK(packet->text().data() == bytes.data() && packet->text() == bytes);
  const nlohmann::json message = nlohmann::json::parse(
      protocol::page_message::data_message(*packet), nullptr, /*allow_exceptions=*/false);
  FUZZ_CHECK(message.is_object() && message.size() == 3);
  FUZZ_CHECK(message.at("type") == "data" && message.at("sim") == "dcs");
  FUZZ_CHECK(message.at("data") == *value);
  return 0;
}
