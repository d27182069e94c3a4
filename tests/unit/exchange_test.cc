// The exchange operations where scenarios cannot reach: shapes, counts and indexes a host or
// a group could make huge.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "exchange/arrays.h"
#include "exchange/csv.h"
#include "exchange/parts.h"
#include "exchange/snapshots.h"
#include "format/text.h"
#include "store/store.h"

namespace vellix {
namespace {

TEST(ExchangeArrays, ShapesOutsideTheBoundsTouchNothing) {
  Store store;
  store.settings().autoSave = false;
  // Sizes whose product overflows, is negative or passes the bound: nothing is read.
  const int32_t big = std::numeric_limits<int32_t>::max();
  for (const ArrayShape shape :
       {ArrayShape{big, big, big, true, false, false}, ArrayShape{-1, 1, 1, true, false, false},
        ArrayShape{4096, 4096, 2, true, false, false}}) {
    ArrayCells cells;
    cells.shape = shape;
    LoadArray(store, "g", cells);
  }
  EXPECT_EQ(store.GroupCount(), 0);
  EXPECT_FALSE((ArrayShape{big, big, big, true, false, false}.CellCount()));
  EXPECT_EQ((ArrayShape{big, big, 1, true, false, false}.CellCount()),
            uint64_t{static_cast<uint64_t>(big) * static_cast<uint64_t>(big)});

  // Put: coordinates at or past a size, after the base is taken off, are never written.
  int32_t cells[2 * 3 * 1] = {};
  for (const char* name :
       {"2,0,0", "0,3,0", "0,0,1", "0,0,4294967296", "99999999999999999999,0,0", "1,2,0"})
    store.SetItem("g", name, "7");
  PutArray(store, "g", ArrayShape{2, 3, 1, true, false, false}, cells);
  EXPECT_EQ(cells[1 + 2 * 2], 7);
  int written = 0;
  for (int32_t c : cells) written += c != 0;
  EXPECT_EQ(written, 1);
  // In a base-1 array "0,..." is below the first cell.
  store.SetItem("b", "0,1,1", "5");
  store.SetItem("b", "2,3,1", "6");
  int32_t base1[6] = {};
  PutArray(store, "b", ArrayShape{2, 3, 1, true, false, true}, base1);
  EXPECT_EQ(base1[5], 6);
  EXPECT_EQ(base1[0], 0);
}

TEST(ExchangeParts, TheLastSettablePartAndBeyond) {
  Store store;
  store.settings().autoSave = false;
  SetItemPart(store, "g", "v", kMaxItemParts - 1, "end");
  const auto value = store.FindValue("g", "v");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->size(), static_cast<size_t>(kMaxItemParts - 1) + 3);
  EXPECT_EQ(GetItemPart(store, "g", "v", kMaxItemParts - 1, "none"), "end");
  SetItemPart(store, "g", "w", kMaxItemParts, "x");
  SetItemPart(store, "g", "w", std::numeric_limits<int64_t>::max(), "x");
  EXPECT_FALSE(store.HasItem("g", "w"));
  EXPECT_EQ(GetItemPart(store, "g", "v", std::numeric_limits<int64_t>::max(), "none"), "none");
}

TEST(ExchangeCsv, LineEndsAndEmptySeparators) {
  Store store;
  store.settings().autoSave = false;
  // "\r\n", "\n", a lone "\r" kept inside a value, and a last line without an end.
  ImportCsvText(store, "g,a,1\r\nh,b,2\ni,c,3\r\r\nj,d,4", "", ",");
  EXPECT_EQ(store.GetItem("g", "a", "?"), "1");
  EXPECT_EQ(store.GetItem("h", "b", "?"), "2");
  EXPECT_EQ(store.GetItem("i", "c", "?"), "3\r");
  EXPECT_EQ(store.GetItem("j", "d", "?"), "4");
  const std::string pairs = CsvText(store, "", ",");
  Store copy;
  copy.settings().autoSave = false;
  ImportCsvText(copy, pairs, "", ",");
  EXPECT_EQ(CsvText(copy, "", ","), pairs);
  const std::string table = CsvTable(store, ";");
  Store fromTable;
  fromTable.settings().autoSave = false;
  ImportCsvTableText(fromTable, table, ";");
  EXPECT_EQ(CsvTable(fromTable, ";"), table);

  // Without a separator nothing is read, and fields are written back to back.
  ImportCsvText(copy, "x,y,z\r\n", "", "");
  ImportCsvText(copy, "x,y,z\r\n", "g", "");
  ImportCsvTableText(copy, "Group,a\r\nx,1\r\n", "");
  EXPECT_FALSE(copy.GroupExists("x"));
  EXPECT_EQ(copy.ItemCount("g"), 1);
  EXPECT_EQ(CsvText(store, "g", ""), "a1");
  EXPECT_EQ(CsvTable(store, ""), "Groupabcd\r\ng1\r\nh2\r\ni3\r\r\nj4\r\n");
}

// Every separator, one byte or longer, gives back on import what the export wrote; a
// one-byte separator writes what it always wrote.
TEST(ExchangeCsv, ExportThenImportRoundTripsWithEverySeparator) {
  Store store;
  store.settings().autoSave = false;
  store.SetItem("g1", "a", "1");
  store.SetItem("g1", "b", "two words");
  store.SetItem("g2", "c", "");
  store.MakeGroup("empty");
  EXPECT_EQ(CsvText(store, "g1", ","), "a,1,b,two words");
  EXPECT_EQ(CsvText(store, "", ";"), "g1;a;1;b;two words\r\ng2;c;\r\nempty;");
  for (const std::string_view separator : {",", ";", ", ", "::", "||", ";;", "<=>"}) {
    SCOPED_TRACE(std::string(separator));
    Store copy;
    copy.settings().autoSave = false;
    ImportCsvText(copy, CsvText(store, "", separator), "", separator);
    ImportCsvText(copy, CsvText(store, "g1", separator), "row", separator);
    EXPECT_EQ(WriteText(copy),
              "[g1]\r\na=1\r\nb=two words\r\n[g2]\r\nc=\r\n[row]\r\na=1\r\nb=two words");
  }
}

// What an import stores, a save and a load give back: every field ends at its first zero
// byte, in both layouts, as a text from the host does.
TEST(ExchangeCsv, ImportedFieldsEndAtTheirFirstZeroByte) {
  using namespace std::string_literals;
  Store store;
  store.settings().autoSave = false;
  ImportCsvText(store, "g\0x,a\0b,1\0 1,c,3\r\nh,\0,4\r\n"s, "", ",");
  ImportCsvTableText(store, "Group,d\0e,f\r\nt\0u,5\0,\0\r\n"s, ",");
  const std::string saved = WriteText(store);
  EXPECT_EQ(saved, "[g]\r\na=1\r\nc=3\r\n[h]\r\n=4\r\n[t]\r\nd=5");
  Store loaded;
  loaded.settings().autoSave = false;
  ParseText(loaded, saved);
  EXPECT_EQ(WriteText(loaded), saved);
  EXPECT_EQ(loaded.TotalItems(), store.TotalItems());
}

TEST(ExchangeGlobals, CountsReachOnlyTheItemsThereAreBelowTheBound) {
  Store store;
  store.settings().autoSave = false;
  store.SetItem("g", "vals", "2147483647");
  store.SetItem("g", "val9", "9");
  store.SetItem("g", "val1048575", "1");
  store.SetItem("g", "val1048576", "2");
  store.SetItem("g", "strs", "-1");
  store.SetItem("g", "str0", "never");
  const GlobalsUpdate u = LoadGlobals(store, "g");
  ASSERT_EQ(u.values.size(), 2u);
  EXPECT_EQ(u.values[0].first, 9);
  EXPECT_EQ(u.values[1].first, kMaxGlobalIndex - 1);
  EXPECT_TRUE(u.strings.empty());
}

}  // namespace
}  // namespace vellix
