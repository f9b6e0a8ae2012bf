// The host's approval-flow service. Flow definitions per card number ("45" loans, "46"/"47"
// claims) with ordered steps and their approvers (users or roles) live in Host_Flow,
// Host_FlowStep and Host_FlowApprover; a submitted voucher gets one instance in
// Host_FlowInstance, carrying the voucher description (EAdata) it was started with, and every
// approver action leaves a record in Host_FlowRecord.
//
// The service works on the caller's connection, so what it records commits or rolls back with
// the caller's transaction. A refusal raises error 9000 with its message; database errors go on
// to the caller as they are.
//
// Instance kind: callers name the voucher's business flow with the code "11", the only kind this
// host keeps; any other code is refused.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "db/recordset.h"
#include "host/session.h"

namespace rembiz::host {

// Where a voucher's instance stands, as people read it.
struct FlowProgress {
  int64_t state = 0;     // Host_FlowInstance.iState: 0 running, 1 ended, 2 rejected
  int64_t position = 0;  // the waiting step's place among the flow's steps, from 1
  int64_t steps = 0;     // the number of steps of the flow
  bool passed = false;   // an approver passed a step in the current round (not taken back)
};

class ApprovalFlow {
 public:
  virtual ~ApprovalFlow() = default;

  // True when the last DoTask or UndoTask crossed the end of its instance: the last step was
  // passed (the voucher is now finally approved), or the pass of the last step was taken back
  // (its final approval is withdrawn). False after intermediate steps and rejections.
  virtual bool FlowEnded() const = 0;

  // Binds the service to the operator and the caller's connection; call it first.
  virtual void Init(Session& session, db::Connection& cn) = 0;

  // One record per action on the instance in order (all rounds), with the fields cUser_Name,
  // EAA_Name (in the current language), remark and EA_time.
  virtual db::Recordset GetFlowRecords(std::string_view card, std::string_view guid,
                                       std::string_view code) = 0;
  // The operator's action on the step the instance waits for. `task_xml` is the EASTdata
  // document: "<EASTdata><task EAAID='1' remark='…'/></EASTdata>", EAAID one of Host_FlowAction.
  virtual void DoTask(std::string_view card, std::string_view guid, std::string_view task_xml) = 0;
  // Takes back the operator's last pass or rejection of the current round, as long as no later
  // step has acted since; the instance waits at that step again.
  virtual void UndoTask(std::string_view card, std::string_view guid, std::string_view code) = 0;
  // The instance as XML: the flow with its state, its steps and approvers, and the records.
  virtual std::string GetFlowInfo(std::string_view card, std::string_view guid,
                                  std::string_view code) = 0;
  // The users the voucher waits for at its current step: those named at the step, the members
  // of the roles named there, and the department's head where the step names the head. Empty
  // when the voucher has no running instance. Notices of a waiting voucher go to these.
  virtual std::vector<std::string> WaitingApprovers(std::string_view card,
                                                    std::string_view guid) = 0;
  // Where the instance stands; nullopt when the voucher has none.
  virtual std::optional<FlowProgress> GetProgress(std::string_view card, std::string_view guid) = 0;
  // Removes the instance with its records.
  virtual void DropInstance(db::Connection& cn, std::string_view card, std::string_view guid,
                            std::string_view code) = 0;
  // A submission taken back: an instance that saw no action goes; one that did keeps its
  // records as history and ends its round as withdrawn, to start again at the next submission.
  virtual void WithdrawInstance(db::Connection& cn, std::string_view card, std::string_view guid,
                                std::string_view code) = 0;
  // Starts a new round at the first step; records of earlier rounds stay as history.
  virtual void ResetInstance(std::string_view card, std::string_view guid,
                             std::string_view code) = 0;
  // Whether the voucher has an instance; an unknown instance kind is refused.
  virtual bool HasInstance(std::string_view card, std::string_view guid, std::string_view code) = 0;
  // True when an active flow with steps exists for the card number; `flow_id` and `flow_name`
  // receive the one of the lowest priority. False, without a refusal, when there is none.
  virtual bool CanStart(std::string_view card, std::string* flow_id, std::string* flow_name) = 0;
  // Starts the flow that applies to the voucher (the active flow of the card number with the
  // lowest priority whose department, operation type and amount conditions hold for the
  // routing values in `eadata`). An instance the voucher already has is started again with the
  // new description.
  virtual void StartInstance(db::Connection& cn, std::string_view card, std::string_view guid,
                             std::string_view vouch_code, std::string_view eadata) = 0;
};

std::unique_ptr<ApprovalFlow> CreateApprovalFlow();

}  // namespace rembiz::host
