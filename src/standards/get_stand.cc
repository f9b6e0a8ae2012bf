#include "standards/get_stand.h"

#include "db/error.h"
#include "db/recordset.h"
#include "db/text.h"
#include "db/variant.h"
#include "frame/convert.h"
#include "host/messages.h"
#include "standards/standard_check.h"

namespace rembiz::standards {
namespace {

using db::kErrInvalidRequest;

db::Recordset Query(db::Connection& cn, const std::string& sql) {
  return cn.Execute(frame::NormalizeSql(sql));
}
// The dimensions of the item's standard in the department, highest code first. Written with
// inner joins: the nested "RIGHT JOIN … ON … ON" form does not translate, and the conditions on
// language, item and department already turn its outer joins into inner ones.
db::Recordset Dimensions(db::Connection& cn, const std::string& language, const std::string& item,
                         const std::string& department) {
  return Query(cn,
               "SELECT DISTINCT EC_EffectItem_Default_Lang.strEDName , "
               "EC_EffectItem_Default_Base.intEDCode FROM EC_Expense INNER JOIN EC_ExpenseDepart "
               "ON EC_ExpenseDepart.GuidMain = EC_Expense.GUID INNER JOIN EC_EffectItem ON "
               "EC_Expense.GUID = EC_EffectItem.GUIDStand INNER JOIN EC_EffectItem_Default_Base "
               "ON EC_EffectItem_Default_Base.intEDCode = EC_EffectItem.intEDCode INNER JOIN "
               "EC_EffectItem_Default_Lang ON "
               "EC_EffectItem_Default_Base.intEDCode=EC_EffectItem_Default_Lang.intEDCode WHERE "
               "(EC_EffectItem_Default_Lang.LocaleID=" +
                   db::SqlText(language) +
                   ") and (EC_Expense.strIOItemCode = " + db::SqlText(item) +
                   ") AND (EC_ExpenseDepart.strDepartID = " + db::SqlText(department) +
                   ") Order By EC_EffectItem_Default_Base.intEDCode Desc");
}

std::string Attribute(std::string_view name, const std::string& value) {
  return std::string(name) + "='" + frame::XmlEscape(value) + "'";
}

}  // namespace

std::string StandRowsXml(host::Session& session, db::Connection& cn, const xml::Node& rows) {
  const xml::NodeList lines = rows.Children();
  std::string answer = "<Rows>";
  if (lines.empty()) return answer + "</Rows>";

  const std::string language = session.LanguageId();
  const std::string department = lines.front().Attr("strDepartID");
  const std::string claimant = lines.front().Attr("strLoanID");
  std::string grade;
  if (!claimant.empty()) {
    db::Recordset rs = Query(
        cn, "Select strGradeID From EC_PersonCtrl Where strPersonCode = " + db::SqlText(claimant));
    if (!rs.Eof()) grade = rs.Text("strGradeID");
  }
  const std::string control_type_sql =
      "case dbo.EC_Expense.strControlType when " +
      db::SqlText(host::MessageText("Q7.Rembiz.0028", "zh-CN")) + " then " +
      db::SqlText(host::MessageText("Q7.Rembiz.0028", language)) + " else " +
      db::SqlText(host::MessageText("Q7.Rembiz.0230", language)) + " end as strControlType";

  for (const xml::Node& line : lines) {
    const std::string item = line.Attr("strIOItem");
    db::Recordset dimensions = Dimensions(cn, language, item, department);
    // An item whose standard uses no dimension, or a row lacking a value its standard needs,
    // gets no answer.
    if (dimensions.Eof()) continue;
    std::string conditions;
    bool complete = true;
    for (; complete && !dimensions.Eof(); dimensions.MoveNext()) {
      switch (dimensions.Value("intEDCode").ToInt()) {
        case 1:
          complete = !grade.empty();
          conditions += "And EC_StandSet.strField1 = " + db::SqlText(grade) + " ";
          break;
        case 2: {
          const std::string place = line.Attr("strezero");
          complete = !place.empty();
          conditions +=
              "And EC_StandSet.strField2 = (SELECT strGradeID From ec_position WHERE "
              "strPositionCode = " +
              db::SqlText(place) + ") ";
          break;
        }
        case 3: {
          const std::string code = line.Attr("strjttools");
          complete = !code.empty();
          conditions += "And EC_StandSet.strField3 = " + db::SqlText(code) + " ";
          break;
        }
        case 4: {
          // Compared with the receipt amount as entered, not per unit.
          const std::string receipt = line.Attr("dblVouch");
          complete = !receipt.empty();
          if (!complete) break;
          if (!frame::IsNumeric(db::Variant(receipt))) {
            throw ComError(kErrInvalidRequest,
                           "Invalid request: dblVouch '" + receipt + "' is not a number.",
                           "Rembiz");
          }
          conditions += "And Cast(EC_EISet_Stand.strEIName as money) >= " +
                        db::DoubleText(frame::NumValue(db::Variant(receipt))) + " ";
          break;
        }
        default:
          break;
      }
    }
    if (!complete) continue;

    db::Recordset stand = Query(
        cn, "SELECT Top 1 " + control_type_sql +
                ", EC_StandSet.dblMoney, EC_StandSet.dblRate  FROM EC_ExpenseDepart INNER JOIN "
                "EC_Expense ON EC_ExpenseDepart.GuidMain = EC_Expense.GUID INNER JOIN EC_StandSet "
                "ON EC_Expense.GUID = EC_StandSet.GUIDStand LEFT OUTER JOIN EC_EISet_Stand ON "
                "EC_StandSet.strField4 = EC_EISet_Stand.strEICode AND EC_Expense.GUID = "
                "EC_EISet_Stand.GUIDStand Where EC_Expense.strIOItemCode = " +
                db::SqlText(item) +
                " And EC_ExpenseDepart.strDepartID = " + db::SqlText(department) + " " +
                conditions + "Order By Cast(EC_EISet_Stand.strEIName As money) ");
    if (stand.Eof()) continue;
    answer += "<row " + Attribute("id", line.Attr("row")) + " " +
              Attribute("strControlType", stand.Text("strControlType")) + " " +
              Attribute("dblMoney", stand.Text("dblMoney")) + " " +
              Attribute("dblRate", stand.Text("dblRate")) + " />";
  }
  return answer + "</Rows>";
}

bool GetStand(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer) {
  const xml::Node rows = func.SelectSingleNode("//Rows");
  if (!rows) {
    throw ComError(kErrInvalidRequest, "Invalid request: the claim rows (Rows) are missing.",
                   "Rembiz");
  }
  answer.LoadXml(StandRowsXml(session, cn, rows));
  return true;
}

}  // namespace rembiz::standards
