#include "host/bank_link.h"

#include <cstdio>

#include "host/messages.h"
#include "host/notices.h"
#include "host/service_sql.h"
#include "xml/escape.h"

namespace rembiz::host {
namespace {

// Text columns of a bill, as the bill record names them.
constexpr const char* kTextColumns[] = {
    "cNoteNo", "cExch_name", "cNatBankAccount", "cBankAccount", "cOperator", "cDigest",
    "cSSCode", "cDeptCode",  "cItem_Class",     "cItemCode",    "cPerson"};
constexpr const char* kNumberColumns[] = {"iAmount_f", "iAmount", "iExchRate"};

std::string FieldText(const db::Recordset& rs, std::string_view name) {
  return rs.HasField(name) ? rs.Text(name) : std::string();
}

std::string FieldNumber(const db::Recordset& rs, std::string_view name) {
  if (!rs.HasField(name)) return "null";
  const db::Variant& value = rs.Value(name);
  if (value.IsNumber()) return SqlMoney(value.ToDouble());
  auto number = db::ParseNumber(value.ToText());
  return number ? SqlMoney(*number) : std::string("null");
}

class TableBankLink : public BankLink {
 public:
  explicit TableBankLink(db::Connection& cn) : cn_(cn) {}

  bool ImportBill(db::Recordset& bills, Session& session, int bill_kind, xml::Document& result,
                  std::string& error) override {
    error.clear();
    if (!bills.IsOpen() || bills.RecordCount() == 0) {
      error = MessageText("Rembiz.Host.BankBillEmpty");
      return false;
    }
    // Every bill is checked before any is taken over.
    for (bills.MoveFirst(); !bills.Eof(); bills.MoveNext()) {
      std::string line = FieldText(bills, "iID");
      auto amount = db::ParseNumber(FieldText(bills, "iAmount_f"));
      if (line.empty() || !amount || *amount <= 0 || FieldText(bills, "cNatBankAccount").empty() ||
          FieldText(bills, "cBankAccount").empty()) {
        std::string name = FieldText(bills, "cNoteNo");
        error = MessageText("Rembiz.Host.BankBillIncomplete", "", name.empty() ? line : name);
        return false;
      }
      if (!cn_.Execute("select cPayID from Host_BankBill where bDeleted = 0 and iID = " +
                       SqlText(line))
               .Eof()) {
        error = MessageText("Rembiz.Host.BankBillExists", "", line);
        return false;
      }
    }
    std::string rows;
    for (bills.MoveFirst(); !bills.Eof(); bills.MoveNext()) {
      std::string pay_id = NextPayId(session);
      std::string line = FieldText(bills, "iID");
      std::string columns = "cPayID, cSysId, iBillKind, iID, dVouchDate, cImporter_Id";
      std::string date = FieldText(bills, "dVouchDate").substr(0, 10);
      std::string values = SqlText(pay_id) + ", N'EC', " + std::to_string(bill_kind) + ", " +
                           SqlText(line) + ", " + SqlTextOrNull(date) + ", " +
                           SqlTextOrNull(session.UserId());
      for (const char* column : kTextColumns) {
        columns += std::string(", ") + column;
        values += ", " + SqlTextOrNull(FieldText(bills, column));
      }
      for (const char* column : kNumberColumns) {
        columns += std::string(", ") + column;
        values += ", " + FieldNumber(bills, column);
      }
      cn_.Execute("insert into Host_BankBill (" + columns + ") values (" + values + ")");
      rows += "<z:row guid='" + xml::XmlEscape(line) + "' payid='" + xml::XmlEscape(pay_id) + "'/>";
    }
    result.LoadXml("<xml xmlns:z='#RowsetSchema'><in>" + rows + "</in></xml>");
    return true;
  }

