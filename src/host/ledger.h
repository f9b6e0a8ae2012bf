// The general ledger as the expense module meets it: the ledger's database object bound to the
// account connection, and its public services for an outside system. Among them is the ledger's
// own voucher save for lines an outside system staged in the outside-voucher layout: vouchers
// live in GL_accvouch, numbered per voucher sign (dsign) and period; the periods of the account
// year are qdsystem..UA_Period, closed periods gl_mend, accounts code (be = 1 takes postings).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "host/session.h"

namespace rembiz::host {

class LedgerDb {
 public:
  bool openDatabase(db::Connection& cn) {
    cn_ = &cn;
    return true;
  }
  void oclose() { cn_ = nullptr; }
  // The bound connection; ComError when the database is not open.
  db::Connection& Connection() const;

 private:
  db::Connection* cn_ = nullptr;
};

// A saved ledger voucher: sign, period and number make its code "记-3-12".
struct LedgerVoucher {
  std::string sign;
  int period = 0;
  int number = 0;
  int sign_seq = 0;
  std::string Code() const;
};

class LedgerCommon {
 public:
  bool InitPubs2(LedgerDb& database, std::string_view system_id) {
    database_ = &database;
    system_id_ = std::string(system_id);
    return true;
  }
  LedgerDb* Database() const { return database_; }
  const std::string& SystemId() const { return system_id_; }

  // The sequence of a voucher sign; raises "Rembiz.Host.LedgerNoSign" for an unknown sign.
  int SignSequence(std::string_view sign) const;
  // The period of the session's account year that holds the date ("YYYY-MM-DD"); 0 when none.
  int PeriodOfDate(const Session& session, std::string_view date) const;
  // The last closed period of the year; 0 when none is closed.
  int LastClosedPeriod() const;
  // Whether the account exists and takes postings.
  bool IsPostingAccount(std::string_view code) const;

  // Saves the lines staged in the tempdb table `staging_table` (lines with an amount; the
  // outside-voucher layout) as one voucher of the session's account year, as the ledger's voucher
  // save does: every line of one sign, date and outside voucher, on a posting account, in an
  // open period, debit equal to credit to the cent. The voucher takes the next number of its
  // sign and period, its lines are numbered in staging order, and it records the outside
  // system ("ec" for this module) and the outside voucher's link id. Raises error 9000 with a
  // "Rembiz.Host.Ledger…" text when the ledger refuses; nothing is written then.
  LedgerVoucher SaveOutVoucher(const Session& session, std::string_view staging_table) const;

  // The voucher an outside system saved under a link id and that is not void.
  std::optional<LedgerVoucher> FindOutVoucher(std::string_view link_id) const;

 private:
  db::Connection& Cn() const;

  LedgerDb* database_ = nullptr;
  std::string system_id_;
};

// The ledger's database object and public services opened on a connection for a system, and
// closed again when the scope ends.
class OpenLedger {
 public:
  OpenLedger(db::Connection& cn, std::string_view system_id) {
    database_.openDatabase(cn);
    common_.InitPubs2(database_, system_id);
  }
  ~OpenLedger() { database_.oclose(); }
  OpenLedger(const OpenLedger&) = delete;
  OpenLedger& operator=(const OpenLedger&) = delete;

  const LedgerCommon* operator->() const { return &common_; }

 private:
  LedgerDb database_;
  LedgerCommon common_;
};

}  // namespace rembiz::host
