// The host's online-banking interface. It takes over payment bills (one per payment line), hands
// out payment ids, lets the bank confirm a payment, withdraws unconfirmed bills and records the
// ledger voucher that carries a paid line. State lives in Host_BankBill; the service works on
// the caller's connection, so a bill commits or rolls back with the caller's transaction.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "db/recordset.h"
#include "host/session.h"
#include "xml/document.h"

namespace rembiz::host {

class BankLink {
 public:
  virtual ~BankLink() = default;

  // Takes over the bill records (columns iID, cNoteNo, dVouchDate, iAmount_f, cExch_name,
  // iAmount, cNatBankAccount, cBankAccount, cOperator, iExchRate, cDigest, cSSCode, cDeptCode,
  // cItem_Class, cItemCode, cPerson). On success `result` holds
  // "<xml><in><z:row guid='<iID>' payid='<payment id>'/>…</in></xml>". All or nothing: false
  // with `error` when any bill is refused.
  virtual bool ImportBill(db::Recordset& bills, Session& session, int bill_kind,
                          xml::Document& result, std::string& error) = 0;
  // Withdraws the unconfirmed bill of a payment line.
  virtual bool DeleteBill(std::string_view system_id, int bill_kind, std::string_view line_guid,
                          std::string_view pay_id, std::string& error) = 0;
  // Records the ledger voucher of a confirmed payment; a line without a payment id has nothing
  // to record.
  virtual bool WritePZID(std::string_view system_id, std::string_view line_guid,
                         std::string_view pay_id, std::string_view pz_id, std::string& error) = 0;
  // Removes that record again when the ledger voucher is cancelled.
  virtual bool DeletePZID(std::string_view line_guid, std::string_view pay_id,
                          std::string_view pz_id, std::string& error) = 0;
  // The bank side: the payment was made. Marks the bill and its payment line confirmed.
  virtual bool Confirm(std::string_view pay_id, std::string& error) = 0;
};

std::unique_ptr<BankLink> CreateBankLink(db::Connection& cn);

}  // namespace rembiz::host
