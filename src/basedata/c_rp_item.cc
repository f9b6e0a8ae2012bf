#include "basedata/c_rp_item.h"

#include <string>

#include "basedata/code_levels.h"
#include "basedata/tree_answers.h"
#include "db/text.h"
#include "frame/constraints.h"
#include "frame/convert.h"
#include "frame/maintenance.h"
#include "frame/registry.h"
#include "frame/request.h"
#include "host/errors.h"
#include "host/messages.h"

namespace rembiz::basedata {
namespace {

using db::SqlText;
using frame::Exists;
using frame::FirstIn;
using frame::NormalizeSql;
using frame::RefuseIfFound;

constexpr frame::FrameVariant kVariant{
    .class_name = "CRPItem",
    .task_code = "EC0103",
    .entry_task = frame::EntryTask::kAfterConnect,
    .transactions = frame::Transactions::kWholeRequest,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = false,
};

// An unknown operation type is as good as none.
constexpr frame::ConstraintKey kNewConstraints[] = {
    {"IX_EC_IOItem", "Q7.Rembiz.0012"}, {"FK_EC_IOItem_EC_OperationType", "Q7.Rembiz.0011"}};
constexpr frame::ConstraintKey kEditConstraints[] = {
    {"IX_EC_IOItem", "Q7.Rembiz.0014"}, {"FK_EC_IOItem_EC_OperationType", "Q7.Rembiz.0011"}};
constexpr frame::ConstraintKey kDelConstraints[] = {{"FK_EC_Expense_EC_IOItem", "Q7.Rembiz.0020"}};

const frame::ClassRegistrar kRegistrar("Rembiz.CRPItem",
                                       [] { return std::make_unique<CRPItem>(); });

bool IsRoot(std::string_view code) { return code == "1" || code == "2"; }

// Income items hang below "1", expenditure items below "2".
std::string KindText(std::string_view code) {
  return host::MessageText(code.starts_with("1") ? "Q7.Rembiz.Web.0200" : "Q7.Rembiz.Web.0202");
}

bool ItemExists(db::Connection& cn, const std::string& code) {
  return Exists(cn, "select strCode from EC_IOItem where strcode=" + SqlText(code));
}

// The operation type of a record; none (or the page's "null") is refused.
std::string TypeOf(const xml::Node& record) {
  std::string type = record.Attr("strtypecode");
  if (db::Trim(type).empty() || db::Lower(db::Trim(type)) == "null") {
    Raise(kErrBusiness, "Q7.Rembiz.0011");
  }
  return type;
}

// The three uses that fix an item in place: claim rows, voucher settings, standards.
void RefuseIfUsed(db::Connection& cn, const std::string& code, std::string_view claim_key,
                  std::string_view setting_key, std::string_view standard_key) {
  std::string item = SqlText(code);
  RefuseIfFound(cn, "Select Top 1 strIOItem From EC_ExpenVouch_sub Where strIOItem = " + item,
                claim_key);
  RefuseIfFound(cn, "select top 1 strIOItemCode from EC_PzSet_IO Where strIOItemCode = " + item,
                setting_key);
  RefuseIfFound(cn, "SELECT top 1 strIOItemCode FROM EC_Expense Where strIOItemCode = " + item,
                standard_key);
}

// The amount above which a claim row of the item needs a receipt: SQL text, "Null" for never
// (empty); no number or a negative one is an invalid request.
std::string ReceiptAbove(const xml::Node& record) {
  std::string above = frame::NumberOf(record, "dblreceiptabove");
  if (above.starts_with('-')) frame::InvalidNumber("dblreceiptabove", above);
  return above;
}

}  // namespace

const frame::FrameVariant& CRPItem::Variant() const { return kVariant; }

bool CRPItem::TreeGet(host::Session&, db::Connection& cn, xml::Node&, xml::Document& answer) {
  CodeLevels levels = ReadLevels(cn, "strIOLevel", "Q7.Rembiz.0003");
  RowTree tree("<list x='5' y='30' w='150' h='200' f='14'><row id='1' name='(1)" +
               frame::XmlEscape(KindText("1")) + "'/><row id='2' name='(2)" +
               frame::XmlEscape(KindText("2")) + "'/></list>");
  db::Recordset rs = cn.Execute(
      NormalizeSql("select strcode,strname from EC_IOItem order by len(strcode),strcode"));
  for (; !rs.Eof(); rs.MoveNext()) {
    std::string code = rs.Text("strcode");
    tree.Add(levels.ParentOf(code), code, rs.Text("strname"));
  }
  answer.LoadXml(tree.Xml());
  return true;
}

bool CRPItem::RecordNew(host::Session&, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  return frame::WithConstraintKeys(kNewConstraints, [&] {
    xml::Node record = FirstIn(func);
    std::string code = record.Attr("strcode");
    // The code's level fixes its parent: a code that fits no level below the roots, or that
    // names another parent, is no valid code.
    CodeLevels levels = ReadLevels(cn, "strIOLevel", "Q7.Rembiz.0003");
    std::string parent = levels.ParentOf(code);
    std::string given = record.Attr("strupcode");
    if (levels.LevelOf(code) < 2 || (!given.empty() && given != parent)) {
      Raise(kErrBusiness, "Q7.Rembiz.0006");
    }
    if (!IsRoot(parent) && !ItemExists(cn, parent)) Raise(kErrBusiness, "Q7.Rembiz.0006");
    if (ItemExists(cn, code)) Raise(kErrBusiness, "Q7.Rembiz.0007");
    RefuseIfUsed(cn, parent, "Q7.Rembiz.0008", "Q7.Rembiz.0009", "Q7.Rembiz.0010");
    std::string type = TypeOf(record);
    std::string name = frame::RequireText(record, "strname", "Rembiz.Master.NameRequired");

    std::string above = ReceiptAbove(record);
    frame::ExecuteOne(cn,
                      "insert into EC_IOItem(strcode,strname,strtypecode,strupcode,blnend,"
                      "dblReceiptAbove)values(" +
                          SqlText(code) + "," + SqlText(name) + "," + SqlText(type) + "," +
                          SqlText(parent) + ",1," + above + ")",
                      "Q7.Rembiz.0046");
    cn.Execute(NormalizeSql("Update EC_IOItem Set blnEnd = 0 Where strCode = " + SqlText(parent)));
    answer.LoadXml("<success/>");
    return true;
  });
}

bool CRPItem::RecordEdit(host::Session&, db::Connection& cn, xml::Node& func,
                         xml::Document& answer) {
  return frame::WithConstraintKeys(kEditConstraints, [&] {
    xml::Node record = FirstIn(func);
    std::string code = record.Attr("strcode");
    db::Recordset stored =
        cn.Execute(NormalizeSql("select strUpCode from EC_IOItem where strcode=" + SqlText(code)));
    if (stored.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0013");
    // An item keeps its place in the tree; its code and parent do not change.
    std::string given = record.Attr("strupcode");
    if (!given.empty() && given != stored.Text("strUpCode")) Raise(kErrBusiness, "Q7.Rembiz.0006");
    std::string type = TypeOf(record);
    std::string name = frame::RequireText(record, "strname", "Rembiz.Master.NameRequired");
    // A record without the option (an older page) leaves it as it is.
    std::string above = record.HasAttr("dblreceiptabove")
                            ? ",dblReceiptAbove=" + ReceiptAbove(record)
                            : std::string();
    frame::ExecuteOne(cn,
                      "update EC_IOItem set strname=" + SqlText(name) +
                          ",strtypecode=" + SqlText(type) + above +
                          " where strcode=" + SqlText(code) + " And cast(ts as money) = " +
                          frame::RequireVersion(record.Attr("ts"), "Q7.Rembiz.0047"),
                      "Q7.Rembiz.0047");
    answer.LoadXml("<success/>");
    return true;
  });
}

bool CRPItem::RecordDel(host::Session&, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  return frame::WithConstraintKeys(kDelConstraints, [&] {
    xml::Node record = FirstIn(func);
    std::string code = record.Attr("strcode");
    RefuseIfFound(cn, "select top 1 strCode from EC_IOItem where strUpCode = " + SqlText(code),
                  "Q7.Rembiz.0015");
    RefuseIfUsed(cn, code, "Q7.Rembiz.0016", "Q7.Rembiz.0017", "Q7.Rembiz.0018");
    db::Recordset stored =
        cn.Execute(NormalizeSql("select strUpCode from EC_IOItem where strcode=" + SqlText(code)));
    std::string parent = stored.Eof() ? "" : stored.Text("strUpCode");
    frame::ExecuteOne(cn,
                      "delete from EC_IOItem where strcode=" + SqlText(code) +
                          " And cast(ts as money) = " +
                          frame::RequireVersion(record.Attr("ts"), "Q7.Rembiz.0019"),
                      "Q7.Rembiz.0019");
    // The last child gone, the parent is a leaf again.
    cn.Execute(NormalizeSql(
        "Update EC_IOItem Set blnEnd = 1 Where strCode = " + SqlText(parent) +
        " And (Select Count(*) From EC_IOItem Where strUpCode = " + SqlText(parent) + ") = 0"));
    answer.LoadXml("<success/>");
    return true;
  });
}

bool CRPItem::RecordGet(host::Session&, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  db::Recordset rs = cn.Execute(NormalizeSql(
      "select EC_IOItem.strcode as strcode,EC_IOItem.strname as strname,EC_IOItem.strtypecode "
      "as strtypecode,EC_OperationType.strname as strtypename,EC_IOItem.strupcode as "
      "strupcode,EC_IOItem.dblReceiptAbove as dblreceiptabove,cast(EC_IOItem.ts As money) as ts "
      "from EC_IOItem left join EC_OperationType "
      "on EC_OperationType.strcode=EC_IOItem.strtypecode where EC_IOItem.strcode=" +
      SqlText(FirstIn(func).Attr("strcode"))));
  if (rs.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0021");
  answer.LoadXml(frame::RowXml(rs));
  return true;
}

bool CRPItem::OutputGet(host::Session&, db::Connection& cn, xml::Node&, xml::Document& answer) {
  TreeOrderedRows rows("strcode");
  for (std::string_view root : {"2", "1"}) {
    rows.Append({{"strkind", KindText(root)},
                 {"strcode", std::string(root)},
                 {"strname", ""},
                 {"strtypecode", ""},
                 {"strtypename", ""},
                 {"blnend", ""},
                 {"strupcode", ""}});
  }
  db::Recordset rs = cn.Execute(NormalizeSql(
      "select EC_IOItem.strcode,EC_IOItem.strname,EC_IOItem.strtypecode,"
      "EC_OperationType.strname as strtypename,EC_IOItem.blnend,EC_IOItem.strupcode from "
      "EC_IOItem left join EC_OperationType on EC_OperationType.strcode=EC_IOItem.strtypecode "
      "order by len(EC_IOItem.strcode),EC_IOItem.strcode desc"));
  std::string yes = host::MessageText("Q7.Rembiz.0022");
  std::string no = host::MessageText("Q7.Rembiz.0023");
  for (; !rs.Eof(); rs.MoveNext()) {
    std::string code = rs.Text("strcode");
    rows.Insert(rs.Text("strupcode"), {{"strkind", KindText(code)},
                                       {"strcode", code},
                                       {"strname", rs.Text("strname")},
                                       {"strtypecode", rs.Text("strtypecode")},
                                       {"strtypename", rs.Text("strtypename")},
                                       {"blnend", rs.Value("blnend").ToBool() ? yes : no},
                                       {"strupcode", rs.Text("strupcode")}});
  }
  answer.LoadXml(rows.Xml());
  return true;
}

}  // namespace rembiz::basedata
