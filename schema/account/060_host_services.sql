-- State of the host services that live in the account database: numbering, voucher templates,
-- column layouts, row authority, approval flows, budgets, bank link, cheque book, user-defined
-- fields and ageing periods. Host_RowVersion comes from 010_rowversion.sql.

------------------------------------------------------------------------------------------------
-- Numbering. A bill format per bill type ("EC01" loans, "EC02"/"EC03" claims) is made of prefix
-- parts and a serial. The serial runs per seed: the joined values of the parts marked as serial
-- basis (for example the month of the voucher date), so it restarts with every new seed.

CREATE TABLE Host_BillFormat (
  cBillType varchar(20) COLLATE NOCASE NOT NULL,
  cBillName nvarchar(60) COLLATE NOCASE NOT NULL,
  iSerialLength int NOT NULL DEFAULT 4,  -- digits of the serial, zero-padded
  iSerialStart int NOT NULL DEFAULT 1,  -- first serial of a new seed
  bManual bit NOT NULL DEFAULT 0,  -- numbers are typed by hand, none is handed out
  bRetry bit NOT NULL DEFAULT 1,  -- a taken number is replaced by the next one
  -- Where numbers in use are found (table and column), so that retrying can skip them.
  cCheckTable varchar(60) COLLATE NOCASE NULL,
  cCheckColumn varchar(60) COLLATE NOCASE NULL,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_Host_BillFormat ON Host_BillFormat (cBillType);
CREATE TRIGGER trg_Host_BillFormat_ts_ins AFTER INSERT ON Host_BillFormat BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE Host_BillFormat SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1)
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_Host_BillFormat_ts_upd AFTER UPDATE ON Host_BillFormat
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE Host_BillFormat SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1)
    WHERE rowid = NEW.rowid;
END;

-- Prefix parts in order. A part takes its value from a field of the voucher head
-- (cSourceField, dates formatted with cFormat such as "yyyyMM") or is the constant cConstant.
CREATE TABLE Host_BillPrefix (
  cBillType varchar(20) COLLATE NOCASE NOT NULL,
  iOrder int NOT NULL,
  cObjectName nvarchar(30) COLLATE NOCASE NOT NULL,  -- what the part shows, e.g. "单据日期"
  cSourceField varchar(60) COLLATE NOCASE NULL,  -- head field the seed value comes from
  cFormat varchar(20) COLLATE NOCASE NULL,
  iLength int NULL,  -- cut or pad the value to this length
  cConstant nvarchar(30) COLLATE NOCASE NULL,
  bSerialBasis bit NOT NULL DEFAULT 0  -- part of the seed the serial runs on
);
CREATE UNIQUE INDEX PK_Host_BillPrefix ON Host_BillPrefix (cBillType, iOrder);

-- Last serial handed out per bill type and seed.
CREATE TABLE Host_BillSerial (
  cBillType varchar(20) COLLATE NOCASE NOT NULL,
  cSeed nvarchar(120) COLLATE NOCASE NOT NULL DEFAULT '',
  iLastNo int NOT NULL DEFAULT 0,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_Host_BillSerial ON Host_BillSerial (cBillType, cSeed);
CREATE TRIGGER trg_Host_BillSerial_ts_ins AFTER INSERT ON Host_BillSerial BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE Host_BillSerial SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1)
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_Host_BillSerial_ts_upd AFTER UPDATE ON Host_BillSerial
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE Host_BillSerial SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1)
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_Host_BillFormat_del AFTER DELETE ON Host_BillFormat BEGIN
  DELETE FROM Host_BillPrefix WHERE cBillType = OLD.cBillType;
  DELETE FROM Host_BillSerial WHERE cBillType = OLD.cBillType;
END;

------------------------------------------------------------------------------------------------
-- Voucher templates: the templates themselves are the ERP's VoucherTemplates (020_erp.sql);
-- the service keeps their fields, fixed data and the company logo.

