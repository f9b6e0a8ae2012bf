// Departments, persons, settlement styles, banks, currencies and their rates.
#include <string>

#include "admin/table_kind.h"
#include "db/text.h"
#include "host/errors.h"

namespace rembiz::admin {
namespace {

using db::SqlText;

// A coded tree (departments, settlement styles): a code below an existing code is its child;
// the parent stops being a last level, and is one again when its last child goes.
class TreeKind : public TableKind {
 public:
  TreeKind(TableSpec spec, std::string_view grade, std::string_view end)
      : TableKind(std::move(spec)), grade_(grade), end_(end) {}

 protected:
  std::string Table() const { return std::string(Spec().table); }
  std::string KeyColumn() const { return std::string(KeyField().column); }

  void AfterAdd(Context& ctx, const xml::Node&, const std::string& key) override {
    std::string parent = TreeParent(ctx.cn, Spec().table, KeyField().column, key);
    std::string grade = "1";
    if (!parent.empty()) {
      grade = "(select " + std::string(grade_) + " + 1 from " + Table() + " where " + KeyColumn() +
              " = " + SqlText(parent) + ")";
      ctx.cn.Execute("update " + Table() + " set " + std::string(end_) + " = 0 where " +
                     KeyColumn() + " = " + SqlText(parent));
    }
    // A code added between a parent and its children takes them below it.
    bool children = !ctx.cn
                         .Execute("select 1 from " + Table() + " where left(" + KeyColumn() +
                                  ", len(" + SqlText(key) + ")) = " + SqlText(key) + " and " +
                                  KeyColumn() + " <> " + SqlText(key))
                         .Eof();
    if (children) Raise(kErrBusiness, "Rembiz.Admin.CodeAboveOthers", key);
    ctx.cn.Execute("update " + Table() + " set " + std::string(grade_) + " = " + grade + ", " +
                   std::string(end_) + " = 1 where " + KeyColumn() + " = " + SqlText(key));
  }

  void AfterDelete(Context& ctx, const std::string& key) override {
    std::string parent = TreeParent(ctx.cn, Spec().table, KeyField().column, key);
    if (parent.empty()) return;
    ctx.cn.Execute("update " + Table() + " set " + std::string(end_) + " = 1 where " + KeyColumn() +
                   " = " + SqlText(parent) + " and not exists (select 1 from " + Table() +
                   " c where left(c." + KeyColumn() + ", len(" + SqlText(parent) + ")) = " +
                   SqlText(parent) + " and c." + KeyColumn() + " <> " + SqlText(parent) + ")");
  }

 private:
  std::string_view grade_;
  std::string_view end_;
};

class DepartmentKind : public TreeKind {
 public:
  DepartmentKind()
      : TreeKind(
            {.name = "department",
             .table = "Department",
             .fields = {{"code", "cDepCode", FieldType::kCode, true, true, 12},
                        {"name", "cDepName", FieldType::kText, false, true},
                        {"head", "cDepLeader", FieldType::kCode, false, false, 20},
                        {"grade", "iDepGrade", FieldType::kDerived},
                        {"last", "bDepEnd", FieldType::kDerived}},
             .usages =
                 {{"select 1 from Department where left(cDepCode, len({})) = {} and cDepCode <> {}",
                   "Rembiz.Admin.UsedByChildren"},
                  {"select 1 from Person where cDepCode = {}", "Rembiz.Admin.UsedByPersons"},
                  {"select 1 from EC_LoanVouch where strDepartID = {} union all select 1 from "
                   "EC_ExpenVouch where strDepartID = {}",
                   "Rembiz.Admin.UsedByVouchers"},
                  {"select 1 from EC_ExpenseDepart where strDepartID = {}",
                   "Rembiz.Admin.UsedByStandards"},
                  {"select 1 from Host_Flow where cDepCode = {}", "Rembiz.Admin.UsedByFlows"},
                  {"select 1 from Host_ScopeRuleItem where cAuthType = 'department' and cCode = "
                   "{}",
                   "Rembiz.Admin.UsedByPermissions"}},
             .order = "t.cDepCode",
             .importable = true},
            "iDepGrade", "bDepEnd") {}

