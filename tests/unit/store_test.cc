// The store's hard cases: keys and case folding, order rules of the composite operations,
// empty groups, notifications, and the containers underneath.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "store/number_text.h"
#include "store/store.h"

namespace vellix {
namespace {

std::vector<std::string> GroupNames(const Store& s) {
  std::vector<std::string> out;
  s.ForEachGroup([&](const Group& g) { out.push_back(g.name); });
  return out;
}

std::vector<std::pair<std::string, std::string>> Items(const Store& s, std::string_view g) {
  std::vector<std::pair<std::string, std::string>> out;
  if (const Group* grp = s.FindGroup(g)) {
    grp->ForEachItem([&](const Item& it) { out.emplace_back(it.name(), it.value()); });
  }
  return out;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;
using Names = std::vector<std::string>;

// Records every notification as (listener index, flags).
struct Recorder {
  static inline std::vector<std::pair<int, int>> events;
  static void Notify(void* listener, int flags) {
    events.emplace_back(static_cast<int>(reinterpret_cast<intptr_t>(listener)), flags);
  }
};

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.autoSave = false;
    Recorder::events.clear();
  }
  void Listen() {
    store.listeners = {reinterpret_cast<void*>(intptr_t{1}), reinterpret_cast<void*>(intptr_t{2})};
    store.notify = &Recorder::Notify;
  }
  Store store;
};

TEST_F(StoreTest, NamesFoldWithoutCaseAndLatestSpellingWins) {
  store.SetItem("Foo", "X", "1");
  store.SetItem("FOO", "x", "2");
  EXPECT_EQ(store.GroupCount(), 1);
  EXPECT_EQ(GroupNames(store), Names{"FOO"});
  EXPECT_EQ(Items(store, "foo"), (Pairs{{"x", "2"}}));
  // Only A-Z fold: bytes above 127 and other bytes are part of the key as they are.
  store.SetItem("\xC9t\xE9", "k", "v");
  EXPECT_FALSE(store.GroupExists("\xE9t\xE9"));
  EXPECT_TRUE(store.GroupExists("\xC9T\xE9"));
  // Blanks and the empty name are ordinary names.
  store.SetItem("", "", "empty");
  store.SetItem(" a ", "k", "spaced");
  EXPECT_EQ(store.GetItem("", "", "d"), "empty");
  EXPECT_FALSE(store.GroupExists("a"));
}

TEST_F(StoreTest, SwitchingCaseOffFoldsGroupsAndItemsByTheirRules) {
  ASSERT_TRUE(store.SetCaseSensitive(true));
  store.SetItem("Foo", "k", "from Foo");
  store.SetItem("FOO", "j", "from FOO");
  store.SetItem("g", "B", "1");
  store.SetItem("g", "A", "2");
  store.SetItem("h", "A", "upper");
  store.SetItem("h", "a", "lower");
  store.SetItem("h", "Ab", "first");
  store.SetItem("h", "AB", "second");
  EXPECT_EQ(store.GroupCount(), 4);

  ASSERT_TRUE(store.SetCaseSensitive(false));
  // 'FOO' folds first (it sorts first) and names the group; 'Foo' folds last and its
  // items replace what was there.
  EXPECT_EQ(GroupNames(store), (Names{"FOO", "g", "h"}));
  EXPECT_EQ(Items(store, "foo"), (Pairs{{"k", "from Foo"}}));
  EXPECT_EQ(Items(store, "g"), (Pairs{{"B", "1"}, {"A", "2"}}));
  EXPECT_TRUE(store.HasItem("g", "a") && store.HasItem("g", "b"));
  // An all-lowercase item wins; otherwise the first in key order ('AB' < 'Ab').
  EXPECT_EQ(Items(store, "h"), (Pairs{{"a", "lower"}, {"AB", "second"}}));
  EXPECT_FALSE(store.SetCaseSensitive(false));
}

TEST_F(StoreTest, SwitchingCaseOnKeepsEveryEntryInItsPlace) {
  store.SetItem("Alpha", "One", "1");
  store.SetItem("beta", "two", "2");
  store.SetItem("Alpha", "Three", "3");
  ASSERT_TRUE(store.SetCaseSensitive(true));
  EXPECT_EQ(GroupNames(store), (Names{"Alpha", "beta"}));
  EXPECT_TRUE(store.HasItem("Alpha", "Three"));
  EXPECT_FALSE(store.HasItem("alpha", "Three"));
  EXPECT_FALSE(store.HasItem("Alpha", "three"));
  store.SetItem("ALPHA", "x", "y");
  EXPECT_EQ(store.GroupCount(), 3);
  EXPECT_EQ(Items(store, "Alpha"), (Pairs{{"One", "1"}, {"Three", "3"}}));
}

TEST_F(StoreTest, RenameGroupTakesTheOldPlace) {
  store.SetItem("a", "x", "1");
  store.SetItem("b", "y", "2");
  store.SetItem("c", "z", "3");
  EXPECT_FALSE(store.RenameGroup("a", "b", 2));
  EXPECT_FALSE(store.RenameGroup("a", "A", 0));
  EXPECT_TRUE(store.RenameGroup("a", "b", 0));
  EXPECT_EQ(GroupNames(store), (Names{"b", "c"}));
  EXPECT_EQ(Items(store, "b"), (Pairs{{"x", "1"}}));

  EXPECT_TRUE(store.RenameGroup("c", "d", 1));
  EXPECT_EQ(GroupNames(store), (Names{"b", "d"}));
  // A group without items renamed in merge mode still exists under its new name.
  store.MakeGroup("empty");
  store.SetItem("e", "k", "v");
  EXPECT_TRUE(store.RenameGroup("empty", "renamed", 1));
  EXPECT_EQ(GroupNames(store), (Names{"b", "d", "renamed", "e"}));
  EXPECT_EQ(store.ItemCount("renamed"), 0);
  // Renaming a missing group changes nothing but still reports that it acted.
  EXPECT_TRUE(store.RenameGroup("missing", "other", 0));
  EXPECT_FALSE(store.GroupExists("other"));
}

TEST_F(StoreTest, RenameMoveAndCopyItemsFollowTheirOrderRules) {
  store.SetItem("g", "a", "1");
  store.SetItem("g", "b", "2");
  store.SetItem("g", "c", "3");
  store.RenameItem("g", "a", "z", false);
  EXPECT_EQ(Items(store, "g"), (Pairs{{"z", "1"}, {"b", "2"}, {"c", "3"}}));
  store.RenameItem("g", "z", "c", false);  // blocked: c exists
  EXPECT_EQ(store.ItemCount("g"), 3);
  store.RenameItem("g", "z", "c", true);  // c takes z's place, its own place is gone
  EXPECT_EQ(Items(store, "g"), (Pairs{{"c", "1"}, {"b", "2"}}));

  EXPECT_FALSE(store.MoveItem("g", "c", "g", "C", true));
  EXPECT_TRUE(store.MoveItem("g", "c", "h", "c", false));
  EXPECT_EQ(Items(store, "h"), (Pairs{{"c", "1"}}));
  store.SetItem("g", "c", "new");
  EXPECT_FALSE(store.MoveItem("g", "c", "h", "c", false));
  EXPECT_TRUE(store.MoveItem("g", "c", "h", "c", true));
  EXPECT_EQ(Items(store, "h"), (Pairs{{"c", "new"}}));

  // Merge copies in key order; replace copies the creation order.
  store.SetItem("src", "b", "B");
  store.SetItem("src", "a", "A");
  store.CopyGroup("src", "merged", 1);
  EXPECT_EQ(Items(store, "merged"), (Pairs{{"a", "A"}, {"b", "B"}}));
  store.SetItem("replaced", "old", "x");
  store.CopyGroup("src", "replaced", 0);
  EXPECT_EQ(Items(store, "replaced"), (Pairs{{"b", "B"}, {"a", "A"}}));
  EXPECT_TRUE(store.CopyItem("src", "a", "h", "copy"));
  EXPECT_FALSE(store.CopyItem("src", "missing", "h", "copy2"));
  EXPECT_EQ(store.GetItem("h", "copy", ""), "A");
}

TEST_F(StoreTest, EmptyGroupsFollowTheSetting) {
  store.SetItem("g", "x", "1");
  store.DeleteItem("g", "x");
  EXPECT_TRUE(store.GroupExists("g"));
  store.allowEmptyGroups = false;
  store.SetItem("h", "x", "1");
  store.DeleteItem("h", "x");
  EXPECT_FALSE(store.GroupExists("h"));
  EXPECT_TRUE(store.RemoveEmptyGroups());
  EXPECT_FALSE(store.GroupExists("g"));
}

TEST_F(StoreTest, DeleteEverywhereVisitsEveryGroupWhileGroupsVanish) {
  store.allowEmptyGroups = false;
  for (int i = 0; i < 6; ++i) {
    const std::string g = "g" + std::to_string(i);
    store.SetItem(g, "x", "1");
    if (i % 2 == 1) store.SetItem(g, "y", "2");
  }
  EXPECT_TRUE(store.DeleteItemEverywhere("X"));
  EXPECT_EQ(GroupNames(store), (Names{"g1", "g3", "g5"}));
  EXPECT_EQ(store.TotalItems(), 3);
}

TEST_F(StoreTest, NotificationsRespectQuietExceptForNewItems) {
  Listen();
  store.SetItem("g", "a", "1");
  EXPECT_EQ(Recorder::events, (std::vector<std::pair<int, int>>{{1, 4}, {2, 4}, {1, 1}, {2, 1}}));
  Recorder::events.clear();
  store.SetItem("g", "a", "2");
  EXPECT_EQ(Recorder::events, (std::vector<std::pair<int, int>>{{1, 1}, {2, 1}}));
  Recorder::events.clear();
  // A composite operation notifies new items at once and the change once at its end.
  store.RenameItem("g", "a", "b", false);
  EXPECT_EQ(Recorder::events, (std::vector<std::pair<int, int>>{{1, 4}, {2, 4}, {1, 1}, {2, 1}}));
  Recorder::events.clear();
  store.quiet = true;
  store.SetItem("g", "b", "3");
  EXPECT_TRUE(Recorder::events.empty());
  store.quiet = false;
  store.DeleteGroup("missing");
  store.DeleteItem("g", "missing");
  EXPECT_TRUE(Recorder::events.empty());
}

// Handlers attach and detach listeners while the store notifies, also from a nested round:
// one that left is never reached afterwards, one that arrived hears only later rounds.
struct Meddler {
  static inline Store* store = nullptr;
  static inline std::vector<int> seen;
  static void* L(int n) { return reinterpret_cast<void*>(intptr_t{n}); }
  static void Notify(void* listener, int flags) {
    const int n = static_cast<int>(reinterpret_cast<intptr_t>(listener));
    Recorder::Notify(listener, flags);
    const bool first = std::find(seen.begin(), seen.end(), n) == seen.end();
    seen.push_back(n);
    if (!first) return;
    if (n == 1) {
      store->Attach(L(5));
      store->Detach(L(3));
    } else if (n == 2) {
      store->SetItem("g", "a", "again");  // a nested round
    } else if (n == 4) {
      store->Detach(L(1));
    }
  }
};

TEST_F(StoreTest, ListenersThatLeaveDuringANotificationAreNotReached) {
  store.SetItem("g", "a", "1");
  for (int n : {1, 2, 3, 4}) store.Attach(Meddler::L(n));
  store.notify = &Meddler::Notify;
  Meddler::store = &store;
  Meddler::seen.clear();
  store.SetItem("g", "a", "2");
  EXPECT_EQ(Recorder::events,
            (std::vector<std::pair<int, int>>{{1, 1}, {2, 1}, {1, 1}, {2, 1}, {4, 1}, {5, 1}, {4, 1}}));
  EXPECT_EQ(store.listeners, (std::vector<void*>{Meddler::L(2), Meddler::L(4), Meddler::L(5)}));
}

TEST_F(StoreTest, IndexedAccessAndItsBounds) {
  store.SetItem("b", "2", "two");
  store.SetItem("a", "1", "one");
  EXPECT_EQ(store.NthGroupName(1, "d"), "b");
  EXPECT_EQ(store.NthGroupName(0, "d"), "d");
  EXPECT_EQ(store.NthGroupName(3, "d"), "d");
  EXPECT_EQ(store.NthGroupKey(1, "d"), "a");
  EXPECT_EQ(store.NthItemValue("B", 1, "d"), "two");
  EXPECT_EQ(store.NthItemName("b", INT32_MIN, "d"), "d");
  EXPECT_EQ(store.NthItemName("missing", 1, "d"), "d");
  EXPECT_EQ(store.ItemCount("missing"), 0);
}

TEST_F(StoreTest, HashedValuesCompareDigests) {
  store.SetItemHashed("g", "pw", "x");
  const std::string stored = store.GetItem("g", "pw", "");
  EXPECT_EQ(stored.size(), 32u);
  EXPECT_TRUE(store.ItemEqualsHashed("g", "pw", "", "x"));
  EXPECT_FALSE(store.ItemEqualsHashed("g", "pw", "", "y"));
  EXPECT_TRUE(store.ItemEqualsHashed("g", "missing", "abc", "abc"));
  EXPECT_FALSE(store.ItemEqualsHashed("g", "missing", "abc", "abd"));
  store.SetItem("g", "plain", "x");
  EXPECT_FALSE(store.ItemEqualsHashed("g", "plain", "", "x"));
}

TEST_F(StoreTest, TemporaryStoreCarriesSettingsButNoFile) {
  store.fileName = "/somewhere/a.ini";
  store.autoSave = true;
  store.escapeValues = true;
  store.SetNewLine("|");
  ASSERT_TRUE(store.SetCaseSensitive(true));
  auto temp = MakeTemporaryStore(store);
  EXPECT_TRUE(temp->fileName.empty());
  EXPECT_FALSE(temp->autoSave);
  EXPECT_TRUE(temp->escapeValues);
  EXPECT_TRUE(temp->caseSensitive());
  EXPECT_EQ(temp->NewLineText(), "|");
  EXPECT_EQ(temp->owner, nullptr);
}

TEST_F(StoreTest, UndoGivesBackTheSpellingOfDeletedAndOverwrittenNames) {
  store.undoDepth = -1;
  store.redoDepth = -1;
  store.SetItem("Game", "Score", "1");
  store.BeginUndoBlock();
  store.DeleteItem("GAME", "SCORE");
  store.BeginUndoBlock();
  store.SetItem("Other", "Name", "a");
  store.BeginUndoBlock();
  store.SetItem("other", "NAME", "b");
  store.PerformUndo();
  EXPECT_EQ(Items(store, "other"), (Pairs{{"Name", "a"}}));
  store.PerformUndo();
  store.PerformUndo();
  EXPECT_EQ(Items(store, "game"), (Pairs{{"Score", "1"}}));
  EXPECT_EQ(GroupNames(store), Names{"Game"});
}

TEST(SplitListTest, KeepsEmptyPieces) {
  EXPECT_EQ(SplitList(""), (Names{""}));
  EXPECT_EQ(SplitList("a,,b"), (Names{"a", "", "b"}));
  EXPECT_EQ(SplitList("a,"), (Names{"a", ""}));
}

TEST(NumberTextTest, WritesAndReadsNumbers) {
  EXPECT_EQ(FloatText(2.5f), "2.5");
  EXPECT_EQ(FloatText(3.0f), "3");
  EXPECT_EQ(FloatText(0.1f), "0.1");
  EXPECT_EQ(FloatText(-0.25f), "-0.25");
  EXPECT_EQ(FloatText(100.0f), "100");
  EXPECT_EQ(FloatText(0.0f), "0");
  EXPECT_EQ(IntegerText(-7), "-7");

  auto isInt = [](std::string_view t, int32_t v) {
    Number n = ReadNumber(t);
    return !n.isFloat && n.i == v;
  };
  auto isFloat = [](std::string_view t, float v) {
    Number n = ReadNumber(t);
    return n.isFloat && n.f == v;
  };
  EXPECT_TRUE(isInt("12", 12));
  EXPECT_TRUE(isFloat("12.50", 12.5f));
  EXPECT_TRUE(isFloat("3.", 3.0f));
  EXPECT_TRUE(isInt("abc", 0));
  EXPECT_TRUE(isInt("", 0));
  EXPECT_TRUE(isInt("7 apples", 7));
  EXPECT_TRUE(isInt("1,5", 1));
  EXPECT_TRUE(isInt("1e3", 1));
  EXPECT_TRUE(isFloat("1.0e3", 1000.0f));
  EXPECT_TRUE(isInt("  -42x", -42));
  EXPECT_TRUE(isInt("99999999999999999999", INT32_MAX));
  EXPECT_TRUE(isInt("-99999999999999999999", INT32_MIN));
  EXPECT_TRUE(isFloat("x.5", 0.0f));
  EXPECT_TRUE(isFloat("inf.", 0.0f));
  EXPECT_TRUE(isFloat(" +.5", 0.5f));
}

// The order list against a plain vector, through removals that leave tombstones.
struct Node {
  std::string name;
  uint32_t slot = 0;
};
std::string_view KeyName(const Node& n) { return n.name; }

TEST(ContainersTest, OrderListMatchesAPlainVector) {
  std::mt19937 rng(7);
  std::vector<std::unique_ptr<Node>> pool;
  OrderList<Node> list;
  NameIndex<Node> index;
  std::vector<Node*> model;
  for (int step = 0; step < 20000; ++step) {
    const unsigned op = rng() % 10;
    if (op < 5 || model.empty()) {
      pool.push_back(std::make_unique<Node>(Node{"n" + std::to_string(step)}));
      list.PushBack(pool.back().get());
      index.Insert(pool.back().get(), false);
      model.push_back(pool.back().get());
    } else if (op < 8) {
      const size_t at = rng() % model.size();
      list.Remove(model[at]);
      index.Erase(model[at], false);
      model.erase(model.begin() + static_cast<long>(at));
    } else if (op < 9 && model.size() > 1) {
      const size_t a = rng() % model.size(), b = rng() % model.size();
      list.Swap(model[a], model[b]);
      std::swap(model[a], model[b]);
    } else {
      ASSERT_EQ(list.size(), model.size());
      const size_t at = rng() % model.size();
      ASSERT_EQ(list.At(at), model[at]);
      ASSERT_EQ(index.Find(model[at]->name, false), model[at]);
    }
  }
  ASSERT_EQ(list.Nodes(), model);
  for (Node* n : model) ASSERT_EQ(index.Find(n->name, true), n);
}

}  // namespace
}  // namespace vellix
