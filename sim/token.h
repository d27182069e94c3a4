// Tokens of the scenario language, which are also the arguments the simulated host hands
// to the module's routines.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vxsim {

// A malformed token or line; the message says what is wrong, without a location.
class SyntaxError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TokenKind {
  Text,      // "..." with escapes
  Number,    // -?digits(.digits)?
  Object,    // @NAME
  Block,     // [B6,B7,...]
  Position,  // <X,Y>
  Word       // any other run of non-blank characters
};

struct Token {
  TokenKind kind = TokenKind::Word;
  std::string spelling;       // as written in the script
  std::string text;           // Text: the unescaped bytes; Object: the name; others: spelling
  std::vector<int8_t> block;  // Block: the bytes written from offset 6 on
  int16_t x = 0, y = 0;       // Position

  // Whether a routine may read this token as a text (everything but objects and blocks).
  bool IsTextual() const { return kind != TokenKind::Object && kind != TokenKind::Block; }
  // A position packed as the host packs one: X in the high 16 bits, Y in the low 16 bits.
  int32_t PackedPosition() const;
};

// Splits a line into raw tokens at blanks (spaces and tabs). A double quote opens a quoted
// section that runs to its closing quote, blanks included. A token that would begin with '#'
// begins a comment instead, which ends the line. Throws SyntaxError for an unterminated quote.
std::vector<std::string> SplitLine(std::string_view line);

// Classifies one raw token. Throws SyntaxError when it is malformed.
Token ParseToken(std::string_view raw);

// A KEY=VALUE option: the key is a run of letters, digits and underscores, the value one
// token. Returns nothing when `raw` has no such form.
struct Option {
  std::string key;
  Token value;
};
std::optional<Option> ParseOption(std::string_view raw);

// Number conversions of a Number token.
// As an integer: truncated toward zero; nothing when outside the 32-bit range.
std::optional<int32_t> NumberAsInt(const Token& number);
// As a single-precision float, correctly rounded from the decimal spelling.
float NumberAsFloat(const Token& number);

// A short description of a token for error messages: `text "abc"`, `number 7`, `object @ini`...
std::string DescribeToken(const Token& token);

// Arguments of the runner's own commands; each throws SyntaxError saying what is wrong.
// A name of an application or object: a bare word, a number or a non-empty quoted text.
std::string NameToken(const std::string& raw);
// A text: any token but an object reference or a block.
std::string TextToken(const std::string& raw);
// A whole number without a fraction, within [lo, hi]; `what` names it in the message.
long IntegerToken(const Token& t, long lo, long hi, const std::string& what);
// KEY=VALUE.
Option OptionToken(const std::string& raw);
// An option whose value is 0 or 1.
bool FlagOption(const Option& o);
// `raw` (the command word first) has from `min` to `max` arguments, else "usage: USAGE".
void ExpectCount(const std::vector<std::string>& raw, size_t min, size_t max, const char* usage);

}  // namespace vxsim
