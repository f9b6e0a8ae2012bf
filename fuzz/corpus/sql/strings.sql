select 'it''s' + N'[x]' + cast(ts as money) + charindex('a', [str Name]) from qdsystem..UA_User /* c */ -- d
