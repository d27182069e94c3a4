#include "host/routines.h"

namespace vellix {

void MergeFromFile(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Int();
}

void MergeGroupFromFile(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Text();
  p.Text();
  p.Int();
}

void MergeFromObject(RunObject& ro, Params& p) {
  (void)ro;
  p.ObjectName();
  p.Int();
}

void MergeGroupFromObject(RunObject& ro, Params& p) {
  (void)ro;
  p.ObjectName();
  p.Text();
  p.Text();
  p.Int();
}

void NewIni(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Int();
}

void LoadIni(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Int();
}

void SaveIni(RunObject& ro, Params& p) {
  (void)ro;
  (void)p;
}

void SaveIniAs(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
}

void BackupIni(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Int();
  p.Text();
}

void CloseIni(RunObject& ro, Params& p) {
  (void)ro;
  (void)p;
}

void CompressFileAction(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Text();
}

void DecompressFileAction(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Text();
}

void AddRepeated(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Text();
  p.Text();
  p.Int();
}

void LoadWithOptions(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Block();
}

Value CryptExpression(RunObject& ro, Params& p) {
  (void)ro;
  p.Text();
  p.Text();
  return Value::Str("");
}

Value FilenameExpression(RunObject& ro, Params& p) {
  (void)ro;
  (void)p;
  return Value::Str("");
}

}  // namespace vellix
