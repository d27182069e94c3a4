// The simulated host against a small fake module whose routines do what each test asks:
// parameter reading of every kind, result typing, re-entrant calls, the general services,
// lifecycle order, and the faults a module can commit.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host.h"

namespace vxsim {
namespace {

// What the fake module's routines do: set by each test, keyed by kind ('c', 'a', 'e') and index.
std::function<vx_word(char kind, int index, VxObjectHeader* object)> g_routine;
std::vector<std::string> g_events;

template <char K, int I>
vx_word VX_CALL Routine(VxObjectHeader* object, vx_word, vx_word) {
  return g_routine ? g_routine(K, I, object) : 0;
}
template <char K, size_t... I>
constexpr std::array<VxRoutine, sizeof...(I)> Table(std::index_sequence<I...>) {
  return {&Routine<K, static_cast<int>(I)>...};
}
const auto kConditions = Table<'c'>(std::make_index_sequence<VX_CONDITION_COUNT>{});
const auto kActions = Table<'a'>(std::make_index_sequence<VX_ACTION_COUNT>{});
const auto kExpressions = Table<'e'>(std::make_index_sequence<VX_EXPRESSION_COUNT>{});

int VX_CALL FakeInfos(void*, VxDescription* d) {
  d->conditions = kConditions.data();
  d->actions = kActions.data();
  d->expressions = kExpressions.data();
  d->conditionCount = VX_CONDITION_COUNT;
  d->actionCount = VX_ACTION_COUNT;
  d->expressionCount = VX_EXPRESSION_COUNT;
  d->editDataSize = VX_EDIT_DATA_SIZE;
  d->identifier = VX_IDENTIFIER;
  return 1;
}
int VX_CALL FakeSize(VxRunHeader*, const void*) { return VX_RUN_OBJECT_SIZE; }
int VX_CALL FakeCreate(VxObjectHeader* object, const void* edit, void*) {
  g_events.push_back("create " + std::string(static_cast<const VxEditData*>(edit)->defaultFile));
  (void)object;
  return 0;
}
int VX_CALL FakeDestroy(VxObjectHeader*, int) {
  g_events.push_back("destroy");
  return 0;
}
void VX_CALL FakeStart(const VxHostServices*, VxApplication* app) {
  g_events.push_back(std::string("start ") + (app->parent ? "sub" : "top"));
}
void VX_CALL FakeEnd(const VxHostServices*, VxApplication* app) {
  g_events.push_back(std::string("end ") + (app->parent ? "sub" : "top"));
}

constexpr ModuleEntryPoints kFake{&FakeInfos,   &FakeSize,  &FakeCreate,
                                  &FakeDestroy, &FakeStart, &FakeEnd};

vx_word Service(VxObjectHeader* object, int n, vx_word a, vx_word b = 0) {
  return object->rh->services[n](object, a, b);
}
vx_word Read(VxObjectHeader* object, int kind) {
  return Service(object, VX_SVC_READ_PARAMETER, kind);
}
float AsFloat(vx_word word) { return std::bit_cast<float>(static_cast<uint32_t>(word)); }
std::vector<Token> Args(std::initializer_list<const char*> raw) {
  std::vector<Token> args;
  for (const char* r : raw) args.push_back(ParseToken(r));
  return args;
}
// The object's name in its edit data, where the fake's CreateRunObject finds it.
std::vector<uint8_t> Named(const std::string& file) {
  std::vector<uint8_t> edit(VX_EDIT_DATA_SIZE, 0);
  std::memcpy(edit.data() + offsetof(VxEditData, defaultFile), file.data(), file.size());
  return edit;
}

class SimFakeModule : public ::testing::Test {
 protected:
  void SetUp() override {
    g_routine = nullptr;
    g_events.clear();
  }
  void TearDown() override { g_routine = nullptr; }
};

TEST_F(SimFakeModule, ReadsEveryKindOfParameter) {
  Host host(kFake, "/work");
  host.Start();
  Object& ini = host.CreateObject("ini", Named(""));
  std::vector<std::string> seen;
  g_routine = [&](char kind, int index, VxObjectHeader* o) -> vx_word {
    if (kind == 'a' && index == 33) {  // TTTC
      for (int i = 0; i < 3; ++i)
        seen.push_back(reinterpret_cast<const char*>(Read(o, VX_KIND_STRUCTURED)));
      const auto* block = reinterpret_cast<const int8_t*>(Read(o, VX_KIND_STRUCTURED));
      seen.push_back(std::to_string(block[6]) + "," + std::to_string(block[7]) + "," +
                     std::to_string(block[8]) + "," + std::to_string(block[63]));
    } else if (kind == 'a' && index == 17) {  // OTII
      seen.push_back(reinterpret_cast<const char*>(Read(o, VX_KIND_STRUCTURED)) +
                     VX_PARAM_DATA_OFFSET);
      seen.push_back(reinterpret_cast<const char*>(Read(o, VX_KIND_STRUCTURED)));
      seen.push_back(std::to_string(Read(o, VX_KIND_INTEGER)));
      seen.push_back(std::to_string(Read(o, VX_KIND_INTEGER)));
    } else if (kind == 'a' && index == 19) {  // TTP
      Read(o, VX_KIND_STRUCTURED);
      Read(o, VX_KIND_STRUCTURED);
      auto packed = static_cast<int32_t>(Read(o, VX_KIND_INTEGER));
      seen.push_back(std::to_string(static_cast<int16_t>(packed >> 16)) + "," +
                     std::to_string(static_cast<int16_t>(packed & 0xFFFF)));
    } else if (kind == 'a' && index == 14) {  // TTIN: the value as a float
      Read(o, VX_KIND_STRUCTURED);
      Read(o, VX_KIND_STRUCTURED);
      Read(o, VX_KIND_INTEGER);
      seen.push_back(std::to_string(AsFloat(Read(o, VX_KIND_FLOAT))));
    } else if (kind == 'e' && index == 8) {  // TTF, read twice from the start
      seen.push_back(
          reinterpret_cast<const char*>(Service(o, VX_SVC_READ_FIRST_EXPR_PARAM, VX_KIND_TEXT)));
      seen.push_back(
          reinterpret_cast<const char*>(Service(o, VX_SVC_READ_NEXT_EXPR_PARAM, VX_KIND_TEXT)));
      seen.push_back(
          std::to_string(AsFloat(Service(o, VX_SVC_READ_NEXT_EXPR_PARAM, VX_KIND_FLOAT))));
      seen.push_back(
          reinterpret_cast<const char*>(Service(o, VX_SVC_READ_FIRST_EXPR_PARAM, VX_KIND_TEXT)));
    }
    return 0;
  };
  host.Call(ini, RoutineKind::Action, 33, Args({"\"a\\0b\"", "7.50", "<1,2>", "[1,-2,255]"}));
  host.Call(ini, RoutineKind::Action, 17, Args({"@other", "-3", "2.9", "-2.9"}));
  host.Call(ini, RoutineKind::Action, 19, Args({"g", "i", "<-1,20>"}));
  host.Call(ini, RoutineKind::Action, 14, Args({"g", "i", "1", "2"}));
  host.Call(ini, RoutineKind::Expression, 8, Args({"g", "i", "0.5"}));
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "7.50", "<1,2>", "1,-2,-1,0",  // texts end at NUL
                                            "other", "-3", "2", "-2",           // truncation
                                            "-1,20", "2.000000",                // position, float
                                            "g", "i", "0.500000", "g"}));
  host.Shutdown();
}

