// Region recognition over template text, the region's top-level machine
// (directives, at-rules, "&" and the region's own rule) and the two entry
// points that reuse single machines: lex_selector and read_at_rule_preludes.
//
// lex() jumps from one candidate "!" to the next with a byte search, so plain
// text costs a memchr. Each candidate is read once by a reader that uses the
// shared ScanMemo to jump over groups, strings, comments and declaration
// values, and records what it reads as token runs (run_log.h); only when the
// region reads completely are the runs turned into its tree, and on failure
// they are dropped back to the mark taken at the "!". Failed attempts record
// the block states they passed, so later attempts that reach the same state
// stop at once: together with the memo's group and item answers this keeps
// runs of unclosed regions linear. A failed attempt also records why it
// failed (the first failing site names a reason and a position; a state
// known to fail hands on the reason recorded with it), so describing a miss
// costs nothing beyond the attempt itself.
#include "lexer/lexer.h"

#include <optional>

#include "base/unicode.h"
#include "lexer/lexer_internal.h"
#include "lexer/parser.h"

namespace zeviziz {
namespace {

// Characters of a directive name when the lexer has no name list.
bool is_directive_char(char32_t ch) {
  return is_ascii_letter(ch) || is_ascii_digit(ch) || ch == U'-' || ch == U'_';
}

// What may follow the "&" that joins a leading at-rule to a rule.
bool is_and_follower(char32_t ch) {
  switch (ch) {
    case U' ':
    case U'#':
    case U'*':
    case U'+':
    case U'.':
    case U':':
    case U'>':
    case U'[':
    case U'_':
    case U'~':
      return true;
    default:
      return is_ascii_letter(ch);
  }
}

// True when the character that ends at byte `pos` is white space.
bool preceded_by_ws(std::string_view text, size_t pos) {
  const auto last = static_cast<unsigned char>(text[pos - 1]);
  if (last < 0x80) return is_white_space(last);
  size_t start = pos - 1;
  for (int back = 0; back < 3 && start > 0 && (text[start] & 0xC0) == 0x80; ++back) --start;
  size_t length = 0;
  const char32_t ch = decode_char(text, start, length);
  return start + length == pos && is_ws(ch);
}

// The scans of one lex call: the remembering memo and the reader of the
// fast reading with its run log, and the plain scans of building readers,
// made on first use and kept for every attempt.
struct LexScans {
  std::optional<ScanMemo> memo;
  std::optional<ScanMemo> plain;
  std::optional<Parser> reader;
  RunLog log;
};

// Reads the region at `bang` once, recording token runs; on success builds
// `velt` from them and sets `end` (the byte after the region). On failure
// the runs are dropped and the states passed are remembered as failing; with
// `misses`, a failed attempt that looked like a region is described there.
bool read_region_once(std::string_view text, size_t bang, const std::vector<std::string>& names,
                      LexScans& scans, Node& velt, size_t& end, std::vector<RegionMiss>* misses) {
  if (!scans.memo) scans.memo.emplace(text, true);
  if (scans.reader) {
    scans.reader->restart(bang);
  } else {
    scans.reader.emplace(text, bang, Node(), false, true, &*scans.memo, &names, &scans.log);
  }
  Parser& reader = *scans.reader;
  const size_t mark = scans.log.mark();
  if (!reader.parse_region()) {
    scans.log.rollback(mark);
    const AttemptFailure failure = reader.failure();
    scans.memo->mark_failed(reader.states(), failure);
    if (misses != nullptr && reader.looks_like_region()) {
      misses->push_back(RegionMiss{failure.at, describe_miss(text, failure)});
    }
    return false;
  }
  velt = scans.log.build(text, NodeKind::Velt);
  scans.log.rollback(mark);
  end = reader.pos();
  return true;
}

// The plain reading: one building reader scanning character by character.
bool read_region_plain(std::string_view text, size_t bang, const std::vector<std::string>& names,
                       LexScans& scans, Node& velt, size_t& end) {
  if (!scans.plain) scans.plain.emplace(text, false);
  Parser builder(text, bang, Node(NodeKind::Velt), true, false, &*scans.plain, &names);
  if (!builder.parse_region()) return false;
  velt = std::move(builder.root());
  end = builder.pos();
  return true;
}

}  // namespace

bool Parser::parse_directive_name() {
  last_name_ = pos_;
  if (directive_names_->empty()) {
    if (!is_directive_char(cur_)) return false;
    while (is_directive_char(cur_)) take(NodeKind::Name);
    return true;
  }
  ExactMatcher& matcher = name_matcher_;
  while (true) {
    const MatchResult result = matcher.feed(cur_, next_);
    if (result == MatchResult::Fail) return false;
    take(NodeKind::Name);
    if (result == MatchResult::Complete) return true;
  }
}

// Reads directives from the name after a "!" (already taken) on: names,
// arguments and further "!"s. Ends before the "@" of an at-rule or the first
// character of the rule.
bool Parser::parse_directive_chain() {
  PathScope directive(*this, {NodeKind::Directive});
  while (true) {
    const bool first = last_name_ == kNoPos;
    if (!parse_directive_name()) {
      if (first && cur_ == U'(') {
        looks_like_region_ = parenthesised_block();
        return fail(MissKind::NoName, pos_);
      }
      return first ? false : fail(MissKind::UnknownDirective, last_name_);
    }
    if (cur_ == U'(') {
      looks_like_region_ = true;
      PathScope parenthesis(*this, {NodeKind::Parenthesis});
      if (!parse_flat_group(true)) return false;
    }
    if (cur_ != U'!') break;
    take(NodeKind::Prefix);
    if (cur_ == U'@' || is_rule_start(cur_)) return true;
  }
  if (cur_ == U'@' || is_rule_start(cur_)) return true;
  if (cur_ == kEndChar || is_ws(cur_)) return fail(MissKind::NoBody, start_, last_name_, pos_);
  return fail(MissKind::Unexpected, pos_);
}

// True when the "(" at the cursor holds what reads like a block written with
// parentheses: a property name and ":" first (`!(color:red)`), and a closing
// ")" followed by white space or the end. Looks only at the first name, so
// attempts stay linear; logic like `!(a && b)` does not qualify.
bool Parser::parenthesised_block() {
  size_t pos = pos_ + 1;
  while (pos < text_.size() && (text_[pos] == ' ' || text_[pos] == '\t')) ++pos;
  const size_t name = pos;
  while (pos < text_.size() && is_directive_char(static_cast<unsigned char>(text_[pos]))) ++pos;
  while (pos < text_.size() && (text_[pos] == ' ' || text_[pos] == '\t')) ++pos;
  if (pos == name || pos >= text_.size() || text_[pos] != ':') return false;
  const size_t close = scans_->group_close(pos_);
  if (close == kNoPos) return false;
  size_t length = 0;
  const char32_t after = decode_char(text_, close + 1, length);
  return after == kEndChar || is_ws(after);
}

// Directives followed by a space and something that is no selector up to
// "{" (`!copy(card) btn`) lack their rule.
bool Parser::parse_top_rule() {
  PathScope rule(*this, {NodeKind::Rule});
  const size_t begin = pos_;
  const bool after_directives = last_name_ != kNoPos && cur_ == U' ';
  {
    PathScope selector(*this, {NodeKind::Selector});
    if (!parse_compact_selector()) {
      if (!after_directives) return false;
      return fail(MissKind::NoBody, start_, last_name_, begin);
    }
  }
  if (cur_ != U'{') return false;
  looks_like_region_ = true;
  if (!parse_block(true)) return false;
  return cur_ == kEndChar || is_ws(cur_) || fail(MissKind::Glued, pos_);
}

bool Parser::parse_region() {
  {
    PathScope directive(*this, {NodeKind::Directive});
    take(NodeKind::Prefix);
  }
  if (cur_ == U'{') looks_like_region_ = true;
  if (cur_ != U'@' && !is_rule_start(cur_) && !parse_directive_chain()) return false;
  while (cur_ == U'@') {
    {
      PathScope at_rule(*this, {NodeKind::AtRule});
      if (!parse_at_rule()) return false;
    }
    if (cur_ == U'&') {
      take(NodeKind::And);
      if (!is_and_follower(cur_)) return fail(MissKind::Unexpected, pos_);
      break;
    }
    if (cur_ != U'@' && cur_ != U'{') return fail(MissKind::Unexpected, pos_);
  }
  return parse_top_rule();
}

Lexer new_lexer(std::vector<std::string> directive_names) {
  return Lexer(std::move(directive_names));
}

namespace {

// Hands the children of the Template tree of `text` to `emit` in order: a
// Text node for each non-empty stretch of plain text, a Velt node for each
// region.
template <typename Emit>
void lex_children(const Lexer& lexer, std::string_view text, bool fast, LexTrace* trace,
                  Emit&& emit) {
  LexScans scans;
  size_t plain_start = 0;
  size_t from = 0;
  auto emit_text = [&](std::string_view plain) {
    if (!plain.empty()) emit(Node(NodeKind::Text, std::string(plain)));
  };
  while (true) {
    const size_t bang = text.find('!', from);
    if (bang == std::string_view::npos) break;
    from = bang + 1;
    if (bang != 0 && !preceded_by_ws(text, bang)) continue;
    Node velt;
    size_t end = 0;
    const bool found =
        fast ? read_region_once(text, bang, lexer.directive_names(), scans, velt, end,
                                trace != nullptr ? &trace->misses : nullptr)
             : read_region_plain(text, bang, lexer.directive_names(), scans, velt, end);
    if (!found) continue;
    if (trace != nullptr) trace->regions.push_back(bang);
    emit_text(text.substr(plain_start, bang - plain_start));
    emit(std::move(velt));
    plain_start = from = end;
  }
  emit_text(text.substr(plain_start));
}

}  // namespace

Node lex_text(const Lexer& lexer, std::string_view text, bool fast, LexTrace* trace) {
  Node root(NodeKind::Template);
  lex_children(lexer, text, fast, trace,
               [&](Node&& child) { root.children.push_back(std::move(child)); });
  return root;
}

void lex_each(const Lexer& lexer, std::string_view text, const std::function<void(Node&&)>& emit,
              LexTrace* trace) {
  lex_children(lexer, text, true, trace, emit);
}

Node lex(const Lexer& lexer, std::string_view text) {
  return lex_text(lexer, text, true);
}

Node lex(const Lexer& lexer, std::string_view text, LexTrace& trace) {
  return lex_text(lexer, text, true, &trace);
}

Node lex_selector_text(std::string_view text, bool logged) {
  ScanMemo scans(text, false);
  if (!logged) {
    Parser parser(text, 0, Node(NodeKind::Selector), true, false, &scans, nullptr);
    parser.parse_selector_list(SelectorMode::Nested);
    return std::move(parser.root());
  }
  // A reader that is not fast logs every character it takes, so the runs
  // read up to a failure give the same partial tree.
  thread_local RunLog log;
  log.clear();
  Parser parser(text, 0, Node(), false, false, &scans, nullptr, &log);
  parser.parse_selector_list(SelectorMode::Nested);
  return log.build(text, NodeKind::Selector);
}

Node lex_selector(std::string_view text) {
  return lex_selector_text(text, true);
}

std::optional<std::vector<std::string>> read_at_rule_preludes(std::string_view text) {
  const std::string_view body = trim_white_space(text);
  if (body.empty()) return std::nullopt;
  ScanMemo scans(body, false);
  Parser parser(body, 0, Node(NodeKind::AtRule), false, false, &scans, nullptr);
  std::vector<std::string> preludes;
  while (parser.ch() != kEndChar) {
    const size_t begin = parser.pos();
    if (parser.ch() != U'@' || !parser.parse_at_rule()) return std::nullopt;
    preludes.emplace_back(trim_white_space(body.substr(begin, parser.pos() - begin)));
  }
  return preludes;
}

}  // namespace zeviziz
