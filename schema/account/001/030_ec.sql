-- The expense module's own tables. Keys and unique indexes carry the server's names, which the
-- business classes look for in constraint messages; ts columns are row versions (010).

------------------------------------------------------------------------------------------------
-- Operation types: the business kinds of vouchers. The first character of strCode is the
-- family ("1" income claim, "2" expenditure claim, "3" loan) and equals intType; strShowModel
-- and strPrintModel are VoucherTemplates.vt_id of the display and print templates.

CREATE TABLE EC_OperationType (
  intType int NOT NULL,
  strCode varchar(20) NOT NULL,
  strName nvarchar(60) NOT NULL,
  strShowModel varchar(20) NULL,
  strPrintModel varchar(20) NULL,
  strLink nvarchar(200) NULL,
  ts rowversion NOT NULL,
  CONSTRAINT PK_EC_OPERATIONTYPE PRIMARY KEY (strCode),
  CONSTRAINT IX_EC_OperationType UNIQUE (intType, strName)
);

------------------------------------------------------------------------------------------------
-- Reimbursement items: a coded tree under the two roots "1" (income) and "2" (expenditure),
-- which are not rows; blnEnd marks a leaf, the only level a claim row may use.

CREATE TABLE EC_IOItem (
  strCode varchar(20) NOT NULL,
  strName nvarchar(60) NOT NULL,
  strTypeCode varchar(20) NULL,
  strUpCode varchar(20) NULL,
  blnEnd bit NULL DEFAULT 1,
  ts rowversion NOT NULL,
  CONSTRAINT IX_EC_IOItem UNIQUE (strCode)
);
CREATE INDEX idx_EC_IOItem_strUpCode ON EC_IOItem (strUpCode);

------------------------------------------------------------------------------------------------
-- Places (districts): a tree by strUpCode; strGradeID is a place grade (EC_EISet_NUStand,
-- intEICode 2) that the standards read.

CREATE TABLE EC_Position (
  strPositionCode varchar(20) NOT NULL,
  strPositionName nvarchar(60) NOT NULL,
  strGradeID varchar(10) NULL,
  strUpCode varchar(20) NULL,
  ts rowversion NOT NULL,
  CONSTRAINT PK_EC_POSITION PRIMARY KEY (strPositionCode),
  CONSTRAINT IX_EC_Position UNIQUE (strPositionName)
);

------------------------------------------------------------------------------------------------
-- Loan (advance) vouchers: head and payment rows. Amounts: dblMoney in the voucher's currency,
-- dblOldMoney in local currency; dblReturn is what was repaid through claims.

CREATE TABLE EC_LoanVouch (
  AutoID int IDENTITY(1,1) NOT NULL,
  GUID uniqueidentifier NOT NULL DEFAULT (newid()),
  strTypeCode varchar(20) NOT NULL,
  strVouchID varchar(30) NOT NULL,
  dtLoanDate datetime NOT NULL,
  strDepartID varchar(12) NULL,
  strLoanID varchar(20) NULL,
  strItemClassID varchar(2) NULL,
  strItemID varchar(20) NULL,
  strBudItemID varchar(30) NULL,
  strPort1 varchar(30) NULL,
  strPort1Value nvarchar(100) NULL,
  strPort2 varchar(30) NULL,
  strPort2Value nvarchar(100) NULL,
  strPort3 varchar(30) NULL,
  strPort3Value nvarchar(100) NULL,
  strBill nvarchar(14) NULL,
  fltRate float NULL DEFAULT 1,
  dblMoney money NULL DEFAULT 0,
  dblOldMoney money NULL DEFAULT 0,
  dblReturn money NULL DEFAULT 0,
  strUsed nvarchar(200) NULL,
  dtExpDate datetime NULL,
  strPersonID nvarchar(20) NULL,
  blnAudi bit NULL DEFAULT 0,
  strAuditorID nvarchar(20) NULL,
  strMakerID nvarchar(20) NULL,
  blnAllBill bit NULL DEFAULT 0,
  blnBegin bit NULL DEFAULT 0,
  blnSettle bit NULL DEFAULT 0,
  intBudPass int NULL DEFAULT 0,
  intOverBud int NULL DEFAULT -1,
  strOverPerson nvarchar(20) NULL,
  strOverDate varchar(20) NULL,
  strOverDesc nvarchar(200) NULL,
  PZGUID varchar(40) NULL,
  idoc int NULL,
  cDefine1 nvarchar(20) NULL,
  cDefine2 nvarchar(20) NULL,
  cDefine3 nvarchar(20) NULL,
  cDefine4 datetime NULL,
  cDefine5 int NULL,
  cDefine6 datetime NULL,
  cDefine7 float NULL,
  cDefine8 nvarchar(4) NULL,
  cDefine9 nvarchar(8) NULL,
  cDefine10 nvarchar(60) NULL,
  cDefine11 nvarchar(120) NULL,
  cDefine12 nvarchar(120) NULL,
  cDefine13 nvarchar(120) NULL,
  cDefine14 nvarchar(120) NULL,
  cDefine15 int NULL,
  cDefine16 float NULL,
  ts rowversion NOT NULL,
  CONSTRAINT PK_EC_LoanVouch PRIMARY KEY (GUID),
  CONSTRAINT IX_EC_LoanVouch UNIQUE (strVouchID)
);
CREATE INDEX idx_EC_LoanVouch_strLoanID ON EC_LoanVouch (strLoanID);
CREATE INDEX idx_EC_LoanVouch_PZGUID ON EC_LoanVouch (PZGUID);
-- Lists restrict an operator to departments and filter by approval state; the narrow state index
-- is also what the engine counts a whole list by.
CREATE INDEX idx_EC_LoanVouch_strDepartID ON EC_LoanVouch (strDepartID);
CREATE INDEX idx_EC_LoanVouch_blnAudi ON EC_LoanVouch (blnAudi);