TEST_F(SimFakeModule, BadReadsGiveZerosAndFailWhenTheCallReturns) {
  Host host(kFake, "/work");
  host.Start();
  Object& ini = host.CreateObject("ini", Named(""));
  std::vector<vx_word> got;
  int triggersRun = 0;
  host.SetTriggerHandler([&](Object&, int) { ++triggersRun; });
  g_routine = [&](char, int, VxObjectHeader* o) -> vx_word {
    Read(o, VX_KIND_STRUCTURED);
    Read(o, VX_KIND_STRUCTURED);
    got.push_back(Read(o, VX_KIND_INTEGER));  // the type is a word
    got.push_back(Read(o, VX_KIND_INTEGER));  // a good argument, read after the failure
    Service(o, VX_SVC_RAISE_TRIGGER, 10);     // after a failure: not run
    return 0;
  };
  try {
    host.Call(ini, RoutineKind::Action, 14, Args({"g", "x", "type", "5"}));
    ADD_FAILURE() << "a word read as an integer was accepted";
  } catch (const HostError& e) {
    EXPECT_STREQ(e.what(), "action 14 reads argument 3 as an integer, but it is word type");
  }
  // The routine ran to its end on zero values, and its trigger was not run.
  EXPECT_EQ(got, (std::vector<vx_word>{0, 0}));
  EXPECT_EQ(triggersRun, 0);
}

