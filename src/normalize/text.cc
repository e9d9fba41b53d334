// Token-level text steps: the token reader, white-space normalisation in its
// three modes, value case folding, nesting replacement and the top-level
// split. Each step walks the text once, left to right, copying strings,
// comments and escapes untouched.
#include <algorithm>
#include <string_view>

#include "base/unicode.h"
#include "normalize/normalize.h"
#include "normalize/token.h"

namespace zeviziz {
namespace {

bool is_hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

size_t string_length(std::string_view text, size_t pos) {
  const char quote = text[pos];
  size_t i = pos + 1;
  while (i < text.size()) {
    if (text[i] == '\\') {
      i = std::min(text.size(), i + 2);
    } else if (text[i++] == quote) {
      break;
    }
  }
  return i - pos;
}

size_t comment_length(std::string_view text, size_t pos) {
  const size_t end = text.find("*/", pos + 2);
  return end == std::string_view::npos ? text.size() - pos : end + 2 - pos;
}

size_t escape_length(std::string_view text, size_t pos) {
  size_t i = pos + 1;
  if (i >= text.size()) return 1;
  if (!is_hex(text[i])) return 1 + utf8_length(static_cast<unsigned char>(text[i]));
  while (i < text.size() && i - pos <= 6 && is_hex(text[i])) ++i;
  if (i < text.size()) {
    size_t next = i;
    if (is_white_space(decode_utf8(text, next))) i = next;
  }
  return std::min(i, text.size()) - pos;
}

// Tracks square brackets outside tokens; the count never goes below zero.
void count_bracket(char c, int& depth) {
  if (c == '[') ++depth;
  if (c == ']' && depth > 0) --depth;
}

// Parentheses and square brackets counted outside tokens, never below zero.
struct GroupDepth {
  int parentheses = 0;
  int brackets = 0;

