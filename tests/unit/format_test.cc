// The INI text form: escapes, the parser's lines, headers, repeat policies, quoting and
// subgroups, the writer's layout, and round trips of random documents through both.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "format/lookup.h"
#include "format/scan.h"
#include "format/text.h"
#include "store/store.h"

namespace vellix {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;
using Names = std::vector<std::string>;

Names GroupNames(const Store& s) {
  Names out;
  s.ForEachGroup([&](const Group& g) { out.push_back(g.name()); });
  return out;
}

Pairs Items(const Store& s, std::string_view g) {
  Pairs out;
  if (const Group* grp = s.FindGroup(g)) {
    grp->ForEachItem([&](const Item& it) { out.emplace_back(it.name(), it.value()); });
  }
  return out;
}

struct Counter final : StoreListener {
  static inline std::vector<int> flags;
  void Notify(int f) override { flags.push_back(f); }
  static int Count(int f) {
    int n = 0;
    for (int x : flags) n += x == f;
    return n;
  }
};

class FormatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.settings().autoSave = false;
    Counter::flags.clear();
  }
  void Parse(std::string_view text) { ParseText(store, text); }
  Store store;
};

// ------------------------------------------------------------------ escapes

// The encoder as a series of passes, each over the output of the one before: the reference
// the one-pass encoder must match for every new-line text.
std::string ReferenceEscape(std::string s, bool edge, bool equals, const std::string& nl) {
  auto replaceAll = [](std::string in, const std::string& what, const std::string& with) {
    std::string out;
    size_t at = 0;
    for (size_t hit; (hit = in.find(what, at)) != std::string::npos; at = hit + what.size()) {
      out.append(in, at, hit - at);
      out.append(with);
    }
    out.append(in, at, std::string::npos);
    return out;
  };
  s = replaceAll(s, "\\", "\\\\");
  s = replaceAll(s, "\"", "\\q");
  s = replaceAll(s, "\t", "\\t");
  s = replaceAll(s, nl, "\\n");
  if (edge && !s.empty() && s.front() == ' ') s.replace(0, 1, "\\_");
  if (edge && !s.empty() && s.back() == ' ') s.replace(s.size() - 1, 1, "\\_");
  if (equals) s = replaceAll(s, "=", "\\=");
  return s;
}

TEST(Escape, TableAndEdges) {
  const std::string_view nl = "\r\n";
  EXPECT_EQ(EscapeText("\\q", true, false, false, nl), "\\\\q");
  EXPECT_EQ(UnescapeText("\\\\q", Decode::kAlways, false, nl), "\\q");
  EXPECT_EQ(EscapeText(" ", true, true, false, nl), "\\_");
  EXPECT_EQ(EscapeText("  a", true, true, false, nl), "\\_ a");
  EXPECT_EQ(EscapeText(" a b ", true, true, false, nl), "\\_a b\\_");
  EXPECT_EQ(EscapeText(" a ", true, false, false, nl), " a ");
  EXPECT_EQ(EscapeText("a\"b\tc\r\nd=e", true, false, true, nl), "a\\qb\\tc\\nd\\=e");
  EXPECT_EQ(EscapeText("a\\\"=\t", false, true, true, nl), "a\\\"=\t");
  // Lone CR or LF is not the new-line text and stays as it is.
  EXPECT_EQ(EscapeText("a\rb\nc", true, false, false, nl), "a\rb\nc");
  EXPECT_EQ(EscapeText("a|b", true, false, false, "|"), "a\\nb");
}

TEST(Escape, DecoderModesAndUnknownSequences) {
  const std::string_view nl = "<br>";
  EXPECT_EQ(UnescapeText("a\\xb", Decode::kAlways, false, nl), "ab");
  EXPECT_EQ(UnescapeText("ab\\", Decode::kAlways, false, nl), "ab");
  EXPECT_EQ(UnescapeText("\\q\\\"\\_\\t\\n\\\\", Decode::kAlways, false, nl), "\"\" \t<br>\\");
  // Group and value decoding does not know "\=", "\;" or "\[".
  EXPECT_EQ(UnescapeText("\\=\\;\\[", Decode::kAlways, false, nl), "");
  EXPECT_EQ(UnescapeText("a\\tb", Decode::kNever, true, nl), "a\\tb");
  EXPECT_EQ(UnescapeText("a\\tb", Decode::kWhenValuesEscaped, false, nl), "a\\tb");
  EXPECT_EQ(UnescapeText("a\\tb", Decode::kWhenValuesEscaped, true, nl), "a\tb");
}

TEST(Escape, OnePassMatchesThePassesForAnyNewLine) {
  std::mt19937 rng(7);
  const std::string alphabet = "ab qt\\\"\t=n_|\r\n";
  const std::vector<std::string> newLines = {"\r\n", "|",   "\n", "ab", "q",  "\\",
                                             "\"",   "a a", " ",  "=",  "t=", "aab"};
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int len = static_cast<int>(rng() % 12);
    for (int i = 0; i < len; ++i) text.push_back(alphabet[rng() % alphabet.size()]);
    const std::string& nl = newLines[rng() % newLines.size()];
    const bool edge = rng() % 2;
    const bool equals = rng() % 2;
    ASSERT_EQ(EscapeText(text, true, edge, equals, nl), ReferenceEscape(text, edge, equals, nl))
        << "text '" << text << "' nl '" << nl << "'";
  }
}

TEST(Escape, EncodedTextsDecodeBack) {
  std::mt19937 rng(11);
  const std::string alphabet = "ab \\\"\tq=;[\r\n";
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int len = static_cast<int>(rng() % 10);
    for (int i = 0; i < len; ++i) text.push_back(alphabet[rng() % alphabet.size()]);
    ASSERT_EQ(
        UnescapeText(EscapeText(text, true, true, false, "\r\n"), Decode::kAlways, false, "\r\n"),
        text);
    std::string scratch;
    ItemLineParts parts;
    const std::string line = EscapeText(text, true, true, true, "\r\n") + "=v=w";
    ASSERT_TRUE(SplitItemLine(line, true, "\r\n", scratch, parts));
    EXPECT_EQ(parts.name, text);
    EXPECT_EQ(parts.value, "v=w");
  }
}

