-- State of the host services that live in the account database: numbering, voucher templates,
-- column layouts, row authority, approval flows, budgets, bank link, cheque book, user-defined
-- fields and ageing periods.

------------------------------------------------------------------------------------------------
-- Numbering. A bill format per bill type ("EC01" loans, "EC02"/"EC03" claims) is made of prefix
-- parts and a serial. The serial runs per seed: the joined values of the parts marked as serial
-- basis (for example the month of the voucher date), so it restarts with every new seed.

CREATE TABLE Host_BillFormat (
  cBillType varchar(20) NOT NULL,
  cBillName nvarchar(60) NOT NULL,
  iSerialLength int NOT NULL DEFAULT 4,  -- digits of the serial, zero-padded
  iSerialStart int NOT NULL DEFAULT 1,  -- first serial of a new seed
  bManual bit NOT NULL DEFAULT 0,  -- numbers are typed by hand, none is handed out
  bRetry bit NOT NULL DEFAULT 1,  -- a taken number is replaced by the next one
  -- Where numbers in use are found (table and column), so that retrying can skip them.
  cCheckTable varchar(60) NULL,
  cCheckColumn varchar(60) NULL,
  ts rowversion NOT NULL,
  CONSTRAINT PK_Host_BillFormat PRIMARY KEY (cBillType)
);

-- Prefix parts in order. A part takes its value from a field of the voucher head
-- (cSourceField, dates formatted with cFormat such as "yyyyMM") or is the constant cConstant.
CREATE TABLE Host_BillPrefix (
  cBillType varchar(20) NOT NULL,
  iOrder int NOT NULL,
  cObjectName nvarchar(30) NOT NULL,  -- what the part shows, e.g. "单据日期"
  cSourceField varchar(60) NULL,  -- head field the seed value comes from
  cFormat varchar(20) NULL,
  iLength int NULL,  -- cut or pad the value to this length
  cConstant nvarchar(30) NULL,
  bSerialBasis bit NOT NULL DEFAULT 0,  -- part of the seed the serial runs on
  CONSTRAINT PK_Host_BillPrefix PRIMARY KEY (cBillType, iOrder)
);

-- Last serial handed out per bill type and seed.
CREATE TABLE Host_BillSerial (
  cBillType varchar(20) NOT NULL,
  cSeed nvarchar(120) NOT NULL DEFAULT '',
  iLastNo int NOT NULL DEFAULT 0,
  ts rowversion NOT NULL,
  CONSTRAINT PK_Host_BillSerial PRIMARY KEY (cBillType, cSeed)
);

------------------------------------------------------------------------------------------------
-- Voucher templates: the templates themselves are the ERP's VoucherTemplates (020_erp.sql);
-- the service keeps their fields, fixed data and the company logo.

-- Fields of a template: head ('T') or body ('B') columns with caption, order and visibility.
CREATE TABLE Host_TemplateField (
  vt_id int NOT NULL,
  cSection char(1) NOT NULL DEFAULT 'T',
  cFieldName varchar(60) NOT NULL,  -- column of the voucher table or view
  cCaption nvarchar(60) NOT NULL,
  cCaptionEn varchar(100) NULL,
  iOrder int NOT NULL DEFAULT 0,
  bVisible bit NOT NULL DEFAULT 1,
  bMustInput bit NOT NULL DEFAULT 0,
  bCanModify bit NOT NULL DEFAULT 1,
  iWidth int NOT NULL DEFAULT 1200,
  cDataType varchar(10) NOT NULL DEFAULT 'text',  -- text, number, date, bool
  cRefName varchar(60) NULL,  -- reference window that fills the field
  CONSTRAINT PK_Host_TemplateField PRIMARY KEY (vt_id, cSection, cFieldName)
);

-- Fixed data printed with a template (title, footer texts).
CREATE TABLE Host_FixedData (
  vt_id int NOT NULL,
  iOrder int NOT NULL,
  cName nvarchar(60) NOT NULL,
  cValue nvarchar(255) NULL,
  CONSTRAINT PK_Host_FixedData PRIMARY KEY (vt_id, iOrder)
);

-- Company logo printed on vouchers, as base64 text; at most one row.
CREATE TABLE Host_CompanyLogo (
  id int NOT NULL PRIMARY KEY CHECK (id = 1),
  cFileName nvarchar(120) NULL,
  cMimeType varchar(40) NOT NULL DEFAULT 'image/png',
  cImageData ntext NOT NULL
);

------------------------------------------------------------------------------------------------
-- Column layouts of lists, per layout key and operator; cUser_Id '' is the layout for everyone,
-- used until an operator saves an own one.

