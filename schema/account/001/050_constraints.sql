-- Foreign keys of the expense module, with the server's names: the business classes recognise
-- a refused write by the constraint name in the message. A child row needs its parent; a parent
-- that still has children cannot be deleted, except a standard, which takes its dimensions and
-- value rows with it.

-- EC_OperationType
ALTER TABLE EC_IOItem ADD CONSTRAINT FK_EC_IOItem_EC_OperationType FOREIGN KEY (strTypeCode)
  REFERENCES EC_OperationType (strCode);
ALTER TABLE EC_LoanVouch ADD CONSTRAINT FK_EC_LoanVouch_EC_OperationType FOREIGN KEY (strTypeCode)
  REFERENCES EC_OperationType (strCode);
ALTER TABLE EC_ExpenVouch ADD CONSTRAINT FK_EC_ExpenVouch_EC_OperationType FOREIGN KEY (strTypeCode)
  REFERENCES EC_OperationType (strCode);
ALTER TABLE EC_PzSet_IO ADD CONSTRAINT FK_EC_PzSet_IO_EC_OperationType FOREIGN KEY (strOperatType)
  REFERENCES EC_OperationType (strCode);

-- EC_IOItem
ALTER TABLE EC_Expense ADD CONSTRAINT FK_EC_Expense_EC_IOItem FOREIGN KEY (strIOItemCode)
  REFERENCES EC_IOItem (strCode);

-- EC_LoanVouch
ALTER TABLE EC_LoanVouch_Sub ADD CONSTRAINT FK_EC_LoanVouch_Sub_EC_LoanVouch FOREIGN KEY (MGuid)
  REFERENCES EC_LoanVouch (GUID);

-- EC_LoanVouch_Sub
ALTER TABLE EC_ExpenLoanInfo ADD CONSTRAINT FK_EC_ExpenLoanInfo_EC_LoanVouch_Sub FOREIGN KEY (LoanSubguid)
  REFERENCES EC_LoanVouch_Sub (GUID);

-- EC_ExpenVouch
ALTER TABLE EC_ExpenLoanInfo ADD CONSTRAINT FK_EC_ExpenLoanInfo_EC_ExpenVouch FOREIGN KEY (Expenguid)
  REFERENCES EC_ExpenVouch (GUID);
ALTER TABLE EC_BalanceInfo ADD CONSTRAINT FK_EC_BalanceInfo_EC_ExpenVouch FOREIGN KEY (ExpenGUID)
  REFERENCES EC_ExpenVouch (GUID);
ALTER TABLE EC_ExpenVouch_Sub ADD CONSTRAINT FK_EC_ExpenVouch_Sub_EC_ExpenVouch FOREIGN KEY (MGuid)
  REFERENCES EC_ExpenVouch (GUID);

-- EC_Expense
ALTER TABLE EC_ExpenseDepart ADD CONSTRAINT FK_EC_ExpenseDepart_EC_Expense FOREIGN KEY (GuidMain)
  REFERENCES EC_Expense (GUID);
ALTER TABLE EC_EISet_Stand ADD CONSTRAINT FK_EC_EISet_Stand_EC_Expense FOREIGN KEY (GUIDStand)
  REFERENCES EC_Expense (GUID);
ALTER TABLE EC_EffectItem ADD CONSTRAINT FK_EC_EffectItem_EC_Expense FOREIGN KEY (GUIDStand)
  REFERENCES EC_Expense (GUID)
  ON DELETE CASCADE;
ALTER TABLE EC_StandSet ADD CONSTRAINT FK_EC_StandSet_EC_Expense FOREIGN KEY (GUIDStand)
  REFERENCES EC_Expense (GUID)
  ON DELETE CASCADE;
