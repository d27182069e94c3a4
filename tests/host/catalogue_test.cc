// Every condition, action and expression of the three tables, called the way a host calls it:
// with arguments of the kinds its catalogue entry lists, on an object that holds data and
// beside another object of this extension. Each must return, read exactly the parameters the
// catalogue gives it, and give a result of its kind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "catalogue.h"
#include "host.h"
#include "token.h"

namespace vxsim {
namespace {

std::vector<Token> ArgumentsFor(const char* signature) {
  std::vector<Token> args;
  for (const char* c = signature; *c != '\0'; ++c) {
    switch (static_cast<ParamKind>(*c)) {
      case ParamKind::Text:
        args.push_back(ParseToken("\"g\""));
        break;
      case ParamKind::Integer:
        args.push_back(ParseToken("1"));
        break;
      case ParamKind::Float:
        args.push_back(ParseToken("0.5"));
        break;
      case ParamKind::Number:
        args.push_back(ParseToken("2"));
        break;
      case ParamKind::Object:
        args.push_back(ParseToken("@peer"));
        break;
      case ParamKind::Position:
        args.push_back(ParseToken("<3,4>"));
        break;
      case ParamKind::Custom:
        args.push_back(ParseToken("[1,0,1,0,1,0,1,0]"));
        break;
    }
  }
  return args;
}

TEST(Catalogue, EveryRoutineReadsExactlyItsParameters) {
  const std::filesystem::path old = std::filesystem::current_path();
  const std::filesystem::path work =
      std::filesystem::temp_directory_path() / ("vellix-catalogue-" + std::to_string(::getpid()));
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work);
  std::filesystem::current_path(work);
  {
    Host host(VELLIX_MODULE_PATH, work.string());
    host.Start();
    std::vector<uint8_t> edit(VX_EDIT_DATA_SIZE, 0);
    edit[offsetof(VxEditData, standardSettings)] = 1;
    Object& ini = host.CreateObject("ini", edit);
    host.CreateObject("peer", edit);
    const RoutineKind kinds[] = {RoutineKind::Condition, RoutineKind::Action,
                                 RoutineKind::Expression};
    const CallResult::Type results[] = {CallResult::Type::Bool, CallResult::Type::None,
                                        CallResult::Type::Int};
    for (int k = 0; k < 3; ++k) {
      const RoutineKind kind = kinds[k];
      EXPECT_EQ(host.RoutineCount(kind), CatalogueSize(kind));
      for (int index = 0; index < CatalogueSize(kind); ++index) {
        SCOPED_TRACE(std::string(RoutineKindName(kind)) + " " + std::to_string(index));
        // Data for the routine to work on, put back before every call.
        host.Call(ini, RoutineKind::Action, 15, ArgumentsFor("TTT"));
        const char* signature = Signature(kind, index);
        const CallResult r = host.Call(ini, kind, index, ArgumentsFor(signature));
        EXPECT_EQ(r.parametersRead, std::string(signature).size());
        if (kind == RoutineKind::Expression) {
          EXPECT_NE(r.type, CallResult::Type::None);
        } else {
          EXPECT_EQ(r.type, results[k]);
        }
      }
    }
    host.Shutdown();
  }
  std::filesystem::current_path(old);
  std::filesystem::remove_all(work);
}

}  // namespace
}  // namespace vxsim
