// Approval flows: which vouchers a flow applies to (voucher family, operation types,
// department, amount range), its steps in order and who approves each (users, roles, the head
// of the voucher's department), and what a rejection does.
#include <map>
#include <string>

#include "admin/kinds.h"
#include "db/text.h"
#include "db/variant.h"
#include "frame/request.h"
#include "host/errors.h"
#include "xml/escape.h"

namespace rembiz::admin {
namespace {

using db::SqlText;

// Voucher families and the card numbers their flows are kept under; operation types of a
// family begin with its digit.
struct Family {
  std::string_view name;
  std::string_view card;
  std::string_view type_prefix;
};
constexpr Family kFamilies[] = {
    {"loan", "45", "3"}, {"income", "46", "1"}, {"expenditure", "47", "2"}};

const Family& FamilyOf(const xml::Node& row) {
  std::string given = db::Lower(Required(row, "family"));
  for (const Family& family : kFamilies) {
    if (given == family.name || given == family.card) return family;
  }
  Raise(kErrBusiness, "Rembiz.Admin.BadFamily", given);
}

std::string FamilyName(const std::string& card) {
  for (const Family& family : kFamilies) {
    if (card == family.card) return std::string(family.name);
  }
  return card;
}

std::string Money(const xml::Node& row, std::string_view name) {
  std::string text = db::Trim(row.Attr(name));
  if (text.empty()) return "Null";
  std::optional<double> value = db::ParseNumber(text);
  if (!value || *value < 0) Raise(kErrBusiness, "Rembiz.Admin.NotPositive", name);
  return db::Variant(*value).ToText();
}

struct Approver {
  int kind;  // Host_FlowApprover.iIsUser: 1 user, 0 role, 2 the department's head
  std::string id;
};

class FlowKind : public Kind {
 public:
  std::string_view Name() const override { return "flow"; }
  std::vector<std::string> Columns() const override {
    return {"id",    "family", "name", "priority", "department",
            "types", "min",    "max",  "active",   "reject"};
  }

  std::string List(Context& ctx, const xml::Node&) override {
    db::Recordset types =
        ctx.cn.Execute("select iFlowId, cTypeCode from Host_FlowType order by iFlowId, cTypeCode");
    std::map<int64_t, std::string> type_lists;
    for (; !types.Eof(); types.MoveNext()) {
      std::string& list = type_lists[types.Value("iFlowId").ToInt()];
      list += (list.empty() ? "" : ",") + types.Text("cTypeCode");
    }
    db::Recordset steps = ctx.cn.Execute(
        "select s.iFlowId, s.iStep, s.cStepName, s.iPassMode, a.iIsUser, a.cApprover_Id from "
        "Host_FlowStep s left join Host_FlowApprover a on a.iFlowId = s.iFlowId and a.iStep = "
        "s.iStep order by s.iFlowId, s.iStep, a.iIsUser desc, a.cApprover_Id");
    std::map<int64_t, std::string> step_xml;
    std::string open;
    int64_t open_flow = -1, open_step = -1;
    std::string approvers;
    auto close = [&] {
      if (open_flow >= 0)
        step_xml[open_flow] += open + " approvers='" + xml::XmlEscape(approvers) + "'/>";
    };
    for (; !steps.Eof(); steps.MoveNext()) {
      int64_t flow = steps.Value("iFlowId").ToInt();
      int64_t step = steps.Value("iStep").ToInt();
      if (flow != open_flow || step != open_step) {
        close();
        open_flow = flow;
        open_step = step;
        approvers.clear();
        open = "<step no='" + std::to_string(step) + "' name='" +
               xml::XmlEscape(steps.Text("cStepName")) + "' passmode='" + steps.Text("iPassMode") +
               "'";
      }
      if (steps.Value("iIsUser").IsNull()) continue;
      int64_t kind = steps.Value("iIsUser").ToInt();
      std::string one = kind == 2   ? std::string("head")
                        : kind == 1 ? "user:" + steps.Text("cApprover_Id")
                                    : "role:" + steps.Text("cApprover_Id");
      approvers += (approvers.empty() ? "" : ",") + one;
    }
    close();
    db::Recordset rs = ctx.cn.Execute(
        "select iFlowId, cCardNumber, cFlowName, iPriority, cDepCode, cTypeCode, mMinAmount, "
        "mMaxAmount, bActive, iRejectAction, cast(ts as money) as ts from Host_Flow order by "
        "cCardNumber, iPriority, iFlowId");
    std::string out;
    for (; !rs.Eof(); rs.MoveNext()) {
      int64_t id = rs.Value("iFlowId").ToInt();
      std::string listed = type_lists[id];
      if (!rs.Text("cTypeCode").empty()) {
        listed = rs.Text("cTypeCode") + (listed.empty() ? "" : "," + listed);
      }
      auto attr = [](std::string_view name, const std::string& value) {
        return " " + std::string(name) + "='" + xml::XmlEscape(value) + "'";
      };
      out += "<row" + attr("id", std::to_string(id)) +
             attr("family", FamilyName(rs.Text("cCardNumber"))) +
             attr("name", rs.Text("cFlowName")) + attr("priority", rs.Text("iPriority")) +
             attr("department", rs.Text("cDepCode")) + attr("types", listed) +
             attr("min", rs.Text("mMinAmount")) + attr("max", rs.Text("mMaxAmount")) +
             attr("active", rs.Value("bActive").ToBool() ? "1" : "0") +
             attr("reject", rs.Value("iRejectAction").ToInt() == 1 ? "previous" : "maker") +
             attr("ts", rs.Text("ts")) + ">" + step_xml[id] + "</row>";
    }
    return out;
  }

