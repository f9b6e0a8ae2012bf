// The chart of accounts, voucher signs and the periods of the account year.
#include <string>

#include "admin/table_kind.h"
#include "db/text.h"
#include "frame/request.h"
#include "frame/sql_helpers.h"
#include "host/errors.h"

namespace rembiz::admin {
namespace {

using db::SqlText;

// Code levels of the chart when the company never set them: 4 digits, then 2 per level.
constexpr std::string_view kDefaultAccountLevels = "4222";

// The lengths a code may have: the running sums of the level digits ("4222": 4, 6, 8, 10).
std::vector<size_t> LevelLengths(db::Connection& cn) {
  std::string levels = frame::AccOption("strCodeLevel", cn, "AA");
  if (levels.empty()) levels = kDefaultAccountLevels;
  std::vector<size_t> lengths;
  size_t total = 0;
  for (char c : levels) {
    if (c < '1' || c > '9') break;
    total += static_cast<size_t>(c - '0');
    lengths.push_back(total);
  }
  return lengths;
}

class AccountKind : public TableKind {
 public:
  AccountKind()
      : TableKind(
            {.name = "account",
             .table = "code",
             .fields = {{"code", "ccode", FieldType::kCode, true, true, 15},
                        {"name", "ccode_name", FieldType::kText, false, true},
                        {"itemclass", "cass_item", FieldType::kCode, false, false, 2},
                        {"person", "bperson", FieldType::kFlag},
                        {"department", "bdept", FieldType::kFlag},
                        {"customer", "bcus", FieldType::kFlag},
                        {"vendor", "bsup", FieldType::kFlag},
                        {"grade", "igrade", FieldType::kDerived},
                        {"posting", "be", FieldType::kDerived}},
             .usages = {{"select 1 from code where left(ccode, len({})) = {} and ccode <> {}",
                         "Rembiz.Admin.UsedByChildren"},
                        {"select 1 from GL_accvouch where ccode = {}", "Rembiz.Admin.UsedByLedger"},
                        {"select 1 from EC_PzSet_IO where strSubject = {} union all select 1 from "
                         "EC_PzSet_OP where strSubject = {}",
                         "Rembiz.Admin.UsedBySettings"}},
             .order = "t.ccode",
             .importable = true}) {}

 protected:
  // A code has the length of a level; below the first level its parent (the code cut to the
  // level above) exists, takes no postings of its own from now on, and so must have none.
  void Check(Context& ctx, const xml::Node& row, bool adding) override {
    std::string item_class = db::Trim(row.Attr("itemclass"));
    if (!item_class.empty() &&
        ctx.cn.Execute("select 1 from fitem where citem_class = " + SqlText(item_class)).Eof()) {
      Raise(kErrBusiness, "Rembiz.Admin.UnknownItemClass", item_class);
    }
    if (!adding) return;
    std::string code = KeyOf(row);
    std::vector<size_t> lengths = LevelLengths(ctx.cn);
    size_t level = 0;
    while (level < lengths.size() && lengths[level] != code.size()) ++level;
    if (level == lengths.size()) Raise(kErrBusiness, "Rembiz.Admin.CodeLevel", code);
    grade_ = std::to_string(level + 1);
    parent_.clear();
    if (level == 0) return;
    parent_ = code.substr(0, lengths[level - 1]);
    if (!Exists(ctx, parent_)) Raise(kErrBusiness, "Rembiz.Admin.NoParent", code, parent_);
    RefuseInUse(ctx.cn, "select 1 from GL_accvouch where ccode = " + SqlText(parent_), parent_,
                "Rembiz.Admin.UsedByLedger");
    RefuseInUse(ctx.cn,
                "select 1 from EC_PzSet_IO where strSubject = " + SqlText(parent_) +
                    " union all select 1 from EC_PzSet_OP where strSubject = " + SqlText(parent_),
                parent_, "Rembiz.Admin.UsedBySettings");
  }

