// The per-object list of search results.
#pragma once

#include <string>
#include <vector>

namespace vellix {

struct SearchResult {
  std::string group;
  std::string item;
  std::string value;
};

struct SearchResults {
  std::vector<SearchResult> results;
};

}  // namespace vellix
