-- The host ERP's tables that the expense module reads or writes, in the form the module needs.
-- The ERP owns them; the module only keeps departments, persons, currencies, accounts and the
-- ledger in step with its own vouchers.

------------------------------------------------------------------------------------------------
-- Account options, per system: "EC" for this module, "AA" for the ERP's common options.

CREATE TABLE accinformation (
  cSysID varchar(10) COLLATE NOCASE NOT NULL,
  cID varchar(10) COLLATE NOCASE NULL,
  cName varchar(50) COLLATE NOCASE NOT NULL,
  cType varchar(20) COLLATE NOCASE NULL,
  cValue nvarchar(200) COLLATE NOCASE NULL,
  cDefault nvarchar(200) COLLATE NOCASE NULL
);
CREATE UNIQUE INDEX PK_accinformation ON accinformation (cSysID, cName);

------------------------------------------------------------------------------------------------
-- Organisation: departments (a coded tree; bDepEnd marks the last level) and persons.

CREATE TABLE Department (
  cDepCode varchar(12) COLLATE NOCASE NOT NULL,
  cDepName nvarchar(60) COLLATE NOCASE NOT NULL,
  iDepGrade tinyint NOT NULL DEFAULT 1,
  bDepEnd bit NOT NULL DEFAULT 1
);
CREATE UNIQUE INDEX PK_Department ON Department (cDepCode);

CREATE TABLE Person (
  cPersonCode varchar(20) COLLATE NOCASE NOT NULL,
  cPersonName nvarchar(40) COLLATE NOCASE NOT NULL,
  cDepCode varchar(12) COLLATE NOCASE NULL,
  cPersonEmail nvarchar(100) COLLATE NOCASE NULL,
  cPersonPhone nvarchar(100) COLLATE NOCASE NULL
);
CREATE UNIQUE INDEX PK_Person ON Person (cPersonCode);
CREATE INDEX idx_Person_cDepCode ON Person (cDepCode);

------------------------------------------------------------------------------------------------
-- Cost items: the classes in fitem, the items of class c in the table "fitemss" + c; the class
-- "ch" stands for the inventory. One item table per class that the account uses.

CREATE TABLE fitem (
  citem_class varchar(2) COLLATE NOCASE NOT NULL,
  citem_name nvarchar(20) COLLATE NOCASE NOT NULL
);
CREATE UNIQUE INDEX PK_fitem ON fitem (citem_class);

CREATE TABLE fitemss00 (
  citemcode varchar(20) COLLATE NOCASE NOT NULL,
  citemname nvarchar(60) COLLATE NOCASE NOT NULL
);
CREATE UNIQUE INDEX PK_fitemss00 ON fitemss00 (citemcode);

CREATE TABLE inventory (
  cInvCode varchar(20) COLLATE NOCASE NOT NULL,
  cInvName nvarchar(60) COLLATE NOCASE NOT NULL
);
CREATE UNIQUE INDEX PK_inventory ON inventory (cInvCode);

------------------------------------------------------------------------------------------------
-- Currencies. iotherused -1 marks the local currency; bcal 1 means local = foreign * rate,
-- otherwise local = foreign / rate. exch holds daily rates (itype 1, cdate "yyyy.mm.dd") and
-- period rates (itype 2, cdate = the period number).