-- Fields of a template: head ('T') or body ('B') columns with caption, order and visibility.
CREATE TABLE Host_TemplateField (
  vt_id int NOT NULL,
  cSection char(1) COLLATE NOCASE NOT NULL DEFAULT 'T',
  cFieldName varchar(60) COLLATE NOCASE NOT NULL,  -- column of the voucher table or view
  cCaption nvarchar(60) COLLATE NOCASE NOT NULL,
  cCaptionEn varchar(100) COLLATE NOCASE NULL,
  iOrder int NOT NULL DEFAULT 0,
  bVisible bit NOT NULL DEFAULT 1,
  bMustInput bit NOT NULL DEFAULT 0,
  bCanModify bit NOT NULL DEFAULT 1,
  iWidth int NOT NULL DEFAULT 1200,
  cDataType varchar(10) COLLATE NOCASE NOT NULL DEFAULT 'text',  -- text, number, date, bool
  cRefName varchar(60) COLLATE NOCASE NULL  -- reference window that fills the field
);
CREATE UNIQUE INDEX PK_Host_TemplateField ON Host_TemplateField (vt_id, cSection, cFieldName);

-- Fixed data printed with a template (title, footer texts).
CREATE TABLE Host_FixedData (
  vt_id int NOT NULL,
  iOrder int NOT NULL,
  cName nvarchar(60) COLLATE NOCASE NOT NULL,
  cValue nvarchar(255) COLLATE NOCASE NULL
);
CREATE UNIQUE INDEX PK_Host_FixedData ON Host_FixedData (vt_id, iOrder);

-- Company logo printed on vouchers, as base64 text; at most one row.
CREATE TABLE Host_CompanyLogo (
  id INTEGER PRIMARY KEY CHECK (id = 1),
  cFileName nvarchar(120) COLLATE NOCASE NULL,
  cMimeType varchar(40) COLLATE NOCASE NOT NULL DEFAULT 'image/png',
  cImageData ntext COLLATE NOCASE NOT NULL
);

------------------------------------------------------------------------------------------------
-- Column layouts of lists, per layout key and operator; cUser_Id '' is the layout for everyone,
-- used until an operator saves an own one.

CREATE TABLE Host_ColumnLayout (
  cKey varchar(100) COLLATE NOCASE NOT NULL,
  cUser_Id varchar(20) COLLATE NOCASE NOT NULL DEFAULT '',
  cFieldName varchar(60) COLLATE NOCASE NOT NULL,
  cCaption nvarchar(60) COLLATE NOCASE NULL,
  iOrder int NOT NULL DEFAULT 0,
  iWidth int NOT NULL DEFAULT 1200,
  bVisible bit NOT NULL DEFAULT 1,
  cAlign varchar(10) COLLATE NOCASE NOT NULL DEFAULT 'left',
  cFormat varchar(30) COLLATE NOCASE NULL,
  bTotal bit NOT NULL DEFAULT 0  -- show a column total
);
CREATE UNIQUE INDEX PK_Host_ColumnLayout ON Host_ColumnLayout (cKey, cUser_Id, cFieldName);

------------------------------------------------------------------------------------------------
-- Row authority. A rule per operator, authority type ("department", "person", "fitem", "user",
-- "djmb", "code", "dsign") and selectors: iScope 0 unrestricted, 1 nothing, 2 only the codes in
-- Host_ScopeRuleItem. No rule means unrestricted. Selector '' matches any selector. For "user"
-- the codes are operator names, for "djmb" template ids (selector: the card number).

CREATE TABLE Host_ScopeRule (
  cUser_Id varchar(20) COLLATE NOCASE NOT NULL,
  cAuthType varchar(20) COLLATE NOCASE NOT NULL,
  cSelector1 varchar(30) COLLATE NOCASE NOT NULL DEFAULT '',
  cSelector2 varchar(30) COLLATE NOCASE NOT NULL DEFAULT '',
  iScope tinyint NOT NULL DEFAULT 0 CHECK (iScope IN (0, 1, 2))
);
CREATE UNIQUE INDEX PK_Host_ScopeRule
  ON Host_ScopeRule (cUser_Id, cAuthType, cSelector1, cSelector2);

