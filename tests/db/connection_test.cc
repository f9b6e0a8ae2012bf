#include "db/connection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "db/persist.h"
#include "db/test_seams.h"
#include "db/transaction.h"
#include "db/type_guards.h"
#include "host/database_setup.h"
#include "support/demo_fixture.h"

namespace rembiz::db {
namespace {

class ConnectionTest : public testing::DemoTest {
 protected:
  // A claim head straight into the table, as the claim save writes one.
  void InsertClaim(const std::string& guid, const std::string& number, const std::string& type) {
    Cn().Execute(
        "insert into EC_ExpenVouch (GUID, strTypeCode, strVouchID, dtLoanDate, dblMoney) values "
        "(N'" +
        guid + "', N'" + type + "', N'" + number + "', '2004-03-05', 10)");
  }
  std::string ErrorOf(const std::string& sql) {
    try {
      Cn().Execute(sql);
    } catch (const DbError& e) {
      EXPECT_EQ(e.Number(), kErrConstraint) << e.Description();
      return e.Description();
    }
    return "no error";
  }
};

TEST_F(ConnectionTest, RowVersionsChangeOnEveryInsertAndUpdate) {
  const std::string guid = "{11111111-2222-3333-4444-555555555555}";
  InsertClaim(guid, "0001", "201");
  std::string ts1 =
      Scalar("select Cast(ts As money) from EC_ExpenVouch where GUID=N'" + guid + "'");
  ASSERT_NE(ts1, "0");
  int64_t affected = -1;
  Cn().Execute("update EC_ExpenVouch set dblMoney=20 where GUID=N'" + guid +
                   "' and Cast(ts As money)=" + ts1,
               &affected);
  EXPECT_EQ(affected, 1);
  std::string ts2 = Scalar("select ts from EC_ExpenVouch where GUID=N'" + guid + "'");
  EXPECT_GT(std::stoll(ts2), std::stoll(ts1));
  // A stale version matches no row.
  Cn().Execute("update EC_ExpenVouch set dblMoney=30 where GUID=N'" + guid +
                   "' and Cast(ts As money)=" + ts1,
               &affected);
  EXPECT_EQ(affected, 0);
  // Keys the insert leaves out come from the schema.
  Cn().Execute(
      "insert into EC_ExpenVouch (strTypeCode, strVouchID, dtLoanDate) values (N'201', N'0002', "
      "'2004-03-05')");
  std::string generated = Scalar("select GUID from EC_ExpenVouch where strVouchID=N'0002'");
  EXPECT_EQ(generated.size(), 38u);
  EXPECT_EQ(generated.front(), '{');
  // The number the engine gave the new row is told by the insert itself.
  std::optional<int64_t> id = Cn().LastInsertId();
  ASSERT_TRUE(id.has_value());
  EXPECT_EQ(std::to_string(*id),
            Scalar("select AutoID from EC_ExpenVouch where strVouchID=N'0002'"));
}

// Every writer is held to the declared column types, as the server would hold it; a refused
// statement writes nothing, also outside a transaction.
TEST_F(ConnectionTest, ValuesMustFitTheirColumns) {
  auto refusal = [&](const std::string& sql) -> std::optional<ValueRefusal> {
    try {
      Cn().Execute(sql);
    } catch (const DbError& e) {
      EXPECT_EQ(e.Number(), kErrDataValue) << e.Description();
      return ReadValueRefusal(e);
    }
    return std::nullopt;
  };
  const std::string insert =
      "insert into EC_ExpenVouch (strTypeCode, strVouchID, dtLoanDate, strBill, dblMoney, "
      "cDefine5) values (N'201', ";
  std::string before = Dump("EC_ExpenVouch");
  std::optional<ValueRefusal> r =
      refusal(insert + "N'" + std::string(31, '9') + "', '2004-03-05', null, 1, null)");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->kind, ValueRefusal::Kind::kTooLong);
  EXPECT_EQ(r->table + "." + r->column + "/" + std::to_string(r->limit),
            "EC_ExpenVouch.strVouchID/30");
  // nvarchar counts characters, not bytes.
  EXPECT_FALSE(refusal(insert + "N'A1', '2004-03-05', N'人民币人民币人民币人民币人民', 1, null)"));
  r = refusal(insert + "N'A2', '2004-03-05', N'人民币人民币人民币人民币人民币', 1, null)");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->column, "strBill");
  r = refusal(insert + "N'A3', '2004-03-05', null, 1e20, null)");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->kind, ValueRefusal::Kind::kOutOfRange);
  r = refusal(insert + "N'A4', '2004-03-05', null, 1, N'12abc')");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->kind, ValueRefusal::Kind::kNotNumber);
  EXPECT_EQ(r->column, "cDefine5");
  r = refusal(insert + "N'A5', '2004-03-05', null, 1, 3000000000)");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->kind, ValueRefusal::Kind::kOutOfRange);
  r = refusal("update EC_ExpenVouch set strUsed = N'bad \xc3\x28 text' where strVouchID = N'A1'");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->kind, ValueRefusal::Kind::kNotText);
  EXPECT_EQ(r->column, "strUsed");
  EXPECT_EQ(Scalar("select count(*) from EC_ExpenVouch where strVouchID = N'A1'"), "1");
  Cn().Execute("delete from EC_ExpenVouch where strVouchID = N'A1'");
  EXPECT_EQ(Dump("EC_ExpenVouch"), before);
}

