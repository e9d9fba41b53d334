// The lexer's machines, written as one recursive reader that takes the text
// one character at a time with one character of lookahead and emits every
// character it consumes with its kind path (append_char). Lexer-internal.
//
// A reader runs in one of four ways:
// - build: emits every character into `root`, scanning char by char;
// - check: the same without emitting;
// - fast (check with a remembering ScanMemo): jumps over groups, strings,
//   comments and declaration values whose extent the memo knows, stops early
//   in states known to fail, and records the block states it passes so a
//   failed attempt can teach later ones. A fast reader succeeds exactly when
//   a build reader would, and ends at the same position;
// - logging (check or fast, with a RunLog): also records what it reads as
//   token runs (a fast reader the jumped-over constructs as one run each), so
//   that the tree a build reader would emit can be made from the log once the
//   reading is over.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "base/unicode.h"
#include "lexer/exact_matcher.h"
#include "lexer/node.h"
#include "lexer/run_log.h"
#include "lexer/scan_memo.h"

namespace zeviziz {

// Blocks and pseudo-class arguments nest at most this deep in a region; a
// deeper region stays text (deep trees would exhaust the stack).
inline constexpr int kMaxNesting = 64;

// What a free-form selector list accepts.
enum class SelectorMode : uint8_t {
  Nested,    // a nested rule's selector: relative list, ends at "{"
  List,      // a selector list argument, ends at ")"
  Relative,  // a relative selector list argument (:has), ends at ")"
  Compound,  // one compound selector argument, ends at ")"
};

// Why a region attempt failed (AttemptFailure::kind).
enum class MissKind : uint8_t {
  None,
  Unexpected,        // a character (or the end) no machine accepts here
  Unclosed,          // a block, group, string or comment never closes
  Glued,             // a complete region not followed by white space or the end
  NoColon,           // a property name without ":" (from: the name)
  NoBody,            // directives without a rule (at: the trigger, from: the
                     // last name, to: the end of the directives)
  SpaceBeforeBlock,  // white space between the region's selector and "{"
  NoName,            // "(" right after the trigger
  UnknownDirective,  // a later directive name that is not registered
  TooDeep,           // blocks nested deeper than kMaxNesting
  BadText,           // malformed UTF-8 inside the region
};

// The at-rule keywords and the words of at-rule preludes ("and", "to").
const std::vector<std::string>& at_rule_keywords();
const std::vector<std::string>& at_rule_words();

// Character classes of the style syntax (white space, letters, digits and
// name characters are in base/unicode.h).
// Characters that start a simple selector: # & * . : [ a letter or "_".
bool is_simple_start(char32_t ch);
// The characters after the trigger or a directive that start a rule.
bool is_rule_start(char32_t ch);

class Parser {
 public:
  // Reads `text` from byte `start`. `emit` builds the tree into `root`;
  // `scans` is used for look-aheads; `fast` enables the memo shortcuts
  // (`scans` must then remember). `directive_names` may be null when no
  // region is read. A reader that does not emit records its token runs in
  // `log` when given.
  Parser(std::string_view text, size_t start, Node root, bool emit, bool fast, ScanMemo* scans,
         const std::vector<std::string>* directive_names, RunLog* log = nullptr);

  // Starts over at byte `start` of the same text, as if newly made, keeping
  // the buffers it has grown.
  void restart(size_t start);

  // Reads one region at "!"; true when it completes and is followed by white
  // space or the end of the text. The root must be a Velt node.
  bool parse_region();
  // Reads a free-form selector list up to its terminator (not consumed).
  bool parse_selector_list(SelectorMode mode);
  // Reads one at-rule ("@", keyword, prelude) up to the first character that
  // cannot continue it; false when the prelude is incomplete or malformed.
  bool parse_at_rule();

