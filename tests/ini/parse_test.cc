#include "ini/parse.h"

#include <gtest/gtest.h>

#include <string>

#include "dump.h"

namespace zeviziz {
namespace {

std::string parse(std::string_view text) {
  Result<IniDocument> document = parse_ini(text);
  return document.ok() ? dump_table(document->root()) : "error: " + document.error();
}

struct Case {
  std::string_view input;
  std::string expected;
};

TEST(IniParse, LinesCommentsAndMarks) {
  const Case cases[] = {
      {"", "{}"},
      {"\xEF\xBB\xBF\xEF\xBB\xBF[s]\na=1", "{s={a=1}}"},
      {"a=1\r\nb=2\r\n", "{a=1 b=2}"},
      {"a='x\ry'", "{a='x\ry'}"},  // a CR not before LF stays in the line
      {"a = 'x' # note", "{a='x'}"},
      {"a = 'x#y'", "{a='x#y'}"},
      {"a=#x\nb=1", "error: INI line 1: Expected value"},
      {"\n\n  # c\n; d\n\t\n", "{}"},
      {"  [ s  t ]  ; c\n", "{s  t={}}"},
      {"[template.html]", "{template.html={}}"},
      {"[a'b]", "{a'b={}}"},
      {"a b = 1", "{a b=1}"},
      {"k = \"=\"", "{k='='}"},
      {"'a=b' = 1", "{a=b=1}"},
      {"php_tag[]='<?php\\s[1:]','?>'", "{php_tag={#0='<?php\\s[1:]' #1='?>'}}"},
      {"hash_comment[]=\"#\",'\\n'", "{hash_comment={#0='#' #1='\\n'}}"},
      {"a=\"\\n\"", "{a='\n'}"},
      {"a='x''y'", "{a='xy'}"},
      {"\xE3\x80\x80"
       "a=1\xC2\xA0",
       "{a=1}"},
  };
  for (const Case& c : cases) EXPECT_EQ(parse(c.input), c.expected) << c.input;
}

TEST(IniParse, LineErrors) {
  // Errors of keys and values themselves are covered with the syntax routines;
  // these are the ones that depend on how a line is cut up.
  const Case cases[] = {
      {"[velt", "error: INI line 1: Unclosed section"},
      {"[", "error: INI line 1: Unclosed section"},
      {"[ ]", "error: INI line 1: Empty section"},
      {"[a]=1", "error: INI line 1: Unclosed section"},
      {"a", "error: INI line 1: Expected key = value"},
      {"a'=1", "error: INI line 1: Expected key = value"},
      {"a=", "error: INI line 1: Expected value"},
      {"a= ; c", "error: INI line 1: Expected value"},
      {"= 1", "error: INI line 1: Empty key"},
      {"a[b = 1", "error: INI line 1: Unclosed array key"},
      {"a=x#y", "error: INI line 1: Expected string literal, boolean or number"},
      {"a='x", "error: INI line 1: Unclosed quoted value"},
      {"a\"b\" = x", "error: INI line 1: Unexpected quote in key"},  // key before values
  };
  for (const Case& c : cases) EXPECT_EQ(parse(c.input), c.expected) << c.input;
}

TEST(IniParse, LineNumbersCountEveryLine) {
  const Case cases[] = {
      {"# comment\n\n[s]\na=1\nb", "error: INI line 5: Expected key = value"},
      {"# comment\r\n\r\n[s]\r\na=1\r\nb", "error: INI line 5: Expected key = value"},
      {"\xEF\xBB\xBF\nb", "error: INI line 2: Expected key = value"},
      {"a=1\n\na=2\n", "error: INI line 3: Duplicate key"},
      {"a=1\rb=2", "error: INI line 1: Expected string literal, boolean or number"},
  };
  for (const Case& c : cases) EXPECT_EQ(parse(c.input), c.expected) << c.input;
}

TEST(IniParse, CrlfAndLfGiveTheSameDocument) {
  const std::string lf = "[a]\nx[]='1','2'\n\n[b]\ny=true\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(parse(lf), parse(crlf));
  EXPECT_EQ(parse(lf), "{a={x={#0='1' #1='2'}} b={y=true}}");
}

}  // namespace
}  // namespace zeviziz
