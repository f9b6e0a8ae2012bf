// What a PostgreSQL database needs before the server's statements can run in it: the schemas of
// the system database and tempdb, the schema `rembiz` with the collation text compares with, the
// row-version counter, and SQL Server's functions with the server's semantics as SQL functions.
// Made once per database (idempotent), when a database of the store is created.
#include "db/postgres/pg_support.h"

#include <string>
#include <vector>

namespace rembiz::db::postgres {
namespace {

// Text compares as the server's default collation does: case-insensitively (ICU, strength 2),
// and, since text columns are bpchar, without regard to trailing blanks. LIKE and text
// searches cannot use a nondeterministic collation; the functions below name "C" or "default"
// where they search.
constexpr const char* kBase = R"sql(
CREATE SCHEMA IF NOT EXISTS rembiz;
CREATE SCHEMA IF NOT EXISTS tempdb;
CREATE SCHEMA IF NOT EXISTS qdsystem;
DO $d$ BEGIN
  IF NOT EXISTS (SELECT 1 FROM pg_collation WHERE collname = 'ci'
                   AND collnamespace = 'rembiz'::regnamespace) THEN
    CREATE COLLATION rembiz.ci (provider = icu, locale = 'und-u-ks-level2', deterministic = false);
  END IF;
END $d$;
CREATE SEQUENCE IF NOT EXISTS rembiz.rowversion;
-- The text of a value in a character context, as the data layer writes values: numbers without
-- trailing zeros, dates "YYYY-MM-DD" with " HH:MM:SS[.mmm]" when there is a time, GUIDs
-- "{UPPER}", text with its trailing blanks.
CREATE OR REPLACE FUNCTION rembiz.txt(text) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE
  AS $f$ SELECT $1 $f$;
CREATE OR REPLACE FUNCTION rembiz.txt(bpchar) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE
  AS $f$ SELECT textin(bpcharout($1)) $f$;
CREATE OR REPLACE FUNCTION rembiz.txt(numeric) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE
  AS $f$ SELECT CASE WHEN strpos($1::text, '.') > 0 THEN rtrim(rtrim($1::text, '0'), '.')
                     ELSE $1::text END $f$;
CREATE OR REPLACE FUNCTION rembiz.txt(double precision) RETURNS text LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT $1::text $f$;
CREATE OR REPLACE FUNCTION rembiz.txt(real) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE
  AS $f$ SELECT $1::double precision::text $f$;
CREATE OR REPLACE FUNCTION rembiz.txt(bigint) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE
  AS $f$ SELECT $1::text $f$;
CREATE OR REPLACE FUNCTION rembiz.txt(integer) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE
  AS $f$ SELECT $1::text $f$;
CREATE OR REPLACE FUNCTION rembiz.txt(smallint) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE
  AS $f$ SELECT $1::text $f$;
CREATE OR REPLACE FUNCTION rembiz.txt(boolean) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE
  AS $f$ SELECT CASE WHEN $1 THEN '1' ELSE '0' END $f$;
CREATE OR REPLACE FUNCTION rembiz.txt(uuid) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE
  AS $f$ SELECT '{' || upper($1::text) || '}' $f$;
CREATE OR REPLACE FUNCTION rembiz.txt(timestamp) RETURNS text LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$
  SELECT CASE WHEN $1 = date_trunc('day', $1) THEN to_char($1, 'YYYY-MM-DD')
              WHEN $1 = date_trunc('second', $1) THEN to_char($1, 'YYYY-MM-DD HH24:MI:SS')
              ELSE to_char($1, 'YYYY-MM-DD HH24:MI:SS.MS') END $f$;
CREATE OR REPLACE FUNCTION rembiz.txt(date) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE
  AS $f$ SELECT to_char($1, 'YYYY-MM-DD') $f$;

-- LEFT, RIGHT and SUBSTRING refuse a negative length as the server does. (The refusals are
-- volatile: the planner must not evaluate one ahead of the CASE that guards it.)
CREATE OR REPLACE FUNCTION rembiz.refuse_length(text) RETURNS text LANGUAGE plpgsql VOLATILE
  AS $f$
BEGIN
  RAISE EXCEPTION USING ERRCODE = '22023',
    MESSAGE = 'Invalid length parameter passed to the ' || $1 || ' function.';
END $f$;
CREATE OR REPLACE FUNCTION rembiz.left(text, bigint) RETURNS text LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$
  SELECT CASE WHEN $2 < 0 THEN rembiz.refuse_length('LEFT') ELSE left($1, $2::integer) END $f$;
CREATE OR REPLACE FUNCTION rembiz.right(text, bigint) RETURNS text LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$
  SELECT CASE WHEN $2 < 0 THEN rembiz.refuse_length('RIGHT') ELSE right($1, $2::integer) END $f$;
CREATE OR REPLACE FUNCTION rembiz.substring(text, bigint, bigint) RETURNS text LANGUAGE sql
  IMMUTABLE PARALLEL SAFE AS $f$
  SELECT CASE WHEN $3 < 0 THEN rembiz.refuse_length('SUBSTRING')
              ELSE substr($1, $2::integer, $3::integer) END $f$;

-- A number from a value, as the server converts text for arithmetic: blanks around, '' is 0.
CREATE OR REPLACE FUNCTION rembiz.num(text) RETURNS numeric LANGUAGE sql IMMUTABLE PARALLEL SAFE
  AS $f$ SELECT CASE WHEN btrim($1, E' \t') = '' THEN 0::numeric
                     ELSE btrim($1, E' \t')::numeric END $f$;
CREATE OR REPLACE FUNCTION rembiz.num(numeric) RETURNS numeric LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT $1 $f$;
CREATE OR REPLACE FUNCTION rembiz.num(double precision) RETURNS numeric LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT $1::numeric $f$;
CREATE OR REPLACE FUNCTION rembiz.num(bigint) RETURNS numeric LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT $1::numeric $f$;
CREATE OR REPLACE FUNCTION rembiz.num(integer) RETURNS numeric LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT $1::numeric $f$;
CREATE OR REPLACE FUNCTION rembiz.num(boolean) RETURNS numeric LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT CASE WHEN $1 THEN 1::numeric ELSE 0::numeric END $f$;

CREATE OR REPLACE FUNCTION rembiz.to_int(text) RETURNS integer LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT trunc(rembiz.num($1))::integer $f$;
CREATE OR REPLACE FUNCTION rembiz.to_int(numeric) RETURNS integer LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT trunc($1)::integer $f$;
CREATE OR REPLACE FUNCTION rembiz.to_int(double precision) RETURNS integer LANGUAGE sql
  IMMUTABLE PARALLEL SAFE AS $f$ SELECT trunc($1)::integer $f$;
CREATE OR REPLACE FUNCTION rembiz.to_int(bigint) RETURNS integer LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT $1::integer $f$;
CREATE OR REPLACE FUNCTION rembiz.to_int(integer) RETURNS integer LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT $1 $f$;
CREATE OR REPLACE FUNCTION rembiz.to_int(boolean) RETURNS integer LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT CASE WHEN $1 THEN 1 ELSE 0 END $f$;
CREATE OR REPLACE FUNCTION rembiz.to_bigint(text) RETURNS bigint LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT trunc(rembiz.num($1))::bigint $f$;
CREATE OR REPLACE FUNCTION rembiz.to_bigint(numeric) RETURNS bigint LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT trunc($1)::bigint $f$;
CREATE OR REPLACE FUNCTION rembiz.to_bigint(double precision) RETURNS bigint LANGUAGE sql
  IMMUTABLE PARALLEL SAFE AS $f$ SELECT trunc($1)::bigint $f$;
CREATE OR REPLACE FUNCTION rembiz.to_bigint(bigint) RETURNS bigint LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT $1 $f$;
CREATE OR REPLACE FUNCTION rembiz.to_float(text) RETURNS double precision LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT rembiz.num($1)::double precision $f$;
CREATE OR REPLACE FUNCTION rembiz.to_float(numeric) RETURNS double precision LANGUAGE sql
  IMMUTABLE PARALLEL SAFE AS $f$ SELECT $1::double precision $f$;
CREATE OR REPLACE FUNCTION rembiz.to_float(double precision) RETURNS double precision
  LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$ SELECT $1 $f$;
CREATE OR REPLACE FUNCTION rembiz.to_float(bigint) RETURNS double precision LANGUAGE sql
  IMMUTABLE PARALLEL SAFE AS $f$ SELECT $1::double precision $f$;
CREATE OR REPLACE FUNCTION rembiz.to_float(integer) RETURNS double precision LANGUAGE sql
  IMMUTABLE PARALLEL SAFE AS $f$ SELECT $1::double precision $f$;
-- bit: 'true' and 'false' as texts, numbers by whether they are 0.
CREATE OR REPLACE FUNCTION rembiz.to_bit(text) RETURNS smallint LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$
  SELECT CASE WHEN $1 IS NULL THEN NULL
              WHEN lower(btrim($1)) COLLATE "C" = 'true' THEN 1::smallint
              WHEN lower(btrim($1)) COLLATE "C" IN ('false', '') THEN 0::smallint
              WHEN rembiz.num($1) <> 0 THEN 1::smallint ELSE 0::smallint END $f$;
CREATE OR REPLACE FUNCTION rembiz.to_bit(numeric) RETURNS smallint LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT CASE WHEN $1 <> 0 THEN 1::smallint ELSE 0::smallint END $f$;
CREATE OR REPLACE FUNCTION rembiz.to_bit(double precision) RETURNS smallint LANGUAGE sql
  IMMUTABLE PARALLEL SAFE AS $f$ SELECT CASE WHEN $1 <> 0 THEN 1::smallint ELSE 0::smallint END $f$;
CREATE OR REPLACE FUNCTION rembiz.to_bit(boolean) RETURNS smallint LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT CASE WHEN $1 THEN 1::smallint ELSE 0::smallint END $f$;

-- "+" whose meaning only the operands' types decide: texts concatenate, numbers add (a text is
-- read as a number beside one), a date and a number add days.
CREATE OR REPLACE FUNCTION rembiz.plus(text, text) RETURNS text LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT $1 || $2 $f$;
CREATE OR REPLACE FUNCTION rembiz.plus(integer, integer) RETURNS integer LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT $1 + $2 $f$;
CREATE OR REPLACE FUNCTION rembiz.plus(bigint, bigint) RETURNS bigint LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT $1 + $2 $f$;
CREATE OR REPLACE FUNCTION rembiz.plus(numeric, numeric) RETURNS numeric LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT $1 + $2 $f$;
CREATE OR REPLACE FUNCTION rembiz.plus(double precision, double precision)
  RETURNS double precision LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$ SELECT $1 + $2 $f$;
CREATE OR REPLACE FUNCTION rembiz.plus(text, numeric) RETURNS numeric LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT rembiz.num($1) + $2 $f$;
CREATE OR REPLACE FUNCTION rembiz.plus(numeric, text) RETURNS numeric LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT $1 + rembiz.num($2) $f$;
CREATE OR REPLACE FUNCTION rembiz.plus(timestamp, numeric) RETURNS timestamp LANGUAGE sql
  IMMUTABLE PARALLEL SAFE AS $f$ SELECT $1 + $2 * interval '1 day' $f$;
CREATE OR REPLACE FUNCTION rembiz.plus(numeric, timestamp) RETURNS timestamp LANGUAGE sql
  IMMUTABLE PARALLEL SAFE AS $f$ SELECT $2 + $1 * interval '1 day' $f$;

-- Text functions. Searches ignore case, as the server's default collation does.
CREATE OR REPLACE FUNCTION rembiz.len(text) RETURNS integer LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$ SELECT length(rtrim($1, ' ')) $f$;
CREATE OR REPLACE FUNCTION rembiz.charindex(text, text, integer DEFAULT 1) RETURNS integer
  LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$
  SELECT CASE WHEN $1 IS NULL OR $2 IS NULL OR $3 IS NULL THEN NULL
              WHEN $1 COLLATE "C" = '' THEN 0
              ELSE coalesce(nullif(strpos(lower(substr($2, greatest($3, 1))) COLLATE "C",
                                          lower($1) COLLATE "C"), 0) + greatest($3, 1) - 1, 0)
         END $f$;
CREATE OR REPLACE FUNCTION rembiz.replace(text, text, text) RETURNS text LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$
  SELECT CASE WHEN $2 COLLATE "C" = '' THEN $1
              ELSE regexp_replace($1 COLLATE "C",
                                  regexp_replace($2 COLLATE "C", '([].[\\+*?^$(){}|-])', '\\\1',
                                                 'g'),
                                  replace($3 COLLATE "C", '\', '\\'), 'gi') END $f$;
CREATE OR REPLACE FUNCTION rembiz.str(double precision, integer DEFAULT 10, integer DEFAULT 0)
  RETURNS text LANGUAGE plpgsql IMMUTABLE PARALLEL SAFE AS $f$
DECLARE t text; d integer;
BEGIN
  IF $1 IS NULL OR $2 IS NULL OR $3 IS NULL OR $2 <= 0 OR $2 > 8000 OR $3 < 0 THEN
    RETURN NULL;
  END IF;
  d := least($3, 16);
  LOOP
    t := round($1::numeric, d)::text;
    EXIT WHEN length(t) <= $2 OR d = 0;
    d := d - 1;
  END LOOP;
  IF length(t) > $2 THEN t := repeat('*', $2); END IF;
  RETURN lpad(t, $2);
END $f$;
CREATE OR REPLACE FUNCTION rembiz.isnumeric(text) RETURNS integer LANGUAGE sql IMMUTABLE
  PARALLEL SAFE AS $f$
  SELECT CASE WHEN $1 IS NOT NULL AND $1 COLLATE "C" ~
    '^[ \t]*\$?[+-]?([0-9][0-9,]*(\.[0-9]*)?|\.[0-9]+)([eEdD][+-]?[0-9]+)?[ \t]*$'
    THEN 1 ELSE 0 END $f$;
CREATE OR REPLACE FUNCTION rembiz.round(numeric, integer DEFAULT 0, integer DEFAULT 0)
  RETURNS numeric LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$
  SELECT CASE WHEN $3 <> 0 THEN trunc($1, $2) ELSE round($1, $2) END $f$;
CREATE OR REPLACE FUNCTION rembiz.round(double precision, integer DEFAULT 0, integer DEFAULT 0)
  RETURNS double precision LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$
  SELECT rembiz.round($1::numeric, $2, $3)::double precision $f$;

-- Dates. A text is read in the shapes the system writes ("2004-3-5", "2004/03/05", "20040305",
-- ISO with "T", a time with AM/PM); the day-first styles of CONVERT read dd/mm/yyyy; '' is
-- 1900-01-01 as on the server; numbers count days from 1900-01-01.
CREATE OR REPLACE FUNCTION rembiz.dt(text, integer DEFAULT 0) RETURNS timestamp
  LANGUAGE plpgsql STABLE PARALLEL SAFE AS $f$
DECLARE t text COLLATE "C" := btrim($1 COLLATE "C"); m text[] COLLATE "C";
BEGIN
  IF t IS NULL THEN RETURN NULL; END IF;
  IF t = '' THEN RETURN timestamp '1900-01-01'; END IF;
  IF $2 % 100 IN (3, 4, 5, 6, 13) THEN
    m := regexp_match(t, '^([0-9]{1,2})([-/. ])([0-9]{1,2})\2([0-9]{2,4})(.*)$');
    IF m IS NOT NULL THEN
      t := m[4] || '-' || m[3] || '-' || m[1] || m[5];
    END IF;
  END IF;
  IF t !~ '^[0-9]' OR t ~ '[a-zA-Z]' AND t !~* '^[0-9./ -]+[ T][0-9:. ]*([AP]M|Z)?$' THEN
    RAISE EXCEPTION USING ERRCODE = '22007',
      MESSAGE = 'Conversion failed when converting date and/or time from character string.';
  END IF;
  RETURN t::timestamp;
END $f$;
CREATE OR REPLACE FUNCTION rembiz.dt(timestamp, integer DEFAULT 0) RETURNS timestamp
  LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$ SELECT $1 $f$;
CREATE OR REPLACE FUNCTION rembiz.dt(date, integer DEFAULT 0) RETURNS timestamp LANGUAGE sql
  IMMUTABLE PARALLEL SAFE AS $f$ SELECT $1::timestamp $f$;
CREATE OR REPLACE FUNCTION rembiz.dt(numeric, integer DEFAULT 0) RETURNS timestamp
  LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$
  SELECT timestamp '1900-01-01' + $1 * interval '1 day' $f$;
CREATE OR REPLACE FUNCTION rembiz.dt(double precision, integer DEFAULT 0) RETURNS timestamp
  LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$
  SELECT timestamp '1900-01-01' + $1 * interval '1 day' $f$;

-- The canonical name of a date part, or an error for one the server does not know.
CREATE OR REPLACE FUNCTION rembiz.date_part_name(text) RETURNS text LANGUAGE plpgsql IMMUTABLE
  PARALLEL SAFE AS $f$
DECLARE p text COLLATE "C" := lower(btrim($1 COLLATE "C"));
BEGIN
  RETURN CASE
    WHEN p IN ('year', 'yy', 'yyyy') THEN 'year'
    WHEN p IN ('quarter', 'qq', 'q') THEN 'quarter'
    WHEN p IN ('month', 'mm', 'm') THEN 'month'
    WHEN p IN ('dayofyear', 'dy', 'y') THEN 'dayofyear'
    WHEN p IN ('day', 'dd', 'd') THEN 'day'
    WHEN p IN ('week', 'wk', 'ww') THEN 'week'
    WHEN p IN ('weekday', 'dw', 'w') THEN 'weekday'
    WHEN p IN ('hour', 'hh') THEN 'hour'
    WHEN p IN ('minute', 'mi', 'n') THEN 'minute'
    WHEN p IN ('second', 'ss', 's') THEN 'second'
    WHEN p IN ('millisecond', 'ms') THEN 'millisecond'
    ELSE rembiz.refuse_date_part($1) END;
END $f$;
CREATE OR REPLACE FUNCTION rembiz.refuse_date_part(text) RETURNS text LANGUAGE plpgsql
  VOLATILE AS $f$
BEGIN
  RAISE EXCEPTION USING ERRCODE = '22023', MESSAGE = '''' || $1 || ''' is not a recognized datepart.';
END $f$;
-- DATEDIFF counts the boundaries of the part between two dates (weeks start on Sunday).
CREATE OR REPLACE FUNCTION rembiz.datediff(text, timestamp, timestamp) RETURNS integer
  LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$
  SELECT CASE rembiz.date_part_name($1)
    WHEN 'year' THEN (extract(year FROM $3) - extract(year FROM $2))::integer
    WHEN 'quarter' THEN ((extract(year FROM $3) * 4 + extract(quarter FROM $3))
                         - (extract(year FROM $2) * 4 + extract(quarter FROM $2)))::integer
    WHEN 'month' THEN ((extract(year FROM $3) * 12 + extract(month FROM $3))
                       - (extract(year FROM $2) * 12 + extract(month FROM $2)))::integer
    WHEN 'dayofyear' THEN $3::date - $2::date
    WHEN 'day' THEN $3::date - $2::date
    WHEN 'weekday' THEN $3::date - $2::date
    WHEN 'week' THEN (floor(($3::date - date '1899-12-31') / 7.0)
                      - floor(($2::date - date '1899-12-31') / 7.0))::integer
    WHEN 'hour' THEN (floor(extract(epoch FROM date_trunc('hour', $3)) / 3600)
                      - floor(extract(epoch FROM date_trunc('hour', $2)) / 3600))::integer
    WHEN 'minute' THEN (floor(extract(epoch FROM date_trunc('minute', $3)) / 60)
                        - floor(extract(epoch FROM date_trunc('minute', $2)) / 60))::integer
    WHEN 'second' THEN (extract(epoch FROM date_trunc('second', $3))
                        - extract(epoch FROM date_trunc('second', $2)))::integer
    ELSE (round(extract(epoch FROM $3 - $2) * 1000))::integer END $f$;
CREATE OR REPLACE FUNCTION rembiz.dateadd(text, numeric, timestamp) RETURNS timestamp
  LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$
  SELECT CASE rembiz.date_part_name($1)
    WHEN 'year' THEN $3 + trunc($2)::integer * interval '1 year'
    WHEN 'quarter' THEN $3 + trunc($2)::integer * interval '3 months'
    WHEN 'month' THEN $3 + trunc($2)::integer * interval '1 month'
    WHEN 'week' THEN $3 + trunc($2)::integer * interval '7 days'
    WHEN 'hour' THEN $3 + trunc($2)::integer * interval '1 hour'
    WHEN 'minute' THEN $3 + trunc($2)::integer * interval '1 minute'
    WHEN 'second' THEN $3 + trunc($2)::integer * interval '1 second'
    WHEN 'millisecond' THEN $3 + trunc($2)::integer * interval '1 millisecond'
    ELSE $3 + trunc($2)::integer * interval '1 day' END $f$;
CREATE OR REPLACE FUNCTION rembiz.datepart(text, timestamp) RETURNS integer LANGUAGE sql
  IMMUTABLE PARALLEL SAFE AS $f$
  SELECT CASE rembiz.date_part_name($1)
    WHEN 'year' THEN extract(year FROM $2)::integer
    WHEN 'quarter' THEN extract(quarter FROM $2)::integer
    WHEN 'month' THEN extract(month FROM $2)::integer
    WHEN 'dayofyear' THEN extract(doy FROM $2)::integer
    WHEN 'day' THEN extract(day FROM $2)::integer
    WHEN 'week' THEN ((extract(doy FROM $2)::integer
                       + extract(dow FROM date_trunc('year', $2))::integer - 1) / 7 + 1)
    WHEN 'weekday' THEN extract(dow FROM $2)::integer + 1
    WHEN 'hour' THEN extract(hour FROM $2)::integer
    WHEN 'minute' THEN extract(minute FROM $2)::integer
    WHEN 'second' THEN floor(extract(second FROM $2))::integer
    ELSE (floor(extract(milliseconds FROM $2))::integer % 1000) END $f$;
CREATE OR REPLACE FUNCTION rembiz.datename(text, timestamp) RETURNS text LANGUAGE sql STABLE
  PARALLEL SAFE AS $f$
  SELECT CASE rembiz.date_part_name($1)
    WHEN 'month' THEN to_char($2, 'FMMonth')
    WHEN 'weekday' THEN to_char($2, 'FMDay')
    ELSE rembiz.datepart($1, $2)::text END $f$;
-- GETDATE: the time the statement started, to the second, in the caller's time zone.
CREATE OR REPLACE FUNCTION rembiz.getdate() RETURNS timestamp LANGUAGE sql STABLE PARALLEL SAFE
  AS $f$ SELECT date_trunc('second', statement_timestamp()::timestamp) $f$;
CREATE OR REPLACE FUNCTION rembiz.getutcdate() RETURNS timestamp LANGUAGE sql STABLE
  PARALLEL SAFE AS $f$ SELECT date_trunc('second', timezone('UTC', statement_timestamp())) $f$;

-- CONVERT's date styles; an error for a style the server does not have.
CREATE OR REPLACE FUNCTION rembiz.date_text(timestamp, integer) RETURNS text LANGUAGE plpgsql
  STABLE PARALLEL SAFE AS $f$
DECLARE y text; s integer := $2;
BEGIN
  IF $1 IS NULL THEN RETURN NULL; END IF;
  y := CASE WHEN s >= 100 THEN to_char($1, 'YYYY') ELSE to_char($1, 'YY') END;
  RETURN CASE s
    WHEN 0 THEN rembiz.date_text_0($1) WHEN 100 THEN rembiz.date_text_0($1)
    WHEN 1 THEN to_char($1, 'MM/DD/') || y WHEN 101 THEN to_char($1, 'MM/DD/') || y
    WHEN 2 THEN y || to_char($1, '.MM.DD') WHEN 102 THEN y || to_char($1, '.MM.DD')
    WHEN 3 THEN to_char($1, 'DD/MM/') || y WHEN 103 THEN to_char($1, 'DD/MM/') || y
    WHEN 4 THEN to_char($1, 'DD.MM.') || y WHEN 104 THEN to_char($1, 'DD.MM.') || y
    WHEN 5 THEN to_char($1, 'DD-MM-') || y WHEN 105 THEN to_char($1, 'DD-MM-') || y
    WHEN 6 THEN to_char($1, 'DD Mon ') || y WHEN 106 THEN to_char($1, 'DD Mon ') || y
    WHEN 7 THEN to_char($1, 'Mon DD, ') || y WHEN 107 THEN to_char($1, 'Mon DD, ') || y
    WHEN 8 THEN to_char($1, 'HH24:MI:SS') WHEN 108 THEN to_char($1, 'HH24:MI:SS')
    WHEN 9 THEN rembiz.date_text_9($1) WHEN 109 THEN rembiz.date_text_9($1)
    WHEN 10 THEN to_char($1, 'MM-DD-') || y WHEN 110 THEN to_char($1, 'MM-DD-') || y
    WHEN 11 THEN y || to_char($1, '/MM/DD') WHEN 111 THEN y || to_char($1, '/MM/DD')
    WHEN 12 THEN y || to_char($1, 'MMDD') WHEN 112 THEN y || to_char($1, 'MMDD')
    WHEN 13 THEN to_char($1, 'DD Mon YYYY HH24:MI:SS:MS')
    WHEN 113 THEN to_char($1, 'DD Mon YYYY HH24:MI:SS:MS')
    WHEN 14 THEN to_char($1, 'HH24:MI:SS:MS') WHEN 114 THEN to_char($1, 'HH24:MI:SS:MS')
    WHEN 20 THEN to_char($1, 'YYYY-MM-DD HH24:MI:SS')
    WHEN 120 THEN to_char($1, 'YYYY-MM-DD HH24:MI:SS')
    WHEN 21 THEN to_char($1, 'YYYY-MM-DD HH24:MI:SS.MS')
    WHEN 25 THEN to_char($1, 'YYYY-MM-DD HH24:MI:SS.MS')
    WHEN 121 THEN to_char($1, 'YYYY-MM-DD HH24:MI:SS.MS')
    WHEN 23 THEN to_char($1, 'YYYY-MM-DD')
    WHEN 126 THEN to_char($1, 'YYYY-MM-DD"T"HH24:MI:SS')
                  || CASE WHEN extract(milliseconds FROM $1)::integer % 1000 <> 0
                          THEN to_char($1, '.MS') ELSE '' END
    WHEN 127 THEN to_char($1, 'YYYY-MM-DD"T"HH24:MI:SS')
                  || CASE WHEN extract(milliseconds FROM $1)::integer % 1000 <> 0
                          THEN to_char($1, '.MS') ELSE '' END
    ELSE rembiz.refuse_style(s) END;
END $f$;
CREATE OR REPLACE FUNCTION rembiz.date_text_0(timestamp) RETURNS text LANGUAGE sql STABLE
  PARALLEL SAFE AS $f$
  SELECT to_char($1, 'Mon ') || lpad(to_char($1, 'FMDD'), 2) || to_char($1, ' YYYY ')
         || lpad(to_char($1, 'FMHH12'), 2) || to_char($1, ':MIAM') $f$;
CREATE OR REPLACE FUNCTION rembiz.date_text_9(timestamp) RETURNS text LANGUAGE sql STABLE
  PARALLEL SAFE AS $f$
  SELECT to_char($1, 'Mon ') || lpad(to_char($1, 'FMDD'), 2) || to_char($1, ' YYYY ')
         || lpad(to_char($1, 'FMHH12'), 2) || to_char($1, ':MI:SS:MSAM') $f$;
CREATE OR REPLACE FUNCTION rembiz.refuse_style(integer) RETURNS text LANGUAGE plpgsql
  VOLATILE AS $f$
BEGIN
  RAISE EXCEPTION USING ERRCODE = '22023',
    MESSAGE = $1 || ' is not a valid style number when converting to a character type.';
END $f$;

-- CONVERT/CAST to a character type `type` ("varchar(10)", "char(4)", "nvarchar"): the value's
-- text (a date formatted by `style`, a decimal with `scale` decimals) cut to the type's length,
-- char(n) padded.
CREATE OR REPLACE FUNCTION rembiz.fit(text, text) RETURNS text LANGUAGE plpgsql IMMUTABLE
  PARALLEL SAFE AS $f$
DECLARE base text COLLATE "C" := split_part($2 COLLATE "C", '(', 1);
        len text COLLATE "C" := rtrim(split_part($2 COLLATE "C", '(', 2), ')');
        n integer;
BEGIN
  IF $1 IS NULL THEN RETURN NULL; END IF;
  IF base IN ('text', 'ntext') OR len = 'max' THEN RETURN $1; END IF;
  n := CASE WHEN len <> '' THEN greatest(1, len::integer)
            WHEN base = 'sysname' THEN 128 ELSE 30 END;
  IF length($1) > n THEN RETURN left($1, n); END IF;
  IF base IN ('char', 'nchar') AND len <> '' THEN RETURN rpad($1, n); END IF;
  RETURN $1;
END $f$;
CREATE OR REPLACE FUNCTION rembiz.to_text(text, text, integer DEFAULT NULL,
                                          integer DEFAULT NULL) RETURNS text LANGUAGE sql
  STABLE PARALLEL SAFE AS $f$
  SELECT rembiz.fit(CASE WHEN $3 IS NOT NULL AND btrim($1 COLLATE "C") <> ''
                              AND $1 COLLATE "C" ~ '^ *[0-9]{1,4}[-/.][0-9]{1,2}[-/.][0-9]{1,4}'
                         THEN rembiz.date_text(rembiz.dt($1), $3) ELSE $1 END, $2) $f$;
CREATE OR REPLACE FUNCTION rembiz.to_text(bpchar, text, integer DEFAULT NULL,
                                          integer DEFAULT NULL) RETURNS text LANGUAGE sql
  STABLE PARALLEL SAFE AS $f$ SELECT rembiz.to_text(rembiz.txt($1), $2, $3, $4) $f$;
CREATE OR REPLACE FUNCTION rembiz.to_text(timestamp, text, integer DEFAULT NULL,
                                          integer DEFAULT NULL) RETURNS text LANGUAGE sql
  STABLE PARALLEL SAFE AS $f$
  SELECT rembiz.fit(CASE WHEN $3 IS NULL THEN rembiz.txt($1)
                         ELSE rembiz.date_text($1, $3) END, $2) $f$;
CREATE OR REPLACE FUNCTION rembiz.to_text(numeric, text, integer DEFAULT NULL,
                                          integer DEFAULT NULL) RETURNS text LANGUAGE sql
  IMMUTABLE PARALLEL SAFE AS $f$
  SELECT rembiz.fit(CASE WHEN $4 IS NULL THEN rembiz.txt($1) ELSE round($1, $4)::text END, $2)
  $f$;
CREATE OR REPLACE FUNCTION rembiz.to_text(double precision, text, integer DEFAULT NULL,
                                          integer DEFAULT NULL) RETURNS text LANGUAGE sql
  IMMUTABLE PARALLEL SAFE AS $f$
  SELECT rembiz.fit(CASE WHEN $4 IS NULL THEN rembiz.txt($1)
                         ELSE round($1::numeric, $4)::text END, $2) $f$;
CREATE OR REPLACE FUNCTION rembiz.to_text(bigint, text, integer DEFAULT NULL,
                                          integer DEFAULT NULL) RETURNS text LANGUAGE sql
  IMMUTABLE PARALLEL SAFE AS $f$
  SELECT rembiz.fit(CASE WHEN coalesce($4, 0) = 0 THEN $1::text
                         ELSE round($1::numeric, $4)::text END, $2) $f$;
CREATE OR REPLACE FUNCTION rembiz.to_text(integer, text, integer DEFAULT NULL,
                                          integer DEFAULT NULL) RETURNS text LANGUAGE sql
  IMMUTABLE PARALLEL SAFE AS $f$ SELECT rembiz.to_text($1::bigint, $2, $3, $4) $f$;
CREATE OR REPLACE FUNCTION rembiz.to_text(uuid, text, integer DEFAULT NULL,
                                          integer DEFAULT NULL) RETURNS text LANGUAGE sql
  IMMUTABLE PARALLEL SAFE AS $f$ SELECT rembiz.fit(rembiz.txt($1), $2) $f$;
CREATE OR REPLACE FUNCTION rembiz.to_text(boolean, text, integer DEFAULT NULL,
                                          integer DEFAULT NULL) RETURNS text LANGUAGE sql
  IMMUTABLE PARALLEL SAFE AS $f$ SELECT rembiz.fit(rembiz.txt($1), $2) $f$;
-- CONVERT/CAST to a date type: `kind` "date" drops the time, "smalldatetime" rounds to the
-- minute.
CREATE OR REPLACE FUNCTION rembiz.to_datetime(timestamp, text) RETURNS timestamp LANGUAGE sql
  IMMUTABLE PARALLEL SAFE AS $f$
  SELECT CASE $2 WHEN 'date' THEN date_trunc('day', $1)
                 WHEN 'smalldatetime' THEN date_trunc('minute', $1 + interval '30 seconds')
                 ELSE $1 END $f$;

-- The catalog: OBJECT_ID gives "schema.name" ("main" for the account's own), as the translated
-- sysobjects' id column does; NULL when there is no such table or view.
CREATE OR REPLACE FUNCTION rembiz.object_id(text) RETURNS text LANGUAGE plpgsql STABLE AS $f$
DECLARE parts text[]; obj text; db text := ''; sch text;
BEGIN
  IF $1 IS NULL THEN RETURN NULL; END IF;
  parts := string_to_array(translate($1 COLLATE "C", '[]"', ''), '.');
  obj := lower(btrim(parts[array_length(parts, 1)]));
  IF array_length(parts, 1) >= 3 THEN db := lower(btrim(parts[1])); END IF;
  sch := CASE WHEN db IN ('tempdb', 'qdsystem') THEN db ELSE current_schema() END;
  IF NOT EXISTS (SELECT 1 FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace
                  WHERE n.nspname = sch AND c.relname = obj AND c.relkind IN ('r', 'v', 'p'))
  THEN
    RETURN NULL;
  END IF;
  RETURN CASE WHEN db IN ('tempdb', 'qdsystem') THEN db ELSE 'main' END || '.' || obj;
END $f$;
CREATE OR REPLACE FUNCTION rembiz.objectproperty(text, text) RETURNS integer LANGUAGE plpgsql
  STABLE AS $f$
DECLARE sch text := split_part($1 COLLATE "C", '.', 1); kind "char";
BEGIN
  IF $1 IS NULL OR $2 IS NULL THEN RETURN NULL; END IF;
  IF sch = 'main' THEN sch := current_schema(); END IF;
  SELECT c.relkind INTO kind FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace
   WHERE n.nspname = sch AND c.relname = split_part($1 COLLATE "C", '.', 2);
  IF kind IS NULL THEN RETURN NULL; END IF;
  RETURN CASE lower($2 COLLATE "C")
    WHEN 'isusertable' THEN CASE WHEN kind IN ('r', 'p') THEN 1 ELSE 0 END
    WHEN 'istable' THEN CASE WHEN kind IN ('r', 'p') THEN 1 ELSE 0 END
    WHEN 'isview' THEN CASE WHEN kind = 'v' THEN 1 ELSE 0 END
    ELSE NULL END;
END $f$;

-- TRUNCATE TABLE starts an IDENTITY column over.
CREATE OR REPLACE FUNCTION rembiz.restart_identity(text) RETURNS void LANGUAGE plpgsql AS $f$
DECLARE c record;
BEGIN
  FOR c IN SELECT a.attname FROM pg_attribute a
            WHERE a.attrelid = to_regclass($1) AND a.attidentity <> '' AND NOT a.attisdropped
  LOOP
    EXECUTE format('ALTER TABLE %s ALTER COLUMN %I RESTART', to_regclass($1), c.attname);
  END LOOP;
END $f$;

-- A value its column cannot hold, refused in the server's words (kinds: 1 too long, 2 out of
-- range, 3 not a number).
CREATE OR REPLACE FUNCTION rembiz.refuse(integer, text, text, bigint, text DEFAULT '')
  RETURNS void LANGUAGE plpgsql AS $f$
DECLARE place text := ' in table ''dbo.' || $2 || ''', column ''' || $3 || '''';
BEGIN
  IF $1 = 1 THEN
    RAISE EXCEPTION USING ERRCODE = 'RZ001', MESSAGE = 'String or binary data would be truncated'
      || place || ': it holds at most ' || $4 || ' characters.';
  END IF;
  RAISE EXCEPTION USING ERRCODE = 'RZ001',
    MESSAGE = 'Arithmetic overflow error converting a value to data type ' || $5 || place || '.';
END $f$;
)sql";

// Comparisons of a text with a number, a date or a GUID: the server converts the text to the
// other side's type. Each pair gets its operators in `rembiz`, which is on every search path.
std::string MixedOperators() {
  struct Pair {
    const char* left;
    const char* right;
    const char* left_expr;
    const char* right_expr;
  };
  static const Pair kPairs[] = {
      {"bpchar", "integer", "rembiz.num($1)", "$2"},
      {"integer", "bpchar", "$1", "rembiz.num($2)"},
      {"bpchar", "bigint", "rembiz.num($1)", "$2"},
      {"bigint", "bpchar", "$1", "rembiz.num($2)"},
      {"bpchar", "numeric", "rembiz.num($1)", "$2"},
      {"numeric", "bpchar", "$1", "rembiz.num($2)"},
      {"bpchar", "double precision", "rembiz.num($1)::double precision", "$2"},
      {"double precision", "bpchar", "$1", "rembiz.num($2)::double precision"},
      {"text", "integer", "rembiz.num($1)", "$2"},
      {"integer", "text", "$1", "rembiz.num($2)"},
      {"text", "bigint", "rembiz.num($1)", "$2"},
      {"bigint", "text", "$1", "rembiz.num($2)"},
      {"text", "numeric", "rembiz.num($1)", "$2"},
      {"numeric", "text", "$1", "rembiz.num($2)"},
      {"bpchar", "timestamp", "rembiz.dt($1)", "$2"},
      {"timestamp", "bpchar", "$1", "rembiz.dt($2)"},
      {"bpchar", "uuid", "($1::text)::uuid", "$2"},
      {"uuid", "bpchar", "$1", "($2::text)::uuid"},
      {"text", "uuid", "$1::uuid", "$2"},
      {"uuid", "text", "$1", "$2::uuid"},
  };
  struct Op {
    const char* symbol;
    const char* name;
  };
  static const Op kOps[] = {{"=", "eq"}, {"<>", "ne"}, {"<", "lt"},
                            {">", "gt"}, {"<=", "le"}, {">=", "ge"}};
  std::string out;
  int n = 0;
  for (const Pair& p : kPairs) {
    ++n;
    for (const Op& op : kOps) {
      std::string fn = "rembiz.cmp_" + std::string(op.name) + "_" + std::to_string(n);
      out += "CREATE OR REPLACE FUNCTION " + fn + "(" + p.left + ", " + p.right +
             ") RETURNS boolean LANGUAGE sql STABLE PARALLEL SAFE AS $f$ SELECT " + p.left_expr +
             " " + op.symbol + " " + p.right_expr + " $f$;\n";
      out += "DO $d$ BEGIN IF NOT EXISTS (SELECT 1 FROM pg_operator WHERE oprname = '" +
             std::string(op.symbol) +
             "' AND oprnamespace = 'rembiz'::regnamespace AND oprleft = '" + p.left +
             "'::regtype AND oprright = '" + p.right + "'::regtype) THEN CREATE OPERATOR rembiz." +
             op.symbol + " (LEFTARG = " + p.left + ", RIGHTARG = " + p.right +
             ", FUNCTION = " + fn + "); END IF; END $d$;\n";
    }
  }
  // Arithmetic of a text with a number: the text is read as a number of the other side's type.
  static const char* kTexts[] = {"text", "bpchar"};
  static const char* kNumbers[] = {"integer", "bigint", "numeric", "double precision"};
  static const Op kArithmetic[] = {
      {"+", "add"}, {"-", "sub"}, {"*", "mul"}, {"/", "div"}, {"%", "mod"}};
  for (const char* text : kTexts) {
    for (const char* number : kNumbers) {
      for (bool text_left : {true, false}) {
        ++n;
        const std::string left = text_left ? text : number;
        const std::string right = text_left ? number : text;
        const std::string read =
            "rembiz.num($" + std::string(text_left ? "1" : "2") + ")::" + number;
        const std::string a = text_left ? read : "$1";
        const std::string b = text_left ? "$2" : read;
        for (const Op& op : kArithmetic) {
          if (std::string(op.symbol) == "%" && std::string(number) == "double precision") continue;
          std::string fn = "rembiz.arith_" + std::string(op.name) + "_" + std::to_string(n);
          out += "CREATE OR REPLACE FUNCTION " + fn + "(" + left + ", " + right + ") RETURNS " +
                 number + " LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$ SELECT " + a + " " +
                 op.symbol + " " + b + " $f$;\n";
          out += "DO $d$ BEGIN IF NOT EXISTS (SELECT 1 FROM pg_operator WHERE oprname = '" +
                 std::string(op.symbol) +
                 "' AND oprnamespace = 'rembiz'::regnamespace AND oprleft = '" + left +
                 "'::regtype AND oprright = '" + right +
                 "'::regtype) THEN CREATE OPERATOR rembiz." + op.symbol + " (LEFTARG = " + left +
                 ", RIGHTARG = " + right + ", FUNCTION = " + fn + "); END IF; END $d$;\n";
        }
      }
    }
  }
  return out;
}

}  // namespace

// SQL that arrives with a request runs on connections that log in as a role of its own, made
// per database by its owner (who needs CREATEROLE): it may read the module's tables, never
// write, never see sessions or password hashes, and is a member of no other role, so nothing it
// runs can SET ROLE back to the owner. Its password is random and kept where only the owner
// reads it; ensure_reader(renew) makes the role when it is missing and a new password when asked.
constexpr const char* kReader = R"sql(
CREATE SCHEMA IF NOT EXISTS rembiz;
CREATE SCHEMA IF NOT EXISTS tempdb;
CREATE SCHEMA IF NOT EXISTS qdsystem;
CREATE TABLE IF NOT EXISTS rembiz.reader_login (role name PRIMARY KEY, password text NOT NULL);
REVOKE ALL ON rembiz.reader_login FROM PUBLIC;
CREATE OR REPLACE FUNCTION rembiz.ensure_reader(renew boolean)
  RETURNS TABLE (login name, secret text) LANGUAGE plpgsql AS $f$
DECLARE r name := left('rembiz_reader_' || lower(regexp_replace(current_database(),
                                                               '[^A-Za-z0-9_]', '_', 'g')), 63);
        p text;
BEGIN
  SELECT l.password INTO p FROM rembiz.reader_login l WHERE l.role = r;
  IF renew OR p IS NULL OR NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = r) THEN
    p := md5(gen_random_uuid()::text) || md5(gen_random_uuid()::text);
    IF EXISTS (SELECT 1 FROM pg_roles WHERE rolname = r) THEN
      EXECUTE format('ALTER ROLE %I LOGIN NOINHERIT NOSUPERUSER NOCREATEDB NOCREATEROLE '
                     'NOREPLICATION PASSWORD %L', r, p);
    ELSE
      EXECUTE format('CREATE ROLE %I LOGIN NOINHERIT NOSUPERUSER NOCREATEDB NOCREATEROLE '
                     'NOREPLICATION PASSWORD %L', r, p);
    END IF;
    EXECUTE format('ALTER ROLE %I SET default_transaction_read_only = on', r);
    DELETE FROM rembiz.reader_login;
    INSERT INTO rembiz.reader_login VALUES (r, p);
  END IF;
  EXECUTE format('GRANT USAGE ON SCHEMA rembiz, tempdb, qdsystem TO %I', r);
  EXECUTE format('ALTER DEFAULT PRIVILEGES IN SCHEMA qdsystem GRANT SELECT ON TABLES TO %I', r);
  EXECUTE format('ALTER DEFAULT PRIVILEGES IN SCHEMA tempdb GRANT SELECT ON TABLES TO %I', r);
  RETURN QUERY SELECT r, p;
END $f$;
-- Makes sure the reader reaches the tables of `schema`, qdsystem and tempdb but neither the
-- sessions, the failed log-ins nor the password hashes.
CREATE OR REPLACE FUNCTION rembiz.guard_reader(schema text, reader name) RETURNS void
  LANGUAGE plpgsql AS $f$
DECLARE sessions regclass := to_regclass('qdsystem.ua_session');
        failures regclass := to_regclass('qdsystem.ua_loginfailure');
        users regclass := to_regclass('qdsystem.ua_user');
BEGIN
  EXECUTE format('GRANT USAGE ON SCHEMA %I TO %I', schema, reader);
  EXECUTE format('ALTER DEFAULT PRIVILEGES IN SCHEMA %I GRANT SELECT ON TABLES TO %I', schema,
                 reader);
  EXECUTE format('GRANT SELECT ON ALL TABLES IN SCHEMA %I, qdsystem, tempdb TO %I', schema,
                 reader);
  IF sessions IS NOT NULL THEN
    EXECUTE format('REVOKE ALL ON qdsystem.ua_session FROM %I', reader);
  END IF;
  IF failures IS NOT NULL THEN
    EXECUTE format('REVOKE ALL ON qdsystem.ua_loginfailure FROM %I', reader);
  END IF;
  IF users IS NOT NULL THEN
    EXECUTE format('REVOKE ALL ON qdsystem.ua_user FROM %I', reader);
    EXECUTE (SELECT 'GRANT SELECT (' || string_agg(quote_ident(attname), ', ') ||
                    ') ON qdsystem.ua_user TO ' || quote_ident(reader)
               FROM pg_attribute WHERE attrelid = users AND attnum > 0 AND NOT attisdropped
                AND attname <> 'cpassword');
  END IF;
END $f$;
)sql";

std::string SupportScript() { return std::string(kBase) + MixedOperators(); }

std::string ReaderSupportScript() { return kReader; }

}  // namespace rembiz::db::postgres
