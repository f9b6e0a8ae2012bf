#include "voucher/voucher_state.h"

#include <memory>

#include "db/money.h"
#include "db/text.h"
#include "frame/convert.h"
#include "host/approval_flow.h"
#include "host/messages.h"

namespace rembiz::voucher {
namespace {

using db::RoundCents;
using db::SqlText;
using frame::NormalizeSql;

// Host_FlowInstance.iState of a rejected instance.
constexpr int64_t kFlowRejected = 2;

VoucherState Named(std::string code, std::string_view key, std::string_view p1 = "",
                   std::string_view p2 = "") {
  return VoucherState{std::move(code), host::MessageText(key, "", p1, p2)};
}

// A voucher submitted and not yet approved: where its approval stands.
VoucherState InApproval(host::Session& session, db::Connection& cn, std::string_view card,
                        std::string_view guid) {
  std::unique_ptr<host::ApprovalFlow> flow = host::CreateApprovalFlow();
  flow->Init(session, cn);
  if (std::optional<host::FlowProgress> progress = flow->GetProgress(card, guid)) {
    if (progress->state == kFlowRejected) return Named("rejected", "Q7.Rembiz.0449");
    if (progress->passed && progress->state == 0) {
      return Named("step", "Q7.Rembiz.0448", std::to_string(progress->position),
                   std::to_string(progress->steps));
    }
  }
  return Named("submitted", "Q7.Rembiz.0447");
}

}  // namespace

double ClaimSettlement::Excess() const {
  const double over = RoundCents(settled) - RoundCents(amount);
  return over > 0.005 ? RoundCents(over) : 0;
}

bool ClaimSettlement::Covered() const {
  return RoundCents(settled) > 0 && RoundCents(settled) >= RoundCents(amount);
}

std::string ClaimSettlement::ExcessText() const { return db::DecimalsText(Excess(), decimals); }

ClaimSettlement ReadClaimSettlement(db::Connection& cn, std::string_view guid) {
  const std::string lines =
      "(Select isnull(Sum(isnull(b.dblMoney,0)),0) From EC_BalanceInfo b Where b.ExpenGUID = "
      "v.GUID And b.intIOType = ";
  db::Recordset rs = cn.Execute(NormalizeSql(
      "Select v.strTypeCode, isnull(v.dblMoney,0) As dblMoney, v.strBill, c.idec, (Select "
      "isnull(Sum(isnull(l.dblJE,0)),0) From EC_ExpenLoanInfo l Where l.Expenguid = v.GUID) As "
      "W, " +
      lines + "1) As P1, " + lines +
      "2) As P2 From EC_ExpenVouch v Left Join foreigncurrency c On c.cexch_name = v.strBill "
      "Where v.GUID = " +
      SqlText(guid)));
  ClaimSettlement out;
  if (rs.Eof()) return out;
  out.amount = rs.Value("dblMoney").ToDouble();
  out.currency = rs.Text("strBill");
  if (!rs.Value("idec").IsNull()) out.decimals = static_cast<int>(rs.Value("idec").ToInt());
  const double written_off = rs.Value("W").ToDouble();
  const double received = rs.Value("P1").ToDouble();
  const double paid_out = rs.Value("P2").ToDouble();
  if (rs.Text("strTypeCode").starts_with("1")) {
    out.settled = received - paid_out - written_off;
    out.paid = received;
  } else {
    out.settled = written_off + paid_out - received;
    out.paid = paid_out;
  }
  return out;
}

std::optional<VoucherState> ReadVoucherState(host::Session& session, db::Connection& cn,
                                             std::string_view table, std::string_view guid) {
  const bool loan = table == "EC_LoanVouch";
  db::Recordset head = cn.Execute(NormalizeSql(
      "Select strTypeCode, blnAudi, isnull(strAuditorID,'') As strAuditorID, blnSettle" +
      std::string(loan ? ", isnull(dblReturn,0) As dblReturn" : "") + " From " +
      std::string(loan ? "EC_LoanVouch" : "EC_ExpenVouch") + " Where GUID = " + SqlText(guid)));
  if (head.Eof()) return std::nullopt;
  return VoucherStateOf(session, cn, table, guid, head);
}

VoucherState VoucherStateOf(host::Session& session, db::Connection& cn, std::string_view table,
                            std::string_view guid, const db::Recordset& head) {
  const bool loan = table == "EC_LoanVouch";
  if (head.Text("strAuditorID").empty()) {
    if (!head.Value("blnAudi").ToBool()) return Named("draft", "Q7.Rembiz.0446");
    const std::string type_code = head.Text("strTypeCode");
    const char* card = loan ? "45" : type_code.starts_with("1") ? "46" : "47";
    return InApproval(session, cn, card, guid);
  }

  // Approved: what has been repaid of a loan, what has been settled of a claim.
  if (loan) {
    if (head.Value("blnSettle").ToBool()) return Named("settled", "Q7.Rembiz.0453");
    if (RoundCents(head.Value("dblReturn").ToDouble()) > 0) {
      return Named("partpaid", "Q7.Rembiz.0454");
    }
    return Named("approved", "Q7.Rembiz.0450");
  }
  const ClaimSettlement settlement = ReadClaimSettlement(cn, guid);
  if (RoundCents(settlement.settled) <= 0) return Named("approved", "Q7.Rembiz.0450");
  if (!settlement.Covered()) return Named("partpaid", "Q7.Rembiz.0451");
  // Covered without a payment: the write-offs settled it.
  if (RoundCents(settlement.paid) > 0) return Named("paid", "Q7.Rembiz.0452");
  return Named("settled", "Q7.Rembiz.0453");
}

std::string CashPayId(std::string_view business_date, std::string_view row_autoid) {
  std::string id = "XJ";
  for (char c : business_date.substr(0, 10)) {
    if (c >= '0' && c <= '9') id += c;
  }
  return id + "-" + std::string(row_autoid);
}

bool IsCashPayId(std::string_view pay_id) { return pay_id.starts_with("XJ"); }

}  // namespace rembiz::voucher
