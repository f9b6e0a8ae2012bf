#include "voucher/receipts.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "db/text.h"
#include "frame/convert.h"
#include "frame/sql_helpers.h"
#include "host/errors.h"
#include "host/passwords.h"
#include "voucher/scope.h"

namespace rembiz::voucher {
namespace {

using db::SqlText;

struct VoucherOf {
  int kind = 0;  // 1 loan, 2 claim
  std::string table;
  std::string id;  // strVouchID
  bool submitted = false;
  std::string maker;
  std::string autoid;  // how the pages open it
};

// The voucher of a GUID in the operator's reach; a voucher out of reach is not found.
std::optional<VoucherOf> FindVoucher(host::Session& session, db::Connection& cn,
                                     std::string_view guid) {
  if (guid.empty() || guid.size() > 40) return std::nullopt;
  const std::pair<int, const char*> tables[] = {{1, "EC_LoanVouch"}, {2, "EC_ExpenVouch"}};
  for (const auto& [kind, table] : tables) {
    db::Recordset rs = cn.Execute("select strVouchID, blnAudi, strPersonID, AutoID from " +
                                  std::string(table) + " where GUID = " + SqlText(guid));
    if (rs.Eof()) continue;
    if (!VoucherInScope(session, cn, table, "GUID", guid)) return std::nullopt;
    return VoucherOf{kind,
                     table,
                     rs.Text("strVouchID"),
                     rs.Value("blnAudi").ToBool(),
                     rs.Text("strPersonID"),
                     rs.Text("AutoID")};
  }
  return std::nullopt;
}

VoucherOf RequireVoucher(host::Session& session, db::Connection& cn, std::string_view guid) {
  std::optional<VoucherOf> voucher = FindVoucher(session, cn, guid);
  if (!voucher) Raise(kErrBusiness, "Rembiz.Receipt.NoVoucher");
  return *voucher;
}

// Adding and removing: the voucher's maker, while it is a draft.
void RequireChangeable(host::Session& session, const VoucherOf& voucher) {
  if (voucher.submitted) Raise(kErrBusiness, "Rembiz.Receipt.Frozen", voucher.id);
  RequireDraftMaker(session, false, voucher.maker);
}

// The AutoIDs of a claim's rows in the order they were entered: row n is the n-th.
std::vector<std::string> ClaimRows(db::Connection& cn, std::string_view claim_guid) {
  std::vector<std::string> rows;
  for (db::Recordset rs = cn.Execute("select AutoID from EC_ExpenVouch_Sub where MGuid = " +
                                     SqlText(claim_guid) + " order by AutoID");
       !rs.Eof(); rs.MoveNext()) {
    rows.push_back(rs.Text("AutoID"));
  }
  return rows;
}

std::string RowLabel(int row) { return "(" + std::to_string(row) + ")"; }

constexpr const char* kReceiptColumns =
    "r.GUID, r.cVouchGUID, r.iVouchKind, r.iRowNo, r.cFileName, r.cMimeType, r.iSize, r.cSha256, "
    "r.cUploader, r.dUploaded, r.cThumbType, r.iReadState, r.cReadAmount, r.cReadDate, "
    "r.cReadInvoice";

Receipt ReceiptOf(const db::Recordset& rs) {
  Receipt r;
  r.guid = rs.Text("GUID");
  r.voucher_guid = rs.Text("cVouchGUID");
  r.voucher_kind = static_cast<int>(rs.Value("iVouchKind").ToInt());
  r.row = static_cast<int>(rs.Value("iRowNo").ToInt());
  r.file_name = rs.Text("cFileName");
  r.mime = rs.Text("cMimeType");
  r.size = rs.Value("iSize").ToInt();
  r.sha256 = rs.Text("cSha256");
  r.uploader = rs.Text("cUploader");
  r.uploaded = rs.Text("dUploaded");
  r.has_thumbnail = !rs.Text("cThumbType").empty();
  r.read_state = static_cast<int>(rs.Value("iReadState").ToInt());
  r.read_amount = rs.Text("cReadAmount");
  r.read_date = rs.Text("cReadDate");
  r.read_invoice = rs.Text("cReadInvoice");
  return r;
}

// The number of the voucher a GUID names, whichever family it is.
constexpr const char* kVoucherNumber =
    "coalesce((select strVouchID from EC_LoanVouch where GUID = o.cVouchGUID), "
    "(select strVouchID from EC_ExpenVouch where GUID = o.cVouchGUID))";

}  // namespace

ReceiptLimits ReadReceiptLimits(db::Connection& cn) {
  ReceiptLimits limits;
  std::string mb = frame::AccOption("intReceiptMaxMB", cn, "EC");
  std::string files = frame::AccOption("intReceiptMaxFiles", cn, "EC");
  if (frame::IsNumeric(db::Variant(mb)) && std::stod(mb) > 0) {
    limits.max_bytes = static_cast<int64_t>(std::stod(mb) * 1024 * 1024);
  }
  if (frame::IsNumeric(db::Variant(files)) && std::stoi(files) > 0) {
    limits.max_files = std::stoi(files);
  }
  return limits;
}

Receipt AddReceipt(host::Session& session, db::Connection& cn, const ReceiptUpload& upload) {
  const VoucherOf voucher = RequireVoucher(session, cn, upload.voucher_guid);
  RequireChangeable(session, voucher);
  if (upload.row < 0 || (voucher.kind == 1 && upload.row != 0) ||
      (voucher.kind == 2 &&
       upload.row > static_cast<int>(ClaimRows(cn, upload.voucher_guid).size()))) {
    Raise(kErrBusiness, "Rembiz.Receipt.NoRow", RowLabel(upload.row));
  }
  const ReceiptLimits limits = ReadReceiptLimits(cn);
  if (upload.bytes.empty()) Raise(kErrBusiness, "Rembiz.Receipt.Empty");
  if (static_cast<int64_t>(upload.bytes.size()) > limits.max_bytes) {
    Raise(kErrBusiness, "Rembiz.Receipt.TooLarge",
          std::to_string(limits.max_bytes / (1024 * 1024)));
  }
  db::Recordset count = cn.Execute("select count(*) as n from EC_Receipt where cVouchGUID = " +
                                   SqlText(upload.voucher_guid));
  if (count.Value("n").ToInt() >= limits.max_files) {
    Raise(kErrBusiness, "Rembiz.Receipt.TooMany", std::to_string(limits.max_files));
  }

  const std::string guid = cn.NewGuid();
  // The name is shown only; what cannot be shown goes (paths, control characters).
  std::string name = upload.file_name;
  if (size_t slash = name.find_last_of("/\\"); slash != std::string::npos) name.erase(0, slash + 1);
  name.erase(std::remove_if(name.begin(), name.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x20; }),
             name.end());
  if (name.empty()) name = "receipt";
  if (name.size() > 200) name.resize(200);
  cn.Execute(
      "insert into EC_Receipt (GUID, cVouchGUID, iVouchKind, iRowNo, cFileName, cMimeType, iSize, "
      "cSha256, cUploader, cThumbType) values (" +
      SqlText(guid) + ", " + SqlText(upload.voucher_guid) + ", " + std::to_string(voucher.kind) +
      ", " + std::to_string(upload.row) + ", " + SqlText(name) + ", " + SqlText(upload.mime) +
      ", " + std::to_string(upload.bytes.size()) + ", " + SqlText(host::Sha256Hex(upload.bytes)) +
      ", " + SqlText(session.UserId()) + ", " +
      (upload.thumbnail.empty() ? "null" : SqlText(upload.thumbnail_mime)) + ")");
  cn.Execute("insert into EC_ReceiptFile (GUID) values (" + SqlText(guid) + ")");
  cn.WriteBytes(kReceiptFiles, kReceiptContent, "GUID", guid, upload.bytes);
  if (!upload.thumbnail.empty()) {
    cn.WriteBytes(kReceiptFiles, kReceiptThumb, "GUID", guid, upload.thumbnail);
  }

