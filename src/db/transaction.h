// Transactions as scopes: begun when made, rolled back when the scope ends without a commit, so
// that no path (an early return, an exception) can leave one open or half done.
#pragma once

#include "db/connection.h"

namespace rembiz::db {

class Transaction {
 public:
  // Begins a transaction. With `begin_timeout` the wait for the write lock is limited to that
  // many seconds, and the statements that follow get `command_timeout`.
  explicit Transaction(Connection& cn);
  Transaction(Connection& cn, int begin_timeout, int command_timeout);
  // Rolls back unless committed or rolled back already; its own failures are ignored, since the
  // error that ended the scope is the one to report.
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void Commit();
  void Rollback();
  bool Open() const { return open_; }

 private:
  Connection& cn_;
  bool open_ = false;
};

// A point inside an open transaction to return to: what was written after it is undone by
// Rollback or by the end of the scope, unless Release keeps it.
class Savepoint {
 public:
  explicit Savepoint(Connection& cn);
  ~Savepoint();
  Savepoint(const Savepoint&) = delete;
  Savepoint& operator=(const Savepoint&) = delete;

  void Release();
  void Rollback();

 private:
  Connection& cn_;
  bool open_ = false;
};

}  // namespace rembiz::db
