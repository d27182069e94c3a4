// The store's hard cases: keys and case folding, order rules of the composite operations,
// empty groups, notifications, and the containers underneath.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "calc/hashed.h"
#include "format/text.h"
#include "store/name_key.h"
#include "store/number_text.h"
#include "store/store.h"
#include "undo/undo.h"

namespace vellix {
namespace {

std::vector<std::string> GroupNames(const Store& s) {
  std::vector<std::string> out;
  s.ForEachGroup([&](const Group& g) { out.push_back(g.name()); });
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

// Records every notification as (listener number, flags).
struct Recorder : StoreListener {
  explicit Recorder(int n) : number(n) {}
  void Notify(int flags) override { events.emplace_back(number, flags); }
  static inline std::vector<std::pair<int, int>> events;
  const int number;
};

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.settings().autoSave = false;
    Recorder::events.clear();
  }
  void Listen() {
    store.Attach(first);
    store.Attach(second);
  }
  Recorder first{1};
  Recorder second{2};
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
  EXPECT_FALSE(store.RenameGroup("a", "b", kRenameRefuse));
  EXPECT_FALSE(store.RenameGroup("a", "A", kRenameReplace));
  EXPECT_TRUE(store.RenameGroup("a", "b", kRenameReplace));
  EXPECT_EQ(GroupNames(store), (Names{"b", "c"}));
  EXPECT_EQ(Items(store, "b"), (Pairs{{"x", "1"}}));

