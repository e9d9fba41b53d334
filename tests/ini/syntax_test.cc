#include "ini/syntax.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zeviziz {
namespace {

// Renders a parse result as its value text or "error: " + message.
template <typename T, typename Show>
std::string outcome(const Result<T>& result, Show show) {
  return result.ok() ? show(result.value()) : "error: " + result.error();
}

std::string show_string(const std::string& text) {
  return text;
}

std::string show_value(const IniValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return "s:" + *text;
  if (const auto* flag = std::get_if<bool>(&value)) return *flag ? "b:true" : "b:false";
  if (const auto* number = std::get_if<int64_t>(&value)) return "i:" + std::to_string(*number);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "d:%.17g", std::get<double>(value));
  return buffer;
}

std::string show_key(const KeyPattern& key) {
  std::string out = key.base;
  for (const auto& group : key.groups) {
    out += "[";
    for (size_t i = 0; i < group.size(); ++i) {
      if (i > 0) out += "|";
      const KeySegment& segment = group[i];
      if (segment.kind == KeySegment::Kind::Push) out += "push";
      if (segment.kind == KeySegment::Kind::Index) out += "#" + std::to_string(segment.index);
      if (segment.kind == KeySegment::Kind::Name) out += "n:" + segment.name;
    }
    out += "]";
  }
  return out;
}

struct Case {
  std::string_view input;
  std::string expected;
};

TEST(IniSyntax, StripComment) {
  const Case cases[] = {
      {"a = 'x' # note", "a = 'x' "},
      {"a = 'x#y'", "a = 'x#y'"},
      {"a=x#y", "a=x#y"},
      {"# whole line", ""},
      {"; whole line", ""},
      {"a ;b", "a "},
      {"a\t#b", "a\t"},
      {"a\xC2\xA0#b", "a\xC2\xA0"},            // U+00A0 before the comment
      {"a\xE3\x80\x80;b", "a\xE3\x80\x80"},    // U+3000
      {"a\xE2\x80\x8B#b", "a\xE2\x80\x8B#b"},  // U+200B is not white space
      {"\"a \\\" #b\" #c", "\"a \\\" #b\" "},  // escaped quote inside "..."
      {"'a\\' #b", "'a\\' "},                  // backslash is ordinary in '...'
      {"'open #b", "'open #b"},                // quote left open is no error here
  };
  for (const Case& c : cases) EXPECT_EQ(strip_comment(c.input), c.expected) << c.input;
}

TEST(IniSyntax, SplitOutsideQuotes) {
  auto joined = [](std::string_view text) {
    return outcome(split_outside_quotes(text, "open"), [](const auto& items) {
      std::string out;
      for (std::string_view item : items) out += "<" + std::string(item) + ">";
      return out;
    });
  };
  EXPECT_EQ(joined("a, 'b,c' ,\"d\\\",e\""), "<a>< 'b,c' ><\"d\\\",e\">");
  EXPECT_EQ(joined(""), "<>");
  EXPECT_EQ(joined(",,"), "<><><>");
  EXPECT_EQ(joined("'a,b"), "error: open");
  EXPECT_EQ(joined("\"a\\\""), "error: open");
}

TEST(IniSyntax, StringLiterals) {
  const Case cases[] = {
      {"'<?php\\s[1:]'", "<?php\\s[1:]"},
      {"'\\n'", "\\n"},
      {"\"\\n\"", "\n"},
      {"\"\\\\ \\r\\t\\\"\"", "\\ \r\t\""},
      {"\"\\s\\'\"", "\\s\\'"},
      {"'x''y'", "xy"},
      {"\"'\"'x'", "'x"},
      {"'x'  \t", "x"},
      {"''", ""},
      {"'x' 'y'", "error: Whitespace is not allowed between concatenated string literals"},
      {"'x'y", "error: Unexpected text after string literal"},
      {"'x' y", "error: Unexpected text after string literal"},
      {"'x", "error: Unclosed quoted value"},
      {"\"x\\\"", "error: Unclosed quoted value"},
      {"'x''y", "error: Unclosed quoted value"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcome(parse_string_literal(c.input), show_string), c.expected) << c.input;
  }
}

