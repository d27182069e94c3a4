// Sorted access and the group operations where scenarios cannot reach: the shuffle against
// the plain draw-and-remove it replaces, the natural order as a sort order, and the kept
// ranking after every kind of change, and the sort underneath against the step-by-step
// rebuild.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "format/text.h"
#include "store/sorting.h"
#include "undo/undo.h"

namespace vellix {
namespace {

std::vector<const Item*> ItemsOf(const Store& s, std::string_view group) {
  std::vector<const Item*> out;
  if (const Group* g = s.FindGroup(group)) {
    g->ForEachItem([&](const Item& it) { out.push_back(&it); });
  }
  return out;
}

TEST(ShuffleTest, MatchesDrawingFromAShrinkingList) {
  Store s;
  s.settings().autoSave = false;
  for (int i = 0; i < 40000; ++i) s.SetItem("g", "i" + std::to_string(i), "");
  const std::vector<const Item*> all = ItemsOf(s, "g");
  // Small groups, and one larger than the generator's 15-bit draws.
  for (const size_t n : {size_t{1}, size_t{2}, size_t{7}, size_t{1000}, all.size()}) {
    for (const uint32_t seed : {0u, 12345u, 0xFFFFFFFFu}) {
      const std::vector<const Item*> items(all.begin(), all.begin() + static_cast<long>(n));
      std::vector<const Item*> remaining = items;
      std::vector<const Item*> expected;
      ShuffleGenerator random(seed);
      while (!remaining.empty()) {
        const size_t at = random.Draw() % remaining.size();
        expected.push_back(remaining[at]);
        remaining.erase(remaining.begin() + static_cast<long>(at));
      }
      EXPECT_EQ(ShuffledOrder(items, seed), expected) << n << " items, seed " << seed;
    }
  }
}

TEST(NaturalOrderTest, IsAConsistentSortOrder) {
  // Texts from a small alphabet of digits, letters of both cases and high bytes, so that
  // runs, case folding and signed bytes meet often.
  const std::string alphabet = "0019aAbZ.\xe9\x80";
  std::mt19937 rng(7);
  std::vector<std::string> texts;
  for (int i = 0; i < 300; ++i) {
    std::string t;
    const size_t len = rng() % 6;
    for (size_t k = 0; k < len; ++k) t.push_back(alphabet[rng() % alphabet.size()]);
    texts.push_back(t);
  }
  texts.push_back("4294967296");
  texts.push_back("2147483648");
  for (const std::string& a : texts) {
    EXPECT_EQ(CompareNatural(a, a), 0);
    for (const std::string& b : texts) {
      EXPECT_EQ(CompareNatural(a, b), -CompareNatural(b, a)) << a << " / " << b;
    }
  }
  std::sort(texts.begin(), texts.end(),
            [](const std::string& a, const std::string& b) { return CompareNatural(a, b) < 0; });
  for (size_t i = 0; i + 1 < texts.size(); ++i) {
    for (size_t j = i + 1; j < texts.size(); ++j) {
      ASSERT_LE(CompareNatural(texts[i], texts[j]), 0) << texts[i] << " / " << texts[j];
    }
  }
  EXPECT_EQ(CompareNatural("a007b", "A7B"), 0);
  EXPECT_LT(CompareNatural("2147483648", "0"), 0);  // wraps to the lowest 32-bit number
  EXPECT_LT(CompareNatural("\xe9", "a"), 0);        // signed bytes: 0xE9 is negative
  EXPECT_LT(CompareTexts("a", "\xe9", 0), 0);       // the value order: unsigned bytes
}

// The ranking as the expressions define it, built afresh.
std::vector<std::string> FreshRanking(const Store& s, std::string_view group) {
  std::vector<const Item*> items = ItemsOf(s, group);
  std::stable_sort(items.begin(), items.end(), [](const Item* a, const Item* b) {
    return CompareTexts(a->value(), b->value(), 0) < 0;
  });
  std::vector<std::string> names;
  for (const Item* it : items) names.emplace_back(it->name());
  return names;
}

std::vector<std::string> KeptRanking(const Store& s, std::string_view group) {
  std::vector<std::string> names;
  for (int64_t n = 1; const Item* it = NthSortedEntry(s, group, n); ++n) {
    names.emplace_back(it->name());
  }
  return names;
}

TEST(RankingTest, FollowsEveryKindOfChange) {
  Store s;
  s.settings().autoSave = false;
  UndoOf(s).undoDepth = -1;
  BeginUndoBlock(s);
  const auto check = [&](const char* step) {
    EXPECT_EQ(KeptRanking(s, "g"), FreshRanking(s, "g")) << step;
  };
  s.SetItem("g", "a", "3");
  s.SetItem("g", "b", "1");
  s.SetItem("g", "c", "2");
  check("set");
  s.SetItem("g", "a", "0");
  check("value changed");
  s.SetItem("g", "D", "1");
  check("item added");
  s.RenameItem("g", "b", "e", false);
  check("item renamed");
  s.DeleteItem("g", "c");
  check("item deleted");
  s.SetItemOrder("g", [&] {
    std::vector<const Item*> order = ItemsOf(s, "g");
    std::reverse(order.begin(), order.end());
    return order;
  }());
  check("order reversed");
  s.SetItem("other", "x", "9");
  s.CopyGroup("other", "g", kCopyReplace);
  check("replaced by a copy");
  PerformUndo(s);
  check("undone");
  s.DeleteGroup("g");
  s.SetItem("g", "z", "5");
  s.SetItem("g", "y", "4");
  check("deleted and made again");
  s.SetCaseSensitive(true);
  s.SetItem("g", "Y", "0");
  check("case sensitive");
  s.SetCaseSensitive(false);
  check("case folded");
}

TEST(ItemOrderTest, TakesOnlyARearrangementOfTheGroupsOwnItems) {
  Store s;
  s.settings().autoSave = false;
  s.SetItem("g", "a", "1");
  s.SetItem("g", "b", "2");
  s.SetItem("h", "c", "3");
  const std::vector<const Item*> g = ItemsOf(s, "g");
  const Item* foreign = ItemsOf(s, "h").front();
  EXPECT_FALSE(s.SetItemOrder("g", {g[0]}));
  EXPECT_FALSE(s.SetItemOrder("g", {g[0], g[0]}));
  EXPECT_FALSE(s.SetItemOrder("g", {g[0], foreign}));
  EXPECT_FALSE(s.SetItemOrder("missing", {}));
  EXPECT_EQ(ItemsOf(s, "g"), g);
  EXPECT_TRUE(s.SetItemOrder("g", {g[1], g[0]}));
  EXPECT_EQ(s.NthItemName("g", 1, ""), "b");
  EXPECT_EQ(s.NthItemName("g", 2, ""), "a");
  EXPECT_TRUE(s.HasItem("g", "a"));
}

// Keeps every undo record as a line of text, in order.
class RecordLog : public UndoSink {
 public:
  explicit RecordLog(std::vector<std::string>& log) : log_(log) {}
  bool Recording() const override { return true; }
  void GroupMade(std::string group) override { log_.push_back("made " + group); }
  void ItemReplaced(std::string group, std::string item, std::string value) override {
    log_.push_back("replaced " + group + "/" + item + "=" + value);
  }
  void ItemCreated(std::string group, std::string item) override {
    log_.push_back("created " + group + "/" + item);
  }
  void GroupReplaced(std::string group, GroupSnapshot items) override {
    std::string line = "group " + group + ":";
    for (const auto& [name, value] : items.items) line += " " + name + "=" + value;
    log_.push_back(line);
  }
  void GroupRespelled(std::string group) override { log_.push_back("respelled " + group); }