  void feed(char c) {
    count_bracket(c, brackets);
    if (c == '(') ++parentheses;
    if (c == ')' && parentheses > 0) --parentheses;
  }
  bool at_top() const { return parentheses == 0 && brackets == 0; }
};

// Walks `text` once: each token (string, comment, escape) goes whole to
// `on_token(pos, length)`, every other byte to `on_byte(pos)`.
template <typename OnToken, typename OnByte>
void walk_tokens(std::string_view text, OnToken on_token, OnByte on_byte) {
  size_t i = 0;
  while (i < text.size()) {
    const Token token = token_at(text, i);
    if (token.kind != TokenKind::None) {
      on_token(i, token.length);
      i += token.length;
    } else {
      on_byte(i++);
    }
  }
}

void skip_token(size_t, size_t) {}

bool one_of(char32_t c, std::string_view set) {
  return c < 0x80 && set.find(static_cast<char>(c)) != std::string_view::npos;
}

constexpr char32_t kNone = 0xFFFFFFFF;

// Decides whether a run of white space between `prev` and `next` (kNone
// when absent) becomes one space.
bool keeps_space(char32_t prev, char32_t next, WhitespaceMode mode, bool in_brackets,
                 std::string_view written) {
  if (one_of(prev, "(,") || one_of(next, "),")) return false;
  if (mode == WhitespaceMode::Selector) {
    if (one_of(prev, ">+~") || one_of(next, ">+~")) return false;
    if (in_brackets && (one_of(prev, "=[") || one_of(next, "=]"))) return false;
    return true;
  }
  if (mode == WhitespaceMode::AtRule) {
    if (prev == ')' && next < 0x80 && is_ascii_letter(static_cast<char>(next))) return true;
    if (one_of(prev, ":<=>") || one_of(next, ":<=>")) return false;
    if (next == '(' && (written == "@media" || written == "@scope" || written == "@supports" ||
                        written == "@container")) {
      return false;
    }
  }
  return true;
}

char32_t char_at(std::string_view text, size_t pos) {
  if (pos >= text.size()) return kNone;
  return decode_utf8(text, pos);
}

// What the text-level scan of a parent selector finds at its top level
// (outside tokens, parentheses and square brackets).
struct ParentShape {
  bool list = false;     // a "," at the top level
  bool complex = false;  // a space, "+", ">" or "~" at the top level
};

ParentShape parent_shape(std::string_view parent) {
  ParentShape shape;
  GroupDepth depth;
  walk_tokens(parent, skip_token, [&](size_t i) {
    const char c = parent[i];
    depth.feed(c);
    if (!depth.at_top()) return;
    if (c == ',') shape.list = true;
    if (c == ' ' || c == '+' || c == '>' || c == '~') shape.complex = true;
  });
  return shape;
}

std::string wrap_is(std::string_view text) {
  std::string out = ":is(";
  out += text;
  out += ')';
  return out;
}

// Number of "&" outside square brackets and tokens.
size_t count_nesting(std::string_view text) {
  size_t count = 0;
  int brackets = 0;
  walk_tokens(text, skip_token, [&](size_t i) {
    count_bracket(text[i], brackets);
    if (text[i] == '&' && brackets == 0) ++count;
  });
  return count;
}

}  // namespace

std::string nest_selector(std::string_view parent, std::string_view selector) {
  selector = trim_white_space(selector);
  if (selector.empty()) return std::string(parent);
  // A list is nested alternative by alternative, so that no alternative
  // loses the parent (and with it the carrying element's class).
  const std::vector<std::string> alternatives = split_top_level(selector);
  if (alternatives.size() > 1) {
    std::string joined;
    for (const std::string& alternative : alternatives) {
      if (!joined.empty()) joined += ',';
      joined += nest_selector(parent, alternative);
    }
    return joined;
  }
  const ParentShape shape = parent_shape(parent);
  const std::string prepared = shape.list ? wrap_is(parent) : std::string(parent);
  const size_t nesting = count_nesting(selector);
  std::string result;
  if (nesting > 0) {
    const bool leading_only = nesting == 1 && selector.front() == '&';
    const bool wrap = shape.complex && !shape.list && !leading_only;
    result = replace_nesting(selector, wrap ? wrap_is(parent) : prepared).first;
  } else {
    result = prepared + ' ';
    result += selector;
  }
  return normalize_whitespace(result, WhitespaceMode::Selector);
}

std::string replace_nesting_in_prelude(std::string_view prelude, std::string_view parent) {
  const ParentShape shape = parent_shape(parent);
  const bool wrap = shape.list || shape.complex;
  return replace_nesting(prelude, wrap ? wrap_is(parent) : std::string(parent)).first;
}

Token token_at(std::string_view text, size_t pos) {
  const char c = text[pos];
  if (c == '"' || c == '\'') return {TokenKind::String, string_length(text, pos)};
  if (c == '/' && pos + 1 < text.size() && text[pos + 1] == '*') {
    return {TokenKind::Comment, comment_length(text, pos)};
  }
  if (c == '\\') return {TokenKind::Escape, escape_length(text, pos)};
  return {};
}

std::string normalize_whitespace(std::string_view text, WhitespaceMode mode) {
  std::string out;
  out.reserve(text.size());
  char32_t prev = kNone;
  int brackets = 0;
  size_t i = 0;
  while (i < text.size()) {
    const Token token = token_at(text, i);
    if (token.kind != TokenKind::None) {
      out += token.kind == TokenKind::Comment ? std::string_view("/**/")
                                              : text.substr(i, token.length);
      i += token.length;
      prev = kNone;
      continue;
    }
    size_t next = i;
    const char32_t ch = decode_utf8(text, next);
    if (!is_white_space(ch)) {
      count_bracket(text[i], brackets);
      out.append(text.substr(i, next - i));
      prev = ch;
      i = next;
      continue;
    }
    const size_t start = i;
    i = next;
    while (i < text.size()) {
      size_t probe = i;
      if (!is_white_space(decode_utf8(text, probe))) break;
      i = probe;
    }
    if (start == 0 || i >= text.size()) continue;
    if (keeps_space(prev, char_at(text, i), mode, brackets > 0, out)) out += ' ';
  }
  return out;
}

std::string fold_value_case(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const Token token = token_at(text, i);
    if (token.kind != TokenKind::None) {
      out.append(text.substr(i, token.length));
      i += token.length;
      continue;
    }
    size_t end = i + 1;
    if (text.substr(i, 2) == "--") {
      end = i + 2;
      while (end < text.size() && is_name_byte(text[end])) ++end;
      out.append(text.substr(i, end - i));
    } else if (is_ascii_letter(text[i])) {
      while (end < text.size() && is_name_byte(text[end])) ++end;
      for (size_t k = i; k < end; ++k) out += lower_ascii(text[k]);
    } else {
      out += text[i];
    }
    i = end;
  }
  return out;
}

std::pair<std::string, bool> replace_nesting(std::string_view text, std::string_view parent) {
  std::string out;
  out.reserve(text.size() + parent.size());
  bool replaced = false;
  int brackets = 0;
  const auto copy_token = [&](size_t i, size_t length) { out.append(text.substr(i, length)); };
  walk_tokens(text, copy_token, [&](size_t i) {
    count_bracket(text[i], brackets);
    if (text[i] == '&' && brackets == 0) {
      out.append(parent);
      replaced = true;
    } else {
      out += text[i];
    }
  });
  return {std::move(out), replaced};
}

std::vector<std::string> split_top_level(std::string_view text) {
  std::vector<std::string> pieces;
  GroupDepth depth;
  size_t start = 0;
  walk_tokens(text, skip_token, [&](size_t i) {
    depth.feed(text[i]);
    if (text[i] == ',' && depth.at_top()) {
      pieces.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  });
  pieces.emplace_back(text.substr(start));
  return pieces;
}

}  // namespace zeviziz
