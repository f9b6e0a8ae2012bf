// What the hand-written floors of the two engines share: the benchmark's claim as they write it,
// and the answer document of the claim read as they write it.
#pragma once

#include <string>
#include <string_view>

namespace rembiz::bench {

// The values of the benchmark's claim (bench_data.h ClaimSaveRequest) that a floor writes.
struct FloorClaim {
  std::string year;
  std::string number;
};

// The claim's rows as bench_data.h writes them.
struct FloorRow {
  const char* item;
  double money;
  double receipt;  // 0: none
};
inline constexpr FloorRow kFloorRows[] = {
    {"20101", 400, 0}, {"20102", 80, 80}, {"20103", 100, 0}, {"202", 50, 0}, {"203", 30, 0}};

// As pugixml writes an attribute value in double quotes.
void AppendEscaped(std::string& out, std::string_view text);
// A number as the full stack writes a double.
void AppendNumber(std::string& out, double value);

// The constant parts of the claim read's answer: the two record answers' schemas, each "<xml ...>"
// up to "<rs:data>", taken once from the full stack's answer.
struct ReadSchemas {
  std::string head;
  std::string body;
  // False when `expected` holds no two record answers.
  bool Learn(const std::string& expected);
};

// The answer document of the claim read around its head row and its body rows.
void AppendReadOpening(std::string& out, const std::string& guid, const std::string& auto_id,
                       const ReadSchemas& schemas);
void AppendReadMiddle(std::string& out, const ReadSchemas& schemas);
void AppendReadClosing(std::string& out);

}  // namespace rembiz::bench
