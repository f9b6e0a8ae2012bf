#include "frame/constraints.h"

#include <gtest/gtest.h>

#include "host/messages.h"

namespace rembiz::frame {
namespace {

constexpr ConstraintKey kKeys[] = {
    {"EC_ExpenLoanInfo", "Q7.Rembiz.0256"},
    {"IX_EC_EISet_Stand", "Q7.Rembiz.0372"},
    {"IX_EC_ExpenVouch", "Q7.Rembiz.0236"},
};

TEST(ConstraintKeyTest, NamesMatchWholeAndTheTableOrderDecides) {
  // The engines' texts, as the data layer words them.
  EXPECT_EQ(KeyOfConstraint("Cannot insert duplicate key row in object 'dbo.EC_ExpenVouch' with "
                            "unique index 'IX_EC_ExpenVouch'.",
                            kKeys),
            "Q7.Rembiz.0236");
  EXPECT_EQ(KeyOfConstraint("The DELETE statement conflicted with the REFERENCE constraint "
                            "\"FK_x\". The conflict occurred in table \"dbo.EC_ExpenLoanInfo\"",
                            kKeys),
            "Q7.Rembiz.0256");
  // A longer name is another constraint; a later whole mention still counts.
  EXPECT_EQ(KeyOfConstraint("unique index 'IX_EC_EISet_Stand_x'", kKeys), "");
  EXPECT_EQ(KeyOfConstraint("'IX_EC_EISet_Stand_x' and 'IX_EC_EISet_Stand'", kKeys),
            "Q7.Rembiz.0372");
  EXPECT_EQ(KeyOfConstraint("IX_EC_EISet_Stand", kKeys), "Q7.Rembiz.0372");
  // Both named: the entry listed first wins, wherever the text names it.
  EXPECT_EQ(KeyOfConstraint("'IX_EC_ExpenVouch' (dbo.EC_ExpenLoanInfo)", kKeys), "Q7.Rembiz.0256");
  EXPECT_EQ(KeyOfConstraint("ix_ec_expenvouch", kKeys), "");
  EXPECT_EQ(KeyOfConstraint("IX_EC_ExpenVouch", {}), "");
}

TEST(ConstraintKeyTest, MappedErrorsReadAsTheirKeys) {
  const db::DbError named(db::kErrConstraint, "unique index 'IX_EC_ExpenVouch'.", "2067");
  try {
    RaiseConstraintKey(named, kKeys);
    ADD_FAILURE() << "a named constraint was not raised as its key";
  } catch (const ComError& e) {
    EXPECT_EQ(e.Number(), kErrBusiness);
    EXPECT_EQ(e.Description(), host::MessageText("Q7.Rembiz.0236"));
    EXPECT_EQ(e.Key(), "Q7.Rembiz.0236");
  }
  const db::DbError other(db::kErrConstraint, "unique index 'IX_Other'.", "2067");
  EXPECT_NO_THROW(RaiseConstraintKey(other, kKeys));
  EXPECT_THROW(WithConstraintKeys(kKeys, [&] { throw other; }), db::DbError);
  EXPECT_EQ(WithConstraintKeys(kKeys, [] { return 7; }), 7);

  // The pages that always read the database's number keep it, with the key's text.
  ComError text = ConstraintText(named, kKeys);
  EXPECT_EQ(text.Number(), db::kErrConstraint);
  EXPECT_EQ(text.Description(), host::MessageText("Q7.Rembiz.0236"));
  EXPECT_EQ(text.Source(), "Rembiz.Data");
  EXPECT_EQ(ConstraintText(other, kKeys).Description(), other.Description());
}

}  // namespace
}  // namespace rembiz::frame
