// Amounts, in the two ways the system rounds them: as the money type keeps them (four decimals)
// and as they are compared and shown to people (cents, halves away from zero).
#pragma once

#include <string>

namespace rembiz::db {

// Four decimals, as a money column holds the value.
double RoundMoney(double value);
// RoundMoney's value as a number text for SQL and answers ("12.5", "0.1235").
std::string MoneyText(double value);

// Two decimals, halves away from zero (1.005 gives 1.01 although it is stored a hair below).
double RoundCents(double value);
// RoundCents with both decimals written ("10.00"), for messages.
std::string CentsText(double value);
// An amount with the decimals of its currency (foreigncurrency.idec), halves away from zero, for
// messages ("150.00", "150" with none); decimals outside 0..6 are taken as 2.
std::string DecimalsText(double value, int decimals);

}  // namespace rembiz::db
