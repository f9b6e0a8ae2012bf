// References (pick lists): a page of the rows of a query, the title format of a reference
// (columns with captions and widths) and the data text of a page. Every query of a reference
// runs read-only: its text may carry conditions and orders that came with a request.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"

namespace rembiz::host {

struct RefPage {
  db::Recordset rows;   // the rows of the page
  int64_t count = 0;    // rows of the whole list
  int64_t current = 1;  // the page answered, from 1
  int64_t length = 0;   // rows per page
};

struct RefColumn {
  std::string name, caption;
  int64_t width = 1200;
};

class Lookup {
 public:
  virtual ~Lookup() = default;
  // Page `current` (from 1; beyond the last: the last) of `length` rows (<= 0: 20) of a query.
  virtual RefPage GetRefStrRst(db::Connection& cn, std::string_view sql, int64_t length,
                               int64_t current) = 0;
  // The same over the cost items of an item source (the derived table "(…)fitems" with
  // citem_class, citemcode, citemname), restricted by `condition` and sorted by `order`.
  virtual RefPage GetRefItemRst(db::Connection& cn, std::string_view item_source,
                                std::string_view condition, std::string_view order, int64_t length,
                                int64_t current) = 0;
  // The columns of the reference `ref_name` as its title shows them; the fields of `page` when
  // the reference has no title format of its own.
  virtual std::vector<RefColumn> GetTitleFormat(db::Connection& cn, std::string_view ref_name,
                                                const db::Recordset& page) = 0;
  // The rows of a page as the `data` part of a reference answer (persisted recordset XML).
  virtual std::string GetData(const db::Recordset& page) = 0;
  // The value list of a free item ("cFree1" … "cFree10"), values starting with `value`;
  // false for any other name.
  virtual bool GetFreeRefSQL(std::string_view name, std::string_view value, std::string* sql) = 0;
};

std::unique_ptr<Lookup> CreateLookup();

}  // namespace rembiz::host
