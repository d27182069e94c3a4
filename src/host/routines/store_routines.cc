// Group and item actions, queries and conditions over the object's store.
#include <chrono>
#include <optional>

#include "host/routines.h"
#include "io/system.h"
#include "store/number_text.h"
#include "store/sorting.h"
#include "store/store.h"

namespace vellix {

namespace {

// The value parameter of the numeric set actions, by the type parameter read before it.
std::string NumberParameter(Params& p) {
  if (p.Int() == 0) return IntegerText(p.Int());
  return FloatText(p.Float());
}

Value NumberOrDefault(std::optional<std::string_view> text, float def) {
  return text ? Value::FromNumber(ReadNumber(*text)) : Value::Real(def);
}

}  // namespace

// ------------------------------------------------------------------ conditions

bool CurrentGroupExists(RunObject& ro, Params&) { return ro.store->GroupExists(ro.currentGroup); }

bool CurrentGroupHasItem(RunObject& ro, Params& p) {
  return ro.store->HasItem(ro.currentGroup, p.Text());
}

bool GroupExistsCondition(RunObject& ro, Params& p) { return ro.store->GroupExists(p.Text()); }

bool GroupHasItem(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  return ro.store->HasItem(group, p.Text());
}

// ------------------------------------------------------------------ actions

void SetCurrentGroup(RunObject& ro, Params& p) {
  const std::string name = p.Text();
  const bool ensureNew = p.Int() != 0;
  if (!ensureNew || !ro.store->GroupExists(name)) {
    ro.currentGroup = name;
    return;
  }
  for (int64_t n = 1;; ++n) {
    std::string candidate = name + "." + IntegerText(n);
    if (!ro.store->GroupExists(candidate)) {
      ro.currentGroup = std::move(candidate);
      return;
    }
  }
}

void SetItemNumberCurrent(RunObject& ro, Params& p) {
  const std::string item = p.Text();
  const std::string value = NumberParameter(p);
  ro.store->SetItem(ro.currentGroup, item, value);
}

void SetItemStringCurrent(RunObject& ro, Params& p) {
  const std::string item = p.Text();
  const std::string value = p.Text();
  ro.store->SetItem(ro.currentGroup, item, value);
}

void DeleteCurrentGroup(RunObject& ro, Params&) { ro.store->DeleteGroup(ro.currentGroup); }

void DeleteItemCurrent(RunObject& ro, Params& p) {
  ro.store->DeleteItem(ro.currentGroup, p.Text());
}

void RenameCurrentGroup(RunObject& ro, Params& p) {
  const std::string name = p.Text();
  const auto mode = static_cast<RenameMode>(p.Int());
  // Copied: a handler run during the rename may not change which group is renamed.
  const std::string current = ro.currentGroup;
  if (ro.store->RenameGroup(current, name, mode)) ro.currentGroup = name;
}

void RenameItemCurrent(RunObject& ro, Params& p) {
  const std::string oldName = p.Text();
  const std::string newName = p.Text();
  const bool allow = p.Int() != 0;
  ro.store->RenameItem(ro.currentGroup, oldName, newName, allow);
}

void MoveItemCurrent(RunObject& ro, Params& p) {
  const std::string item = p.Text();
  const std::string target = p.Text();
  const bool allow = p.Int() != 0;
  const std::string current = ro.currentGroup;
  ro.store->MoveItem(current, item, target, item, allow);
}

void SetItemNumber(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const std::string item = p.Text();
  const std::string value = NumberParameter(p);
  ro.store->SetItem(group, item, value);
}

void SetItemString(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const std::string item = p.Text();
  const std::string value = p.Text();
  ro.store->SetItem(group, item, value);
}

void RenameGroupAction(RunObject& ro, Params& p) {
  const std::string oldName = p.Text();
  const std::string newName = p.Text();
  const auto mode = static_cast<RenameMode>(p.Int());
  ro.store->RenameGroup(oldName, newName, mode);
}

void RenameItemInGroup(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const std::string oldName = p.Text();
  const std::string newName = p.Text();
  const bool allow = p.Int() != 0;
  ro.store->RenameItem(group, oldName, newName, allow);
}

void MoveItemAction(RunObject& ro, Params& p) {
  const std::string sourceGroup = p.Text();
  const std::string sourceItem = p.Text();
  const std::string targetGroup = p.Text();
  const std::string targetItem = p.Text();
  const bool allow = p.Int() != 0;
  ro.store->MoveItem(sourceGroup, sourceItem, targetGroup, targetItem, allow);
}

void MoveItemToGroup(RunObject& ro, Params& p) {
  const std::string sourceGroup = p.Text();
  const std::string item = p.Text();
  const std::string targetGroup = p.Text();
  const bool allow = p.Int() != 0;
  ro.store->MoveItem(sourceGroup, item, targetGroup, item, allow);
}

void CopyGroupAction(RunObject& ro, Params& p) {
  const std::string source = p.Text();
  const std::string target = p.Text();
  const auto mode = static_cast<CopyMode>(p.Int());
  ro.store->CopyGroup(source, target, mode);
}

void CopyItemAction(RunObject& ro, Params& p) {
  const std::string sourceGroup = p.Text();
  const std::string sourceItem = p.Text();
  const std::string targetGroup = p.Text();
  const std::string targetItem = p.Text();
  ro.store->CopyItem(sourceGroup, sourceItem, targetGroup, targetItem);
}

void DeleteGroupAction(RunObject& ro, Params& p) { ro.store->DeleteGroup(p.Text()); }

void DeleteItemAction(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  ro.store->DeleteItem(group, p.Text());
}

void DeleteItemEverywhereAction(RunObject& ro, Params& p) {
  ro.store->DeleteItemEverywhere(p.Text());
}

void ClearAllAction(RunObject& ro, Params&) { ro.store->ClearAll(); }

void GroupOperation(RunObject& ro, Params& p) {
  const uint8_t* block = p.Block();
  const std::string group = p.Text();
  // Operation code and sort option are signed bytes; without a block there is no code,
  // and nothing is done to the group.
  const auto code = static_cast<GroupOperationCode>(
      block != nullptr ? static_cast<int>(static_cast<int8_t>(block[0])) : kGroupOperationNone);
  const int option = block != nullptr ? static_cast<int8_t>(block[1]) : 0;
  // The shuffle is seeded from the millisecond tick count.
  ApplyGroupOperation(*ro.store, code, option, group, TickCount());
}

// ------------------------------------------------------------------ expressions

Value GetItemValueCurrent(RunObject& ro, Params& p) {
  const std::string item = p.Text();
  const float def = p.Float();
  return NumberOrDefault(ro.store->FindValue(ro.currentGroup, item), def);
}

Value GetItemStringCurrent(RunObject& ro, Params& p) {
  const std::string item = p.Text();
  const std::string def = p.Text();
  return Value::Str(ro.store->GetItem(ro.currentGroup, item, def));
}

Value NthItemNameCurrent(RunObject& ro, Params& p) {
  return Value::Str(ro.store->NthItemName(ro.currentGroup, ro.StoreIndex(p.Int()), ""));
}

Value NthItemValueCurrent(RunObject& ro, Params& p) {
  return Value::FromNumber(
      ReadNumber(ro.store->NthItemValue(ro.currentGroup, ro.StoreIndex(p.Int()), "")));
}

Value NthItemStringCurrent(RunObject& ro, Params& p) {
  return Value::Str(ro.store->NthItemValue(ro.currentGroup, ro.StoreIndex(p.Int()), ""));
}

Value ItemCountCurrent(RunObject& ro, Params&) {
  return Value::Int(ro.store->ItemCount(ro.currentGroup));
}

Value GetItemValue(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const std::string item = p.Text();
  const float def = p.Float();
  return NumberOrDefault(ro.store->FindValue(group, item), def);
}

Value GetItemString(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const std::string item = p.Text();
  const std::string def = p.Text();
  return Value::Str(ro.store->GetItem(group, item, def));
}

Value NthGroup(RunObject& ro, Params& p) {
  return Value::Str(ro.store->NthGroupName(ro.StoreIndex(p.Int()), ""));
}

Value NthItemName(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  return Value::Str(ro.store->NthItemName(group, ro.StoreIndex(p.Int()), ""));
}

Value NthItemString(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  return Value::Str(ro.store->NthItemValue(group, ro.StoreIndex(p.Int()), ""));
}

Value NthItemValueExpression(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  return Value::FromNumber(ReadNumber(ro.store->NthItemValue(group, ro.StoreIndex(p.Int()), "")));
}

Value GroupCountExpression(RunObject& ro, Params&) { return Value::Int(ro.store->GroupCount()); }

Value ItemCountExpression(RunObject& ro, Params& p) {
  return Value::Int(ro.store->ItemCount(p.Text()));
}

Value TotalItemsExpression(RunObject& ro, Params&) { return Value::Int(ro.store->TotalItems()); }

Value NthSortedName(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const Item* it = NthSortedEntry(*ro.store, group, ro.StoreIndex(p.Int()));
  return Value::Str(it != nullptr ? std::string(it->name()) : std::string());
}

Value NthSortedItem(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const Item* it = NthSortedEntry(*ro.store, group, ro.StoreIndex(p.Int()));
  return Value::Real(it != nullptr ? ReadFloat(it->value()) : 0.0f);
}

Value NthOverallItem(RunObject& ro, Params& p) {
  return Value::Str(NthDistinctItemName(*ro.store, ro.StoreIndex(p.Int())));
}

Value UniqueItemCount(RunObject& ro, Params&) {
  return Value::Int(CountDistinctItemNames(*ro.store));
}

Value CurrentGroupName(RunObject& ro, Params&) { return Value::Str(ro.currentGroup); }

}  // namespace vellix
