// Byte-level scans with memory. All delimiters of style text are ASCII, so
// the scans work on bytes: UTF-8 continuation bytes never look like one.
//
// Each scan treats strings, comments and escapes as atomic tokens, exactly as
// the lexer's machines do, so a position a scan reports is the position the
// machines would reach. With `remember`, every group, block and string close
// found (or found missing) is kept, inner ones included, and top-level scans
// keep their answer for every position where they landed after a skipped
// group; later scans jump over known groups and stop at known answers.
#include "lexer/scan_memo.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "base/unicode.h"

namespace zeviziz {
namespace {

// Bytes that end a run of plain bytes for the scans.
constexpr std::array<bool, 256> make_special() {
  std::array<bool, 256> table{};
  for (unsigned char c : std::string_view("(){}[];\"'/\\")) table[c] = true;
  return table;
}
constexpr std::array<bool, 256> kSpecial = make_special();

}  // namespace

size_t PositionMap::slot(size_t key) const {
  // Fibonacci hashing spreads neighbouring positions over the table.
  const size_t mask = slots_.size() - 1;
  size_t index = static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
  while (slots_[index].first != kFree && slots_[index].first != key) index = (index + 1) & mask;
  return index;
}

bool PositionMap::find(size_t key, size_t& value) const {
  if (size_ == 0) return false;
  const auto& entry = slots_[slot(key)];
  if (entry.first != key) return false;
  value = entry.second;
  return true;
}

void PositionMap::set(size_t key, size_t value) {
  if (2 * (size_ + 1) > slots_.size()) grow();
  auto& entry = slots_[slot(key)];
  if (entry.first == kFree) ++size_;
  entry = {key, value};
}

void PositionMap::grow() {
  std::vector<std::pair<size_t, size_t>> old = std::move(slots_);
  slots_.assign(old.empty() ? 64 : 2 * old.size(), {kFree, 0});
  shift_ = 64 - std::countr_zero(slots_.size());
  for (const auto& entry : old) {
    if (entry.first != kFree) slots_[slot(entry.first)] = entry;
  }
}

char32_t decode_char(std::string_view text, size_t pos, size_t& length) {
  if (pos >= text.size()) {
    length = 0;
    return kEndChar;
  }
  const auto lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) {
    length = 1;
    return lead == 0 ? kBadChar : lead;
  }
  size_t next = pos;
  const char32_t ch = decode_utf8(text, next);
  length = next - pos;
  if (ch == 0xFFFD && text.substr(pos, 3) != "\xEF\xBF\xBD") {
    length = 1;
    return kBadChar;
  }
  return ch;
}

ScanMemo::ScanMemo(std::string_view text, bool remember) : text_(text), remember_(remember) {}

bool ScanMemo::recall(const PosMap& map, size_t key, size_t& value) const {
  return map.find(key, value);
}

void ScanMemo::keep(PosMap& map, size_t key, size_t value) {
  if (remember_) findings_.push_back({&map, key, value});
}

// Keeps the findings made since `mark` when the scan that made them covered
// bytes [from, to) of at least kLongScan bytes; a shorter scan is cheaper to
// repeat than to remember.
void ScanMemo::commit(size_t mark, size_t from, size_t to) {
  constexpr size_t kLongScan = 128;
  if (to == kNoPos) to = text_.size();
  if (to - from >= kLongScan) {
    for (size_t i = mark; i < findings_.size(); ++i) {
      findings_[i].map->set(findings_[i].key, findings_[i].value);
    }
  }
  findings_.resize(mark);
}

// Scans remember one landing position in eight: a later scan that meets the
// same positions reaches a remembered one a few tokens later, and the memo
// stays small.
bool ScanMemo::sample_landing() {
  return (++landings_ & 7) == 0;
}

size_t ScanMemo::skip_plain(size_t pos) const {
  while (pos < text_.size() && !kSpecial[static_cast<unsigned char>(text_[pos])]) ++pos;
  return pos;
}

