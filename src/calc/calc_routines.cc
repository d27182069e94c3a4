#include "host/routines.h"
#include "calc/calc.h"
#include "calc/md5.h"
#include "store/store.h"

namespace vellix {

bool CurrentItemEqualsHashed(RunObject& ro, Params& p) {
  const std::string item = p.Text();
  const std::string def = p.Text();
  const std::string text = p.Text();
  return ro.store != nullptr && ro.store->ItemEqualsHashed(ro.currentGroup, item, def, text);
}

bool ItemEqualsHashedCondition(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const std::string item = p.Text();
  const std::string def = p.Text();
  const std::string text = p.Text();
  return ro.store != nullptr && ro.store->ItemEqualsHashed(group, item, def, text);
}

void SetItemHashedCurrent(RunObject& ro, Params& p) {
  const std::string item = p.Text();
  const std::string text = p.Text();
  if (ro.store != nullptr) ro.store->SetItemHashed(ro.currentGroup, item, text);
}

void SetItemHashedInGroup(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const std::string item = p.Text();
  const std::string text = p.Text();
  if (ro.store != nullptr) ro.store->SetItemHashed(group, item, text);
}

// Runs without the opening steps of the frame: hashing a text needs no settings and no
// reloaded file. The digest is copied out of the store's digest object at once.
Value HashExpression(RunObject& ro, Params& p) {
  const std::string text = p.Text();
  if (ro.store == nullptr) return Value::Str(Md5Hex(text.substr(0, text.find('\0'))));
  ro.store->digest.Compute(text);
  return Value::Str(ro.store->digest.Hex());
}

Value CalcExpression(RunObject& ro, Params& p) {
  const std::string a = p.Text();
  const std::string b = p.Text();
  return Value::Real(ro.store != nullptr ? Calc(*ro.store, a, b) : 0.0f);
}

Value CalcStrExpression(RunObject& ro, Params& p) {
  const std::string a = p.Text();
  const std::string b = p.Text();
  return Value::Str(ro.store != nullptr ? CalcStr(*ro.store, a, b) : std::string());
}

}  // namespace vellix
