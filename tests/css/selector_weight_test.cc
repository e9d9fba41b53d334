#include "css/selector_weight.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <string>
#include <vector>

namespace zeviziz {
namespace {

struct Case {
  std::string selector;
  // ids, classes, elements / the same with :where counted / where count,
  // combinators / codes in reading order.
  std::array<uint16_t, 6> triples;
  uint64_t where_count;
  uint64_t combinators;
  std::vector<uint16_t> codes;
};

std::array<uint16_t, 6> triples_of(const Specificity& s) {
  return {s.ids, s.classes, s.elements, s.ids_all, s.classes_all, s.elements_all};
}

TEST(Specificity, FromSelectorText) {
  const std::vector<Case> cases = {
      {"a.b#c", {1, 1, 1, 1, 1, 1}, 0, 0, {}},
      {"a>b", {0, 0, 2, 0, 0, 2}, 0, 1, {}},
      {"a b  c", {0, 0, 3, 0, 0, 3}, 0, 2, {}},
      {":where(#x)", {0, 0, 0, 1, 0, 0}, 1, 0, {}},
      {":is(#x, .y)", {1, 0, 0, 1, 0, 0}, 0, 0, {70}},
      {":nth-last-child(.a)", {0, 2, 0, 0, 2, 0}, 0, 0, {70}},
      {":nth-child(2n+1 of .a .b)", {0, 3, 0, 0, 3, 0}, 0, 1, {70}},
      {":nth-child(odd)", {0, 1, 0, 0, 1, 0}, 0, 0, {70}},
      {"::slotted(span)", {0, 0, 2, 0, 0, 2}, 0, 0, {}},
      {"::before", {0, 0, 1, 0, 0, 1}, 0, 0, {}},
      {"a:hover:focus", {0, 2, 1, 0, 2, 1}, 0, 0, {72, 71}},
      {":HOVER", {0, 1, 0, 0, 1, 0}, 0, 0, {72}},
      {":Active", {0, 1, 0, 0, 1, 0}, 0, 0, {73}},
      // A plain argument such as a language tag does not count.
      {":lang(en)", {0, 1, 0, 0, 1, 0}, 0, 0, {70}},
      {"a, #b", {1, 0, 0, 1, 0, 0}, 0, 0, {}},
      // The two triples are maximised independently.
      {":where(#x),.a.b", {0, 2, 0, 1, 0, 0}, 1, 0, {}},
      {"", {0, 0, 0, 0, 0, 0}, 0, 0, {}},
      // The class placeholder counts nothing, in front and in arguments.
      {std::string("\0:hover", 7), {0, 1, 0, 0, 1, 0}, 0, 0, {72}},
      {std::string("\0 a", 3), {0, 0, 1, 0, 0, 1}, 0, 1, {}},
      {std::string(":not(\0)", 7), {0, 0, 0, 0, 0, 0}, 0, 0, {70}},
      {"[href='x'][lang]", {0, 2, 0, 0, 2, 0}, 0, 0, {}},
      {":has(> img, + p)", {0, 0, 1, 0, 0, 1}, 0, 2, {70}},
      {":host(.a)", {0, 2, 0, 0, 2, 0}, 0, 0, {70}},
      {"a /* c */ b", {0, 0, 2, 0, 0, 2}, 0, 1, {}},
      // Reading stops at the first refused character; what came before counts.
      {".a..b", {0, 1, 0, 0, 1, 0}, 0, 0, {}},
      {"#a:1", {1, 1, 0, 1, 1, 0}, 0, 0, {70}},
      {":is(.a .b", {0, 2, 0, 0, 2, 0}, 0, 1, {70}},
      {"[1]", {0, 1, 0, 0, 1, 0}, 0, 0, {}},
      {"a{b", {0, 0, 1, 0, 0, 1}, 0, 0, {}},
      // An escaped "." in a class name (or "#" in an id) counts as another one.
      {".a\\.b#c\\.d", {1, 2, 0, 1, 2, 0}, 0, 0, {}},
      {"#a\\#b", {2, 0, 0, 2, 0, 0}, 0, 0, {}},
  };
  for (const Case& c : cases) {
    const Specificity s = selector_specificity(c.selector);
    EXPECT_EQ(triples_of(s), c.triples) << c.selector;
    EXPECT_EQ(s.where_count, c.where_count) << c.selector;
    EXPECT_EQ(s.combinators, c.combinators) << c.selector;
    EXPECT_EQ(s.codes, c.codes) << c.selector;
  }
}

TEST(Specificity, CountersSaturate) {
  Specificity a;
  a.ids = std::numeric_limits<uint16_t>::max() - 1;
  a.where_count = std::numeric_limits<uint64_t>::max();
  a.codes = {70};
  Specificity b;
  b.ids = 5;
  b.where_count = 1;
  b.codes = {71};
  const Specificity sum = add_specificity(a, b);
  EXPECT_EQ(sum.ids, std::numeric_limits<uint16_t>::max());
  EXPECT_EQ(sum.where_count, std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(sum.codes, (std::vector<uint16_t>{70, 71}));

  std::string many;
  for (int i = 0; i < 70000; ++i) many += ".a";
  EXPECT_EQ(selector_specificity(many).classes, std::numeric_limits<uint16_t>::max());
}

}  // namespace
}  // namespace zeviziz
