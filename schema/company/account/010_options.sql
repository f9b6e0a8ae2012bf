-- A company set up from nothing (`rembiz init` without --demo): the module's options with their
-- defaults. 1xx are maintained by the options class; 2xx are the merge options of ledger voucher
-- generation (lines merge by account: iokm_km and opkm_km on, the others off); 301 is the first
-- date vouchers are generated for (the fiscal year's start); AA 20 switches the ERP's period
-- exchange rates off; AA 21 gives the chart of accounts its code levels. Budget control (101) "false" puts
-- the claims under budget control; submission on save (105) is off; items are coded "1222"
-- (the roots "1" and "2", then two characters per level), districts "222".

INSERT INTO accinformation (cSysID, cID, cName, cType, cValue, cDefault) VALUES
  ('EC', '101', 'blnBudCtrl', 'bit', 'false', 'false'),
  ('EC', '102', 'intExpireDays', 'int', '30', '30'),
  ('EC', '103', 'intAlertDays', 'int', '7', '7'),
  ('EC', '104', 'blnAutoAlert', 'bit', 'false', 'false'),
  ('EC', '105', 'blnSubmAudit', 'bit', 'false', 'false'),
  ('EC', '106', 'strIOLevel', 'varchar', '1222', '1222'),
  ('EC', '107', 'strZeroLevel', 'varchar', '222', '222'),
  ('EC', '108', 'blnModiStand', 'bit', 'false', 'false'),
  ('EC', '109', 'blnModiFZHS', 'bit', 'true', 'true'),
  ('EC', '110', 'blnInputBud', 'bit', 'false', 'false'),
  ('EC', '201', 'iokm_zy', 'bit', 'false', 'false'),
  ('EC', '202', 'iokm_km', 'bit', 'true', 'true'),
  ('EC', '203', 'iokm_fzx', 'bit', 'false', 'false'),
  ('EC', '204', 'iokm_djrq', 'bit', 'false', 'false'),
  ('EC', '205', 'iokm_zdy', 'bit', 'false', 'false'),
  ('EC', '206', 'opkm_zy', 'bit', 'false', 'false'),
  ('EC', '207', 'opkm_km', 'bit', 'true', 'true'),
  ('EC', '208', 'opkm_fzx', 'bit', 'false', 'false'),
  ('EC', '209', 'opkm_djrq', 'bit', 'false', 'false'),
  ('EC', '210', 'opkm_jsfs', 'bit', 'false', 'false'),
  ('EC', '211', 'opkm_pjbh', 'bit', 'false', 'false'),
  ('EC', '212', 'opkm_zdy', 'bit', 'false', 'false'),
  ('EC', '301', 'dECPeriodDate', 'datetime', '{{YEAR}}-01-01', '{{YEAR}}-01-01'),
  ('AA', '20', 'iXchgRateStl', 'bit', 'FALSE', 'FALSE'),
  ('AA', '21', 'strCodeLevel', 'varchar', '4222', '4222');
