-- Foreign keys of the expense module, as triggers that raise the server's constraint messages
-- (the business classes recognise a failure by the constraint name in the message). A parent
-- row that still has children cannot be deleted; a child row needs its parent. Deleting a
-- standard takes its dimensions and value rows with it.

------------------------------------------------------------------------------------------------
-- EC_OperationType

CREATE TRIGGER trg_EC_OperationType_fk_del BEFORE DELETE ON EC_OperationType BEGIN
  SELECT RAISE(ABORT,
    'The DELETE statement conflicted with the REFERENCE constraint "FK_EC_IOItem_EC_OperationType". The conflict occurred in table "dbo.EC_IOItem", column ''strTypeCode''.')
  WHERE EXISTS (SELECT 1 FROM EC_IOItem WHERE strTypeCode = OLD.strCode);
  SELECT RAISE(ABORT,
    'The DELETE statement conflicted with the REFERENCE constraint "FK_EC_LoanVouch_EC_OperationType". The conflict occurred in table "dbo.EC_LoanVouch", column ''strTypeCode''.')
  WHERE EXISTS (SELECT 1 FROM EC_LoanVouch WHERE strTypeCode = OLD.strCode);
  SELECT RAISE(ABORT,
    'The DELETE statement conflicted with the REFERENCE constraint "FK_EC_ExpenVouch_EC_OperationType". The conflict occurred in table "dbo.EC_ExpenVouch", column ''strTypeCode''.')
  WHERE EXISTS (SELECT 1 FROM EC_ExpenVouch WHERE strTypeCode = OLD.strCode);
  SELECT RAISE(ABORT,
    'The DELETE statement conflicted with the REFERENCE constraint "FK_EC_PzSet_IO_EC_OperationType". The conflict occurred in table "dbo.EC_PzSet_IO", column ''strOperatType''.')
  WHERE EXISTS (SELECT 1 FROM EC_PzSet_IO WHERE strOperatType = OLD.strCode);
END;
CREATE TRIGGER trg_FK_EC_IOItem_EC_OperationType_ins BEFORE INSERT ON EC_IOItem
WHEN NEW.strTypeCode IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_OperationType WHERE strCode = NEW.strTypeCode) BEGIN
  SELECT RAISE(ABORT,
    'The INSERT statement conflicted with the FOREIGN KEY constraint "FK_EC_IOItem_EC_OperationType". The conflict occurred in table "dbo.EC_OperationType", column ''strCode''.');
END;
CREATE TRIGGER trg_FK_EC_IOItem_EC_OperationType_upd BEFORE UPDATE OF strTypeCode ON EC_IOItem
WHEN NEW.strTypeCode IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_OperationType WHERE strCode = NEW.strTypeCode) BEGIN
  SELECT RAISE(ABORT,
    'The UPDATE statement conflicted with the FOREIGN KEY constraint "FK_EC_IOItem_EC_OperationType". The conflict occurred in table "dbo.EC_OperationType", column ''strCode''.');
END;
CREATE TRIGGER trg_FK_EC_LoanVouch_EC_OperationType_ins BEFORE INSERT ON EC_LoanVouch
WHEN NEW.strTypeCode IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_OperationType WHERE strCode = NEW.strTypeCode) BEGIN
  SELECT RAISE(ABORT,
    'The INSERT statement conflicted with the FOREIGN KEY constraint "FK_EC_LoanVouch_EC_OperationType". The conflict occurred in table "dbo.EC_OperationType", column ''strCode''.');
END;
CREATE TRIGGER trg_FK_EC_LoanVouch_EC_OperationType_upd BEFORE UPDATE OF strTypeCode ON EC_LoanVouch
WHEN NEW.strTypeCode IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_OperationType WHERE strCode = NEW.strTypeCode) BEGIN
  SELECT RAISE(ABORT,
    'The UPDATE statement conflicted with the FOREIGN KEY constraint "FK_EC_LoanVouch_EC_OperationType". The conflict occurred in table "dbo.EC_OperationType", column ''strCode''.');
END;
CREATE TRIGGER trg_FK_EC_ExpenVouch_EC_OperationType_ins BEFORE INSERT ON EC_ExpenVouch
WHEN NEW.strTypeCode IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_OperationType WHERE strCode = NEW.strTypeCode) BEGIN
  SELECT RAISE(ABORT,
    'The INSERT statement conflicted with the FOREIGN KEY constraint "FK_EC_ExpenVouch_EC_OperationType". The conflict occurred in table "dbo.EC_OperationType", column ''strCode''.');