TEST(Escape, SplitItemLine) {
  std::string scratch;
  ItemLineParts parts;
  ASSERT_TRUE(SplitItemLine("a=b=c", false, "\r\n", scratch, parts));
  EXPECT_EQ(parts.name, "a");
  EXPECT_EQ(parts.value, "b=c");
  EXPECT_FALSE(SplitItemLine("abc", false, "\r\n", scratch, parts));
  ASSERT_TRUE(SplitItemLine("a\\=b=c\\t", true, "\r\n", scratch, parts));
  EXPECT_EQ(parts.name, "a=b");
  EXPECT_EQ(parts.value, "c\\t");  // the value is left to the value decoder
  ASSERT_TRUE(SplitItemLine("\\;x\\[\\y\\n=", true, "|", scratch, parts));
  EXPECT_EQ(parts.name, ";x[|");
  EXPECT_EQ(parts.value, "");
  EXPECT_FALSE(SplitItemLine("a\\=b", true, "\r\n", scratch, parts));
  EXPECT_FALSE(SplitItemLine("ab\\", true, "\r\n", scratch, parts));
}

TEST(Escape, NewLineFinderFindsWhatFindFinds) {
  std::mt19937 rng(3);
  for (int round = 0; round < 3000; ++round) {
    std::string needle;
    const int m = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < m; ++i) needle.push_back("ab"[rng() % 2]);
    std::string text;
    const int n = static_cast<int>(rng() % 20);
    for (int i = 0; i < n; ++i) text.push_back("ab"[rng() % 2]);
    const NewLineFinder finder(needle);
    const size_t from = n ? rng() % (n + 1) : 0;
    ASSERT_EQ(finder.Find(text, from), text.find(needle, from)) << needle << " in " << text;
  }
}

// ------------------------------------------------------------------ parser: lines

TEST_F(FormatTest, LinesEndAtCrLfCrOrLf) {
  Parse("[g]\r\na=1\rb=2\nc=3\r\n\r\n\n\rd=4");
  EXPECT_EQ(Items(store, "g"), (Pairs{{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}}));
}

TEST_F(FormatTest, CustomNewLine) {
  store.settings().SetNewLine("|");
  Parse("[g]|k=v");
  EXPECT_EQ(Items(store, "g"), (Pairs{{"k", "v"}}));

  Store other;
  other.settings().autoSave = false;
  other.settings().SetNewLine("<br>");
  // CR and LF are ordinary bytes here: they stay inside values.
  ParseText(other, "[g]<br>a=x\r\ny<br>b=<br");
  EXPECT_EQ(Items(other, "g"), (Pairs{{"a", "x\r\ny"}, {"b", "<br"}}));
}

TEST_F(FormatTest, CommentsItemsBeforeHeadersAndBadLines) {
  Parse("x=0\n; c=1\n  ;also=comment\nnoequals\n[g]\n  a  =  1  \n[bad ;x\nb=2");
  EXPECT_EQ(GroupNames(store), (Names{"", "g"}));
  EXPECT_EQ(Items(store, ""), (Pairs{{"x", "0"}}));
  // The header without its closing bracket leaves the current group as it was.
  EXPECT_EQ(Items(store, "g"), (Pairs{{"a", "1"}, {"b", "2"}}));
}

TEST_F(FormatTest, TextEndsAtTheFirstZeroByte) {
  const std::string text("[g]\na=1\0\nb=2", 12);
  Parse(text);
  EXPECT_EQ(Items(store, "g"), (Pairs{{"a", "1"}}));
}

TEST_F(FormatTest, QuotesAndTrimming) {
  Parse("[g]\na=  \" padded \"  \nb=\"\nc=\"x\ny=\"\"\nz=a\"b\"");
  EXPECT_EQ(Items(store, "g"),
            (Pairs{{"a", " padded "}, {"b", ""}, {"c", "\"x"}, {"y", ""}, {"z", "a\"b\""}}));
  Store quoted;
  quoted.settings().autoSave = false;
  quoted.settings().alwaysQuote = true;
  ParseText(quoted, "[g]\na=\" x \"");
  EXPECT_EQ(Items(quoted, "g"), (Pairs{{"a", "\" x \""}}));
}

TEST_F(FormatTest, EscapesFollowTheirSwitches) {
  const std::string text = "[a\\tb]\nn\\=m=v\\tw";
  Parse(text);
  EXPECT_EQ(GroupNames(store), (Names{"a\\tb"}));
  EXPECT_EQ(Items(store, "a\\tb"), (Pairs{{"n\\", "m=v\\tw"}}));

  Store esc;
  esc.settings().autoSave = false;
  esc.settings().escapeGroups = esc.settings().escapeItemNames = esc.settings().escapeValues = true;
  ParseText(esc, text);
  EXPECT_EQ(GroupNames(esc), (Names{"a\tb"}));
  EXPECT_EQ(Items(esc, "a\tb"), (Pairs{{"n=m", "v\tw"}}));
}

TEST_F(FormatTest, EscapedBlanksAtTheEndsOfNamesStay) {
  store.settings().escapeItemNames = true;
  Parse("[g]\n\\_a\\_  =1\n\\tb\\t=2\nc  =3");
  EXPECT_EQ(Items(store, "g"), (Pairs{{" a ", "1"}, {"\tb\t", "2"}, {"c", "3"}}));
}

// ------------------------------------------------------------------ parser: repeats

TEST_F(FormatTest, GroupRepeatPolicies) {
  const std::string text = "[a]\nx=1\n[a]\ny=2\n[a]\nz=3";
  store.settings().groupRepeatMode = 2;
  Parse(text);
  EXPECT_EQ(GroupNames(store), (Names{"a", "a.1", "a.2"}));
  EXPECT_EQ(Items(store, "a.2"), (Pairs{{"z", "3"}}));

  Store merge, first, last;
  for (Store* s : {&merge, &first, &last}) s->settings().autoSave = false;
  merge.settings().groupRepeatMode = 3;
  first.settings().groupRepeatMode = 0;
  last.settings().groupRepeatMode = 1;
  for (Store* s : {&merge, &first, &last}) ParseText(*s, text);
  EXPECT_EQ(Items(merge, "a"), (Pairs{{"x", "1"}, {"y", "2"}, {"z", "3"}}));
  EXPECT_EQ(Items(first, "a"), (Pairs{{"x", "1"}}));
  EXPECT_EQ(Items(last, "a"), (Pairs{{"z", "3"}}));
}

TEST_F(FormatTest, RenamedGroupsSkipTakenNumbers) {
  store.settings().groupRepeatMode = 2;
  store.settings().allowEmptyGroups = false;
  Parse("[a]\nx=1\n[a.1]\nx=2\n[a]\n[a]\ny=3\n[A]\nz=4");
  // The second [a] has no items: a.2 is not made, so the third one takes it.
  // The number goes after the name as the repeated header spells it.
  EXPECT_EQ(GroupNames(store), (Names{"a", "a.1", "a.2", "A.3"}));
  EXPECT_EQ(Items(store, "a.2"), (Pairs{{"y", "3"}}));
  EXPECT_EQ(Items(store, "A.3"), (Pairs{{"z", "4"}}));
}

