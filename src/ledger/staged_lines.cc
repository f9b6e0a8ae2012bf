#include "ledger/staged_lines.h"

#include <cmath>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

#include "db/money.h"
#include "db/text.h"
#include "frame/convert.h"
#include "frame/request.h"
#include "frame/sql_helpers.h"
#include "host/errors.h"

namespace rembiz::ledger {
namespace {

using frame::NormalizeSql;

// The bare name of a "tempdb.."-prefixed staging table, as correlated subqueries name it.
std::string BareName(const std::string& table) {
  return db::Lower(table).rfind("tempdb..", 0) == 0 ? table.substr(8) : table;
}

// The item table of an item class and its code and name columns; nullopt for a class that
// names no table.
struct ItemSource {
  std::string table, code, name;
};
std::optional<ItemSource> ItemSourceOf(const std::string& item_class) {
  if (item_class == "ch") return ItemSource{"Inventory", "cInvCode", "cInvName"};
  if (!db::IsSqlName("fitemss" + item_class)) return std::nullopt;
  return ItemSource{"fitemss" + item_class, "citemcode", "citemname"};
}

void NormaliseAccount(db::Connection& cn, const std::string& table, const std::string& code) {
  std::string flags;
  for (int i = 1; i <= 16; ++i) flags += ",bcDefine" + std::to_string(i);
  db::Recordset account = cn.Execute(NormalizeSql(
      "select isnull(cass_item,'') as cass_item,ccode,isnull(fitem.citem_name,'') as "
      "citem_name" +
      flags +
      ",bcus,bsup,bperson,bdept from code left join fitem on code.cass_item=fitem.citem_class "
      "where ccode=" +
      db::SqlText(code)));
  if (account.Eof()) return;  // no such account: the ledger refuses the line when it is saved

  const std::string bare = BareName(table);
  const std::string where = " where ccode=" + db::SqlText(code);
  std::string item_class = account.Text("cass_item");
  // An account without items gives its lines the empty class, as it gives them the empty name.
  std::string sets = "citem_class=" + db::SqlText(item_class) +
                     ",citemclassname=" + db::SqlText(account.Text("citem_name"));
  std::optional<ItemSource> items = item_class.empty() ? std::nullopt : ItemSourceOf(item_class);
  if (items) {
    // Code and name of the line's item; an item that is not found becomes null.
    std::string lookup =
        " from " + items->table + " where " + items->code + " = " + bare + ".citem_id)";
    cn.Execute(NormalizeSql("update " + table + " set citem_name = (select " + items->name +
                            lookup + ", citem_id = (select " + items->code + lookup + where));
  } else {
    sets += ",citem_id=null,citem_name=null";
  }

  if (account.Value("bperson").ToBool()) {
    // Kept by person: the department is the person's.
    cn.Execute(NormalizeSql(
        "update " + table + " set cdept_id = (select Person.cDepCode from Person where " +
        "Person.cPersonCode = " + bare + ".cperson_id), cdept_name = (select Department.cDepName " +
        "from Person inner join Department on Department.cDepCode = Person.cDepCode where " +
        "Person.cPersonCode = " + bare + ".cperson_id)" + where +
        " and isnull(cperson_id,'')<>''"));
    cn.Execute(NormalizeSql("update " + table + " set cdept_id=null,cdept_name=null" + where +
                            " and isnull(cperson_id,'')=''"));
  } else if (account.Value("bdept").ToBool()) {
    sets += ",cperson_id=Null,cperson_name=null";
  } else {
    sets += ",cperson_id=Null,cperson_name=null,cdept_id = null,cdept_name=null";
  }
  if (!account.Value("bcus").ToBool()) sets += ",ccus_id = null,ccus_name=null";
  if (!account.Value("bsup").ToBool()) sets += ",csup_id = null,csup_Name=null";
  for (int i = 1; i <= 16; ++i) {
    std::string n = std::to_string(i);
    if (!account.Value("bcDefine" + n).ToBool()) sets += ",cDefine" + n + " = null";
  }
  cn.Execute(NormalizeSql("update " + table + " set " + sets + where));
}

void ClearLocalCurrency(db::Connection& cn, const std::string& table) {
  db::Recordset local =
      cn.Execute(NormalizeSql("select cexch_name from foreigncurrency where iotherused=-1"));
  for (; !local.Eof(); local.MoveNext()) {
    cn.Execute(NormalizeSql("update " + table + " set cexch_name=Null,md_f=0,mc_f=0 where " +
                            "cexch_name=" + db::SqlText(local.Text("cexch_name"))));
  }
}

// The difference goes to the last line with nothing on the other side.
void Balance(db::Connection& cn, const std::string& table) {
  db::Recordset sums = cn.Execute(NormalizeSql("select isnull(sum(md),0) as j, isnull(sum(mc),0) " +
                                               std::string("as d from ") + table));
  double difference = db::RoundMoney(sums.Value("j").ToDouble() - sums.Value("d").ToDouble());
  if (difference == 0) return;
  std::string amount = db::DoubleText(std::fabs(difference));
  std::string side = difference > 0 ? "mc" : "md";
  std::string other = difference > 0 ? "md" : "mc";
  cn.Execute(NormalizeSql("update " + table + " set " + side + " = isnull(" + side + ",0) + " +
                          amount + " where inid = (select max(inid) from " + table +
                          " where isnull(" + other + ",0) = 0)"));
}

// ---------------------------------------------------------------------------------------------
// Merging

enum class SettingKind { kNone, kIO, kOP };

struct MergeOptions {
  bool summary = false, account = false, items = false, date = false, settle = false, bill = false,
       user_fields = false;
};

// The values a staged line is merged by, and its amounts.
struct MergeLine {
  int64_t inid = 0;
  std::string direction;
  std::string code;
  db::Variant digest, date, settle, bill;
  std::vector<db::Variant> items;        // cdept_id … citem_id
  std::vector<db::Variant> user_fields;  // cDefine1 … cDefine16
  double md = 0, md_f = 0, mc = 0, mc_f = 0;
  std::optional<double> nd_s, nc_s;
  bool merged = false;
};

constexpr const char* kItemColumns[] = {"cdept_id", "cperson_id",  "ccus_id",
                                        "csup_id",  "citem_class", "citem_id"};

// A value's part of a merge key. Two lines without a value agree: lines that carry no customer
// are not kept apart by it.
void AppendKey(std::string& key, const db::Variant& value) {
  if (value.IsNull()) {
    key += '\x01';
  } else {
    key += '\x02';
    key += value.ToText();
  }
  key += '\x00';
}

std::string MergeKey(const MergeLine& line, const MergeOptions& options) {
  std::string key = line.direction;
  key += '\x00';
  if (options.summary) AppendKey(key, line.digest);
  if (options.account) AppendKey(key, line.code);
  if (options.items) {
    for (const db::Variant& value : line.items) AppendKey(key, value);
  }
  if (options.date) AppendKey(key, line.date);
  if (options.settle) AppendKey(key, line.settle);
  if (options.bill) AppendKey(key, line.bill);
  if (options.user_fields) {
    for (const db::Variant& value : line.user_fields) AppendKey(key, value);
  }
  return key;
}

// A partner is a line with an account and an amount on its side.
bool CanBePartner(const MergeLine& line) {
  if (line.code.empty()) return false;
  return line.direction == "1" ? line.md != 0 : line.direction == "0" && line.mc != 0;
}

void ReadMergeOptions(db::Connection& cn, MergeOptions& io, MergeOptions& op) {
  db::Recordset rs = cn.Execute(NormalizeSql(
      "Select cname ,cvalue From Accinformation Where cSysID = 'EC' And cID Like '2%' Order By "
      "cID"));
  std::map<std::string, bool> flags;
  for (; !rs.Eof(); rs.MoveNext()) {
    flags[db::Lower(rs.Text("cname"))] = db::Lower(rs.Text("cvalue")) == "true";
  }
  auto flag = [&](const char* name) { return flags.count(name) > 0 && flags[name]; };
  io = MergeOptions{flag("iokm_zy"), flag("iokm_km"), flag("iokm_fzx"), flag("iokm_djrq"),
                    false,           false,           flag("iokm_zdy")};
  op = MergeOptions{flag("opkm_zy"),   flag("opkm_km"),   flag("opkm_fzx"), flag("opkm_djrq"),
                    flag("opkm_jsfs"), flag("opkm_pjbh"), flag("opkm_zdy")};
}

class KindOfAccount {
 public:
  explicit KindOfAccount(db::Connection& cn) : cn_(cn) {}
  SettingKind operator()(const std::string& code) {
    if (code.empty()) return SettingKind::kNone;
    auto it = kinds_.find(code);
    if (it != kinds_.end()) return it->second;
    SettingKind kind = SettingKind::kNone;
    if (frame::Exists(cn_, "select GUID from vwECIOKM where strcode=" + db::SqlText(code))) {
      kind = SettingKind::kIO;
    } else if (frame::Exists(cn_, "select GUID from vwECOPKM where strcode=" + db::SqlText(code))) {
      kind = SettingKind::kOP;
    }
    kinds_.emplace(code, kind);
    return kind;
  }

