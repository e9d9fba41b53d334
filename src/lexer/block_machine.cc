// The block machine: the items between "{" and "}" (declarations, nested
// rules, nested at-rules, semicolons, white space and comments) and the
// declaration values.
//
// An item that starts with a letter, "-" or "_" is a nested rule when the
// first "{", ";" or "}" ahead outside groups, strings and comments is a "{",
// else a declaration; "--" always starts a declaration. A value ends at the
// first ";" or "}" outside groups, strings, comments and nested braces.
#include "lexer/parser.h"

namespace zeviziz {
namespace {

// The first characters of a nested rule's selector.
bool starts_nested_rule(char32_t ch) {
  switch (ch) {
    case U'#':
    case U'&':
    case U'*':
    case U'+':
    case U'.':
    case U':':
    case U'>':
    case U'[':
    case U'~':
      return true;
    default:
      return false;
  }
}

}  // namespace

// Reads a block at "{" through its "}". A fast reader first asks the memo
// where the block closes: a block that never closes, or a region block not
// followed by white space or the end, fails at once.
bool Parser::parse_block(bool top) {
  if (depth_ >= kMaxNesting) return fail(MissKind::TooDeep, pos_);
  if (fast_) {
    const size_t close = scans_->block_close(pos_);
    if (close == kNoPos) return fail(MissKind::Unclosed, pos_);
    size_t length = 0;
    const char32_t after = decode_char(text_, close + 1, length);
    if (top && after != kEndChar && !is_ws(after)) return fail(MissKind::Glued, close + 1);
  }
  PathScope block(*this, {NodeKind::Declaration});
  take(NodeKind::Open);
  ++depth_;
  while (true) {
    if (fast_ && !note_state()) return false;
    if (cur_ == U'}') break;
    if (!parse_block_item()) return false;
  }
  take(NodeKind::Close);
  --depth_;
  return true;
}

bool Parser::parse_block_item() {
  const char32_t c = cur_;
  if (is_ws(c)) return take_white_space(NodeKind::Space);
  if (c == U'/' && next_ == U'*') return take_comment(NodeKind::Space);
  if (c == U';') {
    take(NodeKind::Semicolon);
    return true;
  }
  if (c == U'@') return parse_nested_at_rule();
  if (starts_nested_rule(c)) return parse_nested_rule();
  if (!is_ascii_letter(c) && c != U'-' && c != U'_') return false;
  if (c == U'-' && next_ == U'-') return parse_declaration();
  bool is_rule = false;
  if (!item_is_rule(is_rule)) return false;
  return is_rule ? parse_nested_rule() : parse_declaration();
}

// The declaration-or-rule look-ahead. An item with no "{", ";" or "}" ahead
// would be a declaration running to the end of the text, so it fails here.
bool Parser::item_is_rule(bool& is_rule) {
  const size_t end = scans_->item_end(pos_);
  if (end == kNoPos) return false;
  is_rule = text_[end] == '{';
  return true;
}

bool Parser::parse_nested_rule() {
  if (fast_) {
    // The selector ends at the first "{" ahead; the rule's block must close
    // and the state after it must not be known to fail.
    const size_t open = scans_->item_end(pos_);
    if (open == kNoPos) return false;
    if (text_[open] != '{') return fail(MissKind::Unexpected, open);
    const size_t close = scans_->block_close(open);
    if (close == kNoPos) return fail(MissKind::Unclosed, open);
    if (known_failure(close + 1)) return false;
  }
  PathScope rule(*this, {NodeKind::Rule});
  {
    PathScope selector(*this, {NodeKind::Selector});
    if (!parse_selector_list(SelectorMode::Nested)) return false;
  }
  return parse_block(false);
}

// A nested at-rule is an AtRule item (consecutive at-rules share it) followed
// by a Rule item without selector that holds the block.
bool Parser::parse_nested_at_rule() {
  while (true) {
    {
      PathScope at_rule(*this, {NodeKind::AtRule});
      if (!parse_at_rule()) return false;
    }
    if (cur_ == U'{') break;
    if (cur_ != U'@') return false;
  }
  PathScope rule(*this, {NodeKind::Rule});
  return parse_block(false);
}

bool Parser::parse_declaration() {
  PathScope attribute(*this, {NodeKind::Attribute});
  const size_t name = pos_;
  if (!take_name_run(NodeKind::Name)) return false;
  take_white_space(NodeKind::Space);
  if (cur_ != U':') return fail(MissKind::NoColon, pos_, name);
  take(NodeKind::Colon);
  take_white_space(NodeKind::Space);
  return parse_value();
}

bool Parser::parse_value() {
  if (fast_) {
    const size_t end = scans_->value_end(pos_);
    if (end == kNoPos) return false;
    if (scans_->has_bad(pos_, end)) return fail(MissKind::BadText, pos_);
    if (known_failure(end)) return false;
    if (log_ != nullptr) log_->add(path_, NodeKind::Null, RunShape::Value, pos_, end);
    jump_to(end);
    return true;
  }
  PathScope value(*this, {NodeKind::Value});
  int braces = 0;
  while (braces > 0 || (cur_ != U';' && cur_ != U'}')) {
    bool taken = false;
    if (cur_ == kEndChar || cur_ == kBadChar || !take_atomic_token(NodeKind::StringValue, taken)) {
      return false;
    }
    if (taken) continue;
    if (cur_ == U'(') {
      PathScope parenthesis(*this, {NodeKind::Parenthesis});
      if (!parse_flat_group(true)) return false;
    } else if (cur_ == U'[') {
      if (!parse_flat_group(false)) return false;
    } else if (is_ws(cur_)) {
      take_white_space(NodeKind::Space);
    } else {
      braces += cur_ == U'{' ? 1 : cur_ == U'}' ? -1 : 0;
      take(NodeKind::Char);
    }
  }
  return true;
}

}  // namespace zeviziz
