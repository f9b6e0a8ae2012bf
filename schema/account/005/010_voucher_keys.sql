-- Lists page through vouchers by AutoID and a voucher page steps from one to the next by it: a
-- page is a range of AutoID, its bounds the first or last AutoIDs of the list, a step the
-- largest below or the smallest above the one shown. On SQLite AutoID is the table's own key;
-- on a database server it is a plain column, so every page and step read the whole table
-- without these.
CREATE UNIQUE INDEX IX_EC_LoanVouch_AutoID ON EC_LoanVouch (AutoID);
CREATE UNIQUE INDEX IX_EC_ExpenVouch_AutoID ON EC_ExpenVouch (AutoID);
