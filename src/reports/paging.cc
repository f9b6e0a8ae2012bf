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
  const std::string& from = query.key_from.empty() ? query.from : query.key_from;
  // A condition that holds for every row is left out, so that counting a whole table stays the
  // engine's cheap count of its index. The others stand in parentheses: an English session
  // brackets an alias up to the next comma, which must not swallow the condition.
  std::string where = db::Trim(query.where) == "1=1" ? "" : " where (" + query.where + ")";
  std::string count = query.unique_key ? "select count(*) as n from " + from + where
                                       : "select count(*) as n from (select distinct " + query.key +
                                             " as pagekey from " + from + where + ") pagekeys";
  db::Recordset counted = cn.Execute(NormalizeSql(count));
  Page page;
  page.keys = counted.Value(0).ToInt();
  if (page.keys == 0) Raise(kErrBusiness, "Q7.Rembiz.0087");
  page.rows = request.rows;
  page.count = (page.keys + page.rows - 1) / page.rows;
  page.current = std::clamp<int64_t>(request.current, 0, page.count - 1);

  // The page's keys, read from the nearer end of the list: the cost follows the page's distance
  // from the first or the last key, and the first and last pages cost the same at any size.
  int64_t start = page.current * page.rows;
  int64_t end = std::min(page.keys, start + page.rows);
  bool from_end = start > page.keys - end;
  int64_t reach = from_end ? page.keys - start : end;
  db::Recordset bounds = cn.Execute(NormalizeSql(
      "select top " + std::to_string(end - start) + " pagekey from (select distinct top " +
      std::to_string(reach) + " " + query.key + " as pagekey from " + from + where + " order by " +
      query.key + (from_end ? " desc" : "") + ") pagekeys order by pagekey" +
      (from_end ? "" : " desc")));
  if (bounds.Eof()) Raise(kErrBusiness, "Q7.Rembiz.0126");
  // Read from the start, the keys come last key first; read from the end, first key first.
  db::Variant top = bounds.Value(0);
  bounds.Move(static_cast<size_t>(bounds.RecordCount() - 1));
  db::Variant bottom = bounds.Value(0);
  page.first = KeyLiteral(query, from_end ? top : bottom);
  page.last = KeyLiteral(query, from_end ? bottom : top);
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
