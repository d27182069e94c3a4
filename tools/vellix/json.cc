// Documents as JSON and back, through nlohmann-json.
//
// Names and values are bytes. A text that is valid UTF-8 is a JSON string as it is. One that
// is not becomes {"latin1": "..."}: every byte written as the character of the same number
// (U+0000 to U+00FF), which reads back to exactly those bytes. With --encoding latin1 every
// text is read that way and is a plain string (files written in a single-byte code page).
// Groups and items are objects in document order; a container holding a name that cannot
// be an object key (a name that is not UTF-8) is an array of [name, value] pairs instead.
//
// Reading goes through nlohmann's SAX parser into a small tree that keeps every member in
// order without looking names up, so a group of a million items reads in linear time (the
// library's ordered objects look every key up as it is inserted).
#include <string>
#include <utility>
#include <vector>

#include "files/merge.h"
#include "tool.h"

namespace vellix::cli {

namespace {

// Whether the bytes are UTF-8 as JSON requires it: no overlong forms, no surrogates,
// nothing above U+10FFFF.
bool IsUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t extra;
    unsigned low = 0x80, high = 0xBF;  // range of the first continuation byte
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (n - i <= extra) return false;
    if (p[i + 1] < low || p[i + 1] > high) return false;
    for (size_t k = 2; k <= extra; ++k) {
      if (p[i + k] < 0x80 || p[i + k] > 0xBF) return false;
    }
    i += extra + 1;
  }
  return true;
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (const unsigned char c : bytes) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// The bytes of a string read as Latin-1; false when it holds a character above U+00FF.
// (The parser has already checked that the string is UTF-8.)
bool Utf8ToLatin1(std::string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size()) {
      out.push_back(
          static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F)));
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

// Whether a name can be an object key under the encoding, and the key.
bool AsKey(std::string_view name, Encoding encoding, std::string& key) {
  if (encoding == Encoding::kLatin1) {
    key = Latin1ToUtf8(name);
    return true;
  }
  if (!IsUtf8(name)) return false;
  key.assign(name);
  return true;
}

// Appends a member whose name is known to be new (names in a document are distinct),
// without the library's lookup of every key already there.
void AppendMember(Json& object, std::string key, Json value) {
  auto& members = object.get_ref<Json::object_t&>();
  static_cast<Json::object_t::Container&>(members).emplace_back(std::move(key), std::move(value));
}

// Name/value pairs as an object in their order, or as an array of pairs when a name cannot
// be a key.
template <class Pairs, class ValueOf>
Json Members(const Pairs& pairs, Encoding encoding, ValueOf valueOf) {
  std::string key;
  bool keys = true;
  for (const auto& [name, entry] : pairs) {
    if (!AsKey(name, encoding, key)) {
      keys = false;
      break;
    }
  }
  Json out = keys ? Json::object() : Json::array();
  for (const auto& [name, entry] : pairs) {
    if (keys) {
      std::string member;
      AsKey(name, encoding, member);
      AppendMember(out, std::move(member), valueOf(entry));
    } else {
      out.push_back(Json::array({TextToJson(name, encoding), valueOf(entry)}));
    }
  }
  return out;
}

Json GroupJson(const Group& group, Encoding encoding) {
  std::vector<std::pair<std::string_view, std::string_view>> items;
  items.reserve(group.size());
  group.ForEachItem([&](const Item& item) { items.emplace_back(item.name(), item.value()); });
  return Members(items, encoding,
                 [&](std::string_view value) { return TextToJson(value, encoding); });
}

// ---- reading

// A JSON value as read, members and elements in their order.
struct Node {
  enum Kind { kText, kObject, kArray, kOther } kind = kOther;
  std::string text;                // a string, or a number's spelling
  std::vector<std::string> names;  // object member names
  std::vector<Node> values;        // object member values, or array elements
};

class TreeBuilder final : public nlohmann::json_sax<Json> {
 public:
  Node root;
  std::string error;

  bool null() override { return Put(Node{}); }
  bool boolean(bool) override { return Put(Node{}); }
  bool number_integer(number_integer_t value) override {
    return Put(Node{Node::kText, std::to_string(value), {}, {}});
  }
  bool number_unsigned(number_unsigned_t value) override {
    return Put(Node{Node::kText, std::to_string(value), {}, {}});
  }
  bool number_float(number_float_t, const string_t& spelling) override {
    return Put(Node{Node::kText, spelling, {}, {}});
  }
  bool string(string_t& value) override { return Put(Node{Node::kText, std::move(value), {}, {}}); }
  bool binary(binary_t&) override { return Put(Node{}); }
  bool start_object(std::size_t) override {
    if (TooDeep()) return false;
    open_.push_back(Node{Node::kObject, {}, {}, {}});
    return true;
  }
  bool key(string_t& name) override {
    open_.back().names.push_back(std::move(name));
    return true;
  }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t) override {
    if (TooDeep()) return false;
    open_.push_back(Node{Node::kArray, {}, {}, {}});
    return true;
  }
  bool end_array() override { return Close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    error = e.what();
    return false;
  }

 private:
  // The deepest document the tool writes is five levels (an array of groups, each an array
  // of [name, {"latin1": value}] pairs). A tree much deeper is no document; refusing it
  // early also keeps the tree, which is freed recursively, shallow whatever the input.
  static constexpr size_t kMaxDepth = 8;
  bool TooDeep() {
    if (open_.size() < kMaxDepth) return false;
    error = "nested deeper than " + std::to_string(kMaxDepth) + " levels";
    return true;
  }

  bool Put(Node node) {
    if (open_.empty()) {
      root = std::move(node);
    } else {
      open_.back().values.push_back(std::move(node));
    }
    return true;
  }
  bool Close() {
    Node done = std::move(open_.back());
    open_.pop_back();
    return Put(std::move(done));
  }
  std::vector<Node> open_;
};

