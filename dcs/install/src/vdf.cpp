#include "dcs/install/src/vdf.hpp"

#include <memory>
#include <optional>
#include <utility>

#include "dcs/install/src/unicode.hpp"

namespace machine {
namespace {

constexpr std::size_t kMaxText = 1'048'576;
constexpr int kMaxDepth = 8;

// A block holds pairs whose values may be blocks again. The pair is a struct of its own because
// std::pair may not hold the still incomplete Value (under clang the library's checks refuse it).
struct Pair;
using Pairs = std::vector<Pair>;
struct Value {
  bool is_block = false;
  std::u32string text;
  Pairs block;
};
struct Pair {
  std::u32string key;
  Value value;
};

struct Token {
  enum Kind { Text, Open, Close, End } kind;
  std::u32string value;
};

class Parser {
 public:
  explicit Parser(std::u32string_view text) : s_(text) {}

  // The top-level pairs of the whole text, or none at the first error.
  std::optional<Pairs> parse() {
    Pairs top;
    for (;;) {
      std::optional<Token> key = next();
      if (!key) return std::nullopt;
      if (key->kind == Token::End) return top;
      if (key->kind != Token::Text) return std::nullopt;
      std::optional<Value> value = parse_value(1);
      if (!value) return std::nullopt;
      top.push_back(Pair{std::move(key->value), std::move(*value)});
    }
  }

 private:
  std::optional<Value> parse_value(int depth) {
    std::optional<Token> t = next();
    if (!t) return std::nullopt;
    if (t->kind == Token::Text) return Value{false, std::move(t->value), {}};
    if (t->kind != Token::Open || depth > kMaxDepth) return std::nullopt;
    Value block{true, {}, {}};
    for (;;) {
      std::optional<Token> key = next();
      if (!key) return std::nullopt;
      if (key->kind == Token::Close) return block;
      if (key->kind != Token::Text) return std::nullopt;
      std::optional<Value> value = parse_value(depth + 1);
      if (!value) return std::nullopt;
      block.block.push_back(Pair{std::move(key->value), std::move(*value)});
    }
  }

  void skip_space_and_comments() {
    for (;;) {
      while (i_ < s_.size() && is_white_space(s_[i_])) ++i_;
      if (i_ + 1 < s_.size() && s_[i_] == U'/' && s_[i_ + 1] == U'/') {
        while (i_ < s_.size() && s_[i_] != U'\n') ++i_;
        continue;
      }
      return;
    }
  }

  std::optional<Token> next() {
    skip_space_and_comments();
    if (i_ >= s_.size()) return Token{Token::End, {}};
    const char32_t c = s_[i_++];
    if (c == U'{') return Token{Token::Open, {}};
    if (c == U'}') return Token{Token::Close, {}};
    if (c != U'"') return std::nullopt;
    std::u32string value;
    while (i_ < s_.size()) {
      char32_t d = s_[i_++];
      if (d == U'"') return Token{Token::Text, std::move(value)};
      if (d == U'\\') {
        if (i_ >= s_.size()) return std::nullopt;
        d = s_[i_++];
        if (d == U'n') d = U'\n';
        else if (d == U't') d = U'\t';
      }
      value.push_back(d);
    }
    return std::nullopt;  // the text ended inside a quoted text
  }

  std::u32string_view s_;
  std::size_t i_ = 0;
};

bool key_is(const std::u32string& key, std::string_view ascii_word) {
  if (key.size() != ascii_word.size()) return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    char32_t k = key[i];
    if (k >= U'A' && k <= U'Z') k += 32;
    if (k != static_cast<unsigned char>(ascii_word[i])) return false;
  }
  return true;
}

const Value* first_with_key(const Pairs& pairs, std::string_view ascii_word) {
  for (const auto& [key, value] : pairs)
    if (key_is(key, ascii_word)) return &value;
  return nullptr;
}

}  // namespace

std::vector<std::string> parse_library_folders(std::string_view bytes) {
  std::vector<std::string> libraries;
  if (bytes.size() > kMaxText) return libraries;  // decoding never makes a text shorter
  std::u32string text = decode_utf8(bytes);
  if (encode_utf8(text).size() > kMaxText) return libraries;
  std::u32string_view view = text;
  if (bytes.starts_with("\xEF\xBB\xBF")) view.remove_prefix(1);
  std::optional<Pairs> top = Parser(view).parse();
  if (!top) return libraries;
  const Value* folders = first_with_key(*top, "libraryfolders");
  if (!folders || !folders->is_block) return libraries;
  for (const auto& [key, library] : folders->block) {
    if (!library.is_block) continue;
    const Value* path = first_with_key(library.block, "path");
    const Value* apps = first_with_key(library.block, "apps");
    if (!path || path->is_block || !apps || !apps->is_block) continue;
    bool has_dcs = false;
    for (const auto& [app, ignored] : apps->block)
      if (app == U"223750") has_dcs = true;
    if (has_dcs) libraries.push_back(encode_utf8(path->text));
  }
  return libraries;
}

}  // namespace machine
