-- The history of each loan voucher and claim: one row for every change, written in the
-- transaction of the change, never changed or deleted afterwards (the trigger refuses both, so
-- no statement of the program or of anyone else can rewrite what happened).
CREATE TABLE EC_VoucherHistory (
  AutoID int IDENTITY(1,1) NOT NULL,
  cCardNumber varchar(10) NOT NULL,       -- "45" loans, "46"/"47" claims
  cVouchGUID uniqueidentifier NOT NULL,
  cVouchCode nvarchar(40) NULL,           -- the voucher's number when it happened
  cEvent varchar(20) NOT NULL,            -- saved, changed, deleted, submitted, withdrawn, passed,
                                          -- approved, rejected, takenback, writeoff, settlement,
                                          -- paid, paysent, payback, confirmed, booked, unbooked
  cUser_Id varchar(20) NULL,              -- who did it
  cUser_Name nvarchar(40) NULL,
  cForUser_Id varchar(20) NULL,           -- on whose behalf (an approval by a substitute)
  cForUser_Name nvarchar(40) NULL,
  cRemark nvarchar(255) NULL,             -- a rejection's reason, an approver's opinion
  cChanges ntext NULL,                    -- JSON: what changed, old and new values
  dTime datetime NOT NULL DEFAULT (getdate()),
  CONSTRAINT PK_EC_VoucherHistory PRIMARY KEY (AutoID)
);
CREATE INDEX IX_EC_VoucherHistory_Vouch ON EC_VoucherHistory (cVouchGUID, AutoID);
CREATE TRIGGER TR_EC_VoucherHistory_Keep ON EC_VoucherHistory FOR UPDATE, DELETE AS RAISERROR(N'The history of a voucher is never changed or deleted (EC_VoucherHistory).', 16, 1);