TEST_F(ConnectionTest, ConstraintErrorsNameTheirIndexAndKey) {
  const std::string guid = "{11111111-2222-3333-4444-555555555555}";
  InsertClaim(guid, "0001", "201");
  EXPECT_NE(ErrorOf("insert into EC_ExpenVouch (strTypeCode, strVouchID, dtLoanDate) values "
                    "(N'202', N'0001', '2004-03-05')")
                .find("IX_EC_ExpenVouch"),
            std::string::npos);
  // The same number in the other family is allowed.
  EXPECT_NO_THROW(InsertClaim("{11111111-2222-3333-4444-555555555556}", "0001", "101"));

  const std::string loan = "{00000000-0000-0000-0000-0000000000A1}";
  const std::string loan_row = "{00000000-0000-0000-0000-0000000000B1}";
  Cn().Execute("insert into EC_LoanVouch (GUID, strTypeCode, strVouchID, dtLoanDate) values (N'" +
               loan + "', N'301', N'L1', '2004-03-01')");
  Cn().Execute("insert into EC_LoanVouch_Sub (GUID, MGuid, dblMoney) values (N'" + loan_row +
               "', N'" + loan + "', 100)");
  Cn().Execute("insert into EC_ExpenLoanInfo (LoanSubguid, Expenguid, dblJE) values (N'" +
               loan_row + "', N'" + guid + "', 5)");
  EXPECT_NE(ErrorOf("delete from EC_ExpenVouch where GUID=N'" + guid + "'")
                .find("FK_EC_ExpenLoanInfo_EC_ExpenVouch"),
            std::string::npos);
  EXPECT_EQ(Scalar("select count(*) from EC_ExpenVouch where GUID=N'" + guid + "'"), "1");
}

// Transaction control may reach the server late, with the statement that follows it: each part
// still undoes exactly its own writes, and a transaction given up before any statement leaves
// the connection as it was.
TEST_F(ConnectionTest, SavepointsAndTransactionsUndoExactlyTheirPart) {
  auto guid = [](char last) {
    return std::string("{11111111-2222-3333-4444-55555555555") + last + "}";
  };
  auto count = [&] {
    return Scalar("select count(*) from EC_ExpenVouch where strVouchID like N'S_'");
  };
  {
    Transaction all(Cn(), 5, 20);
    InsertClaim(guid('1'), "S1", "201");
    {
      Savepoint step(Cn());
      EXPECT_NE(ErrorOf("insert into EC_ExpenVouch (strTypeCode, strVouchID, dtLoanDate) values "
                        "(N'201', N'S1', '2004-03-05')"),
                "no error");
      step.Rollback();
    }
    {
      Savepoint kept(Cn());
      InsertClaim(guid('2'), "S2", "201");
      kept.Release();
    }
    {
      Savepoint undone(Cn());
      InsertClaim(guid('3'), "S3", "201");
    }
    all.Commit();
  }
  EXPECT_EQ(count(), "2");
  {
    Transaction nothing(Cn());
    nothing.Rollback();
  }
  {
    Transaction unused(Cn(), 5, 20);
    Savepoint step(Cn());
  }
  {
    Transaction undone(Cn());
    InsertClaim(guid('4'), "S4", "201");
  }
  EXPECT_FALSE(Cn().InTransaction());
  EXPECT_EQ(count(), "2");
  Cn().Execute("delete from EC_ExpenVouch where strVouchID = N'S1'");
  EXPECT_EQ(count(), "1");
}

