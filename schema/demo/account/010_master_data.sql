-- Master data of the demo company (account "001", the current fiscal year): organisation,
-- currencies, settlement, chart of accounts, operation types, items, places, expense standards,
-- ledger voucher settings and the module's options. Small, but every code used in one table
-- exists in the table it refers to.

------------------------------------------------------------------------------------------------
-- Module options of system "EC": 1xx maintained by the options page, 2xx the merge options of
-- ledger voucher generation. Submission on save (105) is off; budget control (101) "false"
-- puts the claims under budget control; items and places are coded by level lengths.

INSERT INTO accinformation (cSysID, cID, cName, cType, cValue, cDefault) VALUES
  ('EC', '101', 'blnBudCtrl', 'bit', 'false', 'false'),
  ('EC', '102', 'intExpireDays', 'int', '30', '30'),
  ('EC', '103', 'intAlertDays', 'int', '7', '7'),
  ('EC', '104', 'blnAutoAlert', 'bit', 'true', 'false'),
  ('EC', '105', 'blnSubmAudit', 'bit', 'false', 'false'),
  ('EC', '106', 'strIOLevel', 'varchar', '1222', '1222'),
  ('EC', '107', 'strZeroLevel', 'varchar', '222', '222'),
  ('EC', '108', 'blnModiStand', 'bit', 'false', 'false'),
  ('EC', '109', 'blnModiFZHS', 'bit', 'true', 'true'),
  ('EC', '110', 'blnInputBud', 'bit', 'false', 'false'),
  ('EC', '201', 'iokm_zy', 'bit', 'false', 'false'),
  ('EC', '202', 'iokm_km', 'bit', 'true', 'false'),
  ('EC', '203', 'iokm_fzx', 'bit', 'false', 'false'),
  ('EC', '204', 'iokm_djrq', 'bit', 'false', 'false'),
  ('EC', '205', 'iokm_zdy', 'bit', 'false', 'false'),
  ('EC', '206', 'opkm_zy', 'bit', 'false', 'false'),
  ('EC', '207', 'opkm_km', 'bit', 'true', 'false'),
  ('EC', '208', 'opkm_fzx', 'bit', 'false', 'false'),
  ('EC', '209', 'opkm_djrq', 'bit', 'false', 'false'),
  ('EC', '210', 'opkm_jsfs', 'bit', 'false', 'false'),
  ('EC', '211', 'opkm_pjbh', 'bit', 'false', 'false'),
  ('EC', '212', 'opkm_zdy', 'bit', 'false', 'false'),
  ('EC', '301', 'dECPeriodDate', 'datetime', '{{YEAR}}-01-01', ''),
  ('AA', '20', 'iXchgRateStl', 'bit', 'FALSE', 'FALSE');

------------------------------------------------------------------------------------------------
-- Departments (parents "02" and "03" have leaves below them) and persons.

INSERT INTO Department (cDepCode, cDepName, iDepGrade, bDepEnd) VALUES
  ('01', '总经理办公室', 1, 1),
  ('02', '财务部', 1, 0),
  ('0201', '会计科', 2, 1),
  ('0202', '出纳科', 2, 1),
  ('03', '销售部', 1, 0),
  ('0301', '华北销售', 2, 1),
  ('0302', '华南销售', 2, 1),
  ('04', '研发部', 1, 1);

INSERT INTO Person (cPersonCode, cPersonName, cDepCode, cPersonEmail, cPersonPhone) VALUES
  ('0001', '张明', '01', 'zhangming@demo.example', '13800000001'),
  ('0002', '李华', '0201', 'lihua@demo.example', '13800000002'),
  ('0003', '王芳', '0202', 'wangfang@demo.example', '13800000003'),
  ('0004', '赵强', '0301', 'zhaoqiang@demo.example', '13800000004'),
  ('0005', '陈静', '0302', 'chenjing@demo.example', '13800000005'),
  ('0006', '刘洋', '04', 'liuyang@demo.example', '13800000006'),
  ('0007', '周涛', '0301', 'zhoutao@demo.example', '13800000007');

------------------------------------------------------------------------------------------------
-- Cost items: projects (class "00") and the inventory (class "ch").

INSERT INTO fitem (citem_class, citem_name) VALUES
  ('00', '项目'),
  ('ch', '存货');

INSERT INTO fitemss00 (citemcode, citemname) VALUES
  ('001', '新产品研发'),
  ('002', '市场推广');

INSERT INTO inventory (cInvCode, cInvName) VALUES
  ('0101', '笔记本电脑'),
  ('0102', '打印纸');