CREATE TABLE foreigncurrency (
  cexch_name nvarchar(14) COLLATE NOCASE NOT NULL,
  cexch_code varchar(8) COLLATE NOCASE NULL,
  bcal bit NOT NULL DEFAULT 1,
  idec tinyint NOT NULL DEFAULT 2,
  nerror float NULL,
  iotherused int NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_foreigncurrency ON foreigncurrency (cexch_name);

CREATE TABLE exch (
  cexch_name nvarchar(14) COLLATE NOCASE NOT NULL,
  itype tinyint NOT NULL,
  iperiod tinyint NOT NULL,
  cdate varchar(10) COLLATE NOCASE NOT NULL,
  nflat float NULL
);
CREATE UNIQUE INDEX PK_exch ON exch (cexch_name, itype, iperiod, cdate);

------------------------------------------------------------------------------------------------
-- Settlement styles (a coded tree; bSSEnd marks the last level, bSSFlag a cheque style) and the
-- company's bank accounts.

CREATE TABLE SettleStyle (
  cSSCode varchar(12) COLLATE NOCASE NOT NULL,
  cSSName nvarchar(40) COLLATE NOCASE NOT NULL,
  iSSGrade tinyint NOT NULL DEFAULT 1,
  bSSEnd bit NOT NULL DEFAULT 1,
  bSSFlag bit NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_SettleStyle ON SettleStyle (cSSCode);

CREATE TABLE Bank (
  cBCode varchar(12) COLLATE NOCASE NOT NULL,
  cBName nvarchar(60) COLLATE NOCASE NOT NULL,
  cBAccount nvarchar(50) COLLATE NOCASE NULL
);
CREATE UNIQUE INDEX PK_Bank ON Bank (cBCode);

------------------------------------------------------------------------------------------------
-- Chart of accounts. be = 1 for accounts that take postings; cass_item names the cost item
-- class an account is kept by; the b… flags tell which auxiliary items and user-defined fields
-- an account carries.

CREATE TABLE code (
  ccode varchar(15) COLLATE NOCASE NOT NULL,
  ccode_name nvarchar(60) COLLATE NOCASE NOT NULL,
  igrade tinyint NOT NULL DEFAULT 1,
  be bit NOT NULL DEFAULT 1,
  cass_item varchar(2) COLLATE NOCASE NULL,
  bperson bit NOT NULL DEFAULT 0,
  bdept bit NOT NULL DEFAULT 0,
  bcus bit NOT NULL DEFAULT 0,
  bsup bit NOT NULL DEFAULT 0,
  cmeasure nvarchar(10) COLLATE NOCASE NULL,
  bcDefine1 bit NOT NULL DEFAULT 0,
  bcDefine2 bit NOT NULL DEFAULT 0,
  bcDefine3 bit NOT NULL DEFAULT 0,
  bcDefine4 bit NOT NULL DEFAULT 0,
  bcDefine5 bit NOT NULL DEFAULT 0,
  bcDefine6 bit NOT NULL DEFAULT 0,
  bcDefine7 bit NOT NULL DEFAULT 0,
  bcDefine8 bit NOT NULL DEFAULT 0,
  bcDefine9 bit NOT NULL DEFAULT 0,
  bcDefine10 bit NOT NULL DEFAULT 0,
  bcDefine11 bit NOT NULL DEFAULT 0,
  bcDefine12 bit NOT NULL DEFAULT 0,
  bcDefine13 bit NOT NULL DEFAULT 0,
  bcDefine14 bit NOT NULL DEFAULT 0,
  bcDefine15 bit NOT NULL DEFAULT 0,
  bcDefine16 bit NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_code ON code (ccode);

------------------------------------------------------------------------------------------------
-- General ledger: voucher lines, voucher signs, closed periods, marked vouchers and the lock
-- that outside systems take on a voucher they are writing or cancelling.

CREATE TABLE GL_accvouch (
  i_id INTEGER PRIMARY KEY AUTOINCREMENT,
  iyear smallint NULL,
  iperiod tinyint NOT NULL,
  csign nvarchar(8) COLLATE NOCASE NOT NULL,
  isignseq tinyint NULL,
  ino_id smallint NOT NULL,
  inid smallint NULL,
  dbill_date datetime NULL,
  idoc smallint NULL,
  cbill nvarchar(20) COLLATE NOCASE NULL,
  ccheck nvarchar(20) COLLATE NOCASE NULL,
  cbook nvarchar(20) COLLATE NOCASE NULL,
  ibook tinyint NULL DEFAULT 0,
  ccashier nvarchar(20) COLLATE NOCASE NULL,
  iflag tinyint NULL,
  ctext1 nvarchar(100) COLLATE NOCASE NULL,
  ctext2 nvarchar(100) COLLATE NOCASE NULL,
  cdigest nvarchar(240) COLLATE NOCASE NULL,
  ccode varchar(15) COLLATE NOCASE NULL,
  cexch_name nvarchar(14) COLLATE NOCASE NULL,
  md money NULL DEFAULT 0,
  mc money NULL DEFAULT 0,
  md_f money NULL DEFAULT 0,
  mc_f money NULL DEFAULT 0,
  nfrat float NULL,
  nd_s float NULL,
  nc_s float NULL,
  csettle varchar(12) COLLATE NOCASE NULL,
  cn_id nvarchar(30) COLLATE NOCASE NULL,
  dt_date datetime NULL,
  cdept_id varchar(12) COLLATE NOCASE NULL,
  cperson_id varchar(20) COLLATE NOCASE NULL,
  ccus_id varchar(20) COLLATE NOCASE NULL,
  csup_id varchar(20) COLLATE NOCASE NULL,
  citem_id varchar(20) COLLATE NOCASE NULL,
  citem_class varchar(2) COLLATE NOCASE NULL,
  cname nvarchar(40) COLLATE NOCASE NULL,
  ccode_equal nvarchar(250) COLLATE NOCASE NULL,
  iBG_overflag tinyint NULL,
  ssxznum nvarchar(30) COLLATE NOCASE NULL,
  coutaccset nvarchar(30) COLLATE NOCASE NULL,
  ioutyear smallint NULL,
  coutsysname nvarchar(50) COLLATE NOCASE NULL,
  coutsysver nvarchar(50) COLLATE NOCASE NULL,
  doutbilldate datetime NULL,
  ioutperiod tinyint NULL,
  coutsign nvarchar(80) COLLATE NOCASE NULL,
  coutno_id nvarchar(30) COLLATE NOCASE NULL,
  doutdate datetime NULL,
  coutbillsign nvarchar(80) COLLATE NOCASE NULL,
  coutid nvarchar(50) COLLATE NOCASE NULL,
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
  cDefine16 float NULL
);
CREATE INDEX idx_GL_accvouch_voucher ON GL_accvouch (iperiod, csign, ino_id);
CREATE INDEX idx_GL_accvouch_coutno_id ON GL_accvouch (coutno_id);
CREATE INDEX idx_GL_accvouch_coutid ON GL_accvouch (coutid);

CREATE TABLE dsign (
  csign nvarchar(8) COLLATE NOCASE NOT NULL,
  isignseq tinyint NOT NULL,
  ctext nvarchar(20) COLLATE NOCASE NULL
);
CREATE UNIQUE INDEX PK_dsign ON dsign (csign);

CREATE TABLE gl_mend (
  iperiod tinyint NOT NULL,
  bflag bit NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_gl_mend ON gl_mend (iperiod);

CREATE TABLE GL_LTDATA1 (
  iperiod tinyint NOT NULL,
  isignseq tinyint NOT NULL,
  ino_id smallint NOT NULL
);
CREATE UNIQUE INDEX PK_GL_LTDATA1 ON GL_LTDATA1 (iperiod, isignseq, ino_id);

CREATE TABLE gl_mvocontrol (
  coutsysname nvarchar(50) COLLATE NOCASE NOT NULL,
  coutsign nvarchar(80) COLLATE NOCASE NOT NULL,
  coutno_id nvarchar(30) COLLATE NOCASE NOT NULL,
  cauth nvarchar(50) COLLATE NOCASE NULL,
  cuser nvarchar(20) COLLATE NOCASE NULL,
  cmachine nvarchar(50) COLLATE NOCASE NULL
);
CREATE UNIQUE INDEX PK_gl_mvocontrol ON gl_mvocontrol (coutsysname, coutsign, coutno_id);

------------------------------------------------------------------------------------------------
-- Business partners and accounting units, shown by the ledger voucher and reference pages.

CREATE TABLE Customer (
  cCusCode varchar(20) COLLATE NOCASE NOT NULL,
  cCusName nvarchar(98) COLLATE NOCASE NOT NULL
);
CREATE UNIQUE INDEX PK_Customer ON Customer (cCusCode);

CREATE TABLE Vendor (
  cVenCode varchar(20) COLLATE NOCASE NOT NULL,
  cVenName nvarchar(98) COLLATE NOCASE NOT NULL
);
CREATE UNIQUE INDEX PK_Vendor ON Vendor (cVenCode);

CREATE TABLE fd_accunit (
  iid int NOT NULL,
  cUnitCode varchar(20) COLLATE NOCASE NOT NULL,
  cUnitName nvarchar(60) COLLATE NOCASE NOT NULL,
  cMark nvarchar(60) COLLATE NOCASE NULL,
  iType int NULL,
  accunit_id int NULL
);
CREATE UNIQUE INDEX PK_fd_accunit ON fd_accunit (iid);

-- Budget items; their dimensions and amounts belong to the budget service (Host_ tables).
CREATE TABLE BG_Item (
  cItemCode varchar(30) COLLATE NOCASE NOT NULL,
  cItemName nvarchar(60) COLLATE NOCASE NOT NULL
);
CREATE UNIQUE INDEX PK_BG_Item ON BG_Item (cItemCode);

------------------------------------------------------------------------------------------------
-- Voucher templates per card number (vt_templatemode 0 display, 1 print), the cards themselves
-- (DEF_ID: default template) and the print layouts the pages store.

CREATE TABLE VoucherTemplates (
  vt_id int NOT NULL,
  vt_name nvarchar(60) COLLATE NOCASE NOT NULL,
  vt_cardnumber varchar(30) COLLATE NOCASE NOT NULL,
  vt_templatemode int NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX PK_VoucherTemplates ON VoucherTemplates (vt_id);

CREATE TABLE Vouchers (
  CardNumber varchar(30) COLLATE NOCASE NOT NULL,
  CardName nvarchar(60) COLLATE NOCASE NULL,
  DEF_ID int NULL
);
CREATE UNIQUE INDEX PK_Vouchers ON Vouchers (CardNumber);

CREATE TABLE prn_format (
  moduleid varchar(100) COLLATE NOCASE NOT NULL,
  formatxml ntext COLLATE NOCASE NULL
);
CREATE UNIQUE INDEX PK_prn_format ON prn_format (moduleid);

-- Common digests of ledger voucher lines, offered by the digest reference.
CREATE TABLE gl_bdigest (
  cCode varchar(20) COLLATE NOCASE NOT NULL,
  cDigest nvarchar(120) COLLATE NOCASE NOT NULL
);
CREATE UNIQUE INDEX PK_gl_bdigest ON gl_bdigest (cCode);
