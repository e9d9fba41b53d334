#include "ini/document.h"

#include <gtest/gtest.h>

#include <string>

#include "dump.h"
#include "ini/parse.h"

namespace zeviziz {
namespace {

std::string build(std::string_view text) {
  Result<IniDocument> document = parse_ini(text);
  return document.ok() ? dump_table(document->root()) : "error: " + document.error();
}

struct Case {
  std::string_view input;
  std::string expected;
};

TEST(IniDocument, AssignBuildsTheTree) {
  const Case cases[] = {
      {"a[]=1\na[]=2,3", "{a={#0=1 #1=2 #2=3}}"},
      {"a[2]='x'\na[0]='y'", "{a={#2='x' #0='y'}}"},
      {"a[1]=1,2", "{a={#1=1 #2=2}}"},
      {"a=1\na[x]=2", "{a=1{x=2}}"},
      {"a[x]=2\na=1", "{a=1{x=2}}"},
      {"a[x,y]=1", "{a={x=1 y=1}}"},
      {"k[a,b][x,y]='v'", "{k={a={x='v' y='v'} b={x='v' y='v'}}}"},
      {"a[0][x]=1\na[0]=2", "{a={#0=2{x=1}}}"},
      {"a[][x]=1\na[][x]=2", "{a={#0={x=1} #1={x=2}}}"},
      {"xml_comment[]='<!--','-->'", "{xml_comment={#0='<!--' #1='-->'}}"},
      {"[s]\na=1\n[t]\n[s]\nb=2", "{s={a=1 b=2} t={}}"},
      {"x=1\n[x]\ny=2", "{x=1{y=2}}"},
      {"a=1.5\nb=true", "{a=1.5d b=true}"},
      {"'a b'=1\n\"c\"[\"d\"]=2", "{a b=1 c={d=2}}"},
      {"a[65535]=1", "{a={#65535=1}}"},
      {"a[65534]=1,2", "{a={#65534=1 #65535=2}}"},
  };
  for (const Case& c : cases) EXPECT_EQ(build(c.input), c.expected) << c.input;
}

TEST(IniDocument, AssignErrors) {
  const Case cases[] = {
      {"a=1\na=2", "error: INI line 2: Duplicate key"},
      {"a[0]=1\na[0]=2", "error: INI line 2: Duplicate key"},
      {"a[]=1\na[0]=2", "error: INI line 2: Duplicate key"},
      {"a[1]=1\na[0]=2,3", "error: INI line 2: Duplicate key"},
      {"a=1,2", "error: INI line 1: Multiple values require [] or a numeric index"},
      {"a[x]=1,2", "error: INI line 1: Multiple values require [] or a numeric index"},
      {"a[65535]=1,2", "error: INI line 1: Array index too large"},
      {"a[65535]=1\na[]=2", "error: INI line 2: Array index too large"},
      {"a[65535]=1\na[][x]=2", "error: INI line 2: Array index too large"},
      {"[s]\na=1\n[t]\n[s]\na=2", "error: INI line 5: Duplicate key"},
      {"a[x,x]=1", "error: INI line 1: Duplicate key"},
  };
  for (const Case& c : cases) EXPECT_EQ(build(c.input), c.expected) << c.input;
}

TEST(IniDocument, ManyNamedChildrenKeepOrderAndUniqueness) {
  std::string text;
  std::string expected = "{";
  for (int i = 19; i >= 0; --i) {
    text += "k" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    expected += (i == 19 ? "k" : " k") + std::to_string(i) + "=" + std::to_string(i);
  }
  EXPECT_EQ(build(text), expected + "}");
  EXPECT_EQ(build(text + "k3[x]=1"), expected.substr(0, expected.find(" k3=")) + " k3=3{x=1}" +
                                         expected.substr(expected.find(" k2=")) + "}");
  EXPECT_EQ(build(text + "k3=1"), "error: INI line 21: Duplicate key");
  EXPECT_EQ(build(text + "k12=1"), "error: INI line 21: Duplicate key");
}

TEST(IniDocument, AlternativesCannotMultiplyWithoutBound) {
  std::string key = "a";
  for (int i = 0; i < 30; ++i) key += "[x,y]";
  EXPECT_EQ(build(key + "=1"), "error: INI line 1: Too many array key combinations");
  // A large value copied to many alternatives is bounded the same way.
  std::string alternatives = "b[k0";
  for (int i = 1; i < 2000; ++i) alternatives += ",k" + std::to_string(i);
  EXPECT_EQ(build(alternatives + "]='" + std::string(100000, 'v') + "'"),
            "error: INI line 1: Too many array key combinations");
  EXPECT_EQ(build(alternatives + "]='v'").substr(0, 14), "{b={k0='v' k1=");
}

TEST(IniDocument, DeepNestingIsFreedWithoutRecursion) {
  std::string key = "a";
  for (int i = 0; i < 100000; ++i) key += "[x]";
  Result<IniDocument> document = parse_ini(key + "=1");
  ASSERT_TRUE(document.ok()) << document.error();
}

const IniNode& node_of(const IniDocument& document, std::string_view name) {
  const IniNode* node = document.root().find(name);
  EXPECT_NE(node, nullptr) << name;
  return *node;
}

template <typename T>
std::string message(const Result<T>& result) {
  return result.ok() ? "ok" : result.error();
}

TEST(IniDocument, TypedReadings) {
  Result<IniDocument> parsed = parse_ini(
      "s='x'\nn=1\nb=false\nlist[2]='x'\nlist[0]='y'\nmixed[]='a'\nmixed[x]='b'\n"
      "nums[]='a',1\npair[]='o','c'\nhole[0]='o'\nhole[2]='c'\nthree[]='a','b','c'\n"
      "rev[1]='c'\nrev[0]='o'\nnested[0][x]='a'\nnested[1]='b'\nempty=''");
  ASSERT_TRUE(parsed.ok()) << parsed.error();
  const IniDocument& doc = *parsed;

  EXPECT_EQ(read_string(node_of(doc, "s"), "S").value(), "x");
  EXPECT_EQ(message(read_string(node_of(doc, "n"), "N")), "Config value must be a string: N");
  EXPECT_EQ(message(read_string(node_of(doc, "list"), "L")), "Config value must be a string: L");

  EXPECT_FALSE(read_bool(node_of(doc, "b"), "B").value());
  EXPECT_EQ(message(read_bool(node_of(doc, "s"), "keep_new_lines")),
            "keep_new_lines must be true or false");

  EXPECT_EQ(message(read_collection(node_of(doc, "s"), "S")),
            "Config value must be a collection: S");
  EXPECT_TRUE(read_collection(node_of(doc, "list"), "L").ok());

  EXPECT_EQ(read_string_list(node_of(doc, "list"), "L").value(),
            (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(message(read_string_list(node_of(doc, "s"), "S")),
            "Config value must be a collection: S");
  EXPECT_EQ(message(read_string_list(node_of(doc, "mixed"), "M")), "M must be a list");
  EXPECT_EQ(message(read_string_list(node_of(doc, "nums"), "N")),
            "Config value must be a string: N");
  EXPECT_EQ(message(read_string_list(node_of(doc, "nested"), "N")),
            "Config value must be a string: N");

  using Pair = std::pair<std::string, std::string>;
  EXPECT_EQ(read_string_pair(node_of(doc, "pair"), "P").value(), (Pair{"o", "c"}));
  EXPECT_EQ(read_string_pair(node_of(doc, "rev"), "R").value(), (Pair{"o", "c"}));
  EXPECT_EQ(message(read_string_pair(node_of(doc, "s"), "P")),
            "Config value must be a collection: P");
  EXPECT_EQ(message(read_string_pair(node_of(doc, "hole"), "H")),
            "H must contain exactly two strings");
  EXPECT_EQ(message(read_string_pair(node_of(doc, "three"), "T")),
            "T must contain exactly two strings");
  EXPECT_EQ(message(read_string_pair(node_of(doc, "mixed"), "M")),
            "M must contain exactly two strings");
  EXPECT_EQ(message(read_string_pair(node_of(doc, "nums"), "N")),
            "Config value must be a string: N");

  EXPECT_EQ(read_required_string(doc.root(), "s", "S").value(), "x");
  EXPECT_EQ(message(read_required_string(doc.root(), "gone", "G")), "Missing config key: G");
  EXPECT_EQ(message(read_required_string(doc.root(), "empty", "E")), "Missing config key: E");
  EXPECT_EQ(message(read_required_string(doc.root(), "n", "N")),
            "Config value must be a string: N");
}

TEST(IniDocument, IndexedSlotsAndHoles) {
  Result<IniDocument> parsed = parse_ini("a[3]=1\na[1]=2");
  ASSERT_TRUE(parsed.ok());
  const IniTable& table = *parsed->root().find("a")->table;
  EXPECT_EQ(table.indexed_size(), 4u);
  EXPECT_EQ(table.at(0), nullptr);
  EXPECT_NE(table.at(1), nullptr);
  EXPECT_EQ(table.at(2), nullptr);
  EXPECT_EQ(table.at(9), nullptr);
  EXPECT_EQ(table.named_count(), 0u);
}

}  // namespace
}  // namespace zeviziz
