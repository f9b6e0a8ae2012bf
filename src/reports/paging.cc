#include "reports/paging.h"

#include <algorithm>

#include "db/error.h"
#include "db/text.h"
#include "frame/convert.h"
#include "frame/request.h"
#include "host/errors.h"

namespace rembiz::reports {
namespace {

using frame::NormalizeSql;

// A key read back from the database, as a literal for the page bounds.
std::string KeyLiteral(const PagedQuery& query, const db::Variant& value) {
  if (query.text_key) return db::SqlText(value.ToText());
  if (!value.IsNumber()) frame::InvalidNumber("list key", value.ToText());
  return value.ToText();
}

}  // namespace

int64_t WholeNumber(const std::string& text, std::string_view what) {
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '-') digits.remove_prefix(1);
  bool ok = !digits.empty() && digits.size() <= 9 &&
            std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!ok) frame::InvalidNumber(what, text);
  return std::stoll(text);
}

PageRequest ReadPageRequest(const xml::Node& func) {
  PageRequest request;
  std::string current = db::Trim(func.SelectSingleNode("in/page/current").Text());
  std::string rows = db::Trim(func.SelectSingleNode("in/page/rows").Text());
  if (!current.empty()) request.current = WholeNumber(current, "page");
  if (!rows.empty()) request.rows = WholeNumber(rows, "rows per page");
  if (request.rows < 1) frame::InvalidNumber("rows per page", rows);
  return request;
}

Page FindPage(db::Connection& cn, const PagedQuery& query, const PageRequest& request) {
  std::string keys =
      "select distinct " + query.key + " as pagekey from " + query.from + " where " + query.where;
  db::Recordset counted =
      cn.Execute(NormalizeSql("select count(*) as n from (" + keys + ") pagekeys"));
  Page page;
  page.keys = counted.Value(0).ToInt();
  if (page.keys == 0) Raise(kErrBusiness, "Q7.Rembiz.0087");
  page.rows = request.rows;
  page.count = (page.keys + page.rows - 1) / page.rows;
  page.current = std::clamp<int64_t>(request.current, 0, page.count - 1);

  // The keys up to the page's end, of which the page holds the last ones: the cost follows the
  // page's position, never the size of the whole list.
  int64_t end = std::min(page.keys, (page.current + 1) * page.rows);
  int64_t take = end - page.current * page.rows;
  db::Recordset bounds = cn.Execute(NormalizeSql(
      "select top " + std::to_string(take) + " pagekey from (select distinct top " +
      std::to_string(end) + " " + query.key + " as pagekey from " + query.from + " where " +
      query.where + " order by " + query.key + ") pagekeys order by pagekey desc"));
  if (bounds.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0126");
  page.last = KeyLiteral(query, bounds.Value(0));
  bounds.Move(static_cast<size_t>(bounds.RecordCount() - 1));
  page.first = KeyLiteral(query, bounds.Value(0));
  return page;
}

std::string PageBounds(const PagedQuery& query, const Page& page) {
  return " and " + query.key + ">=" + page.first + " and " + query.key + "<=" + page.last;
}

db::Recordset ReadPage(db::Connection& cn, const PagedQuery& query, const Page& page) {
  db::Recordset rows = cn.Execute(NormalizeSql(
      "select distinct " + query.columns + " from " + query.from + " where " + query.where +
      PageBounds(query, page) + " order by " + (query.order.empty() ? query.key : query.order)));
  if (rows.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0126");
  return rows;
}

db::Recordset RunPage(db::Connection& cn, const PagedQuery& query, const PageRequest& request,
                      Page* page) {
  *page = FindPage(cn, query, request);
  return ReadPage(cn, query, *page);
}

std::string Envelope(const Page& page, std::string_view data, std::string_view format) {
  std::string out = "<success><page><count>" + std::to_string(page.count) + "</count><current>" +
                    std::to_string(page.current) + "</current><rows>" + std::to_string(page.rows) +
                    "</rows></page><data>" + std::string(data) + "</data>";
  if (!format.empty()) out += "<format>" + std::string(format) + "</format>";
  return out + "</success>";
}

}  // namespace rembiz::reports
