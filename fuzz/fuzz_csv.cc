// Fuzz target for CSV import in both layouts, with the separator and the store's case rule
// drawn from the input.
//
// Input: one options byte (bit 0 table layout, bit 1 case sensitive, bits 2-3 the
// separator's length, 0 to 3), the separator, then the file's bytes.
//
// Invariants checked besides "no crash": in the pair layout with a one-byte separator that
// is no line break, what is imported exports to a text that imports back to the same text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "exchange/csv.h"
#include "store/store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t options = data[0];
  const size_t separatorLength = (options >> 2) & 3;
  if (size < 1 + separatorLength) return 0;
  const std::string separator(reinterpret_cast<const char*>(data + 1), separatorLength);
  const std::string_view text(reinterpret_cast<const char*>(data + 1 + separatorLength),
                              size - 1 - separatorLength);

  vellix::Store store;
  store.settings().autoSave = false;
  store.SetCaseSensitive(options & 2);
  if (options & 1) {
    vellix::ImportCsvTableText(store, text, separator);
    vellix::Store again;
    again.settings().autoSave = false;
    again.SetCaseSensitive(options & 2);
    vellix::ImportCsvTableText(again, vellix::CsvTable(store, separator), separator);
    return 0;
  }
  vellix::ImportCsvText(store, text, "", separator);
  const std::string exported = vellix::CsvText(store, "", separator);
  if (separator.size() == 1 && separator != "\r" && separator != "\n") {
    vellix::Store again;
    again.settings().autoSave = false;
    again.SetCaseSensitive(options & 2);
    vellix::ImportCsvText(again, exported, "", separator);
    if (vellix::CsvText(again, "", separator) != exported) std::abort();
  }
  return 0;
}