TEST_F(ConnectionTest, FaultsCountsAndEmptyResults) {
  Cn().Execute("select 0");
  int64_t before = ThreadStatementCount();
  Cn().Execute("select 1");
  EXPECT_EQ(ThreadStatementCount(), before + 1);

  InjectFault(2, DbError(kErrTimeout, "Timeout expired"));
  EXPECT_NO_THROW(Cn().Execute("select 1"));
  try {
    Cn().Execute("select 2");
    FAIL() << "the fault did not fire";
  } catch (const DbError& e) {
    EXPECT_EQ(e.Number(), kErrTimeout);
  }
  EXPECT_NO_THROW(Cn().Execute("select 3"));  // disarmed after firing

  Recordset empty = Cn().Execute("select strVouchID, dblMoney from EC_ExpenVouch where 1=2");
  EXPECT_TRUE(empty.IsOpen());
  EXPECT_TRUE(empty.Eof() && empty.Bof());
  std::string xml = SaveXml(empty);
  EXPECT_NE(xml.find("name='strVouchID'"), std::string::npos);
  EXPECT_NE(xml.find("rs:dbtype='currency'"), std::string::npos);

  EXPECT_EQ(Cn().Execute("select strVouchID from EC_ExpenVouch").Field(0).type, kAdVarChar);
  EXPECT_EQ(Cn().Execute("select dtLoanDate from EC_ExpenVouch").Field(0).type, kAdDbTimeStamp);
}

// Results of one statement share their fields (and the persisted schema made from them) instead
// of describing them again for every result; a table made again is described anew.
TEST_F(ConnectionTest, ResultsOfOneStatementShareTheirFields) {
  InsertClaim("{21111111-2222-3333-4444-555555555555}", "0001", "201");
  InsertClaim("{31111111-2222-3333-4444-555555555555}", "0002", "201");
  Recordset first =
      Cn().Execute("select strVouchID, dblMoney from EC_ExpenVouch where strVouchID=N'0001'");
  Recordset second =
      Cn().Execute("select strVouchID, dblMoney from EC_ExpenVouch where strVouchID=N'0002'");
  ASSERT_NE(first.Shape(), nullptr);
  EXPECT_EQ(first.Shape(), second.Shape());
  EXPECT_EQ(second.Text("strVouchID"), "0002");

  Cn().Execute("create table ShapeProbe (nValue int)");
  Cn().Execute("insert into ShapeProbe (nValue) values (7)");
  EXPECT_EQ(Cn().Execute("select nValue from ShapeProbe").Field(0).type, kAdInteger);
  Cn().Execute("drop table ShapeProbe");
  Cn().Execute("create table ShapeProbe (nValue nvarchar(20))");
  Cn().Execute("insert into ShapeProbe (nValue) values (N'seven')");
  Recordset again = Cn().Execute("select nValue from ShapeProbe");
  EXPECT_EQ(again.Field(0).type, kAdVarWChar);
  EXPECT_EQ(again.Text("nValue"), "seven");
}

TEST_F(ConnectionTest, BadConnectionsAndStatementsFailCleanly) {
  Connection cn;
  EXPECT_THROW(cn.Open("Provider=SQLite;Data Source=/no/such/dir/x.db"), DbError);
  EXPECT_FALSE(cn.IsOpen());
  EXPECT_THROW(cn.Execute("select 1"), DbError);
  try {
    Cn().Execute("select nosuch from nowhere");
    FAIL();
  } catch (const DbError& e) {
    EXPECT_EQ(e.Number(), kErrStatement);
  }
  // A writer waiting for another writer's lock gives up with the timeout code (a timeout of 0
  // does not wait at all).
  const std::string update = "update Department set cDepName = cDepName where cDepCode = N'01'";
  Connection other;
  other.Open(Session().ConnectionString());
  other.BeginTrans();
  other.Execute(update);
  Connection waiting;
  waiting.SetCommandTimeout(0);
  waiting.Open(Session().ConnectionString());
  try {
    waiting.BeginTrans();
    waiting.Execute(update);
    FAIL() << "the second writer was not blocked";
  } catch (const DbError& e) {
    EXPECT_EQ(e.Number(), kErrTimeout);
  }
  other.RollbackTrans();
}

