#include "host/routines.h"

namespace vellix {

void LoadTextIntoIni(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Int();
}

Value WriteStream(RunObject& ro, Params& p) {
  (void)ro;
  (void)p;
  return Value::Str("");
}

Value EscapeExpression(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  return Value::Str("");
}

Value UnescapeExpression(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  return Value::Str("");
}

Value CurrentGroupString(RunObject& ro, Params& p) {
  (void)ro;
  (void)p;
  return Value::Str("");
}

}  // namespace vellix
