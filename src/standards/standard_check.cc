#include "standards/standard_check.h"

#include <cmath>
#include <cstdio>

#include "db/error.h"
#include "db/money.h"
#include "db/recordset.h"
#include "db/text.h"
#include "db/variant.h"
#include "frame/convert.h"
#include "host/errors.h"
#include "host/messages.h"

namespace rembiz::standards {
namespace {

constexpr std::string_view kHardControlKey = "Q7.Rembiz.0028";

// VB run-time error numbers, as the amounts would have failed there.
constexpr int32_t kErrOverflow = 6;
constexpr int32_t kErrDivisionByZero = 11;

db::Recordset Query(db::Connection& cn, const std::string& sql) {
  return cn.Execute(frame::NormalizeSql(sql));
}
// A computed amount as SQL number text; it never pastes anything but a finite number.
std::string Number(double value) {
  if (!std::isfinite(value)) throw ComError(kErrOverflow, "Overflow", "Rembiz");
  return db::DoubleText(value);
}

void SetMessage(StandardOutcome& out, std::string_view language, std::string_view key,
                std::string_view p1, std::string_view p2 = "", std::string_view p3 = "") {
  out.message_key = std::string(key);
  out.message = host::MessageText(key, language, p1, p2, p3);
}

bool UsesDimension(db::Connection& cn, const std::string& guid, int dimension) {
  return !Query(cn, "select intEDCode from EC_EffectItem where intEDCode=" +
                        std::to_string(dimension) + " And GUIDStand=" + db::SqlText(guid))
              .Eof();
}

// The amount in local currency: the local currency itself (iotherused -1) is taken as it is,
// otherwise the rate multiplies (bcal 1) or divides it. Unknown currencies stay unconverted.
double ToLocal(db::Connection& cn, const std::string& currency, double amount, double rate) {
  if (rate == 0) throw ComError(kErrDivisionByZero, "Division by zero", "Rembiz");
  db::Recordset rs = Query(
      cn, "select (case isnull(iotherused,0) when -1 then " + Number(amount) +
              " else (case isnull(bcal,0) when 1 then " + Number(amount * rate) + " else " +
              Number(amount / rate) +
              " end)end)as ineed from foreigncurrency where cexch_name=" + db::SqlText(currency));
  if (rs.Eof()) return amount;
  return frame::NumValue(rs.Value("ineed"));
}

// The check proper; returns as soon as the outcome is decided.
void RunCheck(std::string_view language, db::Connection& cn, const ClaimRowValues& row,
              StandardOutcome& out) {
  if (row.receipt < 0 || row.claimed < 0 || row.quantity < 0) return;
  const double quantity = row.quantity == 0 ? 1 : row.quantity;
  if (row.item.empty() && row.department.empty()) return;

  db::Recordset stand = Query(
      cn,
      "select GUID,strStandName,strControlType from EC_Expense right join EC_ExpenseDepart on "
      "EC_Expense.guid=EC_ExpenseDepart.guidmain where EC_Expense.strIOItemCode=" +
          db::SqlText(row.item) +
          " and EC_ExpenseDepart.strdepartid=" + db::SqlText(row.department));
  if (stand.Eof()) return;
  out.guid = stand.Text("GUID");
  out.name = stand.Text("strStandName");
  out.control_type = stand.Text("strControlType");
  out.hard_control = IsHardControl(out.control_type);

  // Each dimension the standard uses narrows its value rows to the row's value.
  std::string condition = "EC_StandSet.GUIDStand=" + db::SqlText(out.guid);
  bool by_bracket = false;
  if (UsesDimension(cn, out.guid, 1)) {
    if (row.claimant.empty()) return SetMessage(out, language, "Q7.Rembiz.0029", out.name);
    db::Recordset grade = Query(cn, "select strGradeID from EC_PersonCtrl where strpersoncode=" +
                                        db::SqlText(row.claimant));
    if (grade.Eof()) return SetMessage(out, language, "Q7.Rembiz.0030", out.name);
    const std::string grade_id = grade.Text("strGradeID");
    if (grade_id.empty()) return SetMessage(out, language, "Q7.Rembiz.0031", out.name);
    condition += " and EC_StandSet.strField1=" + db::SqlText(grade_id);
  }
  if (UsesDimension(cn, out.guid, 2)) {
    if (row.place.empty()) return SetMessage(out, language, "Q7.Rembiz.0032", out.name);
    db::Recordset place = Query(
        cn, "select strGradeID from EC_Position where strPositionCode=" + db::SqlText(row.place));
    if (place.Eof()) return SetMessage(out, language, "Q7.Rembiz.0033", out.name);
    const std::string place_grade = place.Text("strGradeID");
    if (place_grade.empty()) return SetMessage(out, language, "Q7.Rembiz.0034", out.name);
    condition += " and EC_StandSet.strField2=" + db::SqlText(place_grade);
  }
  if (UsesDimension(cn, out.guid, 3)) {
    if (row.dimension3.empty()) return SetMessage(out, language, "Q7.Rembiz.0035", out.name);
    condition += " and EC_StandSet.strField3=" + db::SqlText(row.dimension3);
  }
  if (UsesDimension(cn, out.guid, 4)) {
    if (row.receipt == 0) return SetMessage(out, language, "Q7.Rembiz.0036", out.name);
    by_bracket = true;
  }

  // With brackets the lowest bracket whose upper bound reaches the receipt per unit wins.
  db::Recordset value =
      by_bracket
          ? Query(cn,
                  "select top 1 dblMoney,dblRate from EC_StandSet left join(SELECT * From "
                  "EC_EISet_Stand WHERE intEICode=4)B ON(EC_StandSet.GUIDStand=B.GUIDStand AND "
                  "EC_StandSet.strField4=B.strEICode) where " +
                      condition +
                      " and Cast(B.strEIName as decimal(20,2))>=" + Number(row.receipt / quantity) +
                      " order by Cast(B.strEIName as decimal(20,2))")
          : Query(cn, "select dblMoney,dblRate from EC_StandSet where " + condition);
  if (value.Eof()) return SetMessage(out, language, "Q7.Rembiz.0037", out.name);

  out.per_unit = frame::NumValue(value.Value("dblMoney"));
  out.percent = frame::NumValue(value.Value("dblRate"));
  out.base = out.per_unit * quantity;
  out.message.clear();

  // The standard is kept in local currency.
  double claimed = row.claimed;
  double receipt = row.receipt;
  if (!row.currency.empty()) {
    if (claimed != 0) claimed = ToLocal(cn, row.currency, claimed, row.rate);
    if (receipt != 0) receipt = ToLocal(cn, row.currency, receipt, row.rate);
  }
  out.claimed = claimed = db::RoundCents(claimed);
  out.receipt = receipt = db::RoundCents(receipt);

  // Above the base, a share of the receipt amount beyond the base is still allowed.
  if (claimed <= 0) {
    out.allowed = 0;
  } else if (claimed <= out.base) {
    out.allowed = claimed;
  } else if (receipt > out.base && receipt != 0) {
    out.allowed = db::RoundCents(out.base + (receipt - out.base) * out.percent / 100);
  } else {
    out.allowed = db::RoundCents(out.base);
  }

  if (out.allowed < claimed) {
    out.excess = db::RoundCents(claimed - out.allowed);
    SetMessage(out, language, "Q7.Rembiz.0038", db::CentsText(claimed), out.name,
               db::CentsText(claimed - out.allowed));
  }
}

}  // namespace

ClaimRowValues ClaimRowValues::FromClaim(const xml::Node& head, const xml::Node& row) {
  auto number = [](const xml::Node& node, std::string_view name) {
    return frame::NumValue(db::Variant(node.Attr(name)));
  };
  ClaimRowValues values;
  values.item = row.Attr("strIOItem");
  values.department = head.Attr("strDepartID");
  values.claimant = head.Attr("strLoanID");
  values.place = row.Attr("strEZero");
  values.dimension3 = row.Attr("strJTTools");
  values.receipt = number(row, "dblVouch");
  values.claimed = number(row, "dblMoney");
  values.quantity = number(row, "dblNumber");
  values.currency = head.Attr("strBill");
  values.rate = number(head, "fltRate");
  return values;
}

StandardOutcome StandardCheck(host::Session& session, db::Connection& cn,
                              const ClaimRowValues& row) {
  StandardOutcome out;
  try {
    RunCheck(session.LanguageId(), cn, row, out);
  } catch (const ComError& error) {
    // The check never fails its caller: a database error is reported like a broken standard.
    out.message_key.clear();
    out.message = error.Description();
    out.failed = true;
  }
  return out;
}

bool IsHardControl(std::string_view control_type) {
  return control_type == host::MessageText(kHardControlKey, "zh-CN");
}

bool UsesReceiptBracket(db::Connection& cn, std::string_view department, std::string_view item) {
  if (department.empty()) return false;
  return !Query(cn,
                "SELECT EC_EffectItem.intEDCode FROM EC_Expense INNER JOIN EC_ExpenseDepart ON "
                "EC_Expense.GUID = EC_ExpenseDepart.GuidMain LEFT OUTER JOIN EC_EffectItem ON "
                "EC_Expense.GUID = EC_EffectItem.GUIDStand WHERE (EC_EffectItem.intEDCode = 4) "
                "AND (EC_ExpenseDepart.strDepartID = " +
                    db::SqlText(department) +
                    ") AND (EC_Expense.strIOItemCode = " + db::SqlText(item) + ")")
              .Eof();
}

void RequireReceiptAmount(db::Connection& cn, std::string_view department, std::string_view item,
                          std::string_view receipt) {
  if (receipt.empty() && UsesReceiptBracket(cn, department, item)) {
    Raise(kErrBusiness, "Q7.Rembiz.0282");
  }
}

}  // namespace rembiz::standards
