-- Administration of the host data: row versions on the master data an administrator keeps
-- (departments, persons, currencies, settlement styles, banks, the chart of accounts, voucher
-- signs), a department's head, and what the approval flows learned: the action on rejection,
-- the operation types a flow is limited to, and the head an instance started with.

ALTER TABLE Department ADD cDepLeader varchar(20) NULL;
ALTER TABLE Department ADD ts rowversion NOT NULL;
ALTER TABLE Person ADD ts rowversion NOT NULL;
ALTER TABLE foreigncurrency ADD ts rowversion NOT NULL;
ALTER TABLE SettleStyle ADD ts rowversion NOT NULL;
ALTER TABLE Bank ADD ts rowversion NOT NULL;
ALTER TABLE code ADD ts rowversion NOT NULL;
ALTER TABLE dsign ADD ts rowversion NOT NULL;

-- On rejection: 0 the voucher goes back to its maker, 1 back to the step before.
ALTER TABLE Host_Flow ADD iRejectAction tinyint NOT NULL DEFAULT 0 CHECK (iRejectAction IN (0, 1));

-- Operation types a flow is limited to, beside cTypeCode: with rows here, the voucher's type
-- must begin with one of them.
CREATE TABLE Host_FlowType (
  iFlowId int NOT NULL,
  cTypeCode varchar(20) NOT NULL,
  CONSTRAINT PK_Host_FlowType PRIMARY KEY (iFlowId, cTypeCode)
);
ALTER TABLE Host_FlowType ADD CONSTRAINT FK_Host_FlowType_Host_Flow
  FOREIGN KEY (iFlowId) REFERENCES Host_Flow (iFlowId) ON DELETE CASCADE;

-- Head of the voucher's department when the instance started (approvers of kind 2).
ALTER TABLE Host_FlowInstance ADD cHead_Id varchar(20) NULL;
