if exists(select * from tempdb..sysobjects where name='T1') drop table tempdb..T1
select strCode, strName into tempdb..T1 from EC_OperationType where left(strCode,1) = '3'
Update EC_LoanVouch Set dblReturn = d.v From EC_LoanVouch inner join (select 1 as v) d on 1=1 Where GUID = '{A}'
Delete EC_LoanVouch_Sub Where MGuid = '{A}'
