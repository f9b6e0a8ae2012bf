#include "host/cheque_book.h"

#include <cmath>

#include "db/variant.h"
#include "host/messages.h"
#include "host/service_sql.h"
#include "xml/document.h"

namespace rembiz::host {
namespace {

// "Operation is not allowed when the object is closed."
constexpr int32_t kErrObjectClosed = static_cast<int32_t>(0x800A0E78);

// What one cheque pays, as the book document names it.
struct ChequeData {
  std::string code, number, settle, date, remark, department, person, receiver;
  double amount = 0;
};

class TableChequeBook : public ChequeBook {
 public:
  void zzLogin(Session* session) override { session_ = session; }
  void zzSys(LedgerCommon* common) override { common_ = common; }

  bool ZPControl(std::string_view text) override {
    check_ = 0;
    message_.clear();
    xml::Document doc;
    xml::Node book = doc.LoadXml(text) ? doc.DocumentElement() : xml::Node();
    data_ = ChequeData{book.Attr("cCode"),     book.Attr("cn_id"),   book.Attr("csettle"),
                       book.Attr("bill_date"), book.Attr("cremark"), book.Attr("cdept"),
                       book.Attr("cperson"),   book.Attr("cget")};
    data_.date = db::NormalizeDate(data_.date).value_or("").substr(0, 10);
    auto amount = db::ParseNumber(book.Attr("mc"));
    data_.amount = amount ? *amount : 0;

    db::Connection& cn = Cn();
    db::Recordset style =
        cn.Execute("select bSSFlag from SettleStyle where cSSCode = " + SqlText(data_.settle));
    if (style.Eof() || !style.Value("bSSFlag").ToBool()) return false;

    if (data_.code.empty() || data_.number.empty() || !amount || data_.amount <= 0) {
      Refuse(MessageText("Rembiz.Host.ChequeIncomplete", "", data_.number));
      return true;
    }
    db::Recordset cheque =
        cn.Execute("select iState, mc, bill_date from Host_Cheque where " + Key());
    if (cheque.Eof()) {
      check_ = kNotInBook;
    } else if (cheque.Value("iState").ToInt() == 2) {
      Refuse(MessageText("Rembiz.Host.ChequeVoid", "", data_.number));
    } else if (cheque.Value("iState").ToInt() == 0) {
      check_ = kBlankInBook;
    } else if (std::fabs(cheque.Value("mc").ToDouble() - data_.amount) < 0.005 &&
               cheque.Text("bill_date") == data_.date) {
      check_ = kSamePayment;
    } else {
      // One cheque pays one amount on one date: any other payment is the number used twice.
      Refuse(MessageText("Rembiz.Host.ChequeUsed", "", data_.number, data_.code));
    }
    return true;
  }

  void StartZPDJ(bool void_cheque, bool with_payment) override {
    message_.clear();
    db::Connection& cn = Cn();
    if (!cn.Execute("select AutoID from Host_Cheque where " + Key()).Eof()) {
      message_ = MessageText("Rembiz.Host.ChequeUsed", "", data_.number, data_.code);
      return;
    }
    int state = void_cheque ? 2 : 0;
    cn.Execute(
        "insert into Host_Cheque (cCode, cn_id, csettle, iState, cSysId, cUser_Id, "
        "dRegTime) values (" +
        SqlText(data_.code) + ", " + SqlText(data_.number) + ", " + SqlTextOrNull(data_.settle) +
        ", " + std::to_string(state) + ", " + SqlText(SystemId()) + ", " + SqlTextOrNull(User()) +
        ", getdate())");
    if (with_payment && !void_cheque) WritePayment();
  }

  void UpdateZPDJ() override {
    message_.clear();
    if (!WritePayment()) {
      message_ = MessageText("Rembiz.Host.ChequeUsed", "", data_.number, data_.code);
    }
  }

  int zpcheck() const override { return check_; }
  const std::string& zpmsg() const override { return message_; }

 private:
  db::Connection& Cn() const {
    if (!common_ || !common_->Database()) {
      throw ComError(kErrObjectClosed, "The cheque book has no ledger services.", "ChequeBook");
    }
    return common_->Database()->Connection();
  }

  std::string SystemId() const {
    return common_ && !common_->SystemId().empty() ? common_->SystemId() : "EC";
  }

  std::string User() const { return session_ ? session_->UserId() : std::string(); }

  std::string Key() const {
    return "cCode = " + SqlText(data_.code) + " and cn_id = " + SqlText(data_.number);
  }

  void Refuse(std::string text) {
    check_ = kRefused;
    message_ = std::move(text);
  }

  // Only a blank number takes a payment, so a registered cheque is never overwritten.
  bool WritePayment() {
    int64_t affected = 0;
    Cn().Execute("update Host_Cheque set csettle = " + SqlTextOrNull(data_.settle) + ", mc = " +
                     SqlMoney(data_.amount) + ", bill_date = " + SqlTextOrNull(data_.date) +
                     ", cremark = " + SqlTextOrNull(data_.remark) +
                     ", cdept = " + SqlTextOrNull(data_.department) + ", cperson = " +
                     SqlTextOrNull(data_.person) + ", cget = " + SqlTextOrNull(data_.receiver) +
                     ", iState = 1, cUser_Id = " + SqlTextOrNull(User()) +
                     ", dRegTime = getdate() where iState = 0 and " + Key(),
                 &affected);
    return affected == 1;
  }

  Session* session_ = nullptr;
  LedgerCommon* common_ = nullptr;
  ChequeData data_;
  int check_ = 0;
  std::string message_;
};

}  // namespace

std::unique_ptr<ChequeBook> CreateChequeBook() { return std::make_unique<TableChequeBook>(); }

}  // namespace rembiz::host
