#include "host/routines.h"

namespace vellix {

void SaveObject(RunObject& ro, Params& p) {
  (void)ro;
  p.ObjectName();
  p.Int();
  p.Int();
}

void LoadObject(RunObject& ro, Params& p) {
  (void)ro;
  p.ObjectName();
}

void SavePositionCurrent(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  { int16_t a, b; p.Position(a, b); }
}

void SaveGlobalValues(RunObject& ro, Params& p) {
  (void)ro;
  (void)p;
}

void LoadGlobalValues(RunObject& ro, Params& p) {
  (void)ro;
  (void)p;
}

void SaveObjectToGroup(RunObject& ro, Params& p) {
  (void)ro;
  p.ObjectName();
  p.Text();
  p.Int();
  p.Int();
}

void LoadObjectFromGroup(RunObject& ro, Params& p) {
  (void)ro;
  p.ObjectName();
  p.Text();
}

void SavePositionToGroup(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Text();
  { int16_t a, b; p.Position(a, b); }
}

void SaveGlobalValuesToGroup(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
}

void LoadGlobalValuesFromGroup(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
}

void CsvImportExport(RunObject& ro, Params& p) {
  (void)ro;
  p.Int();
  p.Text();
  p.Text();
  p.Text();
}

void CsvArrayImportExport(RunObject& ro, Params& p) {
  (void)ro;
  p.Int();
  p.Text();
  p.Text();
}

void PutChartData(RunObject& ro, Params& p) {
  (void)ro;
  p.ObjectName();
  p.Text();
  p.Text();
  p.Text();
}

void SetItemPart(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Text();
  p.Int();
  p.Text();
}

void LoadArrayIntoGroup(RunObject& ro, Params& p) {
  (void)ro;
  p.ObjectName();
  p.Text();
}

void PutGroupIntoArray(RunObject& ro, Params& p) {
  (void)ro;
  p.ObjectName();
  p.Text();
}

void GetChartData(RunObject& ro, Params& p) {
  (void)ro;
  p.ObjectName();
  p.Text();
}

void GetChartProperties(RunObject& ro, Params& p) {
  (void)ro;
  p.ObjectName();
  p.Text();
}

void PutChartProperties(RunObject& ro, Params& p) {
  (void)ro;
  p.ObjectName();
  p.Text();
}

Value PosXCurrent(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  return Value::Int(0);
}

Value PosYCurrent(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  return Value::Int(0);
}

Value PosX(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Text();
  return Value::Int(0);
}

Value PosY(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Text();
  return Value::Int(0);
}

Value GetCsv(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Text();
  return Value::Str("");
}

Value GetItemPart(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Text();
  p.Int();
  p.Text();
  return Value::Str("");
}

}  // namespace vellix