// A database that goes away, under a statement, under an idle connection or before one opens,
// fails with the connection code whatever the engine said.
TEST_F(ConnectionTest, ALostDatabaseFailsWithTheConnectionCode) {
  auto code_of = [](const std::function<void()>& step) {
    try {
      step();
    } catch (const DbError& e) {
      return e.Number() == kErrConnection ? std::string("connection")
                                          : e.NativeCode() + " " + e.Description();
    }
    return std::string("no error");
  };
  const std::string account = Session().ConnectionString();
  if (testing::OnPostgres()) {
    Connection running, idle;
    running.Open(account);
    idle.Open(account);
    idle.Execute("select 1 as x");
    std::thread cut([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      SetDatabaseReachable(false);
    });
    EXPECT_EQ(code_of([&] { running.Execute("select pg_sleep(10) as x"); }), "connection");
    cut.join();
    EXPECT_EQ(code_of([&] { idle.Execute("select 1 as x"); }), "connection");
  } else {
    SetDatabaseReachable(false);
  }
  Connection fresh;
  EXPECT_EQ(code_of([&] { fresh.Open(account); }), "connection");
  SetDatabaseReachable(true);
  fresh.Open(account);
  EXPECT_EQ(fresh.Execute("select 1 as x").Value("x").ToInt(), 1);
}