TEST_F(FormatTest, ItemRepeatPolicies) {
  const std::string text = "[g]\nx=1\nx.1=a\nx=2\nX=3";
  store.settings().itemRepeatMode = 2;
  Parse(text);
  EXPECT_EQ(Items(store, "g"), (Pairs{{"x", "1"}, {"x.1", "a"}, {"x.2", "2"}, {"X.3", "3"}}));

  Store first, last;
  first.settings().autoSave = last.settings().autoSave = false;
  first.settings().itemRepeatMode = 0;
  last.settings().itemRepeatMode = 1;
  ParseText(first, text);
  ParseText(last, text);
  EXPECT_EQ(Items(first, "g"), (Pairs{{"x", "1"}, {"x.1", "a"}}));
  EXPECT_EQ(Items(last, "g"), (Pairs{{"X", "3"}, {"x.1", "a"}}));
}

TEST_F(FormatTest, ManyRepeatsOfOneName) {
  store.settings().itemRepeatMode = 2;
  std::string text = "[g]\n";
  for (int i = 0; i < 20000; ++i) text += "x=v\n";
  Parse(text);
  ASSERT_EQ(store.ItemCount("g"), 20000);
  EXPECT_EQ(store.NthItemName("g", 20000, ""), "x.19999");
}

TEST_F(FormatTest, RenameAfterLastPolicyStartsAfresh) {
  store.settings().groupRepeatMode = 1;
  store.settings().itemRepeatMode = 2;
  Parse("[g]\nx=1\nx=2\nx=3\n[g]\nx=4\nx=5");
  EXPECT_EQ(Items(store, "g"), (Pairs{{"x", "4"}, {"x.1", "5"}}));
}

// ------------------------------------------------------------------ parser: groups

TEST_F(FormatTest, EmptyGroupsAndHeadersWithoutBracket) {
  Parse("[a]\n[b]\nk=1\n[c] ;note\nm=2");
  EXPECT_EQ(GroupNames(store), (Names{"a", "b"}));
  EXPECT_EQ(Items(store, "b"), (Pairs{{"k", "1"}, {"m", "2"}}));

  Store noEmpty;
  noEmpty.settings().autoSave = false;
  noEmpty.settings().allowEmptyGroups = false;
  noEmpty.MakeGroup("old");
  ParseText(noEmpty, "[a]\n[b]\nk=1");
  // Empty groups go at the end, those that were there before included.
  EXPECT_EQ(GroupNames(noEmpty), (Names{"b"}));
}

TEST_F(FormatTest, Subgroups) {
  store.settings().subgroups = true;
  Parse("[a]\n\t[b]\n\t\t[c]\n\t\tx=1\n\t[d]\n\ty=2\nz=3");
  EXPECT_EQ(Items(store, "a/b/c"), (Pairs{{"x", "1"}}));
  EXPECT_EQ(Items(store, "a/d"), (Pairs{{"y", "2"}}));
  // A line at level 0 below [a]'s level-1 child goes back to the path "a".
  EXPECT_EQ(Items(store, "a"), (Pairs{{"z", "3"}}));
  EXPECT_EQ(GroupNames(store), (Names{"a", "a/b", "a/b/c", "a/d"}));
}

TEST_F(FormatTest, BlankLinesDoNotLeaveASubgroup) {
  store.settings().subgroups = true;
  // A comment without indentation does leave the subgroup.
  Parse("[a]\n\t[b]\n\tx=1\n\n\t  \n\ty=2\r\n\r\n\tz=3\n;c\n\tw=4");
  EXPECT_EQ(Items(store, "a/b"), (Pairs{{"x", "1"}, {"y", "2"}, {"z", "3"}}));
  EXPECT_EQ(Items(store, "a"), (Pairs{{"w", "4"}}));
}

TEST_F(FormatTest, DeepIndentationAndLongLines) {
  store.settings().subgroups = true;
  const std::string tabs(100000, '\t');
  const std::string longValue(1 << 20, 'v');
  Parse("[a]\n" + tabs + "[b]\n" + tabs + "k=" + longValue + "\n" + tabs + "\t\tm=1");
  EXPECT_EQ(store.GetItem("a/b", "k", "").size(), longValue.size());
  EXPECT_EQ(store.GetItem("a/b", "m", ""), "1");

  Store custom;
  custom.settings().autoSave = false;
  custom.settings().SetNewLine("never-there");
  ParseText(custom, "[g]\nk=" + longValue);
  // One line: a header that does not end with "]" only makes sure the current group exists.
  EXPECT_EQ(GroupNames(custom), (Names{""}));
  EXPECT_EQ(custom.TotalItems(), 0);
}

// ------------------------------------------------------------------ parser: store steps