TEST(IniSyntax, KeyPatterns) {
  const Case cases[] = {
      {"a", "a"},
      {"  a b  ", "a b"},
      {"''", ""},
      {"", "error: Empty key"},
      {"a'", "error: Unexpected quote in key"},
      {"a[]", "a[push]"},
      {"a[ ]", "a[push]"},
      {"a [x]", "a[n:x]"},
      {"a[0]", "a[#0]"},
      {"a['0']", "a[n:0]"},
      {"a[ 65535 ]", "a[#65535]"},
      {"a[x, y][1,'b']", "a[n:x|n:y][#1|n:b]"},
      {"a['x]y']", "a[n:x]y]"},
      {"'q[x]'[k]", "q[x][n:k]"},
      {"a[007]", "a[#7]"},
      {"a[-1]", "a[n:-1]"},
      {"[x]", "error: Empty key"},
      {"a[b]c", "error: Invalid array key"},
      {"a[b] [c]", "error: Invalid array key"},
      {"a[b", "error: Unclosed array key"},
      {"a[,x]", "error: Empty array key alternative"},
      {"a[x,]", "error: Empty array key alternative"},
      {"a[x, ]", "error: Empty array key alternative"},
      {"a[65536]", "error: Array index too large"},
      {"a[99999999999999999999]", "error: Array index out of range"},
      {"a[x\"y]", "error: Unclosed array key"},
      {"a[x'y'z]", "error: Unexpected quote in key"},
      {"a\"b\"[x]", "error: Unexpected quote in key"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcome(parse_key_pattern(c.input), show_key), c.expected) << c.input;
  }
}

TEST(IniSyntax, ScalarValues) {
  struct OwnedCase {
    std::string input, expected;
  };
  const OwnedCase cases[] = {
      {"'x'", "s:x"},
      {"true", "b:true"},
      {"false", "b:false"},
      {"0", "i:0"},
      {"+5", "i:5"},
      {"-5", "i:-5"},
      {"9223372036854775807", "i:9223372036854775807"},
      {"-9223372036854775808", "i:-9223372036854775808"},
      {"9223372036854775808", "error: Integer out of range"},
      {"-9223372036854775809", "error: Integer out of range"},
      {"99999999999999999999999", "error: Integer out of range"},
      {"1.5", "d:1.5"},
      {".5", "d:0.5"},
      {"5.", "d:5"},
      {"-0.25", "d:-0.25"},
      {"1" + std::string(400, '0') + ".0", "error: Float out of range"},
      {"0." + std::string(400, '0') + "1", "d:0"},
      {"", "error: Expected value"},
      {"TRUE", "error: Expected string literal, boolean or number"},
      {"1e5", "error: Expected string literal, boolean or number"},
      {"1.2.3", "error: Expected string literal, boolean or number"},
      {"+", "error: Expected string literal, boolean or number"},
      {".", "error: Expected string literal, boolean or number"},
      {"0x10", "error: Expected string literal, boolean or number"},
      {"x#y", "error: Expected string literal, boolean or number"},
      {"'x'y", "error: Unexpected text after string literal"},
  };
  for (const OwnedCase& c : cases) {
    EXPECT_EQ(outcome(parse_value(c.input), show_value), c.expected) << c.input;
  }
}

TEST(IniSyntax, ValueLists) {
  auto list = [](std::string_view text) {
    return outcome(parse_values(text), [](const std::vector<IniValue>& values) {
      std::string out;
      for (const IniValue& value : values) out += "<" + show_value(value) + ">";
      return out;
    });
  };
  EXPECT_EQ(list("'<?php\\s[1:]','?>'"), "<s:<?php\\s[1:]><s:?>>");
  EXPECT_EQ(list("\"#\",'\\n'"), "<s:#><s:\\n>");
  EXPECT_EQ(list(" 1 , true ,'a,b' "), "<i:1><b:true><s:a,b>");
  EXPECT_EQ(list("'x',,'y'"), "error: Expected value");
  EXPECT_EQ(list("'x',"), "error: Expected value");
  EXPECT_EQ(list("'x"), "error: Unclosed quoted value");
  EXPECT_EQ(list("\"x\\"), "error: Unclosed quoted value");
}

}  // namespace
}  // namespace zeviziz
