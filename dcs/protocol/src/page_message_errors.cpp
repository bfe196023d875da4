// The texts of the page message errors. They go into the relay's log lines; pages are never sent
// them.

#include <cmath>
#include <string>
#include <variant>

#include "dcs/protocol/src/page_message.hpp"

namespace protocol {
namespace {

template <typename... Fs>
struct Overloaded : Fs... {
  using Fs::operator()...;
};

std::string cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view part : parts) out += part;
  return out;
}

std::string number(std::size_t n) { return std::to_string(n); }

}  // namespace

std::string WriteError::fmt() const {
  return std::visit(
      Overloaded{
          [](const NotDecimalId& e) {
            return cat({e.field == IdField::Device ? "device " : "command ", e.text,
                        " is not a decimal id with no leading zero"});
          },
          [](const CommandTooLow& e) {
            return cat({"command ", number(e.command), " is not at least ", number(kMinCommand)});
          },
          [](const NotFinite& e) -> std::string {
            return e.release_value ? "releaseValue must be a finite number"
                                   : "value must be a finite number";
          },
          [](const BadElement& e) {
            return cat({"highlight ", e.element, ": element must be one token of printable ASCII"});
          },
          [](const SecondsOutOfRange& e) {
            // The shortest form of the page's number; unlike a collector line, -0 stays "-0".
            const std::string seconds = e.seconds == 0 && std::signbit(e.seconds)
                                            ? "-0"
                                            : page_message::collector_number(e.seconds);
            return cat({"highlight seconds ", seconds,
                        " are not in (0, ", page_message::collector_number(kMaxHighlightSeconds),
                        "]"});
          },
          [](const LineTooLong&) {
            return cat({"write line is over the ", number(kMaxLineBytes), " byte limit"});
          },
      },
      kind);
}

std::string WriteItemError::fmt() const {
  return std::visit(
      Overloaded{
          [](const NotObject&) -> std::string { return "not an object"; },
          [](const NotString& e) { return cat({e.field, " must be a string"}); },
          [](const NotNumber& e) { return cat({e.field, " must be a number"}); },
          [](const UnsupportedChannel& e) {
            return cat({"channel ", e.channel, " is not supported by the collector"});
          },
          [](const WriteError& e) { return e.fmt(); },
      },
      kind);
}

std::string WritesError::fmt() const {
  return std::visit(
      Overloaded{
          [](const NotList&) -> std::string { return "writes must be a list"; },
          [](const TooMany& e) {
            return cat({number(e.count), " writes in one message, over the limit of ",
                        number(kMaxWritesPerMessage)});
          },
          [](const BadWrite& e) { return cat({"write ", number(e.index), ": ", e.error.fmt()}); },
      },
      kind);
}

std::string ReadKeyError::fmt() const {
  return std::visit(
      Overloaded{
          [](const BadKey& e) { return cat({"read key ", e.key, " is not channel:[device:]address"}); },
          [](const LineTooLong& e) {
            return cat({"read line for ", number(e.key_count), " keys is over the ",
                        number(kMaxLineBytes), " byte limit"});
          },
      },
      kind);
}

std::string SubscribeError::fmt() const {
  return std::visit(
      Overloaded{
          [](const KeysNotList&) -> std::string { return "subscribe's keys must be a list"; },
          [](const KeyNotString&) -> std::string { return "every subscribe key must be a string"; },
          [](const ReadKeyError& e) { return e.fmt(); },
      },
      kind);
}

std::string PageMessageError::fmt() const {
  return std::visit(
      Overloaded{
          [](const NotJson&) -> std::string { return "message is not JSON"; },
          [](const NotObject&) -> std::string { return "message is not a JSON object"; },
          [](const NoTypeString&) -> std::string { return "message has no type string"; },
          [](const UnknownType& e) { return cat({"message has an unknown type ", e.type}); },
          [](const MissingField& e) { return cat({e.type, " is missing its ", e.field}); },
          [](const UnknownField& e) { return cat({e.type, " has an unknown field ", e.field}); },
          [](const WrongSim& e) { return cat({e.type, R"( must have sim "dcs")"}); },
          [](const SubscribeError& e) { return e.fmt(); },
          [](const WritesError& e) { return e.fmt(); },
          [](const TicksOnNotBoolean&) -> std::string { return "ticks' on must be true or false"; },
      },
      kind);
}

}  // namespace protocol
