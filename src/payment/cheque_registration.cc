#include "payment/cheque_registration.h"

#include "db/variant.h"
#include "frame/convert.h"
#include "host/cheque_book.h"
#include "host/errors.h"
#include "host/messages.h"

namespace rembiz::payment {
namespace {

// Closes the ledger database whichever way the registration ends.
class OpenLedger {
 public:
  explicit OpenLedger(db::Connection& cn) { database_.openDatabase(cn); }
  ~OpenLedger() { database_.oclose(); }
  OpenLedger(const OpenLedger&) = delete;
  OpenLedger& operator=(const OpenLedger&) = delete;
  host::LedgerDb& Database() { return database_; }

 private:
  host::LedgerDb database_;
};

void RaiseIfMessage(const host::ChequeBook& book) {
  if (!book.zpmsg().empty()) throw ComError(kErrBusiness, book.zpmsg(), "Rembiz");
}

std::string Attribute(std::string_view name, std::string_view value) {
  return " " + std::string(name) + "='" + frame::XmlEscape(std::string(value)) + "'";
}

}  // namespace

bool RegisterCheque(host::Session& session, db::Connection& cn, bool& update_flag,
                    std::string_view account, std::string_view cheque_no,
                    std::string_view settle_style, double amount, std::string_view bill_date,
                    std::string_view summary, std::string_view department, std::string_view person,
                    std::string_view receiver, std::string& message) {
  OpenLedger ledger(cn);
  host::LedgerCommon common;
  common.InitPubs2(ledger.Database(), "EC");
  std::unique_ptr<host::ChequeBook> book = host::CreateChequeBook();
  book->zzLogin(&session);
  book->zzSys(&common);

  if (account.empty() || cheque_no.empty() || settle_style.empty()) {
    Raise(kErrBusiness, "Q7.Rembiz.0040");
  }
  std::string date = db::NormalizeDate(bill_date).value_or(std::string(bill_date)).substr(0, 10);
  std::string xml = "<book" + Attribute("cCode", account) + Attribute("cn_id", cheque_no) +
                    Attribute("csettle", settle_style) + Attribute("mc", db::DoubleText(amount)) +
                    Attribute("bill_date", date) + Attribute("cremark", summary) +
                    Attribute("cdept", department) + Attribute("cperson", person) +
                    Attribute("cget", receiver) + "/>";
  if (!book->ZPControl(xml)) return true;

  switch (book->zpcheck()) {
    case host::ChequeBook::kRefused:
      if (book->zpmsg().empty()) Raise(kErrBusiness, "Q7.Rembiz.0040");
      RaiseIfMessage(*book);
      break;
    case host::ChequeBook::kNotInBook:
      book->StartZPDJ(false, false);
      RaiseIfMessage(*book);
      if (!update_flag) {
        book->UpdateZPDJ();
        RaiseIfMessage(*book);
      }
      break;
    case host::ChequeBook::kSamePayment:
      message = host::MessageText("Q7.Rembiz.0041");
      break;
    case host::ChequeBook::kBlankInBook:
      if (update_flag) {
        message = host::MessageText("Q7.Rembiz.0042");
      } else {
        book->UpdateZPDJ();
        RaiseIfMessage(*book);
      }
      break;
    default:
      break;
  }
  return true;
}

}  // namespace rembiz::payment