-- dblMoney stays Null on cheque rows, which carry the advance in dblPreMoney; strPayID and
-- blnNetOK are the online-payment state of the row.
CREATE TABLE EC_LoanVouch_Sub (
  AutoID int IDENTITY(1,1) NOT NULL,
  GUID uniqueidentifier NOT NULL DEFAULT (newid()),
  MGuid uniqueidentifier NOT NULL,
  strBalanceID varchar(12) NULL,
  dblMoney money NULL,
  dblPreMoney money NULL,
  strBillID nvarchar(40) NULL,
  strPayBankID varchar(12) NULL,
  strBankName nvarchar(100) NULL,
  strBankAcc nvarchar(50) NULL,
  dblReturn money NULL DEFAULT 0,
  blnSettle bit NULL DEFAULT 0,
  strPayID nvarchar(60) NULL,
  blnNetOK bit NULL DEFAULT 0,
  cDefine22 nvarchar(60) NULL,
  cDefine23 nvarchar(60) NULL,
  cDefine24 nvarchar(60) NULL,
  cDefine25 nvarchar(60) NULL,
  cDefine26 float NULL,
  cDefine27 float NULL,
  cDefine28 nvarchar(120) NULL,
  cDefine29 nvarchar(120) NULL,
  cDefine30 nvarchar(120) NULL,
  cDefine31 nvarchar(120) NULL,
  cDefine32 nvarchar(120) NULL,
  cDefine33 nvarchar(120) NULL,
  cDefine34 int NULL,
  cDefine35 int NULL,
  cDefine36 datetime NULL,
  cDefine37 datetime NULL,
  ts rowversion NOT NULL,
  CONSTRAINT PK_EC_LoanVouch_Sub PRIMARY KEY (GUID)
);
CREATE INDEX idx_EC_LoanVouch_Sub_MGuid ON EC_LoanVouch_Sub (MGuid);

------------------------------------------------------------------------------------------------
-- Expense claims of both families: head and rows. A voucher number is unique within a family
-- (the first character of strTypeCode), not across families.

