// A single forward pass over JavaScript that tracks just enough of the token
// stream to tell a regular-expression literal from a division: whether the
// last significant token was a value (identifier, number, literal, ")", "]",
// "}") or not. Strings, comments and template literals are skipped whole;
// "${" inside a template literal switches back to code until its matching
// "}", with a stack for nesting. A "/" that fails to close as a regular
// expression on its line is read as an operator, and no further attempt is
// made before the point that attempt reached, so the pass stays linear.
#include "template/javascript.h"

#include <algorithm>
#include <array>

namespace zeviziz {
namespace {

// Keywords after which an expression, and so a regular expression, may start.
constexpr std::array<std::string_view, 14> kExpressionKeywords{
    "return", "typeof", "case",  "in",    "of",   "new", "delete",
    "void",   "throw",  "yield", "await", "else", "do",  "instanceof"};

bool is_word_byte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c == '\\' || u >= 0x80;
}

bool is_line_break(char c) {
  return c == '\n' || c == '\r';
}

class Scanner {
 public:
  Scanner(std::string_view text, Range range, std::span<const Range> protected_ranges)
      : text_(text), end_(range.end), pos_(range.start), protected_(protected_ranges) {}

  JavaScriptLayout run() {
    if (pos_ == 0 && text_.substr(0, 2) == "#!") skip_line();  // a hashbang line
    while (pos_ < end_) {
      if (skip_protected()) continue;
      code_step();
    }
    std::sort(layout_.templates.begin(), layout_.templates.end(),
              [](const Range& a, const Range& b) { return a.start < b.start; });
    return std::move(layout_);
  }

 private:
  // An open template literal: where it starts and how many "{" of its
  // current "${...}" expression are open.
  struct Frame {
    size_t start;
    int depth;
  };

  char at(size_t pos) const { return pos < end_ ? text_[pos] : '\0'; }

  // The end of the protected range holding `pos`, or `pos` itself.
  size_t protected_end(size_t pos) const {
    auto it = std::upper_bound(protected_.begin(), protected_.end(), pos,
                               [](size_t p, const Range& r) { return p < r.end; });
    if (it == protected_.end() || it->start > pos) return pos;
    return std::min(it->end, end_);
  }

  // Jumps over a protected range at `pos_` (it stands for a value); true
  // when it did.
  bool skip_protected() {
    const size_t skipped = protected_end(pos_);
    if (skipped == pos_) return false;
    pos_ = skipped;
    value_ = true;
    return true;
  }

  void code_step() {
    const char c = text_[pos_];
    const char next = at(pos_ + 1);
    if (c == ' ' || c == '\t' || is_line_break(c) || c == '\f' || c == '\v') {
      ++pos_;
    } else if (c == '/' && next == '/') {
      skip_line();
    } else if (c == '/' && next == '*') {
      const size_t close = text_.substr(0, end_).find("*/", pos_ + 2);
      pos_ = close == std::string_view::npos ? end_ : close + 2;
    } else if (c == '/') {
      slash();
    } else if (c == '\'' || c == '"') {
      skip_string(c);
    } else if (c == '`') {
      frames_.push_back(Frame{pos_, 0});
      ++pos_;
      template_text();
    } else if (is_word_byte(c) || c == '#') {
      word();
    } else {
      punctuator(c, next);
    }
  }

  void punctuator(char c, char next) {
    const bool after_dot = c == '.' || (c == '?' && next == '.');
    if ((c == '+' || c == '-') && next == c) {
      pos_ += 2;  // "++" / "--" leave the value state as it was
    } else if (c == '{' || c == '}') {
      brace(c);
    } else {
      value_ = c == ')' || c == ']';
      pos_ += after_dot && c == '?' ? 2 : 1;
    }
    after_dot_ = after_dot;
  }

  void brace(char c) {
    ++pos_;
    value_ = c == '}';
    if (frames_.empty()) return;
    if (c == '{') {
      ++frames_.back().depth;
    } else if (frames_.back().depth-- == 0) {
      template_text();  // the "}" that closes "${"
    }
  }

  void word() {
    const size_t start = pos_++;
    while (pos_ < end_ && is_word_byte(text_[pos_])) ++pos_;
    const std::string_view word = text_.substr(start, pos_ - start);
    const bool keyword =
        !after_dot_ && std::find(kExpressionKeywords.begin(), kExpressionKeywords.end(), word) !=
                           kExpressionKeywords.end();
    value_ = !keyword;
    after_dot_ = false;
  }

  void skip_line() {
    while (pos_ < end_ && !is_line_break(text_[pos_])) ++pos_;
  }

  void skip_string(char quote) {
    ++pos_;
    while (pos_ < end_) {
      if (skip_protected()) continue;
      const char c = text_[pos_];
      pos_ += c == '\\' ? 2 : 1;
      if (c == quote) break;
    }
    pos_ = std::min(pos_, end_);
    value_ = true;
    after_dot_ = false;
  }

  // Reads template text from `pos_` up to its closing backtick or to "${".
  void template_text() {
    while (pos_ < end_) {
      if (skip_protected()) continue;
      const char c = text_[pos_];
      if (c == '\\') {
        pos_ += 2;
      } else if (c == '`') {
        layout_.templates.push_back(Range{frames_.back().start, ++pos_});
        frames_.pop_back();
        value_ = true;
        after_dot_ = false;
        return;
      } else if (c == '$' && at(pos_ + 1) == '{') {
        pos_ += 2;
        frames_.back().depth = 0;
        value_ = false;
        return;
      } else {
        ++pos_;
      }
    }
    pos_ = end_;  // unterminated: nothing more to learn
  }

  void slash() {
    const size_t start = pos_;
    after_dot_ = false;
    if (!value_ && start >= no_regex_before_) {
      if (auto end = regex_end(start)) {
        layout_.regexes.push_back(Range{start, *end});
        pos_ = *end;
        value_ = true;
        return;
      }
    }
    ++pos_;  // division or "/="
    value_ = false;
  }

  // The end of the regular expression whose "/" is at `start` (flags
  // included), or nullopt when it does not close on its line.
  std::optional<size_t> regex_end(size_t start) {
    size_t pos = start + 1;
    bool in_class = false;
    while (pos < end_ && !is_line_break(text_[pos])) {
      if (protected_end(pos) != pos) {
        pos = protected_end(pos);
        continue;
      }
      const char c = text_[pos];
      if (c == '\\') {
        if (is_line_break(at(pos + 1))) break;
        pos += 2;
        continue;
      }
      if (c == '/' && !in_class) {
        ++pos;
        while (pos < end_ && is_word_byte(text_[pos]) && text_[pos] != '\\') ++pos;
        return pos;
      }
      if (c == '[') in_class = true;
      if (c == ']') in_class = false;
      ++pos;
    }
    no_regex_before_ = pos;
    return std::nullopt;
  }

  std::string_view text_;
  size_t end_;
  size_t pos_;
  std::span<const Range> protected_;
  JavaScriptLayout layout_;
  std::vector<Frame> frames_;
  bool value_ = false;      // the last significant token was a value
  bool after_dot_ = false;  // the last token was "." or "?.": a word is a property name
  size_t no_regex_before_ = 0;
};

}  // namespace

JavaScriptLayout scan_javascript(std::string_view text, Range range,
                                 std::span<const Range> protected_ranges) {
  range.end = std::min(range.end, text.size());
  if (range.start >= range.end) return {};
  return Scanner(text, range, protected_ranges).run();
}

}  // namespace zeviziz
