#include "basedata/c_district.h"

#include <string>

#include "basedata/code_levels.h"
#include "basedata/grades.h"
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

constexpr frame::FrameVariant kVariant{
    .class_name = "CDistrict",
    .task_code = "EC0106",
    .entry_task = frame::EntryTask::kAfterConnect,
    .transactions = frame::Transactions::kWholeRequest,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = false,
};

// Place grades are dimension 2 of the standards.
constexpr int kPlaceGrade = 2;
constexpr frame::ConstraintKey kConstraints[] = {{"PK_EC_POSITION", "Q7.Rembiz.0080"},
                                                 {"IX_EC_Position", "Q7.Rembiz.0081"}};

const frame::ClassRegistrar kRegistrar("Rembiz.CDistrict",
                                       [] { return std::make_unique<CDistrict>(); });

bool DistrictExists(db::Connection& cn, const std::string& code) {
  return Exists(cn,
                "select strPositionCode from EC_Position where strPositionCode=" + SqlText(code));
}

}  // namespace

const frame::FrameVariant& CDistrict::Variant() const { return kVariant; }

bool CDistrict::TreeGet(host::Session&, db::Connection& cn, xml::Node&, xml::Document& answer) {
  ReadLevels(cn, "strZeroLevel", "Q7.Rembiz.0078");
  RowTree tree("<list x='5' y='30' w='200' h='200' f='14'><row id='' name='" +
               frame::XmlEscape(host::MessageText("Q7.Rembiz.0079")) + "' open='1'/></list>");
  db::Recordset rs = cn.Execute(
      NormalizeSql("select strPositionCode,strPositionName,strUpCode from EC_Position order by "
                   "strPositionCode"));
  for (; !rs.Eof(); rs.MoveNext()) {
    tree.Add(rs.Text("strUpCode"), rs.Text("strPositionCode"), rs.Text("strPositionName"));
  }
  answer.LoadXml(tree.Xml());
  return true;
}

bool CDistrict::RecordNew(host::Session&, db::Connection& cn, xml::Node& func,
                          xml::Document& answer) {
  return frame::WithConstraintKeys(kConstraints, [&] {
    xml::Node record = FirstIn(func);
    std::string code = record.Attr("strcode");
    // The code's level fixes its parent, which must exist below the top level.
    CodeLevels levels = ReadLevels(cn, "strZeroLevel", "Q7.Rembiz.0078");
    std::string parent = levels.ParentOf(code);
    std::string given = record.Attr("strupcode");
    if (levels.LevelOf(code) == 0 || (!given.empty() && given != parent) ||
        (!parent.empty() && !DistrictExists(cn, parent)) || DistrictExists(cn, code)) {
      Raise(kErrBusiness, "Q7.Rembiz.0006");
    }
    std::string name = frame::RequireText(record, "strname", "Rembiz.Master.NameRequired");
    std::string grade = GradeValue(cn, kPlaceGrade, record.Attr("strtypecode"));
    frame::ExecuteOne(cn,
                      "insert into EC_Position(strPositionCode,strPositionName,strGradeID,"
                      "strupcode)values(" +
                          SqlText(code) + "," + SqlText(name) + "," + grade + "," +
                          (parent.empty() ? std::string("Null") : SqlText(parent)) + ")",
                      "Q7.Rembiz.0046");
    answer.LoadXml("<success/>");
    return true;
  });
}

bool CDistrict::RecordEdit(host::Session&, db::Connection& cn, xml::Node& func,
                           xml::Document& answer) {
  return frame::WithConstraintKeys(kConstraints, [&] {
    xml::Node record = FirstIn(func);
    std::string code = record.Attr("strcode");
    if (!DistrictExists(cn, code)) Raise(kErrBusiness, "Q7.Rembiz.0021");
    std::string name = frame::RequireText(record, "strname", "Rembiz.Master.NameRequired");
    std::string grade = GradeValue(cn, kPlaceGrade, record.Attr("strtypecode"));
    frame::ExecuteOne(cn,
                      "update EC_Position set strPositionName=" + SqlText(name) +
                          ",strGradeID=" + grade + " where strPositionCode=" + SqlText(code) +
                          " And cast(ts as money) = " +
                          frame::RequireVersion(record.Attr("ts"), "Q7.Rembiz.0047"),
                      "Q7.Rembiz.0047");
    answer.LoadXml("<success/>");
    return true;
  });
}

bool CDistrict::RecordDel(host::Session&, db::Connection& cn, xml::Node& func,
                          xml::Document& answer) {
  xml::Node record = FirstIn(func);
  std::string code = SqlText(record.Attr("strcode"));
  frame::RefuseIfFound(
      cn,
      "select top 1 AutoID from ec_expenvouch_sub where strbzero=" + code + " or strezero=" + code,
      "Q7.Rembiz.0082");
  frame::RefuseIfFound(cn,
                       "select top 1 strPositionCode from EC_Position where "
                       "left(strPositionCode,len(" +
                           code + "))=" + code + " and strPositionCode<>" + code,
                       "Q7.Rembiz.0083");
  frame::ExecuteOne(
      cn,
      "delete from EC_Position where strPositionCode=" + code +
          " And cast(ts as money) = " + frame::RequireVersion(record.Attr("ts"), "Q7.Rembiz.0048"),
      "Q7.Rembiz.0048");
  answer.LoadXml("<success/>");
  return true;
}

bool CDistrict::RecordGet(host::Session&, db::Connection& cn, xml::Node& func,
                          xml::Document& answer) {
  // The grade's list is joined, not filtered: a district without a grade is still found.
  db::Recordset rs = cn.Execute(NormalizeSql(
      "SELECT EC_Position.strPositionCode AS strcode,EC_Position.strPositionName AS strname, "
      "EC_Position.strGradeID AS strtypecode, EC_Position.strUpCode AS strupcode, "
      "CAST(EC_Position.ts AS money) AS ts, EC_EISet_NUStand.strEIName AS strtypename FROM "
      "EC_Position LEFT OUTER JOIN EC_EISet_NUStand ON (EC_Position.strGradeID = "
      "EC_EISet_NUStand.strEICode AND EC_EISet_NUStand.intEICode = 2) WHERE "
      "EC_Position.strPositionCode=" +
      SqlText(FirstIn(func).Attr("strcode"))));
  if (rs.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0021");
  answer.LoadXml(frame::RowXml(rs));
  return true;
}

bool CDistrict::OutputGet(host::Session&, db::Connection& cn, xml::Node&, xml::Document& answer) {
  TreeOrderedRows rows("strcode");
  db::Recordset rs = cn.Execute(NormalizeSql(
      "select EC_Position.strpositioncode as strcode,EC_Position.strpositionname as strname,"
      "EC_Position.strgradeid as strtypecode,EC_EISet_NUStand.strEIName as strtypename,"
      "EC_Position.strupcode as strupcode from EC_Position left join EC_EISet_NUStand on "
      "(EC_EISet_NUStand.strEICode=EC_Position.strGradeID and EC_EISet_NUStand.intEICode=2) "
      "order by len(EC_Position.strpositioncode),EC_Position.strpositioncode desc"));
  for (; !rs.Eof(); rs.MoveNext()) {
    Attributes row;
    for (int i = 0; i < rs.FieldCount(); ++i) {
      row.emplace_back(rs.Field(i).name, rs.Value(i).ToText());
    }
    rows.Insert(rs.Text("strupcode"), std::move(row));
  }
  answer.LoadXml(rows.Xml());
  return true;
}

}  // namespace rembiz::basedata