CREATE TABLE EC_ExpenVouch (
  AutoID int IDENTITY(1,1) NOT NULL,
  GUID uniqueidentifier NOT NULL DEFAULT (newid()),
  strTypeCode varchar(20) NOT NULL,
  strVouchID varchar(30) NOT NULL,
  dtLoanDate datetime NOT NULL,
  strDepartID varchar(12) NULL,
  strLoanID varchar(20) NULL,
  strItemClassID varchar(2) NULL,
  strItemID varchar(20) NULL,
  strBudItemID varchar(30) NULL,
  strPort1 varchar(30) NULL,
  strPort1Value nvarchar(100) NULL,
  strPort2 varchar(30) NULL,
  strPort2Value nvarchar(100) NULL,
  strPort3 varchar(30) NULL,
  strPort3Value nvarchar(100) NULL,
  strBill nvarchar(14) NULL,
  fltRate float NULL DEFAULT 1,
  dblMoney money NULL DEFAULT 0,
  dblOldMoney money NULL DEFAULT 0,
  strUsed nvarchar(200) NULL,
  strPersonID nvarchar(20) NULL,
  blnAudi bit NULL DEFAULT 0,
  strAuditorID nvarchar(20) NULL,
  strVerifier nvarchar(20) NULL,
  blnSettle bit NULL DEFAULT 0,
  strMakerID nvarchar(20) NULL,
  intBudPass int NULL DEFAULT 0,
  intOverBud int NULL DEFAULT -1,
  strOverPerson nvarchar(20) NULL,
  strOverDate varchar(20) NULL,
  strOverDesc nvarchar(200) NULL,
  PZGUID varchar(40) NULL,
  idoc int NULL,
  cDefine1 nvarchar(20) NULL,
  cDefine2 nvarchar(20) NULL,
  cDefine3 nvarchar(20) NULL,
  cDefine4 datetime NULL,
  cDefine5 int NULL,
  cDefine6 datetime NULL,
  cDefine7 float NULL,
  cDefine8 nvarchar(4) NULL,
  cDefine9 nvarchar(8) NULL,
  cDefine10 nvarchar(60) NULL,
  cDefine11 nvarchar(120) NULL,
  cDefine12 nvarchar(120) NULL,
  cDefine13 nvarchar(120) NULL,
  cDefine14 nvarchar(120) NULL,
  cDefine15 int NULL,
  cDefine16 float NULL,
  ts rowversion NOT NULL,
  CONSTRAINT PK_EC_ExpenVouch PRIMARY KEY (GUID)
);
CREATE UNIQUE INDEX IX_EC_ExpenVouch ON EC_ExpenVouch (strVouchID, left(strTypeCode, 1));
CREATE INDEX idx_EC_ExpenVouch_strLoanID ON EC_ExpenVouch (strLoanID);
CREATE INDEX idx_EC_ExpenVouch_PZGUID ON EC_ExpenVouch (PZGUID);
CREATE INDEX idx_EC_ExpenVouch_strDepartID ON EC_ExpenVouch (strDepartID);
CREATE INDEX idx_EC_ExpenVouch_blnAudi ON EC_ExpenVouch (blnAudi);

-- Dates of a row are text dates; strBZero/strEZero are places (EC_Position), strJTTools a code
-- of the standards' third dimension, strIOItem a leaf reimbursement item.
CREATE TABLE EC_ExpenVouch_Sub (
  AutoID int IDENTITY(1,1) NOT NULL,
  GUID uniqueidentifier NOT NULL DEFAULT (newid()),
  MGuid uniqueidentifier NOT NULL,
  dtBDate varchar(10) NULL,
  intBTime int NULL,
  dtEDate varchar(10) NULL,
  intETime int NULL,
  strBZero varchar(20) NULL,
  strEZero varchar(20) NULL,
  strJTTools varchar(10) NULL,
  strIOItem varchar(20) NULL,
  dblVouch money NULL,
  dblNumber float NULL,
  dblStand money NULL,
  dblPer float NULL,
  dblMoney money NULL,
  dblOldMoney money NULL,
  intAppend int NULL,
  strMemo nvarchar(200) NULL,
  cDefine22 nvarchar(60) NULL,
  cDefine23 nvarchar(60) NULL,
  cDefine24 nvarchar(60) NULL,
  cDefine25 nvarchar(60) NULL,
  cDefine26 float NULL,
  cDefine27 float NULL,
  cDefine28 nvarchar(120) NULL,
  cDefine29 nvarchar(120) NULL,
  cDefine30 nvarchar(120) NULL,
  cDefine31 nvarchar(120) NULL,
  cDefine32 nvarchar(120) NULL,
  cDefine33 nvarchar(120) NULL,
  cDefine34 int NULL,
  cDefine35 int NULL,
  cDefine36 datetime NULL,
  cDefine37 datetime NULL,
  ts rowversion NOT NULL,
  CONSTRAINT PK_EC_ExpenVouch_Sub PRIMARY KEY (GUID)
);
CREATE INDEX idx_EC_ExpenVouch_Sub_MGuid ON EC_ExpenVouch_Sub (MGuid);
CREATE INDEX idx_EC_ExpenVouch_Sub_strIOItem ON EC_ExpenVouch_Sub (strIOItem);

------------------------------------------------------------------------------------------------
-- Loans written off against claims: one link per loan row and claim.

