// The paging every list and report of this subsystem shares: count the distinct keys the list
// selects, clamp the requested page, bound it by its first and last key, read the rows between
// them, and answer in one envelope:
//   <success><page><count/><current/><rows/></page><data>…</data>[<format>…</format>]</success>
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "db/error.h"
#include "db/recordset.h"
#include "host/errors.h"
#include "xml/document.h"

namespace rembiz::reports {

// One paged list: its FROM and WHERE as the list builds them, the key it pages by and the
// columns of its rows.
struct PagedQuery {
  std::string from;
  std::string where;  // without "where"
  std::string key;    // an expression; distinct keys make the pages
  bool text_key = false;
  // The FROM that counts and bounds the keys, when `from` only adds names to it (left joins on
  // unique keys never add or drop a key); "" uses `from`.
  std::string key_from;
  // The key is unique within the key FROM (a primary key), so counting needs no DISTINCT.
  bool unique_key = false;
  std::string columns;
  std::string order;  // of the rows within a page; "" orders by the key
};

// The page a request asks for: `in/page/current` (0-based) and `in/page/rows`.
struct PageRequest {
  int64_t current = 0;
  int64_t rows = 20;
};
// A whole number of a request (at most nine digits, optionally negative); anything else is
// refused as an invalid request naming `what`.
int64_t WholeNumber(const std::string& text, std::string_view what);

// Reads the request's page; missing values keep the defaults, anything but a whole number (and
// rows below 1) is refused as an invalid request.
PageRequest ReadPageRequest(const xml::Node& func);

struct Page {
  int64_t keys = 0;     // distinct keys of the whole list
  int64_t count = 0;    // pages
  int64_t current = 0;  // 0-based, after clamping
  int64_t rows = 0;     // rows per page
  std::string first;    // the page's first and last key, as SQL literals
  std::string last;
};

// Counts the keys ("Q7.Rembiz.0087" when there are none), clamps the requested page into
// 0 … count − 1 and finds its first and last key.
Page FindPage(db::Connection& cn, const PagedQuery& query, const PageRequest& request);
// " and <key>>=<first> and <key><=<last>".
std::string PageBounds(const PagedQuery& query, const Page& page);
// The rows of the page ("Q7.Rembiz.0126" when there are none).
db::Recordset ReadPage(db::Connection& cn, const PagedQuery& query, const Page& page);
// FindPage and ReadPage in one.
db::Recordset RunPage(db::Connection& cn, const PagedQuery& query, const PageRequest& request,
                      Page* page);

// The answer envelope around the page's record XML (and a column layout, for reports).
std::string Envelope(const Page& page, std::string_view data, std::string_view format = {});

// Runs a list or report; a database failure reads as the operation's own message key, the
// failures that carry a message of their own keep it.
template <class Body>
bool WithFailureKey(std::string_view key, Body&& body) {
  try {
    return body();
  } catch (const db::DbError&) {
    Raise(kErrBusiness, key);
  }
}

}  // namespace rembiz::reports
