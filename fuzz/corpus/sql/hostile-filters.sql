select * from (select * from tempdb..qdtmp1) r where (1=1) or (1=1
)
select * from (select * from tempdb..qdtmp1) r where (set_config('search_path','account_002_2026,qdsystem,tempdb,rembiz',false) is not null
)
select * from (select * from tempdb..qdtmp1) r where ((select count(*) from UA_Auth a, UA_Auth b, UA_Auth c) > 0
)
select * from (select * from tempdb..qdtmp1) r where (length(replace(printf('%.*c',100000000,'a'),'a','aaaaaaaaa'))>0
)
