-- Demo company: account "001" in the current year, its periods, operators, roles and rights.

INSERT INTO UA_Account (cAcc_Id, cAcc_Name, iYear, iMonth, cAcc_Master, bGroup, ccurcode, ccurname,
                        cunitname, cunitabbre, cunitaddr, cunitzap, cunittel, cunitfax,
                        cunitemail, cunittaxno)
VALUES ('001', '青松商贸有限公司', {{YEAR}}, 1, 'demo', 0, 'RMB', '人民币',
        '青松商贸有限公司', '青松商贸', '松林路 8 号', '100000', '010-66660001', '010-66660002',
        'office@qingsong.example', '110000000000001');

INSERT INTO UA_AccountYear (cAcc_Id, iYear, bClosed) VALUES ('001', {{YEAR}}, 0);

-- Twelve calendar-month periods; computed so that February ends right in leap years.
INSERT INTO UA_Period (cAcc_Id, iYear, iId, dBegin, dEnd, bIsDelete)
WITH RECURSIVE m(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM m WHERE i < 12)
SELECT '001', {{YEAR}}, i,
       date('{{YEAR}}-01-01', '+' || (i - 1) || ' months'),
       date('{{YEAR}}-01-01', '+' || i || ' months', '-1 day'),
       0
  FROM m;

-- Writing is open; the row is there so that tests and tools only flip bFlag.
INSERT INTO UA_LockState (cAcc_Id, iYear, cSub_Id, iCode, bFlag)
VALUES ('001', {{YEAR}}, 'EC', 204, 0);

INSERT INTO UA_User (cUser_Id, cUser_Name, cPassword, bAdmin, cLocaleId, cUser_Email) VALUES
  ('demo', 'Demo Admin', '{{PWHASH:demo}}', 1, 'zh-CN', 'demo@qingsong.example'),
  ('approver', 'Anna Approver', '{{PWHASH:approver}}', 0, 'zh-CN', 'anna@qingsong.example'),
  ('clerk', 'Carl Clerk', '{{PWHASH:clerk}}', 0, 'zh-CN', 'carl@qingsong.example'),
  ('manager', 'Mike Manager', '{{PWHASH:manager}}', 0, 'zh-CN', 'mike@qingsong.example'),
  ('cashier', 'Cathy Cashier', '{{PWHASH:cashier}}', 0, 'zh-CN', 'cathy@qingsong.example'),
  ('finance', 'Fiona Finance', '{{PWHASH:finance}}', 0, 'zh-CN', 'fiona@qingsong.example');

INSERT INTO UA_Group (cGroup_Id, cGroup_Name, cMemo) VALUES
  ('APPROVERS', '审批人员', 'Approve vouchers and pay them online'),
  ('STAFF', '员工', 'Read the voucher lists');

INSERT INTO UA_Role (cUser_Id, cGroup_Id) VALUES
  ('approver', 'APPROVERS'),
  ('approver', 'STAFF'),
  ('clerk', 'STAFF'),
  ('manager', 'STAFF'),
  ('cashier', 'STAFF'),
  ('finance', 'STAFF');

-- demo administers the account; approver holds its rights through roles; clerk holds the entry
-- rights itself and the list rights through STAFF.
INSERT INTO UA_HoldAuth (cAcc_Id, iYear, cUser_Id, iIsUser, cAuth_Id) VALUES
  ('001', {{YEAR}}, 'demo', 1, 'ADMIN'),
  ('001', {{YEAR}}, 'APPROVERS', 0, 'EC0202'),
  ('001', {{YEAR}}, 'APPROVERS', 0, 'EC020201'),
  ('001', {{YEAR}}, 'APPROVERS', 0, 'EC020202'),
  ('001', {{YEAR}}, 'APPROVERS', 0, 'EC0204'),
  ('001', {{YEAR}}, 'APPROVERS', 0, 'EC020401'),
  ('001', {{YEAR}}, 'APPROVERS', 0, 'EC020402'),
  ('001', {{YEAR}}, 'APPROVERS', 0, 'EC0205'),
  ('001', {{YEAR}}, 'APPROVERS', 0, 'EC020501'),
  ('001', {{YEAR}}, 'APPROVERS', 0, 'EC020502'),
  ('001', {{YEAR}}, 'STAFF', 0, 'EC0301'),
  ('001', {{YEAR}}, 'STAFF', 0, 'EC0302'),
  ('001', {{YEAR}}, 'clerk', 1, 'EC020101'),
  ('001', {{YEAR}}, 'clerk', 1, 'EC020301'),
  ('001', {{YEAR}}, 'clerk', 1, 'EC020302');

-- The self-service pages' other roles. manager takes the first step of the claim flows;
-- cashier settles approved claims on the claim page and pays them online; finance makes the
-- ledger vouchers and reads the reports. clerk (above) also records the advances written off
-- against his own claims before submitting them (EC020302).
INSERT INTO UA_HoldAuth (cAcc_Id, iYear, cUser_Id, iIsUser, cAuth_Id) VALUES
  ('001', {{YEAR}}, 'manager', 1, 'EC0204'),
  ('001', {{YEAR}}, 'manager', 1, 'EC020401'),
  ('001', {{YEAR}}, 'manager', 1, 'EC020402'),
  ('001', {{YEAR}}, 'cashier', 1, 'EC020301'),
  ('001', {{YEAR}}, 'cashier', 1, 'EC020302'),
  ('001', {{YEAR}}, 'cashier', 1, 'EC020305'),
  ('001', {{YEAR}}, 'cashier', 1, 'EC0205'),
  ('001', {{YEAR}}, 'cashier', 1, 'EC020501'),
  ('001', {{YEAR}}, 'cashier', 1, 'EC020502'),
  ('001', {{YEAR}}, 'finance', 1, 'EC0206'),
  ('001', {{YEAR}}, 'finance', 1, 'EC0303'),
  ('001', {{YEAR}}, 'finance', 1, 'EC0401'),
  ('001', {{YEAR}}, 'finance', 1, 'EC0402'),
  ('001', {{YEAR}}, 'finance', 1, 'EC0404');