// The reader names the first line it did not take in as it stands; a text the writer made
// never has one, under any repeat policy.
TEST(FormatLoss, FirstLostLineAndWhatHappened) {
  struct Case {
    const char* text;
    int32_t groupRepeat, itemRepeat;
    size_t line;
    LineLoss what;
    const char* group;
    const char* item;
  };
  const Case cases[] = {
      {"[a]\nx=1\ny=2\n", kGroupRepeatMerge, kItemRepeatLast, 0, LineLoss::kNone, "", ""},
      {"[a]\n\tx = 1\n\ty = 2\n", kGroupRepeatMerge, kItemRepeatLast, 0, LineLoss::kNone, "", ""},
      {"; c\n[a]\nx:1\n", kGroupRepeatMerge, kItemRepeatLast, 3, LineLoss::kNotRead, "", ""},
      {"[a]\nkeywords =\n    one\n", kGroupRepeatMerge, kItemRepeatLast, 3, LineLoss::kContinuation,
       "", ""},
      {"[a]\ndir =\n\n    = src\n", kGroupRepeatMerge, kItemRepeatLast, 4, LineLoss::kContinuation,
       "", ""},
      {"[a]\nx=1\n[b\ny=2\n", kGroupRepeatMerge, kItemRepeatLast, 3, LineLoss::kBadHeader, "a", ""},
      {"[s]\nrun=a\nRun=b\n", kGroupRepeatMerge, kItemRepeatLast, 3, LineLoss::kItemReplaced, "s",
       "Run"},
      {"[s]\nrun=a\nrun=b\n", kGroupRepeatMerge, kItemRepeatFirst, 3, LineLoss::kItemDropped, "s",
       "run"},
      {"[s]\nrun=a\nrun=b\n", kGroupRepeatMerge, kItemRepeatRename, 0, LineLoss::kNone, "", ""},
      {"[a]\nx=1\n[b]\n[a]\ny=2\n", kGroupRepeatMerge, kItemRepeatLast, 4, LineLoss::kGroupMerged,
       "a", ""},
      {"[a]\nx=1\n[a]\n", kGroupRepeatLast, kItemRepeatLast, 3, LineLoss::kGroupReplaced, "a", ""},
      {"[a]\nx=1\n[a]\n", kGroupRepeatFirst, kItemRepeatLast, 3, LineLoss::kGroupDropped, "a", ""},
      {"[a]\nx=1\n[a]\n", kGroupRepeatRename, kItemRepeatLast, 0, LineLoss::kNone, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Store store;
    store.settings().autoSave = false;
    store.settings().groupRepeatMode = c.groupRepeat;
    store.settings().itemRepeatMode = c.itemRepeat;
    const ParseResult result = ParseText(store, c.text);
    EXPECT_EQ(result.loss.line, c.line);
    EXPECT_EQ(result.loss.what, c.what);
    EXPECT_EQ(result.loss.group, c.group);
    EXPECT_EQ(result.loss.item, c.item);
    if (c.line == 0) continue;
    // What the writer makes of the document reads back whole.
    Store back;
    back.settings() = store.settings();
    EXPECT_EQ(ParseText(back, WriteText(store)).loss.line, 0u);
  }
  Store store;
  const ParseResult crlf = ParseText(store, "[a]\r\nx=1\r\n[b]\r\ny=2");
  EXPECT_EQ(crlf.shape.lineEnd, LineEnd::kCrLf);
  EXPECT_FALSE(crlf.shape.finalLineEnd);
  const ParseResult lf = ParseText(store, "[a]\nx=1\n");
  EXPECT_EQ(lf.shape.lineEnd, LineEnd::kLf);
  EXPECT_TRUE(lf.shape.finalLineEnd);
  EXPECT_EQ(ParseText(store, "[a]").shape.lineEnd, LineEnd::kNone);
  ParseLoss cr{3, LineLoss::kBadHeader, "[b]\r", "a", ""};
  EXPECT_EQ(DescribeLoss(cr),
            "line 3 (\"[b]\\r\") is not a group header (no closing \"]\"): its items join group "
            "\"a\"");
}

// One UTF-8 byte-order mark before the first line is no part of it: the first header reads.
TEST_F(FormatTest, ByteOrderMarkIsSkipped) {
  Parse("\xEF\xBB\xBF[settings]\r\nvolume=7\r\n");
  EXPECT_EQ(GroupNames(store), Names{"settings"});
  EXPECT_EQ(Items(store, "settings"), (Pairs{{"volume", "7"}}));
  Store second;
  second.settings().autoSave = false;
  ParseText(second, "\xEF\xBB\xBF\xEF\xBB\xBFx=1");  // only one is a mark
  EXPECT_EQ(Items(second, ""), (Pairs{{"\xEF\xBB\xBFx", "1"}}));
}

TEST_F(FormatTest, LoadModesAndNotifications) {
  Counter counter;
  store.Attach(counter);
  store.SetItem("old", "k", "v");
  Counter::flags.clear();
  ParseText(store, "[n]\na=1\nb=2", {.clearFirst = true, .notifyAfter = true});
  EXPECT_EQ(GroupNames(store), (Names{"n"}));
  EXPECT_EQ(Counter::Count(kNotifyModified), 1);
  EXPECT_EQ(Counter::Count(kNotifyNewItem), 2);
  EXPECT_FALSE(store.quiet);

  Counter::flags.clear();
  ParseText(store, "[m]\nc=3");
  EXPECT_EQ(GroupNames(store), (Names{"n", "m"}));
  EXPECT_EQ(Counter::Count(kNotifyModified), 0);
  EXPECT_FALSE(store.quiet);
}

// ------------------------------------------------------------------ writer

TEST_F(FormatTest, WriterLayout) {
  EXPECT_EQ(WriteText(store), "");
  store.SetItem("g", "k", "v");
  EXPECT_EQ(WriteText(store), "[g]\r\nk=v");
  store.SetItem("h", "a", " lead");
  store.SetItem("h", "b", "in\"side");
  store.SetItem("h", "c", "\"both\"");
  store.SetItem("h", "d", "tab\t");
  store.MakeGroup("empty");
  EXPECT_EQ(WriteText(store),
            "[g]\r\nk=v\r\n[h]\r\na=\" lead\"\r\nb=in\"side\r\nc=\"\"both\"\"\r\nd=\"tab\t\"\r\n"
            "[empty]");
  store.settings().alwaysQuote = true;
  EXPECT_EQ(WriteText(store),
            "[g]\r\nk=v\r\n[h]\r\na= lead\r\nb=in\"side\r\nc=\"both\"\r\nd=tab\t\r\n[empty]");
  store.settings().SetNewLine("|");
  EXPECT_EQ(WriteText(store).substr(0, 9), "[g]|k=v|[");
}

TEST_F(FormatTest, WriterEscapes) {
  store.settings().escapeItemNames = store.settings().escapeValues = store.settings().escapeGroups =
      true;
  store.SetItem("g\"", ";x", " v ");
  store.SetItem("g\"", "[y", "a\r\nb");
  store.SetItem("g\"", "a=b", "\t");
  EXPECT_EQ(WriteText(store), "[g\\q]\r\n\\;x=\" v \"\r\n\\[y=a\\nb\r\na\\=b=\\t");
  store.settings().alwaysQuote = true;
  EXPECT_EQ(WriteText(store), "[g\\q]\r\n\\;x=\\_v\\_\r\n\\[y=a\\nb\r\na\\=b=\\t");
}

TEST_F(FormatTest, WriterRepeatedAsOriginal) {
  store.settings().saveRepeatedAsOriginal = true;
  store.SetItem("a.1", "x", "1");
  store.SetItem("a.1", "x.1", "2");
  store.SetItem("a.1", "y", "3");
  EXPECT_EQ(WriteText(store), "[a]\r\nx=1\r\nx=2\r\ny=3");
}

TEST_F(FormatTest, WriterSubgroups) {
  store.settings().subgroups = true;
  store.SetItem("a/b", "x", "1");
  store.SetItem("a/b/c", "y", "2");
  store.SetItem("a/d", "z", "3");
  EXPECT_EQ(WriteText(store), "[a]\r\n\t[b]\r\n\tx=1\r\n\t\t[c]\r\n\t\ty=2\r\n\t[d]\r\n\tz=3");
}

// Groups whose parents were written far above them (or come later) would be read under the
// wrong parent if only their last piece were written. The writer gives the reader the path
// it lacks, in the header itself where a parent line would repeat a group, so the text reads
// back the same under every group repeat policy.
TEST_F(FormatTest, SubgroupsInAnyCreationOrderReadBack) {
  store.settings().subgroups = true;
  store.settings().allowEmptyGroups = false;
  store.SetItem("a/b", "x", "1");
  store.SetItem("a", "y", "2");
  store.SetItem("c", "z", "3");
  store.SetItem("a/e", "w", "4");
  store.SetItem("a/b/f", "v", "5");
  const std::string text = WriteText(store);
  EXPECT_EQ(text,
            "[a/b]\r\nx=1\r\n[a]\r\ny=2\r\n[c]\r\nz=3\r\n[a/e]\r\nw=4\r\n"
            "[a/b/f]\r\nv=5");
  for (int mode = 0; mode < 4; ++mode) {
    Store back;
    back.settings().autoSave = false;
    back.settings().subgroups = true;
    back.settings().allowEmptyGroups = false;
    back.settings().groupRepeatMode = mode;
    ParseText(back, text);
    EXPECT_EQ(GroupNames(back), GroupNames(store)) << "mode " << mode;
    for (const std::string& g : GroupNames(store)) EXPECT_EQ(Items(back, g), Items(store, g));
  }
}

// A name of many pieces would need a tab per piece on every line below it: indentation
// stops at 32 levels and the deeper pieces travel in the header.
TEST_F(FormatTest, DeepSubgroupPathsStayCompact) {
  store.settings().subgroups = true;
  store.settings().allowEmptyGroups = false;
  std::string deep = "p";
  for (int i = 0; i < 5000; ++i) deep += "/p";
  store.SetItem(deep, "k", "v");
  store.SetItem(deep + "/q", "k", "w");
  const std::string text = WriteText(store);
  EXPECT_LT(text.size(), 4 * deep.size());
  EXPECT_EQ(text.find(std::string(33, '\t')), std::string::npos);
  Store back;
  back.settings().autoSave = false;
  back.settings().subgroups = true;
  back.settings().allowEmptyGroups = false;
  ParseText(back, text);
  EXPECT_EQ(GroupNames(back), GroupNames(store));
  EXPECT_EQ(back.GetItem(deep + "/q", "k", ""), "w");
}

// The text in pieces is the whole text: every layout the writer has (subgroup parent
// lines, names written as original, escapes, a new-line text of several bytes, whose last
// occurrence is held back until it is known not to end the text) across many pieces. A sink
// that stops the text gets nothing more; the whole text written into a string reuses it.
TEST_F(FormatTest, WriterPiecesAreTheWholeText) {
  struct Pieces final : TextSink {
    std::string joined;
    size_t count = 0;
    size_t stopAfter = SIZE_MAX;
    bool Take(char* data, size_t size) override {
      joined.append(data, size);
      return ++count < stopAfter;
    }
  };
  const std::string value(300, 'v');
  for (const std::string& newLine : {std::string(), std::string("<br>")}) {
    Store s;
    s.settings().autoSave = false;
    s.settings().subgroups = true;
    s.settings().saveRepeatedAsOriginal = true;
    s.settings().escapeValues = true;
    s.settings().SetNewLine(newLine);
    for (int g = 0; g < 60; ++g) {
      const std::string group = "top" + std::to_string(g % 3) + "/mid/g" + std::to_string(g) + ".1";
      for (int i = 0; i < 40; ++i) s.SetItem(group, "item" + std::to_string(i) + ".2", value + " ");
    }
    const std::string whole = WriteText(s);
    ASSERT_GT(whole.size(), size_t{600000});
    Pieces pieces;
    ASSERT_TRUE(WriteTextTo(s, pieces));
    EXPECT_GT(pieces.count, 3u);
    EXPECT_EQ(pieces.joined, whole);

    Pieces stopped;
    stopped.stopAfter = 2;
    EXPECT_FALSE(WriteTextTo(s, stopped));
    EXPECT_EQ(stopped.count, 2u);

    std::string reused = "old content";
    WriteText(s, reused);
    EXPECT_EQ(reused, whole);
    const char* memory = reused.data();
    WriteText(s, reused);
    EXPECT_EQ(reused, whole);
    EXPECT_EQ(reused.data(), memory);
  }
  Pieces none;
  EXPECT_TRUE(WriteTextTo(store, none));
  EXPECT_EQ(none.count, 0u);
}

// A group of many items is read with lookups fetched ahead and its index grown ahead of the
// lines still to come: hints only, so a large group reads exactly as a small one, also when
// the group is read afresh in the middle (the Last policy) and names repeat (Rename).
TEST_F(FormatTest, LargeGroupsReadAsSmallOnes) {
  store.settings().groupRepeatMode = 1;  // Last
  store.settings().itemRepeatMode = 2;   // Rename
  std::string text = "[big]\r\n";
  const int n = 70000;
  for (int i = 0; i < n; ++i)
    text += "Item" + std::to_string(i) + " = " + std::to_string(i) + "\r\n";
  text += "item7=again\r\n[other]\r\nx=1\r\n[BIG]\r\n";
  for (int i = 0; i < n; i += 2) text += "item" + std::to_string(i) + "=second\r\n";
  text += "item0=third";
  Parse(text);
  EXPECT_EQ(GroupNames(store), (Names{"other", "BIG"}));
  const Group* big = store.FindGroup("big");
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->size(), size_t{n / 2 + 1});
  EXPECT_EQ(store.GetItem("big", "item0", ""), "second");
  EXPECT_EQ(store.GetItem("big", "item0.1", ""), "third");
  EXPECT_EQ(store.GetItem("big", "item69998", ""), "second");
  EXPECT_FALSE(store.HasItem("big", "item1"));
  EXPECT_EQ(store.NthItemName("BIG", n / 2 + 1, ""), "item0.1");
}