  db::Recordset rs = cn.Execute(std::string("select ") + kReceiptColumns +
                                " from EC_Receipt r where r.GUID = " + SqlText(guid));
  return ReceiptOf(rs);
}

std::vector<Receipt> ListReceipts(host::Session& session, db::Connection& cn,
                                  std::string_view voucher_guid) {
  RequireVoucher(session, cn, voucher_guid);
  std::vector<Receipt> out;
  std::map<std::string, size_t> index;
  for (db::Recordset rs = cn.Execute(std::string("select ") + kReceiptColumns +
                                     " from EC_Receipt r where r.cVouchGUID = " +
                                     SqlText(voucher_guid) + " order by r.iRowNo, r.dUploaded");
       !rs.Eof(); rs.MoveNext()) {
    out.push_back(ReceiptOf(rs));
    index[out.back().guid] = out.size() - 1;
  }
  if (out.empty()) return out;
  // The same file elsewhere: on another voucher, or on another row of this one.
  for (db::Recordset rs = cn.Execute(
           std::string("select r.GUID as mine, o.cVouchGUID as other, o.iRowNo as other_row, ") +
           kVoucherNumber +
           " as other_id from EC_Receipt r join EC_Receipt o on o.cSha256 = r.cSha256 and "
           "o.GUID <> r.GUID where r.cVouchGUID = " +
           SqlText(voucher_guid) +
           " and (o.cVouchGUID <> r.cVouchGUID or o.iRowNo <> r.iRowNo) order by o.dUploaded");
       !rs.Eof(); rs.MoveNext()) {
    auto found = index.find(rs.Text("mine"));
    if (found == index.end()) continue;
    out[found->second].duplicates.push_back({"file", rs.Text("other_id"), rs.Text("other"),
                                             static_cast<int>(rs.Value("other_row").ToInt())});
  }
  return out;
}

