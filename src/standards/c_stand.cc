#include "standards/c_stand.h"

#include <cstdio>
#include <optional>
#include <string>

#include "db/text.h"
#include "frame/constraints.h"
#include "frame/convert.h"
#include "frame/maintenance.h"
#include "frame/registry.h"
#include "frame/request.h"
#include "frame/sql_helpers.h"
#include "host/errors.h"
#include "host/messages.h"

namespace rembiz::standards {
namespace {

using db::SqlText;
using frame::Exists;
using frame::FirstIn;
using frame::NormalizeSql;

constexpr frame::FrameVariant kVariant{
    .class_name = "CStand",
    .task_code = "EC0104",
    .entry_task = frame::EntryTask::kAfterConnect,
    .transactions = frame::Transactions::kWholeRequest,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = false,
};

using frame::Op;
using frame::OwnErrors;

constexpr frame::OperationEntry kOperations[] = {
    OwnErrors(Op<&CStand::GetStand>("getstand"), "recordGet"),
    OwnErrors(Op<&CStand::SaveStand>("savestand"), "recordEdit"),
    OwnErrors(Op<&CStand::GetDepart>("getdepart"), "recordGet"),
    OwnErrors(Op<&CStand::SaveDepart>("savedepart"), "recordEdit"),
    OwnErrors(Op<&CStand::GetEffect>("geteffect"), "recordGet"),
    OwnErrors(Op<&CStand::SaveEffect>("saveeffect"), "recordEdit"),
    OwnErrors(Op<&CStand::SaveEffectValue>("saveeffectvalue"), "recordEdit"),
    OwnErrors(Op<&CStand::GetEffectValue>("geteffectvalue"), "recordGet"),
    OwnErrors(Op<&CStand::SaveSet>("saveset"), "recordEdit"),
    OwnErrors(Op<&CStand::GetSet>("getset"), "recordGet"),
};

constexpr std::string_view kHardControlKey = "Q7.Rembiz.0028";
constexpr std::string_view kWarningKey = "Q7.Rembiz.0230";

constexpr frame::ConstraintKey kStandConstraints[] = {
    {"FK_EC_ExpenseDepart_EC_Expense", "Q7.Rembiz.0069"},
    {"FK_EC_EISet_Stand_EC_Expense", "Q7.Rembiz.0070"},
    {"IX_EC_Expense", "Q7.Rembiz.0071"}};
constexpr frame::ConstraintKey kEffectConstraints[] = {{"PK_EC_EffectItem", "Q7.Rembiz.0046"}};
constexpr frame::ConstraintKey kValueConstraints[] = {{"IX_EC_EISet_Stand", "Q7.Rembiz.0372"},
                                                      {"PK_EC_EISet_Stand", "Q7.Rembiz.0372"},
                                                      {"PK_EC_EISet_NUStand", "Q7.Rembiz.0372"}};
constexpr frame::ConstraintKey kSetConstraints[] = {{"IX_EC_StandSet", "Q7.Rembiz.0064"}};

const frame::ClassRegistrar kRegistrar("Rembiz.CStand", [] { return std::make_unique<CStand>(); });

// The lines of a save: the children of the first child of the first child of `in`.
xml::NodeList Lines(const xml::Node& func) { return FirstIn(func).FirstChild().Children(); }

std::string StandardGuid(const xml::Node& func) {
  std::string guid = FirstIn(func).Attr("GUID");
  if (guid.empty()) Raise(kErrBusiness, "Q7.Rembiz.0055");
  return guid;
}

// A save that names a standard needs it to exist; a version sent with it must still be current.
std::string ExistingStandard(db::Connection& cn, const xml::Node& func) {
  std::string guid = StandardGuid(func);
  std::string where = "Select GUID From EC_Expense Where GUID = " + SqlText(guid);
  if (!Exists(cn, where)) Raise(kErrBusiness, "Q7.Rembiz.0021");
  std::string ts = FirstIn(func).Attr("ts");
  if (!ts.empty() && !Exists(cn, where + " And Cast(ts As money) = " +
                                     frame::RequireVersion(ts, "Q7.Rembiz.0047"))) {
    Raise(kErrBusiness, "Q7.Rembiz.0047");
  }
  return guid;
}

// A row of the dimension catalogue: where the values of a dimension live.
struct Dimension {
  int code = 0;
  std::string table, code_field, name_field, where;
  bool per_standard = false;  // the values belong to one standard (receipt brackets)
};

Dimension CatalogueRow(db::Connection& cn, const std::string& item) {
  std::optional<double> number = db::ParseNumber(db::Trim(item));
  if (!number || *number != static_cast<double>(static_cast<int>(*number))) {
    Raise(kErrBusiness, "Q7.Rembiz.0058");
  }
  Dimension dimension;
  dimension.code = static_cast<int>(*number);
  db::Recordset rs = cn.Execute(NormalizeSql(
      "Select strTable,strCodeField,strNameField,strWhere,blnStand From "
      "EC_EffectItem_Default_Base Join EC_EffectItem_Default_Lang on  "
      "EC_EffectItem_Default_Base.intEDCode=EC_EffectItem_Default_Lang.intEDCode Where LocaleID=" +
      SqlText(host::CurrentLanguage()) +
      " and EC_EffectItem_Default_Base.intEDCode = " + std::to_string(dimension.code)));
  if (rs.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0058");
  dimension.table = rs.Text("strTable");
  dimension.code_field = rs.Text("strCodeField");
  dimension.name_field = rs.Text("strNameField");
  dimension.where = rs.Text("strWhere");
  dimension.per_standard = rs.Value("blnStand").ToBool();
  frame::RequireSqlName(dimension.table, "dimension table");
  frame::RequireSqlName(dimension.code_field, "dimension code column");
  frame::RequireSqlName(dimension.name_field, "dimension name column");
  return dimension;
}

// The stored control type: "严格控制" when the page sends the hard-control word of its language
// (or the stored word itself), "提示" otherwise.
std::string StoredControlType(std::string_view text) {
  std::string strict = host::MessageText(kHardControlKey, "zh-CN");
  return text == host::MessageText(kHardControlKey) || text == strict
             ? strict
             : host::MessageText(kWarningKey, "zh-CN");
}

// Standards apply to claim rows, which take last-level items only.
void RequireLeafItem(db::Connection& cn, const std::string& item) {
  if (!Exists(cn,
              "select strCode from EC_IOItem where blnEnd = 1 and strCode = " + SqlText(item))) {
    Raise(kErrBusiness, "Rembiz.Master.ItemUnknown");
  }
}

// A non-negative number of a value row (amount, rate); empty counts as 0.
std::string RowNumber(const xml::Node& line, std::string_view name) {
  std::string number = frame::OptionalNumber(line.Attr(name), name);
  if (number.empty()) return "0";
  if (db::ParseNumber(number).value_or(0) < 0) frame::InvalidNumber(name, line.Attr(name));
  return number;
}

}  // namespace

const frame::FrameVariant& CStand::Variant() const { return kVariant; }
std::span<const frame::OperationEntry> CStand::Operations() const { return kOperations; }
std::span<const frame::OperationEntry> CStand::PublicProcedures() const { return kOperations; }

// ---------------------------------------------------------------------------------------------
// Standards

bool CStand::GetStand(host::Session&, db::Connection& cn, xml::Node&, xml::Document& answer) {
  db::Recordset rs = cn.Execute(NormalizeSql(
      "SELECT dbo.EC_Expense.GUID, Cast(dbo.EC_Expense.ts As money) As ts, "
      "dbo.EC_Expense.strStandName, dbo.EC_Expense.strIOItemCode AS strIOCode,case "
      "dbo.EC_Expense.strControlType when " +
      SqlText(host::MessageText(kHardControlKey, "zh-CN")) + " then " +
      SqlText(host::MessageText(kHardControlKey)) + " else " +
      SqlText(host::MessageText(kWarningKey)) +
      " end as strControlType, dbo.EC_IOItem.strName AS strIOName FROM dbo.EC_Expense INNER "
      "JOIN dbo.EC_IOItem ON dbo.EC_Expense.strIOItemCode = dbo.EC_IOItem.strCode ORDER BY "
      "dbo.EC_Expense.strStandName"));
  answer.LoadXml("<Rows>" + frame::RowXml(rs) + "</Rows>");
  return true;
}

bool CStand::SaveStand(host::Session&, db::Connection& cn, xml::Node& func, xml::Document&) {
  return frame::WithConstraintKeys(kStandConstraints, [&] {
    for (const xml::Node& line : Lines(func)) {
      std::string kind = line.Attr("P");
      std::string guid = line.Attr("GUID");
      if (kind == "3") {
        frame::ExecuteOne(cn,
                          "Delete EC_Expense Where GUID = " + SqlText(guid) +
                              " And Cast(ts As money) = " +
                              frame::RequireVersion(line.Attr("ts"), "Q7.Rembiz.0048"),
                          "Q7.Rembiz.0048");
        continue;
      }
      if (kind != "1" && kind != "2") Raise(kErrBusiness, "Q7.Rembiz.0048");
      std::string name = frame::RequireText(line, "strStandName", "Q7.Rembiz.0065");
      std::string item = frame::RequireText(line, "strIOCode", "Q7.Rembiz.0066");
      std::string type =
          StoredControlType(frame::RequireText(line, "strControlType", "Q7.Rembiz.0067"));
      RequireLeafItem(cn, item);
      if (kind == "1") {
        frame::ExecuteOne(cn,
                          "Insert Into EC_Expense (strStandName,strIOItemCode,strControlType) "
                          "Values (" +
                              SqlText(name) + "," + SqlText(item) + "," + SqlText(type) + ")",
                          "Q7.Rembiz.0046");
        continue;
      }
      // One department has one standard per item.
      if (Exists(cn, "select * from EC_ExpenseDepart where guidmain=" + SqlText(guid) +
                         " and strdepartid in(select distinct strdepartid from EC_ExpenseDepart "
                         "where guidmain in(select guid from EC_Expense where strioitemcode=" +
                         SqlText(item) + " and guid<>" + SqlText(guid) + "))")) {
        db::Recordset item_name = cn.Execute(
            NormalizeSql("select strName from EC_IOItem where strCode=" + SqlText(item)));
        Raise(kErrBusiness, "Q7.Rembiz.0068", item_name.Eof() ? item : item_name.Text("strName"));
      }
      frame::ExecuteOne(cn,
                        "Update EC_Expense Set strStandName = " + SqlText(name) +
                            ", strIOItemCode = " + SqlText(item) +
                            ", strControlType = " + SqlText(type) + " Where Cast(ts As money) = " +
                            frame::RequireVersion(line.Attr("ts"), "Q7.Rembiz.0047") +
                            " And GUID = " + SqlText(guid),
                        "Q7.Rembiz.0047");
    }
    return true;
  });
}

// ---------------------------------------------------------------------------------------------
// Departments

bool CStand::GetDepart(host::Session&, db::Connection& cn, xml::Node& func, xml::Document& answer) {
  std::string guid = SqlText(StandardGuid(func));
  db::Recordset rs = cn.Execute(NormalizeSql(
      "Select cDepCode,cDepName,GUID From vwECExpenDepart Where GUID = " + guid +
      " Union Select cDepCode,cDepName,null As GUID from Department Where bDepEnd = 1 And "
      "cDepCode NOT In (Select Distinct cDepCode From vwECExpenDepart Where GUID = " +
      guid + ") ORDER BY cDepCode"));
  answer.LoadXml("<Rows>" + frame::RowXml(rs) + "</Rows>");
  return true;
}

bool CStand::SaveDepart(host::Session&, db::Connection& cn, xml::Node& func, xml::Document&) {
  std::string guid = SqlText(ExistingStandard(cn, func));
  cn.Execute(NormalizeSql("Delete EC_ExpenseDepart Where GuidMain = " + guid));
  for (const xml::Node& line : Lines(func)) {
    std::string department = SqlText(line.Attr("id"));
    if (!Exists(cn, "select cdepname from department where cdepcode=" + department)) {
      Raise(kErrBusiness, "Q7.Rembiz.0073");
    }
    frame::RefuseIfFound(
        cn,
        "select * from EC_ExpenseDepart where guidmain in(select guid from EC_Expense where "
        "strioitemcode=(select strioitemcode from EC_Expense where guid=" +
            guid + ")and guid<>" + guid + ") and strdepartid=" + department,
        "Q7.Rembiz.0074");
    frame::ExecuteOne(cn,
                      "Insert Into EC_ExpenseDepart (GuidMain,strDepartID) Values (" + guid + "," +
                          department + ")",
                      "Q7.Rembiz.0373");
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Dimensions

bool CStand::GetEffect(host::Session&, db::Connection& cn, xml::Node& func, xml::Document& answer) {
  std::string guid = SqlText(StandardGuid(func));
  std::string language = SqlText(host::CurrentLanguage());
  db::Recordset rs = cn.Execute(NormalizeSql(
      "SELECT intEDCode, strEDName, GUIDStand, Cast(ts As money) As ts From dbo.vwECEffectItem "
      "Where GUIDStand = " +
      guid + " and LocaleID=" + language +
      " Union SELECT EC_EffectItem_Default_Base.intEDCode, EC_EffectItem_Default_Lang.strEDName, "
      "NULL AS GUIDStand, NULL AS ts From dbo.EC_EffectItem_Default_Base join "
      "EC_EffectItem_Default_Lang on "
      "EC_EffectItem_Default_Base.intEDCode=EC_EffectItem_Default_Lang.intEDCode Where "
      "EC_EffectItem_Default_Lang.LocaleID=" +
      language +
      " and EC_EffectItem_Default_Base.intEDCode Not In (SELECT intEDCode From "
      "dbo.vwECEffectItem Where GUIDStand = " +
      guid + " and LocaleID=" + language + ") ORDER BY intEDCode"));
  answer.LoadXml("<Rows>" + frame::RowXml(rs) + "</Rows>");
  return true;
}

bool CStand::SaveEffect(host::Session&, db::Connection& cn, xml::Node& func, xml::Document&) {
  return frame::WithConstraintKeys(kEffectConstraints, [&] {
    std::string guid = SqlText(ExistingStandard(cn, func));
    frame::RefuseIfFound(cn, "Select Top 1 GUID From EC_StandSet Where GUIDStand = " + guid,
                         "Q7.Rembiz.0056");
    cn.Execute(NormalizeSql("Delete EC_EffectItem Where GUIDStand = " + guid));
    for (const xml::Node& line : Lines(func)) {
      Dimension dimension = CatalogueRow(cn, line.Attr("id"));
      frame::ExecuteOne(cn,
                        "Insert Into EC_EffectItem (GUIDStand,intEDCode) Values (" + guid + "," +
                            std::to_string(dimension.code) + ")",
                        "Q7.Rembiz.0046");
    }
    return true;
  });
}

bool CStand::GetEffectValue(host::Session&, db::Connection& cn, xml::Node& func,
                            xml::Document& answer) {
  Dimension dimension = CatalogueRow(cn, FirstIn(func).Attr("strItem"));
  std::string sql = "Select " + dimension.code_field + " As strCode," + dimension.name_field +
                    " As strName,Cast(ts As money) As ts From " + dimension.table + " Where " +
                    dimension.where;
  // Without a standard, a list of one standard's values (the receipt brackets) is empty.
  if (dimension.per_standard) sql += " And GUIDStand = " + SqlText(FirstIn(func).Attr("GUID"));
  db::Recordset rs = cn.Execute(NormalizeSql(sql + " Order By " + dimension.code_field));
  answer.LoadXml("<Rows>" + frame::RowXml(rs) + "</Rows>");
  return true;
}

bool CStand::SaveEffectValue(host::Session&, db::Connection& cn, xml::Node& func, xml::Document&) {
  return frame::WithConstraintKeys(kValueConstraints, [&] {
    Dimension dimension = CatalogueRow(cn, FirstIn(func).Attr("strItem"));
    std::string number = std::to_string(dimension.code);
    // Receipt brackets are numbered per standard; the shared lists across all of theirs.
    std::string of_standard;
    if (dimension.per_standard)
      of_standard = " And GUIDStand = " + SqlText(ExistingStandard(cn, func));
    const std::string& code_field = dimension.code_field;
    for (const xml::Node& line : Lines(func)) {
      std::string kind = line.Attr("P");
      std::string code = SqlText(line.Attr("strCode"));
      if (kind == "3") {
        frame::RefuseIfFound(
            cn,
            "Select Top 1 * From EC_StandSet Where strField" + number + " = " + code + of_standard,
            "Q7.Rembiz.0059");
        if (dimension.code == 1) {
          frame::RefuseIfFound(cn, "Select Top 1 * From EC_PersonCtrl Where strGradeID = " + code,
                               "Q7.Rembiz.0060");
        } else if (dimension.code == 2) {
          frame::RefuseIfFound(cn, "Select Top 1 * From EC_Position Where strGradeID = " + code,
                               "Q7.Rembiz.0061");
        }
        frame::ExecuteOne(cn,
                          "Delete " + dimension.table + " Where " + code_field + " = " + code +
                              " And intEICode = " + number + " And Cast(ts As money) = " +
                              frame::RequireVersion(line.Attr("ts"), "Q7.Rembiz.0048") +
                              of_standard,
                          "Q7.Rembiz.0048");
        continue;
      }
      if (kind != "1" && kind != "2") Raise(kErrBusiness, "Q7.Rembiz.0048");
      std::string name = frame::RequireText(line, "strName", "Rembiz.Master.NameRequired");
      // A bracket's name is its upper bound, which the claim check compares as a number.
      if (dimension.per_standard && !db::ParseNumber(db::Trim(name))) {
        Raise(kErrBusiness, "Rembiz.Master.BracketNotNumber");
      }
      if (kind == "2") {
        frame::ExecuteOne(cn,
                          "Update " + dimension.table + " Set " + dimension.name_field + " = " +
                              SqlText(name) + " Where Cast(ts As money) = " +
                              frame::RequireVersion(line.Attr("ts"), "Q7.Rembiz.0047") + " And " +
                              code_field + " = " + code + " And intEICode = " + number +
                              of_standard,
                          "Q7.Rembiz.0047");
        continue;
      }
      // Value codes are "01" to "99": the next after the highest.
      db::Recordset top =
          cn.Execute(NormalizeSql("Select max(cast(" + code_field + " as int)) As code From " +
                                  dimension.table + " Where intEICode = " + number + of_standard));
      int64_t next = top.Eof() || top.Value("code").IsNull() ? 1 : top.Value("code").ToInt() + 1;
      if (next > 99) Raise(kErrBusiness, "Q7.Rembiz.0057");
      char new_code[8];
      std::snprintf(new_code, sizeof new_code, "%02d", static_cast<int>(next));
      std::string sql = "Insert Into " + dimension.table + " (" + code_field + "," +
                        dimension.name_field + ",intEICode" +
                        (dimension.per_standard ? ",GUIDStand" : "") + ") Values ('" + new_code +
                        "'," + SqlText(name) + "," + number;
      if (dimension.per_standard) sql += "," + SqlText(StandardGuid(func));
      frame::ExecuteOne(cn, sql + ")", "Q7.Rembiz.0046");
    }
    return true;
  });
}

// ---------------------------------------------------------------------------------------------
// Value rows

bool CStand::GetSet(host::Session&, db::Connection& cn, xml::Node& func, xml::Document& answer) {
  db::Recordset rs = cn.Execute(NormalizeSql(
      "SELECT strPerID,strPerName,strZeroID,strZeroName,strToolID,strToolName,strMonID,"
      "strMonName,dblMoney,dblRate,Cast(ts As money) As ts,GUID FROM vwECStandSet Where "
      "GUIDStand = " +
      SqlText(FirstIn(func).Attr("GUID")) + " ORDER BY strPerID,strZeroID,strToolID,strMonID"));
  answer.LoadXml("<Rows>" + frame::RowXml(rs) + "</Rows>");
  return true;
}

bool CStand::SaveSet(host::Session&, db::Connection& cn, xml::Node& func, xml::Document&) {
  return frame::WithConstraintKeys(kSetConstraints, [&] {
    std::string standard = ExistingStandard(cn, func);
    std::string of_standard = " And GUIDStand = " + SqlText(standard);
    static constexpr std::string_view kValues[] = {"strPerID", "strZeroID", "strToolID",
                                                   "strMonID"};
    for (const xml::Node& line : Lines(func)) {
      std::string kind = line.Attr("P");
      std::string guid = SqlText(line.Attr("GUID"));
      if (kind == "3") {
        frame::ExecuteOne(cn,
                          "Delete EC_StandSet Where GUID = " + guid + " And Cast(ts As money) = " +
                              frame::RequireVersion(line.Attr("ts"), "Q7.Rembiz.0048") +
                              of_standard,
                          "Q7.Rembiz.0048");
        continue;
      }
      if (kind != "1" && kind != "2") Raise(kErrBusiness, "Q7.Rembiz.0048");

      std::string values[4];
      bool any = false;
      for (int i = 0; i < 4; ++i) {
        std::string value = line.Attr(kValues[i]);
        any = any || !value.empty();
        values[i] = value.empty() ? "NULL" : SqlText(value);
      }
      if (!any) Raise(kErrBusiness, "Q7.Rembiz.0062");
      std::string money = RowNumber(line, "dblMoney");
      std::string rate = RowNumber(line, "dblRate");
      if (db::ParseNumber(rate).value_or(0) > 100) Raise(kErrBusiness, "Q7.Rembiz.0063");
      // A row gives a value for each dimension the standard grades by, from that dimension's
      // list, and for no other: otherwise no claim row could ever match it.
      for (int i = 0; i < 4; ++i) {
        std::string dimension = std::to_string(i + 1);
        bool used = Exists(cn, "select intEDCode from EC_EffectItem where intEDCode=" + dimension +
                                   " And GUIDStand=" + SqlText(standard));
        if (used != (values[i] != "NULL")) {
          Raise(kErrBusiness, "Rembiz.Master.StandValueDimensions");
        }
        if (!used) continue;
        std::string list = i == 3 ? "EC_EISet_Stand Where intEICode = 4" + of_standard
                                  : "EC_EISet_NUStand Where intEICode = " + dimension;
        if (!Exists(cn, "Select strEICode From " + list + " And strEICode = " + values[i])) {
          Raise(kErrBusiness, "Rembiz.Master.DimensionValueUnknown");
        }
      }
      if (kind == "1") {
        frame::ExecuteOne(cn,
                          "Insert Into EC_StandSet (GUIDStand,strField1,strField2,strField3,"
                          "strField4,dblMoney,dblRate) Values (" +
                              SqlText(standard) + "," + values[0] + "," + values[1] + "," +
                              values[2] + "," + values[3] + "," + money + "," + rate + ")",
                          "Q7.Rembiz.0046");
      } else {
        frame::ExecuteOne(cn,
                          "Update EC_StandSet Set strField1 = " + values[0] +
                              " ,strField2 = " + values[1] + " ,strField3 = " + values[2] +
                              " ,strField4 = " + values[3] + " ,dblMoney = " + money +
                              ",dblRate = " + rate + " Where Cast(ts As money) = " +
                              frame::RequireVersion(line.Attr("ts"), "Q7.Rembiz.0047") +
                              " And GUID = " + guid + of_standard,
                          "Q7.Rembiz.0047");
      }
    }
    return true;
  });
}

}  // namespace rembiz::standards
