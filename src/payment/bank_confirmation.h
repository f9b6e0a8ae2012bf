// The bank's report that a payment was made: the bill and its payment line are confirmed
// (host::BankLink::Confirm), and the voucher of the line records the payment in its history
// the first time the bank reports it. On the caller's connection and in its transaction.
#pragma once

#include <string>

#include "db/connection.h"

namespace rembiz::payment {

// False with `error` when the bank link refuses the payment id.
bool ConfirmBankPayment(db::Connection& cn, const std::string& pay_id, std::string& error);

}  // namespace rembiz::payment