ReceiptFileInfo ReadableReceipt(host::Session& session, db::Connection& cn,
                                std::string_view receipt_guid, bool thumbnail) {
  db::Recordset rs = cn.Execute(
      "select cVouchGUID, cFileName, cMimeType, cThumbType from EC_Receipt where GUID = " +
      SqlText(receipt_guid));
  if (rs.Eof() || !FindVoucher(session, cn, rs.Text("cVouchGUID"))) {
    Raise(kErrBusiness, "Rembiz.Receipt.NotFound");
  }
  ReceiptFileInfo out;
  out.file_name = rs.Text("cFileName");
  out.mime = thumbnail ? rs.Text("cThumbType") : rs.Text("cMimeType");
  if (out.mime.empty()) Raise(kErrBusiness, "Rembiz.Receipt.NotFound");
  std::optional<int64_t> size = cn.BytesSize(
      kReceiptFiles, thumbnail ? kReceiptThumb : kReceiptContent, "GUID", receipt_guid);
  if (!size || *size == 0) Raise(kErrBusiness, "Rembiz.Receipt.NotFound");
  out.size = *size;
  return out;
}

ReceiptBytes ReadReceipt(host::Session& session, db::Connection& cn, std::string_view receipt_guid,
                         bool thumbnail) {
  ReceiptFileInfo info = ReadableReceipt(session, cn, receipt_guid, thumbnail);
  std::optional<std::string> bytes = cn.ReadBytes(
      kReceiptFiles, thumbnail ? kReceiptThumb : kReceiptContent, "GUID", receipt_guid);
  if (!bytes || bytes->empty()) Raise(kErrBusiness, "Rembiz.Receipt.NotFound");
  return {std::move(*bytes), std::move(info.mime), std::move(info.file_name)};
}

void DeleteReceipt(host::Session& session, db::Connection& cn, std::string_view receipt_guid) {
  db::Recordset rs =
      cn.Execute("select cVouchGUID from EC_Receipt where GUID = " + SqlText(receipt_guid));
  std::optional<VoucherOf> voucher;
  if (!rs.Eof()) voucher = FindVoucher(session, cn, rs.Text("cVouchGUID"));
  if (!voucher) Raise(kErrBusiness, "Rembiz.Receipt.NotFound");
  RequireChangeable(session, *voucher);
  cn.Execute("delete from EC_ReceiptFile where GUID = " + SqlText(receipt_guid) +
             "; delete from EC_Receipt where GUID = " + SqlText(receipt_guid));
}