// ------------------------------------------------------------------ round trips

struct Settings {
  bool escGroups, escNames, escValues, quote, subgroups, caseSensitive;
  std::string newLine;  // empty: standard
};

// Whether a text can travel as a group name (kind 0), an item name (1) or a value (2)
// under these settings.
bool Carried(const std::string& s, int kind, const Settings& st, const std::string& nl) {
  const bool escaped = kind == 0 ? st.escGroups : kind == 1 ? st.escNames : st.escValues;
  if (st.newLine.empty()) {
    // Only whole CR LF pairs can be encoded; any other CR or LF ends a line.
    std::string rest;
    for (size_t i = 0; i < s.size(); ++i) {
      if (escaped && s.compare(i, 2, "\r\n") == 0) {
        ++i;
      } else {
        rest.push_back(s[i]);
      }
    }
    if (rest.find_first_of("\r\n") != std::string::npos) return false;
  } else if (!escaped && s.find(nl) != std::string::npos) {
    return false;
  }
  const bool blankEdge =
      !s.empty() && (s.front() == ' ' || s.front() == '\t' || s.back() == ' ' || s.back() == '\t');
  switch (kind) {
    case 0:
      return true;
    case 1:
      return escaped || (!blankEdge && s.find('=') == std::string::npos &&
                         (s.empty() || (s[0] != ';' && s[0] != '[')));
    default:
      return escaped || !st.quote || !blankEdge;
  }
}

