// A composite change of the exchange operations: the store's notifications and auto-save
// are held back while it runs, and the flag is put back on every way out.
#pragma once

#include "store/store.h"

namespace vellix {

class QuietChange {
 public:
  explicit QuietChange(Store& store) : store_(store), was_(store.quiet) { store_.quiet = true; }
  ~QuietChange() { store_.quiet = was_; }
  QuietChange(const QuietChange&) = delete;
  QuietChange& operator=(const QuietChange&) = delete;

 private:
  Store& store_;
  bool was_;
};

}  // namespace vellix
