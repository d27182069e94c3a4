// Undo and redo: blocks, depths, modes, replay, and a long random round trip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "store/store.h"
#include "undo/undo.h"

namespace vellix {
namespace {

// What undo guarantees to give back: every group with its items and values, each name
// spelled as it was.
using Content = std::map<std::string, std::map<std::string, std::string>>;

Content ContentOf(const Store& s) {
  Content c;
  s.ForEachGroup([&](const Group& g) {
    auto& items = c[g.name()];
    g.ForEachItem([&](const Item& it) { items[std::string(it.name())] = std::string(it.value()); });
  });
  return c;
}

// With empty groups not allowed, a group that MakeGroup left empty may be dropped by the
// next removal of an item, and undoing a change in it is such a removal: compare without
// empty groups there.
Content WithoutEmptyGroups(Content c) {
  std::erase_if(c, [](const auto& entry) { return entry.second.empty(); });
  return c;
}

// Creation order: group display names, each followed by its item display names.
std::vector<std::string> OrderOf(const Store& s) {
  std::vector<std::string> out;
  s.ForEachGroup([&](const Group& g) {
    out.push_back("[" + g.name() + "]");
    g.ForEachItem([&](const Item& it) {
      out.push_back(std::string(it.name()) + "=" + std::string(it.value()));
    });
  });
  return out;
}

std::vector<std::string> List(std::initializer_list<const char*> l) {
  return std::vector<std::string>(l.begin(), l.end());
}

// A store as a run object leaves it: no file, unlimited undo and redo, automatic blocks.
struct UndoStore : ::testing::Test {
  Store s;
  void SetUp() override {
    s.settings().autoSave = false;
    UndoOf(s).undoDepth = -1;
    UndoOf(s).redoDepth = -1;
  }
  // What the frame of a modifying action does before the action's body.
  template <class F>
  void Act(F&& body) {
    BeginUndoBlock(s);
    body();
  }
  int UndoAll() {
    int n = 0;
    while (UndoAvailable(s)) {
      PerformUndo(s);
      ++n;
    }
    return n;
  }
  int RedoAll() {
    int n = 0;
    while (RedoAvailable(s)) {
      PerformRedo(s);
      ++n;
    }
    return n;
  }
};

// ---------------------------------------------------------------- blocks and stacks

TEST_F(UndoStore, EachActionIsOneBlockAndUndoReversesOnlyTheLast) {
  Act([&] { s.SetItem("g", "a", "1"); });
  Act([&] {
    s.SetItem("g", "b", "2");
    s.SetItem("g", "a", "3");
  });
  Act([&] { s.DeleteItem("g", "a"); });

  PerformUndo(s);
  EXPECT_EQ(s.GetItem("g", "a", "-"), "3");
  PerformUndo(s);
  EXPECT_EQ(s.GetItem("g", "a", "-"), "1");
  EXPECT_FALSE(s.HasItem("g", "b"));
  PerformUndo(s);
  EXPECT_FALSE(s.GroupExists("g"));
  EXPECT_FALSE(UndoAvailable(s));
  EXPECT_TRUE(RedoAvailable(s));

  PerformRedo(s);
  EXPECT_EQ(s.GetItem("g", "a", "-"), "1");
  PerformRedo(s);
  EXPECT_EQ(s.GetItem("g", "a", "-"), "3");
  EXPECT_EQ(s.GetItem("g", "b", "-"), "2");
  PerformRedo(s);
  EXPECT_FALSE(s.HasItem("g", "a"));
  EXPECT_FALSE(RedoAvailable(s));
  EXPECT_EQ(UndoOf(s).undo.size(), 3u);
}

TEST_F(UndoStore, ActionsThatChangeNothingStillShapeTheStack) {
  Act([&] { s.SetItem("g", "a", "1"); });
  // Setting an item to its own value still records, so it makes a block of its own.
  Act([&] { s.SetItem("g", "a", "1"); });
  EXPECT_EQ(UndoOf(s).undo.size(), 2u);
  // An action that records nothing leaves an empty block on top, reused by the next one.
  Act([&] { s.DeleteItem("g", "missing"); });
  EXPECT_EQ(UndoOf(s).undo.size(), 3u);
  Act([&] { s.DeleteItem("g", "missing"); });
  EXPECT_EQ(UndoOf(s).undo.size(), 3u);

  // Undoing the empty top block changes nothing but is an undo step all the same.
  PerformUndo(s);
  EXPECT_EQ(s.GetItem("g", "a", "-"), "1");
  EXPECT_EQ(UndoOf(s).undo.size(), 2u);
  PerformUndo(s);
  EXPECT_EQ(s.GetItem("g", "a", "-"), "1");
  PerformUndo(s);
  EXPECT_FALSE(s.GroupExists("g"));
}

TEST_F(UndoStore, AnyNewActionEmptiesTheRedoStack) {
  Act([&] { s.SetItem("g", "a", "1"); });
  Act([&] { s.SetItem("g", "a", "2"); });
  PerformUndo(s);
  ASSERT_TRUE(RedoAvailable(s));
  Act([] {});  // even one that changes nothing
  EXPECT_FALSE(RedoAvailable(s));
  PerformRedo(s);  // on an empty stack: nothing
  EXPECT_EQ(s.GetItem("g", "a", "-"), "1");
}

TEST_F(UndoStore, DepthsCountBlocksAndDropTheOldest) {
  UndoOf(s).undoDepth = 3;
  UndoOf(s).redoDepth = 2;
  for (int i = 1; i <= 5; ++i) Act([&] { s.SetItem("g", "a", std::to_string(i)); });
  EXPECT_EQ(UndoAll(), 3);
  EXPECT_EQ(s.GetItem("g", "a", "-"), "2");
  EXPECT_EQ(UndoOf(s).redo.size(), 2u);
  EXPECT_EQ(RedoAll(), 2);
  EXPECT_EQ(s.GetItem("g", "a", "-"), "4");
}

TEST_F(UndoStore, DepthZeroTurnsASideOff) {
  UndoOf(s).undoDepth = 0;
  Act([&] { s.SetItem("g", "a", "1"); });
  EXPECT_FALSE(UndoAvailable(s));
  PerformUndo(s);
  EXPECT_EQ(s.GetItem("g", "a", "-"), "1");
  // A block added by hand is an undo step, but never receives records.
  AddUndoBlock(s);
  EXPECT_TRUE(UndoAvailable(s));
  Act([&] { s.SetItem("g", "a", "2"); });
  EXPECT_TRUE(UndoOf(s).undo.back().empty());
  PerformUndo(s);
  EXPECT_EQ(s.GetItem("g", "a", "-"), "2");
  EXPECT_FALSE(UndoAvailable(s));

  UndoOf(s).undoDepth = -7;  // any negative depth: no limit
  UndoOf(s).redoDepth = 0;
  Act([&] { s.SetItem("g", "a", "3"); });
  PerformUndo(s);
  EXPECT_EQ(s.GetItem("g", "a", "-"), "2");
  EXPECT_FALSE(RedoAvailable(s));
}

TEST_F(UndoStore, ClearTakesEitherStackOrBoth) {
  Act([&] { s.SetItem("g", "a", "1"); });
  Act([&] { s.SetItem("g", "a", "2"); });
  PerformUndo(s);
  ClearUndo(s, false, false);
  EXPECT_TRUE(UndoAvailable(s));
  EXPECT_TRUE(RedoAvailable(s));
  ClearUndo(s, false, true);
  EXPECT_TRUE(UndoAvailable(s));
  EXPECT_FALSE(RedoAvailable(s));
  ClearUndo(s, true, false);
  EXPECT_FALSE(UndoAvailable(s));
  // Records made with no block open have nowhere to go and are dropped.
  s.SetItem("g", "a", "3");
  EXPECT_FALSE(UndoAvailable(s));
}

TEST_F(UndoStore, ManualModeGathersActionsUntilANewBlockIsAdded) {
  SetAutomaticUndo(s, false);
  Act([&] { s.SetItem("g", "a", "1"); });
  Act([&] { s.SetItem("g", "b", "2"); });
  AddUndoBlock(s);
  Act([&] { s.SetItem("g", "c", "3"); });
  Act([&] { s.SetItem("g", "d", "4"); });
  EXPECT_EQ(UndoOf(s).undo.size(), 2u);

  PerformUndo(s);
  EXPECT_EQ(OrderOf(s), List({"[g]", "a=1", "b=2"}));
  // A redo is a change like any other: its records join the newest block, so undoing
  // again reverses everything.
  PerformRedo(s);
  EXPECT_EQ(OrderOf(s), List({"[g]", "a=1", "b=2", "c=3", "d=4"}));
  EXPECT_EQ(UndoOf(s).undo.size(), 1u);
  PerformUndo(s);
  EXPECT_FALSE(s.GroupExists("g"));
  EXPECT_FALSE(UndoAvailable(s));
}

TEST_F(UndoStore, SwitchingToAutomaticOpensABlockAtOnce) {
  SetAutomaticUndo(s, false);
  Act([&] { s.SetItem("g", "a", "1"); });
  SetAutomaticUndo(s, true);
  EXPECT_EQ(UndoOf(s).undo.size(), 2u);
  s.SetItem("g", "b", "2");  // lands in the block opened by the switch
  PerformUndo(s);
  EXPECT_EQ(OrderOf(s), List({"[g]", "a=1"}));
}

// ---------------------------------------------------------------- what replay gives back

TEST_F(UndoStore, DeletedGroupComesBackWholeWithItsOrder) {
  UndoOf(s).undoDepth = 0;
  s.SetItem("Keep", "k", "0");
  s.SetItem("Big", "z", "1");
  s.SetItem("Big", "a", "2");
  s.SetItem("Big", "m", "3");
  UndoOf(s).undoDepth = -1;
  Act([&] { s.DeleteGroup("Big"); });
  PerformUndo(s);
  EXPECT_EQ(OrderOf(s), List({"[Keep]", "k=0", "[Big]", "z=1", "a=2", "m=3"}));
  PerformRedo(s);
  EXPECT_EQ(OrderOf(s), List({"[Keep]", "k=0"}));
  PerformUndo(s);
  EXPECT_EQ(OrderOf(s), List({"[Keep]", "k=0", "[Big]", "z=1", "a=2", "m=3"}));
}

TEST_F(UndoStore, ClearAllIsUndoneWithNamesAsTheyWere) {
  UndoOf(s).undoDepth = 0;
  s.SetItem("Alpha", "One", "1");
  s.SetItem("beta", "Two", "2");
  s.MakeGroup("Empty");
  const Content before = ContentOf(s);
  UndoOf(s).undoDepth = -1;
  Act([&] { s.ClearAll(); });
  EXPECT_EQ(s.GroupCount(), 0);
  PerformUndo(s);
  EXPECT_EQ(ContentOf(s), before);
  EXPECT_EQ(s.FindGroup("alpha")->name(), "Alpha");
  EXPECT_EQ(s.FindGroup("empty")->name(), "Empty");
}

TEST_F(UndoStore, ReplacedGroupGetsItsItemsBack) {
  UndoOf(s).undoDepth = 0;
  s.SetItem("src", "x", "1");
  s.SetItem("dst", "b", "2");
  s.SetItem("dst", "a", "3");
  UndoOf(s).undoDepth = -1;
  Act([&] { s.CopyGroup("src", "dst", 0); });
  EXPECT_EQ(OrderOf(s), List({"[src]", "x=1", "[dst]", "x=1"}));
  PerformUndo(s);
  EXPECT_EQ(OrderOf(s), List({"[src]", "x=1", "[dst]", "b=2", "a=3"}));
  Act([&] { s.CopyGroup("src", "fresh", 0); });
  PerformUndo(s);
  EXPECT_FALSE(s.GroupExists("fresh"));
}

// Undo gives back content, not places: re-created items are appended to their group, and
// restored groups to the document. What was never removed keeps its relative order.
TEST_F(UndoStore, ReplayRestoresContentButAppendsWhatItRecreates) {
  UndoOf(s).undoDepth = 0;
  s.SetItem("g1", "a", "1");
  s.SetItem("g1", "b", "2");
  s.SetItem("g1", "c", "3");
  s.SetItem("g2", "x", "4");
  s.SetItem("g3", "y", "5");
  UndoOf(s).undoDepth = -1;
  Act([&] { s.DeleteItem("g1", "a"); });
  Act([&] { s.DeleteGroup("g2"); });
  Act([&] { s.SetItem("g1", "d", "6"); });
  UndoAll();
  EXPECT_EQ(OrderOf(s), List({"[g1]", "b=2", "c=3", "a=1", "[g3]", "y=5", "[g2]", "x=4"}));

  // Undoing only additions leaves every remaining place untouched.
  Act([&] {
    s.SetItem("g3", "z", "7");
    s.SetItem("g0", "n", "8");
  });
  Act([&] { s.SetItem("g1", "e", "9"); });
  UndoAll();
  EXPECT_EQ(OrderOf(s), List({"[g1]", "b=2", "c=3", "a=1", "[g3]", "y=5", "[g2]", "x=4"}));
}

TEST_F(UndoStore, TextsWithHighBytesPassThroughUnchanged) {
  const std::string group = "gr\xC3\xBC\xFF", item = "\x80it\xE9", value = "v\xFE\x01\x7F\xA0";
  Act([&] { s.SetItem(group, item, value); });
  Act([&] { s.SetItem(group, item, "plain"); });
  Act([&] { s.DeleteGroup(group); });
  PerformUndo(s);
  PerformUndo(s);
  EXPECT_EQ(s.GetItem(group, item, "-"), value);
  EXPECT_EQ(s.FindGroup(group)->name(), group);
  EXPECT_EQ(s.FindGroup(group)->At(0).name(), item);
  PerformRedo(s);
  PerformRedo(s);
  EXPECT_FALSE(s.GroupExists(group));
}

// ---------------------------------------------------------------- notifications and re-entry

struct Listener final : StoreListener {
  void Notify(int f) override {
    flags.push_back(f);
    if (onNotify) onNotify(f);
  }
  std::vector<int> flags;
  std::function<void(int)> onNotify;
};

TEST_F(UndoStore, ReplayNotifiesChangesOnceAndNewItemsEachTime) {
  Listener l;
  s.Attach(l);
  Act([&] {
    s.SetItem("g", "a", "1");
    s.SetItem("g", "b", "2");
    s.SetItem("g", "c", "3");
  });
  Act([&] {
    s.quiet = true;
    s.DeleteItem("g", "a");
    s.DeleteItem("g", "b");
    s.quiet = false;
  });
  l.flags.clear();
  PerformUndo(s);  // re-creates a and b
  EXPECT_EQ(l.flags, (std::vector<int>{kNotifyNewItem, kNotifyNewItem, kNotifyModified}));
  l.flags.clear();
  PerformUndo(s);  // deletes three items
  EXPECT_EQ(l.flags, (std::vector<int>{kNotifyModified}));
  l.flags.clear();
  PerformRedo(s);
  EXPECT_EQ(l.flags,
            (std::vector<int>{kNotifyNewItem, kNotifyNewItem, kNotifyNewItem, kNotifyModified}));
  EXPECT_FALSE(s.quiet);
  EXPECT_FALSE(UndoOf(s).undoing);
  EXPECT_FALSE(UndoOf(s).keepRedo);
}

TEST_F(UndoStore, ChangeHandlersSeeTheStacksAsTheyAreAfterTheStep) {
  Listener l;
  s.Attach(l);
  std::vector<std::pair<bool, bool>> seen;
  l.onNotify = [&](int flags) {
    if (flags == kNotifyModified) seen.emplace_back(UndoAvailable(s), RedoAvailable(s));
  };
  Act([&] { s.SetItem("g", "a", "1"); });
  seen.clear();
  PerformUndo(s);
  PerformRedo(s);
  EXPECT_EQ(seen, (std::vector<std::pair<bool, bool>>{{false, true}, {true, false}}));
}

// Handlers of "On New Item" run in the middle of a replay and may call the undo actions.
TEST_F(UndoStore, UndoActionsCalledDuringAReplayAreSafe) {
  Listener l;
  s.Attach(l);
  for (int i = 0; i < 4; ++i) Act([&] { s.SetItem("g", "i" + std::to_string(i), "v"); });
  Act([&] { s.DeleteGroup("g"); });
  Act([&] {
    s.SetItem("h", "x", "1");
    s.DeleteItem("h", "x");
  });

  int calls = 0;
  l.onNotify = [&](int flags) {
    if (flags != kNotifyNewItem) return;
    ++calls;
    PerformUndo(s);
    PerformRedo(s);
    AddUndoBlock(s);
    SetAutomaticUndo(s, true);
    ClearUndo(s, true, false);
  };
  PerformUndo(s);  // re-creates x: the handler clears the undo stack mid-replay
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(s.HasItem("h", "x"));
  EXPECT_FALSE(s.GroupExists("h"));
  EXPECT_FALSE(UndoAvailable(s));
  EXPECT_FALSE(s.GroupExists("g"));
  l.onNotify = nullptr;
  // The redo block of that replay is whole: redo gives back the empty group the action left.
  PerformRedo(s);
  EXPECT_TRUE(s.GroupExists("h"));
  EXPECT_FALSE(s.HasItem("h", "x"));
  EXPECT_FALSE(UndoOf(s).replaying);
}

// ---------------------------------------------------------------- a long random round trip

struct Rng {
  uint64_t state;
  explicit Rng(uint64_t seed) : state(seed * 2654435761u + 1) {}
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<uint32_t>(state >> 11);
  }
  size_t Below(size_t n) { return Next() % n; }
  template <size_t N>
  const char* Pick(const char* const (&choices)[N]) {
    return choices[Below(N)];
  }
};

// Spellings that differ only in case meet under one key unless the store is case sensitive.
const char* const kGroups[] = {"g0",           "g1", "G1", "g2", "Grp \xC3\xA9",
                               "grp \xC3\xA9", "",   "g3", "g4"};
const char* const kItems[] = {"a", "A", "b", "c", "d", "\xFFx", "", "e"};
const char* const kValues[] = {"", "1", "2.5", "text", "\xE9t\xE9", "x y", "0"};

void RandomOperation(Store& s, Rng& r) {
  const char* g1 = r.Pick(kGroups);
  const char* g2 = r.Pick(kGroups);
  const char* i1 = r.Pick(kItems);
  const char* i2 = r.Pick(kItems);
  switch (r.Below(14)) {
    case 0:
    case 1:
    case 2:
      s.SetItem(g1, i1, r.Pick(kValues));
      break;
    case 3:
      s.DeleteItem(g1, i1);
      break;
    case 4:
      s.DeleteGroup(g1);
      break;
    case 5:
      s.RenameGroup(g1, g2, static_cast<int32_t>(r.Below(3)));
      break;
    case 6:
      s.RenameItem(g1, i1, i2, r.Below(2) != 0);
      break;
    case 7:
      s.MoveItem(g1, i1, g2, i2, r.Below(2) != 0);
      break;
    case 8:
      s.CopyGroup(g1, g2, 0);
      break;
    case 9:
      s.CopyGroup(g1, g2, static_cast<int32_t>(1 + r.Below(3)));
      break;
    case 10:
      s.CopyItem(g1, i1, g2, i2);
      break;
    case 11:
      s.DeleteItemEverywhere(i1);
      break;
    case 12:
      if (r.Below(20) == 0) s.ClearAll();
      break;
    case 13:
      s.MakeGroup(g1);
      break;
  }
}

struct RoundTrip {
  bool caseSensitive;
  bool allowEmptyGroups;
  bool manual;
};

class UndoRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(UndoRoundTrip, UndoingEveryBlockGivesBackTheStartAndRedoingTheEnd) {
  const RoundTrip mode = GetParam();
  for (uint64_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Store s;
    s.settings().autoSave = false;
    s.SetCaseSensitive(mode.caseSensitive);
    s.settings().allowEmptyGroups = mode.allowEmptyGroups;
    auto content = [&] {
      return mode.allowEmptyGroups ? ContentOf(s) : WithoutEmptyGroups(ContentOf(s));
    };
    Rng r(seed);
    for (int i = 0; i < 40; ++i) RandomOperation(s, r);  // the starting document, unrecorded
    const Content start = content();

    UndoOf(s).undoDepth = -1;
    UndoOf(s).redoDepth = -1;
    SetAutomaticUndo(s, !mode.manual);
    for (int i = 0; i < 150; ++i) {
      BeginUndoBlock(s);
      RandomOperation(s, r);
      if (mode.manual && r.Below(10) == 0) AddUndoBlock(s);
    }
    const Content end = content();

    while (UndoAvailable(s)) PerformUndo(s);
    ASSERT_EQ(content(), start);
    while (RedoAvailable(s)) PerformRedo(s);
    ASSERT_EQ(content(), end);
    // Again, through the blocks the redo made.
    while (UndoAvailable(s)) PerformUndo(s);
    ASSERT_EQ(content(), start);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, UndoRoundTrip,
                         ::testing::Values(RoundTrip{false, true, false},
                                           RoundTrip{true, true, false},
                                           RoundTrip{false, false, false},
                                           RoundTrip{true, false, true}),
                         [](const auto& info) {
                           const RoundTrip& m = info.param;
                           return std::string(m.caseSensitive ? "Case" : "NoCase") +
                                  (m.allowEmptyGroups ? "Empty" : "NoEmpty") +
                                  (m.manual ? "Manual" : "Auto");
                         });

// Without empty groups, undoing an item's creation can take its group too, and the later
// undo of the group's creation then finds nothing to do: its redo block stays empty and
// takes in the next undo's records, so redo steps need not match undo steps one to one
// there (the round trips above still hold). Manual blocks span several actions.

class UndoStepByStep : public ::testing::TestWithParam<bool> {};

// In automatic mode with empty groups allowed, every undo and redo step is one action:
// undoing part of the way and redoing part of the way meets the states passed through.
TEST_P(UndoStepByStep, EveryIntermediateStateIsReachedAgain) {
  Store s;
  s.settings().autoSave = false;
  s.SetCaseSensitive(GetParam());
  UndoOf(s).undoDepth = -1;
  UndoOf(s).redoDepth = -1;
  auto content = [&] { return ContentOf(s); };
  Rng r(99);
  // states[k]: the content after the k-th block. An action that records nothing changes
  // nothing and leaves its empty block on top for the next action to fill.
  std::vector<Content> states{content()};
  const auto& undo = UndoOf(s).undo;
  for (int i = 0; i < 3000 || undo.back().empty(); ++i) {
    BeginUndoBlock(s);
    RandomOperation(s, r);
    if (!undo.back().empty()) {
      states.resize(undo.size());
      states.push_back(content());
    }
  }
  ASSERT_EQ(states.size(), undo.size() + 1);
  size_t at = states.size() - 1;
  while (at > 0) {
    const size_t steps = 1 + r.Below(std::min<size_t>(at, 50));
    for (size_t k = 0; k < steps; ++k) PerformUndo(s);
    at -= steps;
    ASSERT_EQ(content(), states[at]) << "after undoing to " << at;
    const size_t back = r.Below(std::min<size_t>(steps, 10) + 1);
    for (size_t k = 0; k < back; ++k) PerformRedo(s);
    at += back;
    ASSERT_EQ(content(), states[at]) << "after redoing to " << at;
    for (size_t k = 0; k < back; ++k) PerformUndo(s);
    at -= back;
  }
  EXPECT_FALSE(UndoAvailable(s));
}

INSTANTIATE_TEST_SUITE_P(Cases, UndoStepByStep, ::testing::Bool());

}  // namespace
}  // namespace vellix
