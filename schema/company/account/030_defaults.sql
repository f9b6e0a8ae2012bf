-- A company set up from nothing: what lets its first loans and claims reach the ledger before
-- the administrator has changed anything. One voucher sign for the ledger vouchers the module
-- makes, and for each voucher family a flow of one step that the head of the voucher's
-- department approves (a department needs its head before its vouchers can be submitted).

INSERT INTO dsign (csign, isignseq, ctext) VALUES ('记', 1, '记账凭证');

INSERT INTO Host_Flow (cCardNumber, cFlowName, iPriority, bActive, iRejectAction) VALUES
  ('45', '借款单审批', 100, 1, 0),
  ('46', '收入报销单审批', 100, 1, 0),
  ('47', '支出报销单审批', 100, 1, 0);

INSERT INTO Host_FlowStep (iFlowId, iStep, cStepName, iPassMode)
SELECT iFlowId, 1, '部门负责人', 0 FROM Host_Flow;

INSERT INTO Host_FlowApprover (iFlowId, iStep, iIsUser, cApprover_Id)
SELECT iFlowId, 1, 2, '' FROM Host_Flow;
