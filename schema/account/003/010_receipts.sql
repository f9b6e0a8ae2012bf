-- Receipts: files kept with a loan or a claim (with a claim, on one of its rows), in the account
-- database so that its backup holds them and every service process sees the same files.

-- One receipt: which voucher and row it evidences, what the file is (its type decided from its
-- bytes), who added it and when, and what reading it proposed for the row.
CREATE TABLE EC_Receipt (
  GUID uniqueidentifier NOT NULL DEFAULT (newid()),
  cVouchGUID uniqueidentifier NOT NULL,  -- EC_LoanVouch.GUID or EC_ExpenVouch.GUID
  iVouchKind tinyint NOT NULL,           -- 1 a loan, 2 a claim
  iRowNo int NOT NULL DEFAULT 0,         -- the claim row, from 1 in the claim's order; 0 the voucher
  cFileName nvarchar(200) NOT NULL,      -- as uploaded, shown only
  cMimeType varchar(60) NOT NULL,
  iSize int NOT NULL,
  cSha256 varchar(64) NOT NULL,
  cUploader varchar(20) NOT NULL,
  dUploaded datetime NOT NULL DEFAULT (getdate()),
  cThumbType varchar(20) NULL,           -- the thumbnail's type; NULL until it is made
  iReadState tinyint NOT NULL DEFAULT 0, -- reading: 0 waiting, 1 read, 2 found nothing, 3 out of time, 4 not readable
  cReadAmount varchar(30) NULL,
  cReadDate varchar(10) NULL,
  cReadInvoice nvarchar(40) NULL,
  ts rowversion NOT NULL,
  CONSTRAINT PK_EC_Receipt PRIMARY KEY (GUID)
);
CREATE INDEX IX_EC_Receipt_Vouch ON EC_Receipt (cVouchGUID, iRowNo);
CREATE INDEX IX_EC_Receipt_Sha ON EC_Receipt (cSha256);

-- The bytes, apart from the rows that lists read: the file and its thumbnail.
CREATE TABLE EC_ReceiptFile (
  GUID uniqueidentifier NOT NULL,
  bContent image NULL,
  bThumb image NULL,
  CONSTRAINT PK_EC_ReceiptFile PRIMARY KEY (GUID)
);
ALTER TABLE EC_ReceiptFile ADD CONSTRAINT FK_EC_ReceiptFile_EC_Receipt
  FOREIGN KEY (GUID) REFERENCES EC_Receipt (GUID) ON DELETE CASCADE;

-- A claim row of an item needs a receipt when its amount is above this (NULL: never).
ALTER TABLE EC_IOItem ADD dblReceiptAbove money NULL;

-- The limits of receipts: megabytes per file and files per voucher.
INSERT INTO accinformation (cSysID, cID, cName, cType, cValue, cDefault)
SELECT 'EC', '111', 'intReceiptMaxMB', 'int', '10', '10'
WHERE NOT EXISTS (SELECT 1 FROM accinformation WHERE cSysID = 'EC' AND cName = 'intReceiptMaxMB');
INSERT INTO accinformation (cSysID, cID, cName, cType, cValue, cDefault)
SELECT 'EC', '112', 'intReceiptMaxFiles', 'int', '20', '20'
WHERE NOT EXISTS (SELECT 1 FROM accinformation WHERE cSysID = 'EC' AND cName = 'intReceiptMaxFiles');