END;
CREATE TRIGGER trg_FK_EC_ExpenVouch_EC_OperationType_upd BEFORE UPDATE OF strTypeCode ON EC_ExpenVouch
WHEN NEW.strTypeCode IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_OperationType WHERE strCode = NEW.strTypeCode) BEGIN
  SELECT RAISE(ABORT,
    'The UPDATE statement conflicted with the FOREIGN KEY constraint "FK_EC_ExpenVouch_EC_OperationType". The conflict occurred in table "dbo.EC_OperationType", column ''strCode''.');
END;
CREATE TRIGGER trg_FK_EC_PzSet_IO_EC_OperationType_ins BEFORE INSERT ON EC_PzSet_IO
WHEN NEW.strOperatType IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_OperationType WHERE strCode = NEW.strOperatType) BEGIN
  SELECT RAISE(ABORT,
    'The INSERT statement conflicted with the FOREIGN KEY constraint "FK_EC_PzSet_IO_EC_OperationType". The conflict occurred in table "dbo.EC_OperationType", column ''strCode''.');
END;
CREATE TRIGGER trg_FK_EC_PzSet_IO_EC_OperationType_upd BEFORE UPDATE OF strOperatType ON EC_PzSet_IO
WHEN NEW.strOperatType IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_OperationType WHERE strCode = NEW.strOperatType) BEGIN
  SELECT RAISE(ABORT,
    'The UPDATE statement conflicted with the FOREIGN KEY constraint "FK_EC_PzSet_IO_EC_OperationType". The conflict occurred in table "dbo.EC_OperationType", column ''strCode''.');
END;

------------------------------------------------------------------------------------------------
-- EC_IOItem

CREATE TRIGGER trg_EC_IOItem_fk_del BEFORE DELETE ON EC_IOItem BEGIN
  SELECT RAISE(ABORT,
    'The DELETE statement conflicted with the REFERENCE constraint "FK_EC_Expense_EC_IOItem". The conflict occurred in table "dbo.EC_Expense", column ''strIOItemCode''.')
  WHERE EXISTS (SELECT 1 FROM EC_Expense WHERE strIOItemCode = OLD.strCode);
END;
CREATE TRIGGER trg_FK_EC_Expense_EC_IOItem_ins BEFORE INSERT ON EC_Expense
WHEN NEW.strIOItemCode IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_IOItem WHERE strCode = NEW.strIOItemCode) BEGIN
  SELECT RAISE(ABORT,
    'The INSERT statement conflicted with the FOREIGN KEY constraint "FK_EC_Expense_EC_IOItem". The conflict occurred in table "dbo.EC_IOItem", column ''strCode''.');
END;
CREATE TRIGGER trg_FK_EC_Expense_EC_IOItem_upd BEFORE UPDATE OF strIOItemCode ON EC_Expense
WHEN NEW.strIOItemCode IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_IOItem WHERE strCode = NEW.strIOItemCode) BEGIN
  SELECT RAISE(ABORT,
    'The UPDATE statement conflicted with the FOREIGN KEY constraint "FK_EC_Expense_EC_IOItem". The conflict occurred in table "dbo.EC_IOItem", column ''strCode''.');
END;

------------------------------------------------------------------------------------------------
-- EC_LoanVouch

CREATE TRIGGER trg_EC_LoanVouch_fk_del BEFORE DELETE ON EC_LoanVouch BEGIN
  SELECT RAISE(ABORT,
    'The DELETE statement conflicted with the REFERENCE constraint "FK_EC_LoanVouch_Sub_EC_LoanVouch". The conflict occurred in table "dbo.EC_LoanVouch_Sub", column ''MGuid''.')
  WHERE EXISTS (SELECT 1 FROM EC_LoanVouch_Sub WHERE MGuid = OLD.GUID);
END;
CREATE TRIGGER trg_FK_EC_LoanVouch_Sub_EC_LoanVouch_ins BEFORE INSERT ON EC_LoanVouch_Sub
WHEN NEW.MGuid IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_LoanVouch WHERE GUID = NEW.MGuid) BEGIN
  SELECT RAISE(ABORT,
    'The INSERT statement conflicted with the FOREIGN KEY constraint "FK_EC_LoanVouch_Sub_EC_LoanVouch". The conflict occurred in table "dbo.EC_LoanVouch", column ''GUID''.');