// A write transaction locks its own account: a writer of another account on the same system
// database and tempdb starts at once, also while the first one holds a work table in tempdb.
// Writers of one account queue, and one that waits too long gets the timeout error.
TEST_F(ConnectionTest, WritersOfTwoAccountsDoNotWaitForEachOther) {
  host::InitOptions second;
  second.demo = true;
  second.account = "002";
  host::InitDataDirectory(Data(), second);
  const std::string year = host::CurrentYearText();
  auto count = [&](const std::string& account) {
    Connection cn;
    cn.Open(Data().ConnectionString(account, year));
    return cn.Execute("select count(*) from EC_ExpenVouch where strVouchID like 'W%'")
        .Value(0)
        .ToText();
  };
  auto insert = [](Connection& cn, const std::string& number) {
    cn.Execute(
        "insert into EC_ExpenVouch (strTypeCode, strVouchID, dtLoanDate, dblMoney) values "
        "(N'201', N'" +
        number + "', '2004-03-05', 10)");
  };

  Connection first;
  first.Open(Data().ConnectionString("001", year));
  auto holding = std::make_unique<Transaction>(first);
  insert(first, "W1");
  first.Execute("create table tempdb..lock_probe (x int)");
  first.Execute("insert into tempdb..lock_probe (x) values (1)");
  {
    Connection other;
    other.Open(Data().ConnectionString("002", year));
    Transaction transaction(other, 1, 5);
    insert(other, "W2");
    transaction.Commit();
  }
  EXPECT_EQ(count("002"), "1");

  if (!testing::OnPostgres()) {
    Connection same;
    same.Open(Data().ConnectionString("001", year));
    try {
      Transaction waits_too_long(same, 1, 5);
      ADD_FAILURE() << "a second writer of the account did not wait";
    } catch (const DbError& e) {
      EXPECT_EQ(e.Number(), kErrTimeout) << e.Description();
    }
    std::atomic<bool> committed = false;
    std::atomic<bool> began_after_commit = false;
    std::thread queued([&] {
      Transaction transaction(same, 30, 30);
      began_after_commit = committed.load();
      insert(same, "W3");
      transaction.Commit();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    committed = true;
    holding->Commit();
    queued.join();
    EXPECT_TRUE(began_after_commit);
  } else {
    holding->Commit();
  }
  holding.reset();
  first.Execute("drop table tempdb..lock_probe");
  EXPECT_EQ(count("001"), testing::OnPostgres() ? "1" : "2");
  EXPECT_EQ(count("002"), "1");
}

// The reads of a request share one snapshot; a write ends it and is committed at once, and a
// write transaction begun after reads works as one begun on a fresh connection.
TEST_F(ConnectionTest, ReadsShareASnapshotUntilTheRequestWrites) {
  Connection reader;
  reader.Open(Data().ConnectionString("001", host::CurrentYearText()));
  const std::string count = "select count(*) from EC_ExpenVouch";
  reader.BeginRead();
  EXPECT_FALSE(reader.InTransaction());
  const int64_t before = reader.Execute(count).Value(0).ToInt();
  InsertClaim("{00000000-0000-0000-0000-000000000001}", "R1", "201");
  if (!testing::OnPostgres()) {
    EXPECT_EQ(reader.Execute(count).Value(0).ToInt(), before);
  }
  reader.Execute(
      "insert into EC_ExpenVouch (strTypeCode, strVouchID, dtLoanDate) values (N'201', N'R2', "
      "'2004-03-05')");
  EXPECT_FALSE(reader.InTransaction());
  EXPECT_EQ(Scalar(count), std::to_string(before + 2));
  reader.BeginRead();
  EXPECT_EQ(reader.Execute(count).Value(0).ToInt(), before + 2);
  {
    Transaction transaction(reader);
    EXPECT_TRUE(reader.InTransaction());
    reader.Execute("delete from EC_ExpenVouch where strVouchID = N'R2'");
    transaction.Commit();
  }
  EXPECT_EQ(Scalar(count), std::to_string(before + 1));
  reader.EndRead();
}

// A write transaction that reads a work table in tempdb holds tempdb from then on, so that its
// own write there later cannot fail on a change another connection made in between (SQLite
// cannot wait for a lock it must upgrade). The other writer waits instead, here in vain.
TEST_F(ConnectionTest, AWriterThatReadsTempdbWritesThereLater) {
  if (testing::OnPostgres()) GTEST_SKIP() << "rows, not databases, are locked there";
  const std::string account = Data().ConnectionString("001", host::CurrentYearText());
  Cn().Execute("create table tempdb..probe_rows (x int)");
  Connection writer;
  writer.Open(account);
  Transaction transaction(writer);
  EXPECT_EQ(writer.Execute("select count(*) from tempdb..probe_rows").Value(0).ToInt(), 0);
  Connection other;  // not a writer of the account: it reaches tempdb too
  other.SetCommandTimeout(1);
  other.Open(Data().SystemConnectionString());
  try {
    other.Execute("insert into tempdb..probe_rows (x) values (2)");
    ADD_FAILURE() << "tempdb was written while a transaction that read it was open";
  } catch (const DbError& e) {
    EXPECT_EQ(e.Number(), kErrTimeout) << e.Description();
  }
  writer.Execute("insert into tempdb..probe_rows (x) values (1)");
  transaction.Commit();
  EXPECT_EQ(Scalar("select count(*) from tempdb..probe_rows"), "1");
  Cn().Execute("drop table tempdb..probe_rows");
}

// Checkpoints run in the background, and they must complete even while one writer keeps
// committing: otherwise the WAL is never started again from its beginning and grows with every
// commit until the disk is full.
TEST_F(ConnectionTest, TheWalStaysBoundedWhileAWriterKeepsCommitting) {
  if (testing::OnPostgres()) GTEST_SKIP() << "the server keeps its own log";
  const std::string year = host::CurrentYearText();
  const std::string wal =
      Data().Store().Describe(host::DataDir::AccountDatabase("001", year)) + "-wal";
  Connection cn;
  cn.Open(Data().ConnectionString("001", year));
  cn.Execute("create table wal_probe (id int, filler nvarchar(4000))");
  cn.Execute("insert into wal_probe (id, filler) values (1, N'')");
  // 16,000 commits of a page or more each: over 64 MB of WAL if no checkpoint ever completes,
  // against a threshold of 1,000 pages (4 MB) and what the writer adds while one runs.
  const std::string filler(3000, 'x');
  uintmax_t largest = 0;
  for (int i = 0; i < 16000; ++i) {
    Transaction transaction(cn);
    cn.Execute("update wal_probe set filler = N'" + filler + std::to_string(i) + "' where id = 1");
    transaction.Commit();
    if (i % 200 == 199) largest = std::max(largest, std::filesystem::file_size(wal));
  }
  EXPECT_LT(largest, uintmax_t{32} << 20) << wal;
  cn.Execute("drop table wal_probe");
}

}  // namespace
}  // namespace rembiz::db