  EXPECT_TRUE(store.RenameGroup("c", "d", kRenameMerge));
  EXPECT_EQ(GroupNames(store), (Names{"b", "d"}));
  // A group without items renamed in merge mode still exists under its new name.
  store.MakeGroup("empty");
  store.SetItem("e", "k", "v");
  EXPECT_TRUE(store.RenameGroup("empty", "renamed", kRenameMerge));
  EXPECT_EQ(GroupNames(store), (Names{"b", "d", "renamed", "e"}));
  EXPECT_EQ(store.ItemCount("renamed"), 0);
  // Renaming a missing group changes nothing but still reports that it acted.
  EXPECT_TRUE(store.RenameGroup("missing", "other", kRenameReplace));
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
  store.CopyGroup("src", "merged", kCopyMerge);
  EXPECT_EQ(Items(store, "merged"), (Pairs{{"a", "A"}, {"b", "B"}}));
  store.SetItem("replaced", "old", "x");
  store.CopyGroup("src", "replaced", kCopyReplace);
  EXPECT_EQ(Items(store, "replaced"), (Pairs{{"b", "B"}, {"a", "A"}}));
  EXPECT_TRUE(store.CopyItem("src", "a", "h", "copy"));
  EXPECT_FALSE(store.CopyItem("src", "missing", "h", "copy2"));
  EXPECT_EQ(store.GetItem("h", "copy", ""), "A");
}

TEST_F(StoreTest, EmptyGroupsFollowTheSetting) {
  store.SetItem("g", "x", "1");
  store.DeleteItem("g", "x");
  EXPECT_TRUE(store.GroupExists("g"));
  store.settings().allowEmptyGroups = false;
  store.SetItem("h", "x", "1");
  store.DeleteItem("h", "x");
  EXPECT_FALSE(store.GroupExists("h"));
  EXPECT_TRUE(store.RemoveEmptyGroups());
  EXPECT_FALSE(store.GroupExists("g"));
}

TEST_F(StoreTest, DeleteEverywhereVisitsEveryGroupWhileGroupsVanish) {
  store.settings().allowEmptyGroups = false;
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
struct Meddler final : Recorder {
  using Recorder::Recorder;
  static inline Store* store = nullptr;
  static inline std::vector<int> seen;
  static inline Meddler* numbered[6] = {};
  void Notify(int flags) override {
    Recorder::Notify(flags);
    const bool first = std::find(seen.begin(), seen.end(), number) == seen.end();
    seen.push_back(number);
    if (!first) return;
    if (number == 1) {
      store->Attach(*numbered[5]);
      store->Detach(*numbered[3]);
    } else if (number == 2) {
      store->SetItem("g", "a", "again");  // a nested round
    } else if (number == 4) {
      store->Detach(*numbered[1]);
    }
  }
};

TEST_F(StoreTest, ListenersThatLeaveDuringANotificationAreNotReached) {
  store.SetItem("g", "a", "1");
  Meddler m1(1), m2(2), m3(3), m4(4), m5(5);
  Meddler::numbered[1] = &m1;
  Meddler::numbered[2] = &m2;
  Meddler::numbered[3] = &m3;
  Meddler::numbered[4] = &m4;
  Meddler::numbered[5] = &m5;
  for (Meddler* m : {&m1, &m2, &m3, &m4}) store.Attach(*m);
  Meddler::store = &store;
  Meddler::seen.clear();
  store.SetItem("g", "a", "2");
  EXPECT_EQ(Recorder::events, (std::vector<std::pair<int, int>>{
                                  {1, 1}, {2, 1}, {1, 1}, {2, 1}, {4, 1}, {5, 1}, {4, 1}}));
  EXPECT_EQ(store.listeners(), (std::vector<StoreListener*>{&m2, &m4, &m5}));
}

TEST_F(StoreTest, IndexedAccessAndItsBounds) {
  store.SetItem("b", "2", "two");
  store.SetItem("a", "1", "one");
  EXPECT_EQ(store.NthGroupName(1, "d"), "b");
  EXPECT_EQ(store.NthGroupName(0, "d"), "d");
  EXPECT_EQ(store.NthGroupName(3, "d"), "d");
  EXPECT_EQ(store.NthItemValue("B", 1, "d"), "two");
  EXPECT_EQ(store.NthItemName("b", INT32_MIN, "d"), "d");
  EXPECT_EQ(store.NthItemName("missing", 1, "d"), "d");
  EXPECT_EQ(store.ItemCount("missing"), 0);
}

TEST_F(StoreTest, HashedValuesCompareDigests) {
  SetItemHashed(store, "g", "pw", "x");
  const std::string stored = store.GetItem("g", "pw", "");
  EXPECT_EQ(stored.size(), 32u);
  EXPECT_TRUE(ItemEqualsHashed(store, "g", "pw", "", "x"));
  EXPECT_FALSE(ItemEqualsHashed(store, "g", "pw", "", "y"));
  EXPECT_TRUE(ItemEqualsHashed(store, "g", "missing", "abc", "abc"));
  EXPECT_FALSE(ItemEqualsHashed(store, "g", "missing", "abc", "abd"));
  store.SetItem("g", "plain", "x");
  EXPECT_FALSE(ItemEqualsHashed(store, "g", "plain", "", "x"));
}

TEST_F(StoreTest, TemporaryStoreCarriesSettingsButNoFile) {
  store.settings().fileName = "/somewhere/a.ini";
  store.settings().autoSave = true;
  store.settings().escapeValues = true;
  store.settings().SetNewLine("|");
  ASSERT_TRUE(store.SetCaseSensitive(true));
  auto temp = MakeTemporaryStore(store);
  EXPECT_TRUE(temp->settings().fileName.empty());
  EXPECT_FALSE(temp->settings().autoSave);
  EXPECT_TRUE(temp->settings().escapeValues);
  EXPECT_TRUE(temp->caseSensitive());
  EXPECT_EQ(temp->NewLineText(), "|");
  EXPECT_EQ(temp->owner(), nullptr);
}

TEST_F(StoreTest, UndoGivesBackTheSpellingOfDeletedAndOverwrittenNames) {
  UndoOf(store).undoDepth = -1;
  UndoOf(store).redoDepth = -1;
  store.SetItem("Game", "Score", "1");
  BeginUndoBlock(store);
  store.DeleteItem("GAME", "SCORE");
  BeginUndoBlock(store);
  store.SetItem("Other", "Name", "a");
  BeginUndoBlock(store);
  store.SetItem("other", "NAME", "b");
  PerformUndo(store);
  EXPECT_EQ(Items(store, "other"), (Pairs{{"Name", "a"}}));
  PerformUndo(store);
  PerformUndo(store);
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

// A document changed for many rounds (values set to other lengths, short and long, items
// deleted, renamed and set again, a group deleted and made again) holds exactly what a plain
// model of it holds after every round, and in the end keeps no more than half as much
// again as the same document loaded fresh: deleted items' room is taken again or given back,
// also when half the document goes for good at the end.
TEST(ItemArenaTest, ChurnKeepsTheDocumentAndItsMemoryBounded) {
  constexpr int kGroups = 4;
  constexpr int kItems = 6000;
  const size_t lengths[] = {0, 5, 40, 200, 1500};
  Store store;
  store.settings().autoSave = false;
  store.settings().allowEmptyGroups = true;
  std::vector<Pairs> model(kGroups);
  const auto group = [](int g) { return "group" + IntegerText(g); };
  const auto set = [&](int g, const std::string& name, std::string value) {
    ASSERT_TRUE(store.SetItem(group(g), name, value));
    for (auto& [n, v] : model[g]) {
      if (n == name) {
        v = std::move(value);
        return;
      }
    }
    model[g].emplace_back(name, std::move(value));
  };
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    for (int g = 0; g < kGroups; ++g) {
      for (int i = 0; i < kItems; ++i) {
        const size_t length = lengths[static_cast<size_t>(i + round) % 5];
        set(g, "item" + IntegerText(i), std::string(length, static_cast<char>('a' + round)));
      }
      // Every third item goes, every third one after it is renamed in its place.
      for (int i = round % 3; i < kItems; i += 3)
        store.DeleteItem(group(g), "item" + IntegerText(i));
      // The number of an item still under its first name, or -1.
      const auto number = [](const std::string& name) {
        return name.rfind("item", 0) == 0 ? std::stoi(name.substr(4)) : -1;
      };
      std::erase_if(model[g],
                    [&](const auto& item) { return number(item.first) % 3 == round % 3; });
      for (auto& [name, value] : model[g]) {
        if (number(name) % 3 != (round + 1) % 3) continue;
        const std::string renamed = "r" + IntegerText(round) + "-" + name;
        store.RenameItem(group(g), name, renamed, false);
        name = renamed;
      }
    }
    // A group deleted whole, and made again with one item.
    store.DeleteGroup(group(round % kGroups));
    model[round % kGroups].clear();
    set(round % kGroups, "again", "x");
    ASSERT_TRUE(store.Consistent());
    for (int g = 0; g < kGroups; ++g) ASSERT_EQ(Items(store, group(g)), model[g]) << g;
  }
  // Half the document goes for good.
  store.DeleteGroup(group(0));
  store.DeleteGroup(group(1));
  Store fresh;
  fresh.settings().autoSave = false;
  ParseText(fresh, WriteText(store), {});
  ASSERT_EQ(WriteText(fresh), WriteText(store));
  EXPECT_LE(static_cast<double>(store.itemBytes()), 1.5 * static_cast<double>(fresh.itemBytes()));
}

// Names are read a word at a time and their last 1 to 7 bytes by overlapping loads: at every
// length, a name, its other spellings and a name one byte away must key as they should.
// The bytes next to the letters ('@', '[', '`', '{') and above 127 do not fold.
TEST(NameKeyTest, KeysAtEveryLength) {
  const std::string alphabet =
      "aZq@[`{\x80\xff"
      "09._-";
  std::mt19937 rng(11);
  for (size_t n = 0; n <= 40; ++n) {
    for (int round = 0; round < 20; ++round) {
      std::string name;
      for (size_t i = 0; i < n; ++i) name.push_back(alphabet[rng() % alphabet.size()]);
      std::string upper = name;
      for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      }
      const std::string lower = LowerAscii(name);
      ASSERT_TRUE(SameKey(name, upper, false)) << name;
      ASSERT_EQ(SameKey(name, upper, true), name == upper) << name;
      ASSERT_EQ(HashKey(name, false), HashKey(upper, false)) << name;
      ASSERT_EQ(HashKey(name, false), HashKey(lower, false)) << name;
      for (size_t i = 0; i < n; ++i) {
        std::string other = name;
        other[i] = other[i] == '0' ? '1' : '0';
        ASSERT_FALSE(SameKey(name, other, false)) << name << " at " << i;
        ASSERT_NE(HashKey(name, false), HashKey(other, false)) << name << " at " << i;
        ASSERT_NE(HashKey(name, true), HashKey(other, true)) << name << " at " << i;
      }
      ASSERT_FALSE(SameKey(name, name + "a", false));
    }
  }
}

// Names and values are copied into items in words at most lengths: every length reads back.
TEST(NameKeyTest, ItemsKeepTextsOfEveryLength) {
  Store store;
  store.settings().autoSave = false;
  std::mt19937 rng(5);
  std::vector<std::pair<std::string, std::string>> made;
  for (size_t n = 0; n <= 70; ++n) {
    std::string name = "k";
    std::string value;
    for (size_t i = 0; i < n; ++i) {
      name.push_back(static_cast<char>('a' + rng() % 26));
      value.push_back(static_cast<char>(1 + rng() % 255));
    }
    store.SetItem("g", name, value);
    made.emplace_back(name, value);
  }
  for (const auto& [name, value] : made) {
    const Item* it = store.FindItem("g", name);
    ASSERT_NE(it, nullptr) << name;
    EXPECT_EQ(it->name(), name);
    EXPECT_EQ(it->value(), value) << name.size();
  }
}

// The walk runs with the storage from the global allocator and from an arena (small
// groups), and now and then moves both containers to ones of the other kind and sets and
// takes back an order, so that storage is always given back where it came from (the
// sanitizer build catches a mismatch).
TEST(ContainersTest, OrderListMatchesAPlainVector) {
  for (const bool withArena : {false, true}) {
    SCOPED_TRACE(withArena ? "arena" : "global allocator");
    ItemArena arena;
    ItemArena* from = withArena ? &arena : nullptr;
    std::mt19937 rng(7);
    std::vector<std::unique_ptr<Node>> pool;
    OrderList<Node> list(from);
    NameIndex<Node> index(from);
    std::vector<Node*> model;
    for (int step = 0; step < 20000; ++step) {
      const unsigned op = rng() % 10;
      if (step % 997 == 0) {
        OrderList<Node> otherList(step % 2 == 0 ? nullptr : &arena);
        NameIndex<Node> otherIndex(step % 2 == 0 ? nullptr : &arena);
        otherList = std::move(list);
        otherIndex = std::move(index);
        list = std::move(otherList);
        index = std::move(otherIndex);
        const std::vector<const Node*> reversed(model.rbegin(), model.rend());
        OrderList<Node>::Storage previous;
        ASSERT_TRUE(list.Assign(reversed, &previous));
        ASSERT_EQ(list.size(), model.size());
        if (!model.empty()) {
          ASSERT_EQ(list.At(0), model.back());
        }
        list.Reinstate(previous);
      }
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
}

}  // namespace
}  // namespace vellix
