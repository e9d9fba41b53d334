#include "state/cache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zeviziz {
namespace {

// Test texts write the NUL byte as "|".
std::string nul(std::string text) {
  for (char& ch : text) {
    if (ch == '|') ch = '\0';
  }
  return text;
}

const std::string kSep = nul("|\n");

std::string seps(int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += kSep;
  return out;
}

Rule rule(std::vector<std::string> at_rules, std::string selector, std::string declaration) {
  Result<Rule> made = make_rule(std::move(at_rules), std::move(selector), std::move(declaration));
  EXPECT_TRUE(made.ok()) << made.error();
  return made.value();
}

// Three rules sharing texts, one with an at-rule stack and one selector
// holding the class placeholder twice.
Registry sample_registry() {
  Registry registry;
  insert_restored(registry, 2, rule({"@media print"}, nul("|:hover"), "color:red"));
  insert_restored(registry, 5, rule({"@supports (display:grid)", "@media print"}, "", "color:red"));
  insert_restored(registry, 7, rule({}, nul("| a|"), "margin:0"));
  insert_restored(registry, 9, rule({}, "", "unused:1"));
  return registry;
}

FileRecords sample_records() {
  return {{"b.html", {2, 5}}, {"a.html", {7}}, {"c.txt", {}}};
}

const std::string kSampleBytes =
    nul("a.html|7\n"
        "b.html|2|5\n"
        "|\n"
        "1|color:red\n"
        "2|margin:0\n"
        "|\n"
        "1||:hover\n"
        "2|| a|\n"
        "|\n"
        "1|@media print\n"
        "2|@supports (display:grid)\n"
        "|\n"
        "2|1|1|1\n"
        "5|1|0|1|2\n"
        "7|2|2\n");

TEST(CacheEncode, WritesSectionsWithNumbersByFirstUse) {
  Result<std::string> bytes = encode_cache(sample_registry(), sample_records());
  ASSERT_TRUE(bytes.ok()) << bytes.error();
  EXPECT_EQ(bytes.value(), kSampleBytes);
}

TEST(CacheEncode, EmptyRecordsGiveFourSeparatorsOnly) {
  Result<std::string> bytes = encode_cache(sample_registry(), {{"x.html", {}}});
  ASSERT_TRUE(bytes.ok());
  EXPECT_EQ(bytes.value(), seps(4));
}

TEST(CacheEncode, Failures) {
  struct Case {
    const char* name;
    Registry registry;
    FileRecords records;
    std::string message;
  };
  const std::string invalid = "Cache values contain invalid characters";
  std::vector<Case> cases;
  cases.push_back(
      {"missing rule", sample_registry(), {{"a.html", {7, 8}}}, "Missing registry rule"});
  cases.push_back({"path with LF", sample_registry(), {{"a\nb.html", {2}}}, invalid});
  cases.push_back({"path with CR", sample_registry(), {{"a\r.html", {2}}}, invalid});
  cases.push_back({"path with NUL", sample_registry(), {{nul("a|.html"), {2}}}, invalid});
  cases.push_back({"absolute path", sample_registry(), {{"/a.html", {2}}}, invalid});
  Registry bad_declaration;
  insert_restored(bad_declaration, 1, rule({}, "", nul("a:b|c")));
  cases.push_back({"declaration with NUL", bad_declaration, {{"a.html", {1}}}, invalid});
  Registry bad_selector;
  insert_restored(bad_selector, 1, rule({}, "a\nb", "a:b"));
  cases.push_back({"selector with LF", bad_selector, {{"a.html", {1}}}, invalid});
  Registry bad_at_rule;
  insert_restored(bad_at_rule, 1, rule({"@supports\r(x)"}, "", "a:b"));
  cases.push_back({"at-rule with CR", bad_at_rule, {{"a.html", {1}}}, invalid});
  Registry empty_at_rule;
  insert_restored(empty_at_rule, 1, rule({""}, "", "a:b"));
  cases.push_back({"empty at-rule", empty_at_rule, {{"a.html", {1}}}, invalid});
  for (const Case& c : cases) {
    Result<std::string> bytes = encode_cache(c.registry, c.records);
    ASSERT_FALSE(bytes.ok()) << c.name;
    EXPECT_EQ(bytes.error(), c.message) << c.name;
  }
}

TEST(CacheDecode, RoundTripKeepsEveryRule) {
  Registry registry = sample_registry();
  Result<std::string> bytes = encode_cache(registry, sample_records());
  ASSERT_TRUE(bytes.ok());
  Result<DecodedCache> decoded = decode_cache(bytes.value());
  ASSERT_TRUE(decoded.ok()) << decoded.error();
  EXPECT_EQ(decoded->files.to_records(), (FileRecords{{"a.html", {7}}, {"b.html", {2, 5}}}));
  EXPECT_EQ(decoded->rules.at(5).at_rules, (std::vector<uint64_t>{2, 1}));
  for (uint64_t id : {2, 5, 7}) {
    Result<Rule> restored = rule_from_cache(decoded.value(), id);
    ASSERT_TRUE(restored.ok()) << restored.error();
    EXPECT_EQ(find_id(registry, restored.value()), id);
  }
  EXPECT_FALSE(decoded.value().rules.contains(9));  // used by no file
}

TEST(CacheDecode, CarriageReturnLineEndsDecodeAlike) {
  std::string crlf;
  for (char ch : kSampleBytes) {
    if (ch == '\n') crlf += '\r';
    crlf += ch;
  }
  Result<DecodedCache> plain = decode_cache(kSampleBytes);
  Result<DecodedCache> dos = decode_cache(crlf);
  ASSERT_TRUE(dos.ok()) << dos.error();
  EXPECT_EQ(dos.value().files.to_records(), plain.value().files.to_records());
  EXPECT_EQ(dos.value().attributes, plain.value().attributes);
  EXPECT_EQ(dos.value().selectors, plain.value().selectors);
  EXPECT_EQ(dos.value().at_rules, plain.value().at_rules);
  EXPECT_EQ(dos.value().rules.size(), plain.value().rules.size());
}

TEST(CacheDecode, AcceptedForms) {
  Result<DecodedCache> empty = decode_cache(seps(4));
  ASSERT_TRUE(empty.ok());
  EXPECT_TRUE(empty.value().files.size() == 0 && empty.value().rules.empty());

  Result<DecodedCache> rules =
      decode_cache(kSep + nul("1|a:b\n") + kSep + kSep + nul("2|@x\n3|@y\n") + kSep +
                   nul("5|1|0\n6|1|0|2|3\n+7|+1|0"));  // last line without LF
  ASSERT_TRUE(rules.ok()) << rules.error();
  EXPECT_TRUE(rules.value().rules.at(5).at_rules.empty());
  EXPECT_EQ(rules.value().rules.at(6).at_rules, (std::vector<uint64_t>{3, 2}));
  EXPECT_TRUE(rules.value().rules.contains(7));

  Result<DecodedCache> plus = decode_cache(kSep + nul("+7|x\n18446744073709551615|y\n") + seps(3));
  ASSERT_TRUE(plus.ok()) << plus.error();
  EXPECT_EQ(plus.value().attributes.at(7), "x");
  EXPECT_EQ(plus.value().attributes.at(18446744073709551615u), "y");

  Result<DecodedCache> sorted =
      decode_cache(nul("a/b.html|3|1|3\n") + kSep + nul("1|x\n") + seps(3) + nul("1|1|0\n3|1|0\n"));
  ASSERT_TRUE(sorted.ok()) << sorted.error();
  EXPECT_EQ(sorted.value().files.to_records().at("a/b.html"), (IdList{1, 3}));

  // Files out of path order are put in order, so lookups by path work.
  const std::string rule_lines = kSep + nul("1|x\n") + seps(3) + nul("1|1|0\n2|1|0\n");
  Result<DecodedCache> shuffled =
      decode_cache(nul("c.html|1\na.html|2\nb/c.html|1|2\n+a.php|1\n") + rule_lines);
  ASSERT_TRUE(shuffled.ok()) << shuffled.error();
  const FileTable& files = shuffled.value().files;
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files.path(0), "+a.php");
  EXPECT_EQ(files.path(3), "c.html");
  EXPECT_EQ(std::vector<uint64_t>(files.find("b/c.html").begin(), files.find("b/c.html").end()),
            (std::vector<uint64_t>{1, 2}));
  EXPECT_TRUE(files.find("d.html").empty());
}

