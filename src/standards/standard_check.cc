#include "standards/standard_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "db/error.h"
#include "db/money.h"
#include "db/recordset.h"
#include "db/text.h"
#include "db/transaction.h"
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

// The amount in local currency: the local currency itself (iotherused -1) is taken as it is,
// otherwise the rate multiplies (bcal 1) or divides it. Unknown currencies stay unconverted.
double ToLocal(StandardLookups& lookups, const std::string& currency, double amount, double rate) {
  if (rate == 0) throw ComError(kErrDivisionByZero, "Division by zero", "Rembiz");
  // Each amount the conversion may take must be a finite number.
  Number(amount);
  Number(amount * rate);
  Number(amount / rate);
  std::optional<StandardLookups::Conversion> conversion = lookups.CurrencyConversion(currency);
  if (!conversion) return amount;
  if (conversion->local) return amount;
  return conversion->multiply ? amount * rate : amount / rate;
}

// The items of a claim's rows as an IN list of literals.
std::string InList(const std::vector<std::string>& items) {
  std::string list;
  for (const std::string& item : items) list += (list.empty() ? "" : ",") + db::SqlText(item);
  return list;
}

// The standards of the items in a department, each with the dimensions it uses.
constexpr const char* kStandards =
    "select EC_Expense.strIOItemCode,GUID,strStandName,strControlType,(select count(*) from "
    "EC_EffectItem where intEDCode=1 And GUIDStand=EC_Expense.GUID) As nDim1,(select count(*) "
    "from EC_EffectItem where intEDCode=2 And GUIDStand=EC_Expense.GUID) As nDim2,(select "
    "count(*) from EC_EffectItem where intEDCode=3 And GUIDStand=EC_Expense.GUID) As "
    "nDim3,(select count(*) from EC_EffectItem where intEDCode=4 And "
    "GUIDStand=EC_Expense.GUID) As nDim4 from EC_Expense right join EC_ExpenseDepart on "
    "EC_Expense.guid=EC_ExpenseDepart.guidmain where ";

StandardLookups::Standard StandardOf(const db::Recordset& rs) {
  StandardLookups::Standard standard;
  standard.guid = rs.Text("GUID");
  standard.name = rs.Text("strStandName");
  standard.control_type = rs.Text("strControlType");
  for (int i = 0; i < 4; ++i) {
    standard.uses[i] = rs.Value("nDim" + std::to_string(i + 1)).ToInt() > 0;
  }
  return standard;
}

