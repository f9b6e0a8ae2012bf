#include "payment/bank_confirmation.h"

#include <optional>

#include "db/text.h"
#include "frame/convert.h"
#include "host/bank_link.h"
#include "voucher/history.h"

namespace rembiz::payment {

bool ConfirmBankPayment(db::Connection& cn, const std::string& pay_id, std::string& error) {
  const std::string id = db::SqlText(pay_id);
  db::Recordset line = cn.Execute(frame::NormalizeSql(
      "Select GUID, 1 As bLoan From EC_LoanVouch_Sub Where strPayID = " + id +
      " And isnull(blnNetOK,0) = 0 Union All Select GUID, 0 As bLoan From EC_BalanceInfo "
      "Where strPayID = " +
      id + " And isnull(blnNetOK,0) = 0"));
  // A payment reported again was confirmed before: its history has it already.
  std::optional<voucher::PaymentLineHistory> history;
  if (!line.Eof()) history.emplace(cn, line.Value("bLoan").ToInt() == 1, line.Text("GUID"));
  if (!host::CreateBankLink(cn)->Confirm(pay_id, error)) return false;
  // The bank is nobody the system knows: the entry names no user.
  if (history) history->Write({}, voucher::history::kConfirmed);
  return true;
}

}  // namespace rembiz::payment