std::string RandomText(std::mt19937& rng, const std::string& alphabet) {
  std::string s;
  const int len = static_cast<int>(rng() % 7);
  for (int i = 0; i < len; ++i) s.push_back(alphabet[rng() % alphabet.size()]);
  return s;
}

void Configure(Store& s, const Settings& st) {
  s.settings().autoSave = false;
  s.settings().escapeGroups = st.escGroups;
  s.settings().escapeItemNames = st.escNames;
  s.settings().escapeValues = st.escValues;
  s.settings().alwaysQuote = st.quote;
  s.settings().subgroups = st.subgroups;
  s.SetCaseSensitive(st.caseSensitive);
  s.settings().SetNewLine(st.newLine);
}

// Documents made with SetItem, written and read back into an empty store with the same
// settings, come back with the same groups, items, values and orders. Subgroup documents
// are read without empty groups: parent lines of paths that are not groups would add them.
TEST(FormatRoundTrip, RandomDocumentsAcrossSettings) {
  std::mt19937 rng(2024);
  const std::vector<std::string> newLines = {"", "", "|", "<br>", "\n", "\r"};
  const std::string alphabet = "aAbz.0 \t\"\\=;[]|<\r\n";
  for (int round = 0; round < 1500; ++round) {
    Settings st{rng() % 2 == 0,
                rng() % 2 == 0,
                rng() % 2 == 0,
                rng() % 3 == 0,
                rng() % 3 == 0,
                rng() % 2 == 0,
                {}};
    st.newLine = newLines[rng() % newLines.size()];
    Store src;
    Configure(src, st);
    const std::string nl(src.NewLineText());
    const int groups = 1 + static_cast<int>(rng() % 5);
    for (int g = 0; g < groups; ++g) {
      std::string group;
      do group = RandomText(rng, alphabet);
      while (!Carried(group, 0, st, nl));
      if (st.subgroups && src.GroupCount() > 0 && rng() % 2) {
        group = src.NthGroupName(1 + rng() % src.GroupCount(), "") + "/" + group;
      }
      if (st.subgroups && rng() % 4 == 0) group += "/k";  // a child made before its parent
      const int items = 1 + static_cast<int>(rng() % 5);
      for (int i = 0; i < items; ++i) {
        std::string name;
        std::string value;
        do name = RandomText(rng, alphabet);
        while (!Carried(name, 1, st, nl));
        do value = RandomText(rng, alphabet);
        while (!Carried(value, 2, st, nl));
        src.SetItem(group, name, value);
      }
    }
    const std::string text = WriteText(src);

    Store back;
    Configure(back, st);
    back.settings().allowEmptyGroups = !st.subgroups;
    ParseText(back, text);
    ASSERT_EQ(GroupNames(back), GroupNames(src)) << "round " << round << " text:\n" << text;
    for (const std::string& g : GroupNames(src)) {
      ASSERT_EQ(Items(back, g), Items(src, g))
          << "round " << round << " group '" << g << "' text:\n"
          << text;
    }
  }
}

// ------------------------------------------------------------------ one item by scanning

// Whether a text has a header line without its closing bracket, its lines cut as the
// settings cut them.
bool HasUnclosedHeader(const std::string& text, const DocumentSettings& settings) {
  std::string cut = text.starts_with("\xEF\xBB\xBF") ? text.substr(3) : text;
  if (settings.standardNewLine()) {
    for (char& c : cut) c = c == '\r' ? '\n' : c;
  }
  const std::string nl = settings.standardNewLine() ? "\n" : settings.newLine();
  size_t pos = 0;
  while (pos <= cut.size()) {
    size_t end = cut.find(nl, pos);
    if (end == std::string::npos) end = cut.size();
    std::string line = cut.substr(pos, end - pos);
    line.erase(0, line.find_first_not_of(" \t"));
    line.erase(line.find_last_not_of(" \t") + 1);
    if (settings.escapeGroups)
      line = UnescapeText(line, Decode::kAlways, false, settings.NewLineText());
    if (!line.empty() && line[0] == '[' && (line.size() < 2 || line.back() != ']')) return true;
    pos = end + nl.size();
  }
  return false;
}

