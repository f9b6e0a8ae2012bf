-- Host services of the demo company: numbering, template fields, approval flows, budgets, row
-- authority, user-defined fields and ageing periods. Templates 11/12 (loans), 21/22 (income
-- claims) and 31/32 (expenditure claims) and the departments come from 010_master_data.sql.

------------------------------------------------------------------------------------------------
-- Numbering: a letter prefix per bill type, the month of the voucher date and a 4-digit serial
-- that restarts every month ("JK" + year + month + "0001" is the first loan of a month). The
-- two claim families share one table and one unique voucher number, so their prefixes differ.

INSERT INTO Host_BillFormat (cBillType, cBillName, iSerialLength, iSerialStart, bManual, bRetry)
VALUES
  ('EC01', '借款单', 4, 1, 0, 1),
  ('EC02', '收入报销单', 4, 1, 0, 1),
  ('EC03', '支出报销单', 4, 1, 0, 1);

-- Retrying skips numbers already on a voucher (typed by hand, or imported).
UPDATE Host_BillFormat SET cCheckTable = 'EC_LoanVouch', cCheckColumn = 'strVouchID'
 WHERE cBillType = 'EC01';
UPDATE Host_BillFormat SET cCheckTable = 'EC_ExpenVouch', cCheckColumn = 'strVouchID'
 WHERE cBillType IN ('EC02', 'EC03');

INSERT INTO Host_BillPrefix (cBillType, iOrder, cObjectName, cSourceField, cFormat, iLength,
                             cConstant, bSerialBasis)
VALUES
  ('EC01', 1, '常量', NULL, NULL, 2, 'JK', 0),
  ('EC01', 2, '单据日期', 'dtLoanDate', 'yyyyMM', 6, NULL, 1),
  ('EC02', 1, '常量', NULL, NULL, 2, 'SR', 0),
  ('EC02', 2, '单据日期', 'dtLoanDate', 'yyyyMM', 6, NULL, 1),
  ('EC03', 1, '常量', NULL, NULL, 2, 'ZC', 0),
  ('EC03', 2, '单据日期', 'dtLoanDate', 'yyyyMM', 6, NULL, 1);

------------------------------------------------------------------------------------------------
-- Template fields: the head and row columns of loans (display 11, print 12) and of claims
-- (21, 22, 31, 32).

INSERT INTO Host_TemplateField (vt_id, cSection, cFieldName, cCaption, cCaptionEn, iOrder,
                                bVisible, bMustInput, bCanModify, iWidth, cDataType, cRefName)
SELECT t.column1, f.column1, f.column2, f.column3, f.column4, f.column5, f.column6, f.column7,
       f.column8, f.column9, f.column10, f.column11
  FROM (VALUES (11), (12)) AS t,
       (VALUES
          ('T', 'strVouchID', '单据编号', 'Voucher number', 1, 1, 1, 1, 1500, 'text', NULL),
          ('T', 'dtLoanDate', '借款日期', 'Loan date', 2, 1, 1, 1, 1200, 'date', NULL),
          ('T', 'strTypeCode', '业务类型', 'Operation type', 3, 1, 1, 1, 1500, 'text', 'operationtype'),
          ('T', 'strDepartID', '部门', 'Department', 4, 1, 1, 1, 1500, 'text', 'department'),
          ('T', 'strLoanID', '借款人', 'Borrower', 5, 1, 1, 1, 1200, 'text', 'person'),
          ('T', 'strItemClassID', '项目大类', 'Item class', 6, 1, 0, 1, 1200, 'text', 'fitem'),
          ('T', 'strItemID', '项目', 'Item', 7, 1, 0, 1, 1500, 'text', 'fitemss'),
          ('T', 'strBudItemID', '预算项目', 'Budget item', 8, 1, 0, 1, 1500, 'text', 'bg_item'),
          ('T', 'strPort1', '预算维度1', 'Budget dimension 1', 9, 0, 0, 0, 1200, 'text', NULL),
          ('T', 'strPort1Value', '维度1取值', 'Dimension 1 value', 10, 1, 0, 1, 1500, 'text', NULL),
          ('T', 'strPort2', '预算维度2', 'Budget dimension 2', 11, 0, 0, 0, 1200, 'text', NULL),
          ('T', 'strPort2Value', '维度2取值', 'Dimension 2 value', 12, 1, 0, 1, 1500, 'text', NULL),
          ('T', 'strPort3', '预算维度3', 'Budget dimension 3', 13, 0, 0, 0, 1200, 'text', NULL),
          ('T', 'strPort3Value', '维度3取值', 'Dimension 3 value', 14, 1, 0, 1, 1500, 'text', NULL),
          ('T', 'strBill', '币种', 'Currency', 15, 1, 1, 1, 1000, 'text', 'currency'),
          ('T', 'fltRate', '汇率', 'Rate', 16, 1, 1, 1, 1000, 'number', NULL),
          ('T', 'dblMoney', '借款金额', 'Amount', 17, 1, 0, 0, 1400, 'number', NULL),
          ('T', 'dblOldMoney', '本币金额', 'Local amount', 18, 1, 1, 1, 1400, 'number', NULL),
          ('T', 'strUsed', '用途', 'Purpose', 19, 1, 0, 1, 3000, 'text', NULL),
          ('T', 'dtExpDate', '预计还款日期', 'Expected repayment', 20, 1, 0, 1, 1200, 'date', NULL),
          ('T', 'strPersonID', '制单人', 'Entered by', 21, 1, 0, 0, 1200, 'text', NULL),
          ('T', 'strAuditorID', '审批人', 'Approved by', 22, 1, 0, 0, 1200, 'text', NULL),
          ('B', 'strBalanceID', '结算方式', 'Settlement', 1, 1, 1, 1, 1200, 'text', 'settlestyle'),
          ('B', 'dblMoney', '金额', 'Amount', 2, 1, 0, 1, 1400, 'number', NULL),
          ('B', 'dblPreMoney', '预付金额', 'Advance amount', 3, 1, 0, 1, 1400, 'number', NULL),
          ('B', 'strBillID', '票据号', 'Bill number', 4, 1, 0, 1, 1200, 'text', NULL),
          ('B', 'strPayBankID', '付款银行', 'Paying bank', 5, 1, 0, 1, 1500, 'text', 'bank'),
          ('B', 'strBankName', '收款银行', 'Payee bank', 6, 1, 0, 1, 1800, 'text', NULL),
          ('B', 'strBankAcc', '收款账号', 'Payee account', 7, 1, 0, 1, 1800, 'text', NULL)
       ) AS f;

