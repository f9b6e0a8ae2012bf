-- Display views of the expense module: every column of their tables plus the names the pages
-- show. Views with LocaleID carry one row per record and language; the pages pick theirs.

-- The languages the pages are offered in.
CREATE VIEW vwECLocale AS
  SELECT 'zh-CN' AS LocaleID
  UNION ALL
  SELECT 'en-US';

------------------------------------------------------------------------------------------------
-- Loan vouchers: head with names per language; rows with the head's AutoID (the key the page
-- asks by), the row's own AutoID as SubAutoID.

CREATE VIEW vwECLoanHead AS
SELECT
  h.AutoID, h.GUID, h.strTypeCode, h.strVouchID, h.dtLoanDate, h.strDepartID, h.strLoanID,
  h.strItemClassID, h.strItemID, h.strBudItemID, h.strPort1, h.strPort1Value, h.strPort2,
  h.strPort2Value, h.strPort3, h.strPort3Value, h.strBill, h.fltRate, h.dblMoney, h.dblOldMoney,
  h.dblReturn, h.strUsed, h.dtExpDate, h.strPersonID, h.blnAudi, h.strAuditorID, h.strMakerID,
  h.blnAllBill, h.blnBegin, h.blnSettle, h.intBudPass, h.intOverBud, h.strOverPerson,
  h.strOverDate, h.strOverDesc, h.PZGUID, h.idoc, h.cDefine1, h.cDefine2, h.cDefine3, h.cDefine4,
  h.cDefine5, h.cDefine6, h.cDefine7, h.cDefine8, h.cDefine9, h.cDefine10, h.cDefine11,
  h.cDefine12, h.cDefine13, h.cDefine14, h.cDefine15, h.cDefine16, h.ts,
  t.strName AS strTypeName, d.cDepName AS strDepartName, p.cPersonName AS strLoanName,
  f.citem_name AS strItemClassName, b.cItemName AS strBudItemName, l.LocaleID
FROM EC_LoanVouch h
  LEFT JOIN EC_OperationType t ON t.strCode = h.strTypeCode
  LEFT JOIN Department d ON d.cDepCode = h.strDepartID
  LEFT JOIN Person p ON p.cPersonCode = h.strLoanID
  LEFT JOIN fitem f ON f.citem_class = h.strItemClassID
  LEFT JOIN BG_Item b ON b.cItemCode = h.strBudItemID
  CROSS JOIN vwECLocale l;

CREATE VIEW vwECLoanBody AS
SELECT
  h.AutoID, s.AutoID AS SubAutoID,
  s.GUID, s.MGuid, s.strBalanceID, s.dblMoney, s.dblPreMoney, s.strBillID, s.strPayBankID,
  s.strBankName, s.strBankAcc, s.dblReturn, s.blnSettle, s.strPayID, s.blnNetOK, s.cDefine22,
  s.cDefine23, s.cDefine24, s.cDefine25, s.cDefine26, s.cDefine27, s.cDefine28, s.cDefine29,
  s.cDefine30, s.cDefine31, s.cDefine32, s.cDefine33, s.cDefine34, s.cDefine35, s.cDefine36,
  s.cDefine37, s.ts,
  ss.cSSName AS strBalanceName, ss.bSSFlag, bk.cBName AS strPayBankName,
  bk.cBAccount AS strPayBankAcc
FROM EC_LoanVouch_Sub s
  INNER JOIN EC_LoanVouch h ON h.GUID = s.MGuid
  LEFT JOIN SettleStyle ss ON ss.cSSCode = s.strBalanceID
  LEFT JOIN Bank bk ON bk.cBCode = s.strPayBankID;

------------------------------------------------------------------------------------------------
-- Expense claims, the same way.

CREATE VIEW vwECExpenHead AS
SELECT
  h.AutoID, h.GUID, h.strTypeCode, h.strVouchID, h.dtLoanDate, h.strDepartID, h.strLoanID,
  h.strItemClassID, h.strItemID, h.strBudItemID, h.strPort1, h.strPort1Value, h.strPort2,
  h.strPort2Value, h.strPort3, h.strPort3Value, h.strBill, h.fltRate, h.dblMoney, h.dblOldMoney,
  h.strUsed, h.strPersonID, h.blnAudi, h.strAuditorID, h.strVerifier, h.blnSettle, h.strMakerID,
  h.intBudPass, h.intOverBud, h.strOverPerson, h.strOverDate, h.strOverDesc, h.PZGUID, h.idoc,
  h.cDefine1, h.cDefine2, h.cDefine3, h.cDefine4, h.cDefine5, h.cDefine6, h.cDefine7, h.cDefine8,
  h.cDefine9, h.cDefine10, h.cDefine11, h.cDefine12, h.cDefine13, h.cDefine14, h.cDefine15,
  h.cDefine16, h.ts,
  t.strName AS strTypeName, d.cDepName AS strDepartName, p.cPersonName AS strLoanName,
  f.citem_name AS strItemClassName, b.cItemName AS strBudItemName, l.LocaleID
FROM EC_ExpenVouch h
  LEFT JOIN EC_OperationType t ON t.strCode = h.strTypeCode
  LEFT JOIN Department d ON d.cDepCode = h.strDepartID
  LEFT JOIN Person p ON p.cPersonCode = h.strLoanID
  LEFT JOIN fitem f ON f.citem_class = h.strItemClassID
  LEFT JOIN BG_Item b ON b.cItemCode = h.strBudItemID
  CROSS JOIN vwECLocale l;

