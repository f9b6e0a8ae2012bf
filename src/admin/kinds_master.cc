// The module's own master data kept in sheets — reimbursement items, districts and the value
// rows of standards — for lists, exports and imports. Their rules belong to the classes that
// maintain them (CRPItem, CDistrict, CStand): every write goes through their operations, on the
// administration's connection and in its transaction, so that an import checks exactly what a
// page's save checks and a refusal names the class's own reason.
#include <string>

#include "admin/kinds.h"
#include "db/text.h"
#include "frame/registry.h"
#include "host/errors.h"
#include "xml/escape.h"

namespace rembiz::admin {
namespace {

using db::SqlText;

std::string Attr(std::string_view name, const std::string& value) {
  return " " + std::string(name) + "='" + xml::XmlEscape(value) + "'";
}

// Runs operation `op` of the class with `in` as the request's `in`; a refusal of the class is
// raised with its text.
void RunOperation(Context& ctx, std::string_view prog_id, const std::string& op,
                  const std::string& in) {
  std::unique_ptr<frame::BusinessObject> object = frame::CreateObject(prog_id);
  xml::Document request;
  request.LoadXml("<func name='" + op + "'>" + in + "</func>");
  xml::Node func = request.DocumentElement();
  xml::Document answer;
  bool done = object->InvokePublic(op, ctx.session, ctx.cn, func, answer);
  if (!done || answer.DocumentElement().Name() == "error") {
    xml::Node text = answer.SelectSingleNode("//error/text");
    throw ComError(kErrBusiness, text.IsNull() ? op : text.Text(), std::string(prog_id));
  }
}

// Reimbursement items (CRPItem) and districts (CDistrict): coded trees whose records travel
// as the attributes of one element.
class TreeRecordKind : public Kind {
 public:
  struct Names {
    std::string_view kind, prog_id, table, code, name, type, parent, type_attr;
    // Items: the amount above which a claim row needs a receipt (column "receiptabove").
    std::string_view receipt_above = {};
  };
  explicit TreeRecordKind(Names names) : n_(names) {}

  std::string_view Name() const override { return n_.kind; }
  std::vector<std::string> Columns() const override {
    std::vector<std::string> columns = {"code", "name", std::string(n_.type_attr), "parent"};
    if (!n_.receipt_above.empty()) columns.emplace_back("receiptabove");
    return columns;
  }
  bool Importable() const override { return true; }

  std::string List(Context& ctx, const xml::Node&) override {
    db::Recordset rs = ctx.cn.Execute(
        "select " + std::string(n_.code) + " as code, " + std::string(n_.name) + " as name, " +
        std::string(n_.type) + " as " + std::string(n_.type_attr) + ", " + std::string(n_.parent) +
        " as parent, " +
        (n_.receipt_above.empty() ? std::string()
                                  : std::string(n_.receipt_above) + " as receiptabove, ") +
        "cast(ts as money) as ts from " + std::string(n_.table) + " order by " +
        std::string(n_.code));
    return RowsXml(rs);
  }
  void Add(Context& ctx, const xml::Node& row) override { Run(ctx, "new", row, false); }
  void Change(Context& ctx, const xml::Node& row) override { Run(ctx, "edit", row, true); }
  void Delete(Context& ctx, const xml::Node& row) override { Run(ctx, "del", row, true); }

 private:
  void Run(Context& ctx, const std::string& op, const xml::Node& row, bool versioned) {
    std::string record = "<r" + Attr("strcode", db::Trim(row.Attr("code"))) +
                         Attr("strname", db::Trim(row.Attr("name"))) +
                         Attr("strtypecode", db::Trim(row.Attr(n_.type_attr))) +
                         Attr("strupcode", db::Trim(row.Attr("parent")));
    // A sheet without the column leaves the amount as it is.
    if (!n_.receipt_above.empty() && row.HasAttr("receiptabove")) {
      record += Attr("dblreceiptabove", db::Trim(row.Attr("receiptabove")));
    }
    if (versioned) record += Attr("ts", db::Trim(row.Attr("ts")));
    RunOperation(ctx, n_.prog_id, op, "<in>" + record + "/></in>");
  }

