#include "host/routines.h"

namespace vellix {

bool WildcardMatchCondition(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Text();
  p.Int();
  return false;
}

void DeleteByPattern(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Text();
  p.Text();
  p.Int();
}

void FindItems(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Text();
  p.Text();
  p.Block();
}

void FindRepeats(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Text();
}

void ClearResults(RunObject& ro, Params& p) {
  (void)ro;
  (void)p;
}

void SearchIntoFile(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Text();
  p.Text();
  p.Text();
  p.Int();
}

void SearchIntoObject(RunObject& ro, Params& p) {
  (void)ro;
  p.ObjectName();
  p.Text();
  p.Text();
  p.Text();
  p.Int();
}

void FindSubgroups(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Int();
}

Value SearchResultsCount(RunObject& ro, Params& p) {
  (void)ro;
  (void)p;
  return Value::Int(0);
}

Value SearchGroup(RunObject& ro, Params& p) {
  (void)ro;
  p.Int();
  return Value::Str("");
}

Value SearchItemName(RunObject& ro, Params& p) {
  (void)ro;
  p.Int();
  return Value::Str("");
}

Value SearchItemValue(RunObject& ro, Params& p) {
  (void)ro;
  p.Int();
  return Value::Int(0);
}

Value SearchItemString(RunObject& ro, Params& p) {
  (void)ro;
  p.Int();
  return Value::Str("");
}

Value SearchItemPath(RunObject& ro, Params& p) {
  (void)ro;
  p.Int();
  p.Text();
  return Value::Str("");
}

}  // namespace vellix