CREATE TABLE Host_ScopeRuleItem (
  cUser_Id varchar(20) COLLATE NOCASE NOT NULL,
  cAuthType varchar(20) COLLATE NOCASE NOT NULL,
  cSelector1 varchar(30) COLLATE NOCASE NOT NULL DEFAULT '',
  cSelector2 varchar(30) COLLATE NOCASE NOT NULL DEFAULT '',
  cCode nvarchar(60) COLLATE NOCASE NOT NULL
);
CREATE UNIQUE INDEX PK_Host_ScopeRuleItem
  ON Host_ScopeRuleItem (cUser_Id, cAuthType, cSelector1, cSelector2, cCode);
CREATE TRIGGER trg_Host_ScopeRule_del AFTER DELETE ON Host_ScopeRule BEGIN
  DELETE FROM Host_ScopeRuleItem
   WHERE cUser_Id = OLD.cUser_Id AND cAuthType = OLD.cAuthType
     AND cSelector1 = OLD.cSelector1 AND cSelector2 = OLD.cSelector2;
END;

------------------------------------------------------------------------------------------------
-- Approval flows. A flow belongs to a card number ("45" loans, "46"/"47" claims) and may be
-- limited to a department, an operation type (prefix of the code) and an amount range; the
-- active flow with the lowest iPriority whose conditions hold is started for a voucher.

CREATE TABLE Host_Flow (
  iFlowId INTEGER PRIMARY KEY AUTOINCREMENT,
  cCardNumber varchar(10) COLLATE NOCASE NOT NULL,
  cFlowName nvarchar(60) COLLATE NOCASE NOT NULL,
  iPriority int NOT NULL DEFAULT 0,
  cDepCode varchar(12) COLLATE NOCASE NULL,  -- NULL: any department
  cTypeCode varchar(20) COLLATE NOCASE NULL,  -- NULL: any operation type
  mMinAmount money NULL,  -- NULL: no lower bound
  mMaxAmount money NULL,  -- NULL: no upper bound
  bActive bit NOT NULL DEFAULT 1,
  ts bigint NOT NULL DEFAULT 0
);
CREATE INDEX IX_Host_Flow_Card ON Host_Flow (cCardNumber, iPriority);
CREATE TRIGGER trg_Host_Flow_ts_ins AFTER INSERT ON Host_Flow BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE Host_Flow SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1)
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_Host_Flow_ts_upd AFTER UPDATE ON Host_Flow
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE Host_Flow SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1)
    WHERE rowid = NEW.rowid;
END;

