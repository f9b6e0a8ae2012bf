// The pick lists of the forms, read through the reference lookup of the public information
// class (a table and its columns; the lookup runs them read-only) and kept for the session.
import * as api from './api.js';
import {session} from './session.js';

// name: table, its columns, a condition on them, the code and the text column.
const LISTS = {
  departments: ['Department', 'cDepCode,cDepName,bDepEnd', 'bDepEnd=1'],
  persons: ['Person', 'cPersonCode,cPersonName,cDepCode', ''],
  settlements: ['SettleStyle', 'cSSCode,cSSName,bSSEnd,bSSFlag', 'bSSEnd=1'],
  banks: ['Bank', 'cBCode,cBName', ''],
  items: ['EC_IOItem', 'strCode,strName,blnEnd', 'blnEnd=1'],
  places: ['EC_Position', 'strPositionCode,strPositionName', ''],
  transport: ['EC_EISet_NUStand', 'strEICode,strEIName,intEICode', 'intEICode=3'],
  budgetItems: ['BG_Item', 'cItemCode,cItemName', ''],
  signs: ['dsign', 'csign,ctext,isignseq', ''],
  types: ['EC_OperationType', 'strCode,strName', ''],
};

let cache = {owner: '', lists: {}};

// {name: [{code, text, row}]} for the lists asked; one request for those not read yet.
export async function refs(...names) {
  if (cache.owner !== session.user + '@' + session.account) {
    cache = {owner: session.user + '@' + session.account, lists: {}};
  }
  const missing = names.filter((n) => !cache.lists[n]);
  if (missing.length) {
    const outs = await api.call('CPubMsg', missing.map((n) => {
      const [table, col, match] = LISTS[n];
      const code = col.split(',')[0];
      return api.op(
          'refer', `<in${api.attrs({
            type: 'col',
            name: table,
            col,
            match,
            order: n === 'signs' ? 'isignseq' : code,
            length: 1000,
            current: 1
          })}/>`,
          {goon: '1'});
    }));
    missing.forEach((n, i) => {
      const cols = LISTS[n][1].split(',');
      // A list without rows answers "no data": an empty pick list.
      cache.lists[n] = api.failure(outs[i]) ?
          [] :
          api.recordset(outs[i]).map((row) => ({code: row[cols[0]], text: row[cols[1]], row}));
    });
  }
  return Object.fromEntries(names.map((n) => [n, cache.lists[n]]));
}

// [value, "code name"] pairs for a select.
export function options(list) {
  return list.map((r) => [r.code, `${r.code} ${r.text}`]);
}

// The currencies with their conversion rule (bcal) and decimals.
export async function currencies() {
  if (!cache.lists.currencies) {
    const [out] = await api.call('CPubMsg', [api.op('currencyget')]);
    api.must(out);
    cache.lists.currencies = api.records(out);
  }
  return cache.lists.currencies;
}

// The rate of a currency on a date as the account keeps it ("" when it has none).
export async function rateOf(currency, day) {
  const [out] = await api.call('CPubMsg', [
    api.op(
        'hlget', `<in><exchname>${api.x(currency)}</exchname><curdate>${api.x(day)}</curdate></in>`)
  ]);
  return api.must(out).textContent;
}
