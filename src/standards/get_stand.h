// The standards that apply to the rows of a claim while it is being entered: for each row the
// control type, the amount per unit and the rate of its standard, so that the claim page can
// show them. CExpense answers its "GetStand" operation with it.
#pragma once

#include <string>

#include "db/connection.h"
#include "host/session.h"
#include "xml/document.h"

namespace rembiz::standards {

// "<Rows>" + one "<row id='…' strControlType='…' dblMoney='…' dblRate='…' />" per child of
// `rows` whose standard was found + "</Rows>". The first child carries the claim's department
// (strDepartID) and claimant (strLoanID); every child its page identifier (row), strIOItem,
// strezero, strjttools and dblVouch. Database errors and a non-numeric dblVouch throw.
std::string StandRowsXml(host::Session& session, db::Connection& cn, const xml::Node& rows);

// The operation: finds the first Rows element of the request and loads the answer with
// StandRowsXml. Throws when the request has no Rows.
bool GetStand(host::Session& session, db::Connection& cn, xml::Node& func, xml::Document& answer);

}  // namespace rembiz::standards
