// The ledger's cheque register as the expense module uses it: a database object bound to the
// account connection, the ledger's public services for a system, and the cheque book that
// checks and registers cheques. A cheque number is unique per bank account (the ledger account
// of the bank); the register lives in Host_Cheque.
#pragma once

#include <memory>
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

class LedgerCommon {
 public:
  bool InitPubs2(LedgerDb& database, std::string_view system_id) {
    database_ = &database;
    system_id_ = std::string(system_id);
    return true;
  }
  LedgerDb* Database() const { return database_; }
  const std::string& SystemId() const { return system_id_; }

 private:
  LedgerDb* database_ = nullptr;
  std::string system_id_;
};

class ChequeBook {
 public:
  // Outcomes of ZPControl in zpcheck().
  static constexpr int kRefused = 1;      // void, or registered for another payment
  static constexpr int kNotInBook = 2;    // the number is not in the register yet
  static constexpr int kSamePayment = 3;  // already registered for this very payment
  static constexpr int kBlankInBook = 4;  // in the register, not yet used for a payment

  virtual ~ChequeBook() = default;

  virtual void zzLogin(Session* session) = 0;
  virtual void zzSys(LedgerCommon* common) = 0;

  // Reads a "<book cCode=… cn_id=… csettle=… mc=… bill_date=… cremark=… cdept=… cperson=…
  // cget=…/>" document and checks the cheque against the register. False when the settlement
  // style is no cheque style (the line needs no registration); otherwise true with zpcheck()
  // and, for a refusal, zpmsg().
  virtual bool ZPControl(std::string_view xml) = 0;
  // Enters the checked number in the register: blank, or void, or at once registered for the
  // payment. A refusal leaves its text in zpmsg().
  virtual void StartZPDJ(bool void_cheque, bool with_payment) = 0;
  // Registers the payment on a blank number of the register; a refusal leaves zpmsg().
  virtual void UpdateZPDJ() = 0;

  virtual int zpcheck() const = 0;
  virtual const std::string& zpmsg() const = 0;
};

std::unique_ptr<ChequeBook> CreateChequeBook();

}  // namespace rembiz::host
