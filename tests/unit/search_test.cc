// The wildcard matcher, the results list's duplicate rules and combining, and the case rules
// of searches and merges.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "files/merge.h"
#include "format/text.h"
#include "search/search.h"
#include "search/search_results.h"
#include "search/wildcard.h"
#include "store/store.h"

namespace vellix {
namespace {

using std::string_literals::operator""s;

TEST(WildcardTest, PatternLanguage) {
  struct Case {
    const char* pattern;
    std::string subject;
    bool caseSensitive;
    bool match;
  };
  const std::vector<Case> cases = {
      {"*", "", true, true},
      {"*", "anything", false, true},
      {"!*", "", false, false},
      {"!*", "x", true, false},
      {"", "", true, true},
      {"", "a", true, false},
      {"!", "", true, false},
      {"!", "a", true, true},
      {"a.c", "abc", true, true},
      {"a.c", "a.c", true, true},
      {"a.c", "ac", true, false},
      {"a.c", "abcd", true, false},
      {"a*", "a", true, true},
      {"a*", "abc", true, true},
      {"*a", "ba", true, true},
      {"*a", "ab", true, false},
      {"*ab", "aab", true, true},
      {"abc**", "abc", true, true},
      {"ab*", "a", true, false},
      {"item.*", "item", true, false},
      {"item.*", "item.2", true, true},
      {"item.*", "items", true, true},
      {"!a*", "b", true, true},
      {"!a*", "abc", true, false},
      {"x!y", "x!y", true, true},
      {"x!y", "xy", true, false},
      {"!!a", "!a", true, false},
      {"!!a", "a", true, true},
      {"ABC", "abc", false, true},
      {"ABC", "abc", true, false},
      {"\xc9", "\xe9", false, false},
      {"[", "{", false, false},
      {"*b*c*d", "xbyyczzd", true, true},
      {"*b*c*d", "xbyyczz", true, false},
      // Texts end at their first zero byte.
      {"a*", "a\0zzz"s, true, true},
      {"*z", "a\0z"s, true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildcardMatch(c.pattern, c.subject, c.caseSensitive), c.match)
        << "'" << c.pattern << "' against '" << c.subject << "' case " << c.caseSensitive;
  }
  EXPECT_TRUE(WildcardMatch("ab\0cd"s, "ab", true));
}

TEST(WildcardTest, LongPatternsAreQuadraticAtWorst) {
  // A megabyte of pattern against a long subject, with a mismatch only at the very end.
  std::string pattern(1 << 20, '*');
  pattern += "ab";
  const std::string subject(4096, 'a');
  EXPECT_FALSE(WildcardMatch(pattern, subject, false));
  EXPECT_TRUE(WildcardMatch(pattern, subject + "b", false));
  EXPECT_FALSE(WildcardMatch("*" + std::string(2000, 'a') + "b", std::string(4000, 'a'), true));
}

using Triples = std::vector<std::tuple<std::string, std::string, std::string>>;

Triples All(const SearchResults& r) {
  Triples out;
  for (const SearchResult& x : r) out.emplace_back(x.group, x.item, x.value);
  return out;
}

TEST(SearchResultsTest, DuplicatesCombiningAndParts) {
  SearchResults list;
  list.Add("g", "a", "1", true);
  list.Add("g", "A", "2", true);   // results compare case-sensitively
  list.Add("g", "a", "3", true);   // same result: not added
  list.Add("g", "a", "4", false);  // without the check it is
  list.Add("ga", "", "", true);    // group and item do not run together
  list.Add("g", "a", "", true);
  EXPECT_EQ(All(list),
            (Triples{{"g", "a", "1"}, {"g", "A", "2"}, {"g", "a", "4"}, {"ga", "", ""}}));
  EXPECT_EQ(list.Part(1, 1), "A");
  EXPECT_EQ(list.Part(-1, 0), "");
  EXPECT_EQ(list.Part(4, 0), "");
  EXPECT_EQ(list.Part(0, 3), "");

  SearchResults found;
  found.Append("x", "new", "n");
  found.Append("g", "a", "found");
  found.Append("y", "new", "m");
  // Toggling removes both copies of g/a and appends what was not there, in found's order.
  SearchResults toggled = list;
  toggled.Toggle(found);
  EXPECT_EQ(All(toggled),
            (Triples{{"g", "A", "2"}, {"ga", "", ""}, {"x", "new", "n"}, {"y", "new", "m"}}));
  toggled.Toggle(found);
  EXPECT_EQ(All(toggled), (Triples{{"g", "A", "2"}, {"ga", "", ""}, {"g", "a", "found"}}));
  // Keeping the common results keeps their order and stored values.
  list.KeepCommon(found);
  EXPECT_EQ(All(list), (Triples{{"g", "a", "1"}, {"g", "a", "4"}}));
  list.KeepCommon(SearchResults());
  EXPECT_TRUE(list.empty());
}

class SearchStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.settings().autoSave = false;
    ParseText(store, "[Abc1]\nName=Xy\nname.1=xy\nnamex=z\n");
  }
  Store store;
};

TEST_F(SearchStoreTest, NamesKeepCaseOnlyInCaseSensitiveStores) {
  SearchResults r;
  Search(store, &r, "ABC*", "NAME", "Xy", kSearchCaseSensitive, kSearchReplace);
  EXPECT_EQ(All(r), (Triples{{"Abc1", "Name", "Xy"}}));
  store.SetCaseSensitive(true);
  Search(store, &r, "ABC*", "*", "*", kSearchCaseSensitive, kSearchReplace);
  EXPECT_TRUE(r.empty());
  Search(store, &r, "ABC*", "*", "*", 0, kSearchReplace);
  EXPECT_EQ(r.count(), 3u);
  EXPECT_FALSE(Search(store, nullptr, "*", "*", "*", 0, 0));
}

TEST(MergeTest, CaseRulesAndOverwrites) {
  Store source;
  source.settings().autoSave = false;
  source.SetCaseSensitive(true);
  ParseText(source, "[G]\nK=upper\nk=lower\nnew=n\n[empty]\n");
  Store target;
  target.settings().autoSave = false;
  target.SetItem("g", "new", "kept");
  // Folded together by the target's rule: the first one set wins without overwriting.
  MergeStore(target, &source, false);
  EXPECT_EQ(target.GetItem("g", "k", ""), "upper");
  EXPECT_EQ(target.GetItem("g", "new", ""), "kept");
  EXPECT_FALSE(target.GroupExists("empty"));
  MergeGroup(target, &source, "G", "h", true);
  EXPECT_EQ(target.GetItem("h", "K", ""), "lower");
  EXPECT_FALSE(MergeStore(target, nullptr, true));
  // A private copy keeps the source's case rule, order and values.
  const auto copy = CopyForMerge(source);
  EXPECT_TRUE(copy->caseSensitive());
  EXPECT_EQ(copy->NthItemName("G", 2, ""), "k");
  EXPECT_TRUE(copy->settings().fileName.empty());
  EXPECT_FALSE(copy->settings().autoSave);
}

}  // namespace
}  // namespace vellix