std::vector<RowDuplicate> ClaimRowDuplicates(db::Connection& cn, std::string_view claim_guid) {
  std::vector<RowDuplicate> out;
  db::Recordset head =
      cn.Execute("select strLoanID from EC_ExpenVouch where GUID = " + SqlText(claim_guid));
  if (head.Eof() || head.Text("strLoanID").empty()) return out;
  int row = 0;
  for (db::Recordset rows =
           cn.Execute("select strIOItem, dblMoney, dtBDate from EC_ExpenVouch_Sub where MGuid = " +
                      SqlText(claim_guid) + " order by AutoID");
       !rows.Eof(); rows.MoveNext()) {
    ++row;
    if (rows.Text("dtBDate").empty() || rows.Value("dblMoney").IsNull()) continue;
    for (db::Recordset other = cn.Execute(
             "select e.strVouchID, e.GUID, (select count(*) from EC_ExpenVouch_Sub p where "
             "p.MGuid = s.MGuid and p.AutoID <= s.AutoID) as row_no from EC_ExpenVouch_Sub s "
             "join EC_ExpenVouch e on e.GUID = s.MGuid where e.strLoanID = " +
             SqlText(head.Text("strLoanID")) + " and e.GUID <> " + SqlText(claim_guid) +
             " and s.strIOItem = " + SqlText(rows.Text("strIOItem")) +
             " and s.dblMoney = " + frame::SqlNumber(rows.Value("dblMoney")) +
             " and s.dtBDate = " + SqlText(rows.Text("dtBDate")) + " order by e.AutoID, s.AutoID");
         !other.Eof(); other.MoveNext()) {
      out.push_back({row,
                     {"row", other.Text("strVouchID"), other.Text("GUID"),
                      static_cast<int>(other.Value("row_no").ToInt())}});
    }
  }
  return out;
}

void RequireReceipts(db::Connection& cn, std::string_view claim_guid) {
  // The rows that have a receipt, read once; a submission is on the path of every claim.
  std::set<int64_t> with_receipt;
  for (db::Recordset rs = cn.Execute("select distinct iRowNo from EC_Receipt where cVouchGUID = " +
                                     SqlText(claim_guid));
       !rs.Eof(); rs.MoveNext()) {
    with_receipt.insert(rs.Value("iRowNo").ToInt());
  }
  int row = 0;
  for (db::Recordset rs = cn.Execute(
           "select s.dblMoney, i.dblReceiptAbove from EC_ExpenVouch_Sub s left join EC_IOItem i on "
           "i.strCode = s.strIOItem where s.MGuid = " +
           SqlText(claim_guid) + " order by s.AutoID");
       !rs.Eof(); rs.MoveNext()) {
    ++row;
    const db::Variant& above = rs.Value("dblReceiptAbove");
    if (above.IsNull() || rs.Value("dblMoney").ToDouble() <= above.ToDouble()) continue;
    if (!with_receipt.contains(row)) {
      Raise(kErrBusiness, "Rembiz.Receipt.Required", RowLabel(row), above.ToText());
    }
  }
}

void DeleteVoucherReceipts(db::Connection& cn, std::string_view voucher_guid) {
  cn.Execute(
      "delete from EC_ReceiptFile where GUID in (select GUID from EC_Receipt where cVouchGUID = " +
      SqlText(voucher_guid) +
      "); delete from EC_Receipt where cVouchGUID = " + SqlText(voucher_guid));
}

void StoreReceiptReading(db::Connection& cn, std::string_view receipt_guid, int state,
                         std::string_view amount, std::string_view date, std::string_view invoice) {
  auto text = [](std::string_view v) { return v.empty() ? std::string("null") : SqlText(v); };
  cn.Execute("update EC_Receipt set iReadState = " + std::to_string(state) + ", cReadAmount = " +
             text(amount.substr(0, 30)) + ", cReadDate = " + text(date.substr(0, 10)) +
             ", cReadInvoice = " + text(invoice.substr(0, 40)) +
             " where GUID = " + SqlText(receipt_guid));
}

