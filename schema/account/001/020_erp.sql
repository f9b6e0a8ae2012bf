-- The host ERP's tables that the expense module reads or writes, in the form the module needs.
-- The ERP owns them; the module only keeps departments, persons, currencies, accounts and the
-- ledger in step with its own vouchers.

------------------------------------------------------------------------------------------------
-- Account options, per system: "EC" for this module, "AA" for the ERP's common options.

CREATE TABLE accinformation (
  cSysID varchar(10) NOT NULL,
  cID varchar(10) NULL,
  cName varchar(50) NOT NULL,
  cType varchar(20) NULL,
  cValue nvarchar(200) NULL,
  cDefault nvarchar(200) NULL,
  CONSTRAINT PK_accinformation PRIMARY KEY (cSysID, cName)
);

------------------------------------------------------------------------------------------------
-- Organisation: departments (a coded tree; bDepEnd marks the last level) and persons.

CREATE TABLE Department (
  cDepCode varchar(12) NOT NULL,
  cDepName nvarchar(60) NOT NULL,
  iDepGrade tinyint NOT NULL DEFAULT 1,
  bDepEnd bit NOT NULL DEFAULT 1,
  CONSTRAINT PK_Department PRIMARY KEY (cDepCode)
);

CREATE TABLE Person (
  cPersonCode varchar(20) NOT NULL,
  cPersonName nvarchar(40) NOT NULL,
  cDepCode varchar(12) NULL,
  cPersonEmail nvarchar(100) NULL,
  cPersonPhone nvarchar(100) NULL,
  CONSTRAINT PK_Person PRIMARY KEY (cPersonCode)
);
CREATE INDEX idx_Person_cDepCode ON Person (cDepCode);

------------------------------------------------------------------------------------------------
-- Cost items: the classes in fitem, the items of class c in the table "fitemss" + c; the class
-- "ch" stands for the inventory. One item table per class that the account uses.

CREATE TABLE fitem (
  citem_class varchar(2) NOT NULL,
  citem_name nvarchar(20) NOT NULL,
  CONSTRAINT PK_fitem PRIMARY KEY (citem_class)
);

CREATE TABLE fitemss00 (
  citemcode varchar(20) NOT NULL,
  citemname nvarchar(60) NOT NULL,
  CONSTRAINT PK_fitemss00 PRIMARY KEY (citemcode)
);

CREATE TABLE inventory (
  cInvCode varchar(20) NOT NULL,
  cInvName nvarchar(60) NOT NULL,
  CONSTRAINT PK_inventory PRIMARY KEY (cInvCode)
);

------------------------------------------------------------------------------------------------
-- Currencies. iotherused -1 marks the local currency; bcal 1 means local = foreign * rate,
-- otherwise local = foreign / rate. exch holds daily rates (itype 1, cdate "yyyy.mm.dd") and
-- period rates (itype 2, cdate = the period number).

CREATE TABLE foreigncurrency (
  cexch_name nvarchar(14) NOT NULL,
  cexch_code varchar(8) NULL,
  bcal bit NOT NULL DEFAULT 1,
  idec tinyint NOT NULL DEFAULT 2,
  nerror float NULL,
  iotherused int NULL DEFAULT 0,
  CONSTRAINT PK_foreigncurrency PRIMARY KEY (cexch_name)
);

CREATE TABLE exch (
  cexch_name nvarchar(14) NOT NULL,
  itype tinyint NOT NULL,
  iperiod tinyint NOT NULL,
  cdate varchar(10) NOT NULL,
  nflat float NULL,
  CONSTRAINT PK_exch PRIMARY KEY (cexch_name, itype, iperiod, cdate)
);

------------------------------------------------------------------------------------------------
-- Settlement styles (a coded tree; bSSEnd marks the last level, bSSFlag a cheque style) and the
-- company's bank accounts.

