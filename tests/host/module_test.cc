// The module as the host sees it: loaded as the host loads it (dlopen, LoadLibrary),
// answering its entry points, and exporting nothing else.
#ifndef _WIN32
#include <fnmatch.h>
#endif
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <vellix/host_abi.h>

#include "system.h"

namespace {

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    handle_ = vxsim::LoadModuleFile(VELLIX_MODULE_PATH, why);
    ASSERT_NE(handle_, nullptr) << why;
  }
  template <class F>
  F Entry(const char* name) {
    return reinterpret_cast<F>(vxsim::ModuleSymbol(handle_, name));
  }
  void* handle_ = nullptr;
};

TEST_F(ModuleTest, AnswersTheHostsQuestions) {
  auto getInfos = Entry<VxGetInfosFn>("GetInfos");
  ASSERT_NE(getInfos, nullptr);
  EXPECT_EQ(getInfos(VX_INFO_VERSION), VX_INFO_VERSION_ANSWER);
  EXPECT_EQ(getInfos(VX_INFO_PLUGIN), VX_INFO_PLUGIN_ANSWER);
  EXPECT_EQ(getInfos(VX_INFO_PRODUCT), VX_INFO_PRODUCT_ANSWER);
  EXPECT_EQ(getInfos(VX_INFO_BUILD), VX_INFO_BUILD_ANSWER);
  for (int code : {1, 3, 4, 5, 8, -1, 1000}) EXPECT_EQ(getInfos(code), 0) << code;

  VxDescription d;
  std::memset(&d, 0xAB, sizeof d);
  ASSERT_EQ(Entry<VxGetRunObjectInfosFn>("GetRunObjectInfos")(nullptr, &d), 1);
  EXPECT_EQ(d.conditionCount, VX_CONDITION_COUNT);
  EXPECT_EQ(d.actionCount, VX_ACTION_COUNT);
  EXPECT_EQ(d.expressionCount, VX_EXPRESSION_COUNT);
  EXPECT_EQ(d.editDataSize, VX_EDIT_DATA_SIZE);
  EXPECT_EQ(d.objectFlags, VX_OBJECT_FLAGS);
  EXPECT_EQ(d.priority, VX_PRIORITY);
  EXPECT_EQ(d.spare, 0xAB);  // left untouched
  EXPECT_EQ(d.editorOptions, VX_EDITOR_OPTIONS);
  EXPECT_EQ(d.identifier, VX_IDENTIFIER);
  EXPECT_EQ(d.version, VX_DESCRIPTION_VERSION);
  for (int i = 0; i < VX_CONDITION_COUNT; ++i) EXPECT_NE(d.conditions[i], nullptr);
  for (int i = 0; i < VX_ACTION_COUNT; ++i) EXPECT_NE(d.actions[i], nullptr);
  for (int i = 0; i < VX_EXPRESSION_COUNT; ++i) EXPECT_NE(d.expressions[i], nullptr);

  EXPECT_EQ(Entry<VxGetRunObjectDataSizeFn>("GetRunObjectDataSize")(nullptr, nullptr),
            VX_RUN_OBJECT_SIZE);
  EXPECT_EQ(Entry<VxHandleRunObjectFn>("HandleRunObject")(nullptr), 1);
}

TEST_F(ModuleTest, EditorStubsAnswerAsTheHostExpects) {
  using Stub = vx_word(VX_CALL*)(void*, void*, void*, void*);
  const std::vector<std::pair<const char*, vx_word>> answers = {{"CreateObject", -1},
                                                                {"GetConditionCodeFromMenu", -1},
                                                                {"GetActionCodeFromMenu", -1},
                                                                {"GetExpressionCodeFromMenu", -1},
                                                                {"GetProperties", 1},
                                                                {"IsPropEnabled", 1},
                                                                {"GetTextFont", 1},
                                                                {"SetTextFont", 1},
                                                                {"DisplayRunObject", 0},
                                                                {"GetPropValue", 0},
                                                                {"Initialize", 0},
                                                                {"GetDependencies", 0},
                                                                {"Free", 0}};
  for (const auto& [name, value] : answers) {
    auto stub = Entry<Stub>(name);
    ASSERT_NE(stub, nullptr) << name;
    EXPECT_EQ(stub(nullptr, nullptr, nullptr, nullptr), value) << name;
  }
  for (const char* name : {"EditDebugItem", "UnloadObject", "GetObjInfos", "PutObject", "StartApp",
                           "EndApp", "PauseRunObject", "ContinueRunObject"}) {
    EXPECT_NE(vxsim::ModuleSymbol(handle_, name), nullptr) << name;
  }
}

