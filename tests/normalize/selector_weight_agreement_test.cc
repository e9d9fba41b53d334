// The CSS generator reads specificity straight from selector text. These
// tests hold that reading to the selector machine's tree: for every text,
// the record read from the text equals the record of the tree that the
// lexer builds for it (up to where it stops), walked by the specificity
// rules of selector trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "css/selector_weight.h"
#include "lexer/lexer.h"
#include "normalize/normalize.h"

namespace zeviziz {
namespace {

const Node* first_child(const Node& node, NodeKind kind) {
  for (const Node& child : node.children) {
    if (child.kind == kind) return &child;
  }
  return nullptr;
}

Specificity tree_specificity(const Node& node);

Specificity sum_children(const Node& node) {
  Specificity total;
  for (const Node& child : node.children) total = add_specificity(total, tree_specificity(child));
  return total;
}

Specificity one(uint16_t ids, uint16_t classes, uint16_t elements) {
  Specificity s;
  s.ids = s.ids_all = ids;
  s.classes = s.classes_all = classes;
  s.elements = s.elements_all = elements;
  return s;
}

Specificity tree_specificity(const Node& node) {
  switch (node.kind) {
    case NodeKind::Element:
      return one(0, 0, 1);
    case NodeKind::Id:
      return one(1, 0, 0);
    case NodeKind::Class:
    case NodeKind::Attribute:
      return one(0, 1, 0);
    case NodeKind::Combinator: {
      Specificity s = sum_children(node);
      ++s.combinators;
      return s;
    }
    case NodeKind::Selector: {
      Specificity list;
      Specificity alternative;
      for (const Node& child : node.children) {
        if (child.kind == NodeKind::Comma) {
          close_alternative(list, alternative);
        } else {
          alternative = add_specificity(alternative, tree_specificity(child));
        }
      }
      close_alternative(list, alternative);
      return list;
    }
    case NodeKind::Pseudoclass: {
      const Node* name = first_child(node, NodeKind::Name);
      const Node* prefix = first_child(node, NodeKind::Prefix);
      const bool element = prefix != nullptr && prefix->value.starts_with("::");
      Specificity argument;
      if (const Node* group = first_child(node, NodeKind::Parenthesis)) {
        if (const Node* selector = first_child(*group, NodeKind::Selector)) {
          argument = tree_specificity(*selector);
        }
      }
      return pseudo_class_specificity(name ? name->value : "", element, argument);
    }
    default:
      return sum_children(node);
  }
}

Specificity lexed_specificity(std::string text) {
  std::replace(text.begin(), text.end(), '\0', '&');
  return tree_specificity(lex_selector(text + "{"));
}

void expect_agreement(const std::string& text) {
  const Specificity read = selector_specificity(text);
  const Specificity lexed = lexed_specificity(text);
  EXPECT_EQ(read, lexed) << "selector: " << text << "\nread " << read.ids << "," << read.classes
                         << "," << read.elements << " combinators " << read.combinators
                         << "\nlexed " << lexed.ids << "," << lexed.classes << "," << lexed.elements
                         << " combinators " << lexed.combinators;
}

TEST(SpecificityAgreement, HandWrittenSelectors) {
  const std::vector<std::string> texts = {
      "a.b#c",
      ":is(#x, .y)",
      "::slotted(span)",
      ":nth-child(2n + 1 of a > .b, c)",
      ":nth-child(-n+3)",
      ":nth-child(even of .x)",
      ":nth-last-child(.a)",
      ":has(> img)",
      ":host-context(.dark)",
      "[data-x ~= \"a\" i]",
      "[ a |= b ]",
      "[a=b s]",
      "a\\:b.c\\.d",
      ".\\31 23",
      ":lang(\"en\" /* ) */)",
      "a /**/b",
      "a/**/ b",
      "a/**/b",
      "* + *",
      "&.x",
      std::string("\0.x", 3),
      std::string(":is(\0) \0", 8),
      "a,,b",
      ",a",
      "a,",
      "a >",
      "> a",
      "a > > b",
      "a:not(",
      ":where(:is(:not(#a)))",
      "\xff.a",
      ".a\xe2\x80\x83.b",
      "a\xc2\xa0"
      "b",
      ":nth-child(2n of)",
      ":nth-child(n of .a",
      ":hover(",
      "::",
      ":",
      "#",
      "[",
      "a[b='c]",
      "a[b=\"c\\\"\"]",
      ":not(a, b c)",
      ":is(a,)",
      "a\\",
      ":x(\\",
      "\\61 b",
  };
  for (const std::string& text : texts) expect_agreement(text);
}

TEST(SpecificityAgreement, DeepArguments) {
  for (int depth : {63, 64, 65, 70}) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += ":is(.a ";
    text += "b";
    for (int i = 0; i < depth; ++i) text += ")";
    expect_agreement(text);
  }
}

// Random sequences of selector pieces, malformed ones included.
TEST(SpecificityAgreement, GeneratedSelectors) {
  const std::vector<std::string> pieces = {
      "a",
      "div",
      "_x",
      ".c",
      "#i",
      "*",
      "&",
      std::string(1, '\0'),
      ":hover",
      ":FOCUS",
      "::before",
      ":is(",
      ":where(",
      ":not(",
      ":has(",
      ":nth-child(",
      ":nth-last-child(",
      ":host(",
      "::slotted(",
      ":lang(",
      "2n+1",
      "odd",
      " of ",
      ")",
      "(",
      ",",
      " ",
      "  ",
      ">",
      "+",
      "~",
      "[",
      "href",
      "=",
      "~=",
      "'v'",
      "\"w\"",
      "]",
      " i",
      "/*c*/",
      "\\",
      "\\31 ",
      "{",
      "-",
      "1",
      "n",
      "\\.",
      "\\#",
      "\t",
      "\xc3\xa9",
      "\xff",
      ":",
      "::",
      "|",
      "^=",
  };
  std::mt19937 random(12345);
  std::uniform_int_distribution<size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> length(1, 12);
  for (int sample = 0; sample < 20000; ++sample) {
    std::string text;
    for (int n = length(random); n > 0; --n) text += pieces[pick(random)];
    expect_agreement(text);
    if (HasFailure()) return;
  }
}

// Every selector the normaliser writes reads back with the specificity of
// the tree the lexer builds for it.
TEST(SpecificityAgreement, NormalisedSelectors) {
  const std::vector<std::string> texts = {
      "A  >  B , C",       ":HOVER",      "LI:NTH-CHILD( 2N + 1 OF .Item )", "[ HREF = 'x' ]",
      ":IS( A , #B )  .c", "a /* x */ b",
  };
  for (const std::string& text : texts) {
    const Node selector = lex_selector(text + "{");
    expect_agreement(normalize_selector(selector));
  }
}

}  // namespace
}  // namespace zeviziz
