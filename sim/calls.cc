// Calls of the module's routines, and the parameters they read: each read is checked
// against the catalogue's signature and the script's argument.
#include <algorithm>
#include <bit>
#include <cstring>

#include "host_parts.h"

namespace vxsim {
namespace {

// Parameter records of object selectors and custom blocks are at least this large, zero
// padded, so a routine reading a fixed-size block past the given bytes reads zeros.
constexpr size_t kMinRecordSize = 64;

}  // namespace

int Host::RoutineCount(RoutineKind kind) const {
  int count = 0;
  switch (kind) {
    case RoutineKind::Condition:
      count = description_.conditionCount;
      break;
    case RoutineKind::Action:
      count = description_.actionCount;
      break;
    case RoutineKind::Expression:
      count = description_.expressionCount;
      break;
  }
  return std::min(count, CatalogueSize(kind));
}

CallResult Host::Call(Object& object, RoutineKind kind, int index, const std::vector<Token>& args) {
  // Built only for a message: benchmarks call through here millions of times.
  auto what = [&] { return std::string(RoutineKindName(kind)) + " " + std::to_string(index); };
  if (failed_) throw HostError("the run has already failed");
  if (object.kind != ObjectKind::Vellix || !object.header) {
    throw HostError(object.name + " is not an object of this extension");
  }
  if (index < 0 || index >= RoutineCount(kind)) {
    throw HostError("unknown " + std::string(RoutineKindName(kind)) + " index " +
                    std::to_string(index) + " (there are " + std::to_string(RoutineCount(kind)) +
                    ")");
  }
  const char* signature = Signature(kind, index);
  size_t expected = std::strlen(signature);
  if (args.size() != expected) {
    throw HostError(what() + " takes " + std::to_string(expected) + " argument" +
                    (expected == 1 ? "" : "s") + ", got " + std::to_string(args.size()));
  }
  const VxRoutine* table = kind == RoutineKind::Condition ? description_.conditions
                           : kind == RoutineKind::Action  ? description_.actions
                                                          : description_.expressions;
  VxRoutine routine = table[index];
  if (!routine) throw HostError("the module's table has no routine for " + what());

  auto frame = std::make_unique<CallFrame>();
  frame->object = &object;
  frame->kind = kind;
  frame->index = index;
  frame->signature = signature;
  frame->args = &args;
  frames_.push_back(std::move(frame));

  // A nested call on the same object must not disturb the result flags of the call it
  // interrupts.
  VxObjectHeader* header = object.header;
  uint32_t savedFlags = header->flags;
  header->flags = 0;
  vx_word word = 0;
  std::exception_ptr escaped;
  ++object.busy;
  try {
    word = Enter(what(), [&] { return routine(header, 0, 0); });
  } catch (...) {
    escaped = std::current_exception();
  }
  --object.busy;
  uint32_t flags = header->flags;
  header->flags = savedFlags;
  std::unique_ptr<CallFrame> done = std::move(frames_.back());
  frames_.pop_back();
  if (escaped) {
    // The module is in an unknown state: nothing more of this run is reported.
    failed_ = true;
    pending_ = nullptr;
    std::rethrow_exception(escaped);
  }

  CallResult result;
  result.parametersRead = done->next;
  if (kind == RoutineKind::Condition) {
    result.type = CallResult::Type::Bool;
    result.truth = word != 0;
  } else if (kind == RoutineKind::Expression) {
    if (flags & VX_RESULT_TEXT) {
      result.type = CallResult::Type::Text;
      const char* text = reinterpret_cast<const char*>(word);
      if (text) {
        // A result string of this call is read within its allocation even when the module
        // forgot the NUL.
        size_t limit = SIZE_MAX;
        for (auto& [block, size] : done->results) {
          if (text >= block && text < block + size) {
            limit = static_cast<size_t>(block + size - text);
          }
        }
        result.text.assign(text, limit == SIZE_MAX ? std::strlen(text) : strnlen(text, limit));
      }
    } else if (flags & VX_RESULT_FLOAT) {
      result.type = CallResult::Type::Float;
      result.real = std::bit_cast<float>(static_cast<uint32_t>(static_cast<uintptr_t>(word)));
    } else {
      result.type = CallResult::Type::Int;
      result.integer = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uintptr_t>(word)));
    }
  }
  done.reset();
  ThrowPending();
  if (frames_.empty()) DestroyDoomed();
  return result;
}

