// Numbering: the bill format of a bill type ("EC01" loans, "EC02"/"EC03" claims) and the next
// voucher number it gives. The format is handed out as XML, the caller fills in the seeds of the
// prefix parts from the voucher head, and hands it back for the number.
//
// Format XML: the root 单据编号 carries 单据类型, 单据名称, 流水号长度 (serial width),
// 流水号起始值 (first serial), 允许手工修改 ("true" when numbers are typed by hand) and
// 重号自动重取 ("true" when a number already in use is replaced by the next one); one 前缀 child
// per prefix part in order with 序号, 对象名称, 源表字段名 (head field of the seed), 格式 (date
// format such as "yyyyMM"), 长度, 常量值, 流水依据 ("true": the serial runs per value of this
// part) and 种子 (the seed the caller sets).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "xml/document.h"

namespace rembiz::host {

class DocNumber {
 public:
  virtual ~DocNumber() = default;
  // Loads the format of the bill type and keeps `cn` for GetNumber; false when there is none.
  virtual bool InitBill(db::Connection& cn, std::string_view bill_type) = 0;
  // The loaded format as XML (seeds empty).
  virtual std::string GetBillFormat() = 0;
  // The number for the seeds in `format_xml`. With `take` the number is handed out (its serial
  // is used up, also when the caller's transaction is open); without it the next number is only
  // previewed. "" for a format of hand-typed numbers. Throws ComError for a malformed format or
  // a date part whose seed is no date.
  virtual std::string GetNumber(std::string_view format_xml, bool take) = 0;
};

std::unique_ptr<DocNumber> CreateDocNumber();

// The format of `bill_type` as XML (seeds empty). Raises "Q7.Rembiz.0099" when it has none.
std::string BillFormatXml(db::Connection& cn, std::string_view bill_type);

// Whether the format of `bill_type` takes numbers as they are typed (允许手工修改 "true").
// Raises "Q7.Rembiz.0099" as BillFormatXml, "Q7.Rembiz.0100" for a format that is no XML.
bool NumbersTypedByHand(db::Connection& cn, std::string_view bill_type);

// A field of the voucher head by name: the seeds of the prefix parts.
using HeadField = std::function<std::string(std::string_view field)>;

// The number the format of `bill_type` gives a voucher with the head fields `head`; `take` as
// for DocNumber::GetNumber. Date fields seed with the date of an ISO date-time. Raises
// "Q7.Rembiz.0099" and "Q7.Rembiz.0100" as above, and "Q7.Rembiz.0107" when the format gives
// no number (numbers typed by hand); otherwise throws what the numbering throws.
std::string VoucherNumber(db::Connection& cn, std::string_view bill_type, const HeadField& head,
                          bool take);

// Loads the answer of a numbering request, <vchno>, into `answer`.
void AnswerNumber(xml::Document& answer, std::string_view number);

}  // namespace rembiz::host