CREATE VIEW vwECExpenBody AS
SELECT
  h.AutoID, s.AutoID AS SubAutoID,
  s.GUID, s.MGuid, s.dtBDate, s.intBTime, s.dtEDate, s.intETime, s.strBZero, s.strEZero,
  s.strJTTools, s.strIOItem, s.dblVouch, s.dblNumber, s.dblStand, s.dblPer, s.dblMoney,
  s.dblOldMoney, s.intAppend, s.strMemo, s.cDefine22, s.cDefine23, s.cDefine24, s.cDefine25,
  s.cDefine26, s.cDefine27, s.cDefine28, s.cDefine29, s.cDefine30, s.cDefine31, s.cDefine32,
  s.cDefine33, s.cDefine34, s.cDefine35, s.cDefine36, s.cDefine37, s.ts,
  io.strName AS strIOItemName, bz.strPositionName AS strBZeroName,
  ez.strPositionName AS strEZeroName, jt.strEIName AS strJTToolsName
FROM EC_ExpenVouch_Sub s
  INNER JOIN EC_ExpenVouch h ON h.GUID = s.MGuid
  LEFT JOIN EC_IOItem io ON io.strCode = s.strIOItem
  LEFT JOIN EC_Position bz ON bz.strPositionCode = s.strBZero
  LEFT JOIN EC_Position ez ON ez.strPositionCode = s.strEZero
  LEFT JOIN EC_EISet_NUStand jt ON jt.intEICode = 3 AND jt.strEICode = s.strJTTools;

-- Write-offs of loan rows, with the claim that wrote them off.
CREATE VIEW vwECExpenInfo AS
SELECT
  li.GUID, li.LoanSubguid, li.Expenguid, li.dblJE, li.blnUsed, li.ts,
  e.AutoID AS ExpenAutoID, e.strTypeCode, e.strVouchID, e.dtLoanDate, e.strLoanID,
  e.strAuditorID, p.cPersonName
FROM EC_ExpenLoanInfo li
  INNER JOIN EC_ExpenVouch e ON e.GUID = li.Expenguid
  LEFT JOIN Person p ON p.cPersonCode = e.strLoanID;

------------------------------------------------------------------------------------------------
-- Operation types with the names of their display and print templates.

CREATE VIEW vwECOperaType AS
SELECT
  o.intType, o.strCode, o.strName, o.strShowModel, o.strPrintModel, o.strLink, o.ts,
  o.strShowModel AS strShowID, sv.vt_name AS strShowName,
  o.strPrintModel AS strPrintID, pv.vt_name AS strPrintName, l.LocaleID
FROM EC_OperationType o
  LEFT JOIN VoucherTemplates sv ON sv.vt_id = o.strShowModel
  LEFT JOIN VoucherTemplates pv ON pv.vt_id = o.strPrintModel
  CROSS JOIN vwECLocale l;

------------------------------------------------------------------------------------------------
-- Expense standards: departments, dimensions and value rows with their names.

CREATE VIEW vwECExpenDepart AS
SELECT
  ed.GuidMain, ed.strDepartID,
  ed.GuidMain AS GUID, ed.strDepartID AS cDepCode, d.cDepName
FROM EC_ExpenseDepart ed
  LEFT JOIN Department d ON d.cDepCode = ed.strDepartID;

CREATE VIEW vwECEffectItem AS
SELECT
  e.GUIDStand, e.intEDCode, e.ts, n.strEDName, n.LocaleID
FROM EC_EffectItem e
  INNER JOIN EC_EffectItem_Default_Lang n ON n.intEDCode = e.intEDCode;

CREATE VIEW vwECStandSet AS
SELECT
  s.GUID, s.GUIDStand, s.strField1, s.strField2, s.strField3, s.strField4, s.dblMoney,
  s.dblRate, s.ts,
  s.strField1 AS strPerID, pg.strEIName AS strPerName,
  s.strField2 AS strZeroID, zg.strEIName AS strZeroName,
  s.strField3 AS strToolID, tl.strEIName AS strToolName,
  s.strField4 AS strMonID, mb.strEIName AS strMonName
FROM EC_StandSet s
  LEFT JOIN EC_EISet_NUStand pg ON pg.intEICode = 1 AND pg.strEICode = s.strField1
  LEFT JOIN EC_EISet_NUStand zg ON zg.intEICode = 2 AND zg.strEICode = s.strField2
  LEFT JOIN EC_EISet_NUStand tl ON tl.intEICode = 3 AND tl.strEICode = s.strField3
  LEFT JOIN EC_EISet_Stand mb
    ON mb.GUIDStand = s.GUIDStand AND mb.intEICode = 4 AND mb.strEICode = s.strField4;

------------------------------------------------------------------------------------------------
-- Ledger voucher settings with names; strCode is the account.

CREATE VIEW vwECIOKM AS
SELECT
  i.GUID, i.strOperatType, o.strName AS strOperatName, i.strIOItemCode,
  io.strName AS strIOItemName, i.strCurrency, i.strSubject, i.strSubject AS strCode,
  c.ccode_name AS strCodeName, i.blnModiDire, i.ts
FROM EC_PzSet_IO i
  LEFT JOIN EC_OperationType o ON o.strCode = i.strOperatType
  LEFT JOIN EC_IOItem io ON io.strCode = i.strIOItemCode
  LEFT JOIN code c ON c.ccode = i.strSubject;

CREATE VIEW vwECOPKM AS
SELECT
  p.GUID, p.strOperatType, p.strBalanceType, ss.cSSName AS strBalanceName, p.strBankID,
  b.cBName, b.cBAccount, p.strCurrency, p.strSubject, p.strSubject AS strCode,
  c.ccode_name AS strCodeName, p.ts
FROM EC_PzSet_OP p
  LEFT JOIN SettleStyle ss ON ss.cSSCode = p.strBalanceType
  LEFT JOIN Bank b ON b.cBCode = p.strBankID
  LEFT JOIN code c ON c.ccode = p.strSubject;

