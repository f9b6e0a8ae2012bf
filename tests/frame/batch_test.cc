#include "frame/batch.h"

#include <gtest/gtest.h>

namespace rembiz::frame {
namespace {

TEST(BatchTest, RefusalsAreListedPerItemAndTheBatchGoesOn) {
  int position = 0;
  Batch batch([&](const std::string& text) { return std::to_string(position) + ": " + text; });
  std::vector<std::string> done;
  for (const char* item : {"a", "b'<", "c"}) {
    ++position;
    bool ran = batch.Run(item, [&] {
      if (std::string(item) == "b'<") throw ComError(kErrBusiness, "no & never", "Rembiz");
      done.push_back(item);
      // Work done before a refusal stays done: the item is listed both ways.
      if (std::string(item) == "c") throw ComError(kErrBusiness, "cheque refused", "Rembiz");
    });
    EXPECT_EQ(ran, std::string(item) == "a") << item;
  }
  batch.Refuse("d", "worded by the caller");
  EXPECT_EQ(done, (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(batch.ErrorListXml(),
            "<Error><err guid='b&apos;&lt;' msg='2: no &amp; never' />"
            "<err guid='c' msg='3: cheque refused' /><err guid='d' msg='worded by the caller' />"
            "</Error>");
  try {
    batch.RaiseRefusals();
    ADD_FAILURE() << "the refusals were not raised";
  } catch (const ComError& e) {
    EXPECT_EQ(e.Number(), kErrBusiness);
    EXPECT_EQ(e.Description(), "2: no & never\n3: cheque refused\nworded by the caller");
  }
}

TEST(BatchTest, OtherErrorsEndTheBatch) {
  Batch batch;
  EXPECT_EQ(batch.ErrorListXml(), "");
  EXPECT_NO_THROW(batch.RaiseRefusals());
  EXPECT_THROW(batch.Run("a", [] { throw db::DbError(db::kErrConstraint, "duplicate key"); }),
               db::DbError);
  EXPECT_THROW(batch.Run("b", [] { throw ComError(db::kErrInvalidRequest, "Invalid request"); }),
               ComError);
  EXPECT_TRUE(batch.Refusals().empty());
}

}  // namespace
}  // namespace rembiz::frame