vx_word Host::ReadArgument(ReadKind want, bool expressionService, bool first) {
  const vx_word zeroPointer = reinterpret_cast<vx_word>(kZeroRecord);
  const vx_word zero = (want == ReadKind::Structured || want == ReadKind::Text) ? zeroPointer : 0;
  if (failed_) return zero;
  if (frames_.empty()) {
    Fail("the module read a parameter outside of any routine call");
    return zero;
  }
  CallFrame& f = *frames_.back();
  bool isExpression = f.kind == RoutineKind::Expression;
  if (isExpression != expressionService) {
    Fail(f.Where() + (isExpression ? " reads a parameter with the condition/action service"
                                   : " reads a parameter with the expression services"));
    return zero;
  }
  if (first) f.next = 0;
  size_t n = f.next++;
  std::string arg = "argument " + std::to_string(n + 1);
  if (n >= f.signature.size()) {
    Fail(f.Where() + " reads " + arg + " but takes only " + std::to_string(f.signature.size()));
    return zero;
  }
  ParamKind expected = static_cast<ParamKind>(f.signature[n]);
  const Token& token = (*f.args)[n];
  bool kindOk = false;
  const char* wantName = "";
  switch (want) {
    case ReadKind::Structured:
      kindOk = expected == ParamKind::Text || expected == ParamKind::Object ||
               expected == ParamKind::Custom;
      wantName = "a text or parameter record";
      break;
    case ReadKind::Text:
      kindOk = expected == ParamKind::Text;
      wantName = "a text";
      break;
    case ReadKind::Integer:
      kindOk = expected == ParamKind::Integer || expected == ParamKind::Number ||
               expected == ParamKind::Position;
      wantName = "an integer";
      break;
    case ReadKind::Float:
      kindOk = expected == ParamKind::Float || expected == ParamKind::Number;
      wantName = "a float";
      break;
  }
  if (!kindOk) {
    Fail(f.Where() + " reads " + arg + " (" + std::string(ParamKindName(expected)) + ") as " +
         wantName);
    return zero;
  }
  auto mismatch = [&](const char* needs) {
    Fail(f.Where() + " reads " + arg + " as " + needs + ", but it is " + DescribeToken(token));
    return zero;
  };
  switch (want) {
    case ReadKind::Structured:
    case ReadKind::Text: {
      if (expected == ParamKind::Object || expected == ParamKind::Custom) {
        bool isObject = expected == ParamKind::Object;
        if (token.kind != (isObject ? TokenKind::Object : TokenKind::Block)) {
          return mismatch(isObject ? "an object (@NAME)" : "a custom block ([B6,B7,...])");
        }
        size_t payload = isObject ? token.text.size() + 1 : token.block.size();
        size_t size = std::max(kMinRecordSize, VX_PARAM_DATA_OFFSET + payload);
        auto record = std::make_unique<uint8_t[]>(size);
        std::memset(record.get(), 0, size);
        if (isObject) {
          std::memcpy(record.get() + VX_PARAM_DATA_OFFSET, token.text.data(), token.text.size());
        } else if (!token.block.empty()) {
          std::memcpy(record.get() + VX_PARAM_DATA_OFFSET, token.block.data(), token.block.size());
        }
        vx_word word = reinterpret_cast<vx_word>(record.get());
        f.records.push_back(std::move(record));
        return word;
      }
      if (!token.IsTextual()) return mismatch("a text");
      return reinterpret_cast<vx_word>(token.text.c_str());
    }
    case ReadKind::Integer: {
      if (token.kind == TokenKind::Position) return static_cast<vx_word>(token.PackedPosition());
      if (token.kind != TokenKind::Number) return mismatch("an integer");
      auto value = NumberAsInt(token);
      if (!value) return mismatch("a 32-bit integer");
      return static_cast<vx_word>(*value);
    }
    case ReadKind::Float: {
      if (token.kind != TokenKind::Number) return mismatch("a float");
      return static_cast<vx_word>(std::bit_cast<uint32_t>(NumberAsFloat(token)));
    }
  }
  return zero;
}

}  // namespace vxsim
