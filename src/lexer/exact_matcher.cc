// The exact word matcher: keeps the candidate words that agree with the
// characters fed so far and decides with the lookahead whether the word goes
// on, ends here or fails. Candidates are indexes into the borrowed list, so a
// reset costs nothing but clearing a small vector.
#include "lexer/exact_matcher.h"

namespace zeviziz {
namespace {

// True when `word` has the ASCII character `ch` at byte `offset`.
bool letter_at(const std::string& word, size_t offset, char32_t ch) {
  return offset < word.size() && ch < 0x80 && static_cast<unsigned char>(word[offset]) == ch;
}

}  // namespace

ExactMatcher::ExactMatcher(const std::vector<std::string>* words) : words_(words) {}

void ExactMatcher::reset() {
  kept_.clear();
  offset_ = 0;
}

MatchResult ExactMatcher::feed(char32_t ch, char32_t lookahead) {
  const std::vector<std::string>& words = *words_;
  if (offset_ == 0) {
    for (uint32_t i = 0; i < words.size(); ++i) {
      if (letter_at(words[i], 0, ch)) kept_.push_back(i);
    }
  } else {
    size_t out = 0;
    for (uint32_t index : kept_) {
      if (letter_at(words[index], offset_, ch)) kept_[out++] = index;
    }
    kept_.resize(out);
  }
  ++offset_;
  for (uint32_t index : kept_) {
    if (letter_at(words[index], offset_, lookahead)) return MatchResult::Continue;
  }
  for (uint32_t index : kept_) {
    if (words[index].size() == offset_) {
      matched_ = index;
      reset();
      return MatchResult::Complete;
    }
  }
  reset();
  return MatchResult::Fail;
}

}  // namespace zeviziz