  void AfterAdd(Context& ctx, const xml::Node&, const std::string& key) override {
    ctx.cn.Execute("update code set igrade = " + grade_ + ", be = 1 where ccode = " + SqlText(key));
    if (!parent_.empty())
      ctx.cn.Execute("update code set be = 0 where ccode = " + SqlText(parent_));
  }

  void AfterDelete(Context& ctx, const std::string& key) override {
    std::string parent = TreeParent(ctx.cn, "code", "ccode", key);
    if (parent.empty()) return;
    ctx.cn.Execute("update code set be = 1 where ccode = " + SqlText(parent) +
                   " and not exists (select 1 from code c where left(c.ccode, len(" +
                   SqlText(parent) + ")) = " + SqlText(parent) + " and c.ccode <> " +
                   SqlText(parent) + ")");
  }

 private:
  std::string grade_;
  std::string parent_;
};

class SignKind : public TableKind {
 public:
  SignKind()
      : TableKind({.name = "sign",
                   .table = "dsign",
                   .fields = {{"sign", "csign", FieldType::kText, true, true},
                              {"order", "isignseq", FieldType::kWhole, false, true},
                              {"text", "ctext"}},
                   .usages = {{"select 1 from GL_accvouch where csign = {}",
                               "Rembiz.Admin.UsedByLedger"}},
                   .order = "t.isignseq"}) {}

 protected:
  void Check(Context& ctx, const xml::Node& row, bool adding) override {
    if (KeyOf(row).size() > 8) Raise(kErrBusiness, "Rembiz.Admin.BadCode", "sign", "8");
    if (!adding && !row.HasAttr("order")) return;
    std::string order = std::to_string(Whole(row, "order", 0, 1, 255));
    if (!ctx.cn
             .Execute("select 1 from dsign where isignseq = " + order + " and csign <> " +
                      SqlText(KeyOf(row)))
             .Eof()) {
      Raise(kErrBusiness, "Rembiz.Admin.Exists", "order", order);
    }
  }
};

// The twelve periods of the account year: their bounds come with the year; the administrator
// closes a period to the ledger and opens it again.
class PeriodKind : public Kind {
 public:
  std::string_view Name() const override { return "period"; }
  std::vector<std::string> Columns() const override { return {"period", "begin", "end", "closed"}; }
  std::string List(Context& ctx, const xml::Node&) override {
    db::Recordset rs = ctx.cn.Execute(
        "select p.iId as period, convert(varchar(10), p.dBegin, 120) as [begin], "
        "convert(varchar(10), p.dEnd, 120) as [end], isnull(m.bflag, 0) as closed from "
        "qdsystem..UA_Period p left join gl_mend m on m.iperiod = p.iId where p.cAcc_Id = " +
        SqlText(ctx.session.AccountId()) + " and p.iYear = " +
        frame::RequireInteger(ctx.session.FiscalYear(), "year") + " order by p.iId");
    return RowsXml(rs);
  }
  void Add(Context& ctx, const xml::Node& row) override { Change(ctx, row); }
  void Change(Context& ctx, const xml::Node& row) override {
    std::string period = std::to_string(Whole(row, "period", 0, 1, 12));
    if (period == "0") Raise(kErrBusiness, "Rembiz.Admin.Required", "period");
    std::string closed = Flag(row, "closed", false) ? "1" : "0";
    ctx.cn.Execute("delete from gl_mend where iperiod = " + period);
    ctx.cn.Execute("insert into gl_mend (iperiod, bflag) values (" + period + ", " + closed + ")");
  }
  void Delete(Context&, const xml::Node&) override {
    Raise(kErrBusiness, "Rembiz.Admin.BadMark", "3");
  }
};

AccountKind account_kind;
SignKind sign_kind;
PeriodKind period_kind;
const KindRegistrar kRegistrars[] = {KindRegistrar(&account_kind), KindRegistrar(&sign_kind),
                                     KindRegistrar(&period_kind)};

}  // namespace
}  // namespace rembiz::admin
