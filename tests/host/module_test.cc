// The module as the host sees it: loaded as the host loads it (dlopen, LoadLibrary),
// answering its entry points, and exporting nothing else.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
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

TEST_F(ModuleTest, ExportsNothingButItsEntryPoints) {
  EXPECT_EQ(
      vxsim::ModuleSymbol(
          handle_, "_ZN6vellix13NormalizeNameB5cxx11ESt17basic_string_viewIcSt11char_traitsIcEEb"),
      nullptr);
  EXPECT_EQ(vxsim::ModuleSymbol(handle_, "_ZN6vellix5StoreC1Ev"), nullptr);
}

}  // namespace