------------------------------------------------------------------------------------------------
-- Currencies: the local one and US dollars with a period rate for every period and one daily
-- rate.

INSERT INTO foreigncurrency (cexch_name, cexch_code, bcal, idec, nerror, iotherused) VALUES
  ('人民币', 'RMB', 1, 2, 0, -1),
  ('美元', 'USD', 1, 2, 0, 0);

INSERT INTO exch (cexch_name, itype, iperiod, cdate, nflat) VALUES
  ('美元', 2, 1, '1', 7.1), ('美元', 2, 2, '2', 7.1), ('美元', 2, 3, '3', 7.1),
  ('美元', 2, 4, '4', 7.1), ('美元', 2, 5, '5', 7.1), ('美元', 2, 6, '6', 7.1),
  ('美元', 2, 7, '7', 7.1), ('美元', 2, 8, '8', 7.1), ('美元', 2, 9, '9', 7.1),
  ('美元', 2, 10, '10', 7.1), ('美元', 2, 11, '11', 7.1), ('美元', 2, 12, '12', 7.1),
  ('美元', 1, 1, '{{YEAR}}.01.15', 7.12);

------------------------------------------------------------------------------------------------
-- Settlement styles (cheque is the one with bSSFlag; "3" is a parent) and the company's banks.

INSERT INTO SettleStyle (cSSCode, cSSName, iSSGrade, bSSEnd, bSSFlag) VALUES
  ('1', '现金', 1, 1, 0),
  ('2', '支票', 1, 1, 1),
  ('3', '银行汇款', 1, 0, 0),
  ('301', '电汇', 2, 1, 0),
  ('302', '网银转账', 2, 1, 0);

INSERT INTO Bank (cBCode, cBName, cBAccount) VALUES
  ('01', '工商银行北京分行', '0200001109000123456'),
  ('02', '建设银行北京分行', '11001000000052500000');

------------------------------------------------------------------------------------------------
-- Chart of accounts: postable leaves (be = 1) below summary accounts; employee loans are kept
-- by person, expenses and income by department, travel expenses also by project.

INSERT INTO code (ccode, ccode_name, igrade, be, cass_item, bperson, bdept) VALUES
  ('1001', '库存现金', 1, 1, NULL, 0, 0),
  ('1002', '银行存款', 1, 0, NULL, 0, 0),
  ('100201', '工商银行', 2, 1, NULL, 0, 0),
  ('100202', '建设银行', 2, 1, NULL, 0, 0),
  ('1221', '其他应收款', 1, 0, NULL, 0, 0),
  ('122101', '员工借款', 2, 1, NULL, 1, 0),
  ('2241', '其他应付款', 1, 1, NULL, 0, 0),
  ('6051', '其他业务收入', 1, 1, NULL, 0, 1),
  ('6601', '销售费用', 1, 0, NULL, 0, 0),
  ('660101', '差旅费', 2, 1, NULL, 0, 1),
  ('660102', '业务招待费', 2, 1, NULL, 0, 1),
  ('6602', '管理费用', 1, 0, NULL, 0, 0),
  ('660201', '办公费', 2, 1, NULL, 0, 1),
  ('660202', '差旅费', 2, 1, '00', 0, 1);

INSERT INTO dsign (csign, isignseq, ctext) VALUES ('记', 1, '记账凭证');

INSERT INTO gl_mend (iperiod, bflag) VALUES
  (1, 0), (2, 0), (3, 0), (4, 0), (5, 0), (6, 0), (7, 0), (8, 0), (9, 0), (10, 0), (11, 0), (12, 0);

------------------------------------------------------------------------------------------------
-- Voucher templates: a display (mode 0) and a print template (mode 1) per card.

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

------------------------------------------------------------------------------------------------
-- Operation types of the three families and the reimbursement items (levels "1222": the roots
-- "1" and "2", then two characters per level).

INSERT INTO EC_OperationType (intType, strCode, strName, strShowModel, strPrintModel, strLink)
VALUES
  (1, '101', '其他收入', '21', '22', NULL),
  (2, '201', '差旅费报销', '31', '32', NULL),
  (2, '202', '日常费用报销', '31', '32', NULL),
  (3, '301', '差旅借款', '11', '12', NULL),
  (3, '302', '备用金借款', '11', '12', NULL);