// LookupItem against the whole read: random texts made of lines that exercise every rule
// (repeated and differently spelt headers and names, headers without their bracket,
// comments, quotes, escapes, names with dots, blank lines, tabs, every line end), read with
// random settings, and every name asked for in each. Wherever the scan answers, its answer
// is the store's; it may decline only for the reasons it documents.
TEST(ItemLookupScan, EqualsTheWholeReadUnderEverySetting) {
  const std::vector<std::string> lines = {
      "[g]",     "[G]",     "[h]",    "[g.1]",  "[]",       "[ g ]", "[g",      "[",
      "[g\\]]",  "[\\x67]", "; c=1",  "a=1",    "A = 2 ",   "a=",    "b=\"q\"", "a=\"x",
      "a.1=r",   "=e",      "\\a=5",  "a\\==6", "a=\\n|",   "no",    "",        "  \t ",
      "\ta=\t7", "b=8;9",   "a=\"\"", "A.1=s",  "b = \" \""};
  const std::vector<std::string> ends = {"\r\n", "\n", "\r", "|", "ab"};
  const std::vector<std::string> newLines = {"", "", "\n", "|", "ab"};
  const std::vector<std::string> groups = {"g", "G", "h", "g.1", "", " g ", "x", "g]"};
  const std::vector<std::string> items = {"a", "A", "b", "a.1", "", "\\a", "a=", "zz"};
  std::mt19937 rng(77);
  size_t sure = 0;
  size_t asked = 0;
  for (int round = 0; round < 3000; ++round) {
    DocumentSettings settings;
    const int32_t groupModes[] = {0, 1, 2, 3, 3, 9};
    const int32_t itemModes[] = {0, 1, 1, 2, 5};
    settings.groupRepeatMode = groupModes[rng() % 6];
    settings.itemRepeatMode = itemModes[rng() % 5];
    settings.escapeValues = rng() % 3 == 0;
    settings.escapeItemNames = rng() % 3 == 0;
    settings.escapeGroups = rng() % 3 == 0;
    settings.alwaysQuote = rng() % 4 == 0;
    settings.allowEmptyGroups = rng() % 2 == 0;
    settings.subgroups = rng() % 10 == 0;
    settings.SetNewLine(newLines[rng() % newLines.size()]);
    settings.autoSave = false;
    const bool cs = rng() % 2 == 0;
    // Control and zero bytes in a few texts only: the scan leaves those to the whole read.
    const bool special = rng() % 20 == 0;
    // Headers without their bracket in half the texts (more come from mixed line ends):
    // where repeated groups keep their first, the scan leaves those to the whole read.
    const bool unclosed = rng() % 2 == 0;

    // Lines that end otherwise than the settings say in a third of the texts.
    const bool mixedEnds = rng() % 3 == 0;
    std::string text;
    const int count = static_cast<int>(rng() % 14);
    for (int i = 0; i < count; ++i) {
      std::string line = lines[rng() % lines.size()];
      if (!unclosed && (line == "[g" || line == "[")) continue;
      text += line;
      const bool otherEnd = mixedEnds && rng() % 2 == 0;
      text += otherEnd ? ends[rng() % ends.size()] : std::string(settings.NewLineText());
    }
    if (special) text.insert(rng() % (text.size() + 1), 1, "\x01\x00\x7f"[rng() % 3]);
    if (rng() % 8 == 0) text.insert(0, "\xEF\xBB\xBF");  // a byte-order mark

    const bool firstAndUnclosed = settings.groupRepeatMode == kGroupRepeatFirst &&
                                  HasUnclosedHeader(text.substr(0, text.find('\0')), settings);
    // With a new-line text of its own, a CR or LF outside it is left to the whole read.
    bool strayLineEnd = false;
    for (const char c : text) {
      const bool lineEnd = c == '\r' || c == '\n';
      if (lineEnd && !settings.standardNewLine() &&
          settings.newLine().find(c) == std::string::npos) {
        strayLineEnd = true;
      }
    }
    Store store;
    store.settings() = settings;
    store.SetCaseSensitive(cs);
    ParseText(store, text);

    for (const std::string& g : groups) {
      for (const std::string& i : items) {
        ++asked;
        const ItemLookup got = LookupItem(text, settings, cs, g, i);
        const std::string where =
            "round " + std::to_string(round) + " [" + g + "] " + i +
            " text: " + ::testing::PrintToString(text) + " settings: groups " +
            std::to_string(settings.groupRepeatMode) + " items " +
            std::to_string(settings.itemRepeatMode) + " escapes " +
            std::to_string(settings.escapeGroups) + std::to_string(settings.escapeItemNames) +
            std::to_string(settings.escapeValues) + " quote " +
            std::to_string(settings.alwaysQuote) + " empty " +
            std::to_string(settings.allowEmptyGroups) + " case " + std::to_string(cs) +
            " new line " + ::testing::PrintToString(std::string(settings.NewLineText()));
        // The text in random pieces, as a file is read, gives the same answer.
        ItemScan scan(settings, cs, g, i);
        std::string rest;
        for (size_t at = 0; at < text.size();) {
          const size_t n = std::min<size_t>(1 + rng() % 6, text.size() - at);
          rest.append(text, at, n);
          at += n;
          rest.erase(0, scan.Take(rest));
        }
        const ItemLookup pieces = scan.Finish(rest);
        ASSERT_EQ(pieces.outcome, got.outcome) << where;
        EXPECT_EQ(pieces.group, got.group) << where;
        EXPECT_EQ(pieces.item, got.item) << where;
        EXPECT_EQ(pieces.value, got.value) << where;
        const bool renames =
            (settings.groupRepeatMode == kGroupRepeatRename && g.find('.') != std::string::npos) ||
            (settings.itemRepeatMode == kItemRepeatRename && i.find('.') != std::string::npos);
        const bool mayDecline = special || strayLineEnd || settings.subgroups ||
                                settings.groupRepeatMode == 9 || renames || firstAndUnclosed;
        if (got.outcome == ItemLookup::Outcome::kUnsure) {
          ASSERT_TRUE(mayDecline) << where;
          continue;
        }
        ++sure;
        const Group* group = store.FindGroup(g);
        if (group == nullptr) {
          ASSERT_EQ(got.outcome, ItemLookup::Outcome::kNoGroup) << where;
          continue;
        }
        ASSERT_NE(got.outcome, ItemLookup::Outcome::kNoGroup) << where;
        EXPECT_EQ(got.group, group->name()) << where;
        const Item* item = group->Find(i, cs);
        if (item == nullptr) {
          ASSERT_EQ(got.outcome, ItemLookup::Outcome::kNoItem) << where;
          continue;
        }
        ASSERT_EQ(got.outcome, ItemLookup::Outcome::kFound) << where;
        EXPECT_EQ(got.item, item->name()) << where;
        EXPECT_EQ(got.value, item->value()) << where;
        // Every line of the item: the document keeps the first of them where repeats are
        // dropped or renamed, the last where the last one wins.
        const ItemLookup every = LookupItem(text, settings, cs, g, i, LookupValues::kEvery);
        ASSERT_EQ(every.outcome, ItemLookup::Outcome::kFound) << where;
        ASSERT_FALSE(every.values.empty()) << where;
        const int32_t mode = settings.itemRepeatMode;
        if (mode == kItemRepeatFirst || mode == kItemRepeatRename) {
          EXPECT_EQ(every.values.front(), got.value) << where;
        } else if (mode == kItemRepeatLast) {
          EXPECT_EQ(every.values.back(), got.value) << where;
        }
      }
    }
  }
  EXPECT_GT(sure, asked / 2);
}

// The line-end scan finds what a loop over single bytes finds, in the wide and the word form,
// wherever the line end lies against the blocks they read and whatever bytes surround it
// (bytes that differ from CR or LF in one bit, high bytes, zero).
TEST(Scan, LineEndsAsOneByteAtATime) {
  const std::string fillers = {'a', '\x0c', '\x0e', '\x0b', '\x8d', '\x8a', '\xff', '\0', '='};
  std::mt19937 rng(7);
  for (int round = 0; round < 4000; ++round) {
    std::string text(rng() % 70, 'x');
    for (char& c : text) c = fillers[rng() % fillers.size()];
    const int ends = static_cast<int>(rng() % 3);
    for (int i = 0; i < ends && !text.empty(); ++i) text[rng() % text.size()] = "\r\n"[rng() % 2];
    for (size_t from = 0; from <= std::min<size_t>(text.size(), 17); ++from) {
      const char* begin = text.data() + from;
      const char* end = text.data() + text.size();
      const char* expected = begin;
      while (expected < end && *expected != '\r' && *expected != '\n') ++expected;
      ASSERT_EQ(scan::FindLineEnd(begin, end), expected) << round << " from " << from;
      ASSERT_EQ(scan::FindLineEndInWords(begin, end), expected) << round << " from " << from;
    }
  }
}

// ------------------------------------------------------------------ text in pieces

// A text handed out in the pieces a list of cut positions makes.
class PiecesOf final : public TextSource {
 public:
  PiecesOf(std::string_view text, std::vector<size_t> cuts) : text_(text), cuts_(std::move(cuts)) {
    cuts_.push_back(text.size());
  }
  bool Next(std::string_view& piece) override {
    if (next_ >= cuts_.size()) return false;
    const size_t end = cuts_[next_++];
    piece = text_.substr(at_, end - at_);
    at_ = end;
    return true;
  }