INSERT INTO Host_TemplateField (vt_id, cSection, cFieldName, cCaption, cCaptionEn, iOrder,
                                bVisible, bMustInput, bCanModify, iWidth, cDataType, cRefName)
SELECT t.column1, f.column1, f.column2, f.column3, f.column4, f.column5, f.column6, f.column7,
       f.column8, f.column9, f.column10, f.column11
  FROM (VALUES (21), (22), (31), (32)) AS t,
       (VALUES
          ('T', 'strVouchID', '单据编号', 'Voucher number', 1, 1, 1, 1, 1500, 'text', NULL),
          ('T', 'dtLoanDate', '报销日期', 'Claim date', 2, 1, 1, 1, 1200, 'date', NULL),
          ('T', 'strTypeCode', '业务类型', 'Operation type', 3, 1, 1, 1, 1500, 'text', 'operationtype'),
          ('T', 'strDepartID', '部门', 'Department', 4, 1, 1, 1, 1500, 'text', 'department'),
          ('T', 'strLoanID', '报销人', 'Claimant', 5, 1, 1, 1, 1200, 'text', 'person'),
          ('T', 'strItemClassID', '项目大类', 'Item class', 6, 1, 0, 1, 1200, 'text', 'fitem'),
          ('T', 'strItemID', '项目', 'Item', 7, 1, 0, 1, 1500, 'text', 'fitemss'),
          ('T', 'strBudItemID', '预算项目', 'Budget item', 8, 1, 0, 1, 1500, 'text', 'bg_item'),
          ('T', 'strPort1', '预算维度1', 'Budget dimension 1', 9, 0, 0, 0, 1200, 'text', NULL),
          ('T', 'strPort1Value', '维度1取值', 'Dimension 1 value', 10, 1, 0, 1, 1500, 'text', NULL),
          ('T', 'strPort2', '预算维度2', 'Budget dimension 2', 11, 0, 0, 0, 1200, 'text', NULL),
          ('T', 'strPort2Value', '维度2取值', 'Dimension 2 value', 12, 1, 0, 1, 1500, 'text', NULL),
          ('T', 'strPort3', '预算维度3', 'Budget dimension 3', 13, 0, 0, 0, 1200, 'text', NULL),
          ('T', 'strPort3Value', '维度3取值', 'Dimension 3 value', 14, 1, 0, 1, 1500, 'text', NULL),
          ('T', 'strBill', '币种', 'Currency', 15, 1, 1, 1, 1000, 'text', 'currency'),
          ('T', 'fltRate', '汇率', 'Rate', 16, 1, 1, 1, 1000, 'number', NULL),
          ('T', 'dblMoney', '报销金额', 'Amount', 17, 1, 0, 0, 1400, 'number', NULL),
          ('T', 'dblOldMoney', '本币金额', 'Local amount', 18, 1, 1, 1, 1400, 'number', NULL),
          ('T', 'strUsed', '事由', 'Purpose', 19, 1, 0, 1, 3000, 'text', NULL),
          ('T', 'strPersonID', '制单人', 'Entered by', 20, 1, 0, 0, 1200, 'text', NULL),
          ('T', 'strAuditorID', '审批人', 'Approved by', 21, 1, 0, 0, 1200, 'text', NULL),
          ('T', 'strVerifier', '结算确认人', 'Verified by', 22, 1, 0, 0, 1200, 'text', NULL),
          ('B', 'dtBDate', '开始日期', 'From date', 1, 1, 0, 1, 1200, 'date', NULL),
          ('B', 'intBTime', '开始时间', 'From hour', 2, 1, 0, 1, 800, 'number', NULL),
          ('B', 'dtEDate', '结束日期', 'To date', 3, 1, 0, 1, 1200, 'date', NULL),
          ('B', 'intETime', '结束时间', 'To hour', 4, 1, 0, 1, 800, 'number', NULL),
          ('B', 'strBZero', '出发地点', 'From place', 5, 1, 0, 1, 1200, 'text', 'position'),
          ('B', 'strEZero', '到达地点', 'To place', 6, 1, 0, 1, 1200, 'text', 'position'),
          ('B', 'strJTTools', '交通工具', 'Transport', 7, 1, 0, 1, 1200, 'text', 'transport'),
          ('B', 'strIOItem', '报销项目', 'Reimbursement item', 8, 1, 1, 1, 1500, 'text', 'ioitem'),
          ('B', 'dblVouch', '单据金额', 'Receipt amount', 9, 1, 0, 1, 1400, 'number', NULL),
          ('B', 'dblNumber', '数量', 'Quantity', 10, 1, 0, 1, 800, 'number', NULL),
          ('B', 'dblStand', '标准', 'Standard', 11, 1, 0, 0, 1200, 'number', NULL),
          ('B', 'dblMoney', '报销金额', 'Amount', 12, 1, 1, 1, 1400, 'number', NULL),
          ('B', 'dblOldMoney', '本币金额', 'Local amount', 13, 1, 0, 0, 1400, 'number', NULL),
          ('B', 'strMemo', '备注', 'Remark', 14, 1, 0, 1, 2400, 'text', NULL)
       ) AS f;