  Names n_;
};

// The value rows of standards (CStand "saveset"): the standard by its name, the codes of the
// four dimensions' values (person grade, place grade, transport, receipt bracket), the amount
// and the rate. Changes and deletions name the row (`id`, its GUID) and its version.
class StandValueKind : public Kind {
 public:
  std::string_view Name() const override { return "standvalue"; }
  std::vector<std::string> Columns() const override {
    return {"standard", "person", "place", "transport", "bracket", "amount", "rate"};
  }
  bool Importable() const override { return true; }

  std::string List(Context& ctx, const xml::Node&) override {
    db::Recordset rs = ctx.cn.Execute(
        "select e.strStandName as standard, s.strField1 as person, s.strField2 as place, "
        "s.strField3 as transport, s.strField4 as bracket, s.dblMoney as amount, s.dblRate as "
        "rate, s.GUID as id, cast(s.ts as money) as ts from EC_StandSet s join EC_Expense e on "
        "e.GUID = s.GUIDStand order by e.strStandName, s.strField1, s.strField2, s.strField3, "
        "s.strField4");
    return RowsXml(rs);
  }
  void Add(Context& ctx, const xml::Node& row) override { Save(ctx, "1", row); }
  void Change(Context& ctx, const xml::Node& row) override { Save(ctx, "2", row); }
  void Delete(Context& ctx, const xml::Node& row) override { Save(ctx, "3", row); }

 private:
  // Dimension values are two-digit codes; a sheet that read "01" as the number 1 gets it back.
  static std::string ValueCode(const xml::Node& row, std::string_view name) {
    std::string value = db::Trim(row.Attr(name));
    if (value.size() == 1 && value[0] >= '1' && value[0] <= '9') value = "0" + value;
    return value;
  }

  static void Save(Context& ctx, const std::string& mark, const xml::Node& row) {
    std::string name = Required(row, "standard");
    db::Recordset standard =
        ctx.cn.Execute("select GUID from EC_Expense where strStandName = " + SqlText(name));
    if (standard.Eof()) Raise(kErrBusiness, "Rembiz.Admin.UnknownStandard", name);
    std::string amount = db::Trim(row.Attr("amount"));
    std::string rate = db::Trim(row.Attr("rate"));
    std::string line = "<row" + Attr("P", mark) + Attr("strPerID", ValueCode(row, "person")) +
                       Attr("strZeroID", ValueCode(row, "place")) +
                       Attr("strToolID", ValueCode(row, "transport")) +
                       Attr("strMonID", ValueCode(row, "bracket")) +
                       Attr("dblMoney", amount.empty() ? "0" : amount) +
                       Attr("dblRate", rate.empty() ? "0" : rate);
    if (mark != "1") line += Attr("GUID", db::Trim(row.Attr("id"))) + Attr("ts", Version(row));
    RunOperation(
        ctx, "Rembiz.CStand", "saveset",
        "<in><s" + Attr("GUID", standard.Text("GUID")) + "><rows>" + line + "/></rows></s></in>");
  }
};

TreeRecordKind item_kind({.kind = "item",
                          .prog_id = "Rembiz.CRPItem",
                          .table = "EC_IOItem",
                          .code = "strCode",
                          .name = "strName",
                          .type = "strTypeCode",
                          .parent = "strUpCode",
                          .type_attr = "type",
                          .receipt_above = "dblReceiptAbove"});
TreeRecordKind district_kind({.kind = "district",
                              .prog_id = "Rembiz.CDistrict",
                              .table = "EC_Position",
                              .code = "strPositionCode",
                              .name = "strPositionName",
                              .type = "strGradeID",
                              .parent = "strUpCode",
                              .type_attr = "grade"});
StandValueKind stand_value_kind;
const KindRegistrar kRegistrars[] = {KindRegistrar(&item_kind), KindRegistrar(&district_kind),
                                     KindRegistrar(&stand_value_kind)};

}  // namespace
}  // namespace rembiz::admin
