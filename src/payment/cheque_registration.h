// Registration of a payment made by cheque in the ledger's cheque register, shared by the
// approval of loans and the write-back of generated ledger vouchers.
#pragma once

#include <string>
#include <string_view>

#include "db/connection.h"
#include "host/session.h"

namespace rembiz::payment {

// Registers the cheque `cheque_no` of the bank account `account` for a payment. `update_flag`
// set: a number new to the register is only entered in it, and a number already in it is left
// as it is (with a message). Returns true, with a message for the caller in `message` when the
// cheque was already registered; raises error 9000 when the data is incomplete or the register
// refuses the cheque (for example a number already used for another payment). A settlement
// style that is no cheque style needs no registration.
bool RegisterCheque(host::Session& session, db::Connection& cn, bool& update_flag,
                    std::string_view account, std::string_view cheque_no,
                    std::string_view settle_style, double amount, std::string_view bill_date,
                    std::string_view summary, std::string_view department, std::string_view person,
                    std::string_view receiver, std::string& message);

}  // namespace rembiz::payment
