#include "db/transaction.h"

namespace rembiz::db {

Transaction::Transaction(Connection& cn) : cn_(cn) {
  cn_.BeginTrans();
  open_ = true;
}

Transaction::Transaction(Connection& cn, int begin_timeout, int command_timeout) : cn_(cn) {
  cn_.SetCommandTimeout(begin_timeout);
  cn_.BeginTrans();
  open_ = true;
  cn_.SetCommandTimeout(command_timeout);
}

Transaction::~Transaction() {
  if (!open_) return;
  try {
    cn_.RollbackTrans();
  } catch (...) {
  }
}

void Transaction::Commit() {
  open_ = false;
  cn_.CommitTrans();
}

void Transaction::Rollback() {
  open_ = false;
  cn_.RollbackTrans();
}

Savepoint::Savepoint(Connection& cn) : cn_(cn) {
  cn_.BeginSavepoint();
  open_ = true;
}

Savepoint::~Savepoint() {
  if (!open_) return;
  try {
    Rollback();
  } catch (...) {
  }
}

void Savepoint::Release() {
  open_ = false;
  cn_.ReleaseSavepoint();
}

void Savepoint::Rollback() {
  open_ = false;
  cn_.RollbackToSavepoint();
}

}  // namespace rembiz::db
