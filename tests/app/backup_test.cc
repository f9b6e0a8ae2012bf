// `rembiz backup` while vouchers are being written, and `rembiz restore` of what it wrote: every
// voucher acknowledged before the backup began comes back whole, and a damaged archive or a
// folder in use changes nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "db/connection.h"
#include "host/database_setup.h"
#include "support/program.h"
#include "support/voucher_fixture.h"

namespace rembiz::testing {
namespace {

namespace fs = std::filesystem;

class BackupTest : public VoucherTest {
 protected:
  // One loan with its payment line, committed as one.
  void WriteLoan(int n) {
    Cn().BeginTrans();
    InsertLoan("BK" + std::to_string(100000 + n), "0201001", Date("03-01"));
    Cn().CommitTrans();
  }
};

TEST_F(BackupTest, ABackupTakenDuringWritesRestoresEveryAcknowledgedVoucher) {
  if (OnPostgres()) GTEST_SKIP() << "PostgreSQL is backed up with pg_dump";
  const std::string data = Data().Describe();
  const fs::path work = fs::path(data).parent_path() / (fs::path(data).filename().string() + "-bk");
  fs::remove_all(work);
  fs::create_directories(work);
  const std::string archive = (work / "backup.zip").string();

  std::atomic<int> acknowledged = 0;
  std::atomic<bool> stop = false;
  std::thread writer([&] {
    for (int n = 1; !stop && n < 50'000; ++n) {
      WriteLoan(n);
      acknowledged = n;
    }
  });
  while (acknowledged < 20) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const int before = acknowledged;
  ProgramResult backup = RunCommand(Rembiz("backup --data '" + data + "' --out '" + archive + "'"));
  const int after = acknowledged;
  stop = true;
  writer.join();
  ASSERT_EQ(backup.code, 0) << backup.out;
  EXPECT_GT(after, before) << "the writes went on while the backup ran";

  const std::string restored = (work / "restored").string();
  ProgramResult restore =
      RunCommand(Rembiz("restore --data '" + restored + "' --from '" + archive + "'"));
  ASSERT_EQ(restore.code, 0) << restore.out;
  host::DataDir dir(restored);
  db::Connection cn;
  cn.Open(dir.ConnectionString("001", Year()));
  // The loans of one moment: none missing before it, each with its payment line.
  db::Recordset r = cn.Execute(
      "select count(*) as n, max(strVouchID) as last, (select count(*) from EC_LoanVouch_Sub s "
      "join EC_LoanVouch v on v.GUID = s.MGuid where v.strVouchID like 'BK%') as lines "
      "from EC_LoanVouch where strVouchID like 'BK%'");
  int count = static_cast<int>(r.Value("n").ToInt());
  EXPECT_GE(count, before);
  EXPECT_LE(count, after);
  EXPECT_EQ(r.Text("last"), "BK" + std::to_string(100000 + count));
  EXPECT_EQ(static_cast<int>(r.Value("lines").ToInt()), count);
  cn.Close();

  // A folder that holds databases is replaced only when asked.
  ProgramResult again =
      RunCommand(Rembiz("restore --data '" + restored + "' --from '" + archive + "'"));
  EXPECT_NE(again.code, 0);
  EXPECT_NE(again.out.find("--force"), std::string::npos) << again.out;

  // A damaged archive is refused before anything is replaced.
  const std::string damaged = (work / "damaged.zip").string();
  fs::copy_file(archive, damaged);
  {
    std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(fs::file_size(damaged) / 3));
    file.put('\x5a');
    file.put('\xa5');
  }
  ProgramResult bad =
      RunCommand(Rembiz("restore --force --data '" + restored + "' --from '" + damaged + "'"));
  EXPECT_NE(bad.code, 0) << bad.out;
  cn.Open(dir.ConnectionString("001", Year()));
  EXPECT_EQ(cn.Execute("select count(*) as n from EC_LoanVouch where strVouchID like 'BK%'")
                .Value("n")
                .ToInt(),
            count);
  cn.Close();
  db::ClearConnectionPool();
  fs::remove_all(work);
}

// The README's recipe for PostgreSQL: pg_dump of the installation's database, pg_restore into a
// new one, and the program works on the copy.
TEST_F(BackupTest, ThePostgresRecipeRestoresADatabaseTheProgramRunsOn) {
  if (!OnPostgres()) GTEST_SKIP() << "a folder of SQLite files is backed up with rembiz backup";
  const std::string bin = "/usr/lib/postgresql/15/bin/";
  if (!fs::exists(bin + "pg_dump")) GTEST_SKIP() << "pg_dump is not installed";
  for (int n = 1; n <= 3; ++n) WriteLoan(n);
  const std::string url = Data().Describe();
  const std::string copy = FreshLocation("pgrecipe");
  const fs::path dump =
      fs::temp_directory_path() / ("rembiz-" + std::to_string(::getpid()) + ".dump");

  ProgramResult dumped =
      RunCommand(bin + "pg_dump -Fc -d '" + url + "' -f '" + dump.string() + "'");
  ASSERT_EQ(dumped.code, 0) << dumped.out;
  const std::string server = url.substr(0, url.rfind('/') + 1);
  const std::string name = copy.substr(copy.rfind('/') + 1);
  ProgramResult made =
      RunCommand(bin + "psql -q -d '" + server + "postgres' -c 'create database \"" + name + "\"'");
  ASSERT_EQ(made.code, 0) << made.out;
  ProgramResult restored =
      RunCommand(bin + "pg_restore --no-owner -d '" + copy + "' '" + dump.string() + "'");
  fs::remove(dump);
  ASSERT_EQ(restored.code, 0) << restored.out;

  ProgramResult loans = RunCommand(Rembiz("sql --db '" + copy +
                                          "' \"select count(*) as n from "
                                          "EC_LoanVouch where strVouchID like 'BK%'\""));
  EXPECT_EQ(loans.code, 0) << loans.out;
  EXPECT_NE(loans.out.find("3"), std::string::npos) << loans.out;
  ProgramResult report =
      RunCommand(Rembiz("report loans --db '" + copy + "' --user demo --format csv"));
  EXPECT_EQ(report.code, 0) << report.out;
  EXPECT_NE(report.out.find("BK100001"), std::string::npos) << report.out;
}

}  // namespace
}  // namespace rembiz::testing
