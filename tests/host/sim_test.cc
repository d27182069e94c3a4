// The simulated host: the scenario lexer, the printed forms, and the host driving the real
// module through its exported entry points.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "host.h"
#include "printing.h"
#include "runner.h"
#include "token.h"

namespace vxsim {
namespace {

TEST(SimTokens, ClassifiesEveryKind) {
  Token text = ParseToken(R"("a \"b\"\\ \n\r\t\x41\0z")");
  EXPECT_EQ(text.kind, TokenKind::Text);
  EXPECT_EQ(text.text, std::string("a \"b\"\\ \n\r\tA\0z", 13));

  for (const char* n : {"7", "-7", "2.5", "-0.25", "007", "100.0"})
    EXPECT_EQ(ParseToken(n).kind, TokenKind::Number) << n;
  for (const char* w : {"-", "1.", ".5", "1e5", "--1", "a=1", "x-1"})
    EXPECT_EQ(ParseToken(w).kind, TokenKind::Word) << w;

  Token object = ParseToken("@ini");
  EXPECT_EQ(object.kind, TokenKind::Object);
  EXPECT_EQ(object.text, "ini");

  Token block = ParseToken("[1,-1,255,-128]");
  EXPECT_EQ(block.kind, TokenKind::Block);
  EXPECT_EQ(block.block, (std::vector<int8_t>{1, -1, -1, -128}));
  EXPECT_TRUE(ParseToken("[]").block.empty());

  Token position = ParseToken("<-1,20>");
  EXPECT_EQ(position.kind, TokenKind::Position);
  EXPECT_EQ(static_cast<uint32_t>(position.PackedPosition()), 0xFFFF0014u);
  EXPECT_EQ(ParseToken("<32767,-32768>").PackedPosition(), 0x7FFF8000);
}

TEST(SimTokens, RejectsMalformedTokens) {
  for (const char* bad : {"\"open", "\"a\"b", "\"\\q\"", "\"\\x4\"", "@", "[1,2", "[1,,2]", "[256]",
                          "[x]", "<1>", "<1,2", "<40000,0>", "<a,b>", "a\"b"})
    EXPECT_THROW(ParseToken(bad), SyntaxError) << bad;
}

TEST(SimTokens, SplitsLinesKeepingQuotedBlanks) {
  auto raw = SplitLine("  act ini\t15 \"two words\" file=\"my saves/a.ini\"  x ");
  EXPECT_EQ(raw, (std::vector<std::string>{"act", "ini", "15", "\"two words\"",
                                           "file=\"my saves/a.ini\"", "x"}));
  EXPECT_EQ(SplitLine(R"(echo "a \" b")").size(), 2u);
  EXPECT_THROW(SplitLine("echo \"no end"), SyntaxError);
  EXPECT_TRUE(SplitLine(" \t ").empty());

  // A '#' beginning a token starts a comment; one inside a word or a quoted text does not.
  using Tokens = std::vector<std::string>;
  const std::pair<const char*, Tokens> comments[] = {
      {"# whole line", {}},
      {"echo a # b \"open", {"echo", "a"}},
      {"echo a\t#b", {"echo", "a"}},
      {"echo a#b \"#\" x=\"c # d\" #", {"echo", "a#b", "\"#\"", "x=\"c # d\""}},
      {"echo \"\\\"#\" ##", {"echo", "\"\\\"#\""}},
  };
  for (const auto& [line, tokens] : comments) EXPECT_EQ(SplitLine(line), tokens) << line;

  auto option = ParseOption("file=\"my saves/a.ini\"");
  ASSERT_TRUE(option);
  EXPECT_EQ(option->key, "file");
  EXPECT_EQ(option->value.text, "my saves/a.ini");
  EXPECT_FALSE(ParseOption("=1"));
  EXPECT_FALSE(ParseOption("a-b=1"));
  EXPECT_FALSE(ParseOption("plain"));
}

TEST(SimTokens, ConvertsNumbers) {
  EXPECT_EQ(NumberAsInt(ParseToken("-7.9")), -7);
  EXPECT_EQ(NumberAsInt(ParseToken("7.9")), 7);
  EXPECT_EQ(NumberAsInt(ParseToken("-2147483648")), INT32_MIN);
  EXPECT_FALSE(NumberAsInt(ParseToken("2147483648")));
  EXPECT_FALSE(NumberAsInt(ParseToken("99999999999.5")));
  EXPECT_EQ(NumberAsFloat(ParseToken("0.1")), 0.1f);
  EXPECT_EQ(NumberAsFloat(ParseToken("16777217")), 16777216.0f);
  EXPECT_TRUE(std::isinf(NumberAsFloat(ParseToken("1" + std::string(50, '0')))));
}

TEST(SimPrinting, EscapesTextsAndHidesTheWorkingFolder) {
  EXPECT_EQ(PrintedText(std::string("a\\b\"c\r\n\t\x01\x7f\xff~", 12), ""),
            R"("a\\b\"c\r\n\t\x01\x7f\xff~")");
  EXPECT_EQ(PrintedText(std::string("\0", 1), ""), R"("\x00")");
  EXPECT_EQ(PrintedText("/w/a;/w/b;/wx", "/w"), R"("$W/a;$W/b;$Wx")");
  EXPECT_EQ(PrintedText("none", "/w"), R"("none")");
  EXPECT_EQ(HexBytes("\x01\xab", 10), " 01 ab");
  EXPECT_EQ(HexBytes("abc", 1), " 61");
}

TEST(SimPrinting, FormatsFloatsShortest) {
  EXPECT_EQ(FormatFloat(2.5f), "2.5");
  EXPECT_EQ(FormatFloat(0.1f), "0.1");
  EXPECT_EQ(FormatFloat(3.0f), "3");
  EXPECT_EQ(FormatFloat(-0.25f), "-0.25");
  EXPECT_EQ(FormatFloat(1.0f / 3.0f), "0.33333334");
  EXPECT_EQ(FormatFloat(std::numeric_limits<float>::infinity()), "inf");
  EXPECT_EQ(FormatFloat(-std::numeric_limits<float>::infinity()), "-inf");
  EXPECT_EQ(FormatFloat(-std::numeric_limits<float>::quiet_NaN()), "nan");
}

TEST(SimEditData, PropsLandAtTheirOffsets) {
  auto props = [](const std::string& line) {
    std::vector<Option> options;
    for (const std::string& raw : SplitLine(line)) options.push_back(*ParseOption(raw));
    return EditDataFromProps(options);
  };
  auto block = props("standard=1 grouprepeat=-2 itemrepeat=-1 basefolder=258 key=\"k\\0ey\" file=" +
                     std::string(300, 'f') + " newline=\"0123456789abc\" undo=127");
  ASSERT_EQ(block.size(), size_t{VX_EDIT_DATA_SIZE});
  VxEditData ed;
  std::memcpy(&ed, block.data(), sizeof ed);
  EXPECT_EQ(ed.standardSettings, 1);
  EXPECT_EQ(ed.groupRepeatMode[0], 0xFE);  // 32 bits, little-endian
  EXPECT_EQ(ed.groupRepeatMode[3], 0xFF);
  EXPECT_EQ(ed.itemRepeatMode, -1);
  EXPECT_EQ(ed.baseFolder[0], 2);
  EXPECT_EQ(ed.baseFolder[1], 1);
  EXPECT_STREQ(ed.encryptionKey, "k");
  EXPECT_EQ(std::string(ed.defaultFile), std::string(259, 'f'));  // cut to leave room for NUL
  EXPECT_STREQ(ed.newLine, "012345678");
  EXPECT_EQ(ed.undoDepth, 127);

  // An edit-data file replaces the whole block first, wherever the option stands; a short
  // file leaves the rest zero, and props are written over it.
  std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("vellix-edit-" + std::to_string(::getpid()));
  {
    std::string bytes(300, '\x7f');
    std::ofstream(file, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  auto fromFile = props("case=1 editdata=" + file.string() + " readonly=0");
  std::filesystem::remove(file);
  EXPECT_EQ(fromFile[0], 0x7f);
  EXPECT_EQ(fromFile[offsetof(VxEditData, loadDefaultFile)], 0x7f);
  EXPECT_EQ(fromFile[offsetof(VxEditData, defaultReadOnly)], 0);
  EXPECT_EQ(fromFile[299], 0x7f);
  EXPECT_EQ(fromFile[300], 0);
  EXPECT_EQ(fromFile[offsetof(VxEditData, caseSensitive)], 1);

  EXPECT_THROW(props("colour=1"), SyntaxError);
  EXPECT_THROW(props("undo=128"), SyntaxError);
  EXPECT_THROW(props("case=yes"), SyntaxError);
  EXPECT_THROW(props("case=1.5"), SyntaxError);
  EXPECT_THROW(props("editdata=/nonexistent/edit.bin"), SyntaxError);
}

#ifdef VELLIX_MODULE_PATH

// Runs a script in a fresh working folder; returns stdout, and the error text if any.
struct ScriptRun {
  std::string out;
  std::string error;
};

class SimHost : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    work_ = std::filesystem::temp_directory_path() /
            ("vellix-sim-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(work_);
    std::filesystem::create_directories(work_);
    std::filesystem::current_path(work_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(work_);
  }
  ScriptRun Run(const std::string& script) {
    ScriptRun run;
    std::ostringstream out;
    std::istringstream in(script);
    try {
      Host host(VELLIX_MODULE_PATH, work_.string());
      Runner runner(host, "t.vxs", out);
      runner.Run(in);
    } catch (const std::exception& e) {
      run.error = e.what();
    }
    run.out = out.str();
    return run;
  }
  std::filesystem::path old_, work_;
};

TEST_F(SimHost, CallsRoutinesAndTypesResults) {
  std::ostringstream sink;
  Host host(VELLIX_MODULE_PATH, work_.string());
  std::vector<std::string> triggers;
  host.SetTriggerHandler(
      [&](Object& o, int c) { triggers.push_back(o.name + " " + std::to_string(c)); });
  host.Start();
  std::vector<uint8_t> edit(VX_EDIT_DATA_SIZE, 0);
  edit[offsetof(VxEditData, standardSettings)] = 1;
  Object& ini = host.CreateObject("ini", edit);
  EXPECT_EQ(host.Main().runHeader.liveCount, 1);
  EXPECT_EQ(host.Main().live[0].identifier, VX_IDENTIFIER);
  EXPECT_STREQ(static_cast<const char*>(host.Main().live[0].name), "ini");

  host.Call(ini, RoutineKind::Action, 15, {ParseToken("g"), ParseToken("a"), ParseToken("2.5")});
  EXPECT_EQ(triggers, (std::vector<std::string>{"ini 12", "ini 10"}));
  CallResult value = host.Call(ini, RoutineKind::Expression, 8,
                               {ParseToken("g"), ParseToken("a"), ParseToken("0")});
  EXPECT_EQ(value.type, CallResult::Type::Float);
  EXPECT_EQ(value.real, 2.5f);
  CallResult text = host.Call(ini, RoutineKind::Expression, 9,
                              {ParseToken("g"), ParseToken("a"), ParseToken("x")});
  EXPECT_EQ(text.type, CallResult::Type::Text);
  EXPECT_EQ(text.text, "2.5");
  CallResult count = host.Call(ini, RoutineKind::Expression, 16, {});
  EXPECT_EQ(count.type, CallResult::Type::Int);
  EXPECT_EQ(count.integer, 1);
  CallResult has = host.Call(ini, RoutineKind::Condition, 4, {ParseToken("g"), ParseToken("a")});
  EXPECT_EQ(has.type, CallResult::Type::Bool);
  EXPECT_TRUE(has.truth);

  EXPECT_THROW(host.Call(ini, RoutineKind::Condition, 4, {ParseToken("g")}), HostError);
  EXPECT_THROW(host.Call(ini, RoutineKind::Action, 84, {}), HostError);
  host.Shutdown();
}

TEST_F(SimHost, RefusesModulesItCannotUse) {
  EXPECT_THROW(Host("/nonexistent/libvellix.so", work_.string()), HostError);
  // A shared library that is not a module of this kind lacks the entry points.
  try {
#ifdef _WIN32
    Host host("kernel32.dll", work_.string());
#else
    Host host("libz.so.1", work_.string());
#endif
    ADD_FAILURE() << "a library without entry points was accepted";
  } catch (const HostError& e) {
    EXPECT_NE(std::string(e.what()).find("does not export"), std::string::npos) << e.what();
  }
  // The host is free again for the next one.
  Host host(VELLIX_MODULE_PATH, work_.string());
}

TEST_F(SimHost, WideApplicationsListWideNames) {
  Host host(VELLIX_MODULE_PATH, work_.string());
  host.Start();
  Application& app = host.DefineApp("w", &host.Main(), [](Application& a) { a.wide = true; });
  host.CreateObject("n\xc3\xa9", std::vector<uint8_t>(VX_EDIT_DATA_SIZE, 0));
  const auto* name = static_cast<const uint16_t*>(app.live.at(0).name);
  EXPECT_EQ(name[0], u'n');
  EXPECT_EQ(name[1], 0xE9);
  EXPECT_EQ(name[2], 0);
  EXPECT_EQ(app.record.parent, &host.Main().record);
  host.Shutdown();
}

TEST_F(SimHost, BadReadStopsTheRunAfterTheCallReturns) {
  ScriptRun run =
      Run("object ini standard=1\non ini 10 echo never\nact ini 14 g x type 5\necho after\n");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.error, "t.vxs:3: action 14 reads argument 3 as an integer, but it is word type");
}

TEST_F(SimHost, ErrorInNestedHandlerReportsTheHandlerLine) {
  ScriptRun run =
      Run("object a standard=1\nobject b standard=1\n"
          "on b 10 expr a 99\n"
          "on a 10 act b 15 g x 1\n"
          "act a 15 g x 1\n"
          "echo after\n");
  EXPECT_EQ(run.out, "trigger a 12\ntrigger a 10\ntrigger b 12\ntrigger b 10\n");
  EXPECT_EQ(run.error,
            "t.vxs:3: unknown expression index 99 (there are 41) (in the handler of b 10)");
}

TEST_F(SimHost, HostObjectCommandsUsedWronglyNameTheLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"scene hero val3=abc", "t.vxs:1: val3 must be a number, got word abc"},
      {"scene hero str10=\"x\"", "t.vxs:1: unknown scene option str10"},
      {"object ini\nscene ini x=1", "t.vxs:2: ini is not a scene object"},
      {"globals val01=1", "t.vxs:1: unknown global val01"},
      {"array a 2 2 numeric", "t.vxs:1: usage: array NAME SX SY SZ numeric|text [base1]"},
      {"array a 2000 2000 1 numeric", "t.vxs:1: an array has at most 1048576 cells"},
      {"array a 1 1 1 words", "t.vxs:1: an array is numeric or text, not words"},
      {"array a 2 1 1 numeric\ncell a 2 0 0 1",
       "t.vxs:2: X must be a whole number from 0 to 1, got 2"},
      {"array a 1 1 1 numeric\ncell a 0 0 0 x", "t.vxs:2: a numeric cell must be a whole number"},
      {"chart c type=x", "t.vxs:1: chartType must be a whole number"},
      {"chart c\npoint c 1", "t.vxs:2: usage: point NAME X Y [a=N] [b=N] [label=TEXT]"},
      {"chart c\nchartprop c colour=1", "t.vxs:2: unknown chart property colour"},
      {"chart c\nchartprop c titleShow=1 barWidth=1.5", "t.vxs:2: barWidth must be a whole number"},
      {"scene s\ncell s 0 0 0 1", "t.vxs:2: s is not an array object"},
      {"show nobody", "t.vxs:1: unknown object nobody in application main"},
      {"object ini\nshow ini", "t.vxs:2: ini is an object of this extension"},
  };
  for (const auto& [script, error] : cases) {
    ScriptRun run = Run(std::string(script) + "\necho after\n");
    EXPECT_EQ(run.error.rfind(error, 0), 0u) << script << " gave " << run.error;
    EXPECT_EQ(run.out.find("after"), std::string::npos) << script;
  }
}

TEST_F(SimHost, HostTextsFollowTheApplicationsWideness) {
  // Texts set in a narrow application are rewritten when it becomes wide and back, so that
  // the module always reads them in the application's current form.
  ScriptRun run =
      Run("scene s str0=\"\xc3\xa9t\xc3\xa9\" alterable=1\nglobals str1=\"\xc5\x81\"\n"
          "app main wide=1\nshow globals\nshow s\napp main wide=0\nshow globals\nshow s\n");
  EXPECT_EQ(run.error, "");
  const std::string global = "str1=\"\\xc5\\x81\"\n", scene = "str0=\"\\xc3\\xa9t\\xc3\\xa9\"\n";
  EXPECT_EQ(run.out.find(global), 0u);
  EXPECT_NE(run.out.find(scene), std::string::npos);
  EXPECT_NE(run.out.find(global + "scene s"), std::string::npos);
  EXPECT_EQ(run.out.size() - scene.size(), run.out.rfind(scene));
  Host host(VELLIX_MODULE_PATH, work_.string());
  host.Start();
  void* narrow = host.NewText("\xc3\xa9", false);
  void* wide = host.NewText("\xc3\xa9", true);
  EXPECT_EQ(host.BlockSize(narrow), 3u);
  EXPECT_EQ(host.BlockSize(wide), 4u);
  EXPECT_EQ(static_cast<const uint16_t*>(wide)[0], 0xE9);
  EXPECT_EQ(host.TextOf(wide, true), "\xc3\xa9");
  uint16_t foreign[2] = {'x', 0};
  EXPECT_THROW(host.TextOf(foreign, true), HostError);
  host.ReleaseBlock(narrow);
  host.ReleaseBlock(wide);
  host.Shutdown();
}

#endif

}  // namespace
}  // namespace vxsim
