#include "basedata/c_choice.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "basedata/code_levels.h"
#include "db/text.h"
#include "frame/convert.h"
#include "frame/maintenance.h"
#include "frame/registry.h"
#include "frame/request.h"
#include "host/errors.h"

namespace rembiz::basedata {
namespace {

using frame::Exists;
using frame::NormalizeSql;

constexpr frame::FrameVariant kVariant{
    .class_name = "CChoice",
    .task_code = "",
    .entry_task = frame::EntryTask::kPerOperation,
    .transactions = frame::Transactions::kNone,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = false,
};

constexpr frame::OperationEntry kOperations[] = {
    frame::OwnErrors(frame::Op<&CChoice::RecordEdit>("edit", frame::kOwnTransaction, "EC010102"),
                     "recordEdit"),
    frame::OwnErrors(frame::Op<&CChoice::RecordGet>("get", 0, "EC010101"), "recordGet"),
};

const frame::ClassRegistrar kRegistrar("Rembiz.CChoice",
                                       [] { return std::make_unique<CChoice>(); });

enum class Kind { kFlag, kDays, kLevels };

struct Option {
  std::string_view id;    // cID
  std::string_view name;  // cName, the attribute of the request
  Kind kind;
  std::string_view bad_number_key = {};  // kDays
};

// In the order the rules are applied.
constexpr Option kOptions[] = {
    {"101", "blnBudCtrl", Kind::kFlag},
    {"102", "intExpireDays", Kind::kDays, "Q7.Rembiz.0188"},
    {"103", "intAlertDays", Kind::kDays, "Q7.Rembiz.0189"},
    {"104", "blnAutoAlert", Kind::kFlag},
    {"105", "blnSubmAudit", Kind::kFlag},
    {"106", "strIOLevel", Kind::kLevels},
    {"107", "strZeroLevel", Kind::kLevels},
    {"108", "blnModiStand", Kind::kFlag},
    {"109", "blnModiFZHS", Kind::kFlag},
    {"110", "blnInputBud", Kind::kFlag},
};

// Flags are stored "true" or "false"; the budget and submission code compare those words.
std::string FlagValue(const Option& option, std::string_view text) {
  std::string lower = db::Lower(db::Trim(text));
  if (lower == "true" || lower == "1" || lower == "-1") return "true";
  if (lower == "false" || lower == "0") return "false";
  Raise(kErrBusiness, "Rembiz.Master.OptionNotFlag", option.name);
}

std::string DaysValue(const Option& option, std::string_view text) {
  std::string trimmed = db::Trim(text);
  bool digits = !trimmed.empty() && trimmed.size() <= 9;
  for (char c : trimmed) digits = digits && c >= '0' && c <= '9';
  if (!digits) Raise(kErrBusiness, option.bad_number_key);
  return std::to_string(std::stoll(trimmed));
}

std::vector<std::string> Codes(db::Connection& cn, const std::string& sql) {
  std::vector<std::string> codes;
  for (db::Recordset rs = cn.Execute(NormalizeSql(sql)); !rs.Eof(); rs.MoveNext()) {
    codes.push_back(rs.Value(0).ToText());
  }
  return codes;
}

// New code levels of items (106) or districts (107), checked against the codes there are.
std::string LevelsValue(db::Connection& cn, const Option& option, std::string_view text,
                        std::string_view old_text) {
  std::string trimmed = db::Trim(text);
  if (trimmed.size() > 5) Raise(kErrBusiness, "Q7.Rembiz.0191");
  std::optional<CodeLevels> levels = CodeLevels::Parse(trimmed);
  if (!levels) Raise(kErrBusiness, "Rembiz.Master.LevelDigits");
  bool items = option.id == "106";
  std::vector<std::string> codes = items ? Codes(cn, "select strCode from EC_IOItem")
                                         : Codes(cn, "select strPositionCode from EC_Position");
  static constexpr std::string_view kItemKeys[] = {"Q7.Rembiz.0192", "Q7.Rembiz.0193",
                                                   "Q7.Rembiz.0194"};
  static constexpr std::string_view kDistrictKeys[] = {"Q7.Rembiz.0197", "Q7.Rembiz.0198",
                                                       "Q7.Rembiz.0199"};
  const std::string_view* keys = items ? kItemKeys : kDistrictKeys;
  switch (CheckCodes(*levels, codes, items)) {
    case LevelFit::kTooLong:
      Raise(kErrBusiness, keys[0]);
    case LevelFit::kNoLevel:
      Raise(kErrBusiness, keys[1]);
    case LevelFit::kNoParent:
      Raise(kErrBusiness, keys[2]);
    case LevelFit::kFits:
      break;
  }
  if (items) {
    // The first level is the root character "1" or "2"; the levels existing items use keep
    // their lengths.
    bool changed = levels->Length(1) != 1;
    std::optional<CodeLevels> old_levels = CodeLevels::Parse(old_text);
    if (old_levels && !changed) {
      size_t used = 1;
      for (const std::string& code : codes) used = std::max(used, old_levels->LevelOf(code));
      for (size_t level = 1; level <= used && !changed; ++level) {
        changed = level > levels->Count() || level > old_levels->Count() ||
                  levels->Length(level) != old_levels->Length(level);
      }
    }
    if (changed) Raise(kErrBusiness, "Q7.Rembiz.0195");
  }
  return trimmed;
}

// The rule of a flag that may not change while vouchers depend on it.
void CheckFlagChange(db::Connection& cn, const Option& option) {
  if (option.id == "101") {
    frame::RefuseIfFound(cn, "Select Top 1 strVouchID From EC_LoanVouch Where blnBegin = 0",
                         "Q7.Rembiz.0187");
    frame::RefuseIfFound(cn, "Select Top 1 strVouchID From EC_ExpenVouch", "Q7.Rembiz.0330");
  } else if (option.id == "105") {
    frame::RefuseIfFound(cn, "Select TOP 1 AutoID From EC_LoanVouch Where blnAudi = 0",
                         "Q7.Rembiz.0190");
    frame::RefuseIfFound(cn, "Select TOP 1 AutoID From EC_ExpenVouch Where blnAudi = 0",
                         "Q7.Rembiz.0190");
  } else if (option.id == "110") {
    // Budgets entered here are tied to the vouchers that carry a budget item.
    frame::RefuseIfFound(
        cn, "Select Top 1 AutoID From EC_LoanVouch Where isnull(strBudItemID,'') <> ''",
        "Q7.Rembiz.0200");
    frame::RefuseIfFound(
        cn, "Select Top 1 AutoID From EC_ExpenVouch Where isnull(strBudItemID,'') <> ''",
        "Q7.Rembiz.0200");
  }
}

}  // namespace

const frame::FrameVariant& CChoice::Variant() const { return kVariant; }
std::span<const frame::OperationEntry> CChoice::Operations() const { return kOperations; }

bool CChoice::RecordGet(host::Session&, db::Connection& cn, xml::Node&, xml::Document& answer) {
  db::Recordset rs = cn.Execute(NormalizeSql(
      "SELECT cName As strName, cValue As strValue From dbo.AccInformation WHERE (cSysID = "
      "'EC') AND (cID LIKE '1%') ORDER BY cID"));
  std::string head = frame::HeadXml(rs);
  if (head.empty()) Raise(kErrBusiness, "Q7.Rembiz.0055");
  answer.LoadXml(head);
  return true;
}

bool CChoice::RecordEdit(host::Session&, db::Connection& cn, xml::Node& func, xml::Document&) {
  xml::Node in = func.Child("in");
  for (const auto& [name, value] : in.Attributes()) {
    bool known = false;
    for (const Option& option : kOptions) known = known || option.name == name;
    if (!known) Raise(kErrBusiness, "Rembiz.Master.OptionUnknown", name);
  }
  std::map<std::string, std::string, std::less<>> current;
  for (db::Recordset rs = cn.Execute(NormalizeSql(
           "SELECT cID, isnull(cValue,'') as cValue From dbo.AccInformation WHERE (cSysID = "
           "'EC') AND (cID LIKE '1%') ORDER BY cID"));
       !rs.Eof(); rs.MoveNext()) {
    current[rs.Text("cID")] = rs.Text("cValue");
  }

  std::vector<std::string> updates;
  for (const Option& option : kOptions) {
    if (!in.HasAttr(option.name)) continue;
    std::string text = in.Attr(option.name);
    std::string old = current[std::string(option.id)];
    std::string value;
    switch (option.kind) {
      case Kind::kFlag:
        value = FlagValue(option, text);
        if (value != db::Lower(db::Trim(old))) CheckFlagChange(cn, option);
        break;
      case Kind::kDays:
        value = DaysValue(option, text);
        break;
      case Kind::kLevels:
        value =
            db::Trim(text) == db::Trim(old) ? db::Trim(old) : LevelsValue(cn, option, text, old);
        break;
    }
    updates.push_back("Update AccInformation Set cValue = " + db::SqlText(value) +
                      " Where cSysID = 'EC' And cID = '" + std::string(option.id) + "'");
  }
  // Every rule has passed: the accepted options are written together.
  for (const std::string& sql : updates) frame::ExecuteOne(cn, sql, "Q7.Rembiz.0055");
  return true;
}

}  // namespace rembiz::basedata