std::vector<DuplicatePair> PossibleDuplicates(host::Session& session, db::Connection& cn) {
  std::vector<DuplicatePair> out;
  // Each voucher looked up (and its reach decided) once, however many pairs it is in.
  std::map<std::string, std::optional<VoucherOf>> vouchers;
  auto voucher_of = [&](const std::string& guid) -> const std::optional<VoucherOf>& {
    auto found = vouchers.find(guid);
    if (found == vouchers.end()) {
      found = vouchers.emplace(guid, FindVoucher(session, cn, guid)).first;
    }
    return found->second;
  };
  // A pair of places (columns a, a_row, b, b_row) when the operator reaches both vouchers.
  auto pair_of = [&](const db::Recordset& rs, const char* kind) -> std::optional<DuplicatePair> {
    const std::optional<VoucherOf>& a = voucher_of(rs.Text("a"));
    const std::optional<VoucherOf>& b = voucher_of(rs.Text("b"));
    if (!a || !b) return std::nullopt;
    DuplicatePair pair;
    pair.kind = kind;
    pair.voucher_id = a->id;
    pair.other_voucher_id = b->id;
    pair.voucher_kind = a->kind;
    pair.other_voucher_kind = b->kind;
    pair.voucher_autoid = a->autoid;
    pair.other_voucher_autoid = b->autoid;
    pair.row = static_cast<int>(rs.Value("a_row").ToInt());
    pair.other_row = static_cast<int>(rs.Value("b_row").ToInt());
    return pair;
  };
  // The same file on two places.
  for (db::Recordset rs = cn.Execute(
           "select r.cVouchGUID as a, r.iRowNo as a_row, o.cVouchGUID as b, o.iRowNo as b_row, "
           "r.cSha256 from EC_Receipt r join EC_Receipt o on o.cSha256 = r.cSha256 and "
           "o.GUID > r.GUID and (o.cVouchGUID <> r.cVouchGUID or o.iRowNo <> r.iRowNo) order by "
           "r.dUploaded");
       !rs.Eof(); rs.MoveNext()) {
    std::optional<DuplicatePair> found = pair_of(rs, "file");
    if (!found) continue;
    DuplicatePair& pair = *found;
    pair.sha256 = rs.Text("cSha256");
    // Each pair once, the earlier voucher number first.
    if (std::tie(pair.other_voucher_id, pair.other_row) < std::tie(pair.voucher_id, pair.row)) {
      std::swap(pair.voucher_id, pair.other_voucher_id);
      std::swap(pair.row, pair.other_row);
      std::swap(pair.voucher_kind, pair.other_voucher_kind);
      std::swap(pair.voucher_autoid, pair.other_voucher_autoid);
    }
    out.push_back(std::move(*found));
  }
  // The same person, item, amount and date on two claims.
  for (db::Recordset rs = cn.Execute(
           "select e.GUID as a, f.GUID as b, e.strLoanID, s.strIOItem, s.dblMoney, s.dtBDate, "
           "(select count(*) from EC_ExpenVouch_Sub p where p.MGuid = s.MGuid and p.AutoID <= "
           "s.AutoID) as a_row, (select count(*) from EC_ExpenVouch_Sub p where p.MGuid = t.MGuid "
           "and p.AutoID <= t.AutoID) as b_row from EC_ExpenVouch_Sub s join EC_ExpenVouch e on "
           "e.GUID = s.MGuid join EC_ExpenVouch_Sub t on t.strIOItem = s.strIOItem and t.dblMoney "
           "= s.dblMoney and t.dtBDate = s.dtBDate and t.MGuid <> s.MGuid join EC_ExpenVouch f on "
           "f.GUID = t.MGuid and f.strLoanID = e.strLoanID where e.AutoID < f.AutoID and "
           "s.dtBDate is not null and s.dtBDate <> '' order by e.AutoID, s.AutoID");
       !rs.Eof(); rs.MoveNext()) {
    std::optional<DuplicatePair> found = pair_of(rs, "row");
    if (!found) continue;
    DuplicatePair& pair = *found;
    pair.person = rs.Text("strLoanID");
    pair.item = rs.Text("strIOItem");
    pair.amount = rs.Text("dblMoney");
    pair.date = rs.Text("dtBDate");
    out.push_back(std::move(*found));
  }
  return out;
}

}  // namespace rembiz::voucher