size_t ScanMemo::string_close(size_t open) {
  const char quote = text_[open];
  size_t& unclosed = unclosed_string_[quote == '"' ? 0 : 1];
  size_t known;
  if (remember_ && open >= unclosed) return kNoPos;
  if (recall(strings_, open, known)) return known;
  const char stops[2] = {quote, '\\'};
  size_t pos = open + 1;
  while (true) {
    pos = text_.find_first_of(std::string_view(stops, 2), pos);
    if (pos == std::string_view::npos) break;
    if (text_[pos] == quote) {
      const size_t mark = findings_.size();
      keep(strings_, open, pos);
      commit(mark, open, pos);
      return pos;
    }
    pos += 2;
  }
  // No unescaped quote of this kind follows: every later string of the same
  // kind runs to the end as well.
  if (remember_) unclosed = std::min(unclosed, open);
  return kNoPos;
}

size_t ScanMemo::comment_close(size_t open) {
  const size_t from = open + 2;
  if (remember_ && open >= unclosed_comment_) return kNoPos;
  if (remember_ && comment_from_ != kNoPos && from >= comment_from_ && from <= comment_end_) {
    return comment_end_ + 1;
  }
  const size_t star = text_.find("*/", from);
  if (star == std::string_view::npos) {
    if (remember_) unclosed_comment_ = std::min(unclosed_comment_, open);
    return kNoPos;
  }
  comment_from_ = from;
  comment_end_ = star;
  return star + 1;
}

// Steps over the token at `pos` (a string, comment, escape or any other
// single byte). Returns false when the token runs to the end of the text.
bool ScanMemo::skip_token(size_t& pos) {
  const char byte = text_[pos];
  if (byte == '"' || byte == '\'') {
    const size_t close = string_close(pos);
    if (close == kNoPos) return false;
    pos = close + 1;
  } else if (byte == '/' && pos + 1 < text_.size() && text_[pos + 1] == '*') {
    const size_t close = comment_close(pos);
    if (close == kNoPos) return false;
    pos = close + 1;
  } else if (byte == '\\') {
    if (pos + 1 >= text_.size()) return false;
    pos += 2;
  } else {
    ++pos;
  }
  return true;
}

size_t ScanMemo::group_close(size_t open) {
  const char open_byte = text_[open];
  const char close_byte = open_byte == '(' ? ')' : ']';
  PosMap& memo = open_byte == '(' ? parens_ : brackets_;
  size_t known;
  if (recall(memo, open, known)) return known;
  const size_t mark = findings_.size();
  std::vector<size_t>& stack = group_stack_;
  stack.assign(1, open);
  size_t pos = open + 1;
  while (true) {
    pos = skip_plain(pos);
    if (pos >= text_.size()) break;
    const char byte = text_[pos];
    if (byte == open_byte) {
      if (!recall(memo, pos, known)) {
        stack.push_back(pos++);
        continue;
      }
      if (known == kNoPos) break;
      pos = known + 1;
    } else if (byte == close_byte) {
      keep(memo, stack.back(), pos);
      stack.pop_back();
      if (stack.empty()) {
        commit(mark, open, pos);
        return pos;
      }
      ++pos;
    } else if (!skip_token(pos)) {
      break;
    }
  }
  // Every group still open never closes.
  for (size_t start : stack) keep(memo, start, kNoPos);
  commit(mark, open, kNoPos);
  return kNoPos;
}

// The innermost open block closes at `close`: so do the scans that would
// start at the positions where this one landed inside it.
void ScanMemo::close_block_level(size_t close) {
  const size_t level = block_stack_.size();
  keep(braces_, block_stack_.back(), close);
  while (!block_landings_.empty() && block_landings_.back().first == level) {
    keep(block_rests_, block_landings_.back().second, close);
    block_landings_.pop_back();
  }
  block_stack_.pop_back();
}

