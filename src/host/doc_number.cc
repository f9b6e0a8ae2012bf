#include "host/doc_number.h"

#include <optional>
#include <vector>

#include "db/error.h"
#include "db/text.h"
#include "db/transaction.h"
#include "db/variant.h"
#include "host/database_setup.h"
#include "host/errors.h"
#include "xml/document.h"
#include "xml/escape.h"

namespace rembiz::host {
namespace {

constexpr int32_t kErrFormat = static_cast<int32_t>(0x80040E14);
constexpr int32_t kErrUnexpected = static_cast<int32_t>(0x8000FFFF);
// A format whose serials are all taken by hand-typed numbers would loop for ever otherwise.
constexpr int kMaxRetries = 10000;

struct BillFormat {
  std::string type, name;
  int64_t serial_length = 4;
  int64_t serial_start = 1;
  bool manual = false;
  bool retry = true;
  std::string check_table, check_column;  // where numbers in use are looked up
};

struct Part {
  std::string object, field, format, constant, seed;
  int64_t length = 0;
  bool basis = false;
};

bool IsTrue(std::string_view text) {
  return text == "true" || text == "True" || text == "TRUE" || text == "1" || text == "-1";
}

bool IsDateFormat(std::string_view format) {
  return format.find("yy") != std::string_view::npos ||
         format.find("MM") != std::string_view::npos || format.find("dd") != std::string_view::npos;
}

// "yyyyMM" of "2004-03-05" is "200403"; letters other than the tokens are kept.
std::string FormatDate(const std::string& date, std::string_view format) {
  std::string out;
  for (size_t i = 0; i < format.size();) {
    if (format.compare(i, 4, "yyyy") == 0) {
      out += date.substr(0, 4);
      i += 4;
    } else if (format.compare(i, 2, "yy") == 0) {
      out += date.substr(2, 2);
      i += 2;
    } else if (format.compare(i, 2, "MM") == 0) {
      out += date.substr(5, 2);
      i += 2;
    } else if (format.compare(i, 2, "dd") == 0) {
      out += date.substr(8, 2);
      i += 2;
    } else {
      out += format[i++];
    }
  }
  return out;
}

// Cuts to `length` characters (UTF-8 aware) when the value is longer.
std::string CutTo(const std::string& text, int64_t length) {
  if (length <= 0) return text;
  size_t pos = 0;
  for (int64_t n = 0; n < length && pos < text.size(); ++n) {
    ++pos;
    while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80) ++pos;
  }
  return text.substr(0, pos);
}

std::string Padded(int64_t serial, int64_t width) {
  std::string digits = std::to_string(serial);
  if (static_cast<int64_t>(digits.size()) < width) {
    digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  }
  return digits;
}

class TableDocNumber : public DocNumber {
 public:
  bool InitBill(db::Connection& cn, std::string_view bill_type) override {
    cn_ = &cn;
    loaded_ = false;
    db::Recordset rs = cn.Execute(
        "select cBillType,cBillName,iSerialLength,iSerialStart,bManual,bRetry,cCheckTable,"
        "cCheckColumn from Host_BillFormat where cBillType=" +
        db::SqlText(bill_type));
    if (rs.Eof()) return false;
    format_.type = rs.Text("cBillType");
    format_.name = rs.Text("cBillName");
    format_.serial_length = rs.Value("iSerialLength").ToInt();
    format_.serial_start = rs.Value("iSerialStart").ToInt();
    format_.manual = rs.Value("bManual").ToBool();
    format_.retry = rs.Value("bRetry").ToBool();
    format_.check_table = rs.Text("cCheckTable");
    format_.check_column = rs.Text("cCheckColumn");
    if (!db::IsSqlName(format_.check_table) || !db::IsSqlName(format_.check_column)) {
      format_.check_table.clear();
      format_.check_column.clear();
    }
    parts_.clear();
    db::Recordset prefix = cn.Execute(
        "select cObjectName,cSourceField,cFormat,iLength,cConstant,bSerialBasis "
        "from Host_BillPrefix where cBillType=" +
        db::SqlText(bill_type) + " order by iOrder");
    for (; !prefix.Eof(); prefix.MoveNext()) {
      Part part;
      part.object = prefix.Text("cObjectName");
      part.field = prefix.Text("cSourceField");
      part.format = prefix.Text("cFormat");
      part.length = prefix.Value("iLength").ToInt();
      part.constant = prefix.Text("cConstant");
      part.basis = prefix.Value("bSerialBasis").ToBool();
      parts_.push_back(std::move(part));
    }
    loaded_ = true;
    return true;
  }

