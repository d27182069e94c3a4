// Calc and CalcStr over random small documents and operator words, checked against a plain
// reading of their rules through the store's public queries; then the sorted and overall
// access against plain scans, and one group operation against what it must keep.
//
// Input, as lines: line 1 holds options (first byte: bit 0 case sensitive, bits 1-4 the
// group operation code, bits 5-6 its option); line 2 is A, line 3 is B; every further line
// is an item: its first byte names the group, its second the item, the rest is the value.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "calc/calc.h"
#include "store/name_key.h"
#include "store/sorting.h"

namespace {

using vellix::Store;

// The longest decimal prefix after white space, as strtod reads it, without the forms
// strtod takes beyond decimal numbers (hexadecimal, "inf", "nan").
float RefNumber(const std::string& text) {
  const size_t end = text.find_first_not_of("0123456789+-.eE \t\n\v\f\r");
  const std::string decimal = text.substr(0, end);
  return static_cast<float>(std::strtod(decimal.c_str(), nullptr));
}

const char* const kOps[] = {"+", "*", "~", "avg", "\\", "min", "/", "max", "iavg", "~~", "#", "n"};

// The operator word a text is, or "" for a name (with "%" taken off).
std::string RefOp(std::string& text) {
  if (!text.empty() && text[0] == '%') {
    text.erase(0, 1);
    return "";
  }
  const std::string lower = vellix::LowerAscii(text);
  for (const char* op : kOps) {
    if (lower == op) return op;
  }
  return "";
}

float RefCombine(const std::string& op, float result, float value, int p) {
  if (op == "*") return result * value;
  if (op == "max" || op == "/") return (value > result || p == 1) ? value : result;
  if (op == "min" || op == "\\") return (value < result || p == 1) ? value : result;
  return result + value;
}

float RefAggregate(const Store& s, const std::string& g, const std::string& op) {
  if (op == "n") return static_cast<float>(s.ItemCount(g));
  float r = op == "*" ? 1.0f : 0.0f;
  for (int p = 1; p <= s.ItemCount(g); ++p) {
    r = RefCombine(op, r, RefNumber(s.NthItemValue(g, p, "")), p);
  }
  if (op == "~" || op == "avg") r /= static_cast<float>(s.ItemCount(g));
  return r;
}

float RefCalc(const Store& s, std::string a, std::string b) {
  const std::string opA = RefOp(a);
  const std::string opB = RefOp(b);
  if (opA.empty() && opB.empty()) return RefNumber(s.GetItem(b, a, ""));
  if (opB.empty()) return RefAggregate(s, b, opA);
  float r = opB == "*" ? 1.0f : 0.0f;
  int contributing = 0;
  for (int p = 1; p <= s.GroupCount(); ++p) {
    const std::string g = s.NthGroupName(p, "");
    if (opA.empty() && !s.HasItem(g, a)) continue;
    const float v = opA.empty() ? RefNumber(s.GetItem(g, a, "")) : RefAggregate(s, g, opA);
    r = RefCombine(opB, r, v, p);
    ++contributing;
  }
  if (opB == "~" || opB == "avg") r /= static_cast<float>(contributing);
  if (opB == "iavg" || opB == "~~" || opB == "#") r /= static_cast<float>(s.TotalItems());
  return r;
}

std::string RefCalcStr(const Store& s, std::string a, const std::string& b) {
  const std::string opA = RefOp(a);
  const std::string lowerB = vellix::LowerAscii(b);
  const bool greatest = lowerB == "max" || lowerB == "/";
  std::string result;
  float best = 0.0f;
  for (int p = 1; p <= s.GroupCount(); ++p) {
    const std::string g = s.NthGroupName(p, "");
    if (opA.empty() && !s.HasItem(g, a)) continue;
    const float v = opA.empty() ? RefNumber(s.GetItem(g, a, "")) : RefAggregate(s, g, opA);
    if ((greatest ? v > best : v < best) || p == 1) {
      result = g;
      best = v;
    }
  }
  return result;
}

bool SameFloat(float x, float y) {
  return (std::isnan(x) && std::isnan(y)) || std::memcmp(&x, &y, sizeof x) == 0;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs ItemsOf(const Store& s, const std::string& g) {
  Pairs out;
  for (int n = 1; n <= s.ItemCount(g); ++n) {
    out.emplace_back(s.NthItemName(g, n, ""), s.NthItemValue(g, n, ""));
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> lines;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  while (lines.size() < 64) {
    const size_t nl = rest.find('\n');
    lines.emplace_back(rest.substr(0, nl));
    if (nl == std::string_view::npos) break;
    rest.remove_prefix(nl + 1);
  }
  if (lines.size() < 3) return 0;
  const uint8_t options = lines[0].empty() ? 0 : static_cast<uint8_t>(lines[0][0]);

  Store s;
  s.settings().autoSave = false;
  s.SetCaseSensitive(options & 1);
  for (size_t i = 3; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    s.SetItem(l.substr(0, 1), l.size() > 1 ? l.substr(1, 1) : "", l.size() > 2 ? l.substr(2) : "");
  }
  const std::string& a = lines[1];
  const std::string& b = lines[2];

  if (!SameFloat(vellix::Calc(s, a, b), RefCalc(s, a, b))) std::abort();
  if (vellix::CalcStr(s, a, b) != RefCalcStr(s, a, b)) std::abort();

  // Distinct names: a plain list of the keys seen so far.
  std::vector<std::string> seen;
  std::vector<std::string> nth{""};  // nth[k]: the item at which k names had been seen
  for (int g = 1; g <= s.GroupCount(); ++g) {
    const std::string group = s.NthGroupName(g, "");
    for (int n = 1; n <= s.ItemCount(group); ++n) {
      const std::string name = s.NthItemName(group, n, "");
      const std::string key = vellix::NormalizeName(name, s.caseSensitive());
      if (std::find(seen.begin(), seen.end(), key) == seen.end()) {
        seen.push_back(key);
        nth.push_back(name);
      }
    }
  }
  if (vellix::CountDistinctItemNames(s) != static_cast<int32_t>(seen.size())) std::abort();
  for (int64_t n = -1; n <= static_cast<int64_t>(seen.size()) + 1; ++n) {
    const std::string expected = (n >= 1 && n <= static_cast<int64_t>(seen.size())) ? nth[n] : "";
    if (vellix::NthDistinctItemName(s, n) != expected) std::abort();
  }

  // The ranking of the first group, read twice (built, then kept), in value order.
  const std::string first = s.NthGroupName(1, "");
  for (int round = 0; round < 2; ++round) {
    for (int64_t n = 1; n <= s.ItemCount(first); ++n) {
      const vellix::Item* it = vellix::NthSortedEntry(s, first, n);
      if (it == nullptr) std::abort();
      const vellix::Item* previous = n > 1 ? vellix::NthSortedEntry(s, first, n - 1) : nullptr;
      if (previous != nullptr && vellix::CompareTexts(previous->value(), it->value(), 0) > 0) {
        std::abort();
      }
    }
  }

  // A group operation: the order-only codes keep every item; the sorting codes keep every
  // item when names are distinct and leave the keys in order.
  const int code = (options >> 1) & 15;
  const int option = (options >> 5) & 3;
  Pairs before = ItemsOf(s, first);
  vellix::ApplyGroupOperation(s, static_cast<vellix::GroupOperationCode>(code), option, first,
                              options);
  Pairs after = ItemsOf(s, first);
  if (code == 1 || code == 3 || code == 5 || code == 6 || code == 0 || code == 9) {
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    if (before != after) std::abort();
  }
  if (code == 0 || code == 9) {
    const Pairs sorted = ItemsOf(s, first);
    for (size_t i = 1; i < sorted.size(); ++i) {
      const auto& x = code == 0 ? sorted[i - 1].second : sorted[i - 1].first;
      const auto& y = code == 0 ? sorted[i].second : sorted[i].first;
      if (vellix::CompareTexts(x, y, 2 - option) > 0) std::abort();
    }
  }
  return 0;
}
