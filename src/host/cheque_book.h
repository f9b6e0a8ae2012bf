// The ledger's cheque register as the expense module uses it: the cheque book that checks and
// registers cheques through the ledger's database object and public services (host/ledger.h).
// A cheque number is unique per bank account (the ledger account of the bank); the register
// lives in Host_Cheque.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "host/ledger.h"
#include "host/session.h"

namespace rembiz::host {

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