CREATE TABLE EC_ExpenLoanInfo (
  GUID uniqueidentifier NOT NULL DEFAULT (newid()),
  LoanSubguid uniqueidentifier NOT NULL,
  Expenguid uniqueidentifier NOT NULL,
  dblJE money NULL DEFAULT 0,
  -- The kind of write-off as the page sends it: -1 partial, 1 close, 0 settle. Kept as a number
  -- (not a bit, which would make partial and close one value) so that the loans can be brought
  -- back to what the links of approved claims say, however often they are saved again.
  blnUsed smallint NULL,
  ts rowversion NOT NULL,
  CONSTRAINT PK_EC_ExpenLoanInfo PRIMARY KEY (GUID)
);
CREATE INDEX idx_EC_ExpenLoanInfo_Expenguid ON EC_ExpenLoanInfo (Expenguid);
CREATE INDEX idx_EC_ExpenLoanInfo_LoanSubguid ON EC_ExpenLoanInfo (LoanSubguid);

------------------------------------------------------------------------------------------------
-- Payment and receipt lines of a claim: intIOType 1 receipt, 2 payment.

CREATE TABLE EC_BalanceInfo (
  AutoID int IDENTITY(1,1) NOT NULL,
  GUID uniqueidentifier NOT NULL DEFAULT (newid()),
  ExpenGUID uniqueidentifier NOT NULL,
  intIOType int NULL,
  strBalanceID varchar(12) NULL,
  dblMoney money NULL DEFAULT 0,
  strBillID nvarchar(40) NULL,
  strPayBankID varchar(12) NULL,
  strPayment nvarchar(100) NULL,
  strRecBank nvarchar(100) NULL,
  strRecAcc nvarchar(50) NULL,
  strPayID nvarchar(60) NULL,
  blnNetOK bit NULL DEFAULT 0,
  ts rowversion NOT NULL,
  CONSTRAINT PK_EC_BalanceInfo PRIMARY KEY (GUID)
);
CREATE INDEX idx_EC_BalanceInfo_ExpenGUID ON EC_BalanceInfo (ExpenGUID);

------------------------------------------------------------------------------------------------
-- Expense standards. A standard caps one reimbursement item in a set of departments, graded by
-- up to four dimensions (EC_EffectItem); its value rows (EC_StandSet) hold the amount per unit
-- and the rate of an excess receipt amount that is still allowed. strControlType is "严格控制"
-- (an excess stops the save) or "提示" (a warning).

CREATE TABLE EC_Expense (
  GUID uniqueidentifier NOT NULL DEFAULT (newid()),
  strStandName nvarchar(100) NOT NULL,
  strIOItemCode varchar(20) NOT NULL,
  strControlType nvarchar(20) NULL,
  ts rowversion NOT NULL,
  CONSTRAINT PK_EC_Expense PRIMARY KEY (GUID),
  CONSTRAINT IX_EC_Expense UNIQUE (strStandName)
);
CREATE INDEX idx_EC_Expense_strIOItemCode ON EC_Expense (strIOItemCode);

CREATE TABLE EC_ExpenseDepart (
  GuidMain uniqueidentifier NOT NULL,
  strDepartID varchar(12) NOT NULL,
  CONSTRAINT PK_EC_ExpenseDepart PRIMARY KEY (GuidMain, strDepartID)
);
CREATE INDEX idx_EC_ExpenseDepart_strDepartID ON EC_ExpenseDepart (strDepartID);

CREATE TABLE EC_EffectItem (
  GUIDStand uniqueidentifier NOT NULL,
  intEDCode int NOT NULL,
  ts rowversion NOT NULL,
  CONSTRAINT PK_EC_EffectItem PRIMARY KEY (GUIDStand, intEDCode)
);

-- strField1..4 hold the values of dimensions 1..4; an unused dimension is Null. As on the
-- server, Nulls count as equal in the unique key.
CREATE TABLE EC_StandSet (
  GUID uniqueidentifier NOT NULL DEFAULT (newid()),
  GUIDStand uniqueidentifier NOT NULL,
  strField1 varchar(10) NULL,
  strField2 varchar(10) NULL,
  strField3 varchar(10) NULL,
  strField4 varchar(10) NULL,
  dblMoney money NULL DEFAULT 0,
  dblRate float NULL DEFAULT 0,
  ts rowversion NOT NULL,
  CONSTRAINT PK_EC_StandSet PRIMARY KEY (GUID),
  CONSTRAINT IX_EC_StandSet UNIQUE (GUIDStand, strField1, strField2, strField3, strField4)
);

-- Brackets of dimension 4 (the receipt amount per unit), per standard: strEIName is the upper
-- bound of the bracket, a number kept as text.
CREATE TABLE EC_EISet_Stand (
  GUIDStand uniqueidentifier NOT NULL,
  intEICode int NOT NULL DEFAULT 4,
  strEICode varchar(10) NOT NULL,
  strEIName nvarchar(60) NOT NULL,
  ts rowversion NOT NULL,
  CONSTRAINT PK_EC_EISet_Stand PRIMARY KEY (GUIDStand, intEICode, strEICode),
  CONSTRAINT IX_EC_EISet_Stand UNIQUE (GUIDStand, intEICode, strEIName)
);

