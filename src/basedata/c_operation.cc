#include "basedata/c_operation.h"

#include <string>

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

using frame::NormalizeSql;

constexpr frame::FrameVariant kVariant{
    .class_name = "COperation",
    .task_code = "EC0102",
    .entry_task = frame::EntryTask::kAfterConnect,
    .transactions = frame::Transactions::kWholeRequest,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = false,
    // The pages have always read this class's error ids under the name of the options class.
    .error_class = "CChoice",
};

constexpr frame::OperationEntry kOperations[] = {
    frame::OwnErrors(frame::Op<&COperation::RecordEdit>("edit"), "recordEdit"),
    frame::OwnErrors(frame::Op<&COperation::RecordGet>("get"), "recordGet"),
};

constexpr frame::ConstraintKey kEditConstraints[] = {
    {"PK_EC_OPERATIONTYPE", "Q7.Rembiz.0049"},
    {"IX_EC_OperationType", "Q7.Rembiz.0050"},
    {"FK_EC_IOItem_EC_OperationType", "Q7.Rembiz.0051"},
    {"FK_EC_LoanVouch_EC_OperationType", "Q7.Rembiz.0052"},
    {"FK_EC_ExpenVouch_EC_OperationType", "Q7.Rembiz.0053"},
    {"FK_EC_PzSet_IO_EC_OperationType", "Q7.Rembiz.0054"},
};

const frame::ClassRegistrar kRegistrar("Rembiz.COperation",
                                       [] { return std::make_unique<COperation>(); });

// The voucher family a page names by its word (收入, 支出, 借款 in the session's language).
// Scripts may give the family's digit instead.
int FamilyOf(std::string_view type) {
  std::string text = db::Trim(type);
  if (text == "1" || text == "2" || text == "3") return text[0] - '0';
  if (text == host::MessageText("Q7.Rembiz.Web.0200")) return 1;
  if (text == host::MessageText("Q7.Rembiz.0005")) return 2;
  if (text == host::MessageText("Q7.Rembiz.Web.0637")) return 3;
  Raise(kErrBusiness, "Q7.Rembiz.0045");
}

// The template card of a family: "EC02" income claims, "EC03" expenditure claims, "EC01" loans.
std::string_view CardOf(int family) { return family == 1 ? "EC02" : family == 2 ? "EC03" : "EC01"; }

// A display (mode 0) or print (mode 1) template of the family's card; a type pointing elsewhere
// would leave its vouchers without a page.
void RequireTemplate(db::Connection& cn, const std::string& id, int family, int mode) {
  if (id.empty() ||
      !frame::Exists(cn, "Select vt_id From VoucherTemplates Where vt_id = " + db::SqlText(id) +
                             " And vt_cardnumber = " + db::SqlText(CardOf(family)) +
                             " And vt_templatemode = " + std::to_string(mode))) {
    Raise(kErrBusiness, "Rembiz.Master.TemplateUnknown");
  }
}

// The next code of a family: the highest one plus one, or the family followed by "01".
std::string NextCode(db::Connection& cn, int family) {
  std::string digit = std::to_string(family);
  db::Recordset top = cn.Execute(
      NormalizeSql("Select Top 1 strCode From EC_OperationType Where left(strCode,1) = '" + digit +
                   "' Order By Cast(strCode As int) Desc"));
  if (top.Eof()) return digit + "01";
  std::optional<double> highest = db::ParseNumber(top.Text("strCode"));
  std::string next = highest ? std::to_string(static_cast<int64_t>(*highest) + 1) : digit + "01";
  // "399" + 1 would leave the family.
  if (!next.starts_with(digit)) Raise(kErrBusiness, "Q7.Rembiz.0046");
  return next;
}

}  // namespace

const frame::FrameVariant& COperation::Variant() const { return kVariant; }
std::span<const frame::OperationEntry> COperation::Operations() const { return kOperations; }

bool COperation::RecordGet(host::Session&, db::Connection& cn, xml::Node&, xml::Document& answer) {
  db::Recordset rs = cn.Execute(NormalizeSql(
      "SELECT intType,strCode,strName,strShowID,strShowName,strPrintID ,strPrintName ,strLink,"
      "ts From vwECOperaType Where LocaleID=" +
      db::SqlText(host::CurrentLanguage()) + " Order By strCode"));
  answer.LoadXml("<Rows>" + frame::RowXml(rs) + "</Rows>");
  return true;
}

bool COperation::RecordEdit(host::Session&, db::Connection& cn, xml::Node& func, xml::Document&) {
  return frame::WithConstraintKeys(kEditConstraints, [&] {
    for (const xml::Node& line : func.Child("in").Children()) {
      int family = FamilyOf(line.Attr("intType"));
      std::string type = std::to_string(family);
      std::string kind = line.Attr("P");
      std::string code = line.Attr("strCode");
      if (kind == "3") {
        frame::ExecuteOne(cn,
                          "Delete EC_OperationType Where strCode = " + db::SqlText(code) +
                              " And Cast(ts As money) = " +
                              frame::RequireVersion(line.Attr("ts"), "Q7.Rembiz.0047"),
                          "Q7.Rembiz.0047");
        continue;
      }
      if (kind != "1" && kind != "2") Raise(kErrBusiness, "Q7.Rembiz.0048");

      std::string name = db::Trim(line.Attr("strName"));
      if (name.empty()) Raise(kErrBusiness, "Rembiz.Master.NameRequired");
      std::string show = db::Trim(line.Attr("strShowID"));
      std::string print = db::Trim(line.Attr("strPrintID"));
      RequireTemplate(cn, show, family, 0);
      RequireTemplate(cn, print, family, 1);
      std::string link = line.Attr("strLink");
      if (kind == "1") {
        frame::ExecuteOne(
            cn,
            "Insert Into EC_OperationType (intType,strCode,strName,strShowModel,strPrintModel,"
            "strLink) Values (" +
                type + "," + db::SqlText(NextCode(cn, family)) + "," + db::SqlText(name) + "," +
                db::SqlText(show) + "," + db::SqlText(print) + "," +
                (link.empty() ? "Null)" : db::SqlText(link) + ")"),
            "Q7.Rembiz.0046");
      } else {
        // The first character of a code is its family, which vouchers and items rely on.
        if (!code.starts_with(type)) Raise(kErrBusiness, "Q7.Rembiz.0045");
        frame::ExecuteOne(
            cn,
            "Update EC_OperationType Set intType = " + type + ",strName = " + db::SqlText(name) +
                ",strShowModel = " + db::SqlText(show) + ",strPrintModel = " + db::SqlText(print) +
                "," + (link.empty() ? "strLink = Null " : "strLink = " + db::SqlText(link) + " ") +
                "Where Cast(ts As money) = " +
                frame::RequireVersion(line.Attr("ts"), "Q7.Rembiz.0047") +
                " And strCode = " + db::SqlText(code),
            "Q7.Rembiz.0047");
      }
    }
    return true;
  });
}

}  // namespace rembiz::basedata
