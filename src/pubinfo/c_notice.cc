#include "pubinfo/c_notice.h"

#include "db/error.h"
#include "db/text.h"
#include "frame/registry.h"
#include "host/errors.h"
#include "host/notices.h"
#include "xml/escape.h"

namespace rembiz::pubinfo {
namespace {

constexpr frame::FrameVariant kVariant{
    .class_name = "CNotice",
    .task_code = "",
    .entry_task = frame::EntryTask::kNone,
    .transactions = frame::Transactions::kWholeRequest,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = false,
};

constexpr frame::OperationEntry kOperations[] = {
    frame::Op<&CNotice::Count>("count"),
    frame::Op<&CNotice::List>("list"),
    frame::Op<&CNotice::MarkRead>("read"),
};

const frame::ClassRegistrar kRegistrar("Rembiz.CNotice",
                                       [] { return std::make_unique<CNotice>(); });

// The latest notices a list shows.
constexpr int kListed = 50;

std::string Attr(std::string_view name, std::string_view value) {
  return " " + std::string(name) + "=\"" + xml::XmlEscape(value) + "\"";
}

std::string Unread(host::Session& session, db::Connection& cn) {
  return cn
      .Execute("select count(*) as n from EC_Notice where bRead = 0 and cUser_Id = " +
               db::SqlText(session.UserId()))
      .Text("n");
}

}  // namespace

const frame::FrameVariant& CNotice::Variant() const { return kVariant; }
std::span<const frame::OperationEntry> CNotice::Operations() const { return kOperations; }

bool CNotice::Count(host::Session& session, db::Connection& cn, xml::Node&, xml::Document& answer) {
  answer.LoadXml("<notices" + Attr("unread", Unread(session, cn)) + "/>");
  return true;
}

// <in unread="1"/> lists only the unread ones.
bool CNotice::List(host::Session& session, db::Connection& cn, xml::Node& func,
                   xml::Document& answer) {
  bool unread_only = func.SelectSingleNode("in").Attr("unread") == "1";
  db::Recordset rs = cn.Execute("select top " + std::to_string(kListed) +
                                " iNoticeId, cUser_Id, cKind, cCardNumber, cVouchGUID, cVouchCode, "
                                "cActor, cStep, cRemark, mAmount, "
                                "dDue, dCreated, bRead from EC_Notice where cUser_Id = " +
                                db::SqlText(session.UserId()) +
                                (unread_only ? " and bRead = 0" : "") + " order by iNoticeId desc");
  std::string out = "<notices" + Attr("unread", Unread(session, cn)) + ">";
  for (; !rs.Eof(); rs.MoveNext()) {
    host::NoticeValues n = host::NoticeFromRow(rs);
    host::NoticeText text = host::RenderNotice(n, session.LanguageId(), "");
    out += "<notice" + Attr("id", rs.Text("iNoticeId")) + Attr("kind", n.kind) +
           Attr("code", n.code) + Attr("subject", text.subject) + Attr("body", text.body) +
           Attr("route", host::NoticeRoute(cn, n)) + Attr("created", rs.Text("dCreated")) +
           Attr("read", rs.Value("bRead").ToBool() ? "1" : "0") + "/>";
  }
  answer.LoadXml(out + "</notices>");
  return true;
}

// <in id="N"/> marks one notice read, <in all="1"/> every one of the operator's.
bool CNotice::MarkRead(host::Session& session, db::Connection& cn, xml::Node& func,
                       xml::Document& answer) {
  xml::Node in = func.SelectSingleNode("in");
  std::string mine = " where bRead = 0 and cUser_Id = " + db::SqlText(session.UserId());
  if (in.Attr("all") == "1") {
    cn.Execute("update EC_Notice set bRead = 1" + mine);
  } else {
    std::string id = in.Attr("id");
    if (id.empty() || id.size() > 12 || id.find_first_not_of("0123456789") != std::string::npos) {
      throw ComError(db::kErrInvalidRequest, "Invalid request: a notice is named by its number.",
                     "Rembiz");
    }
    cn.Execute("update EC_Notice set bRead = 1" + mine + " and iNoticeId = " + id);
  }
  answer.LoadXml("<notices" + Attr("unread", Unread(session, cn)) + "/>");
  return true;
}

}  // namespace rembiz::pubinfo