 protected:
  void Check(Context& ctx, const xml::Node& row, bool) override {
    std::string head = db::Trim(row.Attr("head"));
    if (head.empty()) return;
    if (ctx.cn
            .Execute("select 1 from qdsystem..UA_User where bDisabled = 0 and cUser_Id = " +
                     SqlText(head))
            .Eof()) {
      Raise(kErrBusiness, "Rembiz.Admin.UnknownUser", head);
    }
  }
};

class PersonKind : public TableKind {
 public:
  PersonKind()
      : TableKind({.name = "person",
                   .table = "Person",
                   .fields = {{"code", "cPersonCode", FieldType::kCode, true, true, 20},
                              {"name", "cPersonName", FieldType::kText, false, true},
                              {"department", "cDepCode", FieldType::kCode, false, true, 12},
                              {"email", "cPersonEmail"},
                              {"phone", "cPersonPhone"},
                              {"bankacc", "", FieldType::kDerived},
                              {"bank", "", FieldType::kDerived}},
                   .usages = {{"select 1 from EC_LoanVouch where strLoanID = {} union all select "
                               "1 from EC_ExpenVouch where strLoanID = {}",
                               "Rembiz.Admin.UsedByVouchers"},
                              {"select 1 from Host_ScopeRuleItem where cAuthType = 'person' and "
                               "cCode = {}",
                               "Rembiz.Admin.UsedByPermissions"}},
                   .order = "t.cPersonCode",
                   .importable = true}) {}

  std::string List(Context& ctx, const xml::Node& filter) override {
    std::string where;
    std::string department = db::Trim(filter.Attr("department"));
    if (!department.empty()) where = " where t.cDepCode = " + SqlText(department);
    db::Recordset rs = ctx.cn.Execute(
        "select t.cPersonCode as code, t.cPersonName as name, t.cDepCode as department, "
        "t.cPersonEmail as email, t.cPersonPhone as phone, a.strBankAcc as bankacc, a.strBank as "
        "bank, cast(t.ts as money) as ts from Person t left join EC_PersonAcc a on "
        "a.strPersonCode = t.cPersonCode and a.blnDefault = 1" +
        where + " order by t.cPersonCode");
    return RowsXml(rs);
  }

 protected:
  void Check(Context& ctx, const xml::Node& row, bool adding) override {
    if (!adding && !row.HasAttr("department")) return;
    std::string department = Required(row, "department");
    db::Recordset rs =
        ctx.cn.Execute("select bDepEnd from Department where cDepCode = " + SqlText(department));
    if (rs.Eof()) Raise(kErrBusiness, "Rembiz.Admin.UnknownDepartment", department);
    if (!rs.Value("bDepEnd").ToBool()) Raise(kErrBusiness, "Rembiz.Admin.NotLastLevel", department);
  }

  void AfterAdd(Context& ctx, const xml::Node& row, const std::string& key) override {
    SaveAccount(ctx, row, key);
  }

 public:
  void Change(Context& ctx, const xml::Node& row) override {
    TableKind::Change(ctx, row);
    if (row.HasAttr("bankacc")) SaveAccount(ctx, row, KeyOf(row));
  }

 protected:
  void AfterDelete(Context& ctx, const std::string& key) override {
    // The person's own settings go with the person.
    ctx.cn.Execute("delete from EC_PersonAcc where strPersonCode = " + SqlText(key));
    ctx.cn.Execute("delete from EC_PersonCtrl where strPersonCode = " + SqlText(key));
  }

