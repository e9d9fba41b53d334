// The at-rule machine: "@", a keyword from the fixed list, then the prelude.
//
// After "media", "container" or "layer" a plain name may follow (a Value); a
// "(" opens a condition (a Parenthesis); "and" (an And node) joins another
// condition for "media", "supports" and "container"; "container" also takes a
// condition right after its name; after the first condition of "scope", "to"
// (a Keyword, once) introduces the limit condition; "starting-style" takes
// nothing. White space between the parts, and after the last one, is Space.
// The machine stops at the first character that cannot continue the prelude
// and succeeds when the prelude read so far is complete.
#include <string>
#include <vector>

#include "lexer/parser.h"

namespace zeviziz {
namespace {

enum Keyword : size_t { kMedia, kSupports, kContainer, kLayer, kStartingStyle, kScope };

// Prelude states: after a part, and after white space that follows it.
enum State : int {
  kAfterKeyword,
  kKeywordGap,
  kAfterName,
  kNameGap,
  kAfterCondition,
  kConditionGap,
  kAfterWord,  // "and" or "to": white space must follow
  kWordGap,
};

bool complete(int state, size_t keyword) {
  switch (state) {
    case kAfterKeyword:
    case kKeywordGap:
      return keyword == kLayer || keyword == kStartingStyle || keyword == kScope;
    case kAfterName:
    case kNameGap:
    case kAfterCondition:
    case kConditionGap:
      return true;
    default:
      return false;
  }
}

bool condition_allowed(int state, size_t keyword) {
  switch (state) {
    case kAfterKeyword:
    case kKeywordGap:
      return keyword != kLayer && keyword != kStartingStyle;
    case kNameGap:
      return keyword == kContainer;
    case kWordGap:
      return true;
    default:
      return false;
  }
}

int after_white_space(int state) {
  switch (state) {
    case kAfterKeyword:
      return kKeywordGap;
    case kAfterName:
      return kNameGap;
    case kAfterCondition:
      return kConditionGap;
    case kAfterWord:
      return kWordGap;
    default:
      return state;
  }
}

}  // namespace

const std::vector<std::string>& at_rule_keywords() {
  static const std::vector<std::string> keywords = {"media", "supports",       "container",
                                                    "layer", "starting-style", "scope"};
  return keywords;
}

const std::vector<std::string>& at_rule_words() {
  static const std::vector<std::string> words = {"and", "to"};
  return words;
}

bool Parser::parse_at_keyword(size_t& keyword) {
  ExactMatcher& matcher = keyword_matcher_;
  while (true) {
    const MatchResult result = matcher.feed(cur_, next_);
    if (result == MatchResult::Fail) return false;
    take(NodeKind::Name);
    if (result == MatchResult::Complete) {
      keyword = matcher.matched();
      return true;
    }
  }
}

// A media type, container name or layer name (dots allowed for layers).
bool Parser::take_at_name() {
  const size_t start = pos_;
  while (is_name_char(cur_) || cur_ == U'.') take(NodeKind::Value);
  return pos_ != start;
}

// Reads "and" or "to" where the state allows it.
bool Parser::take_at_word(size_t keyword, int& state, int& conditions, bool& has_limit) {
  const bool is_and = cur_ == U'a';
  ExactMatcher& matcher = word_matcher_;
  while (true) {
    const MatchResult result = matcher.feed(cur_, next_);
    if (result == MatchResult::Fail) return false;
    take(is_and ? NodeKind::And : NodeKind::Keyword);
    if (result == MatchResult::Complete) break;
  }
  if (is_and) {
    if (keyword == kLayer || keyword == kScope || keyword == kStartingStyle) return false;
  } else if (keyword != kScope || state != kConditionGap || conditions != 1 || has_limit) {
    return false;
  }
  has_limit = has_limit || !is_and;
  state = kAfterWord;
  return true;
}

bool Parser::parse_at_rule() {
  take(NodeKind::Prefix);
  size_t keyword = 0;
  if (!parse_at_keyword(keyword)) return false;
  // A complete at-keyword after the trigger is meant as style syntax.
  if (!is_name_char(cur_)) looks_like_region_ = true;
  int state = kAfterKeyword;
  int conditions = 0;
  bool has_limit = false;
  while (true) {
    const char32_t c = cur_;
    if (is_ws(c)) {
      take_white_space(NodeKind::Space);
      state = after_white_space(state);
    } else if (c == U'(' && condition_allowed(state, keyword)) {
      PathScope parenthesis(*this, {NodeKind::Parenthesis});
      if (!parse_flat_group(true)) return false;
      state = kAfterCondition;
      ++conditions;
    } else if (is_ascii_letter(c) || c == U'-' || c == U'_') {
      if (state == kKeywordGap &&
          (keyword == kMedia || keyword == kContainer || keyword == kLayer)) {
        take_at_name();
        state = kAfterName;
      } else if (state == kNameGap || state == kConditionGap) {
        if (!take_at_word(keyword, state, conditions, has_limit)) return false;
      } else {
        break;
      }
    } else {
      break;
    }
  }
  return complete(state, keyword);
}

}  // namespace zeviziz
