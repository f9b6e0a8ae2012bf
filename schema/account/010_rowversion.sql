-- Row versions. Every table with a ts column takes a new, larger value from this counter on each
-- insert and update (two triggers per table, created with the table), so that "Cast(ts As money)"
-- compares as the server's rowversion does.

CREATE TABLE Host_RowVersion (id INTEGER PRIMARY KEY CHECK (id = 1), value INTEGER NOT NULL);
INSERT INTO Host_RowVersion VALUES (1, 0);