INSERT INTO EC_IOItem (strCode, strName, strTypeCode, strUpCode, blnEnd) VALUES
  ('101', '其他收入', '101', '1', 1),
  ('201', '差旅费', '201', '2', 0),
  ('20101', '住宿费', '201', '201', 1),
  ('20102', '交通费', '201', '201', 1),
  ('20103', '出差补助', '201', '201', 1),
  ('202', '业务招待费', '202', '2', 1),
  ('203', '办公费', '202', '2', 1);

------------------------------------------------------------------------------------------------
-- Values of the standards' shared dimensions, places with their grades, persons' grades, loan
-- limits and bank accounts. 0004 has enforced loan limits (control type "1"), 0005 limits
-- that only warn; 0007 has no settings row (no grade, no limits).

INSERT INTO EC_EISet_NUStand (intEICode, strEICode, strEIName) VALUES
  (1, '01', '经理'), (1, '02', '主管'), (1, '03', '职员'),
  (2, '01', '一类地区'), (2, '02', '二类地区'), (2, '03', '三类地区'),
  (3, '01', '飞机'), (3, '02', '火车'), (3, '03', '汽车');

INSERT INTO EC_Position (strPositionCode, strPositionName, strGradeID, strUpCode) VALUES
  ('01', '华北', '02', NULL),
  ('0101', '北京', '01', '01'),
  ('0102', '天津', '02', '01'),
  ('02', '华南', '02', NULL),
  ('0201', '广州', '01', '02'),
  ('0202', '深圳', '01', '02'),
  ('0203', '汕头', '03', '02');

INSERT INTO EC_PersonCtrl (strPersonCode, strGradeID, blnDay, intDay, strDayCtrType, blnNumber,
  intNumber, strNumCtrType, blnMoney, intMoney, strMonCtrType) VALUES
  ('0001', '01', 0, NULL, '0', 0, NULL, '0', 0, NULL, '0'),
  ('0002', '02', 0, NULL, '0', 0, NULL, '0', 0, NULL, '0'),
  ('0003', '03', 0, NULL, '0', 0, NULL, '0', 0, NULL, '0'),
  ('0004', '03', 1, 30, '1', 1, 2, '1', 1, 5000, '1'),
  ('0005', '03', 0, NULL, '0', 1, 3, '0', 1, 3000, '0'),
  ('0006', '02', 0, NULL, '0', 0, NULL, '0', 0, NULL, '0');

INSERT INTO EC_PersonAcc (GUID, strPersonCode, strBankAcc, strBank, blnDefault) VALUES
  ('{EC0A0001-0000-4000-8000-000000000001}', '0004', '6222020200001111', '工商银行北京分行', 1),
  ('{EC0A0002-0000-4000-8000-000000000002}', '0004', '6227000000002222', '建设银行北京分行', 0),
  ('{EC0A0003-0000-4000-8000-000000000003}', '0005', '6222020200003333', '工商银行广州分行', 1);

------------------------------------------------------------------------------------------------
-- Expense standards:
--   住宿费标准 (item 20101, hard control): by person grade and place grade, every leaf
--     department;
--   业务招待费标准 (item 202, warning only): by person grade, management and sales;
--   交通费标准 (item 20102, warning only): by receipt bracket (per unit: up to 100, 200, 500),
--     every leaf department.

INSERT INTO EC_Expense (GUID, strStandName, strIOItemCode, strControlType) VALUES
  ('{EC5D0001-0000-4000-8000-000000000001}', '住宿费标准', '20101', '严格控制'),
  ('{EC5D0002-0000-4000-8000-000000000002}', '业务招待费标准', '202', '提示'),
  ('{EC5D0003-0000-4000-8000-000000000003}', '交通费标准', '20102', '提示');

INSERT INTO EC_ExpenseDepart (GuidMain, strDepartID) VALUES
  ('{EC5D0001-0000-4000-8000-000000000001}', '01'),
  ('{EC5D0001-0000-4000-8000-000000000001}', '0201'),
  ('{EC5D0001-0000-4000-8000-000000000001}', '0202'),
  ('{EC5D0001-0000-4000-8000-000000000001}', '0301'),
  ('{EC5D0001-0000-4000-8000-000000000001}', '0302'),
  ('{EC5D0001-0000-4000-8000-000000000001}', '04'),
  ('{EC5D0002-0000-4000-8000-000000000002}', '01'),
  ('{EC5D0002-0000-4000-8000-000000000002}', '0301'),
  ('{EC5D0002-0000-4000-8000-000000000002}', '0302'),
  ('{EC5D0003-0000-4000-8000-000000000003}', '01'),
  ('{EC5D0003-0000-4000-8000-000000000003}', '0201'),
  ('{EC5D0003-0000-4000-8000-000000000003}', '0202'),
  ('{EC5D0003-0000-4000-8000-000000000003}', '0301'),
  ('{EC5D0003-0000-4000-8000-000000000003}', '0302'),
  ('{EC5D0003-0000-4000-8000-000000000003}', '04');

