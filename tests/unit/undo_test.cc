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

#include "store/name_key.h"
#include "store/store.h"
#include "undo/undo.h"

namespace vellix {
namespace {

// What undo guarantees to give back: every group with its items and values, by key.
using Content = std::map<std::string, std::map<std::string, std::string>>;

Content ContentOf(const Store& s) {
  Content c;
  s.ForEachGroup([&](const Group& g) {
    auto& items = c[NormalizeName(g.name, s.caseSensitive())];
    g.ForEachItem([&](const Item& it) {
      items[NormalizeName(it.name(), s.caseSensitive())] = std::string(it.value());
    });
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
    out.push_back("[" + g.name + "]");
    g.ForEachItem([&](const Item& it) { out.push_back(std::string(it.name()) + "=" + std::string(it.value())); });
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
    s.autoSave = false;
    s.undoDepth = -1;
    s.redoDepth = -1;
  }
  // What the frame of a modifying action does before the action's body.
  template <class F>
  void Act(F&& body) {
    s.BeginUndoBlock();
    body();
  }
  int UndoAll() {
    int n = 0;
    while (s.UndoAvailable()) {
      s.PerformUndo();
      ++n;
    }
    return n;
  }
  int RedoAll() {
    int n = 0;
    while (s.RedoAvailable()) {
      s.PerformRedo();
      ++n;
    }
    return n;
  }
};

// ---------------------------------------------------------------- blocks and stacks

TEST_F(UndoStore, EachActionIsOneBlockAndUndoReversesOnlyTheLast) {
  Act([&] { s.SetItem("g", "a", "1"); });
  Act([&] { s.SetItem("g", "b", "2"); s.SetItem("g", "a", "3"); });
  Act([&] { s.DeleteItem("g", "a"); });

  s.PerformUndo();
  EXPECT_EQ(s.GetItem("g", "a", "-"), "3");
  s.PerformUndo();
  EXPECT_EQ(s.GetItem("g", "a", "-"), "1");
  EXPECT_FALSE(s.HasItem("g", "b"));
  s.PerformUndo();
  EXPECT_FALSE(s.GroupExists("g"));
  EXPECT_FALSE(s.UndoAvailable());
  EXPECT_TRUE(s.RedoAvailable());

  s.PerformRedo();
  EXPECT_EQ(s.GetItem("g", "a", "-"), "1");
  s.PerformRedo();
  EXPECT_EQ(s.GetItem("g", "a", "-"), "3");
  EXPECT_EQ(s.GetItem("g", "b", "-"), "2");
  s.PerformRedo();
  EXPECT_FALSE(s.HasItem("g", "a"));
  EXPECT_FALSE(s.RedoAvailable());
  EXPECT_EQ(s.undoStacks().undo.size(), 3u);
}

TEST_F(UndoStore, ActionsThatChangeNothingStillShapeTheStack) {
  Act([&] { s.SetItem("g", "a", "1"); });
  // Setting an item to its own value still records, so it makes a block of its own.
  Act([&] { s.SetItem("g", "a", "1"); });
  EXPECT_EQ(s.undoStacks().undo.size(), 2u);
  // An action that records nothing leaves an empty block on top, reused by the next one.
  Act([&] { s.DeleteItem("g", "missing"); });
  EXPECT_EQ(s.undoStacks().undo.size(), 3u);
  Act([&] { s.DeleteItem("g", "missing"); });
  EXPECT_EQ(s.undoStacks().undo.size(), 3u);

  // Undoing the empty top block changes nothing but is an undo step all the same.
  s.PerformUndo();
  EXPECT_EQ(s.GetItem("g", "a", "-"), "1");
  EXPECT_EQ(s.undoStacks().undo.size(), 2u);
  s.PerformUndo();
  EXPECT_EQ(s.GetItem("g", "a", "-"), "1");
  s.PerformUndo();
  EXPECT_FALSE(s.GroupExists("g"));
}

TEST_F(UndoStore, AnyNewActionEmptiesTheRedoStack) {
  Act([&] { s.SetItem("g", "a", "1"); });
  Act([&] { s.SetItem("g", "a", "2"); });
  s.PerformUndo();
  ASSERT_TRUE(s.RedoAvailable());
  Act([] {});  // even one that changes nothing
  EXPECT_FALSE(s.RedoAvailable());
  s.PerformRedo();  // on an empty stack: nothing
  EXPECT_EQ(s.GetItem("g", "a", "-"), "1");
}

TEST_F(UndoStore, DepthsCountBlocksAndDropTheOldest) {
  s.undoDepth = 3;
  s.redoDepth = 2;
  for (int i = 1; i <= 5; ++i) Act([&] { s.SetItem("g", "a", std::to_string(i)); });
  EXPECT_EQ(UndoAll(), 3);
  EXPECT_EQ(s.GetItem("g", "a", "-"), "2");
  EXPECT_EQ(s.undoStacks().redo.size(), 2u);
  EXPECT_EQ(RedoAll(), 2);
  EXPECT_EQ(s.GetItem("g", "a", "-"), "4");
}

TEST_F(UndoStore, DepthZeroTurnsASideOff) {
  s.undoDepth = 0;
  Act([&] { s.SetItem("g", "a", "1"); });
  EXPECT_FALSE(s.UndoAvailable());
  s.PerformUndo();
  EXPECT_EQ(s.GetItem("g", "a", "-"), "1");
  // A block added by hand is an undo step, but never receives records.
  s.AddUndoBlock();
  EXPECT_TRUE(s.UndoAvailable());
  Act([&] { s.SetItem("g", "a", "2"); });
  EXPECT_TRUE(s.undoStacks().undo.back().empty());
  s.PerformUndo();
  EXPECT_EQ(s.GetItem("g", "a", "-"), "2");
  EXPECT_FALSE(s.UndoAvailable());

  s.undoDepth = -7;  // any negative depth: no limit
  s.redoDepth = 0;
  Act([&] { s.SetItem("g", "a", "3"); });
  s.PerformUndo();
  EXPECT_EQ(s.GetItem("g", "a", "-"), "2");
  EXPECT_FALSE(s.RedoAvailable());
}

TEST_F(UndoStore, ClearTakesEitherStackOrBoth) {
  Act([&] { s.SetItem("g", "a", "1"); });
  Act([&] { s.SetItem("g", "a", "2"); });
  s.PerformUndo();
  s.ClearUndo(false, false);
  EXPECT_TRUE(s.UndoAvailable());
  EXPECT_TRUE(s.RedoAvailable());
  s.ClearUndo(false, true);
  EXPECT_TRUE(s.UndoAvailable());
  EXPECT_FALSE(s.RedoAvailable());
  s.ClearUndo(true, false);
  EXPECT_FALSE(s.UndoAvailable());
  // Records made with no block open have nowhere to go and are dropped.
  s.SetItem("g", "a", "3");
  EXPECT_FALSE(s.UndoAvailable());
}

TEST_F(UndoStore, ManualModeGathersActionsUntilANewBlockIsAdded) {
  s.SetAutomaticUndo(false);
  Act([&] { s.SetItem("g", "a", "1"); });
  Act([&] { s.SetItem("g", "b", "2"); });
  s.AddUndoBlock();
  Act([&] { s.SetItem("g", "c", "3"); });
  Act([&] { s.SetItem("g", "d", "4"); });
  EXPECT_EQ(s.undoStacks().undo.size(), 2u);

  s.PerformUndo();
  EXPECT_EQ(OrderOf(s), List({"[g]", "a=1", "b=2"}));
  // A redone block stays a block of its own: undoing again reverses only what was redone.
  s.PerformRedo();
  EXPECT_EQ(OrderOf(s), List({"[g]", "a=1", "b=2", "c=3", "d=4"}));
  s.PerformUndo();
  EXPECT_EQ(OrderOf(s), List({"[g]", "a=1", "b=2"}));
  s.PerformUndo();
  EXPECT_FALSE(s.GroupExists("g"));
}

TEST_F(UndoStore, SwitchingToAutomaticOpensABlockAtOnce) {
  s.SetAutomaticUndo(false);
  Act([&] { s.SetItem("g", "a", "1"); });
  s.SetAutomaticUndo(true);
  EXPECT_EQ(s.undoStacks().undo.size(), 2u);
  s.SetItem("g", "b", "2");  // lands in the block opened by the switch
  s.PerformUndo();
  EXPECT_EQ(OrderOf(s), List({"[g]", "a=1"}));
}

// ---------------------------------------------------------------- what replay gives back

TEST_F(UndoStore, DeletedGroupComesBackWholeWithItsOrder) {
  s.undoDepth = 0;
  s.SetItem("Keep", "k", "0");
  s.SetItem("Big", "z", "1");
  s.SetItem("Big", "a", "2");
  s.SetItem("Big", "m", "3");
  s.undoDepth = -1;
  Act([&] { s.DeleteGroup("Big"); });
  s.PerformUndo();
  EXPECT_EQ(OrderOf(s), List({"[Keep]", "k=0", "[Big]", "z=1", "a=2", "m=3"}));
  s.PerformRedo();
  EXPECT_EQ(OrderOf(s), List({"[Keep]", "k=0"}));
  s.PerformUndo();
  EXPECT_EQ(OrderOf(s), List({"[Keep]", "k=0", "[Big]", "z=1", "a=2", "m=3"}));
}

TEST_F(UndoStore, ClearAllIsUndoneWithNamesAsTheyWere) {
  s.undoDepth = 0;
  s.SetItem("Alpha", "One", "1");
  s.SetItem("beta", "Two", "2");
  s.MakeGroup("Empty");
  const Content before = ContentOf(s);
  s.undoDepth = -1;
  Act([&] { s.ClearAll(); });
  EXPECT_EQ(s.GroupCount(), 0);
  s.PerformUndo();
  EXPECT_EQ(ContentOf(s), before);
  EXPECT_EQ(s.FindGroup("alpha")->name, "Alpha");
  EXPECT_EQ(s.FindGroup("empty")->name, "Empty");
}

TEST_F(UndoStore, ReplacedGroupGetsItsItemsBack) {
  s.undoDepth = 0;
  s.SetItem("src", "x", "1");
  s.SetItem("dst", "b", "2");
  s.SetItem("dst", "a", "3");
  s.undoDepth = -1;
  Act([&] { s.CopyGroup("src", "dst", 0); });
  EXPECT_EQ(OrderOf(s), List({"[src]", "x=1", "[dst]", "x=1"}));
  s.PerformUndo();
  EXPECT_EQ(OrderOf(s), List({"[src]", "x=1", "[dst]", "b=2", "a=3"}));
  Act([&] { s.CopyGroup("src", "fresh", 0); });
  s.PerformUndo();
  EXPECT_FALSE(s.GroupExists("fresh"));
}

// Undo gives back content, not places: re-created items are appended to their group, and
// restored groups to the document. What was never removed keeps its relative order.
TEST_F(UndoStore, ReplayRestoresContentButAppendsWhatItRecreates) {
  s.undoDepth = 0;
  s.SetItem("g1", "a", "1");
  s.SetItem("g1", "b", "2");
  s.SetItem("g1", "c", "3");
  s.SetItem("g2", "x", "4");
  s.SetItem("g3", "y", "5");
  s.undoDepth = -1;
  Act([&] { s.DeleteItem("g1", "a"); });
  Act([&] { s.DeleteGroup("g2"); });
  Act([&] { s.SetItem("g1", "d", "6"); });
  UndoAll();
  EXPECT_EQ(OrderOf(s), List({"[g1]", "b=2", "c=3", "a=1", "[g3]", "y=5", "[g2]", "x=4"}));

  // Undoing only additions leaves every remaining place untouched.
  Act([&] { s.SetItem("g3", "z", "7"); s.SetItem("g0", "n", "8"); });
  Act([&] { s.SetItem("g1", "e", "9"); });
  UndoAll();
  EXPECT_EQ(OrderOf(s), List({"[g1]", "b=2", "c=3", "a=1", "[g3]", "y=5", "[g2]", "x=4"}));
}

TEST_F(UndoStore, TextsWithHighBytesPassThroughUnchanged) {
  const std::string group = "gr\xC3\xBC\xFF", item = "\x80it\xE9", value = "v\xFE\x01\x7F\xA0";
  Act([&] { s.SetItem(group, item, value); });
  Act([&] { s.SetItem(group, item, "plain"); });
  Act([&] { s.DeleteGroup(group); });
  s.PerformUndo();
  s.PerformUndo();
  EXPECT_EQ(s.GetItem(group, item, "-"), value);
  EXPECT_EQ(s.FindGroup(group)->name, group);
  EXPECT_EQ(s.FindGroup(group)->At(0).name(), item);
  s.PerformRedo();
  s.PerformRedo();
  EXPECT_FALSE(s.GroupExists(group));
}

// ---------------------------------------------------------------- notifications and re-entry

struct Listener {
  Store* store = nullptr;
  std::vector<int> flags;
  std::function<void(int)> onNotify;
};

void Notify(void* listener, int flags) {
  auto* l = static_cast<Listener*>(listener);
  l->flags.push_back(flags);
  if (l->onNotify) l->onNotify(flags);
}

TEST_F(UndoStore, ReplayNotifiesChangesOnceAndNewItemsEachTime) {
  Listener l;
  s.listeners.push_back(&l);
  s.notify = &Notify;
  Act([&] { s.SetItem("g", "a", "1"); s.SetItem("g", "b", "2"); s.SetItem("g", "c", "3"); });
  Act([&] {
    s.quiet = true;
    s.DeleteItem("g", "a");
    s.DeleteItem("g", "b");
    s.quiet = false;
  });
  l.flags.clear();
  s.PerformUndo();  // re-creates a and b
  EXPECT_EQ(l.flags, (std::vector<int>{kNotifyNewItem, kNotifyNewItem, kNotifyModified}));
  l.flags.clear();
  s.PerformUndo();  // deletes three items
  EXPECT_EQ(l.flags, (std::vector<int>{kNotifyModified}));
  l.flags.clear();
  s.PerformRedo();
  EXPECT_EQ(l.flags, (std::vector<int>{kNotifyNewItem, kNotifyNewItem, kNotifyNewItem,
                                       kNotifyModified}));
  EXPECT_FALSE(s.quiet);
  EXPECT_FALSE(s.undoing);
  EXPECT_FALSE(s.keepRedo);
}

TEST_F(UndoStore, ChangeHandlersSeeTheStacksAsTheyAreAfterTheStep) {
  Listener l;
  s.listeners.push_back(&l);
  s.notify = &Notify;
  std::vector<std::pair<bool, bool>> seen;
  l.onNotify = [&](int flags) {
    if (flags == kNotifyModified) seen.emplace_back(s.UndoAvailable(), s.RedoAvailable());
  };
  Act([&] { s.SetItem("g", "a", "1"); });
  seen.clear();
  s.PerformUndo();
  s.PerformRedo();
  EXPECT_EQ(seen, (std::vector<std::pair<bool, bool>>{{false, true}, {true, false}}));
}

// Handlers of "On New Item" run in the middle of a replay and may call the undo actions.
TEST_F(UndoStore, UndoActionsCalledDuringAReplayAreSafe) {
  Listener l;
  s.listeners.push_back(&l);
  s.notify = &Notify;
  for (int i = 0; i < 4; ++i) Act([&] { s.SetItem("g", "i" + std::to_string(i), "v"); });
  Act([&] { s.DeleteGroup("g"); });
  Act([&] { s.SetItem("h", "x", "1"); s.DeleteItem("h", "x"); });

  int calls = 0;
  l.onNotify = [&](int flags) {
    if (flags != kNotifyNewItem) return;
    ++calls;
    s.PerformUndo();
    s.PerformRedo();
    s.AddUndoBlock();
    s.SetAutomaticUndo(true);
    s.ClearUndo(true, false);
  };
  s.PerformUndo();  // re-creates x: the handler clears the undo stack mid-replay
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(s.HasItem("h", "x"));
  EXPECT_FALSE(s.GroupExists("h"));
  EXPECT_FALSE(s.UndoAvailable());
  EXPECT_FALSE(s.GroupExists("g"));
  l.onNotify = nullptr;
  // The redo block of that replay is whole: redo gives back the empty group the action left.
  s.PerformRedo();
  EXPECT_TRUE(s.GroupExists("h"));
  EXPECT_FALSE(s.HasItem("h", "x"));
  EXPECT_FALSE(s.undoStacks().replaying);
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
const char* const kGroups[] = {"g0", "g1", "G1", "g2", "Grp \xC3\xA9", "grp \xC3\xA9", "",
                               "g3", "g4"};
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
    case 2: s.SetItem(g1, i1, r.Pick(kValues)); break;
    case 3: s.DeleteItem(g1, i1); break;
    case 4: s.DeleteGroup(g1); break;
    case 5: s.RenameGroup(g1, g2, static_cast<int32_t>(r.Below(3))); break;
    case 6: s.RenameItem(g1, i1, i2, r.Below(2) != 0); break;
    case 7: s.MoveItem(g1, i1, g2, i2, r.Below(2) != 0); break;
    case 8: s.CopyGroup(g1, g2, 0); break;
    case 9: s.CopyGroup(g1, g2, static_cast<int32_t>(1 + r.Below(3))); break;
    case 10: s.CopyItem(g1, i1, g2, i2); break;
    case 11: s.DeleteItemEverywhere(i1); break;
    case 12:
      if (r.Below(20) == 0) s.ClearAll();
      break;
    case 13: s.MakeGroup(g1); break;
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
    s.autoSave = false;
    s.SetCaseSensitive(mode.caseSensitive);
    s.allowEmptyGroups = mode.allowEmptyGroups;
    auto content = [&] {
      return mode.allowEmptyGroups ? ContentOf(s) : WithoutEmptyGroups(ContentOf(s));
    };
    Rng r(seed);
    for (int i = 0; i < 40; ++i) RandomOperation(s, r);  // the starting document, unrecorded
    const Content start = content();

    s.undoDepth = -1;
    s.redoDepth = -1;
    s.SetAutomaticUndo(!mode.manual);
    for (int i = 0; i < 150; ++i) {
      s.BeginUndoBlock();
      RandomOperation(s, r);
      if (mode.manual && r.Below(10) == 0) s.AddUndoBlock();
    }
    const Content end = content();

    while (s.UndoAvailable()) s.PerformUndo();
    ASSERT_EQ(content(), start);
    while (s.RedoAvailable()) s.PerformRedo();
    ASSERT_EQ(content(), end);
    // Again, through the blocks the redo made.
    while (s.UndoAvailable()) s.PerformUndo();
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
  s.autoSave = false;
  s.SetCaseSensitive(GetParam());
  s.undoDepth = -1;
  s.redoDepth = -1;
  auto content = [&] { return ContentOf(s); };
  Rng r(99);
  // states[k]: the content after the k-th block. An action that records nothing changes
  // nothing and leaves its empty block on top for the next action to fill.
  std::vector<Content> states{content()};
  const auto& undo = s.undoStacks().undo;
  for (int i = 0; i < 3000 || undo.back().empty(); ++i) {
    s.BeginUndoBlock();
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
    for (size_t k = 0; k < steps; ++k) s.PerformUndo();
    at -= steps;
    ASSERT_EQ(content(), states[at]) << "after undoing to " << at;
    const size_t back = r.Below(std::min<size_t>(steps, 10) + 1);
    for (size_t k = 0; k < back; ++k) s.PerformRedo();
    at += back;
    ASSERT_EQ(content(), states[at]) << "after redoing to " << at;
    for (size_t k = 0; k < back; ++k) s.PerformUndo();
    at -= back;
  }
  EXPECT_FALSE(s.UndoAvailable());
}

INSTANTIATE_TEST_SUITE_P(Cases, UndoStepByStep, ::testing::Bool());

}  // namespace
}  // namespace vellix
