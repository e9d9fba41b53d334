// The selector machines: the compact selector of a region's own rule, the
// free-form selector lists of nested rules and pseudo-class arguments,
// compound selectors, attribute selectors and pseudo-classes.
//
// In a free-form list, white space and comments are gathered until the next
// part shows what they were: a run between two compound selectors makes a
// Descendant combinator of its first white-space characters (the rest, and
// comments, are Space); anywhere else the whole run is Space.
#include <cctype>

#include "base/unicode.h"
#include "lexer/parser.h"

namespace zeviziz {
namespace {

// How a pseudo-class name reads its parenthesised argument.
enum class ArgumentKind : uint8_t { Plain, List, Relative, Compound, Nth };

ArgumentKind argument_kind(std::string_view name) {
  if (name == "is" || name == "where" || name == "not") return ArgumentKind::List;
  if (name == "has") return ArgumentKind::Relative;
  if (name == "host" || name == "host-context" || name == "slotted") return ArgumentKind::Compound;
  if (name == "nth-child" || name == "nth-last-child") return ArgumentKind::Nth;
  return ArgumentKind::Plain;
}

bool is_combinator_char(char32_t ch) {
  return ch == U'>' || ch == U'+' || ch == U'~';
}

}  // namespace

// The pieces of a gap are kept only when the tree is built or recorded:
// white-space runs and comments, in order.
struct Parser::Gap {
  struct Piece {
    size_t begin;
    size_t end;
    bool white;
  };
  std::vector<Piece> pieces;
  bool has_white_space = false;
};

bool Parser::take_combinator() {
  NodeKind kind = NodeKind::Descendant;
  if (cur_ == U'>') kind = NodeKind::Child;
  if (cur_ == U'+') kind = NodeKind::NextSibling;
  if (cur_ == U'~') kind = NodeKind::SubsequentSibling;
  PathScope combinator(*this, {NodeKind::Combinator});
  take(kind);
  return true;
}

// The region's own selector: no comments; a single space is a Descendant
// combinator, and every combinator is directly followed by a simple
// selector. "," separates alternatives; each alternative starts like the
// selector itself (a combinator, a space or a simple selector). Ends before
// "{".
bool Parser::parse_compact_selector() {
  if (cur_ == U'{') return true;
  while (true) {
    if (cur_ == U' ' || is_combinator_char(cur_)) {
      const bool space = cur_ == U' ';
      take_combinator();
      if (space && cur_ == U'{') {
        looks_like_region_ = true;
        return fail(MissKind::SpaceBeforeBlock, pos_ - 1);
      }
      if (!is_simple_start(cur_)) return false;
    }
    if (!parse_compound()) return false;
    if (cur_ == U'{') return true;
    if (cur_ == U',') {
      take(NodeKind::Comma);
      if (cur_ != U' ' && !is_combinator_char(cur_) && !is_simple_start(cur_)) return false;
      continue;
    }
    if (cur_ != U' ' && !is_combinator_char(cur_)) return false;
  }
}

// Simple selectors without white space between them. "*" and an element
// name only come first; "*" and "&" may not be followed by a name character.
bool Parser::parse_compound() {
  bool first = true;
  while (true) {
    const char32_t c = cur_;
    if (c == U'*' || c == U'&') {
      if (c == U'*' && !first) break;
      take(c == U'*' ? NodeKind::Universal : NodeKind::Nesting);
      if (is_name_char(cur_)) return false;
    } else if (is_ascii_letter(c) || c == U'_') {
      if (!first) break;
      take_name_run(NodeKind::Element);
    } else if (c == U'.' || c == U'#') {
      const NodeKind kind = c == U'.' ? NodeKind::Class : NodeKind::Id;
      if (!is_name_char(next_) && next_ != U'\\') return false;
      take(kind);
      if (!take_name_run(kind)) return false;
    } else if (c == U'[') {
      if (!parse_attribute()) return false;
    } else if (c == U':') {
      if (!parse_pseudo()) return false;
    } else {
      break;
    }
    first = false;
  }
  return !first;
}

bool Parser::parse_attribute() {
  PathScope attribute(*this, {NodeKind::Attribute});
  take(NodeKind::Open);
  take_white_space(NodeKind::Space);
  if (is_ascii_digit(cur_) || !take_name_run(NodeKind::AttName)) return false;
  take_white_space(NodeKind::AttNameEnd);
  if (cur_ != U']') {
    if (cur_ == U'~' || cur_ == U'|' || cur_ == U'^' || cur_ == U'$' || cur_ == U'*') {
      if (next_ != U'=') return false;
      take(NodeKind::OperatorStart);
    }
    if (cur_ != U'=') return false;
    take(NodeKind::Operator);
    take_white_space(NodeKind::OperatorEnd);
    if (cur_ == U'"' || cur_ == U'\'') {
      if (!take_string(NodeKind::StringValue)) return false;
    } else if (!take_name_run(NodeKind::NameValue)) {
      return false;
    }
    take_white_space(NodeKind::Space);
    if (is_ascii_letter(cur_)) {
      while (is_ascii_letter(cur_)) take(NodeKind::Keyword);
      take_white_space(NodeKind::Space);
    }
    if (cur_ != U']') return false;
  }
  take(NodeKind::Close);
  return true;
}

bool Parser::parse_pseudo() {
  PathScope pseudo(*this, {NodeKind::Pseudoclass});
  take(NodeKind::Prefix);
  if (cur_ == U':') take(NodeKind::Prefix);
  if (is_ascii_digit(cur_)) return false;
  const size_t start = pos_;
  if (!take_name_run(NodeKind::Name)) return false;
  if (cur_ != U'(') return true;
  return parse_pseudo_argument(ascii_lower(text_.substr(start, pos_ - start)));
}

bool Parser::parse_pseudo_argument(std::string_view name) {
  PathScope parenthesis(*this, {NodeKind::Parenthesis});
  const ArgumentKind kind = argument_kind(name);
  if (kind == ArgumentKind::Plain) return parse_flat_group(true);
  if (depth_ >= kMaxNesting) return false;
  take(NodeKind::Open);
  ++depth_;
  bool ok = false;
  if (kind == ArgumentKind::Nth) {
    ok = parse_nth_argument();
  } else {
    PathScope selector(*this, {NodeKind::Selector});
    const SelectorMode mode = kind == ArgumentKind::List       ? SelectorMode::List
                              : kind == ArgumentKind::Relative ? SelectorMode::Relative
                                                               : SelectorMode::Compound;
    ok = parse_selector_list(mode);
  }
  if (!ok || cur_ != U')') return false;
  take(NodeKind::Close);
  --depth_;
  return true;
}

// An An+B expression as a Value of Char and Space nodes, optionally followed
// by the word "of" (a Keyword) and a selector list; a selector list may also
// follow without "of", or stand alone.
bool Parser::parse_nth_argument() {
  bool any = false;
  bool after_space = false;
  while (cur_ != U')') {
    const char32_t c = cur_;
    if (is_ws(c)) {
      PathScope value(*this, {NodeKind::Value});
      take_white_space(NodeKind::Space);
      after_space = true;
      continue;
    }
    size_t length = 0;
    if (any && after_space && (c == U'o' || c == U'O') && (next_ == U'f' || next_ == U'F') &&
        is_ws(decode_char(text_, pos_ + 2, length))) {
      take(NodeKind::Keyword);
      take(NodeKind::Keyword);
      take_white_space(NodeKind::Space);
      PathScope selector(*this, {NodeKind::Selector});
      return parse_selector_list(SelectorMode::List);
    }
    const bool an_plus_b =
        c == U'+' || c == U'-' || is_ascii_digit(c) ||
        (is_ascii_letter(c) && ((any && !after_space) || is_an_plus_b_word(text_, pos_)));
    if (!an_plus_b) {
      if (!is_simple_start(c)) return false;
      PathScope selector(*this, {NodeKind::Selector});
      return parse_selector_list(SelectorMode::List);
    }
    PathScope value(*this, {NodeKind::Value});
    take(NodeKind::Char);
    any = true;
    after_space = false;
  }
  return any;
}

// Gathers white space and comments.
bool Parser::read_gap(Gap& gap) {
  const bool keep = emit_ || log_ != nullptr;
  while (true) {
    if (is_ws(cur_)) {
      gap.has_white_space = true;
      if (keep) {
        if (!gap.pieces.empty() && gap.pieces.back().white && gap.pieces.back().end == pos_) {
          gap.pieces.back().end = pos_ + cur_len_;
        } else {
          gap.pieces.push_back({pos_, pos_ + cur_len_, true});
        }
      }
      advance();
    } else if (cur_ == U'/' && next_ == U'*') {
      const size_t start = pos_;
      const bool was_emitting = emit_;
      RunLog* const log = log_;
      emit_ = false;
      log_ = nullptr;
      const bool closed = take_comment(NodeKind::Space);
      emit_ = was_emitting;
      log_ = log;
      if (!closed) return false;
      if (keep) gap.pieces.push_back({start, pos_, false});
    } else {
      return true;
    }
  }
}

// With `descendant`, the first white-space run is the Descendant combinator;
// everything else in the gap is Space.
void Parser::flush_gap(Gap& gap, bool descendant) {
  for (const Gap::Piece& piece : gap.pieces) {
    if (descendant && piece.white) {
      record({NodeKind::Combinator, NodeKind::Descendant}, piece.begin, piece.end);
      descendant = false;
    } else {
      record({NodeKind::Space}, piece.begin, piece.end);
    }
  }
  gap.pieces.clear();
  gap.has_white_space = false;
}

bool Parser::parse_selector_list(SelectorMode mode) {
  const char32_t terminator = mode == SelectorMode::Nested ? U'{' : U')';
  const bool compound_only = mode == SelectorMode::Compound;
  const bool relative = mode == SelectorMode::Nested || mode == SelectorMode::Relative;
  enum class State : uint8_t { Start, AfterCombinator, AfterCompound } state = State::Start;
  Gap gap;
  while (true) {
    const char32_t c = cur_;
    if (is_ws(c) || (c == U'/' && next_ == U'*')) {
      if (!read_gap(gap)) return false;
    } else if (c == terminator) {
      if (state != State::AfterCompound) return false;
      flush_gap(gap, false);
      return true;
    } else if (c == U',' && !compound_only) {
      if (state != State::AfterCompound) return false;
      flush_gap(gap, false);
      take(NodeKind::Comma);
      state = State::Start;
    } else if (is_combinator_char(c) && !compound_only) {
      if (state == State::AfterCombinator || (state == State::Start && !relative)) return false;
      flush_gap(gap, false);
      take_combinator();
      state = State::AfterCombinator;
    } else if (is_simple_start(c)) {
      if (state == State::AfterCompound && (compound_only || !gap.has_white_space)) return false;
      flush_gap(gap, state == State::AfterCompound);
      if (!parse_compound()) return false;
      state = State::AfterCompound;
    } else {
      return false;
    }
  }
}

}  // namespace zeviziz