CREATE TABLE SettleStyle (
  cSSCode varchar(12) NOT NULL,
  cSSName nvarchar(40) NOT NULL,
  iSSGrade tinyint NOT NULL DEFAULT 1,
  bSSEnd bit NOT NULL DEFAULT 1,
  bSSFlag bit NOT NULL DEFAULT 0,
  CONSTRAINT PK_SettleStyle PRIMARY KEY (cSSCode)
);

CREATE TABLE Bank (
  cBCode varchar(12) NOT NULL,
  cBName nvarchar(60) NOT NULL,
  cBAccount nvarchar(50) NULL,
  CONSTRAINT PK_Bank PRIMARY KEY (cBCode)
);

------------------------------------------------------------------------------------------------
-- Chart of accounts. be = 1 for accounts that take postings; cass_item names the cost item
-- class an account is kept by; the b… flags tell which auxiliary items and user-defined fields
-- an account carries.

CREATE TABLE code (
  ccode varchar(15) NOT NULL,
  ccode_name nvarchar(60) NOT NULL,
  igrade tinyint NOT NULL DEFAULT 1,
  be bit NOT NULL DEFAULT 1,
  cass_item varchar(2) NULL,
  bperson bit NOT NULL DEFAULT 0,
  bdept bit NOT NULL DEFAULT 0,
  bcus bit NOT NULL DEFAULT 0,
  bsup bit NOT NULL DEFAULT 0,
  cmeasure nvarchar(10) NULL,
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
  bcDefine16 bit NOT NULL DEFAULT 0,
  CONSTRAINT PK_code PRIMARY KEY (ccode)
);

------------------------------------------------------------------------------------------------
-- General ledger: voucher lines, voucher signs, closed periods, marked vouchers and the lock
-- that outside systems take on a voucher they are writing or cancelling.

CREATE TABLE GL_accvouch (
  i_id int IDENTITY(1,1) NOT NULL,
  iyear smallint NULL,
  iperiod tinyint NOT NULL,
  csign nvarchar(8) NOT NULL,
  isignseq tinyint NULL,
  ino_id smallint NOT NULL,
  inid smallint NULL,
  dbill_date datetime NULL,
  idoc smallint NULL,
  cbill nvarchar(20) NULL,
  ccheck nvarchar(20) NULL,
  cbook nvarchar(20) NULL,
  ibook tinyint NULL DEFAULT 0,
  ccashier nvarchar(20) NULL,
  iflag tinyint NULL,
  ctext1 nvarchar(100) NULL,
  ctext2 nvarchar(100) NULL,
  cdigest nvarchar(240) NULL,
  ccode varchar(15) NULL,
  cexch_name nvarchar(14) NULL,
  md money NULL DEFAULT 0,
  mc money NULL DEFAULT 0,
  md_f money NULL DEFAULT 0,
  mc_f money NULL DEFAULT 0,
  nfrat float NULL,
  nd_s float NULL,
  nc_s float NULL,
  csettle varchar(12) NULL,
  cn_id nvarchar(30) NULL,
  dt_date datetime NULL,
  cdept_id varchar(12) NULL,
  cperson_id varchar(20) NULL,
  ccus_id varchar(20) NULL,
  csup_id varchar(20) NULL,
  citem_id varchar(20) NULL,
  citem_class varchar(2) NULL,
  cname nvarchar(40) NULL,
  ccode_equal nvarchar(250) NULL,
  iBG_overflag tinyint NULL,
  ssxznum nvarchar(30) NULL,
  coutaccset nvarchar(30) NULL,
  ioutyear smallint NULL,
  coutsysname nvarchar(50) NULL,
  coutsysver nvarchar(50) NULL,
  doutbilldate datetime NULL,
  ioutperiod tinyint NULL,
  coutsign nvarchar(80) NULL,
  coutno_id nvarchar(30) NULL,
  doutdate datetime NULL,
  coutbillsign nvarchar(80) NULL,
  coutid nvarchar(50) NULL,
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
  cDefine16 float NULL
);
CREATE INDEX idx_GL_accvouch_voucher ON GL_accvouch (iperiod, csign, ino_id);
CREATE INDEX idx_GL_accvouch_coutno_id ON GL_accvouch (coutno_id);
CREATE INDEX idx_GL_accvouch_coutid ON GL_accvouch (coutid);

