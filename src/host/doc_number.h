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

#include <memory>
#include <string>
#include <string_view>

#include "db/connection.h"

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

}  // namespace rembiz::host
