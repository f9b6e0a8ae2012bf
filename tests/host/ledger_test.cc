// The ledger's voucher save for staged outside vouchers: what it takes, how it numbers, and
// that every refusal writes nothing.
#include "host/ledger.h"

#include <gtest/gtest.h>

#include "frame/sql_helpers.h"
#include "host/messages.h"
#include "ledger/staging.h"
#include "support/demo_fixture.h"

namespace rembiz::host {
namespace {

class LedgerTest : public testing::DemoTest {
 protected:
  // A staged voucher: one line per (account, debit, credit), all of one sign, date and link.
  std::string Stage(const std::string& sign, const std::string& date,
                    const std::vector<std::tuple<std::string, double, double>>& lines,
                    const std::string& link = "LINK") {
    std::string name = frame::TempName();
    Cn().Execute("CREATE TABLE tempdb.." + name + ledger::StagingColumnsDdl(Session()));
    int inid = 0;
    for (const auto& [code, md, mc] : lines) {
      Cn().Execute("insert into tempdb.." + name +
                   " (inid, csign, dbill_date, ccode, md, mc, cdigest, coutsign, coutno_id, "
                   "cbill) values (" +
                   std::to_string(++inid) + ", '" + sign + "', '" + date + "', '" + code + "', " +
                   std::to_string(md) + ", " + std::to_string(mc) + ", 'test', '" + sign + "', '" +
                   link + "', 'Demo Admin')");
    }
    return "tempdb.." + name;
  }
  std::string Day(const std::string& month_day) { return Session().FiscalYear() + "-" + month_day; }

  LedgerVoucher Save(const std::string& table) {
    LedgerDb database;
    database.openDatabase(Cn());
    LedgerCommon common;
    common.InitPubs2(database, "EC");
    return common.SaveOutVoucher(Session(), table);
  }
  // The text of the refusal, or "" when the voucher was saved.
  std::string Refusal(const std::string& table) {
    try {
      Save(table);
    } catch (const ComError& e) {
      return e.Description();
    }
    return "";
  }
};

TEST_F(LedgerTest, VouchersAreNumberedPerSignAndPeriodAndLinkedToTheirSource) {
  const std::vector<std::tuple<std::string, double, double>> lines = {
      {"660201", 120.5, 0}, {"1001", 0, 100}, {"100201", 0, 20.5}, {"2241", 0, 0}};
  EXPECT_EQ(Save(Stage("记", Day("03-02"), lines)).Code(), "记-3-1");
  EXPECT_EQ(Save(Stage("记", Day("03-31"), lines)).Code(), "记-3-2");
  EXPECT_EQ(Save(Stage("付", Day("03-31"), lines)).Code(), "付-3-1");
  EXPECT_EQ(Save(Stage("记", Day("04-01"), lines, "LINK2")).Code(), "记-4-1");

  // Lines without an amount are left out; the others keep their order, numbered from 1, and
  // carry the outside system and voucher.
  EXPECT_EQ(Scalar("select group_concat(inid || ':' || ccode || ':' || md || ':' || mc, ' ') "
                   "from (select * from GL_accvouch where csign = '付' order by inid)"),
            "1:660201:120.5:0 2:1001:0:100 3:100201:0:20.5");
  EXPECT_EQ(Scalar("select distinct isignseq || '|' || coutsysname || '|' || coutno_id || '|' || "
                   "cbill || '|' || iyear from GL_accvouch where csign = '付'"),
            "3|ec|LINK|Demo Admin|" + Session().FiscalYear());

  LedgerDb database;
  database.openDatabase(Cn());
  LedgerCommon common;
  common.InitPubs2(database, "EC");
  EXPECT_EQ(common.FindOutVoucher("LINK2")->Code(), "记-4-1");
  Cn().Execute("update GL_accvouch set iflag = 1 where coutno_id = 'LINK2'");
  EXPECT_FALSE(common.FindOutVoucher("LINK2").has_value());
}

TEST_F(LedgerTest, TheLedgerRefusesWhatItCannotBook) {
  std::string before = Dump("GL_accvouch");
  EXPECT_EQ(Refusal(Stage("记", Day("03-02"), {{"660201", 100, 0}, {"1001", 0, 99.99}})),
            MessageText("Rembiz.Host.LedgerUnbalanced", "", "100.00", "99.99"));
  EXPECT_EQ(Refusal(Stage("记", Day("03-02"), {{"6602", 100, 0}, {"1001", 0, 100}})),
            MessageText("Rembiz.Host.LedgerNotPosting", "", "6602"));
  EXPECT_EQ(Refusal(Stage("记", Day("03-02"), {{"9999", 100, 0}, {"1001", 0, 100}})),
            MessageText("Rembiz.Host.LedgerNotPosting", "", "9999"));
  EXPECT_EQ(Refusal(Stage("记", Day("03-02"), {{"", 100, 0}, {"1001", 0, 100}})),
            MessageText("Rembiz.Host.LedgerNoAccount", "", "1"));
  EXPECT_EQ(Refusal(Stage("借", Day("03-02"), {{"660201", 100, 0}, {"1001", 0, 100}})),
            MessageText("Rembiz.Host.LedgerNoSign", "", "借"));
  EXPECT_EQ(Refusal(Stage("记", "1999-03-02", {{"660201", 100, 0}, {"1001", 0, 100}})),
            MessageText("Rembiz.Host.LedgerNoPeriod", "", "1999-03-02"));
  EXPECT_EQ(Refusal(Stage("记", Day("03-02"), {{"660201", 0, 0}})),
            MessageText("Rembiz.Host.LedgerEmpty"));

  std::string mixed = Stage("记", Day("03-02"), {{"660201", 100, 0}, {"1001", 0, 100}});
  Cn().Execute("update " + mixed + " set dbill_date = '" + Day("03-03") + "' where inid = 2");
  EXPECT_EQ(Refusal(mixed), MessageText("Rembiz.Host.LedgerMixed"));

  Cn().Execute("update gl_mend set bflag = 1 where iperiod in (1, 2)");
  EXPECT_EQ(Refusal(Stage("记", Day("02-27"), {{"660201", 100, 0}, {"1001", 0, 100}})),
            MessageText("Rembiz.Host.LedgerClosed", "", "2"));
  EXPECT_EQ(Dump("GL_accvouch"), before);
}

}  // namespace
}  // namespace rembiz::host
