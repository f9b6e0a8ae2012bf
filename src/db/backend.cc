#include "db/backend.h"

#include <cstdio>
#include <cstring>
#include <random>

#include "db/error.h"
#include "db/postgres/pg_backend.h"
#include "db/sqlite/sqlite_backend.h"
#include "db/text.h"

namespace rembiz::db {

std::string RandomGuidText(unsigned char (&b)[16]) {
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
  char buf[40];
  std::snprintf(buf, sizeof buf,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0],
                b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  return buf;
}

std::string BackendConnection::NewGuid() {
  thread_local std::mt19937_64 random{std::random_device{}()};
  unsigned char bytes[16];
  for (size_t i = 0; i < sizeof bytes; i += 8) {
    uint64_t value = random();
    std::memcpy(bytes + i, &value, 8);
  }
  return RandomGuidText(bytes);
}

void RefuseQuery(std::string_view why) {
  throw DbError(kErrStatement,
                "Only a single read-only query is allowed here (" + std::string(why) + ").");
}

void AnswerTooLarge(size_t limit, std::string_view unit) {
  throw DbError(kErrStatement, "The query answers more than " + std::to_string(limit) + " " +
                                   std::string(unit) + "; narrow it down.");
}

void ValueTooLong(int limit) {
  throw DbError(kErrStatement,
                "A value of the query is longer than " + std::to_string(limit) + " bytes.");
}

void QueryTooLong(int seconds) {
  throw DbError(kErrTimeout, "The query ran longer than its " + std::to_string(seconds) +
                                 " seconds and was stopped; narrow it down.");
}

const Backend& BackendFor(const ConnectionOptions& options) {
  const std::string provider = Lower(options.provider);
  if (provider == "sqlite") return sqlite::SqliteBackendInstance();
  if (provider == "postgresql") return postgres::PostgresBackendInstance();
  throw DbError(kErrConnection,
                "The provider '" + options.provider + "' is not available in this build.");
}

}  // namespace rembiz::db
