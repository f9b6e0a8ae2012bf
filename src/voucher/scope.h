// Which vouchers an operator may name: within the data permissions the lists apply, and drafts
// only by their maker. Every operation on a loan voucher or a claim asks here first.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "host/session.h"

namespace rembiz::voucher {

// The vouchers an operator may reach by naming them (AutoID or GUID): those the lists show,
// within the data permissions of frame::DataAuthFilter. Every operation that names a voucher asks
// here before it reads or writes it, and answers a voucher out of reach as one that does not exist,
// so that ids cannot be tried one after the other. The filter of a table is read once.
class VoucherScope {
 public:
  explicit VoucherScope(host::Session& session) : session_(session) {}

  // False when the voucher of `table` whose `column` ("AutoID" or "GUID") is `value` lies
  // outside the operator's data permissions, or does not exist. True when nothing keeps it out
  // of reach; an operator without restrictions is not looked up at all, so the caller still
  // finds out whether the voucher exists.
  bool Reaches(db::Connection& cn, std::string_view table, std::string_view column,
               std::string_view value);

 private:
  host::Session& session_;
  std::map<std::string, std::string, std::less<>> filters_;
};

// VoucherScope for a single voucher.
bool VoucherInScope(host::Session& session, db::Connection& cn, std::string_view table,
                    std::string_view column, std::string_view value);

// A draft (not yet submitted) belongs to its maker: only the maker (strPersonID) or an
// administrator changes, deletes or submits it. Raises "Rembiz.Voucher.NotMaker" otherwise.
void RequireDraftMaker(host::Session& session, bool submitted, std::string_view maker);

}  // namespace rembiz::voucher
