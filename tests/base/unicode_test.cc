#include "base/unicode.h"

#include <gtest/gtest.h>

#include "base/result.h"

namespace zeviziz {
namespace {

TEST(Unicode, WhiteSpaceSet) {
  for (char32_t ch : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x200A,
                      0x2028, 0x2029, 0x202F, 0x205F, 0x3000}) {
    EXPECT_TRUE(is_white_space(ch)) << static_cast<uint32_t>(ch);
  }
  for (char32_t ch : {0x08, 0x0E, 0x1F, 0x21, 0x84, 0x200B, 0xFEFF, 0x180E}) {
    EXPECT_FALSE(is_white_space(ch)) << static_cast<uint32_t>(ch);
  }
}

TEST(Unicode, TrimRemovesUnicodeWhiteSpaceOnly) {
  struct Case {
    std::string_view input, expected;
  } cases[] = {
      {"  a b \t", "a b"},
      {"\xE3\x80\x80x\xC2\xA0", "x"},  // U+3000 and U+00A0
      {"\xE2\x80\x8Bx", "\xE2\x80\x8Bx"},  // U+200B is not white space
      {"   ", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(trim_white_space(c.input), c.expected) << c.input;
}

TEST(Unicode, Utf8RoundTripAndValidation) {
  std::string text;
  for (char32_t ch : {U'a', U'\u00e9', U'\u20ac', U'\U0001F600'}) append_utf8(text, ch);
  EXPECT_TRUE(is_valid_utf8(text));
  size_t pos = 0;
  std::u32string decoded;
  while (pos < text.size()) decoded.push_back(decode_utf8(text, pos));
  EXPECT_EQ(decoded, U"a\u00e9\u20ac\U0001F600");
  EXPECT_EQ(count_chars(text), 4u);

  EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));      // overlong
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));  // surrogate
  EXPECT_FALSE(is_valid_utf8("\xE2\x82"));      // truncated
  EXPECT_EQ(sanitize_utf8("a\xFFz"), "a\xEF\xBF\xBDz");
}

TEST(Result, CarriesValueOrPrefixedMessage) {
  Result<int> good = 4;
  ASSERT_TRUE(good.ok());
  EXPECT_EQ(*good, 4);
  Result<int> bad = make_error("Duplicate key");
  ASSERT_FALSE(bad.ok());
  Error e = prefix_error("INI line 3: ", bad.take_error());
  EXPECT_EQ(e.message, "INI line 3: Duplicate key");
}

}  // namespace
}  // namespace zeviziz
