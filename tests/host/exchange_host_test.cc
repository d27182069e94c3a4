// Host records that lie about their sizes: what the module reads of them is bounded.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "host.h"
#include "host_objects.h"

namespace vxsim {
namespace {

// A chart whose point reader never says "no more".
int VX_CALL EndlessPoints(void*, int32_t index, VxChartPoint* point) {
  *point = VxChartPoint{VX_POINT_HAS_LABEL, static_cast<float>(index), 1.0f, 0, 0, "same"};
  return 1;
}

// Host records that claim more than they hold: the module bounds what it reads. Nothing
// here writes a file.
TEST(ExchangeHost, SizesAndCountsFromTheHostAreBounded) {
  Host host(VELLIX_MODULE_PATH, std::filesystem::temp_directory_path().string());
  host.Start();
  std::vector<uint8_t> edit(VX_EDIT_DATA_SIZE, 0);
  edit[offsetof(VxEditData, standardSettings)] = 1;
  Object& ini = host.CreateObject("ini", edit);
  const Printer ignore = [](const std::string&) {};
  RunHostObjectCommand(host, SplitLine("array a 1 1 1 numeric"), ignore);
  RunHostObjectCommand(host, SplitLine("chart c"), ignore);
  auto call = [&](int action, const char* object, const char* group) {
    host.Call(ini, RoutineKind::Action, action, {ParseToken(object), ParseToken(group)});
  };
  auto groups = [&] { return host.Call(ini, RoutineKind::Expression, 16, {}).integer; };

  // An array claiming a trillion cells, or a negative size, is not read at all.
  auto* array = static_cast<VxArrayData*>(host.FindObject("a")->data->LiveData());
  array->sizeX = array->sizeY = array->sizeZ = 100000;
  call(73, "@a", "\"big\"");
  array->sizeX = -1;
  array->sizeY = array->sizeZ = 1;
  call(73, "@a", "\"negative\"");
  EXPECT_EQ(groups(), 0);

  // A chart whose reader never ends is read up to the bound.
  auto* chart = static_cast<VxChartData*>(host.FindObject("c")->data->LiveData());
  chart->readPoint = &EndlessPoints;
  call(75, "@c", "\"points\"");
  EXPECT_EQ(host.Call(ini, RoutineKind::Expression, 17, {ParseToken("points")}).integer, 1);

  // Global counts that are negative read nothing.
  host.Main().record.globalValueCount = -5;
  host.Main().record.globalStringCount = -5;
  host.Call(ini, RoutineKind::Action, 20, {ParseToken("g")});
  EXPECT_EQ(host.Call(ini, RoutineKind::Expression, 34, {ParseToken("g"), ParseToken(",")}).text,
            "vals,0,strs,0");
  host.Main().record.globalValueCount = 0;
  host.Main().record.globalStringCount = 0;
  host.Shutdown();
}

}  // namespace
}  // namespace vxsim
