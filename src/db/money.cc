#include "db/money.h"

#include <cmath>
#include <cstdio>

#include "db/variant.h"

namespace rembiz::db {

double RoundMoney(double value) { return std::round(value * 10000.0) / 10000.0; }

std::string MoneyText(double value) { return DoubleText(RoundMoney(value)); }

double RoundCents(double value) {
  // The nudge keeps amounts such as 1.005, stored a hair below the half, rounding up.
  const double nudge = value < 0 ? -1e-7 : 1e-7;
  return std::round(value * 100 + nudge) / 100;
}

std::string CentsText(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", RoundCents(value));
  return buf;
}

}  // namespace rembiz::db