// The check proper; returns as soon as the outcome is decided.
void RunCheck(std::string_view language, StandardLookups& lookups, const ClaimRowValues& row,
              StandardOutcome& out) {
  if (row.receipt < 0 || row.claimed < 0 || row.quantity < 0) return;
  const double quantity = row.quantity == 0 ? 1 : row.quantity;
  if (row.item.empty() && row.department.empty()) return;

  std::optional<StandardLookups::Standard> stand = lookups.Find(row.item, row.department);
  if (!stand) return;
  out.guid = stand->guid;
  out.name = stand->name;
  out.control_type = stand->control_type;
  out.hard_control = IsHardControl(out.control_type);

  // Each dimension the standard uses narrows its value rows to the row's value.
  std::string condition = "EC_StandSet.GUIDStand=" + db::SqlText(out.guid);
  bool by_bracket = false;
  if (stand->uses[0]) {
    if (row.claimant.empty()) return SetMessage(out, language, "Q7.Rembiz.0029", out.name);
    std::optional<std::string> grade = lookups.PersonGrade(row.claimant);
    if (!grade) return SetMessage(out, language, "Q7.Rembiz.0030", out.name);
    if (grade->empty()) return SetMessage(out, language, "Q7.Rembiz.0031", out.name);
    condition += " and EC_StandSet.strField1=" + db::SqlText(*grade);
  }
  if (stand->uses[1]) {
    if (row.place.empty()) return SetMessage(out, language, "Q7.Rembiz.0032", out.name);
    std::optional<std::string> place_grade = lookups.PlaceGrade(row.place);
    if (!place_grade) return SetMessage(out, language, "Q7.Rembiz.0033", out.name);
    if (place_grade->empty()) return SetMessage(out, language, "Q7.Rembiz.0034", out.name);
    condition += " and EC_StandSet.strField2=" + db::SqlText(*place_grade);
  }
  if (stand->uses[2]) {
    if (row.dimension3.empty()) return SetMessage(out, language, "Q7.Rembiz.0035", out.name);
    condition += " and EC_StandSet.strField3=" + db::SqlText(row.dimension3);
  }
  if (stand->uses[3]) {
    if (row.receipt == 0) return SetMessage(out, language, "Q7.Rembiz.0036", out.name);
    by_bracket = true;
  }

  // With brackets the lowest bracket whose upper bound reaches the receipt per unit wins.
  db::Recordset value = lookups.ValueRows(
      by_bracket
          ? "select top 1 dblMoney,dblRate from EC_StandSet left join(SELECT * From "
            "EC_EISet_Stand WHERE intEICode=4)B ON(EC_StandSet.GUIDStand=B.GUIDStand AND "
            "EC_StandSet.strField4=B.strEICode) where " +
                condition + " and Cast(B.strEIName as decimal(20,2))>=" +
                Number(row.receipt / quantity) + " order by Cast(B.strEIName as decimal(20,2))"
          : "select dblMoney,dblRate from EC_StandSet where " + condition);
  if (value.Eof()) return SetMessage(out, language, "Q7.Rembiz.0037", out.name);

  out.per_unit = frame::NumValue(value.Value("dblMoney"));
  out.percent = frame::NumValue(value.Value("dblRate"));
  out.base = out.per_unit * quantity;
  out.message.clear();

  // The standard is kept in local currency.
  double claimed = row.claimed;
  double receipt = row.receipt;
  if (!row.currency.empty()) {
    if (claimed != 0) claimed = ToLocal(lookups, row.currency, claimed, row.rate);
    if (receipt != 0) receipt = ToLocal(lookups, row.currency, receipt, row.rate);
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

void StandardLookups::Preload(std::string_view department, const std::vector<std::string>& items,
                              std::string_view claimant, std::string_view currency) {
  department_ = std::string(department);
  preloaded_ = true;
  standards_.clear();
  items_.clear();
  standards_error_.reset();
  items_error_.reset();
  std::vector<std::string> asked;
  for (const std::string& item : items) {
    if (!item.empty() && std::find(asked.begin(), asked.end(), item) == asked.end()) {
      asked.push_back(item);
    }
  }
  if (asked.empty()) return;
  const std::string list = InList(asked);
  // A failed read is kept and raised where the rows' own reads would have failed: in a row's
  // standard check (its message) or in the item check (the save's error).
  try {
    for (db::Recordset rs =
             Query(cn_, std::string(kStandards) + "EC_Expense.strIOItemCode In (" + list +
                            ") and EC_ExpenseDepart.strdepartid=" + db::SqlText(department));
         !rs.Eof(); rs.MoveNext()) {
      standards_[db::Lower(rs.Text("strIOItemCode"))].push_back(StandardOf(rs));
    }
  } catch (const ComError& e) {
    standards_error_ = e;
  }
  // The claimant's grade and the currency's flags ride along with the items.
  const std::string person = db::SqlText(claimant);
  const std::string money = db::SqlText(currency);
  try {
    db::Recordset rs = Query(
        cn_,
        "Select strCode,blnEnd,(select count(*) from EC_PersonCtrl where strpersoncode=" + person +
            ") As nPerson,(select strGradeID from EC_PersonCtrl where strpersoncode=" + person +
            ") As strGradeID,(select count(*) from foreigncurrency where cexch_name=" + money +
            ") As nCurrency,(select isnull(iotherused,0) from foreigncurrency where "
            "cexch_name=" +
            money +
            ") As iotherused,(select isnull(bcal,0) from foreigncurrency where "
            "cexch_name=" +
            money + ") As bcal From EC_IOItem Where strCode In (" + list + ")");
    if (!rs.Eof()) {
      std::optional<std::string> grade;
      if (rs.Value("nPerson").ToInt() > 0) grade = rs.Text("strGradeID");
      person_grades_.emplace(std::string(claimant), grade);
      std::optional<Conversion> conversion;
      if (rs.Value("nCurrency").ToInt() > 0) {
        conversion = Conversion{.local = rs.Value("iotherused").ToInt() == -1,
                                .multiply = rs.Value("bcal").ToInt() == 1};
      }
      conversions_.emplace(std::string(currency), conversion);
    }
    for (; !rs.Eof(); rs.MoveNext()) {
      items_.emplace(db::Lower(rs.Text("strCode")), rs.Value("blnEnd").ToBool());
    }
  } catch (const ComError& e) {
    items_error_ = e;
  }
}

namespace {
// Ends a check where it would read its value rows, while they are being gathered.
struct ValueRowsAsked {};
}  // namespace

void StandardLookups::PreloadValueRows(std::string_view language,
                                       const std::vector<ClaimRowValues>& rows) {
  value_rows_.clear();
  failed_reads_.clear();
  std::vector<std::string> asked;
  asked_ = &asked;
  for (const ClaimRowValues& row : rows) {
    StandardOutcome ignored;
    try {
      RunCheck(language, *this, row, ignored);
    } catch (const ValueRowsAsked&) {
    } catch (...) {
      // The check itself meets it again in its row's turn (a failed read: see Grade).
    }
  }
  asked_ = nullptr;
  std::sort(asked.begin(), asked.end());
  asked.erase(std::unique(asked.begin(), asked.end()), asked.end());
  if (asked.size() < 2) return;  // one query either way
  // Each query as it stands, numbered, in one UNION ALL: its rows come back as they would alone.
  std::string sql;
  for (size_t i = 0; i < asked.size(); ++i) {
    sql += (i ? " union all " : "") + std::string("select ") + std::to_string(i) +
           " As nAsked,Q.dblMoney,Q.dblRate from (" + asked[i] + ")Q";
  }
  db::Recordset all;
  try {
    // A failed statement must not leave a transaction failed (PostgreSQL would refuse every
    // statement after it), as a row's own failed read does not on SQLite.
    std::optional<db::Savepoint> before;
    if (cn_.InTransaction()) before.emplace(cn_);
    all = Query(cn_, sql);
    if (before) before->Release();
  } catch (const ComError& error) {
    // Every row that asked fails its check with it, as if its own read had failed.
    for (const std::string& query : asked) failed_reads_.insert_or_assign(query, error);
    return;
  }
  std::vector<db::FieldInfo> fields = {all.Field(1), all.Field(2)};
  std::vector<std::vector<std::vector<db::Variant>>> found(asked.size());
  for (; !all.Eof(); all.MoveNext()) {
    const int64_t i = all.Value(0).ToInt();
    if (i < 0 || static_cast<size_t>(i) >= asked.size()) return;
    found[static_cast<size_t>(i)].push_back({all.Value(1), all.Value(2)});
  }
  for (size_t i = 0; i < asked.size(); ++i) {
    value_rows_.emplace(asked[i], db::Recordset(fields, std::move(found[i])));
  }
}

db::Recordset StandardLookups::ValueRows(const std::string& sql) {
  if (asked_) {
    asked_->push_back(sql);
    throw ValueRowsAsked{};
  }
  auto it = value_rows_.find(sql);
  if (it != value_rows_.end()) return it->second;
  if (auto failed = failed_reads_.find(sql); failed != failed_reads_.end()) throw failed->second;
  return Query(cn_, sql);
}

std::optional<StandardLookups::Standard> StandardLookups::Find(std::string_view item,
                                                               std::string_view department) {
  if (preloaded_ && department == department_) {
    if (standards_error_) throw *standards_error_;
    auto it = standards_.find(db::Lower(item));
    if (it == standards_.end() || it->second.empty()) return std::nullopt;
    return it->second.front();
  }
  db::Recordset rs =
      Query(cn_, std::string(kStandards) + "EC_Expense.strIOItemCode=" + db::SqlText(item) +
                     " and EC_ExpenseDepart.strdepartid=" + db::SqlText(department));
  if (rs.Eof()) return std::nullopt;
  return StandardOf(rs);
}

std::optional<bool> StandardLookups::ItemIsLeaf(std::string_view item) {
  if (preloaded_) {
    if (items_error_) throw *items_error_;
    auto it = items_.find(db::Lower(item));
    if (it != items_.end()) return it->second;
    if (!item.empty()) return std::nullopt;
  }
  db::Recordset io =
      Query(cn_, "Select blnEnd From EC_IOItem Where strCode = " + db::SqlText(item));
  if (io.Eof()) return std::nullopt;
  return io.Value("blnEnd").ToBool();
}

bool StandardLookups::UsesReceiptBracket(std::string_view department, std::string_view item) {
  if (!preloaded_ || department != department_) {
    return standards::UsesReceiptBracket(cn_, department, item);
  }
  if (department.empty()) return false;
  if (standards_error_) throw *standards_error_;
  auto it = standards_.find(db::Lower(item));
  if (it == standards_.end()) return false;
  return std::any_of(it->second.begin(), it->second.end(),
                     [](const Standard& standard) { return standard.uses[3]; });
}

std::optional<std::string> StandardLookups::Grade(Grades& grades, const char* sql,
                                                  std::string_view code) {
  auto it = grades.find(code);
  if (it != grades.end()) return it->second;
  const std::string query = sql + db::SqlText(code);
  // A read that failed while the value rows were gathered fails the row's own check once, where
  // the check would have read it, and is not sent again for it.
  if (auto failed = failed_reads_.find(query); failed != failed_reads_.end()) {
    ComError error = failed->second;
    failed_reads_.erase(failed);
    throw error;
  }
  db::Recordset rs;
  try {
    rs = Query(cn_, query);
  } catch (const ComError& error) {
    if (asked_) failed_reads_.insert_or_assign(query, error);
    throw;
  }
  std::optional<std::string> grade;
  if (!rs.Eof()) grade = rs.Text("strGradeID");
  grades.emplace(std::string(code), grade);
  return grade;
}

std::optional<std::string> StandardLookups::PersonGrade(std::string_view claimant) {
  return Grade(person_grades_,
               "select strGradeID from EC_PersonCtrl where strpersoncode=", claimant);
}

std::optional<std::string> StandardLookups::PlaceGrade(std::string_view place) {
  return Grade(place_grades_, "select strGradeID from EC_Position where strPositionCode=", place);
}

std::optional<StandardLookups::Conversion> StandardLookups::CurrencyConversion(
    std::string_view currency) {
  auto it = conversions_.find(currency);
  if (it != conversions_.end()) return it->second;
  db::Recordset rs = Query(cn_,
                           "select isnull(iotherused,0) As iotherused,isnull(bcal,0) As bcal from "
                           "foreigncurrency where cexch_name=" +
                               db::SqlText(currency));
  std::optional<Conversion> conversion;
  if (!rs.Eof()) {
    conversion = Conversion{.local = rs.Value("iotherused").ToInt() == -1,
                            .multiply = rs.Value("bcal").ToInt() == 1};
  }
  conversions_.emplace(std::string(currency), conversion);
  return conversion;
}

StandardOutcome StandardCheck(host::Session& session, db::Connection& cn,
                              const ClaimRowValues& row) {
  StandardLookups lookups(cn);
  return StandardCheck(session, lookups, row);
}

StandardOutcome StandardCheck(host::Session& session, StandardLookups& lookups,
                              const ClaimRowValues& row) {
  StandardOutcome out;
  try {
    RunCheck(session.LanguageId(), lookups, row, out);
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
                          std::string_view receipt, std::string_view row_label) {
  if (receipt.empty() && UsesReceiptBracket(cn, department, item)) {
    Raise(kErrBusiness, "Q7.Rembiz.0282", row_label);
  }
}

void RequireReceiptAmount(StandardLookups& lookups, std::string_view department,
                          std::string_view item, std::string_view receipt,
                          std::string_view row_label) {
  if (receipt.empty() && lookups.UsesReceiptBracket(department, item)) {
    Raise(kErrBusiness, "Q7.Rembiz.0282", row_label);
  }
}

}  // namespace rembiz::standards
