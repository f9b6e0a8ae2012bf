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

std::string DecimalsText(double value, int decimals) {
  if (decimals < 0 || decimals > 6) decimals = 2;
  const double scale = std::pow(10.0, decimals);
  const double nudge = value < 0 ? -1e-7 : 1e-7;
  const double rounded = std::round(value * scale + nudge) / scale;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, rounded == 0 ? 0.0 : rounded);
  return buf;
}

}  // namespace rembiz::db
