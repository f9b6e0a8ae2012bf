-- System database: accounts, fiscal years and periods, users and roles, function rights, the
-- function tasks in use, the write lock, menus and login sessions. Attached to every account
-- connection as "qdsystem".

-- Accounts (companies). One account database per row.
CREATE TABLE UA_Account (
  cAcc_Id varchar(3) NOT NULL,
  cAcc_Name nvarchar(60) NOT NULL,
  -- Where the account database lives; NULL lets the service use its default location.
  cAcc_Path nvarchar(255) NULL,
  iYear int NOT NULL,  -- first fiscal year of the account
  iMonth int NOT NULL DEFAULT 1,  -- first month of the account
  cAcc_Master varchar(20) NULL,  -- account administrator (UA_User.cUser_Id)
  bGroup bit NOT NULL DEFAULT 0,  -- account kept in group (multi-company) mode
  ccurcode varchar(10) NULL,  -- local currency code and name
  ccurname nvarchar(20) NULL,
  cunitname nvarchar(98) NULL,
  cunitabbre nvarchar(40) NULL,
  cunitaddr nvarchar(120) NULL,
  cunitzap varchar(10) NULL,
  cunittel varchar(30) NULL,
  cunitfax varchar(30) NULL,
  cunitemail varchar(60) NULL,
  cunittaxno varchar(30) NULL,
  CONSTRAINT PK_UA_Account PRIMARY KEY (cAcc_Id)
);

-- The fiscal years an account has been opened for.
CREATE TABLE UA_AccountYear (
  cAcc_Id varchar(3) NOT NULL,
  iYear int NOT NULL,
  bClosed bit NOT NULL DEFAULT 0,  -- year closed: no more postings
  CONSTRAINT PK_UA_AccountYear PRIMARY KEY (cAcc_Id, iYear)
);

-- Accounting periods: twelve per account year. Bounds are stored as "YYYY-MM-DD" so that
-- text comparisons with a date ("dbegin<='2024-03-05'") and BETWEEN work.
CREATE TABLE UA_Period (
  cAcc_Id varchar(3) NOT NULL,
  iYear int NOT NULL,
  iId int NOT NULL,  -- period number 1..12
  dBegin datetime NOT NULL,
  dEnd datetime NOT NULL,
  bIsDelete bit NOT NULL DEFAULT 0,
  CONSTRAINT PK_UA_Period PRIMARY KEY (cAcc_Id, iYear, iId)
);

-- Operators. cUser_Name is what vouchers record as operator and approver, so it is unique too.
CREATE TABLE UA_User (
  cUser_Id varchar(20) NOT NULL,
  cUser_Name nvarchar(40) NOT NULL,
  cPassword varchar(200) NULL,  -- password hash, never the password
  bAdmin bit NOT NULL DEFAULT 0,  -- system administrator: every right in every account
  cLocaleId varchar(10) NOT NULL DEFAULT 'zh-CN',  -- preferred language
  cUser_Email varchar(60) NULL,
  bDisabled bit NOT NULL DEFAULT 0,  -- may no longer log in
  CONSTRAINT PK_UA_User PRIMARY KEY (cUser_Id),
  CONSTRAINT IX_UA_User_Name UNIQUE (cUser_Name)
);

-- Roles (groups of operators) and their members.
CREATE TABLE UA_Group (
  cGroup_Id varchar(20) NOT NULL,
  cGroup_Name nvarchar(40) NOT NULL,
  cMemo nvarchar(120) NULL,
  CONSTRAINT PK_UA_Group PRIMARY KEY (cGroup_Id)
);

CREATE TABLE UA_Role (
  cUser_Id varchar(20) NOT NULL,
  cGroup_Id varchar(20) NOT NULL,
  CONSTRAINT PK_UA_Role PRIMARY KEY (cUser_Id, cGroup_Id)
);
CREATE INDEX IX_UA_Role_Group ON UA_Role (cGroup_Id);

-- Catalogue of function tasks (rights). Branch codes group the leaves in the rights tree.
CREATE TABLE UA_Auth (
  cAuth_Id varchar(20) NOT NULL,
  cSub_Id varchar(2) NOT NULL,  -- system the task belongs to
  cAuth_Name nvarchar(60) NOT NULL,
  cAuth_NameEn varchar(100) NULL,
  cSupAuth_Id varchar(20) NULL,  -- parent code, NULL at the top
  iGrade int NOT NULL DEFAULT 1,
  bEndGrade bit NOT NULL DEFAULT 1,
  CONSTRAINT PK_UA_Auth PRIMARY KEY (cAuth_Id)
);

-- Rights held per account and year, by a user (iIsUser 1) or a role (iIsUser 0). The task code
-- 'ADMIN' makes the holder administrator of that account year.
CREATE TABLE UA_HoldAuth (
  cAcc_Id varchar(3) NOT NULL,
  iYear int NOT NULL,
  cUser_Id varchar(20) NOT NULL,
  iIsUser tinyint NOT NULL DEFAULT 1,
  cAuth_Id varchar(20) NOT NULL,
  CONSTRAINT PK_UA_HoldAuth PRIMARY KEY (cAcc_Id, iYear, cUser_Id, iIsUser, cAuth_Id)
);