END;
CREATE TRIGGER trg_FK_EC_LoanVouch_Sub_EC_LoanVouch_upd BEFORE UPDATE OF MGuid ON EC_LoanVouch_Sub
WHEN NEW.MGuid IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_LoanVouch WHERE GUID = NEW.MGuid) BEGIN
  SELECT RAISE(ABORT,
    'The UPDATE statement conflicted with the FOREIGN KEY constraint "FK_EC_LoanVouch_Sub_EC_LoanVouch". The conflict occurred in table "dbo.EC_LoanVouch", column ''GUID''.');
END;

------------------------------------------------------------------------------------------------
-- EC_LoanVouch_Sub

CREATE TRIGGER trg_EC_LoanVouch_Sub_fk_del BEFORE DELETE ON EC_LoanVouch_Sub BEGIN
  SELECT RAISE(ABORT,
    'The DELETE statement conflicted with the REFERENCE constraint "FK_EC_ExpenLoanInfo_EC_LoanVouch_Sub". The conflict occurred in table "dbo.EC_ExpenLoanInfo", column ''LoanSubguid''.')
  WHERE EXISTS (SELECT 1 FROM EC_ExpenLoanInfo WHERE LoanSubguid = OLD.GUID);
END;
CREATE TRIGGER trg_FK_EC_ExpenLoanInfo_EC_LoanVouch_Sub_ins BEFORE INSERT ON EC_ExpenLoanInfo
WHEN NEW.LoanSubguid IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_LoanVouch_Sub WHERE GUID = NEW.LoanSubguid) BEGIN
  SELECT RAISE(ABORT,
    'The INSERT statement conflicted with the FOREIGN KEY constraint "FK_EC_ExpenLoanInfo_EC_LoanVouch_Sub". The conflict occurred in table "dbo.EC_LoanVouch_Sub", column ''GUID''.');
END;
CREATE TRIGGER trg_FK_EC_ExpenLoanInfo_EC_LoanVouch_Sub_upd BEFORE UPDATE OF LoanSubguid ON EC_ExpenLoanInfo
WHEN NEW.LoanSubguid IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_LoanVouch_Sub WHERE GUID = NEW.LoanSubguid) BEGIN
  SELECT RAISE(ABORT,
    'The UPDATE statement conflicted with the FOREIGN KEY constraint "FK_EC_ExpenLoanInfo_EC_LoanVouch_Sub". The conflict occurred in table "dbo.EC_LoanVouch_Sub", column ''GUID''.');
END;

------------------------------------------------------------------------------------------------
-- EC_ExpenVouch

CREATE TRIGGER trg_EC_ExpenVouch_fk_del BEFORE DELETE ON EC_ExpenVouch BEGIN
  SELECT RAISE(ABORT,
    'The DELETE statement conflicted with the REFERENCE constraint "FK_EC_ExpenLoanInfo_EC_ExpenVouch". The conflict occurred in table "dbo.EC_ExpenLoanInfo", column ''Expenguid''.')
  WHERE EXISTS (SELECT 1 FROM EC_ExpenLoanInfo WHERE Expenguid = OLD.GUID);
  SELECT RAISE(ABORT,
    'The DELETE statement conflicted with the REFERENCE constraint "FK_EC_BalanceInfo_EC_ExpenVouch". The conflict occurred in table "dbo.EC_BalanceInfo", column ''ExpenGUID''.')
  WHERE EXISTS (SELECT 1 FROM EC_BalanceInfo WHERE ExpenGUID = OLD.GUID);
  SELECT RAISE(ABORT,
    'The DELETE statement conflicted with the REFERENCE constraint "FK_EC_ExpenVouch_Sub_EC_ExpenVouch". The conflict occurred in table "dbo.EC_ExpenVouch_Sub", column ''MGuid''.')
  WHERE EXISTS (SELECT 1 FROM EC_ExpenVouch_Sub WHERE MGuid = OLD.GUID);
