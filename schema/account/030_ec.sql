-- The expense module's own tables. Keys and unique indexes carry the server's names, which the
-- business classes look for in constraint messages; ts columns are row versions (010).

------------------------------------------------------------------------------------------------
-- Operation types: the business kinds of vouchers. The first character of strCode is the
-- family ("1" income claim, "2" expenditure claim, "3" loan) and equals intType; strShowModel
-- and strPrintModel are VoucherTemplates.vt_id of the display and print templates.

CREATE TABLE EC_OperationType (
  intType int NOT NULL,
  strCode varchar(20) COLLATE NOCASE NOT NULL,
  strName nvarchar(60) COLLATE NOCASE NOT NULL,
  strShowModel varchar(20) COLLATE NOCASE NULL,
  strPrintModel varchar(20) COLLATE NOCASE NULL,
  strLink nvarchar(200) COLLATE NOCASE NULL,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_EC_OPERATIONTYPE ON EC_OperationType (strCode);
CREATE UNIQUE INDEX IX_EC_OperationType ON EC_OperationType (intType, strName);
CREATE TRIGGER trg_EC_OperationType_ts_ins AFTER INSERT ON EC_OperationType BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_OperationType SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_EC_OperationType_ts_upd AFTER UPDATE ON EC_OperationType
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_OperationType SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;

------------------------------------------------------------------------------------------------
-- Reimbursement items: a coded tree under the two roots "1" (income) and "2" (expenditure),
-- which are not rows; blnEnd marks a leaf, the only level a claim row may use.

CREATE TABLE EC_IOItem (
  strCode varchar(20) COLLATE NOCASE NOT NULL,
  strName nvarchar(60) COLLATE NOCASE NOT NULL,
  strTypeCode varchar(20) COLLATE NOCASE NULL,
  strUpCode varchar(20) COLLATE NOCASE NULL,
  blnEnd bit NULL DEFAULT 1,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX IX_EC_IOItem ON EC_IOItem (strCode);
CREATE INDEX idx_EC_IOItem_strUpCode ON EC_IOItem (strUpCode);
CREATE TRIGGER trg_EC_IOItem_ts_ins AFTER INSERT ON EC_IOItem BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_IOItem SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_EC_IOItem_ts_upd AFTER UPDATE ON EC_IOItem
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_IOItem SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;

------------------------------------------------------------------------------------------------
-- Places (districts): a tree by strUpCode; strGradeID is a place grade (EC_EISet_NUStand,
-- intEICode 2) that the standards read.

CREATE TABLE EC_Position (
  strPositionCode varchar(20) COLLATE NOCASE NOT NULL,
  strPositionName nvarchar(60) COLLATE NOCASE NOT NULL,
  strGradeID varchar(10) COLLATE NOCASE NULL,
  strUpCode varchar(20) COLLATE NOCASE NULL,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_EC_POSITION ON EC_Position (strPositionCode);
CREATE UNIQUE INDEX IX_EC_Position ON EC_Position (strPositionName);
CREATE TRIGGER trg_EC_Position_ts_ins AFTER INSERT ON EC_Position BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_Position SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_EC_Position_ts_upd AFTER UPDATE ON EC_Position
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_Position SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;

------------------------------------------------------------------------------------------------
-- Loan (advance) vouchers: head and payment rows. Amounts: dblMoney in the voucher's currency,
-- dblOldMoney in local currency; dblReturn is what was repaid through claims.

CREATE TABLE EC_LoanVouch (
  AutoID INTEGER PRIMARY KEY AUTOINCREMENT,
  GUID uniqueidentifier NOT NULL DEFAULT (newid()) COLLATE UNIQUEIDENTIFIER,
  strTypeCode varchar(20) COLLATE NOCASE NOT NULL,
  strVouchID varchar(30) COLLATE NOCASE NOT NULL,
  dtLoanDate datetime NOT NULL,
  strDepartID varchar(12) COLLATE NOCASE NULL,
  strLoanID varchar(20) COLLATE NOCASE NULL,
  strItemClassID varchar(2) COLLATE NOCASE NULL,
  strItemID varchar(20) COLLATE NOCASE NULL,
  strBudItemID varchar(30) COLLATE NOCASE NULL,
  strPort1 varchar(30) COLLATE NOCASE NULL,
  strPort1Value nvarchar(100) COLLATE NOCASE NULL,
  strPort2 varchar(30) COLLATE NOCASE NULL,
  strPort2Value nvarchar(100) COLLATE NOCASE NULL,
  strPort3 varchar(30) COLLATE NOCASE NULL,
  strPort3Value nvarchar(100) COLLATE NOCASE NULL,
  strBill nvarchar(14) COLLATE NOCASE NULL,
  fltRate float NULL DEFAULT 1,
  dblMoney money NULL DEFAULT 0,
  dblOldMoney money NULL DEFAULT 0,
  dblReturn money NULL DEFAULT 0,
  strUsed nvarchar(200) COLLATE NOCASE NULL,
  dtExpDate datetime NULL,
  strPersonID nvarchar(20) COLLATE NOCASE NULL,
  blnAudi bit NULL DEFAULT 0,
  strAuditorID nvarchar(20) COLLATE NOCASE NULL,
  strMakerID nvarchar(20) COLLATE NOCASE NULL,
  blnAllBill bit NULL DEFAULT 0,
  blnBegin bit NULL DEFAULT 0,
  blnSettle bit NULL DEFAULT 0,
  intBudPass int NULL DEFAULT 0,
  intOverBud int NULL DEFAULT -1,
  strOverPerson nvarchar(20) COLLATE NOCASE NULL,
  strOverDate varchar(20) COLLATE NOCASE NULL,
  strOverDesc nvarchar(200) COLLATE NOCASE NULL,
  PZGUID varchar(40) COLLATE NOCASE NULL,
  idoc int NULL,
  cDefine1 nvarchar(20) COLLATE NOCASE NULL,
  cDefine2 nvarchar(20) COLLATE NOCASE NULL,
  cDefine3 nvarchar(20) COLLATE NOCASE NULL,
  cDefine4 datetime NULL,
  cDefine5 int NULL,
  cDefine6 datetime NULL,
  cDefine7 float NULL,
  cDefine8 nvarchar(4) COLLATE NOCASE NULL,
  cDefine9 nvarchar(8) COLLATE NOCASE NULL,
  cDefine10 nvarchar(60) COLLATE NOCASE NULL,
  cDefine11 nvarchar(120) COLLATE NOCASE NULL,
  cDefine12 nvarchar(120) COLLATE NOCASE NULL,
  cDefine13 nvarchar(120) COLLATE NOCASE NULL,
  cDefine14 nvarchar(120) COLLATE NOCASE NULL,
  cDefine15 int NULL,
  cDefine16 float NULL,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_EC_LoanVouch ON EC_LoanVouch (GUID);
CREATE UNIQUE INDEX IX_EC_LoanVouch ON EC_LoanVouch (strVouchID);
CREATE INDEX idx_EC_LoanVouch_strLoanID ON EC_LoanVouch (strLoanID);
CREATE INDEX idx_EC_LoanVouch_PZGUID ON EC_LoanVouch (PZGUID);
-- Lists restrict an operator to departments and filter by approval state; the narrow state index
-- is also what the engine counts a whole list by.
CREATE INDEX idx_EC_LoanVouch_strDepartID ON EC_LoanVouch (strDepartID);
CREATE INDEX idx_EC_LoanVouch_blnAudi ON EC_LoanVouch (blnAudi);
CREATE TRIGGER trg_EC_LoanVouch_ts_ins AFTER INSERT ON EC_LoanVouch BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_LoanVouch SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_EC_LoanVouch_ts_upd AFTER UPDATE ON EC_LoanVouch
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_LoanVouch SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;

-- dblMoney stays Null on cheque rows, which carry the advance in dblPreMoney; strPayID and
-- blnNetOK are the online-payment state of the row.
CREATE TABLE EC_LoanVouch_Sub (
  AutoID INTEGER PRIMARY KEY AUTOINCREMENT,
  GUID uniqueidentifier NOT NULL DEFAULT (newid()) COLLATE UNIQUEIDENTIFIER,
  MGuid uniqueidentifier NOT NULL COLLATE UNIQUEIDENTIFIER,
  strBalanceID varchar(12) COLLATE NOCASE NULL,
  dblMoney money NULL,
  dblPreMoney money NULL,
  strBillID nvarchar(40) COLLATE NOCASE NULL,
  strPayBankID varchar(12) COLLATE NOCASE NULL,
  strBankName nvarchar(100) COLLATE NOCASE NULL,
  strBankAcc nvarchar(50) COLLATE NOCASE NULL,
  dblReturn money NULL DEFAULT 0,
  blnSettle bit NULL DEFAULT 0,
  strPayID nvarchar(60) COLLATE NOCASE NULL,
  blnNetOK bit NULL DEFAULT 0,
  cDefine22 nvarchar(60) COLLATE NOCASE NULL,
  cDefine23 nvarchar(60) COLLATE NOCASE NULL,
  cDefine24 nvarchar(60) COLLATE NOCASE NULL,
  cDefine25 nvarchar(60) COLLATE NOCASE NULL,
  cDefine26 float NULL,
  cDefine27 float NULL,
  cDefine28 nvarchar(120) COLLATE NOCASE NULL,
  cDefine29 nvarchar(120) COLLATE NOCASE NULL,
  cDefine30 nvarchar(120) COLLATE NOCASE NULL,
  cDefine31 nvarchar(120) COLLATE NOCASE NULL,
  cDefine32 nvarchar(120) COLLATE NOCASE NULL,
  cDefine33 nvarchar(120) COLLATE NOCASE NULL,
  cDefine34 int NULL,
  cDefine35 int NULL,
  cDefine36 datetime NULL,
  cDefine37 datetime NULL,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_EC_LoanVouch_Sub ON EC_LoanVouch_Sub (GUID);
CREATE INDEX idx_EC_LoanVouch_Sub_MGuid ON EC_LoanVouch_Sub (MGuid);
CREATE TRIGGER trg_EC_LoanVouch_Sub_ts_ins AFTER INSERT ON EC_LoanVouch_Sub BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_LoanVouch_Sub SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_EC_LoanVouch_Sub_ts_upd AFTER UPDATE ON EC_LoanVouch_Sub
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_LoanVouch_Sub SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;

------------------------------------------------------------------------------------------------
-- Expense claims of both families: head and rows. A voucher number is unique within a family
-- (the first character of strTypeCode), not across families.

CREATE TABLE EC_ExpenVouch (
  AutoID INTEGER PRIMARY KEY AUTOINCREMENT,
  GUID uniqueidentifier NOT NULL DEFAULT (newid()) COLLATE UNIQUEIDENTIFIER,
  strTypeCode varchar(20) COLLATE NOCASE NOT NULL,
  strVouchID varchar(30) COLLATE NOCASE NOT NULL,
  dtLoanDate datetime NOT NULL,
  strDepartID varchar(12) COLLATE NOCASE NULL,
  strLoanID varchar(20) COLLATE NOCASE NULL,
  strItemClassID varchar(2) COLLATE NOCASE NULL,
  strItemID varchar(20) COLLATE NOCASE NULL,
  strBudItemID varchar(30) COLLATE NOCASE NULL,
  strPort1 varchar(30) COLLATE NOCASE NULL,
  strPort1Value nvarchar(100) COLLATE NOCASE NULL,
  strPort2 varchar(30) COLLATE NOCASE NULL,
  strPort2Value nvarchar(100) COLLATE NOCASE NULL,
  strPort3 varchar(30) COLLATE NOCASE NULL,
  strPort3Value nvarchar(100) COLLATE NOCASE NULL,
  strBill nvarchar(14) COLLATE NOCASE NULL,
  fltRate float NULL DEFAULT 1,
  dblMoney money NULL DEFAULT 0,
  dblOldMoney money NULL DEFAULT 0,
  strUsed nvarchar(200) COLLATE NOCASE NULL,
  strPersonID nvarchar(20) COLLATE NOCASE NULL,
  blnAudi bit NULL DEFAULT 0,
  strAuditorID nvarchar(20) COLLATE NOCASE NULL,
  strVerifier nvarchar(20) COLLATE NOCASE NULL,
  blnSettle bit NULL DEFAULT 0,
  strMakerID nvarchar(20) COLLATE NOCASE NULL,
  intBudPass int NULL DEFAULT 0,
  intOverBud int NULL DEFAULT -1,
  strOverPerson nvarchar(20) COLLATE NOCASE NULL,
  strOverDate varchar(20) COLLATE NOCASE NULL,
  strOverDesc nvarchar(200) COLLATE NOCASE NULL,
  PZGUID varchar(40) COLLATE NOCASE NULL,
  idoc int NULL,
  cDefine1 nvarchar(20) COLLATE NOCASE NULL,
  cDefine2 nvarchar(20) COLLATE NOCASE NULL,
  cDefine3 nvarchar(20) COLLATE NOCASE NULL,
  cDefine4 datetime NULL,
  cDefine5 int NULL,
  cDefine6 datetime NULL,
  cDefine7 float NULL,
  cDefine8 nvarchar(4) COLLATE NOCASE NULL,
  cDefine9 nvarchar(8) COLLATE NOCASE NULL,
  cDefine10 nvarchar(60) COLLATE NOCASE NULL,
  cDefine11 nvarchar(120) COLLATE NOCASE NULL,
  cDefine12 nvarchar(120) COLLATE NOCASE NULL,
  cDefine13 nvarchar(120) COLLATE NOCASE NULL,
  cDefine14 nvarchar(120) COLLATE NOCASE NULL,
  cDefine15 int NULL,
  cDefine16 float NULL,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_EC_ExpenVouch ON EC_ExpenVouch (GUID);
CREATE UNIQUE INDEX IX_EC_ExpenVouch ON EC_ExpenVouch (strVouchID, substr(strTypeCode, 1, 1));
CREATE INDEX idx_EC_ExpenVouch_strLoanID ON EC_ExpenVouch (strLoanID);
CREATE INDEX idx_EC_ExpenVouch_PZGUID ON EC_ExpenVouch (PZGUID);
CREATE INDEX idx_EC_ExpenVouch_strDepartID ON EC_ExpenVouch (strDepartID);
CREATE INDEX idx_EC_ExpenVouch_blnAudi ON EC_ExpenVouch (blnAudi);
CREATE TRIGGER trg_EC_ExpenVouch_ts_ins AFTER INSERT ON EC_ExpenVouch BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_ExpenVouch SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_EC_ExpenVouch_ts_upd AFTER UPDATE ON EC_ExpenVouch
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_ExpenVouch SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;

-- Dates of a row are text dates; strBZero/strEZero are places (EC_Position), strJTTools a code
-- of the standards' third dimension, strIOItem a leaf reimbursement item.
CREATE TABLE EC_ExpenVouch_Sub (
  AutoID INTEGER PRIMARY KEY AUTOINCREMENT,
  GUID uniqueidentifier NOT NULL DEFAULT (newid()) COLLATE UNIQUEIDENTIFIER,
  MGuid uniqueidentifier NOT NULL COLLATE UNIQUEIDENTIFIER,
  dtBDate varchar(10) COLLATE NOCASE NULL,
  intBTime int NULL,
  dtEDate varchar(10) COLLATE NOCASE NULL,
  intETime int NULL,
  strBZero varchar(20) COLLATE NOCASE NULL,
  strEZero varchar(20) COLLATE NOCASE NULL,
  strJTTools varchar(10) COLLATE NOCASE NULL,
  strIOItem varchar(20) COLLATE NOCASE NULL,
  dblVouch money NULL,
  dblNumber float NULL,
  dblStand money NULL,
  dblPer float NULL,
  dblMoney money NULL,
  dblOldMoney money NULL,
  intAppend int NULL,
  strMemo nvarchar(200) COLLATE NOCASE NULL,
  cDefine22 nvarchar(60) COLLATE NOCASE NULL,
  cDefine23 nvarchar(60) COLLATE NOCASE NULL,
  cDefine24 nvarchar(60) COLLATE NOCASE NULL,
  cDefine25 nvarchar(60) COLLATE NOCASE NULL,
  cDefine26 float NULL,
  cDefine27 float NULL,
  cDefine28 nvarchar(120) COLLATE NOCASE NULL,
  cDefine29 nvarchar(120) COLLATE NOCASE NULL,
  cDefine30 nvarchar(120) COLLATE NOCASE NULL,
  cDefine31 nvarchar(120) COLLATE NOCASE NULL,
  cDefine32 nvarchar(120) COLLATE NOCASE NULL,
  cDefine33 nvarchar(120) COLLATE NOCASE NULL,
  cDefine34 int NULL,
  cDefine35 int NULL,
  cDefine36 datetime NULL,
  cDefine37 datetime NULL,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_EC_ExpenVouch_Sub ON EC_ExpenVouch_Sub (GUID);
CREATE INDEX idx_EC_ExpenVouch_Sub_MGuid ON EC_ExpenVouch_Sub (MGuid);
CREATE INDEX idx_EC_ExpenVouch_Sub_strIOItem ON EC_ExpenVouch_Sub (strIOItem);
CREATE TRIGGER trg_EC_ExpenVouch_Sub_ts_ins AFTER INSERT ON EC_ExpenVouch_Sub BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_ExpenVouch_Sub SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_EC_ExpenVouch_Sub_ts_upd AFTER UPDATE ON EC_ExpenVouch_Sub
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_ExpenVouch_Sub SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;

------------------------------------------------------------------------------------------------
-- Loans written off against claims: one link per loan row and claim.

CREATE TABLE EC_ExpenLoanInfo (
  GUID uniqueidentifier NOT NULL DEFAULT (newid()) COLLATE UNIQUEIDENTIFIER,
  LoanSubguid uniqueidentifier NOT NULL COLLATE UNIQUEIDENTIFIER,
  Expenguid uniqueidentifier NOT NULL COLLATE UNIQUEIDENTIFIER,
  dblJE money NULL DEFAULT 0,
  -- The kind of write-off as the page sends it: -1 partial, 1 close, 0 settle. Kept as a number
  -- (not a bit, which would make partial and close one value) so that the loans can be brought
  -- back to what the links of approved claims say, however often they are saved again.
  blnUsed smallint NULL,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_EC_ExpenLoanInfo ON EC_ExpenLoanInfo (GUID);
CREATE INDEX idx_EC_ExpenLoanInfo_Expenguid ON EC_ExpenLoanInfo (Expenguid);
CREATE INDEX idx_EC_ExpenLoanInfo_LoanSubguid ON EC_ExpenLoanInfo (LoanSubguid);
CREATE TRIGGER trg_EC_ExpenLoanInfo_ts_ins AFTER INSERT ON EC_ExpenLoanInfo BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_ExpenLoanInfo SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_EC_ExpenLoanInfo_ts_upd AFTER UPDATE ON EC_ExpenLoanInfo
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_ExpenLoanInfo SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;

------------------------------------------------------------------------------------------------
-- Payment and receipt lines of a claim: intIOType 1 receipt, 2 payment.

CREATE TABLE EC_BalanceInfo (
  AutoID INTEGER PRIMARY KEY AUTOINCREMENT,
  GUID uniqueidentifier NOT NULL DEFAULT (newid()) COLLATE UNIQUEIDENTIFIER,
  ExpenGUID uniqueidentifier NOT NULL COLLATE UNIQUEIDENTIFIER,
  intIOType int NULL,
  strBalanceID varchar(12) COLLATE NOCASE NULL,
  dblMoney money NULL DEFAULT 0,
  strBillID nvarchar(40) COLLATE NOCASE NULL,
  strPayBankID varchar(12) COLLATE NOCASE NULL,
  strPayment nvarchar(100) COLLATE NOCASE NULL,
  strRecBank nvarchar(100) COLLATE NOCASE NULL,
  strRecAcc nvarchar(50) COLLATE NOCASE NULL,
  strPayID nvarchar(60) COLLATE NOCASE NULL,
  blnNetOK bit NULL DEFAULT 0,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_EC_BalanceInfo ON EC_BalanceInfo (GUID);
CREATE INDEX idx_EC_BalanceInfo_ExpenGUID ON EC_BalanceInfo (ExpenGUID);
CREATE TRIGGER trg_EC_BalanceInfo_ts_ins AFTER INSERT ON EC_BalanceInfo BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_BalanceInfo SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_EC_BalanceInfo_ts_upd AFTER UPDATE ON EC_BalanceInfo
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_BalanceInfo SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;

------------------------------------------------------------------------------------------------
-- Expense standards. A standard caps one reimbursement item in a set of departments, graded by
-- up to four dimensions (EC_EffectItem); its value rows (EC_StandSet) hold the amount per unit
-- and the rate of an excess receipt amount that is still allowed. strControlType is "严格控制"
-- (an excess stops the save) or "提示" (a warning).

CREATE TABLE EC_Expense (
  GUID uniqueidentifier NOT NULL DEFAULT (newid()) COLLATE UNIQUEIDENTIFIER,
  strStandName nvarchar(100) COLLATE NOCASE NOT NULL,
  strIOItemCode varchar(20) COLLATE NOCASE NOT NULL,
  strControlType nvarchar(20) COLLATE NOCASE NULL,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_EC_Expense ON EC_Expense (GUID);
CREATE UNIQUE INDEX IX_EC_Expense ON EC_Expense (strStandName);
CREATE INDEX idx_EC_Expense_strIOItemCode ON EC_Expense (strIOItemCode);
CREATE TRIGGER trg_EC_Expense_ts_ins AFTER INSERT ON EC_Expense BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_Expense SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_EC_Expense_ts_upd AFTER UPDATE ON EC_Expense
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_Expense SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;

CREATE TABLE EC_ExpenseDepart (
  GuidMain uniqueidentifier NOT NULL COLLATE UNIQUEIDENTIFIER,
  strDepartID varchar(12) COLLATE NOCASE NOT NULL
);
CREATE UNIQUE INDEX PK_EC_ExpenseDepart ON EC_ExpenseDepart (GuidMain, strDepartID);
CREATE INDEX idx_EC_ExpenseDepart_strDepartID ON EC_ExpenseDepart (strDepartID);

CREATE TABLE EC_EffectItem (
  GUIDStand uniqueidentifier NOT NULL COLLATE UNIQUEIDENTIFIER,
  intEDCode int NOT NULL,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_EC_EffectItem ON EC_EffectItem (GUIDStand, intEDCode);
CREATE TRIGGER trg_EC_EffectItem_ts_ins AFTER INSERT ON EC_EffectItem BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_EffectItem SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_EC_EffectItem_ts_upd AFTER UPDATE ON EC_EffectItem
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_EffectItem SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;

-- strField1..4 hold the values of dimensions 1..4; an unused dimension is Null. As on the
-- server, Nulls count as equal in the unique key.
CREATE TABLE EC_StandSet (
  GUID uniqueidentifier NOT NULL DEFAULT (newid()) COLLATE UNIQUEIDENTIFIER,
  GUIDStand uniqueidentifier NOT NULL COLLATE UNIQUEIDENTIFIER,
  strField1 varchar(10) COLLATE NOCASE NULL,
  strField2 varchar(10) COLLATE NOCASE NULL,
  strField3 varchar(10) COLLATE NOCASE NULL,
  strField4 varchar(10) COLLATE NOCASE NULL,
  dblMoney money NULL DEFAULT 0,
  dblRate float NULL DEFAULT 0,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_EC_StandSet ON EC_StandSet (GUID);
CREATE UNIQUE INDEX IX_EC_StandSet ON EC_StandSet (GUIDStand,
  ifnull(strField1, '') COLLATE NOCASE, ifnull(strField2, '') COLLATE NOCASE,
  ifnull(strField3, '') COLLATE NOCASE, ifnull(strField4, '') COLLATE NOCASE);
CREATE TRIGGER trg_EC_StandSet_ts_ins AFTER INSERT ON EC_StandSet BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_StandSet SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_EC_StandSet_ts_upd AFTER UPDATE ON EC_StandSet
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_StandSet SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;

-- Brackets of dimension 4 (the receipt amount per unit), per standard: strEIName is the upper
-- bound of the bracket, a number kept as text.
CREATE TABLE EC_EISet_Stand (
  GUIDStand uniqueidentifier NOT NULL COLLATE UNIQUEIDENTIFIER,
  intEICode int NOT NULL DEFAULT 4,
  strEICode varchar(10) COLLATE NOCASE NOT NULL,
  strEIName nvarchar(60) COLLATE NOCASE NOT NULL,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_EC_EISet_Stand ON EC_EISet_Stand (GUIDStand, intEICode, strEICode);
CREATE UNIQUE INDEX IX_EC_EISet_Stand ON EC_EISet_Stand (GUIDStand, intEICode, strEIName);
CREATE TRIGGER trg_EC_EISet_Stand_ts_ins AFTER INSERT ON EC_EISet_Stand BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_EISet_Stand SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_EC_EISet_Stand_ts_upd AFTER UPDATE ON EC_EISet_Stand
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_EISet_Stand SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;

-- The shared value lists of dimensions 1 to 3: person grades (1), place grades (2) and the
-- codes of the third dimension (3, means of transport).
CREATE TABLE EC_EISet_NUStand (
  intEICode int NOT NULL,
  strEICode varchar(10) COLLATE NOCASE NOT NULL,
  strEIName nvarchar(60) COLLATE NOCASE NOT NULL,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_EC_EISet_NUStand ON EC_EISet_NUStand (intEICode, strEICode);
CREATE TRIGGER trg_EC_EISet_NUStand_ts_ins AFTER INSERT ON EC_EISet_NUStand BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_EISet_NUStand SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_EC_EISet_NUStand_ts_upd AFTER UPDATE ON EC_EISet_NUStand
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_EISet_NUStand SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;

-- The catalogue of the four dimensions: where their values live and their names per language.
CREATE TABLE EC_EffectItem_Default_Base (
  intEDCode int NOT NULL,
  strTable varchar(50) COLLATE NOCASE NOT NULL,
  strCodeField varchar(50) COLLATE NOCASE NOT NULL,
  strNameField varchar(50) COLLATE NOCASE NOT NULL,
  strWhere nvarchar(200) COLLATE NOCASE NOT NULL,
  blnStand bit NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_EC_EffectItem_Default_Base ON EC_EffectItem_Default_Base (intEDCode);

CREATE TABLE EC_EffectItem_Default_Lang (
  intEDCode int NOT NULL,
  LocaleID varchar(10) COLLATE NOCASE NOT NULL,
  strEDName nvarchar(60) COLLATE NOCASE NOT NULL
);
CREATE UNIQUE INDEX PK_EC_EffectItem_Default_Lang ON EC_EffectItem_Default_Lang (intEDCode,
  LocaleID);

INSERT INTO EC_EffectItem_Default_Base
  (intEDCode, strTable, strCodeField, strNameField, strWhere, blnStand) VALUES
  (1, 'EC_EISet_NUStand', 'strEICode', 'strEIName', 'intEICode=1', 0),
  (2, 'EC_EISet_NUStand', 'strEICode', 'strEIName', 'intEICode=2', 0),
  (3, 'EC_EISet_NUStand', 'strEICode', 'strEIName', 'intEICode=3', 0),
  (4, 'EC_EISet_Stand', 'strEICode', 'strEIName', 'intEICode=4', 1);

INSERT INTO EC_EffectItem_Default_Lang (intEDCode, LocaleID, strEDName) VALUES
  (1, 'zh-CN', '人员级别'),
  (2, 'zh-CN', '地区级别'),
  (3, 'zh-CN', '交通工具'),
  (4, 'zh-CN', '单据金额'),
  (1, 'en-US', 'Person grade'),
  (2, 'en-US', 'Place grade'),
  (3, 'en-US', 'Means of transport'),
  (4, 'en-US', 'Receipt amount');

------------------------------------------------------------------------------------------------
-- Person settings: grade (EC_EISet_NUStand, intEICode 1) and loan limits. Each limit has an
-- on flag, a value and a control type; the loan save enforces a limit whose type is "1".

CREATE TABLE EC_PersonCtrl (
  strPersonCode varchar(20) COLLATE NOCASE NOT NULL,
  strGradeID varchar(10) COLLATE NOCASE NULL,
  blnDay bit NULL DEFAULT 0,
  intDay int NULL,
  strDayCtrType varchar(2) COLLATE NOCASE NULL DEFAULT '0',
  blnNumber bit NULL DEFAULT 0,
  intNumber int NULL,
  strNumCtrType varchar(2) COLLATE NOCASE NULL DEFAULT '0',
  blnMoney bit NULL DEFAULT 0,
  intMoney money NULL,
  strMonCtrType varchar(2) COLLATE NOCASE NULL DEFAULT '0',
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_EC_PersonCtrl ON EC_PersonCtrl (strPersonCode);
CREATE TRIGGER trg_EC_PersonCtrl_ts_ins AFTER INSERT ON EC_PersonCtrl BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_PersonCtrl SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_EC_PersonCtrl_ts_upd AFTER UPDATE ON EC_PersonCtrl
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_PersonCtrl SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;

-- Bank accounts of persons; one account may be the default.
CREATE TABLE EC_PersonAcc (
  GUID uniqueidentifier NOT NULL DEFAULT (newid()) COLLATE UNIQUEIDENTIFIER,
  strPersonCode varchar(20) COLLATE NOCASE NOT NULL,
  strBankAcc nvarchar(50) COLLATE NOCASE NOT NULL,
  strBank nvarchar(100) COLLATE NOCASE NULL,
  blnDefault bit NULL DEFAULT 0,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_EC_PersonAcc ON EC_PersonAcc (GUID);
CREATE UNIQUE INDEX IX_EC_PersonAcc ON EC_PersonAcc (strPersonCode, strBankAcc);
CREATE TRIGGER trg_EC_PersonAcc_ts_ins AFTER INSERT ON EC_PersonAcc BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_PersonAcc SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_EC_PersonAcc_ts_upd AFTER UPDATE ON EC_PersonAcc
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_PersonAcc SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;

------------------------------------------------------------------------------------------------
-- Ledger voucher settings: the account of an expense-side line by operation type, item and
-- currency, and of a payment-side line by payment kind (the zh-CN words for receipt and
-- payment), settlement style, bank and currency. Null means "any"; as on the server, Nulls
-- count as equal in the unique keys.

CREATE TABLE EC_PzSet_IO (
  GUID uniqueidentifier NOT NULL DEFAULT (newid()) COLLATE UNIQUEIDENTIFIER,
  strOperatType varchar(20) COLLATE NOCASE NOT NULL,
  strIOItemCode varchar(20) COLLATE NOCASE NULL,
  strCurrency nvarchar(14) COLLATE NOCASE NULL,
  strSubject varchar(15) COLLATE NOCASE NULL,
  blnModiDire bit NULL DEFAULT 0,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_EC_PzSet_IO ON EC_PzSet_IO (GUID);
CREATE UNIQUE INDEX IX_EC_PzSet_IO ON EC_PzSet_IO (strOperatType,
  ifnull(strIOItemCode, '') COLLATE NOCASE, ifnull(strCurrency, '') COLLATE NOCASE);
CREATE TRIGGER trg_EC_PzSet_IO_ts_ins AFTER INSERT ON EC_PzSet_IO BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_PzSet_IO SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_EC_PzSet_IO_ts_upd AFTER UPDATE ON EC_PzSet_IO
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_PzSet_IO SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;

CREATE TABLE EC_PzSet_OP (
  GUID uniqueidentifier NOT NULL DEFAULT (newid()) COLLATE UNIQUEIDENTIFIER,
  strOperatType nvarchar(20) COLLATE NOCASE NOT NULL,
  strBalanceType varchar(12) COLLATE NOCASE NULL,
  strBankID varchar(12) COLLATE NOCASE NULL,
  strCurrency nvarchar(14) COLLATE NOCASE NULL,
  strSubject varchar(15) COLLATE NOCASE NULL,
  ts bigint NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_EC_PzSet_OP ON EC_PzSet_OP (GUID);
CREATE UNIQUE INDEX IX_EC_PzSet_OP ON EC_PzSet_OP (strOperatType,
  ifnull(strBalanceType, '') COLLATE NOCASE, ifnull(strBankID, '') COLLATE NOCASE,
  ifnull(strCurrency, '') COLLATE NOCASE);
CREATE TRIGGER trg_EC_PzSet_OP_ts_ins AFTER INSERT ON EC_PzSet_OP BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_PzSet_OP SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;
CREATE TRIGGER trg_EC_PzSet_OP_ts_upd AFTER UPDATE ON EC_PzSet_OP
  -- The insert trigger sets ts itself; only updates that leave it alone need a new one.
  WHEN NEW.ts = OLD.ts BEGIN
  UPDATE Host_RowVersion SET value = value + 1 WHERE id = 1;
  UPDATE EC_PzSet_OP SET ts = (SELECT value FROM Host_RowVersion WHERE id = 1) WHERE rowid = NEW.rowid;
END;