  bool DeleteBill(std::string_view system_id, int bill_kind, std::string_view line_guid,
                  std::string_view pay_id, std::string& error) override {
    error.clear();
    db::Recordset bill = LiveBill(
        line_guid, pay_id,
        " and cSysId = " + SqlText(system_id) + " and iBillKind = " + std::to_string(bill_kind));
    if (bill.Eof()) {
      error = MessageText("Rembiz.Host.BankBillNotFound", "", pay_id);
      return false;
    }
    if (bill.Value("bConfirmed").ToBool()) {
      error = MessageText("Rembiz.Host.BankBillConfirmed", "", pay_id);
      return false;
    }
    cn_.Execute("update Host_BankBill set bDeleted = 1 where AutoID = " + bill.Text("AutoID"));
    return true;
  }

  bool WritePZID(std::string_view system_id, std::string_view line_guid, std::string_view pay_id,
                 std::string_view pz_id, std::string& error) override {
    error.clear();
    if (pay_id.empty()) return true;
    db::Recordset bill = LiveBill(line_guid, pay_id, " and cSysId = " + SqlText(system_id));
    if (bill.Eof()) {
      error = MessageText("Rembiz.Host.BankBillNotFound", "", pay_id);
      return false;
    }
    if (!bill.Value("bConfirmed").ToBool()) {
      error = MessageText("Rembiz.Host.BankBillNotConfirmed", "", pay_id);
      return false;
    }
    cn_.Execute("update Host_BankBill set cPZID = " + SqlTextOrNull(pz_id) +
                " where AutoID = " + bill.Text("AutoID"));
    return true;
  }

  bool DeletePZID(std::string_view line_guid, std::string_view pay_id, std::string_view pz_id,
                  std::string& error) override {
    error.clear();
    if (pay_id.empty()) return true;
    cn_.Execute("update Host_BankBill set cPZID = null where bDeleted = 0 and cPayID = " +
                SqlText(pay_id) + " and iID = " + SqlText(line_guid) +
                (pz_id.empty() ? std::string() : " and cPZID = " + SqlText(pz_id)));
    return true;
  }

  bool Confirm(std::string_view pay_id, std::string& error) override {
    error.clear();
    db::Recordset bill = cn_.Execute(
        "select AutoID, iID, bConfirmed from Host_BankBill where bDeleted = 0 and cPayID = " +
        SqlText(pay_id));
    if (bill.Eof()) {
      error = MessageText("Rembiz.Host.BankBillNotFound", "", pay_id);
      return false;
    }
    if (bill.Value("bConfirmed").ToBool()) return true;
    cn_.Execute(
        "update Host_BankBill set bConfirmed = 1, dConfirmTime = getdate() where AutoID = " +
        bill.Text("AutoID"));
    // The payment line is a loan row or a claim's settlement line; only one of them matches.
    std::string where =
        " where GUID = " + SqlText(bill.Text("iID")) + " and strPayID = " + SqlText(pay_id);
    cn_.Execute("update EC_LoanVouch_Sub set blnNetOK = 1" + where);
    cn_.Execute("update EC_BalanceInfo set blnNetOK = 1" + where);
    NoticePaid(cn_, bill.Text("iID"), "");
    return true;
  }

 private:
  db::Recordset LiveBill(std::string_view line_guid, std::string_view pay_id,
                         const std::string& more_conditions) {
    return cn_.Execute(
        "select AutoID, bConfirmed, cPZID from Host_BankBill where bDeleted = 0 and cPayID = " +
        SqlText(pay_id) + " and iID = " + SqlText(line_guid) + more_conditions);
  }

  // "NB" + the date of the hand-over + a serial over every bill ever taken over, so an id is
  // never handed out twice, withdrawn bills included.
  std::string NextPayId(Session& session) {
    db::Recordset rs = cn_.Execute("select isnull(max(AutoID), 0) + 1 as n from Host_BankBill");
    long long serial = rs.Eof() ? 1 : static_cast<long long>(rs.Value("n").ToInt());
    std::string date;
    for (char c : session.LoginDate()) {
      if (c >= '0' && c <= '9') date += c;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%06lld", serial);
    return "NB" + date + buf;
  }

  db::Connection& cn_;
};

}  // namespace

std::unique_ptr<BankLink> CreateBankLink(db::Connection& cn) {
  return std::make_unique<TableBankLink>(cn);
}

}  // namespace rembiz::host