 private:
  // The bank account given is the person's default one; other accounts stay.
  static void SaveAccount(Context& ctx, const xml::Node& row, const std::string& person) {
    std::string account = db::Trim(row.Attr("bankacc"));
    if (account.empty()) return;
    std::string bank = db::Trim(row.Attr("bank"));
    std::string who = SqlText(person);
    ctx.cn.Execute("update EC_PersonAcc set blnDefault = 0 where strPersonCode = " + who +
                   " and strBankAcc <> " + SqlText(account));
    int64_t changed = 0;
    ctx.cn.Execute("update EC_PersonAcc set blnDefault = 1, strBank = " +
                       (bank.empty() ? std::string("strBank") : SqlText(bank)) +
                       " where strPersonCode = " + who + " and strBankAcc = " + SqlText(account),
                   &changed);
    if (changed == 0) {
      ctx.cn.Execute(
          "insert into EC_PersonAcc (strPersonCode, strBankAcc, strBank, blnDefault) values (" +
          who + ", " + SqlText(account) + ", " + (bank.empty() ? "Null" : SqlText(bank)) + ", 1)");
    }
  }
};

class SettleStyleKind : public TreeKind {
 public:
  SettleStyleKind()
      : TreeKind({.name = "settlestyle",
                  .table = "SettleStyle",
                  .fields = {{"code", "cSSCode", FieldType::kCode, true, true, 12},
                             {"name", "cSSName", FieldType::kText, false, true},
                             {"cheque", "bSSFlag", FieldType::kFlag},
                             {"grade", "iSSGrade", FieldType::kDerived},
                             {"last", "bSSEnd", FieldType::kDerived}},
                  .usages = {{"select 1 from SettleStyle where left(cSSCode, len({})) = {} and "
                              "cSSCode <> {}",
                              "Rembiz.Admin.UsedByChildren"},
                             {"select 1 from EC_LoanVouch_Sub where strBalanceID = {} union all "
                              "select 1 from EC_BalanceInfo where strBalanceID = {}",
                              "Rembiz.Admin.UsedByVouchers"},
                             {"select 1 from EC_PzSet_OP where strBalanceType = {}",
                              "Rembiz.Admin.UsedBySettings"}},
                  .order = "t.cSSCode"},
                 "iSSGrade", "bSSEnd") {}
};

class BankKind : public TableKind {
 public:
  BankKind()
      : TableKind({.name = "bank",
                   .table = "Bank",
                   .fields = {{"code", "cBCode", FieldType::kCode, true, true, 12},
                              {"name", "cBName", FieldType::kText, false, true},
                              {"account", "cBAccount"}},
                   .usages = {{"select 1 from EC_LoanVouch_Sub where strPayBankID = {} union all "
                               "select 1 from EC_BalanceInfo where strPayBankID = {}",
                               "Rembiz.Admin.UsedByVouchers"},
                              {"select 1 from EC_PzSet_OP where strBankID = {}",
                               "Rembiz.Admin.UsedBySettings"}},
                   .order = "t.cBCode"}) {}
};

// Currencies are named by their name (the vouchers record it); the local one is the
// company's and stays.
class CurrencyKind : public TableKind {
 public:
  CurrencyKind()
      : TableKind({.name = "currency",
                   .table = "foreigncurrency",
                   .fields = {{"name", "cexch_name", FieldType::kText, true, true},
                              {"code", "cexch_code", FieldType::kCode, false, false, 8},
                              {"multiply", "bcal", FieldType::kFlag},
                              {"decimals", "idec", FieldType::kWhole},
                              {"tolerance", "nerror", FieldType::kNumber},
                              {"local", "iotherused", FieldType::kDerived}},
                   .usages = {{"select 1 from foreigncurrency where iotherused = -1 and "
                               "cexch_name = {}",
                               "Rembiz.Admin.UsedAsLocal"},
                              {"select 1 from EC_LoanVouch where strBill = {} union all select 1 "
                               "from EC_ExpenVouch where strBill = {}",
                               "Rembiz.Admin.UsedByVouchers"},
                              {"select 1 from GL_accvouch where cexch_name = {}",
                               "Rembiz.Admin.UsedByLedger"}},
                   .order = "t.iotherused, t.cexch_name"}) {}