size_t ScanMemo::block_close(size_t open) {
  size_t known;
  if (recall(braces_, open, known)) return known;
  const size_t mark = findings_.size();
  std::vector<size_t>& stack = block_stack_;
  stack.assign(1, open);
  block_landings_.clear();
  size_t pos = open + 1;
  size_t result = kNoPos;
  while (true) {
    // `pos` follows a token: a scan of the innermost block from here would
    // end where this one ends that block.
    if (recall(block_rests_, pos, known)) {
      if (known == kNoPos) break;
      close_block_level(known);
      pos = known + 1;
      if (stack.empty()) {
        result = known;
        break;
      }
      continue;
    }
    if (remember_ && sample_landing()) block_landings_.emplace_back(stack.size(), pos);
    pos = skip_plain(pos);
    if (pos >= text_.size()) break;
    const char byte = text_[pos];
    if (byte == '{') {
      if (!recall(braces_, pos, known)) {
        stack.push_back(pos++);
        continue;
      }
      if (known == kNoPos) break;
      pos = known + 1;
    } else if (byte == '}') {
      close_block_level(pos);
      if (stack.empty()) {
        result = pos;
        break;
      }
      ++pos;
    } else if (byte == '(' || byte == '[') {
      const size_t close = group_close(pos);
      if (close == kNoPos) break;
      pos = close + 1;
    } else if (!skip_token(pos)) {
      break;
    }
  }
  if (result == kNoPos) {
    for (size_t start : stack) keep(braces_, start, kNoPos);
    for (const auto& landing : block_landings_) keep(block_rests_, landing.second, kNoPos);
  }
  commit(mark, open, result);
  return result;
}

size_t ScanMemo::item_end(size_t from) {
  return top_scan(from, false);
}

size_t ScanMemo::value_end(size_t from) {
  return top_scan(from, true);
}

size_t ScanMemo::top_scan(size_t from, bool braces_nest) {
  PosMap& memo = braces_nest ? value_ends_ : item_ends_;
  visited_.clear();
  size_t pos = from;
  size_t result = kNoPos;
  bool landed = true;
  while (true) {
    if (landed) {
      if (recall(memo, pos, result)) break;
      if (remember_ && (pos == from || sample_landing())) visited_.push_back(pos);
      landed = false;
    }
    pos = skip_plain(pos);
    if (pos >= text_.size()) {
      result = kNoPos;
      break;
    }
    const char byte = text_[pos];
    if (byte == ';' || byte == '}' || (byte == '{' && !braces_nest)) {
      result = pos;
      break;
    }
    size_t close = pos;
    if (byte == '{') {
      close = block_close(pos);
    } else if (byte == '(' || byte == '[') {
      close = group_close(pos);
    } else if (byte == ')' || byte == ']') {
      // A stray closing bracket is skipped; counts never go below zero.
    } else {
      const bool closed = skip_token(pos);
      landed = true;
      if (closed) continue;
      close = kNoPos;
    }
    if (close == kNoPos) {
      result = kNoPos;
      break;
    }
    pos = close + 1;
    landed = true;
  }
  const size_t mark = findings_.size();
  for (size_t start : visited_) keep(memo, start, result);
  commit(mark, from, result);
  return result;
}

namespace {

// True when the eight bytes at `at` are all ASCII and none is NUL.
bool plain_ascii_word(const char* at) {
  constexpr uint64_t kLow = 0x0101010101010101ull;
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return ((word | ((word - kLow) & ~word)) & kHigh) == 0;
}

}  // namespace

bool ScanMemo::has_bad(size_t from, size_t to) {
  if (!bad_known_) {
    bad_known_ = true;
    for (size_t pos = 0, length = 0; pos < text_.size(); pos += length) {
      while (pos + 8 <= text_.size() && plain_ascii_word(text_.data() + pos)) pos += 8;
      if (pos >= text_.size()) break;
      if (decode_char(text_, pos, length) == kBadChar) bad_.push_back(pos);
    }
  }
  const auto it = std::lower_bound(bad_.begin(), bad_.end(), from);
  return it != bad_.end() && *it < to;
}

const AttemptFailure* ScanMemo::failure(size_t pos, int depth) const {
  size_t index = 0;
  if (failed_.empty() || !failed_.find(state_key(pos, depth), index)) return nullptr;
  return &failures_[index];
}

void ScanMemo::mark_failed(const std::vector<uint64_t>& keys, const AttemptFailure& why) {
  if (keys.empty()) return;
  failures_.push_back(why);
  for (uint64_t key : keys) failed_.set(key, failures_.size() - 1);
}

}  // namespace zeviziz