CREATE TABLE Host_ColumnLayout (
  cKey varchar(100) NOT NULL,
  cUser_Id varchar(20) NOT NULL DEFAULT '',
  cFieldName varchar(60) NOT NULL,
  cCaption nvarchar(60) NULL,
  iOrder int NOT NULL DEFAULT 0,
  iWidth int NOT NULL DEFAULT 1200,
  bVisible bit NOT NULL DEFAULT 1,
  cAlign varchar(10) NOT NULL DEFAULT 'left',
  cFormat varchar(30) NULL,
  bTotal bit NOT NULL DEFAULT 0,  -- show a column total
  CONSTRAINT PK_Host_ColumnLayout PRIMARY KEY (cKey, cUser_Id, cFieldName)
);

------------------------------------------------------------------------------------------------
-- Row authority. A rule per operator, authority type ("department", "person", "fitem", "user",
-- "djmb", "code", "dsign") and selectors: iScope 0 unrestricted, 1 nothing, 2 only the codes in
-- Host_ScopeRuleItem. No rule means unrestricted. Selector '' matches any selector. For "user"
-- the codes are operator names, for "djmb" template ids (selector: the card number).

CREATE TABLE Host_ScopeRule (
  cUser_Id varchar(20) NOT NULL,
  cAuthType varchar(20) NOT NULL,
  cSelector1 varchar(30) NOT NULL DEFAULT '',
  cSelector2 varchar(30) NOT NULL DEFAULT '',
  iScope tinyint NOT NULL DEFAULT 0 CHECK (iScope IN (0, 1, 2)),
  CONSTRAINT PK_Host_ScopeRule PRIMARY KEY (cUser_Id, cAuthType, cSelector1, cSelector2)
);

CREATE TABLE Host_ScopeRuleItem (
  cUser_Id varchar(20) NOT NULL,
  cAuthType varchar(20) NOT NULL,
  cSelector1 varchar(30) NOT NULL DEFAULT '',
  cSelector2 varchar(30) NOT NULL DEFAULT '',
  cCode nvarchar(60) NOT NULL,
  CONSTRAINT PK_Host_ScopeRuleItem PRIMARY KEY (cUser_Id, cAuthType, cSelector1, cSelector2, cCode)
);

------------------------------------------------------------------------------------------------
-- Approval flows. A flow belongs to a card number ("45" loans, "46"/"47" claims) and may be
-- limited to a department, an operation type (prefix of the code) and an amount range; the
-- active flow with the lowest iPriority whose conditions hold is started for a voucher.

CREATE TABLE Host_Flow (
  iFlowId int IDENTITY(1,1) NOT NULL PRIMARY KEY,
  cCardNumber varchar(10) NOT NULL,
  cFlowName nvarchar(60) NOT NULL,
  iPriority int NOT NULL DEFAULT 0,
  cDepCode varchar(12) NULL,  -- NULL: any department
  cTypeCode varchar(20) NULL,  -- NULL: any operation type
  mMinAmount money NULL,  -- NULL: no lower bound
  mMaxAmount money NULL,  -- NULL: no upper bound
  bActive bit NOT NULL DEFAULT 1,
  ts rowversion NOT NULL
);
CREATE INDEX IX_Host_Flow_Card ON Host_Flow (cCardNumber, iPriority);

-- Steps in the order they are passed. iPassMode 0: one approver of the step suffices;
-- 1: every approver user of the step must approve.
CREATE TABLE Host_FlowStep (
  iFlowId int NOT NULL,
  iStep int NOT NULL,
  cStepName nvarchar(60) NOT NULL,
  iPassMode tinyint NOT NULL DEFAULT 0,
  CONSTRAINT PK_Host_FlowStep PRIMARY KEY (iFlowId, iStep)
);

-- Approvers of a step: a user (iIsUser 1, UA_User.cUser_Id) or a role (0, UA_Group.cGroup_Id).
CREATE TABLE Host_FlowApprover (
  iFlowId int NOT NULL,
  iStep int NOT NULL,
  iIsUser tinyint NOT NULL DEFAULT 1,
  cApprover_Id varchar(20) NOT NULL,
  CONSTRAINT PK_Host_FlowApprover PRIMARY KEY (iFlowId, iStep, iIsUser, cApprover_Id)
);
CREATE INDEX IX_Host_FlowApprover ON Host_FlowApprover (cApprover_Id);