CREATE TABLE dsign (
  csign nvarchar(8) NOT NULL,
  isignseq tinyint NOT NULL,
  ctext nvarchar(20) NULL,
  CONSTRAINT PK_dsign PRIMARY KEY (csign)
);

CREATE TABLE gl_mend (
  iperiod tinyint NOT NULL,
  bflag bit NOT NULL DEFAULT 0,
  CONSTRAINT PK_gl_mend PRIMARY KEY (iperiod)
);

CREATE TABLE GL_LTDATA1 (
  iperiod tinyint NOT NULL,
  isignseq tinyint NOT NULL,
  ino_id smallint NOT NULL,
  CONSTRAINT PK_GL_LTDATA1 PRIMARY KEY (iperiod, isignseq, ino_id)
);

CREATE TABLE gl_mvocontrol (
  coutsysname nvarchar(50) NOT NULL,
  coutsign nvarchar(80) NOT NULL,
  coutno_id nvarchar(30) NOT NULL,
  cauth nvarchar(50) NULL,
  cuser nvarchar(20) NULL,
  cmachine nvarchar(50) NULL,
  CONSTRAINT PK_gl_mvocontrol PRIMARY KEY (coutsysname, coutsign, coutno_id)
);

------------------------------------------------------------------------------------------------
-- Business partners and accounting units, shown by the ledger voucher and reference pages.

CREATE TABLE Customer (
  cCusCode varchar(20) NOT NULL,
  cCusName nvarchar(98) NOT NULL,
  CONSTRAINT PK_Customer PRIMARY KEY (cCusCode)
);

CREATE TABLE Vendor (
  cVenCode varchar(20) NOT NULL,
  cVenName nvarchar(98) NOT NULL,
  CONSTRAINT PK_Vendor PRIMARY KEY (cVenCode)
);

CREATE TABLE fd_accunit (
  iid int NOT NULL,
  cUnitCode varchar(20) NOT NULL,
  cUnitName nvarchar(60) NOT NULL,
  cMark nvarchar(60) NULL,
  iType int NULL,
  accunit_id int NULL,
  CONSTRAINT PK_fd_accunit PRIMARY KEY (iid)
);

-- Budget items; their dimensions and amounts belong to the budget service (Host_ tables).
CREATE TABLE BG_Item (
  cItemCode varchar(30) NOT NULL,
  cItemName nvarchar(60) NOT NULL,
  CONSTRAINT PK_BG_Item PRIMARY KEY (cItemCode)
);

------------------------------------------------------------------------------------------------
-- Voucher templates per card number (vt_templatemode 0 display, 1 print), the cards themselves
-- (DEF_ID: default template) and the print layouts the pages store.

CREATE TABLE VoucherTemplates (
  vt_id int NOT NULL,
  vt_name nvarchar(60) NOT NULL,
  vt_cardnumber varchar(30) NOT NULL,
  vt_templatemode int NOT NULL DEFAULT 0,
  CONSTRAINT PK_VoucherTemplates PRIMARY KEY (vt_id)
);

CREATE TABLE Vouchers (
  CardNumber varchar(30) NOT NULL,
  CardName nvarchar(60) NULL,
  DEF_ID int NULL,
  CONSTRAINT PK_Vouchers PRIMARY KEY (CardNumber)
);

CREATE TABLE prn_format (
  moduleid varchar(100) NOT NULL,
  formatxml ntext NULL,
  CONSTRAINT PK_prn_format PRIMARY KEY (moduleid)
);

-- Common digests of ledger voucher lines, offered by the digest reference.
CREATE TABLE gl_bdigest (
  cCode varchar(20) NOT NULL,
  cDigest nvarchar(120) NOT NULL,
  CONSTRAINT PK_gl_bdigest PRIMARY KEY (cCode)
);

