// Byte-level scans over the text of one lex call, and the memory that keeps
// repeated region attempts linear: where groups, blocks, strings and comments
// close (or that they never do), where items end, and which parser states are
// known to end in failure. Lexer-internal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zeviziz {

// The end of the text, as a character.
inline constexpr char32_t kEndChar = 0xFFFFFFFF;
// A NUL or a malformed UTF-8 sequence (one byte), as a character. Style
// regions never contain either.
inline constexpr char32_t kBadChar = 0xFFFFFFFE;
// No position: a construct that does not close before the end of the text.
inline constexpr size_t kNoPos = static_cast<size_t>(-1);

// Why a region attempt failed: a reason code (the parser's MissKind), the
// byte where reading went wrong, and a range [from, to) the reason refers to
// (kNoPos when none). Kept with failed states so later attempts that stop at such a
// state report the same reason.
struct AttemptFailure {
  uint8_t kind = 0;
  size_t at = kNoPos;
  size_t from = kNoPos;
  size_t to = kNoPos;
};

// Decodes the character at byte `pos` (kEndChar at the end) and sets `length`
// to its byte count (0 at the end, 1 for kBadChar).
char32_t decode_char(std::string_view text, size_t pos, size_t& length);

// A map from text positions to positions with open addressing: the memo
// makes many small insertions that node-based maps make slow.
class PositionMap {
 public:
  bool empty() const { return size_ == 0; }
  // Sets `value` and returns true when `key` is present.
  bool find(size_t key, size_t& value) const;
  void set(size_t key, size_t value);

 private:
  static constexpr size_t kFree = static_cast<size_t>(-1);
  size_t slot(size_t key) const;
  void grow();

  std::vector<std::pair<size_t, size_t>> slots_;
  size_t size_ = 0;
  int shift_ = 64;
};

// Scans that skip the atomic tokens of style text: strings (a quote to the
// same quote, backslash escapes inside), comments ("/*" to "*/") and escapes
// (a backslash and the byte after it). With `remember` set, results are kept
// for later calls; without it every call scans afresh.
class ScanMemo {
 public:
  ScanMemo(std::string_view text, bool remember);

  // Position of the quote closing the string opened at `open`, or kNoPos.
  size_t string_close(size_t open);
  // Position of the "/" ending the comment whose "/*" is at `open`, or kNoPos.
  size_t comment_close(size_t open);
  // Position of the bracket closing the group opened by "(" or "[" at `open`;
  // only that bracket kind is counted. kNoPos when it never closes.
  size_t group_close(size_t open);
  // Position of the "}" closing the block opened at `open`; groups are
  // skipped whole. kNoPos when it never closes.
  size_t block_close(size_t open);
  // Position of the first "{", ";" or "}" from `from` outside groups, or
  // kNoPos: where a block item ends (the declaration-or-rule look-ahead).
  size_t item_end(size_t from);
  // Position of the first ";" or "}" from `from` outside groups and nested
  // braces, or kNoPos: where a declaration value ends.
  size_t value_end(size_t from);

  // True when bytes [from, to) hold a NUL or malformed UTF-8.
  bool has_bad(size_t from, size_t to);

  // True when the parser state "block item at `pos`, `depth` blocks deep" is
  // known to end the region attempt in failure.
  bool failed(size_t pos, int depth) const {
    size_t unused;
    return !failed_.empty() && failed_.find(state_key(pos, depth), unused);
  }
  // The failure recorded with such a state, or null when it is not known to
  // fail.
  const AttemptFailure* failure(size_t pos, int depth) const;
  // Key of such a state, for mark_failed.
  static uint64_t state_key(size_t pos, int depth) {
    return (static_cast<uint64_t>(pos) << 8) | static_cast<uint64_t>(depth);
  }
  // Records states that led to a failed attempt, and why it failed.
  void mark_failed(const std::vector<uint64_t>& keys, const AttemptFailure& why = {});

 private:
  using PosMap = PositionMap;
  struct Finding {
    PosMap* map;
    size_t key;
    size_t value;
  };

  bool sample_landing();
  size_t skip_plain(size_t pos) const;
  bool skip_token(size_t& pos);
  size_t top_scan(size_t from, bool braces_nest);
  void close_block_level(size_t close);
  bool recall(const PosMap& map, size_t key, size_t& value) const;
  void keep(PosMap& map, size_t key, size_t value);
  void commit(size_t mark, size_t from, size_t to);

  std::string_view text_;
  bool remember_;
  size_t unclosed_string_[2] = {kNoPos, kNoPos};  // '"' and '\''
  size_t unclosed_comment_ = kNoPos;
  size_t comment_from_ = kNoPos, comment_end_ = kNoPos;  // last "*/" search
  PosMap strings_, parens_, brackets_, braces_, block_rests_, item_ends_, value_ends_;
  std::vector<Finding> findings_;  // results of the scans in progress
  std::vector<size_t> group_stack_, block_stack_, visited_;
  std::vector<std::pair<size_t, size_t>> block_landings_;  // (level, position)
  std::vector<size_t> bad_;
  bool bad_known_ = false;
  unsigned landings_ = 0;
  PositionMap failed_;                    // state key -> index in failures_
  std::vector<AttemptFailure> failures_;  // one per failed attempt
};

}  // namespace zeviziz
