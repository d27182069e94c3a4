// The host's knowledge of the module's routines: for every condition, action and
// expression, the kinds of the parameters it reads, in order. A real host learns the same
// from the extension's info tables; the simulated host uses it to check a script's
// argument count before a call and the kind of every parameter the routine reads.
#pragma once

#include <string_view>

namespace vxsim {

enum class RoutineKind { Condition, Action, Expression };

// Parameter kinds, one letter each in a routine's signature:
//   T text, I integer, F float, N integer or float (the routine chooses),
//   O object selector, P position, C custom block.
enum class ParamKind : char {
  Text = 'T',
  Integer = 'I',
  Float = 'F',
  Number = 'N',
  Object = 'O',
  Position = 'P',
  Custom = 'C'
};

// Number of routines of a kind in the catalogue.
int CatalogueSize(RoutineKind kind);

// The signature of routine `index` (one ParamKind letter per parameter it reads), or
// nullptr when the index is outside the catalogue.
const char* Signature(RoutineKind kind, int index);

// "condition", "action" or "expression".
std::string_view RoutineKindName(RoutineKind kind);

// "text", "integer", "float", "number", "object", "position" or "custom block".
std::string_view ParamKindName(ParamKind kind);

}  // namespace vxsim