  std::string GetBillFormat() override {
    RequireLoaded();
    using xml::XmlEscape;
    auto flag = [](bool on) { return std::string(on ? "true" : "false"); };
    std::string out = "<单据编号 单据类型='" + XmlEscape(format_.type) + "' 单据名称='" +
                      XmlEscape(format_.name) + "' 流水号长度='" +
                      std::to_string(format_.serial_length) + "' 流水号起始值='" +
                      std::to_string(format_.serial_start) + "' 允许手工修改='" +
                      flag(format_.manual) + "' 重号自动重取='" + flag(format_.retry) + "'>";
    int order = 0;
    for (const Part& part : parts_) {
      out += "<前缀 序号='" + std::to_string(++order) + "' 对象名称='" + XmlEscape(part.object) +
             "' 源表字段名='" + XmlEscape(part.field) + "' 格式='" + XmlEscape(part.format) +
             "' 长度='" + std::to_string(part.length) + "' 常量值='" + XmlEscape(part.constant) +
             "' 流水依据='" + flag(part.basis) + "' 种子=''/>";
    }
    return out + "</单据编号>";
  }

  std::string GetNumber(std::string_view format_xml, bool take) override {
    RequireLoaded();
    xml::Document doc;
    if (!doc.LoadXml(format_xml) || doc.DocumentElement().Name() != "单据编号") {
      throw ComError(kErrFormat, "The bill format of " + format_.type + " is not well-formed.",
                     "Rembiz.DocNumber");
    }
    if (format_.manual || IsTrue(doc.DocumentElement().Attr("允许手工修改"))) return "";

    std::string prefix, seed_key;
    for (const xml::Node& node : doc.DocumentElement().Children("前缀")) {
      std::string value = PartValue(node);
      prefix += value;
      if (IsTrue(node.Attr("流水依据"))) seed_key += (seed_key.empty() ? "" : "|") + value;
    }

    // Taking a number is one short write of its own, unless the caller's transaction is open:
    // then it belongs to that transaction, whose write lock already keeps others waiting.
    std::optional<db::Transaction> own;
    if (take && !cn_->InTransaction()) own.emplace(*cn_);
    std::string number;
    for (int attempt = 0;; ++attempt) {
      int64_t serial = take ? TakeSerial(seed_key) : PeekSerial(seed_key, attempt);
      number = prefix + Padded(serial, format_.serial_length);
      if (!format_.retry || !InUse(number) || attempt >= kMaxRetries) break;
    }
    if (own) own->Commit();
    return number;
  }

 private:
  void RequireLoaded() const {
    if (!loaded_) {
      throw ComError(kErrFormat, "The bill format has not been initialised.", "Rembiz.DocNumber");
    }
  }

  std::string PartValue(const xml::Node& node) const {
    std::string field = node.Attr("源表字段名");
    std::string format = node.Attr("格式");
    int64_t length = db::Variant(node.Attr("长度")).ToInt();
    if (field.empty()) return CutTo(node.Attr("常量值"), length);
    std::string seed = node.Attr("种子");
    if (!IsDateFormat(format)) return CutTo(seed, length);
    // A voucher without a date yet is numbered as of today.
    std::optional<std::string> date = seed.empty() ? TodayText() : db::NormalizeDate(seed);
    if (!date) {
      throw ComError(kErrFormat, "The value '" + seed + "' of " + field + " is not a date.",
                     "Rembiz.DocNumber");
    }
    return CutTo(FormatDate(*date, format), length);
  }

  std::string SerialWhere(const std::string& seed_key) const {
    return " where cBillType=" + db::SqlText(format_.type) + " and cSeed=" + db::SqlText(seed_key);
  }