  char32_t ch() const { return cur_; }
  size_t pos() const { return pos_; }
  Node& root() { return root_; }
  // Block states passed by a fast reader (ScanMemo::state_key values).
  const std::vector<uint64_t>& states() const { return states_; }
  // After parse_region failed: why, and where (a generic Unexpected at the
  // stopping point when no site gave a reason).
  AttemptFailure failure() const;
  // After parse_region failed: whether the attempt read far enough to be
  // meant as a region (a block after the trigger, a directive with
  // arguments, an at-rule keyword, a selector up to "{", or a block written
  // with "(" right after the trigger) rather than "!" used as punctuation.
  bool looks_like_region() const { return looks_like_region_; }

 private:
  friend class PathScope;

  // Cursor.
  char32_t peek() const { return next_; }
  void advance();
  void jump_to(size_t pos);
  void take(NodeKind leaf);
  // Emits or records bytes [begin, end) with `kinds` (the last one the
  // leaf) below the current path.
  void record(std::initializer_list<NodeKind> kinds, size_t begin, size_t end);
  bool note_state();
  // Records why the attempt fails (the first reason given wins); returns
  // false so failing sites can `return fail(...)`.
  bool fail(MissKind kind, size_t at, size_t from = kNoPos, size_t to = kNoPos);
  // True when the state at `pos` (current depth) is known to fail; takes
  // over the recorded reason.
  bool known_failure(size_t pos);

  // Region top level (lexer.cc).
  bool parse_directive_name();
  bool parenthesised_block();
  bool parse_directive_chain();
  bool parse_top_rule();

  // Shared tokens (parser.cc).
  bool take_name_run(NodeKind leaf);
  // Takes a string (as `string_leaf`), comment or escape (as Char) at the
  // cursor; `taken` tells whether the cursor was at one. False on failure.
  bool take_atomic_token(NodeKind string_leaf, bool& taken);
  bool parse_flat_group(bool parenthesis);
  bool take_string(NodeKind leaf);
  bool take_comment(NodeKind leaf);
  bool take_white_space(NodeKind leaf);

  // Blocks (block_machine.cc).
  bool parse_block(bool top);
  bool parse_block_item();
  bool parse_nested_rule();
  bool parse_nested_at_rule();
  bool parse_declaration();
  bool parse_value();
  bool item_is_rule(bool& is_rule);

  // Selectors (selector_machine.cc).
  struct Gap;  // white space and comments between selector parts
  bool read_gap(Gap& gap);
  void flush_gap(Gap& gap, bool descendant);
  bool parse_compact_selector();
  bool parse_compound();
  bool parse_attribute();
  bool parse_pseudo();
  bool parse_pseudo_argument(std::string_view name);
  bool parse_nth_argument();
  bool take_combinator();

  // At-rules (at_rule_machine.cc).
  bool parse_at_keyword(size_t& keyword);
  bool take_at_name();
  bool take_at_word(size_t keyword, int& state, int& conditions, bool& has_limit);

  std::string_view text_;
  size_t pos_ = 0;
  size_t cur_len_ = 0;
  size_t next_len_ = 0;
  char32_t cur_ = kEndChar;
  char32_t next_ = kEndChar;
  Node root_;
  std::vector<NodeKind> path_;
  uint64_t path_epoch_ = 1;  // changes with every change of path_
  bool emit_;
  bool fast_;
  ScanMemo* scans_;
  const std::vector<std::string>* directive_names_;
  RunLog* log_;
  ExactMatcher name_matcher_;
  ExactMatcher keyword_matcher_;
  ExactMatcher word_matcher_;
  int depth_ = 0;
  std::vector<uint64_t> states_;
  size_t start_ = 0;           // where the reader started (the trigger)
  size_t last_name_ = kNoPos;  // start of the last directive name read
  AttemptFailure failure_;
  bool looks_like_region_ = false;
};

// The reason of a failed region attempt in the author's terms, from the
// reader's failure record over the same `text`.
std::string describe_miss(std::string_view text, const AttemptFailure& failure);

// Pushes kinds onto a reader's path for the lifetime of the scope.
class PathScope {
 public:
  PathScope(Parser& parser, std::initializer_list<NodeKind> kinds);
  ~PathScope();
  PathScope(const PathScope&) = delete;
  PathScope& operator=(const PathScope&) = delete;

 private:
  Parser& parser_;
  size_t size_;
};

}  // namespace zeviziz
