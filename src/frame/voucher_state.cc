#include "frame/voucher_state.h"

#include "db/money.h"
#include "db/text.h"
#include "frame/convert.h"

namespace rembiz::frame {
namespace {

using db::RoundCents;
using db::SqlText;

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

}  // namespace rembiz::frame