TEST(CacheDecode, Failures) {
  const std::string attr = kSep + nul("1|a:b\n");  // files (empty), attribute 1
  const std::string rules = attr + kSep + kSep + kSep;
  const std::string expected_path = "Expected a relative path inside in_directory: ";
  struct Case {
    std::string bytes;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"", "Missing cache section"},
      {seps(3), "Missing cache section"},
      {seps(5), "Too many cache sections"},
      {rules + nul("5|1|0\n") + kSep, "Too many cache sections"},
      {"\n" + seps(4), "Invalid cache file record"},
      {"a.html\n" + seps(4), "Invalid cache file record"},
      {nul("a.html||1\n") + seps(4), "Invalid cache file record"},
      {nul("a.html|0\n") + seps(4), "Invalid cache file record"},
      {nul("a.html|1\na.html|2\n") + seps(4), "Invalid cache file record"},
      {nul("b.html|1\na.html|1\nb.html|2\na.html|x\n") + seps(4), "Invalid cache file record"},
      {nul("a.html|x\n") + seps(4), "Invalid cache number"},
      {nul("a.html|-1\n") + seps(4), "Invalid cache number"},
      {nul("a.html|++1\n") + seps(4), "Invalid cache number"},
      {nul("a.html|18446744073709551616\n") + seps(4), "Invalid cache number"},
      // A faulty line reports its first fault in the order: line shape,
      // path, numbers.
      {nul("a.html|x||1\n") + seps(4), "Invalid cache file record"},
      {nul("/a.html||1\n") + seps(4), "Invalid cache file record"},
      {nul("/a.html|x\n") + seps(4), expected_path + "/a.html"},
      {nul("a.html|1|x\n") + seps(4), "Invalid cache number"},
      {nul("a.html|000000000000000000001\n") + seps(4), "Missing cache rule"},
      {nul("a.html|+1\n") + seps(4), "Missing cache rule"},
      {nul("/a.html|1\n") + seps(4), expected_path + "/a.html"},
      {nul("../a.html|1\n") + seps(4), expected_path + "../a.html"},
      {nul("./a.html|1\n") + seps(4), expected_path + "./a.html"},
      {nul("a.html|1\n") + seps(4), "Missing cache rule"},
      {kSep + "1\n" + seps(3), "Invalid cache attribute record"},
      {kSep + nul("0|x\n") + seps(3), "Invalid cache attribute record"},
      {kSep + nul("1|\n") + seps(3), "Invalid cache attribute record"},
      {kSep + nul("1|a|b\n") + seps(3), "Invalid cache attribute record"},
      {kSep + nul("1|a\n1|b\n") + seps(3), "Invalid cache attribute record"},
      {kSep + nul("|a\n") + seps(3), "Invalid cache number"},
      {seps(2) + nul("0|x\n") + seps(2), "Invalid cache selector record"},
      {seps(2) + "x\n" + seps(2), "Invalid cache selector record"},
      {seps(3) + nul("1|a|b\n") + kSep, "Invalid cache at-rule record"},
      {seps(3) + nul("1|\n") + kSep, "Invalid cache at-rule record"},
      {seps(4) + nul("5|1\n"), "Invalid cache rule record"},
      {rules + nul("0|1|0\n"), "Invalid cache rule record"},
      {rules + nul("5|0|0\n"), "Invalid cache rule record"},
      {rules + nul("5|1|0|\n"), "Invalid cache rule record"},
      {rules + nul("5|x|0\n"), "Invalid cache number"},
      {seps(4) + nul("5|1|0\n"), "Missing cache attribute"},
      {rules + nul("5|1|2\n"), "Missing cache selector"},
      {rules + nul("5|1|0|3\n"), "Missing cache at-rule"},
      {rules + nul("5|1|0\n+5|1|0\n"), "Duplicate cache rule"},
  };
  for (const Case& c : cases) {
    Result<DecodedCache> decoded = decode_cache(c.bytes);
    ASSERT_FALSE(decoded.ok()) << c.message;
    EXPECT_EQ(decoded.error(), c.message);
  }
}

}  // namespace
}  // namespace zeviziz