-- Actions an approver can take (EAAID of the task document). iEffect 1 passes the step,
-- 2 rejects (the instance stops), 3 takes back the approver's last step.
CREATE TABLE Host_FlowAction (
  EAAID varchar(10) NOT NULL,
  EAA_Name nvarchar(30) NOT NULL,
  EAA_NameEn varchar(60) NULL,
  iEffect tinyint NOT NULL CHECK (iEffect IN (1, 2, 3)),
  CONSTRAINT PK_Host_FlowAction PRIMARY KEY (EAAID)
);
INSERT INTO Host_FlowAction (EAAID, EAA_Name, EAA_NameEn, iEffect) VALUES
  ('1', '同意', 'Approve', 1),
  ('2', '不同意', 'Reject', 2),
  ('3', '撤销', 'Take back', 3);

-- One running or finished flow per voucher. iCurStep is the step waiting for approval;
-- iState 0 running, 1 ended (all steps passed), 2 rejected. A reset starts a new round
-- at step 1; records of earlier rounds stay as history.
CREATE TABLE Host_FlowInstance (
  iInstanceId int IDENTITY(1,1) NOT NULL PRIMARY KEY,
  cCardNumber varchar(10) NOT NULL,
  cVouchGUID uniqueidentifier NOT NULL,
  cVouchCode nvarchar(30) NULL,  -- voucher number
  iFlowId int NOT NULL,
  iCurStep int NOT NULL DEFAULT 1,
  iState tinyint NOT NULL DEFAULT 0 CHECK (iState IN (0, 1, 2)),
  iRound int NOT NULL DEFAULT 1,
  cEAdata ntext NOT NULL,  -- voucher description as submitted
  cAuth_Id varchar(20) NULL,  -- routing values read from cEAdata
  cDepCode varchar(12) NULL,
  cTypeCode varchar(20) NULL,
  mAmount money NULL,
  cStarter_Id varchar(20) NULL,
  dStartTime datetime NOT NULL DEFAULT (getdate()),
  dEndTime datetime NULL,
  ts rowversion NOT NULL,
  CONSTRAINT IX_Host_FlowInstance UNIQUE (cCardNumber, cVouchGUID)
);
CREATE INDEX IX_Host_FlowInstance_Step ON Host_FlowInstance (iState, iFlowId, iCurStep);

-- One record per approver action. A taken-back action keeps its record with bUndone 1 and
-- gets a record of its own for the take-back.
CREATE TABLE Host_FlowRecord (
  AutoID int IDENTITY(1,1) NOT NULL,
  iInstanceId int NOT NULL,
  iRound int NOT NULL DEFAULT 1,
  iStep int NOT NULL,
  cUser_Id varchar(20) NOT NULL,
  cUser_Name nvarchar(40) NOT NULL,
  EAAID varchar(10) NOT NULL,
  remark nvarchar(255) NULL,
  EA_time datetime NOT NULL DEFAULT (getdate()),
  bUndone bit NOT NULL DEFAULT 0
);
CREATE INDEX IX_Host_FlowRecord ON Host_FlowRecord (iInstanceId, iRound, AutoID);

------------------------------------------------------------------------------------------------
-- Budgets. The items are the ERP's BG_Item (020_erp.sql). Host_BudgetDimension gives an item up
-- to three dimensions; Host_Budget holds the amount per year, item and dimension values
-- (codes, '' for an unused dimension); Host_BudgetUse records what vouchers consumed (positive)
-- or released (negative), so the consumed amount is the sum of mAmount.

-- Whether budget control is switched on for a system ("EC").
CREATE TABLE Host_BudgetOption (
  cSysId varchar(10) NOT NULL,
  bActive bit NOT NULL DEFAULT 0,
  CONSTRAINT PK_Host_BudgetOption PRIMARY KEY (cSysId)
);

CREATE TABLE Host_BudgetDimension (
  cItemCode varchar(30) NOT NULL,
  iPort tinyint NOT NULL CHECK (iPort IN (1, 2, 3)),
  cPortCode varchar(30) NOT NULL,  -- e.g. "department"
  cPortName nvarchar(60) NOT NULL,
  CONSTRAINT PK_Host_BudgetDimension PRIMARY KEY (cItemCode, iPort)
);

-- iControl 1: a voucher over the rest is refused; 0: it passes with a warning.
CREATE TABLE Host_Budget (
  AutoID int IDENTITY(1,1) NOT NULL,
  iYear int NOT NULL,
  cItemCode varchar(30) NOT NULL,
  cPort1Value varchar(30) NOT NULL DEFAULT '',
  cPort2Value varchar(30) NOT NULL DEFAULT '',
  cPort3Value varchar(30) NOT NULL DEFAULT '',
  mBudget money NOT NULL DEFAULT 0,
  iControl tinyint NOT NULL DEFAULT 1 CHECK (iControl IN (0, 1)),
  ts rowversion NOT NULL,
  CONSTRAINT IX_Host_Budget UNIQUE (iYear, cItemCode, cPort1Value, cPort2Value, cPort3Value)
);