INSERT INTO Host_FixedData (vt_id, iOrder, cName, cValue) VALUES
  (12, 1, 'title', '借款单'),
  (12, 2, 'company', '青松商贸有限公司'),
  (12, 3, 'footer', '借款人签字：          审批人签字：'),
  (22, 1, 'title', '收入报销单'),
  (22, 2, 'company', '青松商贸有限公司'),
  (22, 3, 'footer', '报销人签字：          审批人签字：'),
  (32, 1, 'title', '支出报销单'),
  (32, 2, 'company', '青松商贸有限公司'),
  (32, 3, 'footer', '报销人签字：          审批人签字：');

-- A 1x1 transparent image stands in for the company logo.
INSERT INTO Host_CompanyLogo (id, cFileName, cMimeType, cImageData) VALUES
  (1, 'logo.png', 'image/png',
   'iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kg'
   || 'AAAABJRU5ErkJggg==');

------------------------------------------------------------------------------------------------
-- Approval flows: loans (card "45") go to approver in one step; both claim families (cards "46"
-- and "47") pass demo first and approver second.

INSERT INTO Host_Flow (iFlowId, cCardNumber, cFlowName, iPriority, bActive) VALUES
  (1, '45', '借款单审批', 0, 1),
  (2, '46', '收入报销单审批', 0, 1),
  (3, '47', '支出报销单审批', 0, 1);

INSERT INTO Host_FlowStep (iFlowId, iStep, cStepName, iPassMode) VALUES
  (1, 1, '财务审批', 0),
  (2, 1, '主管审批', 0),
  (2, 2, '财务审批', 0),
  (3, 1, '主管审批', 0),
  (3, 2, '财务审批', 0);

INSERT INTO Host_FlowApprover (iFlowId, iStep, iIsUser, cApprover_Id) VALUES
  (1, 1, 1, 'approver'),
  (2, 1, 1, 'demo'),
  (2, 2, 1, 'approver'),
  (3, 1, 1, 'demo'),
  (3, 2, 1, 'approver'),
  (2, 1, 1, 'manager'),
  (3, 1, 1, 'manager');

------------------------------------------------------------------------------------------------
-- Budgets of the current year: travel by department (hard control) and office costs by
-- department (warning only). Dimension values are department codes.

INSERT INTO BG_Item (cItemCode, cItemName) VALUES
  ('01', '差旅费'),
  ('02', '办公费');