END;
CREATE TRIGGER trg_FK_EC_ExpenLoanInfo_EC_ExpenVouch_ins BEFORE INSERT ON EC_ExpenLoanInfo
WHEN NEW.Expenguid IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_ExpenVouch WHERE GUID = NEW.Expenguid) BEGIN
  SELECT RAISE(ABORT,
    'The INSERT statement conflicted with the FOREIGN KEY constraint "FK_EC_ExpenLoanInfo_EC_ExpenVouch". The conflict occurred in table "dbo.EC_ExpenVouch", column ''GUID''.');
END;
CREATE TRIGGER trg_FK_EC_ExpenLoanInfo_EC_ExpenVouch_upd BEFORE UPDATE OF Expenguid ON EC_ExpenLoanInfo
WHEN NEW.Expenguid IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_ExpenVouch WHERE GUID = NEW.Expenguid) BEGIN
  SELECT RAISE(ABORT,
    'The UPDATE statement conflicted with the FOREIGN KEY constraint "FK_EC_ExpenLoanInfo_EC_ExpenVouch". The conflict occurred in table "dbo.EC_ExpenVouch", column ''GUID''.');
END;
CREATE TRIGGER trg_FK_EC_BalanceInfo_EC_ExpenVouch_ins BEFORE INSERT ON EC_BalanceInfo
WHEN NEW.ExpenGUID IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_ExpenVouch WHERE GUID = NEW.ExpenGUID) BEGIN
  SELECT RAISE(ABORT,
    'The INSERT statement conflicted with the FOREIGN KEY constraint "FK_EC_BalanceInfo_EC_ExpenVouch". The conflict occurred in table "dbo.EC_ExpenVouch", column ''GUID''.');
END;
CREATE TRIGGER trg_FK_EC_BalanceInfo_EC_ExpenVouch_upd BEFORE UPDATE OF ExpenGUID ON EC_BalanceInfo
WHEN NEW.ExpenGUID IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_ExpenVouch WHERE GUID = NEW.ExpenGUID) BEGIN
  SELECT RAISE(ABORT,
    'The UPDATE statement conflicted with the FOREIGN KEY constraint "FK_EC_BalanceInfo_EC_ExpenVouch". The conflict occurred in table "dbo.EC_ExpenVouch", column ''GUID''.');
END;
CREATE TRIGGER trg_FK_EC_ExpenVouch_Sub_EC_ExpenVouch_ins BEFORE INSERT ON EC_ExpenVouch_Sub
WHEN NEW.MGuid IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_ExpenVouch WHERE GUID = NEW.MGuid) BEGIN
  SELECT RAISE(ABORT,
    'The INSERT statement conflicted with the FOREIGN KEY constraint "FK_EC_ExpenVouch_Sub_EC_ExpenVouch". The conflict occurred in table "dbo.EC_ExpenVouch", column ''GUID''.');
END;
CREATE TRIGGER trg_FK_EC_ExpenVouch_Sub_EC_ExpenVouch_upd BEFORE UPDATE OF MGuid ON EC_ExpenVouch_Sub
WHEN NEW.MGuid IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_ExpenVouch WHERE GUID = NEW.MGuid) BEGIN
  SELECT RAISE(ABORT,
    'The UPDATE statement conflicted with the FOREIGN KEY constraint "FK_EC_ExpenVouch_Sub_EC_ExpenVouch". The conflict occurred in table "dbo.EC_ExpenVouch", column ''GUID''.');
END;

------------------------------------------------------------------------------------------------
-- EC_Expense

CREATE TRIGGER trg_EC_Expense_fk_del BEFORE DELETE ON EC_Expense BEGIN
  SELECT RAISE(ABORT,
    'The DELETE statement conflicted with the REFERENCE constraint "FK_EC_ExpenseDepart_EC_Expense". The conflict occurred in table "dbo.EC_ExpenseDepart", column ''GuidMain''.')
  WHERE EXISTS (SELECT 1 FROM EC_ExpenseDepart WHERE GuidMain = OLD.GUID);
  SELECT RAISE(ABORT,
    'The DELETE statement conflicted with the REFERENCE constraint "FK_EC_EISet_Stand_EC_Expense". The conflict occurred in table "dbo.EC_EISet_Stand", column ''GUIDStand''.')
  WHERE EXISTS (SELECT 1 FROM EC_EISet_Stand WHERE GUIDStand = OLD.GUID);