 private:
  std::string_view text_;
  std::vector<size_t> cuts_;
  size_t next_ = 0;
  size_t at_ = 0;
};

// Everything a parse leaves and says, in one text to compare.
std::string Outcome(const Store& s, const ParseResult& r) {
  std::string out = "refused " + std::to_string(r.refused) + " entries " +
                    std::to_string(r.entries) + " lost " + std::to_string(r.loss.line) + " " +
                    std::to_string(static_cast<int>(r.loss.what)) + " " + r.loss.text + "|" +
                    r.loss.group + "|" + r.loss.item + " shape " +
                    std::to_string(static_cast<int>(r.shape.lineEnd)) +
                    std::to_string(r.shape.finalLineEnd) + "\n";
  s.ForEachGroup([&](const Group& g) {
    out.append("[").append(g.name()).append("]\n");
    g.ForEachItem(
        [&](const Item& it) { out.append(it.name()).append("=").append(it.value()).append("\n"); });
  });
  return out;
}

// However a text is cut into pieces (at every position, in runs of every small size, with
// empty pieces between), the parse leaves the store exactly as the whole text does and
// says the same: line ends split between pieces (CR | LF, a custom new line cut anywhere),
// a byte-order mark or a zero byte cut up, escapes, subgroups and every repeat policy.
TEST(ParseInPieces, AnyCutReadsAsTheWholeText) {
  const std::vector<std::string> lines = {
      "[g]",   "[G]",     "[h]",       "\t[s]",   "\t\t[t]", "[g",      "a=1",    "A = 2 ",
      "a=",    "b=\"q\"", "\\a=5",     "a\\==6",  "a=\\n|",  "no",      "",       "  \t ",
      "\ta=7", "; c=1",   "b = \" \"", "x=\\x41", "[g\\]]",  "\t\tz=9", "y=1ab2", "k=v|w"};
  const std::vector<std::string> ends = {"\r\n", "\n", "\r", "|", "ab", "aab"};
  const std::vector<std::string> newLines = {"", "", "|", "ab", "aab", "\n"};
  std::mt19937 rng(4242);
  for (int round = 0; round < 2000; ++round) {
    DocumentSettings settings;
    settings.groupRepeatMode = static_cast<int32_t>(rng() % 4);
    settings.itemRepeatMode = static_cast<int32_t>(rng() % 3);
    settings.escapeValues = rng() % 2 == 0;
    settings.escapeItemNames = rng() % 3 == 0;
    settings.escapeGroups = rng() % 3 == 0;
    settings.alwaysQuote = rng() % 4 == 0;
    settings.allowEmptyGroups = rng() % 2 == 0;
    settings.subgroups = rng() % 3 == 0;
    settings.SetNewLine(newLines[rng() % newLines.size()]);
    settings.autoSave = false;
    std::string text;
    const int count = static_cast<int>(rng() % 12);
    for (int i = 0; i < count; ++i) {
      text += lines[rng() % lines.size()];
      text += rng() % 3 == 0 ? ends[rng() % ends.size()] : std::string(settings.NewLineText());
    }
    if (rng() % 6 == 0) text.insert(0, "\xEF\xBB\xBF");
    if (rng() % 8 == 0) text.insert(rng() % (text.size() + 1), 1, '\0');
    const bool clear = rng() % 2 == 0;
    const auto run = [&](const std::vector<size_t>* cuts) {
      Store s;
      s.settings() = settings;
      s.SetItem("before", "k", "v");
      ParseResult r;
      if (cuts == nullptr) {
        r = ParseText(s, text, {.clearFirst = clear});
      } else {
        PiecesOf pieces(text, *cuts);
        r = ParseTextFrom(s, pieces, {.clearFirst = clear});
      }
      return Outcome(s, r);
    };
    const std::string whole = run(nullptr);
    const std::string where = "round " + std::to_string(round) + " text " +
                              ::testing::PrintToString(text) + " new line " +
                              ::testing::PrintToString(std::string(settings.NewLineText()));
    for (size_t at = 0; at <= text.size(); ++at) {
      const std::vector<size_t> cuts = {at, at};  // with an empty piece at the cut
      ASSERT_EQ(run(&cuts), whole) << where << " cut at " << at;
    }
    for (size_t size = 1; size <= 7; ++size) {
      std::vector<size_t> cuts;
      for (size_t at = size; at < text.size(); at += size) cuts.push_back(at);
      ASSERT_EQ(run(&cuts), whole) << where << " pieces of " << size;
    }
  }
}

// A line too long for an item is found when it comes; what was read before it is taken
// back, and the store is as it was. Lines that fit, however cut, are read.
TEST(ParseInPieces, ALineTooLongRefusesTheWholeText) {
  struct Limit {
    explicit Limit(size_t n) { ItemLengthLimit() = n; }
    ~Limit() { ItemLengthLimit() = UINT32_MAX; }
  } limit(8);
  for (const std::string newLine : {"", "|", "ab"}) {
    Store s;
    s.settings().autoSave = false;
    s.settings().SetNewLine(newLine);
    const std::string nl(s.NewLineText());
    s.SetItem("keep", "k", "v");
    const std::string fits = "[g]" + nl + "a=123456" + nl + "b=1";
    const std::string longer = "[g]" + nl + "a=1234567" + nl + "b=1";
    for (size_t at = 0; at <= longer.size(); ++at) {
      PiecesOf cutFits(fits, {std::min(at, fits.size())});
      EXPECT_FALSE(ParseTextFrom(s, cutFits).refused);
      EXPECT_EQ(Items(s, "g"), (Pairs{{"a", "123456"}, {"b", "1"}}));
      s.DeleteGroup("g");
      PiecesOf cutLonger(longer, {at});
      EXPECT_TRUE(ParseTextFrom(s, cutLonger).refused) << at;
      EXPECT_EQ(GroupNames(s), Names{"keep"}) << at;
    }
  }
}

// A text longer than an item can hold is left to the whole read, which refuses it.
TEST(ItemLookupScan, DeclinesTextsLongerThanAnItem) {
  const size_t saved = ItemLengthLimit();
  ItemLengthLimit() = 8;
  DocumentSettings settings;
  EXPECT_EQ(LookupItem("[g]\na=1", settings, false, "g", "a").outcome, ItemLookup::Outcome::kFound);
  EXPECT_EQ(LookupItem("[g]\na=123456789", settings, false, "g", "a").outcome,
            ItemLookup::Outcome::kUnsure);
  ItemLengthLimit() = saved;
}

}  // namespace
}  // namespace vellix