TEST_F(SimFakeModule, EachFaultyReadIsNamed) {
  struct Case {
    std::function<void(VxObjectHeader*)> body;
    const char* message;
  } cases[] = {
      {[](VxObjectHeader* o) {
         Read(o, VX_KIND_STRUCTURED);
         Read(o, VX_KIND_STRUCTURED);
       },
       "action 10 reads argument 2 but takes only 1"},
      {[](VxObjectHeader* o) { Read(o, VX_KIND_TEXT); },
       "the module read a parameter of unknown kind 1"},
      {[](VxObjectHeader* o) { Read(o, VX_KIND_FLOAT); },
       "action 10 reads argument 1 (text) as a float"},
      {[](VxObjectHeader* o) { Service(o, VX_SVC_READ_FIRST_EXPR_PARAM, VX_KIND_TEXT); },
       "action 10 reads a parameter with the expression services"},
      {[](VxObjectHeader* o) { Service(o, 2, 0); },
       "the module called host service 2, which this host does not provide"},
      {[](VxObjectHeader* o) { o->rh->host->general(VX_GEN_FREE, 1234, 0, 0); },
       "the module released a block the host did not allocate"},
      {[](VxObjectHeader* o) { o->rh->host->general(99, 0, 0, 0); },
       "the module called general host service 99, which this host does not provide"},
      {[](VxObjectHeader* o) { Service(o, VX_SVC_SET_POSITION, 8); },
       "the module set the position of something that is not a live object"},
      {[](VxObjectHeader*) { throw std::runtime_error("boom"); },
       "an exception escaped the module from action 10: boom"},
  };
  for (const Case& c : cases) {
    Host host(kFake, "/work");
    host.Start();
    Object& ini = host.CreateObject("ini", Named(""));
    g_routine = [&](char, int, VxObjectHeader* o) -> vx_word {
      c.body(o);
      return 0;
    };
    try {
      host.Call(ini, RoutineKind::Action, 10, Args({"x"}));
      ADD_FAILURE() << "no failure for: " << c.message;
    } catch (const HostError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    g_routine = nullptr;
  }
  // Reading fewer parameters than given is how guarded actions return early: no failure.
  Host host(kFake, "/work");
  host.Start();
  Object& ini = host.CreateObject("ini", Named(""));
  EXPECT_NO_THROW(host.Call(ini, RoutineKind::Action, 15, Args({"a", "b", "c"})));
}

TEST_F(SimFakeModule, TypesResultsAndKeepsTheFlagsOfAnInterruptedCall) {
  Host host(kFake, "/work");
  host.Start();
  Object& ini = host.CreateObject("ini", Named(""));
  host.SetTriggerHandler([&](Object& o, int) {
    CallResult inner = host.Call(o, RoutineKind::Expression, 16, {});
    EXPECT_EQ(inner.type, CallResult::Type::Int);
    EXPECT_EQ(inner.integer, -5);
  });
  g_routine = [&](char, int index, VxObjectHeader* o) -> vx_word {
    if (index == 16) return -5;
    if (index == 25) {  // a text without its NUL, bounded by its allocation
      auto* text = reinterpret_cast<char*>(Service(o, VX_SVC_ALLOCATE_RESULT_STRING, 3));
      std::memcpy(text, "abc", 3);
      o->flags |= VX_RESULT_TEXT;
      return reinterpret_cast<vx_word>(text);
    }
    // index 18: a float result, flagged before a nested call on the same object
    o->flags |= VX_RESULT_FLOAT;
    Service(o, VX_SVC_RAISE_TRIGGER, 10);
    return static_cast<vx_word>(std::bit_cast<uint32_t>(2.5f));
  };
  CallResult text = host.Call(ini, RoutineKind::Expression, 25, {});
  EXPECT_EQ(text.type, CallResult::Type::Text);
  EXPECT_EQ(text.text, "abc");
  CallResult real = host.Call(ini, RoutineKind::Expression, 18, {});
  EXPECT_EQ(real.type, CallResult::Type::Float);
  EXPECT_EQ(real.real, 2.5f);
  CallResult truth = host.Call(ini, RoutineKind::Condition, 16, {});
  EXPECT_EQ(truth.type, CallResult::Type::Bool);
  EXPECT_TRUE(truth.truth);
}

TEST_F(SimFakeModule, GeneralServicesApplicationDataAndFolders) {
  Host host(kFake, "/work");
  host.Start();
  Application& sub = host.DefineApp("sub", &host.Main(), [](Application& a) {
    a.wide = true;
    a.codepage = 932;
  });
  Object& ini = host.CreateObject("ini", Named(""));
  host.SetFolder(VX_FOLDER_APPDATA, "/data");
  g_routine = [&](char, int, VxObjectHeader* o) -> vx_word {
    const VxHostServices* h = o->rh->host;
    auto app = reinterpret_cast<vx_word>(o->rh->app);
    EXPECT_EQ(o->rh->app, &sub.record);
    EXPECT_EQ(h->general(VX_GEN_IS_WIDE, app, 0, 0), 1);
    EXPECT_EQ(h->general(VX_GEN_CODE_PAGE, app, 0, 0), 932);
    EXPECT_EQ(h->general(VX_GEN_IS_WIDE, reinterpret_cast<vx_word>(&host.Main().record), 0, 0), 0);
    auto* block = reinterpret_cast<char*>(h->general(VX_GEN_ALLOCATE, 4, 0, 0));
    std::memcpy(block, "abcd", 4);
    block =
        reinterpret_cast<char*>(h->general(VX_GEN_RESIZE, reinterpret_cast<vx_word>(block), 8, 0));
    EXPECT_EQ(std::string(block, 8), std::string("abcd\0\0\0\0", 8));
    h->general(VX_GEN_FREE, reinterpret_cast<vx_word>(block), 0, 0);
    static int key;
    EXPECT_EQ(h->loadApplicationData(o->rh->app, &key), nullptr);
    h->storeApplicationData(o->rh->app, &key, &key);
    EXPECT_EQ(h->loadApplicationData(o->rh->app, &key), &key);
    EXPECT_EQ(h->loadApplicationData(&host.Main().record, &key), nullptr);
    h->storeApplicationData(o->rh->app, &key, nullptr);
    EXPECT_STREQ(h->folder(VX_FOLDER_SYSTEM), "/work/system");
    EXPECT_STREQ(h->folder(VX_FOLDER_APPDATA), "/data");
    EXPECT_STREQ(h->folder(7), "");
    return 0;
  };
  host.Call(ini, RoutineKind::Action, 32, {});
}

TEST_F(SimFakeModule, LifecycleOrder) {
  {
    Host host(kFake, "/work");
    host.Start();
    host.CreateObject("a", Named("a"));
    host.DefineApp("sub", &host.Main());
    host.CreateObject("b", Named("b"));
    host.SetRunning(host.Main());
    host.CreateObject("c", Named("c"));
    host.Restart(host.Main());  // ends b too: it runs inside main
    host.CreateObject("d", Named("d"));
    host.Shutdown();
  }
  EXPECT_EQ(g_events,
            (std::vector<std::string>{"start top", "create a", "start sub", "create b", "create c",
                                      "destroy", "destroy", "destroy", "end top", "start top",
                                      "create d", "destroy", "end sub", "end top"}));
}

TEST_F(SimFakeModule, TriggerOnADestroyedObjectFails) {
  Host host(kFake, "/work");
  host.Start();
  Object& a = host.CreateObject("a", Named(""));
  Object& b = host.CreateObject("b", Named(""));
  // A stale header the module kept, raised after its object was destroyed.
  VxObjectHeader stale{};
  stale.rh = a.header->rh;
  g_routine = [&](char, int, VxObjectHeader* o) -> vx_word {
    Service(&stale, VX_SVC_RAISE_TRIGGER, 10);
    (void)o;
    return 0;
  };
  EXPECT_THROW(host.Call(b, RoutineKind::Action, 32, {}), HostError);
}

}  // namespace
}  // namespace vxsim
