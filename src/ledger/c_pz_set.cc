// CPzSet: the settings ledger voucher generation reads: the account of an expense-side line by
// operation type, item and currency (EC_PzSet_IO), of a payment-side line by payment direction,
// settlement style, bank and currency (EC_PzSet_OP), and the options that decide which lines
// merge (AccInformation, system "EC", ids "2…"). One transaction per request: a save request
// is applied in document order, and a refused element undoes the whole request.
#include <initializer_list>
#include <span>
#include <string>

#include "db/text.h"
#include "frame/constraints.h"
#include "frame/convert.h"
#include "frame/frame.h"
#include "frame/registry.h"
#include "frame/request.h"
#include "host/errors.h"
#include "host/messages.h"

namespace rembiz::ledger {
namespace {

using frame::NormalizeSql;
using host::MessageText;

class CPzSet : public frame::FramedClass {
 public:
  bool GetIOKM(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool SaveIOKM(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool GetOPKM(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool SaveOPKM(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool GetHB(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);
  bool SaveHB(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);

 protected:
  const frame::FrameVariant& Variant() const override;
  std::span<const frame::OperationEntry> Operations() const override;
};

constexpr frame::FrameVariant kVariant{
    .class_name = "CPzSet",
    .task_code = "EC0108",
    .entry_task = frame::EntryTask::kAfterConnect,
    .transactions = frame::Transactions::kWholeRequest,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = false,
};

constexpr frame::OperationEntry kOperations[] = {
    frame::Op<&CPzSet::GetOPKM>("getopkm"), frame::Op<&CPzSet::SaveOPKM>("saveopkm"),
    frame::Op<&CPzSet::GetIOKM>("getiokm"), frame::Op<&CPzSet::SaveIOKM>("saveiokm"),
    frame::Op<&CPzSet::GetHB>("gethb"),     frame::Op<&CPzSet::SaveHB>("savehb"),
};

const frame::ClassRegistrar kRegistrar("Rembiz.CPzSet", [] { return std::make_unique<CPzSet>(); });

void AnswerRows(db::Connection& cn, const std::string& sql, xml::Document& answer) {
  db::Recordset rs = cn.Execute(NormalizeSql(sql));
  answer.LoadXml("<Rows>" + frame::RowXml(rs) + "</Rows>");
}

std::string IOListSql() {
  return "SELECT GUID, strOperatType, strOperatName, strIOItemCode, strIOItemName , strCurrency, "
         "strCode, strCodeName, blnModiDire, Cast(ts As money) As ts From dbo.vwECIOKM ORDER BY "
         "strOperatType, strIOItemCode";
}

// The payment direction is stored as its zh-CN word and shown in the user's language; intIOType
// gives it as the settlement rows do (1 receipt, 2 payment), the same in every language.
std::string OPListSql() {
  std::string payment = db::SqlText(MessageText("Q7.Rembiz.0186", "zh-CN"));
  return "SELECT GUID, case strOperatType when " + payment + " then " +
         db::SqlText(MessageText("Q7.Rembiz.0186")) + " else " +
         db::SqlText(MessageText("Q7.Rembiz.0185")) +
         " end As strOperatType, case strOperatType when " + payment +
         " then 2 else 1 end As intIOType, strBalanceType, strBalanceName, strBankID, cBName, "
         "cBAccount, strCurrency, strCode, strCodeName, Cast(ts As money) As ts From dbo.vwECOPKM "
         "ORDER BY strOperatType, strBalanceType, strBankID";
}

std::string HBListSql() {
  return "SELECT cName As strName, cValue As strValue From dbo.AccInformation WHERE (cSysID = "
         "'EC') AND (cID LIKE '2%') Order By cID";
}

// The settings' unique indexes, as the pages read them.
constexpr frame::ConstraintKey kIOConstraints[] = {{"IX_EC_PzSet_IO", "Q7.Rembiz.0075"}};
constexpr frame::ConstraintKey kOPConstraints[] = {{"IX_EC_PzSet_OP", "Q7.Rembiz.0076"}};

// Runs one statement of a save, which must touch exactly one row; a violation of the setting's
// unique index is reported as its message.
void SaveOne(db::Connection& cn, const std::string& sql, std::string_view failed_key,
             std::span<const frame::ConstraintKey> constraints) {
  int64_t affected = 0;
  frame::WithConstraintKeys(constraints, [&] { cn.Execute(NormalizeSql(sql), &affected); });
  if (affected != 1) Raise(kErrBusiness, failed_key);
}

// One setting of a save request: its edit mode, key and row version.
struct Edit {
  std::string mode;
  std::string guid;
  std::string ts;  // "" when the request's value is no number: it then matches no row
};

Edit EditOf(const xml::Node& element) {
  Edit edit{element.Attr("P"), db::SqlText(element.Attr("GUID")), ""};
  if (edit.mode != "1" && edit.mode != "2" && edit.mode != "3") {
    Raise(kErrBusiness, "Q7.Rembiz.0048");
  }
  edit.ts = frame::RowVersion(element.Attr("ts")).value_or("null");
  return edit;
}

// A code the setting names, when it names one, exists in `table`.
void RequireOptional(db::Connection& cn, const xml::Node& element, std::string_view name,
                     const std::string& table, const std::string& column,
                     std::string_view failed_key) {
  std::string code = element.Attr(name);
  if (!code.empty() && !frame::Exists(cn, "Select " + column + " From " + table + " Where " +
                                              column + " = " + db::SqlText(code))) {
    Raise(kErrBusiness, failed_key);
  }
}

// The account voucher generation posts the setting's lines to: one of the chart that takes
// postings, as the ledger voucher will require of it.
void RequirePostingAccount(db::Connection& cn, const xml::Node& element) {
  std::string code = element.Attr("strCode");
  if (code.empty()) Raise(kErrBusiness, "Rembiz.Ledger.AccountRequired");
  if (!frame::Exists(cn, "Select ccode From code Where be = 1 And ccode = " + db::SqlText(code))) {
    Raise(kErrBusiness, "Rembiz.Host.LedgerNotPosting", code);
  }
}

void CheckIO(db::Connection& cn, const xml::Node& element) {
  std::string type = element.Attr("strOperatType");
  if (type.empty()) Raise(kErrBusiness, "Q7.Rembiz.0011");
  if (!frame::Exists(cn,
                     "Select strCode From EC_OperationType Where strCode = " + db::SqlText(type))) {
    Raise(kErrBusiness, "Rembiz.Ledger.UnknownOperationType", type);
  }
  RequireOptional(cn, element, "strIOItemCode", "EC_IOItem", "strCode", "Q7.Rembiz.0220");
  RequireOptional(cn, element, "strCurrency", "foreigncurrency", "cexch_name", "Q7.Rembiz.0222");
  RequirePostingAccount(cn, element);
}

void CheckOP(db::Connection& cn, const xml::Node& element) {
  RequireOptional(cn, element, "strBalanceType", "SettleStyle", "cSSCode", "Q7.Rembiz.0250");
  RequireOptional(cn, element, "strBankID", "Bank", "cBCode", "Q7.Rembiz.0254");
  RequireOptional(cn, element, "strCurrency", "foreigncurrency", "cexch_name", "Q7.Rembiz.0222");
  RequirePostingAccount(cn, element);
}

// How the settings of one side are kept: the table, its columns, each element's SQL literals
// in their order (the first `key_count` are the setting's key), the checks of an element, and
// the message of a key that is there already.
struct Side {
  std::string table;
  std::vector<std::string> columns;
  size_t key_count;
  std::vector<std::string> (*values)(const xml::Node&);
  void (*check)(db::Connection&, const xml::Node&);
  std::string_view duplicate_key;
  std::span<const frame::ConstraintKey> constraints;
};

// The unique index does not see a key with an empty part (Null) twice; voucher generation reads
// an empty part as "any", so two such settings would leave it to chance which one it takes.
void RefuseDuplicate(db::Connection& cn, const Side& side, const std::vector<std::string>& literals,
                     const Edit& edit) {
  std::string sql = "Select GUID From " + side.table + " Where 1 = 1";
  for (size_t i = 0; i < side.key_count; ++i) {
    sql += " And IsNull(" + side.columns[i] +
           ", '') = " + (literals[i] == "null" ? std::string("''") : literals[i]);
  }
  if (edit.mode == "2") sql += " And GUID <> " + edit.guid;
  if (frame::Exists(cn, sql)) Raise(kErrBusiness, side.duplicate_key);
}

// Writes the settings of a save request into the side's table.
void SaveSettings(db::Connection& cn, const xml::Node& func, const Side& side) {
  const std::string& table = side.table;
  const std::vector<std::string>& columns = side.columns;
  std::span<const frame::ConstraintKey> constraints = side.constraints;
  for (const xml::Node& element : func.Child("in").Children()) {
    Edit edit = EditOf(element);
    if (edit.mode == "3") {
      SaveOne(
          cn,
          "Delete " + table + " Where GUID = " + edit.guid + " And Cast(ts As money) = " + edit.ts,
          "Q7.Rembiz.0047", constraints);
      continue;
    }
    std::vector<std::string> literals = side.values(element);
    side.check(cn, element);
    RefuseDuplicate(cn, side, literals, edit);
    if (edit.mode == "1") {
      std::string names, list;
      for (size_t i = 0; i < columns.size(); ++i) {
        names += (i ? "," : "") + columns[i];
        list += (i ? "," : "") + literals[i];
      }
      SaveOne(cn, "Insert Into " + table + " (" + names + ") Values (" + list + ")",
              "Q7.Rembiz.0046", constraints);
    } else {
      std::string sets;
      for (size_t i = 0; i < columns.size(); ++i) {
        sets += (i ? ", " : "") + columns[i] + " = " + literals[i];
      }
      SaveOne(cn,
              "Update " + table + " Set " + sets + " Where Cast(ts As money) = " + edit.ts +
                  " And GUID = " + edit.guid,
              "Q7.Rembiz.0047", constraints);
    }
  }
}

// A text column: quoted, Null when empty.
std::string Optional(const xml::Node& element, std::string_view name) {
  return frame::SqlValue(db::Variant(element.Attr(name)));
}

std::vector<std::string> IOValues(const xml::Node& element) {
  return {db::SqlText(element.Attr("strOperatType")), Optional(element, "strIOItemCode"),
          Optional(element, "strCurrency"), db::SqlText(element.Attr("strCode")),
          frame::ToBool(db::Variant(element.Attr("blnModiDire"))) ? "1" : "0"};
}

std::vector<std::string> OPValues(const xml::Node& element) {
  // The direction is stored as its zh-CN word. It is recognised by its word in either language
  // (settings are copied between sessions of both), and a word that is neither is refused.
  // Scripts and the pages may give the digit of the settlement rows instead (1 receipt, 2 payment).
  std::string given = db::Trim(element.Attr("strOperatType"));
  std::string kind;
  if (given == "1" || given == "2") {
    kind = MessageText(given == "1" ? "Q7.Rembiz.0185" : "Q7.Rembiz.0186", "zh-CN");
  }
  for (const char* key : {"Q7.Rembiz.0186", "Q7.Rembiz.0185"}) {
    for (const char* language : {"zh-CN", "en-US"}) {
      if (db::Lower(given) == db::Lower(MessageText(key, language))) {
        kind = MessageText(key, "zh-CN");
      }
    }
  }
  if (kind.empty()) Raise(kErrBusiness, "Rembiz.Ledger.UnknownDirection", given);
  return {db::SqlText(kind), Optional(element, "strBalanceType"), Optional(element, "strBankID"),
          Optional(element, "strCurrency"), db::SqlText(element.Attr("strCode"))};
}

// The first of the attributes that is there: an option is named as "gethb" answers it
// (strName, strValue), as the table holds it (cName, cValue) or as a plain pair (name, value).
std::string FirstAttr(const xml::Node& element, std::initializer_list<std::string_view> names) {
  for (std::string_view name : names) {
    if (element.HasAttr(name)) return element.Attr(name);
  }
  return "";
}

}  // namespace

const frame::FrameVariant& CPzSet::Variant() const { return kVariant; }
std::span<const frame::OperationEntry> CPzSet::Operations() const { return kOperations; }

bool CPzSet::GetIOKM(host::Session&, db::Connection& cn, xml::Node&, xml::Document& answer) {
  AnswerRows(cn, IOListSql(), answer);
  return true;
}

bool CPzSet::GetOPKM(host::Session&, db::Connection& cn, xml::Node&, xml::Document& answer) {
  AnswerRows(cn, OPListSql(), answer);
  return true;
}

bool CPzSet::GetHB(host::Session&, db::Connection& cn, xml::Node&, xml::Document& answer) {
  AnswerRows(cn, HBListSql(), answer);
  return true;
}

bool CPzSet::SaveIOKM(host::Session&, db::Connection& cn, xml::Node& func, xml::Document& answer) {
  SaveSettings(cn, func,
               {"EC_PzSet_IO",
                {"strOperatType", "strIOItemCode", "strCurrency", "strSubject", "blnModiDire"},
                3,
                IOValues,
                CheckIO,
                "Q7.Rembiz.0075",
                kIOConstraints});
  AnswerRows(cn, IOListSql(), answer);
  return true;
}

bool CPzSet::SaveOPKM(host::Session&, db::Connection& cn, xml::Node& func, xml::Document& answer) {
  SaveSettings(cn, func,
               {"EC_PzSet_OP",
                {"strOperatType", "strBalanceType", "strBankID", "strCurrency", "strSubject"},
                4,
                OPValues,
                CheckOP,
                "Q7.Rembiz.0076",
                kOPConstraints});
  AnswerRows(cn, OPListSql(), answer);
  return true;
}

bool CPzSet::SaveHB(host::Session&, db::Connection& cn, xml::Node& func, xml::Document& answer) {
  for (const xml::Node& option : func.Child("in").Children()) {
    std::string name = FirstAttr(option, {"strName", "cName", "name"});
    std::string value = FirstAttr(option, {"strValue", "cValue", "value"});
    int64_t affected = 0;
    try {
      cn.Execute(NormalizeSql("Update AccInformation Set cValue = " + db::SqlText(value) +
                              " Where cName = " + db::SqlText(name) +
                              " And cSysID = 'EC' And cID Like '2%'"),
                 &affected);
    } catch (const db::DbError&) {
      Raise(kErrBusiness, "Q7.Rembiz.0077");
    }
    // An option that is not there is no merge option.
    if (affected != 1) Raise(kErrBusiness, "Q7.Rembiz.0077");
  }
  AnswerRows(cn, HBListSql(), answer);
  return true;
}

}  // namespace rembiz::ledger
