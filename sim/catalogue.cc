#include "catalogue.h"

#include <array>

namespace vxsim {
namespace {

// Only the parameters a routine actually reads are listed: action 4 reads three of its
// four titles, action 61 reads none, and the trigger conditions take none.
constexpr std::array<const char*, 20> kConditions = {
    "",                                              // 0 current group exists
    "T",                                             // 1 current group has item
    "TTT",                                           // 2 hashed compare in current group
    "T",                                             // 3 group exists
    "TT",                                            // 4 group has item
    "TTTT",                                          // 5 hashed compare
    "TTI",                                           // 6 wildcard match
    "",     "", "", "", "", "", "", "", "", "", "",  // 7-17 triggers
    "",                                              // 18 undo available
    "",                                              // 19 redo available
};

constexpr std::array<const char*, 84> kActions = {
    "TI",     // 0 set current group
    "TIN",    // 1 set item to value (integer or float by type)
    "TT",     // 2 set item to string
    "TT",     // 3 set item hashed
    "OII",    // 4 save object (the fourth title is not read)
    "O",      // 5 load object
    "TP",     // 6 save position to item
    "",       // 7 save global values
    "",       // 8 load global values
    "",       // 9 delete current group
    "T",      // 10 delete item in current group
    "TI",     // 11 rename current group
    "TTI",    // 12 rename item
    "TTI",    // 13 move item to group
    "TTIN",   // 14 set item in group to value
    "TTT",    // 15 set item in group to string
    "TTT",    // 16 set item in group hashed
    "OTII",   // 17 save object into group
    "OT",     // 18 load object from group
    "TTP",    // 19 save position into group
    "T",      // 20 save global values to group
    "T",      // 21 load global values from group
    "TTI",    // 22 rename group
    "TTTI",   // 23 move item within group
    "TTTTI",  // 24 move item between groups
    "TTTI",   // 25 move item from group to group
    "TTI",    // 26 copy group
    "TTTT",   // 27 copy item
    "T",      // 28 delete group
    "TT",     // 29 delete item in group
    "T",      // 30 delete item from all groups
    "TTTI",   // 31 delete by pattern
    "",       // 32 clear all
    "TTTC",   // 33 find items matching
    "TT",     // 34 find repeats
    "",       // 35 clear results
    "TTTTI",  // 36 search into file
    "OTTTI",  // 37 search into object
    "TI",     // 38 merge from file
    "TTTI",   // 39 merge group from file
    "OI",     // 40 merge from object
    "OTTI",   // 41 merge group from object
    "TI",     // 42 new ini
    "TI",     // 43 load ini
    "",       // 44 save ini
    "T",      // 45 save ini as
    "TIT",    // 46 backup ini
    "",       // 47 close ini
    "TI",     // 48 load text into ini
    "II",     // 49 set autosave
    "I",      // 50 set compression
    "T",      // 51 set encryption
    "I",      // 52 set read only
    "I",      // 53 set case sensitive
    "III",    // 54 escape characters
    "I",      // 55 quote strings
    "III",    // 56 repeat modes
    "T",      // 57 new line string
    "T",      // 58 default directory
    "TT",     // 59 compress file
    "TT",     // 60 decompress file
    "",       // 61 open dialog (reads none)
    "TTTI",   // 62 add repeated
    "",       // 63 close dialog
    "I",      // 64 refresh dialog
    "ITTT",   // 65 CSV import/export
    "ITT",    // 66 CSV array import/export
    "OTTT",   // 67 put data into chart (the last two are read and unused)
    "TI",     // 68 find subgroups
    "II",     // 69 subgroups and empty groups
    "T",      // 70 global data slot
    "CT",     // 71 group operation
    "TTIT",   // 72 set item part
    "OT",     // 73 load from array
    "OT",     // 74 put into array
    "OT",     // 75 get data from chart
    "OT",     // 76 get chart properties
    "OT",     // 77 put chart properties
    "TC",     // 78 load with options
    "",       // 79 undo
    "",       // 80 redo
    "I",      // 81 clear undo/redo stacks
    "",       // 82 new undo block
    "I",      // 83 automatic mode
};

constexpr std::array<const char*, 41> kExpressions = {
    "TF",    // 0 GetItemValueG(
    "TT",    // 1 GetItemStringG$(
    "T",     // 2 PosXG(
    "T",     // 3 PosYG(
    "I",     // 4 NthItemG$(
    "I",     // 5 NthItemValueG(
    "I",     // 6 NthItemStringG$(
    "",      // 7 ItemCountG(
    "TTF",   // 8 GetItemValue(
    "TTT",   // 9 GetItemString$(
    "TT",    // 10 PosX(
    "TT",    // 11 PosY(
    "I",     // 12 NthGroup$(
    "TI",    // 13 NthItemName$(
    "TI",    // 14 NthItemString$(
    "TI",    // 15 NthItemValue(
    "",      // 16 GroupCount(
    "T",     // 17 ItemCount(
    "",      // 18 TotalItems(
    "",      // 19 SearchResultsCount(
    "I",     // 20 SearchGroup$(
    "I",     // 21 SearchItemName$(
    "I",     // 22 SearchItemValue(
    "I",     // 23 SearchItemString$(
    "IT",    // 24 SearchItemPath$(
    "",      // 25 WriteStream$(
    "T",     // 26 Hash$(
    "TT",    // 27 Crypt$(
    "T",     // 28 Escape$(
    "T",     // 29 Unescape$(
    "TT",    // 30 Calc(
    "TT",    // 31 CalcStr$(
    "TI",    // 32 NthSortedName$(
    "TI",    // 33 NthSortedItem(
    "TT",    // 34 GetCSV$(
    "I",     // 35 NthOverallItem$(
    "",      // 36 UniqueItemCount(
    "TTIT",  // 37 GetItemPart$(
    "",      // 38 CurrentGroupName$(
    "",      // 39 CurrentGroupString$(
    "",      // 40 Filename$(
};

}  // namespace

int CatalogueSize(RoutineKind kind) {
  switch (kind) {
    case RoutineKind::Condition:
      return static_cast<int>(kConditions.size());
    case RoutineKind::Action:
      return static_cast<int>(kActions.size());
    case RoutineKind::Expression:
      return static_cast<int>(kExpressions.size());
  }
  return 0;
}

const char* Signature(RoutineKind kind, int index) {
  if (index < 0 || index >= CatalogueSize(kind)) return nullptr;
  switch (kind) {
    case RoutineKind::Condition:
      return kConditions[static_cast<size_t>(index)];
    case RoutineKind::Action:
      return kActions[static_cast<size_t>(index)];
    case RoutineKind::Expression:
      return kExpressions[static_cast<size_t>(index)];
  }
  return nullptr;
}

std::string_view RoutineKindName(RoutineKind kind) {
  switch (kind) {
    case RoutineKind::Condition:
      return "condition";
    case RoutineKind::Action:
      return "action";
    case RoutineKind::Expression:
      return "expression";
  }
  return "routine";
}

std::string_view ParamKindName(ParamKind kind) {
  switch (kind) {
    case ParamKind::Text:
      return "text";
    case ParamKind::Integer:
      return "integer";
    case ParamKind::Float:
      return "float";
    case ParamKind::Number:
      return "number";
    case ParamKind::Object:
      return "object";
    case ParamKind::Position:
      return "position";
    case ParamKind::Custom:
      return "custom block";
  }
  return "parameter";
}

}  // namespace vxsim
