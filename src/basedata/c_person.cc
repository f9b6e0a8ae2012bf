#include "basedata/c_person.h"

#include <string>
#include <vector>

#include "basedata/code_levels.h"
#include "basedata/grades.h"
#include "basedata/tree_answers.h"
#include "db/text.h"
#include "frame/constraints.h"
#include "frame/convert.h"
#include "frame/maintenance.h"
#include "frame/registry.h"
#include "frame/request.h"
#include "frame/sql_helpers.h"
#include "host/errors.h"
#include "host/messages.h"

namespace rembiz::basedata {
namespace {

using db::SqlText;
using frame::Exists;
using frame::InText;
using frame::NormalizeSql;

constexpr frame::FrameVariant kVariant{
    .class_name = "CPerson",
    .task_code = "EC0105",
    .entry_task = frame::EntryTask::kAfterConnect,
    .transactions = frame::Transactions::kWholeRequest,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = false,
};

using frame::Op;
using frame::OwnErrors;

constexpr frame::OperationEntry kOperations[] = {
    OwnErrors(Op<&CPerson::GetDepart>("getdepart"), "recordGet"),
    OwnErrors(Op<&CPerson::GetPerList>("getperlist"), "recordGet"),
    OwnErrors(Op<&CPerson::GetPerBas>("getperbas"), "recordGet"),
    OwnErrors(Op<&CPerson::SavePerBas>("saveperbas"), "recordEdit"),
    OwnErrors(Op<&CPerson::GetPerAcc>("getperacc"), "recordGet"),
    OwnErrors(Op<&CPerson::SavePerAcc>("saveperacc"), "recordEdit"),
    OwnErrors(Op<&CPerson::GetPerson>("getperson"), "recordGet"),
    OwnErrors(Op<&CPerson::SavePerson>("saveperson"), "recordEdit"),
    OwnErrors(Op<&CPerson::OutputGet>("outputget"), "outputGet"),
};

// Person grades are dimension 1 of the standards.
constexpr int kPersonGrade = 1;
// A settings row created meanwhile by someone else makes the insert collide.
constexpr frame::ConstraintKey kGradeConstraints[] = {{"PK_EC_PersonCtrl", "Q7.Rembiz.0117"}};
constexpr frame::ConstraintKey kAccountConstraints[] = {{"IX_EC_PersonAcc", "Q7.Rembiz.0119"}};
constexpr frame::ConstraintKey kLimitConstraints[] = {{"PK_EC_PersonCtrl", "Q7.Rembiz.0112"}};

const frame::ClassRegistrar kRegistrar("Rembiz.CPerson",
                                       [] { return std::make_unique<CPerson>(); });

// One loan limit: its columns in EC_PersonCtrl, its label and the key of a missing value.
struct Limit {
  std::string_view flag, value, type, label_key, missing_key;
  bool whole;  // days and numbers of loans are whole numbers
};
constexpr Limit kLimits[] = {
    {"blnDay", "intDay", "strDayCtrType", "Q7.Rembiz.0121", "Q7.Rembiz.0123", true},
    {"blnNumber", "intNumber", "strNumCtrType", "Q7.Rembiz.Web.0785", "Q7.Rembiz.0124", true},
    {"blnMoney", "intMoney", "strMonCtrType", "Q7.Rembiz.Web.0786", "Q7.Rembiz.0125", false},
};

// Control types as the person pages show them: "0" with the text of "Q7.Rembiz.0028", "1" with
// that of "Q7.Rembiz.0230"; a saved row is "1" when its text is the latter. The loan save
// enforces type "1" (see the loan checks); the pages' labels are kept as they have always been.
std::string ControlTypeText(std::string_view type) {
  return host::MessageText(db::Trim(type) == "1" ? "Q7.Rembiz.0230" : "Q7.Rembiz.0028");
}
std::string ControlTypeOf(std::string_view text) {
  std::string trimmed = db::Trim(text);
  bool one = trimmed == host::MessageText("Q7.Rembiz.0230") ||
             trimmed == host::MessageText("Q7.Rembiz.0230", "zh-CN");
  return one ? "1" : "0";
}

// A row-authority list for "In (…)": "1=2" (nothing allowed) becomes a list matching nothing.
std::string InList(const std::string& list) { return list == "1=2" ? "N''" : list; }

void RequirePerson(db::Connection& cn, const std::string& code) {
  if (!Exists(cn, "select cpersonname from person where cpersoncode=" + SqlText(code))) {
    Raise(kErrBusiness, "Q7.Rembiz.0072");
  }
}

// A settings row without grade and limits says nothing: it goes.
void RemoveEmptySettings(db::Connection& cn, const std::string& code) {
  cn.Execute(NormalizeSql(
      "delete from EC_PersonCtrl where isnull(blnday,0)=0 and isnull(blnnumber,0)=0 and "
      "isnull(blnmoney,0)=0 and strgradeid is null and strpersoncode=" +
      SqlText(code)));
}

// Open loans of a person in home currency, as the loan save adds them up.
constexpr const char* kOpenAmountSql =
    "SELECT isnull(sum(case isnull(iotherused,0) when -1 then isnull(dblmoney,0)-"
    "isnull(dblreturn,0) else (case isnull(bcal,0) when 1 then (isnull(dblmoney,0)-"
    "isnull(dblreturn,0))*isnull(fltrate,1) else (isnull(dblmoney,0)-isnull(dblreturn,0))/"
    "isnull(fltrate,1) end) end),0) AS A FROM EC_LoanVouch left join foreigncurrency on "
    "EC_LoanVouch.strbill=foreigncurrency.cexch_name WHERE (blnSettle = 0) And (strLoanID = ";

std::string FirstValue(db::Connection& cn, const std::string& sql) {
  db::Recordset rs = cn.Execute(NormalizeSql(sql));
  std::string value = rs.Eof() ? "" : rs.Value(0).ToText();
  return value.empty() ? "0" : value;
}

}  // namespace

const frame::FrameVariant& CPerson::Variant() const { return kVariant; }
std::span<const frame::OperationEntry> CPerson::Operations() const { return kOperations; }

// ---------------------------------------------------------------------------------------------
// Reads

bool CPerson::GetDepart(host::Session& session, db::Connection& cn, xml::Node&,
                        xml::Document& answer) {
  std::string list = frame::RowAuthString(session, "department");
  std::string sql = "SELECT cDepCode, cDepName, iDepGrade, bDepEnd From Department ";
  if (list == "1=2") {
    sql += "Where 1=2 ";
  } else if (!list.empty()) {
    sql += "Where cDepCode In (" + list + ") ";
  }
  db::Recordset rs = cn.Execute(NormalizeSql(sql + "Order By cDepCode"));
  RowTree tree("<list x='10' y='50' w='200' h='380' f='14'></list>");
  // In code order a department's parent is the nearest department before it whose code its
  // own code begins with.
  std::vector<std::string> open;
  for (; !rs.Eof(); rs.MoveNext()) {
    std::string code = rs.Text("cDepCode");
    while (!open.empty() && !code.starts_with(open.back())) open.pop_back();
    Attributes leaf;
    if (rs.Value("bDepEnd").ToBool()) leaf.emplace_back("leaf", "1");
    tree.Add(open.empty() ? "" : open.back(), code, rs.Text("cDepName"), leaf);
    open.push_back(code);
  }
  answer.LoadXml(tree.Xml());
  return true;
}

bool CPerson::GetPerList(host::Session& session, db::Connection& cn, xml::Node& func,
                         xml::Document& answer) {
  std::string department = InText(func, "strDepCode");
  std::string persons = frame::RowAuthString(session, "person");
  std::string sql =
      "SELECT Department.cDepCode, Department.cDepName, Person.cPersonCode, Person.cPersonName "
      "FROM Department RIGHT OUTER JOIN Person ON Department.cDepCode = Person.cDepCode Where ";
  if (!persons.empty()) sql += "Person.cPersonCode In (" + InList(persons) + ") And ";
  sql += "left(Department.cDepCode," + std::to_string(CodeLength(department)) +
         ")= " + SqlText(department) + " ORDER BY Person.cPersonCode";
  db::Recordset rs = cn.Execute(NormalizeSql(sql));
  answer.LoadXml("<Rows>" + frame::RowXml(rs) + "</Rows>");
  return true;
}

bool CPerson::GetPerBas(host::Session&, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  db::Recordset rs = cn.Execute(NormalizeSql(
      "SELECT Person.cPersonCode AS strPersonCode, EC_PersonCtrl.strGradeID, "
      "Cast(EC_PersonCtrl.ts As money) As ts, EC_EISet_NUStand.strEIName, Person.cPersonName, "
      "Department.cDepName, Person.cPersonEmail, Person.cPersonPhone FROM Person LEFT JOIN "
      "EC_PersonCtrl ON EC_PersonCtrl.strPersonCode = Person.cPersonCode LEFT JOIN "
      "EC_EISet_NUStand ON (EC_EISet_NUStand.strEICode = EC_PersonCtrl.strGradeID AND "
      "EC_EISet_NUStand.intEICode = 1) LEFT JOIN Department ON Department.cDepCode = "
      "Person.cDepCode WHERE Person.cPersonCode = " +
      SqlText(InText(func, "strPersonCode"))));
  if (rs.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0116");
  answer.LoadXml(frame::RowXml(rs));
  return true;
}

bool CPerson::GetPerAcc(host::Session&, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  db::Recordset rs = cn.Execute(NormalizeSql(
      "SELECT strPersonCode, strBankAcc, strBank, blnDefault, Cast(ts As money) As ts ,GUID "
      "From dbo.EC_PersonAcc WHERE (strPersonCode = " +
      SqlText(InText(func, "strPersonCode")) + ") Order By strBank"));
  answer.LoadXml("<Rows>" + frame::RowXml(rs) + "</Rows>");
  return true;
}

bool CPerson::GetPerson(host::Session& session, db::Connection& cn, xml::Node& func,
                        xml::Document& answer) {
  std::string code = InText(func, "strPersonCode");
  if (code.empty()) Raise(kErrBusiness, "Q7.Rembiz.0120");
  db::Recordset rs = cn.Execute(NormalizeSql(
      "SELECT blnDay,intDay,strDayCtrType,blnNumber,intNumber,strNumCtrType,blnMoney,intMoney,"
      "strMonCtrType,Cast(ts As money) As ts FROM EC_PersonCtrl Where strPersonCode = " +
      SqlText(code)));
  std::vector<std::string> in_use;
  if (func.SelectSingleNode(".//Show")) {
    // The age of open loans counts up to the operator's business date.
    std::string person = SqlText(code) + ")";
    in_use.push_back(FirstValue(
        cn, "SELECT MAX(DATEDIFF([day], dtLoanDate, " + SqlText(session.LoginDate()) +
                ")) AS A FROM EC_LoanVouch WHERE (blnSettle = 0) And (strLoanID = " + person));
    in_use.push_back(FirstValue(
        cn,
        "SELECT COUNT(*) AS A FROM EC_LoanVouch WHERE (blnSettle = 0) And (strLoanID = " + person));
    in_use.push_back(FirstValue(cn, kOpenAmountSql + person));
  }
  std::string out = "<Rows ts='" + (rs.Eof() ? "" : rs.Text("ts")) + "'>";
  for (size_t i = 0; i < std::size(kLimits); ++i) {
    const Limit& limit = kLimits[i];
    bool on = !rs.Eof() && rs.Value(limit.flag).ToBool();
    out += "<row blnCtrl='" + std::string(on ? "1" : "0") + "' strCtrl='" +
           frame::XmlEscape(host::MessageText(limit.label_key)) + "'  dblMoney='" +
           (rs.Eof() ? "" : frame::XmlEscape(rs.Text(limit.value))) + "' strCtrlType='" +
           (rs.Eof() ? "" : frame::XmlEscape(ControlTypeText(rs.Text(limit.type)))) + "'";
    if (!in_use.empty()) out += " dblMoney1='" + in_use[i] + "'";
    out += " />";
  }
  answer.LoadXml(out + "</Rows>");
  return true;
}

// ---------------------------------------------------------------------------------------------
// Saves

bool CPerson::SavePerBas(host::Session&, db::Connection& cn, xml::Node& func, xml::Document&) {
  return frame::WithConstraintKeys(kGradeConstraints, [&] {
    std::string code = InText(func, "strPersonCode");
    RequirePerson(cn, code);
    std::string grade = GradeValue(cn, kPersonGrade, InText(func, "strGradeID"));
    std::string ts = InText(func, "ts");
    if (ts.empty()) {
      frame::ExecuteOne(cn,
                        "Insert Into EC_PersonCtrl (strPersonCode,strGradeID) Values (" +
                            SqlText(code) + "," + grade + ")",
                        "Q7.Rembiz.0046");
    } else {
      frame::ExecuteOne(
          cn,
          "Update EC_PersonCtrl Set strGradeID = " + grade +
              " Where strPersonCode = " + SqlText(code) +
              " And Cast(ts As money) = " + frame::RequireVersion(ts, "Q7.Rembiz.0117"),
          "Q7.Rembiz.0117");
    }
    RemoveEmptySettings(cn, code);
    return true;
  });
}

bool CPerson::SavePerAcc(host::Session&, db::Connection& cn, xml::Node& func, xml::Document&) {
  return frame::WithConstraintKeys(kAccountConstraints, [&] {
    std::string code = InText(func, "strPersonCode");
    RequirePerson(cn, code);
    std::string person = SqlText(code);
    for (const xml::Node& line : func.Child("in").Children()) {
      if (line.Name() == "strPersonCode") continue;
      std::string kind = line.Attr("P");
      std::string is_default = frame::ToBool(db::Variant(line.Attr("blnDefault"))) ? "1" : "0";
      if (kind == "1" || kind == "2") {
        std::string account =
            SqlText(frame::RequireText(line, "strBankAcc", "Rembiz.Master.BankAccountRequired"));
        std::string bank = SqlText(line.Attr("strBank"));
        if (kind == "1") {
          frame::ExecuteOne(cn,
                            "Insert Into EC_PersonAcc (strPersonCode, strBankAcc, strBank, "
                            "blnDefault) Values (" +
                                person + "," + account + "," + bank + "," + is_default + ")",
                            "Q7.Rembiz.0046");
          continue;
        }
        frame::ExecuteOne(
            cn,
            "Update EC_PersonAcc Set blnDefault = " + is_default + ",strBankAcc = " + account +
                ",strBank = " + bank + " Where Cast(ts As money) = " +
                frame::RequireVersion(line.Attr("ts"), "Q7.Rembiz.0047") +
                " And GUID = " + SqlText(line.Attr("GUID")) + " And strPersonCode = " + person,
            "Q7.Rembiz.0047");
      } else if (kind == "3") {
        frame::ExecuteOne(cn,
                          "Delete EC_PersonAcc Where GUID = " + SqlText(line.Attr("GUID")) +
                              " And Cast(ts As money) = " +
                              frame::RequireVersion(line.Attr("ts"), "Q7.Rembiz.0047") +
                              " And strPersonCode = " + person,
                          "Q7.Rembiz.0047");
      } else {
        Raise(kErrBusiness, "Q7.Rembiz.0048");
      }
    }
    db::Recordset defaults = cn.Execute(
        NormalizeSql("Select Count(*) As A From EC_PersonAcc Where strPersonCode = " + person +
                     " And blnDefault = 1"));
    if (defaults.Value("A").ToInt() > 1) Raise(kErrBusiness, "Q7.Rembiz.0118");
    return true;
  });
}

bool CPerson::SavePerson(host::Session&, db::Connection& cn, xml::Node& func, xml::Document&) {
  return frame::WithConstraintKeys(kLimitConstraints, [&] {
    std::string code = InText(func, "strPersonCode");
    RequirePerson(cn, code);
    xml::NodeList rows = func.SelectNodes("in//row");
    if (rows.size() != std::size(kLimits)) {
      throw ComError(db::kErrInvalidRequest,
                     "Invalid request: saveperson takes three limit rows (days, number, amount).",
                     "Rembiz");
    }
    // The version travels on the rows' list, as getperson answers it, or on the first row.
    std::string ts = rows[0].Parent().Attr("ts");
    if (ts.empty()) ts = rows[0].Attr("ts");
    std::string columns, values, assignments;
    for (size_t i = 0; i < rows.size(); ++i) {
      const Limit& limit = kLimits[i];
      std::string flag = "0", value = "Null", type = "0";
      if (frame::ToBool(db::Variant(rows[i].Attr("blnCtrl")))) {
        std::optional<double> number = db::ParseNumber(db::Trim(rows[i].Attr("dblMoney")));
        if (!number || *number < 0 ||
            (limit.whole && *number != static_cast<double>(static_cast<int64_t>(*number)))) {
          Raise(kErrBusiness, limit.missing_key);
        }
        flag = "1";
        value = db::DoubleText(*number);
        type = ControlTypeOf(rows[i].Attr("strCtrlType"));
      }
      for (const auto& [column, text] : {std::pair{limit.flag, flag}, std::pair{limit.value, value},
                                         std::pair{limit.type, SqlText(type)}}) {
        columns += "," + std::string(column);
        values += "," + text;
        assignments += (assignments.empty() ? "" : ",") + std::string(column) + " = " + text;
      }
    }
    if (ts.empty()) {
      frame::ExecuteOne(cn,
                        "Insert Into EC_PersonCtrl (strPersonCode" + columns + ") Values (" +
                            SqlText(code) + values + ")",
                        "Q7.Rembiz.0046");
    } else {
      frame::ExecuteOne(
          cn,
          "Update EC_PersonCtrl Set " + assignments + " Where strPersonCode = " + SqlText(code) +
              " And Cast(ts As money) = " + frame::RequireVersion(ts, "Q7.Rembiz.0112"),
          "Q7.Rembiz.0112");
    }
    RemoveEmptySettings(cn, code);
    return true;
  });
}

bool CPerson::OutputGet(host::Session& session, db::Connection& cn, xml::Node&,
                        xml::Document& answer) {
  std::string where;
  std::string persons = frame::RowAuthString(session, "person");
  std::string departments = frame::RowAuthString(session, "department");
  if (!persons.empty()) {
    where = " Where Person.cPersonCode In (" + InList(persons) + ") ";
  } else if (!departments.empty()) {
    where = " Where Department.cDepCode In (" + InList(departments) + ") ";
  }
  // The account shown is the default one, or the first entered when none is.
  db::Recordset rs = cn.Execute(NormalizeSql(
      "SELECT Person.cPersonCode, Person.cPersonName, Department.cDepName, "
      "EC_EISet_NUStand.strEIName, Person.cPersonPhone, Person.cPersonEmail, "
      "EC_PersonAcc.strBank, EC_PersonAcc.strBankAcc, EC_PersonCtrl.blnDay, "
      "EC_PersonCtrl.intDay, EC_PersonCtrl.strDayCtrType, EC_PersonCtrl.blnNumber, "
      "EC_PersonCtrl.intNumber, EC_PersonCtrl.strNumCtrType, EC_PersonCtrl.blnMoney, "
      "EC_PersonCtrl.intMoney, EC_PersonCtrl.strMonCtrType FROM Person LEFT JOIN Department ON "
      "Department.cDepCode = Person.cDepCode LEFT JOIN EC_PersonCtrl ON "
      "EC_PersonCtrl.strPersonCode = Person.cPersonCode LEFT JOIN EC_EISet_NUStand ON "
      "(EC_EISet_NUStand.strEICode = EC_PersonCtrl.strGradeID AND EC_EISet_NUStand.intEICode "
      "= 1) LEFT JOIN EC_PersonAcc ON EC_PersonAcc.GUID = (SELECT TOP 1 a.GUID FROM "
      "EC_PersonAcc a WHERE a.strPersonCode = Person.cPersonCode ORDER BY isnull(a.blnDefault,0) "
      "DESC, a.GUID)" +
      where + " ORDER BY Person.cPersonCode"));
  std::string yes = host::MessageText("Q7.Rembiz.0022");
  std::string no = host::MessageText("Q7.Rembiz.0023");
  std::string out = "<rows>";
  for (; !rs.Eof(); rs.MoveNext()) {
    Attributes row = {{"cpername", rs.Text("cPersonName")},  {"cdepname", rs.Text("cDepName")},
                      {"clevel", rs.Text("strEIName")},      {"clink", rs.Text("cPersonPhone")},
                      {"caddress", rs.Text("cPersonEmail")}, {"cbank", rs.Text("strBank")},
                      {"caccount", rs.Text("strBankAcc")}};
    static constexpr std::string_view kNames[][3] = {
        {"bdaycontrol", "idaymost", "cdaystyle"},
        {"bnumcontrol", "inumost", "cnumstyle"},
        {"bmoneycontrol", "imoneymost", "cmoneystyle"}};
    for (size_t i = 0; i < std::size(kLimits); ++i) {
      bool on = rs.Value(kLimits[i].flag).ToBool();
      row.emplace_back(kNames[i][0], on ? yes : no);
      row.emplace_back(kNames[i][1], rs.Text(kLimits[i].value));
      row.emplace_back(kNames[i][2], on ? ControlTypeText(rs.Text(kLimits[i].type)) : "");
    }
    row.emplace_back("cpercode", rs.Text("cPersonCode"));
    out += RowElement(row);
  }
  answer.LoadXml(out + "</rows>");
  return true;
}

}  // namespace rembiz::basedata
