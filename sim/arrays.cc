// Array objects: numeric or text cells in three dimensions, counted from 0 or from 1.
#include "host_objects.h"
#include "printing.h"

namespace vxsim {
namespace {

// The sim's own limit on an array's cells.
constexpr long kMaxCells = 1L << 20;

struct ArrayObject : KindData {
  VxArrayData record{};
  std::vector<int32_t> numbers;
  std::vector<std::string> texts;  // the text of each non-null cell
  std::vector<char*> cells;        // what the module sees for a text array

  uint32_t Identifier() const override { return VX_ARRAY_IDENTIFIER; }
  void* LiveData() override { return &record; }
  size_t Count() const {
    return static_cast<size_t>(record.sizeX) * static_cast<size_t>(record.sizeY) *
           static_cast<size_t>(record.sizeZ);
  }
};

ArrayObject& ArrayOf(Host& host, const std::string& name) {
  return static_cast<ArrayObject&>(*ObjectOfKind(host, name, ObjectKind::Array).data);
}

}  // namespace

void ArrayCommand(Host& host, const std::vector<std::string>& raw) {
  ExpectCount(raw, 5, 6, "array NAME SX SY SZ numeric|text [base1]");
  const std::string name = NameToken(raw[1]);
  long sizes[3];
  for (int d = 0; d < 3; ++d) {
    sizes[d] = IntegerToken(ParseToken(raw[2 + d]), 0, kMaxCells, "an array size");
  }
  if (sizes[0] * sizes[1] * sizes[2] > kMaxCells) {
    throw SyntaxError("an array has at most " + std::to_string(kMaxCells) + " cells");
  }
  const std::string& type = raw[5];
  if (type != "numeric" && type != "text") {
    throw SyntaxError("an array is numeric or text, not " + type);
  }
  if (raw.size() == 7 && raw[6] != "base1") throw SyntaxError("expected base1, got " + raw[6]);
  auto array = std::make_unique<ArrayObject>();
  VxArrayData& r = array->record;
  r.sizeX = static_cast<int32_t>(sizes[0]);
  r.sizeY = static_cast<int32_t>(sizes[1]);
  r.sizeZ = static_cast<int32_t>(sizes[2]);
  r.flags = type == "numeric" ? uint32_t{VX_ARRAY_NUMERIC} : uint32_t{VX_ARRAY_TEXT};
  if (raw.size() == 7) r.flags |= VX_ARRAY_BASE1;
  if (type == "numeric") {
    array->numbers.assign(array->Count(), 0);
    r.cells = array->numbers.data();
  } else {
    array->texts.assign(array->Count(), std::string());
    array->cells.assign(array->Count(), nullptr);
    r.cells = array->cells.data();
  }
  host.CreateHostObject(name, ObjectKind::Array, std::move(array));
}

void CellCommand(Host& host, const std::vector<std::string>& raw) {
  ExpectCount(raw, 5, 5, "cell NAME X Y Z VALUE");
  ArrayObject& a = ArrayOf(host, NameToken(raw[1]));
  const VxArrayData& r = a.record;
  const long x = IntegerToken(ParseToken(raw[2]), 0, r.sizeX - 1L, "X");
  const long y = IntegerToken(ParseToken(raw[3]), 0, r.sizeY - 1L, "Y");
  const long z = IntegerToken(ParseToken(raw[4]), 0, r.sizeZ - 1L, "Z");
  const size_t at = static_cast<size_t>(x + r.sizeX * (y + r.sizeY * z));
  const Token value = ParseToken(raw[5]);
  if (r.flags & VX_ARRAY_NUMERIC) {
    a.numbers[at] =
        static_cast<int32_t>(IntegerToken(value, INT32_MIN, INT32_MAX, "a numeric cell"));
    return;
  }
  if (value.kind == TokenKind::Word && value.text == "null") {
    a.cells[at] = nullptr;
    return;
  }
  if (!value.IsTextual()) {
    throw SyntaxError("a text cell takes a text or null, got " + DescribeToken(value));
  }
  a.texts[at] = value.text;
  a.cells[at] = a.texts[at].data();
}

void ShowArray(Object& object, const Printer& print) {
  auto& a = static_cast<ArrayObject&>(*object.data);
  const VxArrayData& r = a.record;
  size_t at = 0;
  for (int32_t z = 0; z < r.sizeZ; ++z) {
    for (int32_t y = 0; y < r.sizeY; ++y) {
      for (int32_t x = 0; x < r.sizeX; ++x, ++at) {
        std::string value;
        if (r.flags & VX_ARRAY_NUMERIC) {
          value = std::to_string(a.numbers[at]);
        } else {
          value = a.cells[at] ? PrintedText(a.cells[at], "") : "null";
        }
        print("cell " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z) +
              " " + value);
      }
    }
  }
}

}  // namespace vxsim
