// A transaction of one ledger procedure: rolled back when the scope ends without Commit, so a
// failure at any point leaves nothing half-written.
#pragma once

#include "db/connection.h"

namespace rembiz::ledger {

class TransactionScope {
 public:
  explicit TransactionScope(db::Connection& cn) : cn_(cn) { cn_.BeginTrans(); }
  ~TransactionScope() {
    if (!open()) return;
    try {
      cn_.RollbackTrans();
    } catch (...) {
      // The error that ended the scope is the one to report.
    }
  }
  TransactionScope(const TransactionScope&) = delete;
  TransactionScope& operator=(const TransactionScope&) = delete;

  void Commit() { cn_.CommitTrans(); }

 private:
  bool open() const { return cn_.InTransaction(); }
  db::Connection& cn_;
};

}  // namespace rembiz::ledger
