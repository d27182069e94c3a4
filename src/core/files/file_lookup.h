// One item of a plain file, found while the file is read, without loading the document.
#pragma once

#include <string>
#include <string_view>

#include "format/lookup.h"
#include "store/settings.h"

namespace vellix {

// LookupItem over a file that is neither compressed nor enciphered, read in pieces, so that
// memory stays small however large the file. kUnsure whenever the scan cannot answer for
// certain (LookupItem) and whenever the file cannot be read whole (missing, not a regular
// file, a read error): the caller then loads the file as usual, and that load says what is
// wrong with it.
ItemLookup LookupFileItem(const std::string& path, const DocumentSettings& settings,
                          bool caseSensitive, std::string_view group, std::string_view item,
                          LookupValues values = LookupValues::kDocument);

}  // namespace vellix