-- Function tasks currently applied for: one row per running task that excludes others
-- (UA_TaskExclusion), removed on release, so that every process on the database sees it.
-- Other parts of the system test "is this function in use in this account" here.
CREATE TABLE UA_Task (
  AutoID int IDENTITY(1,1) NOT NULL,
  cAcc_Id varchar(3) NOT NULL,
  iYear int NOT NULL,
  cSub_Id varchar(2) NOT NULL,
  cAuth_Id varchar(20) NOT NULL,
  cUser_Id varchar(20) NOT NULL,
  cStation nvarchar(60) NULL,  -- machine the operator works on
  cSession varchar(64) NULL,  -- session that holds the task
  dStartTime datetime NOT NULL DEFAULT (getdate())
);
CREATE INDEX IX_UA_Task ON UA_Task (cAcc_Id, cAuth_Id);

-- Pairs of tasks that may not run at the same time in one account year (either order).
CREATE TABLE UA_TaskExclusion (
  cAuth_Id varchar(20) NOT NULL,
  cExclusive_Id varchar(20) NOT NULL,
  CONSTRAINT PK_UA_TaskExclusion PRIMARY KEY (cAuth_Id, cExclusive_Id)
);

-- Host states per account, year and system; iCode 204 with bFlag 1 blocks writing (year-end
-- work, backups). No row means the state is not set.
CREATE TABLE UA_LockState (
  cAcc_Id varchar(3) NOT NULL,
  iYear int NOT NULL,
  cSub_Id varchar(2) NOT NULL,
  iCode int NOT NULL,
  bFlag bit NOT NULL DEFAULT 0,
  cUser_Id varchar(20) NULL,  -- who set it, when and why
  dTime datetime NULL,
  cRemark nvarchar(120) NULL,
  CONSTRAINT PK_UA_LockState PRIMARY KEY (cAcc_Id, iYear, cSub_Id, iCode)
);

-- Menu tree per system. An entry is shown when the operator holds cAuth_Id (or it is NULL and
-- some entry below it is shown).
CREATE TABLE UA_Menu (
  cSub_Id varchar(2) NOT NULL,
  cMenu_Id varchar(20) NOT NULL,
  cSupMenu_Id varchar(20) NULL,
  cMenu_Name nvarchar(60) NOT NULL,
  cMenu_NameEn varchar(100) NULL,
  cAuth_Id varchar(20) NULL,
  cUrl varchar(255) NULL,
  iOrder int NOT NULL DEFAULT 0,
  CONSTRAINT PK_UA_Menu PRIMARY KEY (cSub_Id, cMenu_Id)
);

-- Logged-in sessions of the HTTP service, found by the hash of their token; every service
-- process on the database serves them.
CREATE TABLE UA_Session (
  cSession varchar(64) NOT NULL,
  cUser_Id varchar(20) NOT NULL,
  cAcc_Id varchar(3) NOT NULL,
  iYear int NOT NULL,
  cLocaleId varchar(10) NOT NULL DEFAULT 'zh-CN',
  dLoginDate varchar(10) NOT NULL,  -- operator's business date, "YYYY-MM-DD"
  cStation nvarchar(60) NULL,
  dCreated datetime NOT NULL DEFAULT (getdate()),
  dLastSeen datetime NOT NULL DEFAULT (getdate()),
  CONSTRAINT PK_UA_Session PRIMARY KEY (cSession)
);