TEST_F(ModuleTest, ReportsOnlyAbsoluteDefaultFiles) {
  auto update = Entry<VxUpdateFileNamesFn>("UpdateFileNames");
  ASSERT_NE(update, nullptr);
  static std::vector<std::string> reported;
  struct Recorder {
    static void VX_CALL Record(void* hostValue, const char* name) {
      EXPECT_EQ(hostValue, &reported);
      reported.emplace_back(name);
    }
  };
  const VxFileNameRoutine record = &Recorder::Record;
  std::vector<uint8_t> edit(VX_EDIT_DATA_SIZE, 0);
  update(nullptr, &reported, edit.data(), record);
  const size_t file = offsetof(VxEditData, defaultFile);
  std::memcpy(edit.data() + file, "saves/a.ini", 11);
  update(nullptr, &reported, edit.data(), record);
  EXPECT_TRUE(reported.empty());
  // A name that fills its whole field without a zero byte ends at the field's end.
  std::memset(edit.data() + file, 'x', VX_EDIT_FIELD_SIZE(defaultFile));
#ifdef _WIN32
  edit[file] = '\\';  // absolute: a leading backslash
#else
  edit[file] = '/';
#endif
  update(nullptr, &reported, edit.data(), record);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0].size(), VX_EDIT_FIELD_SIZE(defaultFile));
}

#ifndef _WIN32
// The patterns of the version script's global: list, the names the module may export.
std::vector<std::string> ExportedPatterns(std::string script) {
  for (size_t open = script.find("/*"); open != std::string::npos; open = script.find("/*")) {
    const size_t close = script.find("*/", open);
    script.erase(open, close == std::string::npos ? std::string::npos : close + 2 - open);
  }
  std::vector<std::string> patterns;
  const size_t global = script.find("global:");
  if (global == std::string::npos) return patterns;
  const size_t end = script.find("local:", global);
  std::istringstream list(script.substr(global + 7, end - global - 7));
  std::string pattern;
  while (std::getline(list, pattern, ';')) {
    pattern.erase(0, pattern.find_first_not_of(" \t\r\n"));
    pattern.erase(pattern.find_last_not_of(" \t\r\n") + 1);
    if (!pattern.empty()) patterns.push_back(pattern);
  }
  return patterns;
}
#endif

// Every symbol in the built module's dynamic symbol table is one the version script lets
// out: a helper or a library template leaking from the module could clash with the host's
// or another module's copy.
TEST_F(ModuleTest, ExportsNothingButItsEntryPoints) {
#ifdef _WIN32
  GTEST_SKIP() << "the DLL's export table is checked by the exports_table test";
#else
  if (std::system("command -v nm >/dev/null 2>&1") != 0) GTEST_SKIP() << "nm is not installed";
  std::ifstream map(VELLIX_EXPORTS_MAP);
  ASSERT_TRUE(map) << VELLIX_EXPORTS_MAP;
  const std::vector<std::string> patterns =
      ExportedPatterns(std::string(std::istreambuf_iterator<char>(map), {}));
  ASSERT_FALSE(patterns.empty());

  FILE* nm = popen("nm -D --defined-only '" VELLIX_MODULE_PATH "'", "r");
  ASSERT_NE(nm, nullptr);
  std::vector<std::string> exported;
  char line[4096];
  while (std::fgets(line, sizeof line, nm) != nullptr) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (!(fields >> address >> type >> name)) continue;
    exported.push_back(name.substr(0, name.find('@')));  // without a version suffix
  }
  ASSERT_EQ(pclose(nm), 0);

  for (const std::string& name : exported) {
    const bool allowed = std::any_of(patterns.begin(), patterns.end(), [&](const std::string& p) {
      return fnmatch(p.c_str(), name.c_str(), 0) == 0;
    });
    EXPECT_TRUE(allowed) << name << " is exported";
  }
  // The table was read: the entry points the host looks up first are there.
  for (const char* entry : {"GetInfos", "CreateRunObject", "HandleRunObject"}) {
    EXPECT_NE(std::find(exported.begin(), exported.end(), entry), exported.end()) << entry;
  }
#endif
}

}  // namespace
