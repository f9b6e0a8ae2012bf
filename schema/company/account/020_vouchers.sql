-- A company set up from nothing: the module's three voucher cards (loans "EC01", income claims
-- "EC02", expenditure claims "EC03"), a display and a print template for each with its fields,
-- numbering for each card, and the local currency. Operation types name these templates; the
-- pages load them; the saves number vouchers with them. A company changes them in the ERP.

INSERT INTO VoucherTemplates (vt_id, vt_name, vt_cardnumber, vt_templatemode) VALUES
  (11, '借款单', 'EC01', 0),
  (12, '借款单打印', 'EC01', 1),
  (21, '收入报销单', 'EC02', 0),
  (22, '收入报销单打印', 'EC02', 1),
  (31, '支出报销单', 'EC03', 0),
  (32, '支出报销单打印', 'EC03', 1);

INSERT INTO Vouchers (CardNumber, CardName, DEF_ID) VALUES
  ('EC01', '借款单', 11),
  ('EC02', '收入报销单', 21),
  ('EC03', '支出报销单', 31);

-- The local currency: amounts in it are taken as they are (iotherused -1).
INSERT INTO foreigncurrency (cexch_name, cexch_code, bcal, idec, nerror, iotherused) VALUES
  ('人民币', 'RMB', 1, 2, 0, -1);

-- Numbering: a letter prefix per card, the month of the voucher date and a 4-digit serial that
-- restarts every month; numbers already on a voucher are skipped.

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