 private:
  std::vector<std::string>& log_;
};

struct Counter : StoreListener {
  void Notify(int flags) override { newItems += (flags & kNotifyNewItem) != 0 ? 1 : 0; }
  int newItems = 0;
};

// A sort that nobody is notified of reorders the group's nodes underneath: the document,
// the undo records and what a failure takes back must be those of the step-by-step rebuild
// a listener sees. Items with tombstones in their order (a deletion before the sort) and
// groups before and after the sorted one are part of every case.
TEST(RebuildTest, ASortNobodySeesEqualsTheStepByStepRebuild) {
  const std::string text =
      "[first]\nx=1\n[Sorted]\nk1=b,2\nK2=a10\nk3=a9\nk4=\nk5=A2,z\nk6=a,1\n"
      "[last]\ny=2\n";
  struct Case {
    GroupOperationCode code;
    int option;
    const char* spelling;
  };
  const Case cases[] = {{kSortByValue, 0, "sorted"},      {kSortByValue, 1, "Sorted"},
                        {kSortByValue, 2, "SORTED"},      {kSortByValue, 7, "sorted"},
                        {kSortByName, 0, "Sorted"},       {kSortByName, 1, "sorted"},
                        {kSortByFirstField, 0, "sorted"}, {kSortByFirstField, 2, "Sorted"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + "/" + std::to_string(c.option) + " " + c.spelling);
    std::vector<std::string> logs[2];
    std::string documents[2];
    Counter counter;
    for (int seen = 0; seen < 2; ++seen) {
      Store s;
      s.settings().autoSave = false;
      ParseText(s, text, {});
      s.DeleteItem("sorted", "k3");
      s.SetItem("sorted", "k3", "a9");
      s.SetUndoSink(std::make_unique<RecordLog>(logs[seen]));
      if (seen == 1) s.Attach(counter);
      {
        // Taken back whole when the change it is part of fails.
        const std::string before = WriteText(s);
        try {
          const StoreChange change(s);
          ApplyGroupOperation(s, c.code, c.option, c.spelling, 0);
          throw std::runtime_error("later step");
        } catch (const std::runtime_error&) {
        }
        EXPECT_EQ(WriteText(s), before);
        EXPECT_TRUE(s.Consistent());
      }
      logs[seen].clear();
      ApplyGroupOperation(s, c.code, c.option, c.spelling, 0);
      documents[seen] = WriteText(s);
      EXPECT_TRUE(s.Consistent());
      EXPECT_EQ(s.NthGroupName(3, ""), c.spelling);
      if (seen == 1) s.Detach(counter);
    }
    EXPECT_EQ(documents[0], documents[1]);
    EXPECT_EQ(logs[0], logs[1]);
    EXPECT_EQ(counter.newItems, 2 * 6);  // both runs: one "On New Item" per item
  }
}

}  // namespace
}  // namespace vellix