 private:
  db::Connection& cn_;
  std::unordered_map<std::string, SettingKind> kinds_;
};

std::vector<MergeLine> ReadLines(db::Connection& cn, const std::string& table) {
  std::string columns;
  for (const char* column : kItemColumns) columns += std::string(",") + column;
  for (int i = 1; i <= 16; ++i) columns += ",cDefine" + std::to_string(i);
  db::Recordset rs = cn.Execute(NormalizeSql(
      "Select inid,bdirflag,ccode,cdigest,dbill_date,csettle,cn_id,md,md_f,mc,mc_f,nd_s,nc_s" +
      columns + " FROM " + table + " Order By inid"));
  std::vector<MergeLine> lines;
  lines.reserve(static_cast<size_t>(rs.RecordCount()));
  for (; !rs.Eof(); rs.MoveNext()) {
    MergeLine line;
    line.inid = rs.Value("inid").ToInt();
    line.direction = rs.Text("bdirflag");
    line.code = rs.Text("ccode");
    line.digest = rs.Value("cdigest");
    line.date = rs.Value("dbill_date");
    line.settle = rs.Value("csettle");
    line.bill = rs.Value("cn_id");
    for (const char* column : kItemColumns) line.items.push_back(rs.Value(column));
    for (int i = 1; i <= 16; ++i)
      line.user_fields.push_back(rs.Value("cDefine" + std::to_string(i)));
    line.md = rs.Value("md").ToDouble();
    line.md_f = rs.Value("md_f").ToDouble();
    line.mc = rs.Value("mc").ToDouble();
    line.mc_f = rs.Value("mc_f").ToDouble();
    if (!rs.Value("nd_s").IsNull()) line.nd_s = rs.Value("nd_s").ToDouble();
    if (!rs.Value("nc_s").IsNull()) line.nc_s = rs.Value("nc_s").ToDouble();
    lines.push_back(std::move(line));
  }
  return lines;
}

void AddQuantity(std::optional<double>& into, const std::optional<double>& value) {
  if (value) into = into.value_or(0) + *value;
}

std::string Quantity(const std::optional<double>& value) {
  return value ? db::DoubleText(*value) : std::string("Null");
}

}  // namespace

void NormaliseStagedLines(db::Connection& cn, const std::string& table) {
  db::Recordset accounts = cn.Execute(NormalizeSql("select distinct ccode from " + table +
                                                   " where isnull(ccode,'')<>'' order by ccode"));
  for (; !accounts.Eof(); accounts.MoveNext()) {
    NormaliseAccount(cn, table, accounts.Text("ccode"));
  }
  ClearLocalCurrency(cn, table);
  Balance(cn, table);
}

void MergeStagedLines(db::Connection& cn, const std::string& table) {
  MergeOptions io, op;
  ReadMergeOptions(cn, io, op);
  std::vector<MergeLine> lines = ReadLines(cn, table);
  if (lines.empty()) Raise(kErrBusiness, "Q7.Rembiz.0296");

  KindOfAccount kind_of(cn);
  std::vector<SettingKind> kinds;
  kinds.reserve(lines.size());
  for (const MergeLine& line : lines) kinds.push_back(kind_of(line.code));

  // Partners by their key under either set of options, in line order; a line then takes every
  // partner under its own key that is not merged yet, so each list is used once.
  std::unordered_map<std::string, std::vector<size_t>> by_io_key, by_op_key;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!CanBePartner(lines[i])) continue;
    by_io_key[MergeKey(lines[i], io)].push_back(i);
    by_op_key[MergeKey(lines[i], op)].push_back(i);
  }

  std::vector<int64_t> absorbed;
  for (size_t i = 0; i < lines.size(); ++i) {
    MergeLine& line = lines[i];
    if (line.merged || kinds[i] == SettingKind::kNone) continue;
    bool expense = kinds[i] == SettingKind::kIO;
    auto& index = expense ? by_io_key : by_op_key;
    auto it = index.find(MergeKey(line, expense ? io : op));
    if (it == index.end()) continue;
    bool changed = false;
    for (size_t p : it->second) {
      MergeLine& partner = lines[p];
      if (p == i || partner.merged) continue;
      line.md += partner.md;
      line.md_f += partner.md_f;
      line.mc += partner.mc;
      line.mc_f += partner.mc_f;
      AddQuantity(line.nd_s, partner.nd_s);
      AddQuantity(line.nc_s, partner.nc_s);
      partner.merged = true;
      absorbed.push_back(partner.inid);
      changed = true;
    }
    index.erase(it);
    if (!changed) continue;
    cn.Execute(NormalizeSql(
        "update " + table + " set md = " + db::DoubleText(db::RoundMoney(line.md)) +
        ", md_f = " + db::DoubleText(db::RoundMoney(line.md_f)) +
        ", mc = " + db::DoubleText(db::RoundMoney(line.mc)) + ", mc_f = " +
        db::DoubleText(db::RoundMoney(line.mc_f)) + ", nd_s = " + Quantity(line.nd_s) +
        ", nc_s = " + Quantity(line.nc_s) + " where inid = " + std::to_string(line.inid)));
  }
  // The absorbed lines go, a few hundred per statement.
  constexpr size_t kPerStatement = 500;
  for (size_t start = 0; start < absorbed.size(); start += kPerStatement) {
    std::string list;
    for (size_t k = start; k < std::min(absorbed.size(), start + kPerStatement); ++k) {
      list += (list.empty() ? "" : ",") + std::to_string(absorbed[k]);
    }
    cn.Execute(NormalizeSql("delete from " + table + " where inid in (" + list + ")"));
  }
}

}  // namespace rembiz::ledger
