#include "ledger/staging.h"

#include <algorithm>
#include <cmath>

#include "db/text.h"
#include "frame/convert.h"

namespace rembiz::ledger {
namespace {

using frame::SqlValue;

// A number as the staged line takes it: its numeric text, "0" when there is none.
std::string Number(double value) { return std::isfinite(value) ? db::DoubleText(value) : "0"; }

std::string Number(const db::Variant& value) {
  return frame::IsNumeric(value) ? frame::SqlNumber(value) : "0";
}

std::string Text(const db::Variant& value) { return SqlValue(value); }

std::string Text(const std::string& value) { return SqlValue(db::Variant(value)); }

}  // namespace

std::string StagingColumnsDdl(const host::Session& session) {
  std::string year = session.FiscalYear();
  bool numeric_year = !year.empty() && year.size() <= 4;
  for (char c : year) numeric_year = numeric_year && c >= '0' && c <= '9';
  return "(csign nvarchar(100) NULL, ino_id int NULL, inid int NULL, cbill nvarchar(100) NULL, "
         "doutbilldate smalldatetime NULL, dbill_date smalldatetime NULL, ccashier nvarchar(100) "
         "NULL, idoc int NULL, ctext1 nvarchar(100) NULL, ctext2 nvarchar(100) NULL, cexch_name "
         "nvarchar(100) NULL, cdigest nvarchar(240) NULL, ccode nvarchar(100) NULL DEFAULT '', "
         "ccodename nvarchar(100) NULL, md money NULL, mc money NULL, md_f money NULL, mc_f money "
         "NULL, nfrat float NULL, nd_s float NULL, nc_s float NULL, csettle nvarchar(100) NULL, "
         "csettlename nvarchar(100) NULL, cn_id nvarchar(255) NULL, dt_date smalldatetime NULL, "
         "cdept_id nvarchar(255) NULL, cdept_name nvarchar(255) NULL, cperson_id nvarchar(255) "
         "NULL, cperson_name nvarchar(255) NULL, ccus_id nvarchar(250) NULL, ccus_name "
         "nvarchar(255) NULL, csup_id nvarchar(250) NULL, csup_name nvarchar(255) NULL, citem_id "
         "nvarchar(250) NULL, citem_name nvarchar(255) NULL, citem_class nvarchar(200) NULL, "
         "citemclassname nvarchar(255) NULL, cname nvarchar(255) NULL, ccode_equal nvarchar(250) "
         "NULL, bvouchedit bit NOT NULL DEFAULT 0, bvouchaddordele bit NOT NULL DEFAULT 0, "
         "bvouchmoneyhold bit NOT NULL DEFAULT 0, bvalueedit bit NOT NULL DEFAULT 0, bcodeedit bit "
         "NOT NULL DEFAULT 0, ccodecontrol nvarchar(50) NULL, bPCSedit bit NOT NULL DEFAULT 1, "
         "bDeptedit bit NOT NULL DEFAULT 0, bItemedit bit NOT NULL DEFAULT 0, bCusSupInput bit NOT "
         "NULL DEFAULT 1, coutaccset nvarchar(30) NULL DEFAULT " +
         db::SqlText(session.AccountId()) + ", ioutyear int NULL DEFAULT " +
         (numeric_year ? year : std::string("NULL")) +
         ", coutsysname nvarchar(100) NOT NULL DEFAULT 'EC', coutsysver nvarchar(100) NOT NULL "
         "DEFAULT '8.60', ioutperiod int NOT NULL DEFAULT " +
         // The period the session works in: the ledger takes it when a line names none.
         std::to_string(session.CurrentPeriod()) +
         ", coutsign nvarchar(200) NOT NULL, coutno_id nvarchar(300) NOT NULL, doutdate "
         "smalldatetime NULL, coutbillsign nvarchar(200) NULL, coutid nvarchar(250) NULL, iflag "
         "int NULL, bWH_BgFlag bit NOT NULL DEFAULT 0, cDefine1 nvarchar(200) NULL, cDefine2 "
         "nvarchar(200) NULL, cDefine3 nvarchar(200) NULL, cDefine4 datetime NULL, cDefine5 int "
         "NULL, cDefine6 datetime NULL, cDefine7 float NULL, cDefine8 nvarchar(40) NULL, cDefine9 "
         "nvarchar(80) NULL, cDefine10 nvarchar(60) NULL, cDefine11 nvarchar(120) NULL, cDefine12 "
         "nvarchar(120) NULL, cDefine13 nvarchar(120) NULL, cDefine14 nvarchar(120) NULL, "
         "cDefine15 int NULL, strTypeCode nvarchar(250) NULL, VouchGUID nvarchar(1024) NULL, "
         "cDefine16 float NULL, bDirFlag nvarchar(20) NULL)";
}

void PlaceAmounts(StagedLine& line, bool natural_debit, double local, double foreign,
                  bool modify_direction) {
  bool turn = modify_direction && foreign < 0;
  line.debit = turn ? !natural_debit : natural_debit;
  line.local = turn ? -local : local;
  line.foreign = turn ? -foreign : foreign;
}

void InsertStagedLine(db::Connection& cn, const host::Session& session, Generation& generation,
                      const StagedLine& line) {
  const std::string zero = "0";
  const std::string local = Number(line.local);
  const std::string foreign = Number(line.foreign);
  const std::string quantity = line.quantity ? Number(*line.quantity) : "Null";
  std::string sql =
      "Insert Into " + generation.table +
      " (strTypeCode,VouchGUID, inid, csign, cdigest, ccode,ccodename ,cexch_name, nfrat, md, "
      "md_f, mc, mc_f, nd_s, nc_s, cdept_id,cdept_name, cperson_id, cperson_name, "
      "ccus_id,ccus_name , csup_id,csup_name, citem_id,citem_name,citem_class, idoc, "
      "doutbilldate, coutid, ioutperiod,coutsysname, coutsign,coutno_id,doutdate,csettle,"
      "csettlename,bDirFlag,bWH_BgFlag";
  for (int i = 1; i <= 16; ++i) sql += ",cdefine" + std::to_string(i);
  if (line.bill_no) sql += ",cn_id";
  sql += ") Values (" + Text(line.type_code) + "," + Text(line.vouch_guid) + "," +
         std::to_string(generation.next_inid) + "," + Text(generation.sign) + "," +
         Text(LeftChars(line.digest, 60)) + "," + db::SqlText(line.code) + "," +
         db::SqlText(line.code_name) + "," + Text(line.currency) + "," + Number(line.rate) + "," +
         (line.debit ? local : zero) + "," + (line.debit ? foreign : zero) + "," +
         (line.debit ? zero : local) + "," + (line.debit ? zero : foreign) + "," +
         (line.quantity && !line.debit ? zero : quantity) + "," +
         (line.quantity && line.debit ? zero : quantity) + "," + Text(line.dept_id) + "," +
         Text(line.dept_name) + "," + Text(line.person_id) + "," + Text(line.person_name) +
         ",Null,Null,Null,Null," + Text(line.item_id) + ",Null," + Text(line.item_class) +
         ",Null," + Text(generation.bill_date) + "," + Text(line.vouch_guid) + "," +
         std::to_string(session.CurrentPeriod()) + ",'EC'," + Text(generation.sign) + "," +
         Text(line.source_number) + "," + Text(line.source_date) + "," + Text(line.settle) + "," +
         Text(line.settle_name) + "," + (line.debit ? "'1'" : "'0'") + "," + Number(line.bud_pass);
  for (const db::Variant& value : line.defines) sql += "," + Text(value);
  if (line.bill_no) sql += "," + Text(*line.bill_no);
  sql += ")";
  cn.Execute(frame::NormalizeSql(sql));
  ++generation.next_inid;
}

std::string LeftChars(std::string_view text, size_t count) {
  size_t pos = 0;
  for (size_t seen = 0; pos < text.size() && seen < count; ++seen) {
    unsigned char lead = static_cast<unsigned char>(text[pos]);
    size_t width = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : 4;
    pos += width;
  }
  return std::string(text.substr(0, std::min(pos, text.size())));
}

}  // namespace rembiz::ledger
