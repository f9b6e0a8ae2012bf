// The SQL the lists and reports of this subsystem share: voucher heads and payment lines of
// loans, claims or both, restricted to what the operator may see; the joins that give a head its
// display names; the user's filter rows.
#pragma once

#include <string>
#include <string_view>

#include "db/connection.h"
#include "host/session.h"
#include "xml/document.h"

namespace rembiz::reports {

enum class Family { kLoans, kClaims, kBoth };

// The voucher kind of a list: "3" loans, "1" or "2" claims, anything else both.
Family FamilyOfKind(std::string_view kind);
// The kind row of a request: `in/cond/row[@name='strtypecode']`, attribute `value`.
Family RequestFamily(const xml::Node& func);

// Heads as the derived table "ec_vch": the columns loans and claims share (AutoID, GUID,
// strTypeCode, strVouchID, dtLoanDate, strDepartID, strLoanID, strItemClassID, strItemID,
// strBudItemID, strBill, fltRate, dblMoney, dblOldMoney, dblReturn, strUsed, dtExpDate,
// strPersonID, blnAudi, strAuditorID, strVerifier, strMakerID, intBudPass, blnBegin, PZGUID,
// ts), each family restricted by the operator's data permissions. `listkey` tells a loan and a
// claim with the same AutoID apart (loans even, claims odd).
std::string HeadSource(host::Session& session, Family family);
// Payment lines as the derived table "ec_vchs": loan payment rows and claims' settlement lines
// (AutoID, listkey, GUID, MGuid, strBalanceID, dblMoney, strPayBankID, strBankName, strBankAcc,
// strPayID, blnNetOK; a claim line's receiving bank and account are strBankName, strBankAcc).
std::string LineSource(Family family);

// Left joins of a head's display names: EC_OperationType, department, person as personloan,
// BG_Item, fitem and the item table `items` (ItemSourceSql).
std::string NameJoins(std::string_view head, const std::string& items);
// The item table of the request's item class (".//row[@name='stritemclassid']"), every class
// when it names none.
std::string RequestItems(const xml::Node& func, db::Connection& cn);

// True when every condition of the user's filter names a column of `table` ("<table>.column"):
// the list's keys then need no joins to be counted.
bool FilterOnlyOn(const xml::Node& func, std::string_view table);

// A date column shown as yyyy-mm-dd, selected as `name`.
std::string DateColumn(const std::string& column, const std::string& name);

// The user's filter of `in/cond` as a condition ("1=1 and …"); `without_kind` leaves the voucher
// kind row out, for the lists that read it themselves.
std::string UserFilter(const xml::Node& func, bool without_kind = false);

}  // namespace rembiz::reports
