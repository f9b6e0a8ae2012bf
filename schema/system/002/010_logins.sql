-- Row versions on users and roles, which the administration edits, and the failed password
-- checks every process that checks passwords counts in.

ALTER TABLE UA_User ADD ts rowversion NOT NULL;
ALTER TABLE UA_Group ADD ts rowversion NOT NULL;

-- Failed password checks, counted per user name and per client (the key is the SHA-256 of
-- "user <name>" or "client <address>"), with the lock they earned. Times are milliseconds since
-- 1970-01-01 UTC.
CREATE TABLE UA_LoginFailure (
  cKey varchar(64) NOT NULL,
  iFailures int NOT NULL DEFAULT 0,
  iLastFailure bigint NOT NULL DEFAULT 0,
  iLockedUntil bigint NOT NULL DEFAULT 0,
  CONSTRAINT PK_UA_LoginFailure PRIMARY KEY (cKey)
);
CREATE INDEX IX_UA_LoginFailure_Last ON UA_LoginFailure (iLastFailure);