INSERT INTO Host_BudgetOption (cSysId, bActive) VALUES ('EC', 1);

INSERT INTO Host_BudgetDimension (cItemCode, iPort, cPortCode, cPortName) VALUES
  ('01', 1, 'department', '部门'),
  ('02', 1, 'department', '部门');

INSERT INTO Host_Budget (iYear, cItemCode, cPort1Value, mBudget, iControl) VALUES
  ({{YEAR}}, '01', '01', 20000, 1),
  ({{YEAR}}, '01', '0201', 50000, 1),
  ({{YEAR}}, '01', '0202', 30000, 1),
  ({{YEAR}}, '02', '01', 5000, 0),
  ({{YEAR}}, '02', '0201', 8000, 0);

------------------------------------------------------------------------------------------------
-- Row authority: clerk sees only department "0201"; everyone else is unrestricted.

INSERT INTO Host_ScopeRule (cUser_Id, cAuthType, cSelector1, cSelector2, iScope) VALUES
  ('clerk', 'department', '', '', 2);
INSERT INTO Host_ScopeRuleItem (cUser_Id, cAuthType, cSelector1, cSelector2, cCode) VALUES
  ('clerk', 'department', '', '', '0201');

------------------------------------------------------------------------------------------------
-- User-defined fields: a value list on head field cDefine1 and free input on cDefine2.

INSERT INTO Host_UserDefField (cFieldName, cCaption, cDataType, iLength, iSource, cRefTable,
                               cRefColumn, bMustInput)
VALUES
  ('cDefine1', '项目阶段', 'text', 20, 1, 'UserDefine', 'cValue', 0),
  ('cDefine2', '附言', 'text', 120, 0, NULL, NULL, 0);

INSERT INTO UserDefine (cID, cValue, cAlias) VALUES
  ('cDefine1', '立项', 'Initiation'),
  ('cDefine1', '实施', 'Execution'),
  ('cDefine1', '验收', 'Acceptance');

------------------------------------------------------------------------------------------------
-- Ageing periods of loans (ageing type "1").

INSERT INTO Host_AgePeriod (cSysId, cAgeType, iNo, iDays, cName) VALUES
  ('EC', '1', 1, 30, '30天以内'),
  ('EC', '1', 2, 60, '31-60天'),
  ('EC', '1', 3, 90, '61-90天'),
  ('EC', '1', 4, 180, '91-180天'),
  ('EC', '1', 5, NULL, '180天以上');

------------------------------------------------------------------------------------------------
-- References: title formats, common digests, accounting units, and the shared column layout
-- of the loan list.

INSERT INTO Host_RefColumn (cRefName, iOrder, cFieldName, cCaption, cCaptionEn, iWidth) VALUES
  ('fitemss', 1, 'citemcode', '项目编码', 'Item code', 1200),
  ('fitemss', 2, 'citemname', '项目名称', 'Item name', 2400),
  ('cdefine', 1, 'cFieldName', '自定义项', 'Field', 1200),
  ('cdefine', 2, 'cCaption', '名称', 'Caption', 2000),
  ('userdefine', 1, 'cValue', '值', 'Value', 1600),
  ('userdefine', 2, 'cAlias', '别名', 'Alias', 2000),
  ('gl_bdigest', 1, 'cCode', '编码', 'Code', 1000),
  ('gl_bdigest', 2, 'cDigest', '常用摘要', 'Digest', 3000),
  ('fd_dwref', 1, 'cUnitCode', '单位编码', 'Unit code', 1200),
  ('fd_dwref', 2, 'cUnitName', '单位名称', 'Unit name', 2400);

INSERT INTO gl_bdigest (cCode, cDigest) VALUES
  ('01', '报销差旅费'),
  ('02', '员工借款'),
  ('03', '归还借款');

INSERT INTO fd_accunit (iid, cUnitCode, cUnitName, cMark, iType, accunit_id) VALUES
  (1, '01', '总部', NULL, 0, 1),
  (2, '02', '北京分公司', NULL, 1, 2);

INSERT INTO Host_ColumnLayout (cKey, cUser_Id, cFieldName, cCaption, iOrder, iWidth, bVisible,
                               cAlign, cFormat, bTotal)
VALUES
  ('EC_LoanList', '', 'strVouchID', '单据编号', 1, 1500, 1, 'left', NULL, 0),
  ('EC_LoanList', '', 'dtLoanDate', '借款日期', 2, 1200, 1, 'center', 'yyyy-mm-dd', 0),
  ('EC_LoanList', '', 'strLoanName', '借款人', 3, 1200, 1, 'left', NULL, 0),
  ('EC_LoanList', '', 'dblMoney', '金额', 4, 1400, 1, 'right', '#,##0.00', 1);
