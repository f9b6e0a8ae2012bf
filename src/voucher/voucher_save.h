// The save of a loan voucher or a claim ("savevouch"), in the steps both take:
//   ValidateHead    presence and master data of the head and its amounts;
//   CheckMayChange  a changed voucher: the stored one may still change;
//   TakeFreeNumber  a new voucher: the number typed, or fresh ones from the numbering;
//   WriteHead       the budget pairs; insert, or update under the row version and drop the old
//                   rows (WriteNewHead: a number another writer took meanwhile is taken afresh);
//   RestartFlow     a changed voucher: its running approval starts over;
//   WriteRows, WriteTotal, WriteSaveHistory, Submit, PositionList.
// A family (the loan save, the claim save) gives its differences as VoucherFamily values and as
// the hooks below; everything else is the same for both.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/connection.h"
#include "host/session.h"
#include "voucher/history.h"
#include "xml/document.h"

namespace rembiz::voucher {

using Columns = std::vector<std::pair<std::string, std::string>>;  // column, SQL literal

struct VoucherFamily {
  std::string_view table;  // head table; rows in table + "_Sub"
  std::string_view claimant_missing;
  std::string_view claimant_unknown;
  // Raised when the numbering takes typed numbers as they are and the typed one is in use.
  std::string_view manual_number;
  bool purpose_required = false;  // the head must carry strUsed
  // Numbers are unique within the family digit (the first of strTypeCode), not the table.
  bool numbers_per_family = false;
  // The stored voucher is read with the row version sent ("Q7.Rembiz.0243" when it moved on);
  // otherwise by GUID only, and the update finds the moved row version ("Q7.Rembiz.0248").
  bool stored_read_with_version = false;
};

// Starts the approval flow of a saved voucher from its head record.
using Submitter = bool (*)(host::Session&, db::Connection&, const xml::Node&);

class VoucherSave {
 public:
  // `submit_on_save`: the module's option 105, read by the caller.
  VoucherSave(const VoucherFamily& family, host::Session& session, db::Connection& cn,
              xml::Node& func, xml::Document& answer, bool submit_on_save);
  virtual ~VoucherSave() = default;
  VoucherSave(const VoucherSave&) = delete;
  VoucherSave& operator=(const VoucherSave&) = delete;

  // Runs the steps. A failing check raises error 9000; a database error arrives with the page's
  // message for the constraint it names.
  void Run(Submitter submit);

  const std::string& AutoID() const { return auto_id_; }
  const std::string& TypeCode() const { return type_code_; }

 protected:
  // The family's own parts.
  virtual std::string NumberCard() const = 0;  // template card of the numbering
  virtual std::string FlowCard() const = 0;    // card number of the approval flow
  virtual void CheckFamilyHead() {}
  // Whether the stored voucher (all its columns) may change; intBudPass is checked already.
  virtual void CheckStored(const db::Recordset& stored) = 0;
  // Head columns of the family only, written by the insert and the update alike.
  virtual Columns FamilyColumns() { return {}; }
  // Before the first row: what the rows' checks may look up for all of them at once.
  virtual void BeforeRows(const xml::NodeList&) {}
  // Checks and inserts one row (`index` counts from 0).
  virtual void WriteRow(const xml::Node& row, int index) = 0;
  virtual void WriteTotal() = 0;
  virtual bool SubmitsNow() const { return submit_on_save_; }
  // Inserts one row of the voucher into `table`: its `columns`, then the row's user fields
  // cDefine22 to cDefine37, under the voucher's GUID. Raises "Q7.Rembiz.0255" with `label`
  // unless exactly one row was written.
  void InsertRow(std::string_view table, Columns columns, const xml::Node& row,
                 const std::string& label);

  host::Session& session_;
  db::Connection& cn_;
  xml::Node& func_;
  xml::Document& answer_;
  xml::Node head_;  // the head record, in/xml/head/z:row
  const bool submit_on_save_;
  bool change_ = false;            // the head names a stored voucher
  bool stored_submitted_ = false;  // the changed voucher was submitted before this save
  std::string guid_;
  std::string qguid_;      // the GUID as a literal
  std::string loan_date_;  // the voucher date as "YYYY-MM-DD"
  std::string vouch_id_;   // the number the voucher is saved under

 private:
  // What the head's master-data look-up found, for the values the head carries.
  struct HeadLookups {
    bool department = false;
    bool department_is_leaf = false;
    bool claimant = false;
    bool currency = false;
  };
  HeadLookups LookUpHead();
  // The condition that makes numbers unique within the family ("" when within the table).
  std::string NumberScope() const;
  void ValidateHead();
  void CheckMayChange();
  void TakeFreeNumber();
  void WriteNewHead();
  void WriteHead();
  void RestartFlow();
  void WriteRows();
  // The voucher's history entry: saved, or changed with what changed since `before`.
  void WriteSaveHistory(const VoucherSnapshot& before);
  void Submit(Submitter submit);
  void PositionList();

  const VoucherFamily& family_;
  std::string head_money_;
  std::string old_money_;
  std::string auto_id_;
  std::string type_code_;
  std::optional<bool> number_taken_;  // the typed number, as the head's look-up found it
  std::string stored_id_;             // the voucher's AutoID when the write already told it
};

// An amount of a voucher, of its rows or of its settlement must be above zero, whatever the
// family (a family's direction is its own, never the sign of its amounts): `number` is the
// amount's SQL text ("Null" for none). Raises `key` with `label` otherwise.
void RequirePositive(std::string_view number, std::string_view key, std::string_view label = "");

// The budget columns of a head (item and three dimension pairs as literals, all Null without an
// item); raises the key of the first pair given by half, or "Q7.Rembiz.0242" for an item
// without any pair.
Columns BudgetColumns(const xml::Node& head);

}  // namespace rembiz::voucher