CREATE TABLE Host_BudgetUse (
  AutoID int IDENTITY(1,1) NOT NULL,
  iYear int NOT NULL,
  cItemCode varchar(30) NOT NULL,
  cPort1Value varchar(30) NOT NULL DEFAULT '',
  cPort2Value varchar(30) NOT NULL DEFAULT '',
  cPort3Value varchar(30) NOT NULL DEFAULT '',
  mAmount money NOT NULL,
  cVouchKind nvarchar(20) NOT NULL,  -- "借款单" or "报销单"
  cVouchType nvarchar(60) NULL,  -- operation type name
  cVouchGUID uniqueidentifier NOT NULL,
  cVouchID nvarchar(30) NULL,
  dVouchDate varchar(10) NULL,
  cUsed nvarchar(255) NULL,
  iResult int NOT NULL DEFAULT 0,  -- outcome answered for this entry
  cUser_Id varchar(20) NULL,
  dTime datetime NOT NULL DEFAULT (getdate()),
  -- A loan's amount released or restored because a claim wrote the loan off: that claim.
  cLinkGUID uniqueidentifier NULL
);
CREATE INDEX IX_Host_BudgetUse_Key
  ON Host_BudgetUse (iYear, cItemCode, cPort1Value, cPort2Value, cPort3Value);
CREATE INDEX IX_Host_BudgetUse_Vouch ON Host_BudgetUse (cVouchGUID);

------------------------------------------------------------------------------------------------
-- Bank link: payment bills handed over for online payment, one per payment line, with the
-- columns of the bill record. cPayID is the payment id written back to the line; bConfirmed is
-- set when the bank confirms the payment; cPZID names the ledger voucher that carries it.
-- A withdrawn bill stays with bDeleted 1, so a line may be sent again.

CREATE TABLE Host_BankBill (
  AutoID int IDENTITY(1,1) NOT NULL,
  cPayID varchar(30) NOT NULL,
  cSysId varchar(10) NOT NULL DEFAULT 'EC',
  iBillKind int NOT NULL DEFAULT 4,
  iID uniqueidentifier NOT NULL,  -- the payment line's GUID
  cNoteNo nvarchar(40) NULL,
  dVouchDate varchar(10) NULL,
  iAmount_f money NULL,
  cExch_name nvarchar(20) NULL,
  iAmount money NULL,
  cNatBankAccount varchar(40) NULL,
  cBankAccount varchar(40) NULL,
  cOperator nvarchar(40) NULL,
  iExchRate float NULL,
  cDigest nvarchar(255) NULL,
  cSSCode varchar(10) NULL,
  cDeptCode varchar(12) NULL,
  cItem_Class varchar(10) NULL,
  cItemCode varchar(30) NULL,
  cPerson nvarchar(40) NULL,
  cImporter_Id varchar(20) NULL,
  dImportTime datetime NOT NULL DEFAULT (getdate()),
  bConfirmed bit NOT NULL DEFAULT 0,
  dConfirmTime datetime NULL,
  cPZID nvarchar(60) NULL,
  bDeleted bit NOT NULL DEFAULT 0,
  ts rowversion NOT NULL,
  CONSTRAINT IX_Host_BankBill_PayID UNIQUE (cPayID)
);
CREATE UNIQUE INDEX IX_Host_BankBill_Line ON Host_BankBill (iID) WHERE bDeleted = 0;

------------------------------------------------------------------------------------------------
-- Cheque book: the cheque register. A cheque number is unique per bank account (cCode, the
-- ledger account of the bank). iState 0 blank (in the book), 1 registered for a payment,
-- 2 void.

CREATE TABLE Host_Cheque (
  AutoID int IDENTITY(1,1) NOT NULL,
  cCode varchar(40) NOT NULL,
  cn_id nvarchar(40) NOT NULL,
  csettle varchar(10) NULL,
  mc money NULL,
  bill_date varchar(10) NULL,
  cremark nvarchar(255) NULL,
  cdept nvarchar(60) NULL,
  cperson nvarchar(40) NULL,
  cget nvarchar(60) NULL,  -- receiver
  iState tinyint NOT NULL DEFAULT 0 CHECK (iState IN (0, 1, 2)),
  cSysId varchar(10) NOT NULL DEFAULT 'EC',
  cUser_Id varchar(20) NULL,
  dRegTime datetime NULL,
  ts rowversion NOT NULL,
  CONSTRAINT IX_Host_Cheque UNIQUE (cCode, cn_id)
);

