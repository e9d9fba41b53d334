// The exact word matcher of the lexer: recognises one word of a fixed list,
// one character at a time with one character of lookahead, without
// backtracking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zeviziz {

// The answer of a lexer machine to one character.
enum class MatchResult : uint8_t {
  Fail,      // the character does not belong to the construct
  Continue,  // the character belongs to it and more must follow
  Complete,  // the character ends it
};

// Matches the words of a list (ASCII words; the list is borrowed and must
// outlive the matcher). On each character it keeps the candidates whose next
// letter equals it; it continues while a kept candidate's following letter
// equals the lookahead, completes when a kept candidate ends here, and fails
// otherwise. `small-x` fails against "small" and "small-only".
class ExactMatcher {
 public:
  explicit ExactMatcher(const std::vector<std::string>* words);

  // Forgets the characters fed so far.
  void reset();

  // Feeds one character with its lookahead (any value above U+10FFFF for the
  // end of the text). After Fail the matcher has reset itself.
  MatchResult feed(char32_t ch, char32_t lookahead);

  // The list index of the word matched by the last Complete: the first kept
  // candidate, in list order, that ends at that character.
  size_t matched() const { return matched_; }

 private:
  const std::vector<std::string>* words_;
  std::vector<uint32_t> kept_;
  size_t offset_ = 0;
  size_t matched_ = 0;
};

}  // namespace zeviziz
