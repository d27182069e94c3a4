// The calc evaluator: numbers computed from item values without the application looping
// over the store. Both operations only read the store.
#pragma once

#include <string>
#include <string_view>

namespace vellix {

class Store;

// Calc(A, B). Each text is an operator word ("+", "*", "~" or "avg", "\" or "min", "/" or
// "max", "iavg" or "~~" or "#", "n"; any letter case) or a name; a text starting with "%"
// is always a name, without the "%".
//   name A, name B:         item A of group B, read as a number (0 when missing)
//   operator A, name B:     group B's aggregate with A
//   name A, operator B:     item A of every group that has it, combined with B
//   operator A, operator B: every group's aggregate with A, combined with B
// Values are read as decimal numbers and everything is computed in single precision;
// divisions by zero give what IEEE arithmetic gives.
float Calc(const Store& store, std::string_view a, std::string_view b);

// CalcStr$(A, B): the display name of the group whose value (item A, or the aggregate with
// operator A) is greatest when B is "max" or "/", otherwise smallest; only a strictly
// better value replaces the first group's, so ties keep the earlier group.
std::string CalcStr(const Store& store, std::string_view a, std::string_view b);

}  // namespace vellix