 protected:
  void Check(Context&, const xml::Node& row, bool) override {
    if (row.HasAttr("decimals")) Whole(row, "decimals", 2, 0, 6);
  }
  void AfterDelete(Context& ctx, const std::string& key) override {
    ctx.cn.Execute("delete from exch where cexch_name = " + SqlText(key));
  }
};

// Rates of a currency: daily (type 1, date "yyyy-mm-dd") or per period (type 2, period 1-12).
// Saving a rate that exists replaces it; there is no version to send back.
class RateKind : public Kind {
 public:
  std::string_view Name() const override { return "rate"; }
  std::vector<std::string> Columns() const override {
    return {"currency", "type", "period", "date", "rate"};
  }
  std::string List(Context& ctx, const xml::Node& filter) override {
    std::string where;
    std::string currency = db::Trim(filter.Attr("currency"));
    if (!currency.empty()) where = " where cexch_name = " + SqlText(currency);
    db::Recordset rs = ctx.cn.Execute(
        "select cexch_name as currency, itype as type, iperiod as period, cdate as date, nflat "
        "as rate from exch" +
        where + " order by cexch_name, itype, iperiod, cdate");
    return RowsXml(rs);
  }
  void Add(Context& ctx, const xml::Node& row) override {
    Key key = Read(ctx, row);
    std::optional<double> rate = db::ParseNumber(Required(row, "rate"));
    if (!rate || *rate <= 0) Raise(kErrBusiness, "Rembiz.Admin.NotPositive", "rate");
    ctx.cn.Execute("delete from exch" + key.where);
    ctx.cn.Execute("insert into exch (cexch_name, itype, iperiod, cdate, nflat) values (" +
                   SqlText(key.currency) + ", " + key.type + ", " + key.period + ", " +
                   SqlText(key.date) + ", " + db::Variant(*rate).ToText() + ")");
  }
  void Change(Context& ctx, const xml::Node& row) override { Add(ctx, row); }
  void Delete(Context& ctx, const xml::Node& row) override {
    Key key = Read(ctx, row);
    int64_t deleted = 0;
    ctx.cn.Execute("delete from exch" + key.where, &deleted);
    if (deleted == 0) Raise(kErrBusiness, "Rembiz.Admin.Stale");
  }

 private:
  struct Key {
    std::string currency, type, period, date, where;
  };
  static Key Read(Context& ctx, const xml::Node& row) {
    Key key;
    key.currency = Required(row, "currency");
    db::Recordset rs = ctx.cn.Execute("select iotherused from foreigncurrency where cexch_name = " +
                                      SqlText(key.currency));
    if (rs.Eof()) Raise(kErrBusiness, "Rembiz.Admin.UnknownCurrency", key.currency);
    if (rs.Value("iotherused").ToInt() == -1) Raise(kErrBusiness, "Rembiz.Admin.LocalHasNoRate");
    int64_t type = Whole(row, "type", 2, 1, 2);
    key.type = std::to_string(type);
    if (type == 2) {
      int64_t period = Whole(row, "period", 0, 1, 12);
      if (period == 0) Raise(kErrBusiness, "Rembiz.Admin.Required", "period");
      key.period = std::to_string(period);
      key.date = key.period;
    } else {
      std::string date = Required(row, "date");
      bool shaped = date.size() == 10 && date[4] == '-' && date[7] == '-';
      if (!shaped) Raise(kErrBusiness, "Rembiz.Admin.NotDate", "date");
      for (size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u}) {
        if (date[i] < '0' || date[i] > '9') Raise(kErrBusiness, "Rembiz.Admin.NotDate", "date");
      }
      key.period = std::to_string(std::stoi(date.substr(5, 2)));
      // The ledger keeps daily rates as "yyyy.mm.dd".
      key.date = date.substr(0, 4) + "." + date.substr(5, 2) + "." + date.substr(8, 2);
    }
    key.where = " where cexch_name = " + SqlText(key.currency) + " and itype = " + key.type +
                " and iperiod = " + key.period + " and cdate = " + SqlText(key.date);
    return key;
  }
};

DepartmentKind department_kind;
PersonKind person_kind;
SettleStyleKind settle_style_kind;
BankKind bank_kind;
CurrencyKind currency_kind;
RateKind rate_kind;
const KindRegistrar kRegistrars[] = {KindRegistrar(&department_kind),   KindRegistrar(&person_kind),
                                     KindRegistrar(&settle_style_kind), KindRegistrar(&bank_kind),
                                     KindRegistrar(&currency_kind),     KindRegistrar(&rate_kind)};

}  // namespace
}  // namespace rembiz::admin