class Reader {
 public:
  Reader(const std::string& source, Encoding encoding) : source_(source), encoding_(encoding) {}

  // The bytes of a name or value: a string, or {"latin1": string}.
  std::string Text(const Node& node, const std::string& what) const {
    std::string bytes;
    if (node.kind == Node::kText) {
      if (encoding_ == Encoding::kUtf8) {
        bytes = node.text;
      } else if (!Utf8ToLatin1(node.text, bytes)) {
        Fail(what + " has a character above U+00FF, which latin1 cannot hold");
      }
    } else if (node.kind == Node::kObject && node.names.size() == 1 && node.names[0] == "latin1" &&
               node.values[0].kind == Node::kText) {
      if (!Utf8ToLatin1(node.values[0].text, bytes)) {
        Fail(what + " has a \"latin1\" text with a character above U+00FF");
      }
    } else {
      Fail(what + " is neither a string nor {\"latin1\": string}");
    }
    if (bytes.find('\0') != std::string::npos) {
      Fail(what + " has a zero byte, which the file's text cannot hold");
    }
    return bytes;
  }

  // Calls f(name, value node) for every member of an object or every [name, value] pair of
  // an array.
  // `what` names the container in messages, `within` where its names are ("" or " in group
  // \"g\"").
  template <class F>
  void ForEachPair(const Node& node, const std::string& what, const std::string& within,
                   F&& f) const {
    if (node.kind == Node::kObject) {
      for (size_t i = 0; i < node.names.size(); ++i) {
        f(Name(node.names[i], within), node.values[i]);
      }
    } else if (node.kind == Node::kArray) {
      for (const Node& pair : node.values) {
        if (pair.kind != Node::kArray || pair.values.size() != 2) {
          Fail(what + " must be an object or an array of [name, value] pairs");
        }
        f(Text(pair.values[0], "a name" + within), pair.values[1]);
      }
    } else {
      Fail(what + " must be an object or an array of [name, value] pairs");
    }
  }

  void ReadGroup(Store& store, const std::string& group, const Node& node) const {
    store.MakeGroup(group);
    const std::string within = " in group " + Quoted(group);
    ForEachPair(
        node, "group " + Quoted(group), within, [&](const std::string& item, const Node& value) {
          store.SetItem(group, item, Text(value, "the value of item " + Quoted(item) + within));
        });
  }

  [[noreturn]] void Fail(const std::string& why) const {
    throw Failure(kUndecodable, source_, "not a document in JSON: " + why);
  }

 private:
  std::string Name(const std::string& key, const std::string& within) const {
    Node node{Node::kText, key, {}, {}};
    return Text(node, "a name" + within);
  }

  // A name as messages show it: quoted, and as JSON spells it, so any byte can be seen.
  static std::string Quoted(const std::string& name) {
    return Json(name).dump(-1, ' ', false, Json::error_handler_t::replace);
  }

  const std::string& source_;
  Encoding encoding_;
};

}  // namespace

Json TextToJson(std::string_view text, Encoding encoding) {
  if (encoding == Encoding::kLatin1) return Latin1ToUtf8(text);
  if (IsUtf8(text)) return std::string(text);
  Json tagged = Json::object();
  AppendMember(tagged, "latin1", Latin1ToUtf8(text));
  return tagged;
}

std::string GroupToJson(const Group& group, Encoding encoding) {
  return GroupJson(group, encoding).dump(2) + "\n";
}

std::string DocumentToJson(const Store& store, Encoding encoding) {
  std::vector<std::pair<std::string_view, const Group*>> groups;
  groups.reserve(static_cast<size_t>(store.GroupCount()));
  store.ForEachGroup([&](const Group& g) { groups.emplace_back(g.name(), &g); });
  return Members(groups, encoding, [&](const Group* g) { return GroupJson(*g, encoding); })
             .dump(2) +
         "\n";
}

void ImportJson(Store& store, const std::string& json, const std::string& source, Encoding encoding,
                const std::string* group) {
  TreeBuilder tree;
  if (!Json::sax_parse(json, &tree)) {
    throw Failure(kUndecodable, source, "not valid JSON: " + tree.error);
  }
  // Everything is read into a scratch document first, so that a fault half way sets
  // nothing; then it is merged into the document in its order.
  const std::unique_ptr<Store> scratch = MakeTemporaryStore(store);
  const Reader reader(source, encoding);
  if (group != nullptr) {
    reader.ReadGroup(*scratch, *group, tree.root);
  } else {
    reader.ForEachPair(tree.root, "the document", "",
                       [&](const std::string& name, const Node& items) {
                         reader.ReadGroup(*scratch, name, items);
                       });
  }
  // Groups without items come over too: MergeStore only carries items.
  scratch->ForEachGroup([&](const Group& g) { store.MakeGroup(g.name()); });
  MergeStore(store, scratch.get(), true);
}

}  // namespace vellix::cli