-- Steps in the order they are passed. iPassMode 0: one approver of the step suffices;
-- 1: every approver user of the step must approve.
CREATE TABLE Host_FlowStep (
  iFlowId int NOT NULL,
  iStep int NOT NULL,
  cStepName nvarchar(60) COLLATE NOCASE NOT NULL,
  iPassMode tinyint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_Host_FlowStep ON Host_FlowStep (iFlowId, iStep);

-- Approvers of a step: a user (iIsUser 1, UA_User.cUser_Id) or a role (0, UA_Group.cGroup_Id).
CREATE TABLE Host_FlowApprover (
  iFlowId int NOT NULL,
  iStep int NOT NULL,
  iIsUser tinyint NOT NULL DEFAULT 1,
  cApprover_Id varchar(20) COLLATE NOCASE NOT NULL
);
CREATE UNIQUE INDEX PK_Host_FlowApprover
  ON Host_FlowApprover (iFlowId, iStep, iIsUser, cApprover_Id);
CREATE INDEX IX_Host_FlowApprover ON Host_FlowApprover (cApprover_Id);

CREATE TRIGGER trg_Host_Flow_del AFTER DELETE ON Host_Flow BEGIN
  DELETE FROM Host_FlowStep WHERE iFlowId = OLD.iFlowId;
  DELETE FROM Host_FlowApprover WHERE iFlowId = OLD.iFlowId;
END;

-- Actions an approver can take (EAAID of the task document). iEffect 1 passes the step,
-- 2 rejects (the instance stops), 3 takes back the approver's last step.
CREATE TABLE Host_FlowAction (
  EAAID varchar(10) COLLATE NOCASE NOT NULL,
  EAA_Name nvarchar(30) COLLATE NOCASE NOT NULL,
  EAA_NameEn varchar(60) COLLATE NOCASE NULL,
  iEffect tinyint NOT NULL CHECK (iEffect IN (1, 2, 3))
);
CREATE UNIQUE INDEX PK_Host_FlowAction ON Host_FlowAction (EAAID);
INSERT INTO Host_FlowAction (EAAID, EAA_Name, EAA_NameEn, iEffect) VALUES
  ('1', '同意', 'Approve', 1),
  ('2', '不同意', 'Reject', 2),
  ('3', '撤销', 'Take back', 3);

-- One running or finished flow per voucher. iCurStep is the step waiting for approval;
-- iState 0 running, 1 ended (all steps passed), 2 rejected. A reset starts a new round
-- at step 1; records of earlier rounds stay as history.
CREATE TABLE Host_FlowInstance (
  iInstanceId INTEGER PRIMARY KEY AUTOINCREMENT,
  cCardNumber varchar(10) COLLATE NOCASE NOT NULL,
  cVouchGUID uniqueidentifier COLLATE UNIQUEIDENTIFIER NOT NULL,
  cVouchCode nvarchar(30) COLLATE NOCASE NULL,  -- voucher number
  iFlowId int NOT NULL,
  iCurStep int NOT NULL DEFAULT 1,
  iState tinyint NOT NULL DEFAULT 0 CHECK (iState IN (0, 1, 2)),
  iRound int NOT NULL DEFAULT 1,
  cEAdata ntext COLLATE NOCASE NOT NULL,  -- voucher description as submitted
  cAuth_Id varchar(20) COLLATE NOCASE NULL,  -- routing values read from cEAdata
  cDepCode varchar(12) COLLATE NOCASE NULL,
  cTypeCode varchar(20) COLLATE NOCASE NULL,
  mAmount money NULL,
  cStarter_Id varchar(20) COLLATE NOCASE NULL,
  dStartTime datetime NOT NULL DEFAULT (datetime('now', 'localtime')),
  dEndTime datetime NULL,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX IX_Host_FlowInstance ON Host_FlowInstance (cCardNumber, cVouchGUID);
CREATE INDEX IX_Host_FlowInstance_Step ON Host_FlowInstance (iState, iFlowId, iCurStep);
CREATE TRIGGER trg_Host_FlowInstance_ts_ins AFTER INSERT ON Host_FlowInstance BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE Host_FlowInstance SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1)
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_Host_FlowInstance_ts_upd AFTER UPDATE ON Host_FlowInstance
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE Host_FlowInstance SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1)
    WHERE rowid = NEW.rowid;
END;

-- One record per approver action. A taken-back action keeps its record with bUndone 1 and
-- gets a record of its own for the take-back.
CREATE TABLE Host_FlowRecord (
  AutoID INTEGER PRIMARY KEY AUTOINCREMENT,
  iInstanceId int NOT NULL,
  iRound int NOT NULL DEFAULT 1,
  iStep int NOT NULL,
  cUser_Id varchar(20) COLLATE NOCASE NOT NULL,
  cUser_Name nvarchar(40) COLLATE NOCASE NOT NULL,
  EAAID varchar(10) COLLATE NOCASE NOT NULL,
  remark nvarchar(255) COLLATE NOCASE NULL,
  EA_time datetime NOT NULL DEFAULT (datetime('now', 'localtime')),
  bUndone bit NOT NULL DEFAULT 0
);
CREATE INDEX IX_Host_FlowRecord ON Host_FlowRecord (iInstanceId, iRound, AutoID);
CREATE TRIGGER trg_Host_FlowInstance_del AFTER DELETE ON Host_FlowInstance BEGIN
  DELETE FROM Host_FlowRecord WHERE iInstanceId = OLD.iInstanceId;