-- The shared value lists of dimensions 1 to 3: person grades (1), place grades (2) and the
-- codes of the third dimension (3, means of transport).
CREATE TABLE EC_EISet_NUStand (
  intEICode int NOT NULL,
  strEICode varchar(10) NOT NULL,
  strEIName nvarchar(60) NOT NULL,
  ts rowversion NOT NULL,
  CONSTRAINT PK_EC_EISet_NUStand PRIMARY KEY (intEICode, strEICode)
);

-- The catalogue of the four dimensions: where their values live and their names per language.
CREATE TABLE EC_EffectItem_Default_Base (
  intEDCode int NOT NULL,
  strTable varchar(50) NOT NULL,
  strCodeField varchar(50) NOT NULL,
  strNameField varchar(50) NOT NULL,
  strWhere nvarchar(200) NOT NULL,
  blnStand bit NOT NULL DEFAULT 0,
  CONSTRAINT PK_EC_EffectItem_Default_Base PRIMARY KEY (intEDCode)
);

CREATE TABLE EC_EffectItem_Default_Lang (
  intEDCode int NOT NULL,
  LocaleID varchar(10) NOT NULL,
  strEDName nvarchar(60) NOT NULL,
  CONSTRAINT PK_EC_EffectItem_Default_Lang PRIMARY KEY (intEDCode, LocaleID)
);

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
  strPersonCode varchar(20) NOT NULL,
  strGradeID varchar(10) NULL,
  blnDay bit NULL DEFAULT 0,
  intDay int NULL,
  strDayCtrType varchar(2) NULL DEFAULT '0',
  blnNumber bit NULL DEFAULT 0,
  intNumber int NULL,
  strNumCtrType varchar(2) NULL DEFAULT '0',
  blnMoney bit NULL DEFAULT 0,
  intMoney money NULL,
  strMonCtrType varchar(2) NULL DEFAULT '0',
  ts rowversion NOT NULL,
  CONSTRAINT PK_EC_PersonCtrl PRIMARY KEY (strPersonCode)
);

-- Bank accounts of persons; one account may be the default.
CREATE TABLE EC_PersonAcc (
  GUID uniqueidentifier NOT NULL DEFAULT (newid()),
  strPersonCode varchar(20) NOT NULL,
  strBankAcc nvarchar(50) NOT NULL,
  strBank nvarchar(100) NULL,
  blnDefault bit NULL DEFAULT 0,
  ts rowversion NOT NULL,
  CONSTRAINT PK_EC_PersonAcc PRIMARY KEY (GUID),
  CONSTRAINT IX_EC_PersonAcc UNIQUE (strPersonCode, strBankAcc)
);

------------------------------------------------------------------------------------------------
-- Ledger voucher settings: the account of an expense-side line by operation type, item and
-- currency, and of a payment-side line by payment kind (the zh-CN words for receipt and
-- payment), settlement style, bank and currency. Null means "any"; as on the server, Nulls
-- count as equal in the unique keys.

CREATE TABLE EC_PzSet_IO (
  GUID uniqueidentifier NOT NULL DEFAULT (newid()),
  strOperatType varchar(20) NOT NULL,
  strIOItemCode varchar(20) NULL,
  strCurrency nvarchar(14) NULL,
  strSubject varchar(15) NULL,
  blnModiDire bit NULL DEFAULT 0,
  ts rowversion NOT NULL,
  CONSTRAINT PK_EC_PzSet_IO PRIMARY KEY (GUID),
  CONSTRAINT IX_EC_PzSet_IO UNIQUE (strOperatType, strIOItemCode, strCurrency)
);

CREATE TABLE EC_PzSet_OP (
  GUID uniqueidentifier NOT NULL DEFAULT (newid()),
  strOperatType nvarchar(20) NOT NULL,
  strBalanceType varchar(12) NULL,
  strBankID varchar(12) NULL,
  strCurrency nvarchar(14) NULL,
  strSubject varchar(15) NULL,
  ts rowversion NOT NULL,
  CONSTRAINT PK_EC_PzSet_OP PRIMARY KEY (GUID),
  CONSTRAINT IX_EC_PzSet_OP UNIQUE (strOperatType, strBalanceType, strBankID, strCurrency)
);