INSERT INTO EC_EffectItem (GUIDStand, intEDCode) VALUES
  ('{EC5D0001-0000-4000-8000-000000000001}', 1),
  ('{EC5D0001-0000-4000-8000-000000000001}', 2),
  ('{EC5D0002-0000-4000-8000-000000000002}', 1),
  ('{EC5D0003-0000-4000-8000-000000000003}', 4);

INSERT INTO EC_EISet_Stand (GUIDStand, intEICode, strEICode, strEIName) VALUES
  ('{EC5D0003-0000-4000-8000-000000000003}', 4, '01', '100'),
  ('{EC5D0003-0000-4000-8000-000000000003}', 4, '02', '200'),
  ('{EC5D0003-0000-4000-8000-000000000003}', 4, '03', '500');

INSERT INTO EC_StandSet (GUID, GUIDStand, strField1, strField2, strField3, strField4, dblMoney,
  dblRate) VALUES
  ('{EC5E0101-0000-4000-8000-000000000101}', '{EC5D0001-0000-4000-8000-000000000001}',
    '01', '01', NULL, NULL, 600, 0),
  ('{EC5E0102-0000-4000-8000-000000000102}', '{EC5D0001-0000-4000-8000-000000000001}',
    '01', '02', NULL, NULL, 500, 0),
  ('{EC5E0103-0000-4000-8000-000000000103}', '{EC5D0001-0000-4000-8000-000000000001}',
    '01', '03', NULL, NULL, 400, 0),
  ('{EC5E0104-0000-4000-8000-000000000104}', '{EC5D0001-0000-4000-8000-000000000001}',
    '02', '01', NULL, NULL, 450, 0),
  ('{EC5E0105-0000-4000-8000-000000000105}', '{EC5D0001-0000-4000-8000-000000000001}',
    '02', '02', NULL, NULL, 380, 0),
  ('{EC5E0106-0000-4000-8000-000000000106}', '{EC5D0001-0000-4000-8000-000000000001}',
    '02', '03', NULL, NULL, 300, 0),
  ('{EC5E0107-0000-4000-8000-000000000107}', '{EC5D0001-0000-4000-8000-000000000001}',
    '03', '01', NULL, NULL, 350, 0),
  ('{EC5E0108-0000-4000-8000-000000000108}', '{EC5D0001-0000-4000-8000-000000000001}',
    '03', '02', NULL, NULL, 300, 0),
  ('{EC5E0109-0000-4000-8000-000000000109}', '{EC5D0001-0000-4000-8000-000000000001}',
    '03', '03', NULL, NULL, 250, 0),
  ('{EC5E0201-0000-4000-8000-000000000201}', '{EC5D0002-0000-4000-8000-000000000002}',
    '01', NULL, NULL, NULL, 2000, 0),
  ('{EC5E0202-0000-4000-8000-000000000202}', '{EC5D0002-0000-4000-8000-000000000002}',
    '02', NULL, NULL, NULL, 1000, 0),
  ('{EC5E0203-0000-4000-8000-000000000203}', '{EC5D0002-0000-4000-8000-000000000002}',
    '03', NULL, NULL, NULL, 500, 0),
  ('{EC5E0301-0000-4000-8000-000000000301}', '{EC5D0003-0000-4000-8000-000000000003}',
    NULL, NULL, NULL, '01', 100, 0),
  ('{EC5E0302-0000-4000-8000-000000000302}', '{EC5D0003-0000-4000-8000-000000000003}',
    NULL, NULL, NULL, '02', 150, 50),
  ('{EC5E0303-0000-4000-8000-000000000303}', '{EC5D0003-0000-4000-8000-000000000003}',
    NULL, NULL, NULL, '03', 300, 50);

--   出差补助标准 (item 20103, hard control): by person grade and means of transport, sales and
--     research only; above the base half of the receipt amount beyond it is still allowed.

INSERT INTO EC_Expense (GUID, strStandName, strIOItemCode, strControlType) VALUES
  ('{EC5D0004-0000-4000-8000-000000000004}', '出差补助标准', '20103', '严格控制');

INSERT INTO EC_ExpenseDepart (GuidMain, strDepartID) VALUES
  ('{EC5D0004-0000-4000-8000-000000000004}', '0301'),
  ('{EC5D0004-0000-4000-8000-000000000004}', '0302'),
  ('{EC5D0004-0000-4000-8000-000000000004}', '04');

