// The routines of the text format: loading text, writing the store or the current group as
// text, and the escape expressions.
#include "format/text.h"
#include "host/routine.h"
#include "host/routines.h"
#include "store/store.h"

namespace vellix {

// Action 48: mode 0 replaces the document and tells listeners once; any other mode merges
// the text into it silently.
void LoadTextIntoIni(RunObject& ro, Params& p) {
  const std::string text = p.Text();
  const bool replace = p.Int() == 0;
  ParseText(*ro.store, text, {.clearFirst = replace, .notifyAfter = replace});
}

// Expression 25.
Value WriteStream(RunObject& ro, Params&) { return Value::Str(WriteText(*ro.store)); }

// Expression 28: always encodes, whatever the object's escape switches say.
Value EscapeExpression(RunObject& ro, Params& p) {
  const std::string text = p.Text();
  return Value::Str(EscapeText(text, true, false, false, ro.store->NewLineText()));
}

// Expression 29: always decodes.
Value UnescapeExpression(RunObject& ro, Params& p) {
  const std::string text = p.Text();
  const Store& store = *ro.store;
  return Value::Str(UnescapeText(text, 1, store.settings().escapeValues, store.NewLineText()));
}

// Expression 39: the current group alone, written with the object's format settings. It is
// copied into a scratch store that is tied to no file, so nothing is ever saved from here.
Value CurrentGroupString(RunObject& ro, Params&) {
  const Store& store = *ro.store;
  std::unique_ptr<Store> temp = MakeTemporaryStore(store);
  if (const Group* g = store.FindGroup(ro.currentGroup)) {
    g->ForEachItem([&](const Item& it) { temp->SetItem(ro.currentGroup, it.name(), it.value()); });
  }
  return Value::Str(WriteText(*temp));
}

}  // namespace vellix
