#include "calc/calc.h"
#include "calc/hashed.h"
#include "calc/md5.h"
#include "host/routines.h"

namespace vellix {

bool CurrentItemEqualsHashed(RunObject& ro, Params& p) {
  const std::string item = p.Text();
  const std::string def = p.Text();
  const std::string text = p.Text();
  return ItemEqualsHashed(*ro.store, ro.currentGroup, item, def, text);
}

bool ItemEqualsHashedCondition(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const std::string item = p.Text();
  const std::string def = p.Text();
  const std::string text = p.Text();
  return ItemEqualsHashed(*ro.store, group, item, def, text);
}

void SetItemHashedCurrent(RunObject& ro, Params& p) {
  const std::string item = p.Text();
  const std::string text = p.Text();
  SetItemHashed(*ro.store, ro.currentGroup, item, text);
}

void SetItemHashedInGroup(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const std::string item = p.Text();
  const std::string text = p.Text();
  SetItemHashed(*ro.store, group, item, text);
}

// Runs without the opening steps of the frame: hashing a text needs no settings and no
// reloaded file.
Value HashExpression(RunObject&, Params& p) {
  const std::string text = p.Text();
  CMD5 digest;
  digest.Compute(text);
  return Value::Str(digest.Hex());
}

Value CalcExpression(RunObject& ro, Params& p) {
  const std::string a = p.Text();
  const std::string b = p.Text();
  return Value::Real(Calc(*ro.store, a, b));
}

Value CalcStrExpression(RunObject& ro, Params& p) {
  const std::string a = p.Text();
  const std::string b = p.Text();
  return Value::Str(CalcStr(*ro.store, a, b));
}

}  // namespace vellix
