#include "ledger/source_builders.h"

#include "db/text.h"
#include "frame/convert.h"
#include "host/errors.h"
#include "host/messages.h"

namespace rembiz::ledger {
namespace {

using frame::NormalizeSql;
using frame::NumValue;

// The head's user-defined fields, which every staged line of the voucher carries.
std::string UserFields(const std::string& table) {
  std::string out;
  for (int i = 1; i <= 16; ++i) out += ", " + table + ".cDefine" + std::to_string(i);
  return out;
}

// Item lines of a claim: one per row, or the head alone when it has no rows (the left join
// then yields the head with empty row columns, and the amounts fall back to the head's). A row
// with an amount but without its local amount (pages need not send it) is converted at the
// claim's rate; taking the head's local amount would book the whole claim once per row.
std::string ClaimItemsSql(const std::string& guid) {
  return "Select * From (SELECT EC_ExpenVouch.strUsed, case when "
         "isnull(EC_ExpenVouch_Sub.dblMoney,0)<>0 then EC_ExpenVouch_Sub.dblMoney else "
         "EC_ExpenVouch.dblMoney end as dblMoney, case when isnull(EC_ExpenVouch_Sub.dblOldMoney,0)"
         "<>0 then EC_ExpenVouch_Sub.dblOldMoney when isnull(EC_ExpenVouch_Sub.dblMoney,0)<>0 "
         "then CAST((case when foreigncurrency.bcal=0 then "
         "EC_ExpenVouch_Sub.dblMoney/EC_ExpenVouch.fltRate else EC_ExpenVouch_Sub.dblMoney * "
         "EC_ExpenVouch.fltRate end) AS decimal(18, 2)) else EC_ExpenVouch.dblOldMoney end as "
         "dblOldMoney, EC_ExpenVouch_sub.strIOItem, EC_ExpenVouch.strBill, "
         "EC_ExpenVouch.strTypeCode, EC_ExpenVouch.fltRate, EC_ExpenVouch_Sub.dblNumber, "
         "EC_ExpenVouch.strDepartID, Department.cDepName, EC_ExpenVouch.strLoanID, "
         "Person.cPersonName, EC_ExpenVouch.strItemClassID, EC_ExpenVouch.strItemID, "
         "EC_ExpenVouch_Sub.intAppend, EC_ExpenVouch.dtLoanDate, EC_ExpenVouch.GUID, "
         "EC_ExpenVouch.strVouchID, EC_ExpenVouch.intBudPass, EC_ExpenVouch_Sub.AutoID As "
         "intLine" +
         UserFields("EC_ExpenVouch") +
         " FROM EC_ExpenVouch left JOIN EC_ExpenVouch_Sub ON EC_ExpenVouch.GUID = "
         "EC_ExpenVouch_Sub.MGUID LEFT OUTER JOIN foreigncurrency ON EC_ExpenVouch.strBill = "
         "foreigncurrency.cexch_name LEFT OUTER JOIN Person ON EC_ExpenVouch.strLoanID = "
         "Person.cPersonCode LEFT OUTER JOIN Department ON EC_ExpenVouch.strDepartID = "
         "Department.cDepCode) A Where GUID = " +
         db::SqlText(guid) + " Order By intLine";
}

// Settlement lines of a claim, the local amount by the claim's rate and the currency's rule.
std::string ClaimSettlementsSql(const std::string& guid) {
  return "Select * From (SELECT EC_ExpenVouch.strUsed, EC_BalanceInfo.dblMoney, "
         "CAST((case when foreigncurrency.bcal=0 then "
         "EC_BalanceInfo.dblMoney/EC_ExpenVouch.fltRate else EC_BalanceInfo.dblMoney * "
         "EC_ExpenVouch.fltRate end) AS decimal(18, 2)) As dblOldMoney, EC_BalanceInfo.intIOType, "
         "EC_BalanceInfo.strBalanceID, SettleStyle.cSSName, EC_BalanceInfo.strPayBankID, "
         "EC_BalanceInfo.strBillID, EC_ExpenVouch.strBill, EC_ExpenVouch.strTypeCode, "
         "EC_ExpenVouch.fltRate, EC_ExpenVouch.strDepartID, Department.cDepName, "
         "EC_ExpenVouch.strLoanID, Person.cPersonName, EC_ExpenVouch.strItemClassID, "
         "EC_ExpenVouch.strItemID, EC_ExpenVouch.dtLoanDate, EC_ExpenVouch.GUID, "
         "EC_ExpenVouch.strVouchID, EC_ExpenVouch.intBudPass, EC_BalanceInfo.AutoID As intLine" +
         UserFields("EC_ExpenVouch") +
         " FROM EC_ExpenVouch INNER JOIN EC_BalanceInfo ON EC_ExpenVouch.GUID = "
         "EC_BalanceInfo.ExpenGUID LEFT OUTER JOIN foreigncurrency ON EC_ExpenVouch.strBill = "
         "foreigncurrency.cexch_name LEFT OUTER JOIN SettleStyle ON EC_BalanceInfo.strBalanceID = "
         "SettleStyle.cSSCode LEFT OUTER JOIN Person ON EC_ExpenVouch.strLoanID = "
         "Person.cPersonCode LEFT OUTER JOIN Department ON EC_ExpenVouch.strDepartID = "
         "Department.cDepCode) A Where GUID = " +
         db::SqlText(guid) + " Order By intLine";
}

// Loans written off against a claim: the written-off amount in the loan's currency and rate.
std::string WriteOffsSql(const std::string& guid) {
  return "SELECT EC_ExpenLoanInfo.dblJE, CAST((case when foreigncurrency.bcal=0 then "
         "EC_ExpenLoanInfo.dblJE/EC_LoanVouch.fltRate else EC_ExpenLoanInfo.dblJE * "
         "EC_LoanVouch.fltRate end) AS decimal(18, 2)) As dblOldMoney, EC_LoanVouch.strTypeCode, "
         "EC_LoanVouch.strBill, EC_LoanVouch.fltRate, EC_LoanVouch.strUsed, "
         "EC_LoanVouch.strDepartID, Department.cDepName, EC_LoanVouch.strLoanID, "
         "Person.cPersonName, EC_LoanVouch.strItemClassID, EC_LoanVouch.strItemID FROM "
         "EC_LoanVouch INNER JOIN EC_LoanVouch_Sub ON EC_LoanVouch.GUID = EC_LoanVouch_Sub.MGuid "
         "INNER JOIN EC_ExpenLoanInfo ON EC_LoanVouch_Sub.GUID = EC_ExpenLoanInfo.LoanSubguid "
         "LEFT OUTER JOIN foreigncurrency ON EC_LoanVouch.strBill = foreigncurrency.cexch_name "
         "LEFT OUTER JOIN Person ON EC_LoanVouch.strLoanID = Person.cPersonCode LEFT OUTER JOIN "
         "Department ON EC_LoanVouch.strDepartID = Department.cDepCode WHERE "
         "EC_ExpenLoanInfo.Expenguid = " +
         db::SqlText(guid) + " Order By EC_LoanVouch_Sub.AutoID";
}

// The rows of a loan voucher with their local amounts and settlement styles.
std::string LoanRowsSql(const std::string& guid) {
  return "Select * From (SELECT EC_LoanVouch_Sub.strbillid, EC_LoanVouch.GUID, "
         "EC_LoanVouch.strTypeCode, EC_LoanVouch.strBill, EC_LoanVouch.strUsed, "
         "EC_LoanVouch.fltRate, EC_LoanVouch_sub.dblMoney, (case when foreigncurrency.bcal=0 then "
         "EC_LoanVouch_sub.dblMoney/EC_LoanVouch.fltRate else "
         "EC_LoanVouch_sub.dblMoney*EC_LoanVouch.fltRate end) as dblOldMoney, "
         "EC_LoanVouch_Sub.strBalanceID, SettleStyle.cSSName, EC_LoanVouch_Sub.strPayBankID, "
         "EC_LoanVouch.strDepartID, Department.cDepName, EC_LoanVouch.strLoanID, "
         "Person.cPersonName, EC_LoanVouch.strItemClassID, EC_LoanVouch.strItemID, "
         "EC_LoanVouch.dtLoanDate, EC_LoanVouch.strVouchID, EC_LoanVouch.intBudPass, "
         "EC_LoanVouch_Sub.AutoID As intLine" +
         UserFields("EC_LoanVouch") +
         " FROM EC_LoanVouch INNER JOIN EC_LoanVouch_Sub ON EC_LoanVouch.GUID = "
         "EC_LoanVouch_Sub.MGuid LEFT OUTER JOIN foreigncurrency ON EC_LoanVouch.strBill = "
         "foreigncurrency.cexch_name LEFT OUTER JOIN SettleStyle ON EC_LoanVouch_Sub.strBalanceID "
         "= SettleStyle.cSSCode LEFT OUTER JOIN Person ON EC_LoanVouch.strLoanID = "
         "Person.cPersonCode LEFT OUTER JOIN Department ON EC_LoanVouch.strDepartID = "
         "Department.cDepCode) M Where GUID = " +
         db::SqlText(guid) + " Order By intLine";
}

void RequireTable(const BuildContext& context) {
  if (context.generation.table.empty()) Raise(kErrBusiness, "Q7.Rembiz.0371");
}

db::Recordset SourceRows(BuildContext& context, const std::string& sql) {
  db::Recordset rows = context.cn.Execute(NormalizeSql(sql));
  if (rows.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0257");
  return rows;
}

// What every line of a source voucher carries from the voucher's head.
StagedLine HeadLine(const db::Recordset& rs) {
  StagedLine line;
  line.type_code = rs.Text("strTypeCode");
  line.vouch_guid = rs.Text("GUID");
  line.digest = rs.Text("strUsed");
  line.currency = rs.Value("strBill");
  line.rate = rs.Value("fltRate");
  line.dept_id = rs.Value("strDepartID");
  line.dept_name = rs.Value("cDepName");
  line.person_id = rs.Value("strLoanID");
  line.person_name = rs.Value("cPersonName");
  line.item_id = rs.Value("strItemID");
  line.item_class = rs.Value("strItemClassID");
  line.source_number = rs.Value("strVouchID");
  line.source_date = rs.Value("dtLoanDate");
  line.bud_pass = rs.Value("intBudPass");
  for (int i = 0; i < 16; ++i) line.defines[i] = rs.Value("cDefine" + std::to_string(i + 1));
  return line;
}

void WithAccount(StagedLine& line, const SettingAccount& account) {
  line.code = account.code;
  line.code_name = account.name;
}

// Item lines of a claim on their natural side; an income claim's item needs a setting. Returns
// what the claim's head gives every line.
StagedLine StageItems(BuildContext& context, const std::string& guid, bool natural_debit,
                      bool require_account) {
  db::Recordset rows = SourceRows(context, ClaimItemsSql(guid));
  StagedLine head = HeadLine(rows);
  for (; !rows.Eof(); rows.MoveNext()) {
    std::string item = rows.Text("strIOItem");
    SettingAccount account =
        context.accounts.LookupIOAccount(rows.Text("strTypeCode"), item, rows.Text("strBill"));
    if (require_account && account.code.empty()) {
      Raise(kErrBusiness, "Rembiz.Ledger.NoItemAccount", rows.Text("strVouchID"), item,
            rows.Text("strBill"));
    }
    StagedLine line = HeadLine(rows);
    WithAccount(line, account);
    line.quantity = NumValue(rows.Value("dblNumber"));
    PlaceAmounts(line, natural_debit, NumValue(rows.Value("dblOldMoney")),
                 NumValue(rows.Value("dblMoney")), account.modify_direction);
    InsertStagedLine(context.cn, context.session, context.generation, line);
  }
  return head;
}

// Settlement lines of a claim; `income` puts them all on the debit side, otherwise receipts
// (intIOType 1) are debited and payments credited. Returns how many there were.
int StageSettlements(BuildContext& context, const std::string& guid, bool income) {
  db::Recordset rows = context.cn.Execute(NormalizeSql(ClaimSettlementsSql(guid)));
  int count = 0;
  for (; !rows.Eof(); rows.MoveNext(), ++count) {
    std::string io_type = rows.Text("intIOType");
    StagedLine line = HeadLine(rows);
    WithAccount(line,
                context.accounts.LookupOPAccount(io_type, rows.Text("strBalanceID"),
                                                 rows.Text("strPayBankID"), rows.Text("strBill")));
    line.settle = rows.Value("strBalanceID");
    line.settle_name = rows.Value("cSSName");
    line.bill_no = rows.Value("strBillID");
    PlaceAmounts(line, income || io_type == "1", NumValue(rows.Value("dblOldMoney")),
                 NumValue(rows.Value("dblMoney")), false);
    InsertStagedLine(context.cn, context.session, context.generation, line);
  }
  return count;
}

// Loans written off against an expenditure claim, credited. The loan supplies currency, rate,
// department, person, item and summary; the claim stays the line's source.
void StageWriteOffs(BuildContext& context, const std::string& guid, const StagedLine& claim) {
  db::Recordset rows = context.cn.Execute(NormalizeSql(WriteOffsSql(guid)));
  for (; !rows.Eof(); rows.MoveNext()) {
    StagedLine line = claim;
    line.digest = rows.Text("strUsed");
    line.currency = rows.Value("strBill");
    line.rate = rows.Value("fltRate");
    line.dept_id = rows.Value("strDepartID");
    line.dept_name = rows.Value("cDepName");
    line.person_id = rows.Value("strLoanID");
    line.person_name = rows.Value("cPersonName");
    line.item_id = rows.Value("strItemID");
    line.item_class = rows.Value("strItemClassID");
    SettingAccount account =
        context.accounts.LookupIOAccount(rows.Text("strTypeCode"), "", rows.Text("strBill"));
    WithAccount(line, account);
    line.quantity.reset();
    PlaceAmounts(line, false, NumValue(rows.Value("dblOldMoney")), NumValue(rows.Value("dblJE")),
                 account.modify_direction);
    InsertStagedLine(context.cn, context.session, context.generation, line);
  }
}

}  // namespace

SettingAccount AccountSettings::LookupIOAccount(const std::string& operation_type,
                                                const std::string& item,
                                                const std::string& currency) {
  auto key = std::make_tuple(operation_type, item, currency);
  if (auto it = io_.find(key); it != io_.end()) return it->second;
  std::string head =
      "Select strSubject,ccode_name,blnModiDire From EC_PzSet_IO Left Join code On code.ccode = "
      "EC_PzSet_IO.strSubject Where strOperatType = " +
      db::SqlText(operation_type);
  std::string currency_condition = " And Isnull(strCurrency ,'') = " + db::SqlText(currency);
  db::Recordset rs = cn_.Execute(NormalizeSql(
      head + " And IsNull(strIOItemCode ,'') = " + db::SqlText(item) + currency_condition));
  if (rs.Eof()) {
    // Any item of the type and currency: a setting made for every item comes before the
    // settings of other items.
    rs = cn_.Execute(NormalizeSql(head + currency_condition +
                                  " Order By case when IsNull(strIOItemCode ,'') = '' then 0 "
                                  "else 1 end, strIOItemCode"));
  }
  SettingAccount account;
  if (!rs.Eof()) {
    account.code = rs.Text("strSubject");
    account.name = rs.Text("ccode_name");
    account.modify_direction = rs.Value("blnModiDire").ToBool();
  }
  io_.emplace(key, account);
  return account;
}

SettingAccount AccountSettings::LookupOPAccount(const std::string& io_type,
                                                const std::string& style, const std::string& bank,
                                                const std::string& currency) {
  // The settings store the direction as its zh-CN word.
  std::string kind =
      host::MessageText(io_type == "1" ? "Q7.Rembiz.0185" : "Q7.Rembiz.0186", "zh-CN");
  auto key = std::make_tuple(kind, style, bank, currency);
  if (auto it = op_.find(key); it != op_.end()) return it->second;
  std::string head =
      "Select EC_PzSet_OP.strSubject, code.ccode_name From EC_PzSet_OP Left Join code On "
      "code.ccode = EC_PzSet_OP.strSubject Where EC_PzSet_OP.strOperatType = " +
      db::SqlText(kind) + " And ";
  std::string s = db::SqlText(style);
  std::string b = db::SqlText(bank);
  std::string c = " And EC_PzSet_OP.strCurrency = " + db::SqlText(currency);
  std::string like = "EC_PzSet_OP.strBalanceType Like " + db::SqlText(style + "%");
  const std::string tries[] = {
      "Isnull(EC_PzSet_OP.strBalanceType ,'') = " + s +
          " And Isnull(EC_PzSet_OP.strBankID ,'') = " + b +
          " And Isnull(EC_PzSet_OP.strCurrency ,'') = " + db::SqlText(currency),
      "EC_PzSet_OP.strBalanceType = " + s + c,
      "EC_PzSet_OP.strBankID = " + b + c,
      like + " And EC_PzSet_OP.strBankID = " + b + c,
      like + c,
  };
  SettingAccount account;
  for (const std::string& condition : tries) {
    db::Recordset rs = cn_.Execute(NormalizeSql(
        head + condition + " Order By EC_PzSet_OP.strBalanceType, EC_PzSet_OP.strBankID"));
    if (rs.Eof()) continue;
    account.code = rs.Text("strSubject");
    account.name = rs.Text("ccode_name");
    break;
  }
  op_.emplace(key, account);
  return account;
}

void BuildIncomeLines(BuildContext& context, const std::string& guid) {
  RequireTable(context);
  StageItems(context, guid, false, true);
  if (StageSettlements(context, guid, true) == 0) Raise(kErrBusiness, "Q7.Rembiz.0297");
}

void BuildExpenseLines(BuildContext& context, const std::string& guid) {
  RequireTable(context);
  StagedLine head = StageItems(context, guid, true, false);
  StageSettlements(context, guid, false);
  StageWriteOffs(context, guid, head);
}

void BuildLoanLines(BuildContext& context, const std::string& guid) {
  RequireTable(context);
  db::Recordset rows = SourceRows(context, LoanRowsSql(guid));
  for (; !rows.Eof(); rows.MoveNext()) {
    StagedLine loan = HeadLine(rows);
    SettingAccount account =
        context.accounts.LookupIOAccount(rows.Text("strTypeCode"), "", rows.Text("strBill"));
    WithAccount(loan, account);
    double local = NumValue(rows.Value("dblOldMoney"));
    double foreign = NumValue(rows.Value("dblMoney"));
    PlaceAmounts(loan, true, local, foreign, account.modify_direction);
    InsertStagedLine(context.cn, context.session, context.generation, loan);

    StagedLine payment = HeadLine(rows);
    WithAccount(payment,
                context.accounts.LookupOPAccount("2", rows.Text("strBalanceID"),
                                                 rows.Text("strPayBankID"), rows.Text("strBill")));
    payment.settle = rows.Value("strBalanceID");
    payment.settle_name = rows.Value("cSSName");
    payment.bill_no = rows.Value("strbillid");
    PlaceAmounts(payment, false, local, foreign, false);
    InsertStagedLine(context.cn, context.session, context.generation, payment);
  }
}

}  // namespace rembiz::ledger