  void Add(Context& ctx, const xml::Node& row) override {
    Header header = Read(ctx, row);
    std::vector<Step> steps = ReadSteps(ctx, row, header);
    if (steps.empty()) Raise(kErrBusiness, "Rembiz.Admin.FlowWithoutSteps");
    ctx.cn.Execute(
        "insert into Host_Flow (cCardNumber, cFlowName, iPriority, cDepCode, mMinAmount, "
        "mMaxAmount, bActive, iRejectAction) values (" +
        SqlText(header.card) + ", " + header.values + ")");
    std::string id = ctx.cn.Execute("select max(iFlowId) as id from Host_Flow").Text("id");
    WriteDetails(ctx, id, header, &steps);
  }

  void Change(Context& ctx, const xml::Node& row) override {
    std::string id = frame::RequireInteger(Required(row, "id"), "id");
    db::Recordset current =
        ctx.cn.Execute("select cCardNumber from Host_Flow where iFlowId = " + id);
    if (current.Eof()) Raise(kErrBusiness, "Rembiz.Admin.Stale");
    Header header = Read(ctx, row);
    if (header.card != current.Text("cCardNumber")) {
      RefuseInstances(ctx, id, "Rembiz.Admin.UsedByVouchers");
    }
    std::vector<Step> steps = ReadSteps(ctx, row, header);
    bool new_steps = !row.Children("step").empty();
    // Running vouchers stand at a step of the flow as it is.
    if (new_steps) {
      RefuseInUse(ctx.cn, "select 1 from Host_FlowInstance where iState = 0 and iFlowId = " + id,
                  id, "Rembiz.Admin.UsedByRunningVouchers");
    }
    ExecuteOne(ctx.cn, "update Host_Flow set cCardNumber = " + SqlText(header.card) +
                           ", cFlowName = " + header.name + ", iPriority = " + header.priority +
                           ", cDepCode = " + header.department + ", cTypeCode = Null" +
                           ", mMinAmount = " + header.min + ", mMaxAmount = " + header.max +
                           ", bActive = " + header.active + ", iRejectAction = " + header.reject +
                           " where iFlowId = " + id + " and cast(ts as money) = " + Version(row));
    WriteDetails(ctx, id, header, new_steps ? &steps : nullptr);
  }

  void Delete(Context& ctx, const xml::Node& row) override {
    std::string id = frame::RequireInteger(Required(row, "id"), "id");
    // Instances keep their flow as the record of how vouchers were approved.
    RefuseInstances(ctx, id, "Rembiz.Admin.UsedByVouchers");
    ExecuteOne(ctx.cn, "delete from Host_Flow where iFlowId = " + id +
                           " and cast(ts as money) = " + Version(row));
  }

 private:
  struct Header {
    std::string card, type_prefix;
    std::string name, priority, department, min, max, active, reject;
    std::string department_code;
    std::vector<std::string> types;
    std::string values;  // the literals after the card, in the insert's order
  };
  struct Step {
    std::string name, passmode;
    std::vector<Approver> approvers;
  };

  static void RefuseInstances(Context& ctx, const std::string& id, std::string_view key) {
    RefuseInUse(ctx.cn, "select 1 from Host_FlowInstance where iFlowId = " + id, id, key);
  }

  static Header Read(Context& ctx, const xml::Node& row) {
    const Family& family = FamilyOf(row);
    Header h;
    h.card = std::string(family.card);
    h.type_prefix = std::string(family.type_prefix);
    h.name = SqlText(Required(row, "name"));
    h.priority = std::to_string(Whole(row, "priority", 0, 0, 1000000));
    h.department_code = db::Trim(row.Attr("department"));
    h.department = h.department_code.empty() ? "Null" : SqlText(h.department_code);
    if (!h.department_code.empty() &&
        ctx.cn.Execute("select 1 from Department where cDepCode = " + h.department).Eof()) {
      Raise(kErrBusiness, "Rembiz.Admin.UnknownDepartment", h.department_code);
    }
    h.min = Money(row, "min");
    h.max = Money(row, "max");
    if (h.min != "Null" && h.max != "Null" && std::stod(h.min) > std::stod(h.max)) {
      Raise(kErrBusiness, "Rembiz.Admin.AmountRange");
    }
    h.active = Flag(row, "active", true) ? "1" : "0";
    std::string reject = db::Lower(db::Trim(row.Attr("reject")));
    if (reject.empty() || reject == "maker" || reject == "0") {
      h.reject = "0";
    } else if (reject == "previous" || reject == "1") {
      h.reject = "1";
    } else {
      Raise(kErrBusiness, "Rembiz.Admin.BadReject", reject);
    }
    h.types = SplitList(row.Attr("types"));
    for (const std::string& type : h.types) {
      bool known =
          type.rfind(h.type_prefix, 0) == 0 &&
          !ctx.cn.Execute("select 1 from EC_OperationType where strCode = " + SqlText(type)).Eof();
      if (!known) Raise(kErrBusiness, "Rembiz.Admin.UnknownType", type, family.name);
    }
    h.values = h.name + ", " + h.priority + ", " + h.department + ", " + h.min + ", " + h.max +
               ", " + h.active + ", " + h.reject;
    return h;
  }

