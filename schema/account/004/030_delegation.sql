-- Delegation of approvals and reminders of loans not yet accounted for.

-- A user away names a substitute for a range of days (both ends included, "YYYY-MM-DD"): on
-- those days the substitute may act at every step the user would approve, and the records say
-- for whom. A substitute who delegated in turn passes the work on (A to B to C reaches C).
CREATE TABLE Host_Delegation (
  AutoID int IDENTITY(1,1) NOT NULL,
  cUser_Id varchar(20) NOT NULL,          -- the one away
  cSubstitute_Id varchar(20) NOT NULL,    -- the one who acts instead
  dFrom varchar(10) NOT NULL,
  dTo varchar(10) NOT NULL,
  cRemark nvarchar(120) NULL,
  cMaker varchar(20) NULL,                -- who entered it: the user or an administrator
  dCreated datetime NOT NULL DEFAULT (getdate()),
  ts rowversion NOT NULL,
  CONSTRAINT PK_Host_Delegation PRIMARY KEY (AutoID)
);
CREATE INDEX IX_Host_Delegation_User ON Host_Delegation (cUser_Id, dFrom);
CREATE INDEX IX_Host_Delegation_Substitute ON Host_Delegation (cSubstitute_Id, dFrom);

-- The user an approver acted for as substitute; empty when acting in their own right.
ALTER TABLE Host_FlowRecord ADD cForUser_Id varchar(20) NULL;
ALTER TABLE Host_FlowRecord ADD cForUser_Name nvarchar(40) NULL;

-- Reminders told about a loan: one row per loan, kind (duesoon, overdue) and period, so that
-- a loan is reminded once per period however often the reminder job runs.
CREATE TABLE EC_LoanReminder (
  AutoID int IDENTITY(1,1) NOT NULL,
  cVouchGUID uniqueidentifier NOT NULL,
  cKind varchar(20) NOT NULL,
  cPeriod varchar(20) NOT NULL,
  dSent datetime NOT NULL DEFAULT (getdate()),
  CONSTRAINT PK_EC_LoanReminder PRIMARY KEY (AutoID),
  CONSTRAINT IX_EC_LoanReminder UNIQUE (cVouchGUID, cKind, cPeriod)
);