END;

------------------------------------------------------------------------------------------------
-- Budgets. The items are the ERP's BG_Item (020_erp.sql). Host_BudgetDimension gives an item up
-- to three dimensions; Host_Budget holds the amount per year, item and dimension values
-- (codes, '' for an unused dimension); Host_BudgetUse records what vouchers consumed (positive)
-- or released (negative), so the consumed amount is the sum of mAmount.

-- Whether budget control is switched on for a system ("EC").
CREATE TABLE Host_BudgetOption (
  cSysId varchar(10) COLLATE NOCASE NOT NULL,
  bActive bit NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_Host_BudgetOption ON Host_BudgetOption (cSysId);

CREATE TABLE Host_BudgetDimension (
  cItemCode varchar(30) COLLATE NOCASE NOT NULL,
  iPort tinyint NOT NULL CHECK (iPort IN (1, 2, 3)),
  cPortCode varchar(30) COLLATE NOCASE NOT NULL,  -- e.g. "department"
  cPortName nvarchar(60) COLLATE NOCASE NOT NULL
);
CREATE UNIQUE INDEX PK_Host_BudgetDimension ON Host_BudgetDimension (cItemCode, iPort);

-- iControl 1: a voucher over the rest is refused; 0: it passes with a warning.
CREATE TABLE Host_Budget (
  AutoID INTEGER PRIMARY KEY AUTOINCREMENT,
  iYear int NOT NULL,
  cItemCode varchar(30) COLLATE NOCASE NOT NULL,
  cPort1Value varchar(30) COLLATE NOCASE NOT NULL DEFAULT '',
  cPort2Value varchar(30) COLLATE NOCASE NOT NULL DEFAULT '',
  cPort3Value varchar(30) COLLATE NOCASE NOT NULL DEFAULT '',
  mBudget money NOT NULL DEFAULT 0,
  iControl tinyint NOT NULL DEFAULT 1 CHECK (iControl IN (0, 1)),
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX IX_Host_Budget
  ON Host_Budget (iYear, cItemCode, cPort1Value, cPort2Value, cPort3Value);
CREATE TRIGGER trg_Host_Budget_ts_ins AFTER INSERT ON Host_Budget BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE Host_Budget SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1)
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_Host_Budget_ts_upd AFTER UPDATE ON Host_Budget
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE Host_Budget SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1)
    WHERE rowid = NEW.rowid;
END;