END;
CREATE TRIGGER trg_EC_Expense_fk_cascade AFTER DELETE ON EC_Expense BEGIN
  DELETE FROM EC_EffectItem WHERE GUIDStand = OLD.GUID;
  DELETE FROM EC_StandSet WHERE GUIDStand = OLD.GUID;
END;
CREATE TRIGGER trg_FK_EC_ExpenseDepart_EC_Expense_ins BEFORE INSERT ON EC_ExpenseDepart
WHEN NEW.GuidMain IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_Expense WHERE GUID = NEW.GuidMain) BEGIN
  SELECT RAISE(ABORT,
    'The INSERT statement conflicted with the FOREIGN KEY constraint "FK_EC_ExpenseDepart_EC_Expense". The conflict occurred in table "dbo.EC_Expense", column ''GUID''.');
END;
CREATE TRIGGER trg_FK_EC_ExpenseDepart_EC_Expense_upd BEFORE UPDATE OF GuidMain ON EC_ExpenseDepart
WHEN NEW.GuidMain IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_Expense WHERE GUID = NEW.GuidMain) BEGIN
  SELECT RAISE(ABORT,
    'The UPDATE statement conflicted with the FOREIGN KEY constraint "FK_EC_ExpenseDepart_EC_Expense". The conflict occurred in table "dbo.EC_Expense", column ''GUID''.');
END;
CREATE TRIGGER trg_FK_EC_EISet_Stand_EC_Expense_ins BEFORE INSERT ON EC_EISet_Stand
WHEN NEW.GUIDStand IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_Expense WHERE GUID = NEW.GUIDStand) BEGIN
  SELECT RAISE(ABORT,
    'The INSERT statement conflicted with the FOREIGN KEY constraint "FK_EC_EISet_Stand_EC_Expense". The conflict occurred in table "dbo.EC_Expense", column ''GUID''.');
END;
CREATE TRIGGER trg_FK_EC_EISet_Stand_EC_Expense_upd BEFORE UPDATE OF GUIDStand ON EC_EISet_Stand
WHEN NEW.GUIDStand IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_Expense WHERE GUID = NEW.GUIDStand) BEGIN
  SELECT RAISE(ABORT,
    'The UPDATE statement conflicted with the FOREIGN KEY constraint "FK_EC_EISet_Stand_EC_Expense". The conflict occurred in table "dbo.EC_Expense", column ''GUID''.');
END;
CREATE TRIGGER trg_FK_EC_EffectItem_EC_Expense_ins BEFORE INSERT ON EC_EffectItem
WHEN NEW.GUIDStand IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_Expense WHERE GUID = NEW.GUIDStand) BEGIN
  SELECT RAISE(ABORT,
    'The INSERT statement conflicted with the FOREIGN KEY constraint "FK_EC_EffectItem_EC_Expense". The conflict occurred in table "dbo.EC_Expense", column ''GUID''.');
END;
CREATE TRIGGER trg_FK_EC_EffectItem_EC_Expense_upd BEFORE UPDATE OF GUIDStand ON EC_EffectItem
WHEN NEW.GUIDStand IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_Expense WHERE GUID = NEW.GUIDStand) BEGIN
  SELECT RAISE(ABORT,
    'The UPDATE statement conflicted with the FOREIGN KEY constraint "FK_EC_EffectItem_EC_Expense". The conflict occurred in table "dbo.EC_Expense", column ''GUID''.');
END;
CREATE TRIGGER trg_FK_EC_StandSet_EC_Expense_ins BEFORE INSERT ON EC_StandSet
WHEN NEW.GUIDStand IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_Expense WHERE GUID = NEW.GUIDStand) BEGIN
  SELECT RAISE(ABORT,
    'The INSERT statement conflicted with the FOREIGN KEY constraint "FK_EC_StandSet_EC_Expense". The conflict occurred in table "dbo.EC_Expense", column ''GUID''.');
END;
CREATE TRIGGER trg_FK_EC_StandSet_EC_Expense_upd BEFORE UPDATE OF GUIDStand ON EC_StandSet
WHEN NEW.GUIDStand IS NOT NULL
  AND NOT EXISTS (SELECT 1 FROM EC_Expense WHERE GUID = NEW.GUIDStand) BEGIN
  SELECT RAISE(ABORT,
    'The UPDATE statement conflicted with the FOREIGN KEY constraint "FK_EC_StandSet_EC_Expense". The conflict occurred in table "dbo.EC_Expense", column ''GUID''.');
END;