INSERT INTO EC_EffectItem (GUIDStand, intEDCode) VALUES
  ('{EC5D0004-0000-4000-8000-000000000004}', 1),
  ('{EC5D0004-0000-4000-8000-000000000004}', 3);

INSERT INTO EC_StandSet (GUID, GUIDStand, strField1, strField2, strField3, strField4, dblMoney,
  dblRate) VALUES
  ('{EC5E0401-0000-4000-8000-000000000401}', '{EC5D0004-0000-4000-8000-000000000004}',
    '01', NULL, '01', NULL, 200, 50),
  ('{EC5E0402-0000-4000-8000-000000000402}', '{EC5D0004-0000-4000-8000-000000000004}',
    '02', NULL, '01', NULL, 150, 50),
  ('{EC5E0403-0000-4000-8000-000000000403}', '{EC5D0004-0000-4000-8000-000000000004}',
    '03', NULL, '01', NULL, 120, 50),
  ('{EC5E0404-0000-4000-8000-000000000404}', '{EC5D0004-0000-4000-8000-000000000004}',
    '03', NULL, '02', NULL, 100, 50);

------------------------------------------------------------------------------------------------
-- Ledger voucher settings. Expense side by operation type (and item) and currency; payment
-- side by kind ("付款" payment, "收款" receipt: the zh-CN words of the two payment
-- directions), settlement style, bank and currency.

INSERT INTO EC_PzSet_IO (GUID, strOperatType, strIOItemCode, strCurrency, strSubject,
  blnModiDire) VALUES
  ('{EC9A0001-0000-4000-8000-000000000001}', '301', NULL, '人民币', '122101', 0),
  ('{EC9A0002-0000-4000-8000-000000000002}', '301', NULL, '美元', '122101', 0),
  ('{EC9A0003-0000-4000-8000-000000000003}', '302', NULL, '人民币', '122101', 0),
  ('{EC9A0004-0000-4000-8000-000000000004}', '201', NULL, '人民币', '660202', 1),
  ('{EC9A0005-0000-4000-8000-000000000005}', '201', NULL, '美元', '660202', 1),
  ('{EC9A0006-0000-4000-8000-000000000006}', '202', '202', '人民币', '660102', 1),
  ('{EC9A0007-0000-4000-8000-000000000007}', '202', NULL, '人民币', '660201', 1),
  ('{EC9A0008-0000-4000-8000-000000000008}', '101', NULL, '人民币', '6051', 0);

INSERT INTO EC_PzSet_OP (GUID, strOperatType, strBalanceType, strBankID, strCurrency,
  strSubject) VALUES
  ('{EC9B0001-0000-4000-8000-000000000001}', '付款', '1', NULL, '人民币', '1001'),
  ('{EC9B0002-0000-4000-8000-000000000002}', '付款', '2', '01', '人民币', '100201'),
  ('{EC9B0003-0000-4000-8000-000000000003}', '付款', '2', '02', '人民币', '100202'),
  ('{EC9B0004-0000-4000-8000-000000000004}', '付款', '301', '01', '人民币', '100201'),
  ('{EC9B0005-0000-4000-8000-000000000005}', '付款', '302', '01', '人民币', '100201'),
  ('{EC9B0006-0000-4000-8000-000000000006}', '付款', '301', '01', '美元', '100201'),
  ('{EC9B0007-0000-4000-8000-000000000007}', '收款', '1', NULL, '人民币', '1001'),
  ('{EC9B0008-0000-4000-8000-000000000008}', '收款', '301', '01', '人民币', '100201');

------------------------------------------------------------------------------------------------
-- Ledger vouchers: the receipt, payment and transfer signs beside "记" (open periods are the
-- gl_mend rows above, postable accounts the leaves of the chart), and receipts by cheque and
-- by online transfer on bank "01".

INSERT INTO dsign (csign, isignseq, ctext) VALUES
  ('收', 2, '收款凭证'),
  ('付', 3, '付款凭证'),
  ('转', 4, '转账凭证');

INSERT INTO EC_PzSet_OP (GUID, strOperatType, strBalanceType, strBankID, strCurrency,
  strSubject) VALUES
  ('{EC9B0009-0000-4000-8000-000000000009}', '收款', '2', '01', '人民币', '100201'),
  ('{EC9B000A-0000-4000-8000-00000000000A}', '收款', '302', '01', '人民币', '100201');