------------------------------------------------------------------------------------------------
-- User-defined fields (cDefine1..16 of heads, cDefine22..37 of rows). iSource says where valid
-- values come from: 0 free input, 1 the value list in UserDefine, 2 a column of a master table
-- (cRefTable.cRefColumn), 3 a query (cRefSql). UserDefine holds the value lists.

CREATE TABLE Host_UserDefField (
  cFieldName varchar(30) NOT NULL,
  cCaption nvarchar(60) NOT NULL,
  cDataType varchar(10) NOT NULL DEFAULT 'text',  -- text, number, date
  iLength int NOT NULL DEFAULT 120,
  iSource tinyint NOT NULL DEFAULT 0 CHECK (iSource IN (0, 1, 2, 3)),
  cRefTable varchar(60) NULL,
  cRefColumn varchar(60) NULL,
  cRefNameColumn varchar(60) NULL,
  cRefSql nvarchar(1000) NULL,
  cRule nvarchar(255) NULL,  -- extra check, comma-separated parts
  bMustInput bit NOT NULL DEFAULT 0,
  bEnabled bit NOT NULL DEFAULT 1,
  CONSTRAINT PK_Host_UserDefField PRIMARY KEY (cFieldName)
);

CREATE TABLE UserDefine (
  cID varchar(30) NOT NULL,  -- the field the value belongs to, e.g. "cDefine1"
  cValue nvarchar(120) NOT NULL,
  cAlias nvarchar(120) NULL,
  CONSTRAINT IX_UserDefine UNIQUE (cID, cValue)
);

------------------------------------------------------------------------------------------------
-- Ageing periods per system and ageing type: upper bound in days and name, in order; the last
-- period may leave iDays NULL for "older than the previous bound".

CREATE TABLE Host_AgePeriod (
  cSysId varchar(10) NOT NULL,
  cAgeType varchar(20) NOT NULL,
  iNo int NOT NULL,
  iDays int NULL,
  cName nvarchar(40) NOT NULL,
  CONSTRAINT PK_Host_AgePeriod PRIMARY KEY (cSysId, cAgeType, iNo)
);

------------------------------------------------------------------------------------------------
-- Title formats of references: the columns a pick list shows, with captions and widths. A
-- reference without rows here shows its query's columns by name.

CREATE TABLE Host_RefColumn (
  cRefName varchar(60) NOT NULL,
  iOrder int NOT NULL,
  cFieldName varchar(60) NOT NULL,
  cCaption nvarchar(60) NOT NULL,
  cCaptionEn varchar(100) NULL,
  iWidth int NOT NULL DEFAULT 1200,
  CONSTRAINT PK_Host_RefColumn PRIMARY KEY (cRefName, iOrder)
);

------------------------------------------------------------------------------------------------
-- What goes with a row when it is deleted: the parts and serials of a bill format, the codes of
-- a scope rule, the steps and approvers of a flow, the records of a flow instance.

ALTER TABLE Host_BillPrefix ADD CONSTRAINT FK_Host_BillPrefix_Host_BillFormat
  FOREIGN KEY (cBillType) REFERENCES Host_BillFormat (cBillType) ON DELETE CASCADE;
ALTER TABLE Host_BillSerial ADD CONSTRAINT FK_Host_BillSerial_Host_BillFormat
  FOREIGN KEY (cBillType) REFERENCES Host_BillFormat (cBillType) ON DELETE CASCADE;
ALTER TABLE Host_ScopeRuleItem ADD CONSTRAINT FK_Host_ScopeRuleItem_Host_ScopeRule
  FOREIGN KEY (cUser_Id, cAuthType, cSelector1, cSelector2)
  REFERENCES Host_ScopeRule (cUser_Id, cAuthType, cSelector1, cSelector2) ON DELETE CASCADE;
ALTER TABLE Host_FlowStep ADD CONSTRAINT FK_Host_FlowStep_Host_Flow
  FOREIGN KEY (iFlowId) REFERENCES Host_Flow (iFlowId) ON DELETE CASCADE;
ALTER TABLE Host_FlowApprover ADD CONSTRAINT FK_Host_FlowApprover_Host_Flow
  FOREIGN KEY (iFlowId) REFERENCES Host_Flow (iFlowId) ON DELETE CASCADE;
ALTER TABLE Host_FlowRecord ADD CONSTRAINT FK_Host_FlowRecord_Host_FlowInstance
  FOREIGN KEY (iInstanceId) REFERENCES Host_FlowInstance (iInstanceId) ON DELETE CASCADE;