CREATE TABLE Host_BudgetUse (
  AutoID INTEGER PRIMARY KEY AUTOINCREMENT,
  iYear int NOT NULL,
  cItemCode varchar(30) COLLATE NOCASE NOT NULL,
  cPort1Value varchar(30) COLLATE NOCASE NOT NULL DEFAULT '',
  cPort2Value varchar(30) COLLATE NOCASE NOT NULL DEFAULT '',
  cPort3Value varchar(30) COLLATE NOCASE NOT NULL DEFAULT '',
  mAmount money NOT NULL,
  cVouchKind nvarchar(20) COLLATE NOCASE NOT NULL,  -- "借款单" or "报销单"
  cVouchType nvarchar(60) COLLATE NOCASE NULL,  -- operation type name
  cVouchGUID uniqueidentifier COLLATE UNIQUEIDENTIFIER NOT NULL,
  cVouchID nvarchar(30) COLLATE NOCASE NULL,
  dVouchDate varchar(10) COLLATE NOCASE NULL,
  cUsed nvarchar(255) COLLATE NOCASE NULL,
  iResult int NOT NULL DEFAULT 0,  -- outcome answered for this entry
  cUser_Id varchar(20) COLLATE NOCASE NULL,
  dTime datetime NOT NULL DEFAULT (datetime('now', 'localtime')),
  -- A loan's amount released or restored because a claim wrote the loan off: that claim.
  cLinkGUID uniqueidentifier COLLATE UNIQUEIDENTIFIER NULL
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
  AutoID INTEGER PRIMARY KEY AUTOINCREMENT,
  cPayID varchar(30) COLLATE NOCASE NOT NULL,
  cSysId varchar(10) COLLATE NOCASE NOT NULL DEFAULT 'EC',
  iBillKind int NOT NULL DEFAULT 4,
  iID uniqueidentifier COLLATE UNIQUEIDENTIFIER NOT NULL,  -- the payment line's GUID
  cNoteNo nvarchar(40) COLLATE NOCASE NULL,
  dVouchDate varchar(10) COLLATE NOCASE NULL,
  iAmount_f money NULL,
  cExch_name nvarchar(20) COLLATE NOCASE NULL,
  iAmount money NULL,
  cNatBankAccount varchar(40) COLLATE NOCASE NULL,
  cBankAccount varchar(40) COLLATE NOCASE NULL,
  cOperator nvarchar(40) COLLATE NOCASE NULL,
  iExchRate float NULL,
  cDigest nvarchar(255) COLLATE NOCASE NULL,
  cSSCode varchar(10) COLLATE NOCASE NULL,
  cDeptCode varchar(12) COLLATE NOCASE NULL,
  cItem_Class varchar(10) COLLATE NOCASE NULL,
  cItemCode varchar(30) COLLATE NOCASE NULL,
  cPerson nvarchar(40) COLLATE NOCASE NULL,
  cImporter_Id varchar(20) COLLATE NOCASE NULL,
  dImportTime datetime NOT NULL DEFAULT (datetime('now', 'localtime')),
  bConfirmed bit NOT NULL DEFAULT 0,
  dConfirmTime datetime NULL,
  cPZID nvarchar(60) COLLATE NOCASE NULL,
  bDeleted bit NOT NULL DEFAULT 0,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX IX_Host_BankBill_PayID ON Host_BankBill (cPayID);
CREATE UNIQUE INDEX IX_Host_BankBill_Line ON Host_BankBill (iID) WHERE bDeleted = 0;
CREATE TRIGGER trg_Host_BankBill_ts_ins AFTER INSERT ON Host_BankBill BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE Host_BankBill SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1)
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_Host_BankBill_ts_upd AFTER UPDATE ON Host_BankBill
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE Host_BankBill SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1)
    WHERE rowid = NEW.rowid;
END;

------------------------------------------------------------------------------------------------
-- Cheque book: the cheque register. A cheque number is unique per bank account (cCode, the
-- ledger account of the bank). iState 0 blank (in the book), 1 registered for a payment,
-- 2 void.

CREATE TABLE Host_Cheque (
  AutoID INTEGER PRIMARY KEY AUTOINCREMENT,
  cCode varchar(40) COLLATE NOCASE NOT NULL,
  cn_id nvarchar(40) COLLATE NOCASE NOT NULL,
  csettle varchar(10) COLLATE NOCASE NULL,
  mc money NULL,
  bill_date varchar(10) COLLATE NOCASE NULL,
  cremark nvarchar(255) COLLATE NOCASE NULL,
  cdept nvarchar(60) COLLATE NOCASE NULL,
  cperson nvarchar(40) COLLATE NOCASE NULL,
  cget nvarchar(60) COLLATE NOCASE NULL,  -- receiver
  iState tinyint NOT NULL DEFAULT 0 CHECK (iState IN (0, 1, 2)),
  cSysId varchar(10) COLLATE NOCASE NOT NULL DEFAULT 'EC',
  cUser_Id varchar(20) COLLATE NOCASE NULL,
  dRegTime datetime NULL,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX IX_Host_Cheque ON Host_Cheque (cCode, cn_id);
CREATE TRIGGER trg_Host_Cheque_ts_ins AFTER INSERT ON Host_Cheque BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE Host_Cheque SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1)
    WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_Host_Cheque_ts_upd AFTER UPDATE ON Host_Cheque
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE Host_Cheque SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1)
    WHERE rowid = NEW.rowid;