  int64_t TakeSerial(const std::string& seed_key) {
    int64_t affected = 0;
    std::string start = std::to_string(format_.serial_start);
    cn_->Execute("update Host_BillSerial set iLastNo=case when iLastNo+1<" + start + " then " +
                     start + " else iLastNo+1 end" + SerialWhere(seed_key),
                 &affected);
    if (affected == 0) {
      // The first number of its seed. On a database server another writer may make the row at
      // the same moment (writers there meet only on the rows they write): then the insert
      // waits for it and fails, and the serial goes on from the other writer's row.
      const std::string insert = "insert into Host_BillSerial (cBillType,cSeed,iLastNo) values (" +
                                 db::SqlText(format_.type) + "," + db::SqlText(seed_key) + "," +
                                 start + ")";
      if (!cn_->InTransaction()) {
        try {
          cn_->Execute(insert);
        } catch (const ComError& e) {
          if (e.Number() != db::kErrConstraint) throw;
          return TakeSerial(seed_key);
        }
      } else {
        db::Savepoint before(*cn_);
        try {
          cn_->Execute(insert);
          before.Release();
        } catch (const ComError& e) {
          if (e.Number() != db::kErrConstraint) throw;
          before.Rollback();
          return TakeSerial(seed_key);
        }
      }
    }
    return cn_->Execute("select iLastNo from Host_BillSerial" + SerialWhere(seed_key))
        .Value("iLastNo")
        .ToInt();
  }

  // The serial a take would give now, `skip` numbers further on (numbers found in use).
  int64_t PeekSerial(const std::string& seed_key, int skip) {
    db::Recordset rs = cn_->Execute("select iLastNo from Host_BillSerial" + SerialWhere(seed_key));
    int64_t next = rs.Eof() ? format_.serial_start : rs.Value("iLastNo").ToInt() + 1;
    if (next < format_.serial_start) next = format_.serial_start;
    return next + skip;
  }

  bool InUse(const std::string& number) {
    if (format_.check_table.empty()) return false;
    return !cn_->Execute("select top 1 1 as x from " + format_.check_table + " where " +
                         format_.check_column + "=" + db::SqlText(number))
                .Eof();
  }

  db::Connection* cn_ = nullptr;
  bool loaded_ = false;
  BillFormat format_;
  std::vector<Part> parts_;
};

}  // namespace

std::unique_ptr<DocNumber> CreateDocNumber() { return std::make_unique<TableDocNumber>(); }

std::string BillFormatXml(db::Connection& cn, std::string_view bill_type) {
  std::unique_ptr<DocNumber> numbers = CreateDocNumber();
  if (!numbers->InitBill(cn, bill_type)) Raise(kErrBusiness, "Q7.Rembiz.0099");
  return numbers->GetBillFormat();
}

bool NumbersTypedByHand(db::Connection& cn, std::string_view bill_type) {
  xml::Document format;
  if (!format.LoadXml(BillFormatXml(cn, bill_type))) Raise(kErrBusiness, "Q7.Rembiz.0100");
  return db::Lower(format.SelectSingleNode("//单据编号").Attr("允许手工修改")) == "true";
}

std::string VoucherNumber(db::Connection& cn, std::string_view bill_type, const HeadField& head,
                          bool take) {
  std::unique_ptr<DocNumber> numbers = CreateDocNumber();
  if (!numbers->InitBill(cn, bill_type)) Raise(kErrBusiness, "Q7.Rembiz.0099");
  xml::Document format;
  if (!format.LoadXml(numbers->GetBillFormat())) Raise(kErrBusiness, "Q7.Rembiz.0100");
  for (xml::Node part : format.SelectNodes("//单据编号/前缀")) {
    if (part.Attr("对象名称") == "远程号") continue;
    std::string field = part.Attr("源表字段名");
    std::string value = head(field);
    // Date fields keep the date of an ISO date-time ("2004-03-05T00:00:00").
    if (field.size() >= 4 && db::Lower(field.substr(field.size() - 4)) == "date") {
      value = value.substr(0, value.find('T'));
    }
    part.SetAttr("种子", value);
  }
  std::string number = numbers->GetNumber(format.Xml(), take);
  std::string manual = format.DocumentElement().Attr("允许手工修改");
  if (!manual.empty() && db::Variant(manual).ToBool()) number.clear();
  if (number.empty()) Raise(kErrBusiness, "Q7.Rembiz.0107");
  return number;
}

void AnswerNumber(xml::Document& answer, std::string_view number) {
  if (!answer.LoadXml("<?xml version='1.0' encoding='utf-8'?><vchno>" + xml::XmlEscape(number) +
                      "</vchno>")) {
    throw ComError(kErrUnexpected, "The answer is not well-formed XML: " + answer.ParseError(),
                   "Rembiz");
  }
}

}  // namespace rembiz::host
