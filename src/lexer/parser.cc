// The reader's cursor, its tree emission and the tokens shared by several
// machines: name runs, white space runs, strings, comments and the flat
// groups of directive arguments, at-rule conditions, plain pseudo-class
// arguments and declaration values.
//
// The cursor keeps the current character and the lookahead decoded. Every
// consumed character is appended to the tree with the current kind path plus
// a leaf kind; in check and fast modes nothing is appended.
#include "lexer/parser.h"

#include "base/unicode.h"

namespace zeviziz {
namespace {

// A backslash escapes any character except a line break.
bool is_escapable(char32_t ch) {
  return ch != kEndChar && ch != kBadChar && ch != U'\n' && ch != U'\r' && ch != U'\f';
}

}  // namespace

bool is_simple_start(char32_t ch) {
  switch (ch) {
    case U'#':
    case U'&':
    case U'*':
    case U'.':
    case U':':
    case U'[':
    case U'_':
      return true;
    default:
      return is_ascii_letter(ch);
  }
}

bool is_rule_start(char32_t ch) {
  switch (ch) {
    case U' ':
    case U'#':
    case U'+':
    case U'.':
    case U':':
    case U'>':
    case U'[':
    case U'{':
    case U'~':
      return true;
    default:
      return false;
  }
}

Parser::Parser(std::string_view text, size_t start, Node root, bool emit, bool fast,
               ScanMemo* scans, const std::vector<std::string>* directive_names, RunLog* log)
    : text_(text),
      root_(std::move(root)),
      emit_(emit),
      fast_(fast),
      scans_(scans),
      directive_names_(directive_names),
      log_(log),
      name_matcher_(directive_names),
      keyword_matcher_(&at_rule_keywords()),
      word_matcher_(&at_rule_words()),
      start_(start) {
  jump_to(start);
}

void Parser::restart(size_t start) {
  path_.clear();
  ++path_epoch_;
  depth_ = 0;
  states_.clear();
  start_ = start;
  last_name_ = kNoPos;
  failure_ = AttemptFailure{};
  looks_like_region_ = false;
  jump_to(start);
}

namespace {
// Steps taken by the readers of the calling thread (see lexer_steps).
thread_local uint64_t t_steps = 0;
}  // namespace

uint64_t lexer_steps() {
  return t_steps + RunLog::replayed();
}

void Parser::advance() {
  ++t_steps;
  pos_ += cur_len_;
  cur_ = next_;
  cur_len_ = next_len_;
  const size_t at = pos_ + cur_len_;
  if (at < text_.size()) {
    // Most style text is ASCII other than NUL: no decoding needed.
    const auto byte = static_cast<unsigned char>(text_[at]);
    if (byte - 1u < 0x7Fu) {
      next_ = byte;
      next_len_ = 1;
      return;
    }
  }
  next_ = decode_char(text_, at, next_len_);
}

void Parser::jump_to(size_t pos) {
  ++t_steps;
  pos_ = pos;
  cur_ = decode_char(text_, pos_, cur_len_);
  next_ = decode_char(text_, pos_ + cur_len_, next_len_);
}

void Parser::take(NodeKind leaf) {
  if (emit_) {
    path_.push_back(leaf);
    append_char(root_, path_, cur_);
    path_.pop_back();
  } else if (log_ != nullptr) {
    log_->add(path_, path_epoch_, leaf, RunShape::Plain, pos_, pos_ + cur_len_);
  }
  advance();
}

void Parser::record(std::initializer_list<NodeKind> kinds, size_t begin, size_t end) {
  if (!emit_ && log_ == nullptr) return;
  const size_t size = path_.size();
  path_.insert(path_.end(), kinds.begin(), kinds.end());
  if (emit_) {
    for (size_t at = begin, length = 0; at < end; at += length) {
      append_char(root_, path_, decode_char(text_, at, length));
    }
  } else {
    const std::span<const NodeKind> above(path_.data(), path_.size() - 1);
    log_->add(above, path_.back(), RunShape::Plain, begin, end);
  }
  path_.resize(size);
  ++path_epoch_;
}

bool Parser::note_state() {
  if (known_failure(pos_)) return false;
  states_.push_back(ScanMemo::state_key(pos_, depth_));
  return true;
}

bool Parser::fail(MissKind kind, size_t at, size_t from, size_t to) {
  if (failure_.kind == static_cast<uint8_t>(MissKind::None)) {
    failure_ = AttemptFailure{static_cast<uint8_t>(kind), at, from, to};
  }
  return false;
}

bool Parser::known_failure(size_t pos) {
  const AttemptFailure* known = scans_->failure(pos, depth_);
  if (known == nullptr) return false;
  if (failure_.kind == static_cast<uint8_t>(MissKind::None)) failure_ = *known;
  return true;
}

AttemptFailure Parser::failure() const {
  if (failure_.kind != static_cast<uint8_t>(MissKind::None)) return failure_;
  return AttemptFailure{static_cast<uint8_t>(MissKind::Unexpected), pos_, kNoPos, kNoPos};
}

PathScope::PathScope(Parser& parser, std::initializer_list<NodeKind> kinds)
    : parser_(parser), size_(parser.path_.size()) {
  parser_.path_.insert(parser_.path_.end(), kinds.begin(), kinds.end());
  ++parser_.path_epoch_;
}

PathScope::~PathScope() {
  parser_.path_.resize(size_);
  ++parser_.path_epoch_;
}

// Both runs are recorded as one token run: read first, then logged whole.
bool Parser::take_name_run(NodeKind leaf) {
  const size_t start = pos_;
  if (emit_) {
    while (true) {
      if (is_name_char(cur_)) {
        take(leaf);
      } else if (cur_ == U'\\' && is_escapable(next_)) {
        take(leaf);
        take(leaf);
      } else {
        return pos_ != start;
      }
    }
  }
  while (true) {
    if (is_name_char(cur_)) {
      advance();
    } else if (cur_ == U'\\' && is_escapable(next_)) {
      advance();
      advance();
    } else {
      break;
    }
  }
  if (log_ != nullptr) log_->add(path_, path_epoch_, leaf, RunShape::Plain, start, pos_);
  return pos_ != start;
}

bool Parser::take_white_space(NodeKind leaf) {
  const size_t start = pos_;
  if (emit_) {
    while (is_ws(cur_)) take(leaf);
    return pos_ != start;
  }
  while (is_ws(cur_)) advance();
  if (log_ != nullptr) log_->add(path_, path_epoch_, leaf, RunShape::Plain, start, pos_);
  return pos_ != start;
}

bool Parser::take_string(NodeKind leaf) {
  if (fast_) {
    const size_t close = scans_->string_close(pos_);
    if (close == kNoPos) return fail(MissKind::Unclosed, pos_);
    if (scans_->has_bad(pos_, close)) return fail(MissKind::BadText, pos_);
    if (log_ != nullptr) log_->add(path_, leaf, RunShape::Plain, pos_, close + 1);
    jump_to(close + 1);
    return true;
  }
  const char32_t quote = cur_;
  take(leaf);
  while (cur_ != quote) {
    if (cur_ == kEndChar || cur_ == kBadChar) return false;
    if (cur_ == U'\\') {
      take(leaf);
      if (cur_ == kEndChar || cur_ == kBadChar) return false;
    }
    take(leaf);
  }
  take(leaf);
  return true;
}

bool Parser::take_comment(NodeKind leaf) {
  if (fast_) {
    const size_t close = scans_->comment_close(pos_);
    if (close == kNoPos) return fail(MissKind::Unclosed, pos_);
    if (scans_->has_bad(pos_, close)) return fail(MissKind::BadText, pos_);
    if (log_ != nullptr) log_->add(path_, leaf, RunShape::Plain, pos_, close + 1);
    jump_to(close + 1);
    return true;
  }
  take(leaf);
  take(leaf);
  while (!(cur_ == U'*' && next_ == U'/')) {
    if (cur_ == kEndChar || cur_ == kBadChar) return false;
    take(leaf);
  }
  take(leaf);
  take(leaf);
  return true;
}

bool Parser::take_atomic_token(NodeKind string_leaf, bool& taken) {
  taken = true;
  if (cur_ == U'"' || cur_ == U'\'') return take_string(string_leaf);
  if (cur_ == U'/' && next_ == U'*') return take_comment(NodeKind::Char);
  if (cur_ != U'\\') {
    taken = false;
    return true;
  }
  take(NodeKind::Char);
  if (cur_ == kEndChar || cur_ == kBadChar) return false;
  take(NodeKind::Char);
  return true;
}

// Reads a group opened by "(" or "[" up to the matching bracket, counting only
// that bracket kind; strings, comments and escapes inside are atomic. With
// `parenthesis`, the brackets are Open and Close and the inside a Value of
// Char and Space nodes; otherwise every character is a Char, white space a
// Space, relative to the current path.
bool Parser::parse_flat_group(bool parenthesis) {
  if (fast_) {
    const size_t close = scans_->group_close(pos_);
    if (close == kNoPos) return fail(MissKind::Unclosed, pos_);
    if (scans_->has_bad(pos_, close)) return fail(MissKind::BadText, pos_);
    if (log_ != nullptr) {
      const RunShape shape = parenthesis ? RunShape::ParenGroup : RunShape::Group;
      log_->add(path_, NodeKind::Null, shape, pos_, close + 1);
    }
    jump_to(close + 1);
    return true;
  }
  const char32_t open = cur_;
  const char32_t close = open == U'(' ? U')' : U']';
  take(parenthesis ? NodeKind::Open : NodeKind::Char);
  {
    PathScope value(*this, {});
    if (parenthesis) path_.push_back(NodeKind::Value);
    ++path_epoch_;
    for (int depth = 1; !(cur_ == close && depth == 1);) {
      bool taken = false;
      if (cur_ == kEndChar || cur_ == kBadChar || !take_atomic_token(NodeKind::Char, taken)) {
        return false;
      }
      if (taken) continue;
      depth += cur_ == open ? 1 : cur_ == close ? -1 : 0;
      take(is_ws(cur_) ? NodeKind::Space : NodeKind::Char);
    }
  }
  take(parenthesis ? NodeKind::Close : NodeKind::Char);
  return true;
}

}  // namespace zeviziz