END;

------------------------------------------------------------------------------------------------
-- User-defined fields (cDefine1..16 of heads, cDefine22..37 of rows). iSource says where valid
-- values come from: 0 free input, 1 the value list in UserDefine, 2 a column of a master table
-- (cRefTable.cRefColumn), 3 a query (cRefSql). UserDefine holds the value lists.

CREATE TABLE Host_UserDefField (
  cFieldName varchar(30) COLLATE NOCASE NOT NULL,
  cCaption nvarchar(60) COLLATE NOCASE NOT NULL,
  cDataType varchar(10) COLLATE NOCASE NOT NULL DEFAULT 'text',  -- text, number, date
  iLength int NOT NULL DEFAULT 120,
  iSource tinyint NOT NULL DEFAULT 0 CHECK (iSource IN (0, 1, 2, 3)),
  cRefTable varchar(60) COLLATE NOCASE NULL,
  cRefColumn varchar(60) COLLATE NOCASE NULL,
  cRefNameColumn varchar(60) COLLATE NOCASE NULL,
  cRefSql nvarchar(1000) COLLATE NOCASE NULL,
  cRule nvarchar(255) COLLATE NOCASE NULL,  -- extra check, comma-separated parts
  bMustInput bit NOT NULL DEFAULT 0,
  bEnabled bit NOT NULL DEFAULT 1
);
CREATE UNIQUE INDEX PK_Host_UserDefField ON Host_UserDefField (cFieldName);

CREATE TABLE UserDefine (
  cID varchar(30) COLLATE NOCASE NOT NULL,  -- the field the value belongs to, e.g. "cDefine1"
  cValue nvarchar(120) COLLATE NOCASE NOT NULL,
  cAlias nvarchar(120) COLLATE NOCASE NULL
);
CREATE UNIQUE INDEX IX_UserDefine ON UserDefine (cID, cValue);

------------------------------------------------------------------------------------------------
-- Ageing periods per system and ageing type: upper bound in days and name, in order; the last
-- period may leave iDays NULL for "older than the previous bound".

CREATE TABLE Host_AgePeriod (
  cSysId varchar(10) COLLATE NOCASE NOT NULL,
  cAgeType varchar(20) COLLATE NOCASE NOT NULL,
  iNo int NOT NULL,
  iDays int NULL,
  cName nvarchar(40) COLLATE NOCASE NOT NULL
);
CREATE UNIQUE INDEX PK_Host_AgePeriod ON Host_AgePeriod (cSysId, cAgeType, iNo);

------------------------------------------------------------------------------------------------
-- Title formats of references: the columns a pick list shows, with captions and widths. A
-- reference without rows here shows its query's columns by name.

CREATE TABLE Host_RefColumn (
  cRefName varchar(60) COLLATE NOCASE NOT NULL,
  iOrder int NOT NULL,
  cFieldName varchar(60) COLLATE NOCASE NOT NULL,
  cCaption nvarchar(60) COLLATE NOCASE NOT NULL,
  cCaptionEn varchar(100) COLLATE NOCASE NULL,
  iWidth int NOT NULL DEFAULT 1200
);
CREATE UNIQUE INDEX PK_Host_RefColumn ON Host_RefColumn (cRefName, iOrder);