  // The steps of the request in order; a step nobody could approve is refused.
  static std::vector<Step> ReadSteps(Context& ctx, const xml::Node& row, const Header& header) {
    std::vector<Step> steps;
    for (const xml::Node& node : row.Children("step")) {
      Step step;
      step.name = db::Trim(node.Attr("name"));
      if (step.name.empty()) step.name = std::to_string(steps.size() + 1);
      step.passmode = std::to_string(Whole(node, "passmode", 0, 0, 1));
      for (const std::string& item : SplitList(node.Attr("approvers"))) {
        std::string lower = db::Lower(item);
        if (lower == "head") {
          step.approvers.push_back({2, ""});
        } else if (lower.rfind("user:", 0) == 0) {
          step.approvers.push_back({1, item.substr(5)});
        } else if (lower.rfind("role:", 0) == 0) {
          step.approvers.push_back({0, item.substr(5)});
        } else {
          Raise(kErrBusiness, "Rembiz.Admin.BadApprover", item);
        }
      }
      bool someone = false;
      for (const Approver& a : step.approvers) someone |= CanApprove(ctx, a, header);
      if (!someone) Raise(kErrBusiness, "Rembiz.Admin.NobodyApproves", step.name);
      steps.push_back(std::move(step));
    }
    return steps;
  }

  // Whether somebody can act for the approver: an enabled user, a role with an enabled member,
  // a head (of the flow's department when it names one; otherwise the voucher's department
  // decides at submission, which refuses a department without a head).
  static bool CanApprove(Context& ctx, const Approver& a, const Header& header) {
    std::string id = SqlText(a.id);
    switch (a.kind) {
      case 1:
        if (ctx.cn.Execute("select 1 from qdsystem..UA_User where cUser_Id = " + id).Eof()) {
          Raise(kErrBusiness, "Rembiz.Admin.UnknownUser", a.id);
        }
        return !ctx.cn
                    .Execute("select 1 from qdsystem..UA_User where bDisabled = 0 and cUser_Id = " +
                             id)
                    .Eof();
      case 0:
        if (ctx.cn.Execute("select 1 from qdsystem..UA_Group where cGroup_Id = " + id).Eof()) {
          Raise(kErrBusiness, "Rembiz.Admin.UnknownRole", a.id);
        }
        return !ctx.cn
                    .Execute(
                        "select 1 from qdsystem..UA_Role r join qdsystem..UA_User u on "
                        "u.cUser_Id = r.cUser_Id where u.bDisabled = 0 and r.cGroup_Id = " +
                        id)
                    .Eof();
      default:
        if (header.department_code.empty()) return true;
        return !ctx.cn
                    .Execute(
                        "select 1 from Department d join qdsystem..UA_User u on u.cUser_Id "
                        "= d.cDepLeader where u.bDisabled = 0 and d.cDepCode = left(" +
                        header.department + ", len(d.cDepCode))")
                    .Eof();
    }
  }

  static void WriteDetails(Context& ctx, const std::string& id, const Header& header,
                           const std::vector<Step>* steps) {
    ctx.cn.Execute("delete from Host_FlowType where iFlowId = " + id);
    for (const std::string& type : header.types) {
      ctx.cn.Execute("insert into Host_FlowType (iFlowId, cTypeCode) values (" + id + ", " +
                     SqlText(type) + ")");
    }
    if (!steps) return;
    ctx.cn.Execute("delete from Host_FlowApprover where iFlowId = " + id);
    ctx.cn.Execute("delete from Host_FlowStep where iFlowId = " + id);
    int number = 0;
    for (const Step& step : *steps) {
      std::string no = std::to_string(++number);
      ctx.cn.Execute("insert into Host_FlowStep (iFlowId, iStep, cStepName, iPassMode) values (" +
                     id + ", " + no + ", " + SqlText(step.name) + ", " + step.passmode + ")");
      std::map<std::pair<int, std::string>, bool> seen;
      for (const Approver& a : step.approvers) {
        if (!seen.emplace(std::make_pair(a.kind, db::Lower(a.id)), true).second) continue;
        ctx.cn.Execute(
            "insert into Host_FlowApprover (iFlowId, iStep, iIsUser, cApprover_Id) values (" + id +
            ", " + no + ", " + std::to_string(a.kind) + ", " + SqlText(a.id) + ")");
      }
    }
  }
};

FlowKind flow_kind;
const KindRegistrar kRegistrar(&flow_kind);

}  // namespace
}  // namespace rembiz::admin
