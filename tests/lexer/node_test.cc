#include "lexer/node.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace zeviziz {
namespace {

using K = NodeKind;

// Appends every character of `text` with the same path.
void append_all(Node& top, std::initializer_list<K> path, std::u32string_view text) {
  std::vector<K> kinds(path);
  for (char32_t ch : text) append_char(top, kinds, ch);
}

// Removes the colour escapes from a text dump.
std::string strip_colours(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\x1b') {
      while (i < text.size() && text[i] != 'm') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

Node text_tree(std::string text) {
  Node root(K::Template);
  root.children.emplace_back(K::Text, std::move(text));
  return root;
}

TEST(Node, KindNames) {
  EXPECT_EQ(kind_name(K::Null), "Null");
  EXPECT_EQ(kind_name(K::SubsequentSibling), "SubsequentSibling");
  EXPECT_EQ(kind_name(K::AtRule), "AtRule");
  EXPECT_EQ(kind_name(K::PropertyValue), "PropertyValue");
  EXPECT_EQ(kind_name(K::Velt), "Velt");
  EXPECT_EQ(kind_name(K::ScopeLimit), "ScopeLimit");
  EXPECT_EQ(kind_name(K::And), "And");
}

TEST(Node, RunsWithTheSamePathShareOneNode) {
  Node top(K::Velt);
  append_all(top, {K::Rule, K::Selector, K::Element}, U"div");
  ASSERT_EQ(top.children.size(), 1u);
  EXPECT_EQ(collect_text(top), "div");
  EXPECT_EQ(top.children[0].children[0].children[0].value, "div");
}

TEST(Node, StartingCharactersOpenNewSiblings) {
  struct Case {
    K kind;
    std::u32string_view text;
    size_t siblings;
  } cases[] = {
      {K::Class, U"..", 2},     {K::Class, U".a.b", 2}, {K::Id, U"#a#b", 2},
      {K::Universal, U"**", 2}, {K::Nesting, U"&&", 2}, {K::Element, U"ab", 1},
  };
  for (const Case& c : cases) {
    Node sel(K::Selector);
    append_all(sel, {c.kind}, c.text);
    EXPECT_EQ(sel.children.size(), c.siblings) << kind_name(c.kind);
  }
}

TEST(Node, AttributeAndPseudoclassStartNewSiblings) {
  Node sel(K::Selector);
  for (int round = 0; round < 2; ++round) {
    append_char(sel, std::vector<K>{K::Attribute, K::Open}, U'[');
    append_char(sel, std::vector<K>{K::Attribute, K::AttName}, U'x');
    append_char(sel, std::vector<K>{K::Attribute, K::Close}, U']');
  }
  EXPECT_EQ(sel.children.size(), 2u);
  // A second ":" of "::" continues the prefix; after a name, ":" starts anew.
  Node pseudo(K::Selector);
  append_char(pseudo, std::vector<K>{K::Pseudoclass, K::Prefix}, U':');
  append_char(pseudo, std::vector<K>{K::Pseudoclass, K::Prefix}, U':');
  append_char(pseudo, std::vector<K>{K::Pseudoclass, K::Name}, U'a');
  append_char(pseudo, std::vector<K>{K::Pseudoclass, K::Prefix}, U':');
  append_char(pseudo, std::vector<K>{K::Pseudoclass, K::Name}, U'b');
  ASSERT_EQ(pseudo.children.size(), 2u);
  EXPECT_EQ(pseudo.children[0].children[0].value, "::");
  EXPECT_EQ(collect_text(pseudo.children[1]), ":b");
}

TEST(Node, RuleWithBlockTakesNoMoreSelector) {
  Node velt(K::Velt);
  append_char(velt, std::vector<K>{K::Rule, K::Selector, K::Element}, U'a');
  append_char(velt, std::vector<K>{K::Rule, K::Declaration}, U'{');
  append_char(velt, std::vector<K>{K::Rule, K::Declaration}, U'}');
  append_char(velt, std::vector<K>{K::Rule, K::Selector, K::Element}, U'b');
  ASSERT_EQ(velt.children.size(), 2u);
  EXPECT_EQ(collect_text(velt.children[0]), "a{}");
  EXPECT_EQ(collect_text(velt.children[1]), "b");
}

TEST(Node, IntermediateNodeWithValueIsNotReused) {
  Node top(K::Velt);
  append_char(top, std::vector<K>{K::Directive}, U'!');
  append_char(top, std::vector<K>{K::Directive, K::Name}, U'a');
  ASSERT_EQ(top.children.size(), 2u);
  // A leaf that has children is not extended by a character of its own.
  Node other(K::Velt);
  append_char(other, std::vector<K>{K::Value, K::Char}, U'x');
  append_char(other, std::vector<K>{K::Value}, U'y');
  EXPECT_EQ(other.children.size(), 2u);
}

TEST(Node, EncodesCharactersAsUtf8) {
  Node top(K::Value);
  append_all(top, {K::Char}, U"\u00e9\u20ac\U0001F600");
  EXPECT_EQ(top.children[0].value, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(Node, PushTextMergesAndEmptiesTheBuffer) {
  Node root(K::Template);
  std::string buffer;
  push_text(root, buffer);
  EXPECT_TRUE(root.children.empty());
  buffer = "ab";
  push_text(root, buffer);
  EXPECT_TRUE(buffer.empty());
  buffer = "cd";
  push_text(root, buffer);
  ASSERT_EQ(root.children.size(), 1u);
  EXPECT_EQ(root.children[0].value, "abcd");
  root.children.emplace_back(K::Velt);
  buffer = "e";
  push_text(root, buffer);
  EXPECT_EQ(root.children.size(), 3u);
}

TEST(Node, CollectTextIsPreOrder) {
  Node top(K::Velt, "a");
  top.children.emplace_back(K::Rule, "b");
  top.children[0].children.emplace_back(K::Selector, "c");
  top.children.emplace_back(K::Text, "d");
  EXPECT_EQ(collect_text(top), "abcd");
  std::string out = "x";
  collect_text(top, out);
  EXPECT_EQ(out, "xabcd");
}

TEST(Node, JsonDump) {
  std::string out;
  dump_json(text_tree("hi"), out);
  EXPECT_EQ(
      out,
      R"({"name":"Template","value":"","children":[{"name":"Text","value":"hi","children":[]}]})");
}

TEST(Node, TextDumpLayout) {
  std::string out;
  dump_text(text_tree("hi"), 0, out);
  EXPECT_EQ(strip_colours(out),
            "Node(name:Template,children:[\n  Node(name:Text,value:\"hi\")\n])");
  out.clear();
  dump_text(Node(K::Velt), 3, out);
  EXPECT_EQ(out, "\x1b[94mNode(name:\x1b[0m\x1b[95mVelt\x1b[0m\x1b[94m)\x1b[0m");
}

TEST(Node, TextDumpColoursAndNesting) {
  Node root(K::Velt);
  root.children.emplace_back(K::Rule);
  root.children[0].children.emplace_back(K::Selector, "a");
  root.children.emplace_back(K::Text, "b");
  std::string out;
  dump_text(root, 0, out);
  EXPECT_EQ(strip_colours(out),
            "Node(name:Velt,children:[\n  Node(name:Rule,children:[\n    "
            "Node(name:Selector,value:\"a\")\n  ]),\n  Node(name:Text,value:\"b\")\n])");
  EXPECT_NE(out.find("\x1b[33m\"a\"\x1b[0m"), std::string::npos);
  EXPECT_NE(out.find("\x1b[95m[\x1b[0m"), std::string::npos);
  EXPECT_NE(out.find("\x1b[94m,\x1b[0m"), std::string::npos);
}

TEST(Node, JsonStringEscapes) {
  struct Case {
    std::string_view input, expected;
  } cases[] = {
      {"\t\"", R"("\t\"")"},
      {"\x1b", R"("\u001b")"},
      {"\b\f\n\r\\", R"("\b\f\n\r\\")"},
      {std::string_view("\0\x1f", 2), R"("\u0000\u001f")"},
      {"a/b\x7f", "\"a/b\x7f\""},
      {"\xC3\xA9", "\"\xC3\xA9\""},
      {"", R"("")"},
  };
  for (const Case& c : cases) {
    std::string out;
    append_json_string(c.input, out);
    EXPECT_EQ(out, c.expected);
  }
  Node tab(K::Text, "\t\"");
  std::string text, json;
  dump_text(tab, 0, text);
  dump_json(tab, json);
  EXPECT_EQ(strip_colours(text), R"(Node(name:Text,value:"\t\""))");
  EXPECT_EQ(json, R"({"name":"Text","value":"\t\"","children":[]})");
}

}  // namespace
}  // namespace zeviziz
