// Notices and webhook events. A change that people should hear of writes, in its own
// transaction, one EC_Notice row per user told plus one EC_Outbox 'mail' row per notice, and one
// EC_Outbox 'webhook' row per active hook subscribed to the event. Nothing is sent here: the
// outbox sender delivers after the commit, so a rolled-back change tells nobody.
//
// A notice keeps its kind and values, never a text: it is worded when it is shown or mailed, in
// the reader's language (RenderNotice).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "db/recordset.h"
#include "host/session.h"

namespace rembiz::host {

// Notice kinds (EC_Notice.cKind).
inline constexpr std::string_view kNoticeWaiting = "waiting";    // waits for the user's approval
inline constexpr std::string_view kNoticeApproved = "approved";  // the maker's voucher approved
inline constexpr std::string_view kNoticeRejected = "rejected";  // ... rejected, with the remark
inline constexpr std::string_view kNoticePaid = "paid";          // the bank confirmed a payment
inline constexpr std::string_view kNoticeOverdue = "overdue";    // a loan is overdue
inline constexpr std::string_view kNoticeDueSoon = "duesoon";    // a loan falls due soon

// Webhook events (EC_Webhook.cEvents, EC_Outbox.cEvent).
inline constexpr std::string_view kWebhookEvents[] = {"submitted", "approved", "rejected", "paid",
                                                      "booked"};

// One notice's values, as EC_Notice holds them.
struct NoticeValues {
  std::string user;  // cUser_Id of the one told
  std::string kind;
  std::string card;  // "45" loans, "46"/"47" claims
  std::string guid;
  std::string code;  // the voucher's number
  std::string actor;
  std::string step;
  std::string remark;
  std::string amount;  // as the database gives it; "" for none
  std::string due;     // "YYYY-MM-DD"; "" for none
};

// The values of a notice as an EC_Notice row holds them (its columns by their names).
NoticeValues NoticeFromRow(const db::Recordset& row);

// Writes the notice and its mail row on `cn` (in the caller's transaction); returns its id.
int64_t AddNotice(db::Connection& cn, const NoticeValues& notice);

// Queues `event` about the voucher of `table` ("EC_LoanVouch", "EC_ExpenVouch") for every
// active hook subscribed to it; `actor` and `remark` go into the payload. Returns the rows queued.
int QueueWebhookEvent(db::Connection& cn, std::string_view event, std::string_view table,
                      std::string_view guid, std::string_view actor, std::string_view remark = "");

// The call sites: each writes what its change means for people and hooks.
// A voucher was submitted: its first step's approvers; event "submitted".
void NoticeSubmitted(Session& session, db::Connection& cn, std::string_view table,
                     std::string_view guid);
// An approver acted on a step and the flow did not end: when the voucher moved to another step,
// that step's approvers; when it was rejected for good, its maker with the remark and the event
// "rejected". Nothing while a step still waits for others.
void NoticeFlowAction(Session& session, db::Connection& cn, std::string_view table,
                      std::string_view guid);
// The voucher is finally approved: its maker; event "approved".
void NoticeApproved(Session& session, db::Connection& cn, std::string_view table,
                    std::string_view guid);
// A payment line (loan row or claim settlement line) is confirmed paid: the voucher's maker (the
// claimant, who entered it); event "paid".
void NoticePaid(db::Connection& cn, std::string_view line_guid, std::string_view actor);
// A ledger voucher was made of the voucher: event "booked".
void NoticeBooked(Session& session, db::Connection& cn, std::string_view table,
                  std::string_view guid);

// A notice as words in `language` ("zh-CN", "en-US"). `link` is the address that opens the
// voucher; "" leaves the link line out.
struct NoticeText {
  std::string subject;
  std::string body;
};
NoticeText RenderNotice(const NoticeValues& notice, std::string_view language,
                        std::string_view link);

// The page address (after "#/") that opens the notice's voucher for its reader: the approver's
// review for a waiting voucher, the voucher itself otherwise; "notices" without a voucher.
std::string NoticeRoute(db::Connection& cn, const NoticeValues& notice);

}  // namespace rembiz::host
