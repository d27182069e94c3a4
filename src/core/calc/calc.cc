#include "calc/calc.h"

#include <cstdint>

#include "store/name_key.h"
#include "store/number_text.h"
#include "store/store.h"

namespace vellix {

namespace {

enum class Op { Name, Sum, Product, Mean, Min, Max, ItemMean, Count };

struct Word {
  Op op = Op::Name;
  std::string_view name;  // the name, when op is Name
};

Word ReadWord(std::string_view text) {
  if (!text.empty() && text.front() == '%') return {Op::Name, text.substr(1)};
  struct Known {
    std::string_view word;
    Op op;
  };
  static constexpr Known kWords[] = {
      {"+", Op::Sum},         {"*", Op::Product},   {"~", Op::Mean},     {"avg", Op::Mean},
      {"\\", Op::Min},        {"min", Op::Min},     {"/", Op::Max},      {"max", Op::Max},
      {"iavg", Op::ItemMean}, {"~~", Op::ItemMean}, {"#", Op::ItemMean}, {"n", Op::Count},
  };
  for (const Known& k : kWords) {
    if (SameKey(text, k.word, false)) return {k.op, {}};
  }
  return {Op::Name, text};
}

// A run of values combined with one operator; p is the value's position, from 1. "n"
// adds, as every operator without a step of its own does.
class Combined {
 public:
  explicit Combined(Op op) : op_(op), result_(op == Op::Product ? 1.0f : 0.0f) {}

  void Add(float value, int64_t p) {
    switch (op_) {
      case Op::Product:
        result_ *= value;
        break;
      case Op::Max:
        if (value > result_ || p == 1) result_ = value;
        break;
      case Op::Min:
        if (value < result_ || p == 1) result_ = value;
        break;
      default:
        result_ += value;
        break;
    }
  }
  float result() const { return result_; }

 private:
  Op op_;
  float result_;
};

float ValueOf(const Item& item) { return ReadFloat(item.value()); }

float Aggregate(const Group* g, Op op) {
  const size_t count = g != nullptr ? g->size() : 0;
  if (op == Op::Count) return static_cast<float>(count);
  Combined c(op);
  if (g != nullptr) {
    int64_t p = 0;
    g->ForEachItem([&](const Item& it) { c.Add(ValueOf(it), ++p); });
  }
  // An empty or missing group divides by zero: IEEE gives NaN, returned as it is.
  if (op == Op::Mean) return c.result() / static_cast<float>(count);
  return c.result();
}

// Calls f(group, value, p) for every group, in order, that gives a value for A: item A's
// value when A is a name (groups without it give nothing), otherwise the group's aggregate
// with operator A. p counts every group, also those that give nothing.
template <class F>
void ForEachGroupValue(const Store& store, const Word& a, F&& f) {
  int64_t p = 0;
  store.ForEachGroup([&](const Group& g) {
    ++p;
    if (a.op != Op::Name) {
      f(g, Aggregate(&g, a.op), p);
    } else if (const Item* it = g.Find(a.name, store.caseSensitive())) {
      f(g, ValueOf(*it), p);
    }
  });
}

}  // namespace

float Calc(const Store& store, std::string_view a, std::string_view b) {
  const Word wa = ReadWord(a);
  const Word wb = ReadWord(b);
  if (wb.op == Op::Name) {
    if (wa.op != Op::Name) return Aggregate(store.FindGroup(wb.name), wa.op);
    const Item* it = store.FindItem(wb.name, wa.name);
    return it != nullptr ? ValueOf(*it) : 0.0f;
  }
  // Across the groups: "max" and "min" take their first value only from the first group.
  Combined c(wb.op);
  int64_t contributing = 0;
  ForEachGroupValue(store, wa, [&](const Group&, float value, int64_t p) {
    c.Add(value, p);
    ++contributing;
  });
  if (wb.op == Op::Mean) return c.result() / static_cast<float>(contributing);
  if (wb.op == Op::ItemMean) return c.result() / static_cast<float>(store.TotalItems());
  return c.result();
}

std::string CalcStr(const Store& store, std::string_view a, std::string_view b) {
  const Word wa = ReadWord(a);
  const bool greatest = SameKey(b, "max", false) || b == "/";
  const Group* chosen = nullptr;
  float best = 0.0f;
  ForEachGroupValue(store, wa, [&](const Group& g, float value, int64_t p) {
    if ((greatest ? value > best : value < best) || p == 1) {
      chosen = &g;
      best = value;
    }
  });
  return chosen != nullptr ? chosen->name() : std::string();
}

}  // namespace vellix
