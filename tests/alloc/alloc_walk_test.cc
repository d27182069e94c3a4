// The allocation-failure walk: every store change is all-or-nothing when memory runs out.
//
// This program replaces the global operator new with one that can be told to fail the Nth
// allocation from now on. Each operation of the table runs once for every N, from the first
// allocation on, until it runs through without a failure. After each failed run the store
// must be whole (its indexes and orders agree), hold exactly the document it held before,
// give that document back through a save and a load, and take further changes.
//
// It is a program of its own because the replaced operator new is process-wide. It links the
// host layer too, for the creation of an object.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "exchange/csv.h"
#include "files/files.h"
#include "files/merge.h"
#include "format/text.h"
#include "host/lifecycle.h"
#include "host/run_object.h"
#include "host/tables.h"
#include "io/blocks.h"
#include "store/sorting.h"
#include "store/store.h"
#include "undo/undo.h"

namespace {
// Allocations left before one fails; negative: none fails.
long gFailAfter = -1;
}  // namespace

void* operator new(std::size_t size) {
  if (gFailAfter >= 0 && gFailAfter-- == 0) throw std::bad_alloc();
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return operator new(size, std::nothrow);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace vellix {
namespace {

// A document of `groups` groups of `items` items each, named so that some fold together
// under the case rule and some values are long enough to need a node of their own.
std::string Text(int groups, int items) {
  std::string text;
  for (int g = 0; g < groups; ++g) {
    text += "[Group" + std::to_string(g) + "]\n";
    for (int i = 0; i < items; ++i) {
      text += "item" + std::to_string(i) + "=value " + std::to_string(g * 100 + (items - i)) + "\n";
    }
  }
  return text;
}

// A store as a run object leaves it, with undo and redo recording, holding `text`.
void Fill(Store& s, const std::string& text) {
  UndoStacks& undo = UndoOf(s);
  undo.undoDepth = -1;
  undo.redoDepth = -1;
  ParseText(s, text, {});
  BeginUndoBlock(s);
}

std::string SavedThenLoaded(const Store& s) {
  std::string bytes;
  if (!EncodeDocument(s, true, true, "key", bytes)) return "(not saved)";
  std::unique_ptr<Store> back = MakeTemporaryStore(s);
  if (!LoadBytes(*back, bytes, true, true, "key")) return "(not loaded)";
  return WriteText(*back);
}

std::string WalkFile() { return "/tmp/vellix-alloc-walk-" + std::to_string(::getpid()) + ".ini"; }

// The walk's file, holding exactly these bytes (binary: no line ends are changed).
void WriteWalkFile(const std::string& bytes) {
  FILE* f = std::fopen(WalkFile().c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

struct WalkCase {
  const char* name;
  std::function<void(Store&)> setUp;  // runs with no failure armed
  std::function<void(Store&)> change;
};

std::vector<WalkCase> Cases() {
  const std::string six = Text(6, 6);  // the seventh item or group grows an index
  auto fill = [six](Store& s) { Fill(s, six); };
  return {
      {"set item into a growing group", fill,
       [](Store& s) { s.SetItem("Group1", "new", "a value"); }},
      {"set item into a new group", fill, [](Store& s) { s.SetItem("Group9", "new", "v"); }},
      {"set item over a value", fill,
       [](Store& s) { s.SetItem("group1", "ITEM2", "a value longer than the old one"); }},
      {"make a group", fill, [](Store& s) { s.MakeGroup("Group9"); }},
      {"rename group, replace", fill,
       [](Store& s) { s.RenameGroup("Group1", "Group2", kRenameReplace); }},
      {"rename group, merge", fill,
       [](Store& s) { s.RenameGroup("Group1", "Group2", kRenameMerge); }},
      {"rename group, new name", fill,
       [](Store& s) { s.RenameGroup("Group1", "Other", kRenameRefuse); }},
      {"rename item", fill, [](Store& s) { s.RenameItem("Group1", "item1", "item9", true); }},
      {"move item", fill, [](Store& s) { s.MoveItem("Group1", "item1", "Group7", "x", true); }},
      {"copy group", fill, [](Store& s) { s.CopyGroup("Group1", "Group2", kCopyMerge); }},
      {"delete last item", [](Store& s) { Fill(s, "[a]\nx=1\n[b]\ny=2\n"); },
       [](Store& s) { s.DeleteItem("a", "x"); }},
      {"delete item everywhere", fill, [](Store& s) { s.DeleteItemEverywhere("item3"); }},
      {"clear all", fill, [](Store& s) { s.ClearAll(); }},
      {"parse a text", fill,
       [](Store& s) { ParseText(s, Text(3, 9) + "[new]\na=1\n", {.notifyAfter = true}); }},
      {"parse a text, clear first", fill,
       [](Store& s) { ParseText(s, Text(3, 9), {.clearFirst = true, .notifyAfter = true}); }},
      {"load a file",
       [fill](Store& s) {
         fill(s);
         WriteWalkFile(Text(2, 8));
       },
       [](Store& s) { LoadFile(s, WalkFile(), false, false, ""); }},
      // Read as the bytes it holds, and noted as not read cleanly.
      {"load a plain file that was said to be compressed",
       [fill](Store& s) {
         fill(s);
         WriteWalkFile(Text(2, 8));
       },
       [](Store& s) { LoadFile(s, WalkFile(), true, false, ""); }},
      {"load a compressed, enciphered file",
       [fill](Store& s) {
         fill(s);
         std::string bytes = Text(2, 8);
         CipherBlock(bytes, "key");
         WriteWalkFile(CompressBlock(bytes));
       },
       [](Store& s) { LoadFile(s, WalkFile(), true, true, "key"); }},
      {"undo",
       [six](Store& s) {
         Fill(s, six);
         s.DeleteGroup("Group2");
         BeginUndoBlock(s);
         s.SetItem("Group3", "item1", "changed");
         s.SetItem("Group3", "fresh", "1");
         s.RenameGroup("Group4", "Renamed", kRenameRefuse);
       },
       [](Store& s) { PerformUndo(s); }},
      {"redo",
       [six](Store& s) {
         Fill(s, six);
         s.DeleteGroup("Group2");
         s.SetItem("Group3", "item1", "changed");
         s.RenameGroup("Group4", "Renamed", kRenameRefuse);
         PerformUndo(s);
       },
       [](Store& s) { PerformRedo(s); }},
      {"merge", fill,
       [](Store& s) {
         Store source;
         ParseText(source, Text(8, 3), {});
         MergeStore(s, &source, true);
       }},
      {"merge a group", fill,
       [](Store& s) {
         Store source;
         ParseText(source, Text(2, 9), {});
         MergeGroup(s, &source, "Group1", "Group5", false);
       }},
      {"import CSV pairs", fill,
       [](Store& s) { ImportCsvText(s, "Group1,a,1,b,2\r\nNew,c,3\r\n", "", ","); }},
      {"import a CSV table", fill,
       [](Store& s) { ImportCsvTableText(s, "g,item0,x\r\nGroup2,5,6\r\nNew,7,8\r\n", ","); }},
      {"sort a group by value", fill,
       [](Store& s) { ApplyGroupOperation(s, kSortByValue, 0, "Group1", 0); }},
      {"swap names and values", fill,
       [](Store& s) { ApplyGroupOperation(s, kSwapNamesAndValues, 0, "Group1", 0); }},
      {"renumber a group", fill,
       [](Store& s) { ApplyGroupOperation(s, kRenumberItems, 0, "Group1", 0); }},
      {"shuffle a group", fill, [](Store& s) { ApplyGroupOperation(s, kShuffle, 0, "Group1", 7); }},
      {"restore a group", fill,
       [](Store& s) {
         GroupSnapshot snapshot;
         snapshot.items = {{"a", "1"}, {"B", "2"}, {"b", "3"}};
         s.RestoreGroup("Group1", snapshot);
       }},
  };
}

TEST(AllocationWalk, EveryFailureLeavesTheStoreAsItWas) {
  const auto start = std::chrono::steady_clock::now();
  size_t failurePoints = 0;
  const std::vector<WalkCase> cases = Cases();
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (long n = 0;; ++n) {
      Store s;
      c.setUp(s);
      const std::string before = WriteText(s);
      bool failed = false;
      gFailAfter = n;
      try {
        c.change(s);
      } catch (const std::bad_alloc&) {
        failed = true;
      }
      gFailAfter = -1;
      ASSERT_TRUE(s.Consistent()) << "allocation " << n;
      if (!failed) {
        ASSERT_GT(n, 0) << "the change allocates nothing";
        break;
      }
      ++failurePoints;
      ASSERT_EQ(WriteText(s), before) << "allocation " << n;
      ASSERT_EQ(SavedThenLoaded(s), before) << "allocation " << n;
      // The store takes further changes: an item into every group, and a group more.
      std::vector<std::string> groups;
      s.ForEachGroup([&](const Group& g) { groups.push_back(g.name()); });
      for (const std::string& g : groups) s.SetItem(g, "after", "1");
      s.SetItem("after", "after", "1");
      ASSERT_TRUE(s.Consistent()) << "allocation " << n;
      ASSERT_EQ(s.ItemCount("after"), 1);
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::remove(WalkFile().c_str());
  std::printf("allocation walk: %zu operations, %zu failure points, %.2f s\n", cases.size(),
              failurePoints, seconds);
}

// An object's creation: failing at any allocation leaves an object without a store that
// does nothing when its routines run, and is destroyed cleanly.
TEST(AllocationWalk, AnObjectThatCannotBeMadeDoesNothing) {
  VxEditData ed{};
  const std::string initial = "[settings]\nvolume=3\n[scores]\nfirst=10\n";
  std::memcpy(ed.initialData, initial.data(), initial.size());
  ed.undoDepth = -1;
  ed.redoDepth = -1;
  ed.allowEmptyGroups = 1;
  long points = 0;
  for (long n = 0;; ++n) {
    alignas(std::max_align_t) unsigned char block[VX_RUN_OBJECT_SIZE] = {};
    auto* header = reinterpret_cast<VxObjectHeader*>(block);
    bool failed = false;
    gFailAfter = n;
    try {
      CreateRunObject(header, reinterpret_cast<const uint8_t*>(&ed));
    } catch (const std::bad_alloc&) {
      failed = true;
    }
    gFailAfter = -1;
    RunObject& ro = RunObjectOf(header);
    if (!failed) {
      ASSERT_NE(ro.store, nullptr);
      EXPECT_EQ(ro.store->GetItem("scores", "first", ""), "10");
      DestroyRunObject(header);
      break;
    }
    ++points;
    ASSERT_EQ(ro.store, nullptr) << "allocation " << n;
    // Every routine of it answers nothing, touching no store.
    for (VxRoutine routine : kActions) routine(header, 0, 0);
    for (VxRoutine routine : kConditions) EXPECT_EQ(routine(header, 0, 0), 0u);
    for (VxRoutine routine : kExpressions) EXPECT_EQ(routine(header, 0, 0), 0u);
    DestroyRunObject(header);
  }
  std::printf("object creation: %ld failure points\n", points);
}

}  // namespace
}  // namespace vellix