-- Task catalogue of the expense module.
INSERT INTO UA_Auth (cAuth_Id, cSub_Id, cAuth_Name, cAuth_NameEn, cSupAuth_Id, iGrade, bEndGrade)
VALUES
  ('EC01', 'EC', '基础设置', 'Settings', NULL, 1, 0),
  ('EC0101', 'EC', '选项', 'Options', 'EC01', 2, 0),
  ('EC010101', 'EC', '查看选项', 'View options', 'EC0101', 3, 1),
  ('EC010102', 'EC', '修改选项', 'Edit options', 'EC0101', 3, 1),
  ('EC0102', 'EC', '业务类型', 'Operation types', 'EC01', 2, 1),
  ('EC0103', 'EC', '报销项目', 'Reimbursement items', 'EC01', 2, 1),
  ('EC0104', 'EC', '费用标准', 'Expense standards', 'EC01', 2, 1),
  ('EC0105', 'EC', '人员', 'Persons', 'EC01', 2, 1),
  ('EC0106', 'EC', '地区', 'Districts', 'EC01', 2, 1),
  ('EC0108', 'EC', '凭证设置', 'Voucher settings', 'EC01', 2, 1),
  ('EC02', 'EC', '日常业务', 'Daily business', NULL, 1, 0),
  ('EC0201', 'EC', '借款单', 'Loan vouchers', 'EC02', 2, 0),
  ('EC020101', 'EC', '借款单录入', 'Enter loan vouchers', 'EC0201', 3, 1),
  ('EC0202', 'EC', '借款单审批', 'Loan approval', 'EC02', 2, 0),
  ('EC020201', 'EC', '借款单审核', 'Approve loan vouchers', 'EC0202', 3, 1),
  ('EC020202', 'EC', '借款单弃审', 'Cancel loan approval', 'EC0202', 3, 1),
  ('EC0203', 'EC', '报销单', 'Expense claims', 'EC02', 2, 0),
  ('EC020301', 'EC', '报销单录入', 'Enter expense claims', 'EC0203', 3, 1),
  ('EC020302', 'EC', '报销结算信息', 'Claim settlement', 'EC0203', 3, 1),
  ('EC020305', 'EC', '已审报销结算信息', 'Settlement of approved claims', 'EC0203', 3, 1),
  ('EC0204', 'EC', '报销单审批', 'Claim approval', 'EC02', 2, 0),
  ('EC020401', 'EC', '报销单审核', 'Approve expense claims', 'EC0204', 3, 1),
  ('EC020402', 'EC', '报销单弃审', 'Cancel claim approval', 'EC0204', 3, 1),
  ('EC0205', 'EC', '网上支付', 'Online payment', 'EC02', 2, 0),
  ('EC020501', 'EC', '网上支付', 'Pay online', 'EC0205', 3, 1),
  ('EC020502', 'EC', '撤销网上支付', 'Withdraw online payment', 'EC0205', 3, 1),
  ('EC0206', 'EC', '生成凭证', 'Generate ledger vouchers', 'EC02', 2, 1),
  ('EC03', 'EC', '查询', 'Queries', NULL, 1, 0),
  ('EC0301', 'EC', '借款单列表', 'Loan list', 'EC03', 2, 1),
  ('EC0302', 'EC', '报销单列表', 'Claim list', 'EC03', 2, 1),
  ('EC0303', 'EC', '凭证列表', 'Ledger voucher list', 'EC03', 2, 1),
  ('EC04', 'EC', '报表', 'Reports', NULL, 1, 0),
  ('EC0401', 'EC', '借款催还', 'Loan reminders', 'EC04', 2, 1),
  ('EC0402', 'EC', '借款账龄分析', 'Loan ageing', 'EC04', 2, 1),
  ('EC0404', 'EC', '业务类型汇总', 'Summary by type', 'EC04', 2, 1);

-- Menu of the expense module; entries follow the rights they need.
INSERT INTO UA_Menu (cSub_Id, cMenu_Id, cSupMenu_Id, cMenu_Name, cMenu_NameEn, cAuth_Id, iOrder)
VALUES
  ('EC', 'EC01', NULL, '基础设置', 'Settings', NULL, 1),
  ('EC', 'EC0101', 'EC01', '选项', 'Options', 'EC010101', 1),
  ('EC', 'EC0102', 'EC01', '业务类型', 'Operation types', 'EC0102', 2),
  ('EC', 'EC0103', 'EC01', '报销项目', 'Reimbursement items', 'EC0103', 3),
  ('EC', 'EC0104', 'EC01', '费用标准', 'Expense standards', 'EC0104', 4),
  ('EC', 'EC0105', 'EC01', '人员', 'Persons', 'EC0105', 5),
  ('EC', 'EC0106', 'EC01', '地区', 'Districts', 'EC0106', 6),
  ('EC', 'EC0108', 'EC01', '凭证设置', 'Voucher settings', 'EC0108', 7),
  ('EC', 'EC02', NULL, '日常业务', 'Daily business', NULL, 2),
  ('EC', 'EC0201', 'EC02', '借款单', 'Loan vouchers', 'EC020101', 1),
  ('EC', 'EC0203', 'EC02', '报销单', 'Expense claims', 'EC020301', 2),
  ('EC', 'EC0202', 'EC02', '借款单审批', 'Loan approval', 'EC020201', 3),
  ('EC', 'EC0204', 'EC02', '报销单审批', 'Claim approval', 'EC020401', 4),
  ('EC', 'EC0205', 'EC02', '网上支付', 'Online payment', 'EC020501', 5),
  ('EC', 'EC0206', 'EC02', '生成凭证', 'Generate ledger vouchers', 'EC0206', 6),
  ('EC', 'EC03', NULL, '查询', 'Queries', NULL, 3),
  ('EC', 'EC0301', 'EC03', '借款单列表', 'Loan list', 'EC0301', 1),
  ('EC', 'EC0302', 'EC03', '报销单列表', 'Claim list', 'EC0302', 2),
  ('EC', 'EC0303', 'EC03', '凭证列表', 'Ledger voucher list', 'EC0303', 3),
  ('EC', 'EC04', NULL, '报表', 'Reports', NULL, 4),
  ('EC', 'EC0401', 'EC04', '借款催还', 'Loan reminders', 'EC0401', 1),
  ('EC', 'EC0402', 'EC04', '借款账龄分析', 'Loan ageing', 'EC0402', 2),
  ('EC', 'EC0404', 'EC04', '业务类型汇总', 'Summary by type', 'EC0404', 3);

