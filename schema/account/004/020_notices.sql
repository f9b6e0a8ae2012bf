-- Work reaching people: notices to users (shown in the pages until read, mailed where the user
-- has an address), webhooks an administrator registers, and one outbox from which mails and
-- webhook events are delivered after the commit that made them.

-- One notice to one user. What it says is made from its kind and values when it is shown or
-- mailed, in the reader's language.
CREATE TABLE EC_Notice (
  iNoticeId int IDENTITY(1,1) NOT NULL,
  cUser_Id varchar(20) NOT NULL,          -- the one told
  cKind varchar(20) NOT NULL,             -- waiting, approved, rejected, paid, overdue, duesoon
  cCardNumber varchar(10) NULL,           -- the voucher's card number ("45" loans, "46"/"47" claims)
  cVouchGUID uniqueidentifier NULL,
  cVouchCode nvarchar(40) NULL,
  cActor nvarchar(40) NULL,               -- who caused it, as people read the name
  cStep nvarchar(60) NULL,                -- the step a voucher waits at
  cRemark nvarchar(255) NULL,             -- a rejection's reason
  mAmount money NULL,
  dDue datetime NULL,                     -- a loan's due date (reminders)
  dCreated datetime NOT NULL DEFAULT (getdate()),
  bRead bit NOT NULL DEFAULT 0,
  CONSTRAINT PK_EC_Notice PRIMARY KEY (iNoticeId)
);
CREATE INDEX IX_EC_Notice_User ON EC_Notice (cUser_Id, bRead, iNoticeId);

-- A URL an administrator registered for events; cEvents lists them separated by commas
-- (submitted, approved, rejected, paid, booked).
CREATE TABLE EC_Webhook (
  iWebhookId int IDENTITY(1,1) NOT NULL,
  cUrl nvarchar(400) NOT NULL,
  cEvents varchar(100) NOT NULL,
  cSecret nvarchar(100) NOT NULL,         -- the key of the HMAC-SHA256 signature
  bActive bit NOT NULL DEFAULT 1,
  cMaker varchar(20) NULL,
  dCreated datetime NOT NULL DEFAULT (getdate()),
  ts rowversion NOT NULL,
  CONSTRAINT PK_EC_Webhook PRIMARY KEY (iWebhookId)
);

-- What is to be delivered: a notice's mail (cChannel 'mail', iNoticeId) or a webhook event
-- (cChannel 'webhook', iWebhookId, cEvent, cPayload). Rows are written in the transaction of
-- the change they tell, so a rolled-back change sends nothing; a sender claims a row for a
-- while (cClaimedBy, dClaimedUntil), so several processes never deliver one row together, and
-- a row claimed by a process that stopped is taken up again when the claim runs out.
CREATE TABLE EC_Outbox (
  iOutboxId int IDENTITY(1,1) NOT NULL,
  cChannel varchar(10) NOT NULL CHECK (cChannel IN ('mail', 'webhook')),
  iNoticeId int NULL,
  iWebhookId int NULL,
  cEvent varchar(30) NULL,
  cPayload ntext NULL,
  iAttempts int NOT NULL DEFAULT 0,
  dNextTry datetime NOT NULL DEFAULT (getdate()),
  cClaimedBy varchar(80) NULL,
  dClaimedUntil datetime NULL,
  iState tinyint NOT NULL DEFAULT 0,      -- 0 to deliver, 1 delivered, 2 given up, 3 nothing to do
  dDone datetime NULL,
  cLastError nvarchar(400) NULL,
  dCreated datetime NOT NULL DEFAULT (getdate()),
  CONSTRAINT PK_EC_Outbox PRIMARY KEY (iOutboxId)
);
CREATE INDEX IX_EC_Outbox_Due ON EC_Outbox (iState, dNextTry);

-- Every attempt to deliver a webhook event, with the answer's status or the failure.
CREATE TABLE EC_WebhookDelivery (
  AutoID int IDENTITY(1,1) NOT NULL,
  iOutboxId int NOT NULL,
  iWebhookId int NOT NULL,
  cEvent varchar(30) NOT NULL,
  iAttempt int NOT NULL,
  iStatus int NULL,                       -- the HTTP status; NULL when no answer came
  cError nvarchar(400) NULL,
  iMillis int NULL,
  dTime datetime NOT NULL DEFAULT (getdate()),
  CONSTRAINT PK_EC_WebhookDelivery PRIMARY KEY (AutoID)
);
CREATE INDEX IX_EC_WebhookDelivery_Hook ON EC_WebhookDelivery (iWebhookId, AutoID);
