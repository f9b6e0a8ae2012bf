// Loans and claims as every view shows them: reading a voucher (head, rows, approval flow,
// write-offs, payment lines) and its read-only rendering. A voucher's state comes with its head
// from the service (strState, strStateName), worked out there from the approval and the
// settlement; the pages never derive it.
import * as api from './api.js';
import {day, facts, field, h, input, money, num, section, select, table} from './dom.js';
import {t} from './i18n.js';
import {go, guard} from './nav.js';
import {rowReceipts} from './receipts.js';
import {options, refs} from './refs.js';

export const KINDS = {
  loan: {
    cls: 'CLoan',
    list: 'listloandata',
    table: 'ec_loanvouch',
    head: 'vchgetloanheaddata',
    body: 'vchgetloanbodydata'
  },
  claim: {
    cls: 'CExpense',
    list: 'listrepaydata',
    table: 'ec_expenvouch',
    head: 'vchgetexpenheaddata',
    body: 'vchgetExpenbodydata'
  },
};

// The voucher kinds of the approval class: "EC03" loans, "EC01" income, "EC02" expenditure.
export function auditType(typeCode) {
  const family = String(typeCode || '')[0];
  return family === '3' ? 'EC03' : family === '1' ? 'EC01' : 'EC02';
}
// The template cards of the entry pages: "EC01" loans, "EC02" income, "EC03" expenditure.
export function cardOf(typeCode) {
  const family = String(typeCode || '')[0];
  return family === '3' ? 'EC01' : family === '1' ? 'EC02' : 'EC03';
}
export function truthy(value) {
  return ['true', '1', '-1'].includes(String(value ?? '').toLowerCase());
}
export function date(value) {
  return String(value || '').slice(0, 10);
}

// One page of a list of CQuery: {rows, current, count}, or {rows: [], note} with the message of
// a refusal (an empty list is one: "no data matches"). The list class answers a failure with an
// error document for the whole request, so every list goes alone.
export async function readList(name, inner, current = 0, size = 200) {
  try {
    const [out] = await api.call('CQuery', [
      api.op(
          name, `<in><page><current>${current}</current><rows>${size}</rows></page>${inner}</in>`)
    ]);
    const answer = api.must(out);
    const number = (tag) => +answer.getElementsByTagName(tag)[0].textContent;
    return {
      rows: api.records(answer.getElementsByTagName('data')[0]),
      current: number('current'),
      count: number('count')
    };
  } catch (e) {
    if (e instanceof api.SessionLost) throw e;
    return {rows: [], note: e.message, current: 0, count: 0};
  }
}

// Head and rows of a voucher by its AutoID, read through the public information class (which any
// operator may call: approvers and cashiers open vouchers they did not enter).
export async function readVoucher(kind, autoid) {
  const k = KINDS[kind];
  const which = `<in><r${api.attrs({AutoID: autoid})}/></in>`;
  const [head, body] = await api.call('CPubMsg', [api.op(k.head, which), api.op(k.body, which)]);
  api.must(head);
  api.must(body);
  const v = api.recordset(head)[0];
  if (!v) throw new api.ServiceError(t('voucher.missing'));
  return {kind, head: v, rows: api.recordset(body)};
}

// The approval flow of submitted vouchers by GUID (one request), as {step, steps, state, records}.
export async function readFlows(heads) {
  // Drafts too: one taken back after a rejection keeps the flow's history.
  const asked = heads.filter((v) => v.GUID);
  if (!asked.length) return {};
  // A voucher that was never submitted has no flow: the class refuses, and there is no history.
  const outs = await api
                   .call(
                       'CAudit',
                       asked.map(
                           (v) => api.op(
                               'GetAuditInfo',
                               `<in><guid>${api.x(v.GUID)}</guid><strType>${
                                   auditType(v.strTypeCode)}</strType></in>`,
                               {goon: '1'})))
                   .catch((e) => {
                     if (e instanceof api.SessionLost) throw e;
                     return [];
                   });
  const flows = {};
  asked.forEach((v, i) => {
    const flow = outs[i] && outs[i].getElementsByTagName('flow')[0];
    if (!flow) return;
    flows[v.GUID] = {
      state: flow.getAttribute('state'),
      step: +flow.getAttribute('step'),
      steps: api.records(flow, 'step'),
      records: api.records(flow, 'record'),
      name: flow.getAttribute('name')
    };
  });
  return flows;
}

// What became of the voucher in the budget.
function budgetOf(v) {
  if (!v.strBudItemID) return t('budget.none');
  const item = `${v.strBudItemName || v.strBudItemID}: `;
  if (String(v.intOverBud) === '1' || String(v.intOverBud) === '3') return item + t('budget.over');
  if (String(v.intBudPass) === '1') return item + t('budget.within');
  return item + t('budget.pending');
}

// ---------------------------------------------------------------------------------------------
// Rendering.

export function headFacts(kind, v) {
  return facts([
    [t('f.number'), v.strVouchID],
    [t('f.type'), v.strTypeName],
    [t('f.date'), day(v.dtLoanDate)],
    [t('f.department'), v.strDepartName],
    [t(kind === 'loan' ? 'f.borrower' : 'f.claimant'), v.strLoanName],
    [t('f.currency'), `${v.strBill} · ${v.fltRate}`],
    [t('f.amount'), money(v.dblMoney)],
    kind === 'loan' ? [t('f.returned'), money(v.dblReturn)] : [t('f.local'), money(v.dblOldMoney)],
    [t('f.purpose'), v.strUsed],
    [t('f.budget'), budgetOf(v)],
    [t('f.enteredBy'), v.strPersonID],
    [t('f.approvedBy'), v.strAuditorID],
    kind === 'claim' ? [t('f.verifiedBy'), v.strVerifier] : [t('f.expDate'), day(v.dtExpDate)],
    [t('f.state'), v.strStateName],
  ]);
}

// The rows of a voucher; with `receipts` (readReceipts) a claim's rows show theirs.
export function rowsTable(kind, rows, receipts) {
  if (kind === 'loan') {
    return table(
        [
          {label: t('f.settlement'), cell: (r) => r.strBalanceName || r.strBalanceID},
          {label: t('f.amount'), align: 'right', cell: (r) => money(r.dblMoney || r.dblPreMoney)},
          {label: t('f.billNo'), key: 'strBillID'},
          {label: t('f.payBank'), cell: (r) => r.strPayBankName || r.strPayBankID},
          {label: t('f.payeeBank'), key: 'strBankName'},
          {label: t('f.payeeAcc'), key: 'strBankAcc'},
          {label: t('f.bank'), cell: (r) => bankState(r)},
        ],
        rows, t('v.rows'));
  }
  return table(
      [
        {label: t('f.item'), cell: (r) => r.strIOItemName || r.strIOItem},
        {
          label: t('f.days'),
          cell: (r) => [day(r.dtBDate), day(r.dtEDate)].filter(Boolean).join(' – ')
        },
        {label: t('f.place'), cell: (r) => r.strEZeroName || r.strEZero},
        {label: t('f.transport'), cell: (r) => r.strJTToolsName || r.strJTTools},
        {label: t('f.receipt'), align: 'right', cell: (r) => money(r.dblVouch)},
        {
          label: t('f.qty'),
          align: 'right',
          cell: (r) => r.dblNumber ? Number(r.dblNumber).toLocaleString() : ''
        },
        {label: t('f.standard'), align: 'right', cell: (r) => money(r.dblStand)},
        {label: t('f.amount'), align: 'right', cell: (r) => money(r.dblMoney)},
        {label: t('f.excess'), align: 'right', cell: (r) => excessOf(r)},
        {label: t('f.memo'), key: 'strMemo'},
        ...(receipts ? [{label: t('rc.title'), cell: (r) => rowReceipts(receipts, r._n)}] : []),
      ],
      rows.map((r, i) => ({...r, _n: i + 1, _data: {row: String(i + 1)}})), t('v.rows'));
}

// The part of a claim row above the standard the claimant was shown (stored with the row).
function excessOf(r) {
  if (r.dblStand === undefined || r.dblStand === '') return '';
  const over = num(r.dblMoney) - num(r.dblStand);
  return over > 0.005 ? h('span', {class: 'over'}, money(over)) : '';
}

// The bank's side of an online payment line.
export function bankState(line) {
  if (!line.strPayID && !line.strpayid) return t('bank.notSent');
  return truthy(line.blnNetOK ?? line.blnnetok) ? t('bank.paid') : t('bank.sent');
}

export function historySection(flow) {
  if (!flow) return null;
  const steps = flow.steps.map((s) => `${s.no}. ${s.name}${s.current === '1' ? ' ←' : ''}`);
  return section(
      t('v.history'), h('p', {class: 'muted'}, `${flow.name}: ${steps.join(' · ')}`),
      flow.records.length ?
          table(
              [
                ...(flow.records.some((r) => r.round !== '1') ?
                        [{label: t('f.round'), cell: (r) => t('v.round', r.round)}] :
                        []),
                {label: t('f.step'), key: 'step'},
                {
                  label: t('f.approver'),
                  cell: (r) => r.forname ? t('v.actedFor', r.username, r.forname) : r.username
                },
                {label: t('f.action'), key: 'actionname'},
                {label: t('f.remark'), key: 'remark'},
                {label: t('f.time'), key: 'time'},
                ...(flow.records.some((r) => r.undone === '1') ?
                        [{label: '', cell: (r) => r.undone === '1' ? t('v.undone') : ''}] :
                        []),
              ],
              flow.records) :
          h('p', {class: 'muted'}, t('v.noRecords')));
}

// The voucher's history of changes: every save, step, payment and ledger voucher, oldest first
// (CPubMsg, with the voucher's permissions); [] when it cannot be read.
export async function readChanges(v) {
  try {
    const [out] = await api.call(
        'CPubMsg',
        [api.op('vchgethistory', `<in><GUID>${api.x(v.GUID)}</GUID></in>`, {goon: '1'})]);
    return api.failure(out) ? [] : api.recordset(out);
  } catch (e) {
    if (e instanceof api.SessionLost) throw e;
    return [];
  }
}

// The columns people know by a label of the forms; any other by its own name.
const CHANGED_FIELD = {
  strUsed: 'f.purpose',
  dblMoney: 'f.amount',
  dblOldMoney: 'f.local',
  dtLoanDate: 'f.date',
  strDepartID: 'f.department',
  strLoanID: 'f.claimant',
  strTypeCode: 'f.type',
  strBill: 'f.currency',
  strIOItem: 'f.item',
  strMemo: 'f.memo',
  dblVouch: 'f.receipt',
  dblNumber: 'f.qty',
  strBalanceID: 'f.settlement',
  strBillID: 'f.billNo',
  strPayID: 'f.payId',
  blnNetOK: 'f.bank',
  dblJE: 'f.writeOff',
  blnUsed: 'hist.writeOffKind',
  strLoanVouchID: 'f.loan',
  intIOType: 'f.direction',
  strPayBankID: 'f.payBank',
  strPayment: 'f.payee',
  strRecBank: 'f.payeeBank',
  strRecAcc: 'f.payeeAcc',
};

// What an entry changed, one line a field: "Row 2 · Amount: 100 → 120".
function changeLines(json) {
  let changes = [];
  try {
    changes = JSON.parse(json || '[]');
  } catch (e) {
    return '';
  }
  if (!changes.length) return '';
  // Flags as yes and no; dates without a midnight time.
  const flag = {True: t('hist.yes'), False: t('hist.no')};
  const shown = (value) =>
      value === null || value === '' ? '—' : flag[value] || String(value).replace('T00:00:00', '');
  return h(
      'ul', {class: 'changes'},
      changes.map(
          (c) =>
              h('li', null,
                `${c.row ? `${t('hist.row', c.row)} · ` : ''}${
                    CHANGED_FIELD[c.field] ? t(CHANGED_FIELD[c.field]) :
                                             c.field}: ${shown(c.old)} → ${shown(c.new)}`)));
}

// Who made a change: a substitute for the approver, the bank, or the user.
function changedBy(e) {
  if (!e.cUser_Name && !e.cUser_Id) return t('hist.bank');
  const name = e.cUser_Name || e.cUser_Id;
  return e.cForUser_Id ? t('hist.for', name, e.cForUser_Name || e.cForUser_Id) : name;
}

export function changesSection(entries) {
  if (!entries.length) return null;
  return section(
      t('hist.title'),
      table(
          [
            {label: t('f.time'), cell: (e) => String(e.dTime || '').replace('T', ' ').slice(0, 16)},
            {label: t('hist.event'), cell: (e) => t(`hist.${e.cEvent}`)},
            {label: t('hist.by'), cell: changedBy},
            {label: t('f.remark'), key: 'cRemark'},
            {label: t('hist.changes'), cell: (e) => changeLines(e.cChanges)},
          ],
          entries));
}

export function writeOffTable(rows) {
  return table(
      [
        {label: t('f.loan'), key: 'strVouchID'},
        {label: t('f.date'), cell: (r) => day(r.dtLoanDate)},
        {label: t('f.borrower'), key: 'strLoan'},
        {label: t('f.settlement'), key: 'strBalance'},
        {label: t('f.amount'), align: 'right', cell: (r) => money(r.dblMoney || r.dblPreMoney)},
        {label: t('f.returned'), align: 'right', cell: (r) => money(r.dblReturn)},
        {label: t('f.writeOff'), align: 'right', cell: (r) => money(r.dblRetValue)},
      ],
      rows, t('v.writeOffs'));
}

export function paymentTable(rows, extra) {
  return table(
      [
        {label: t('f.direction'), key: 'intIOType'},
        {label: t('f.settlement'), key: 'strBalance'},
        {label: t('f.amount'), align: 'right', cell: (r) => money(r.dblMoney)},
        {label: t('f.billNo'), key: 'strBillID'},
        {label: t('f.payBank'), key: 'strPayBankName'},
        {label: t('f.payee'), key: 'strPayment'},
        {label: t('f.payeeBank'), key: 'strBankName'},
        {label: t('f.payeeAcc'), key: 'strBankAcc'},
        {label: t('f.payId'), key: 'strPayID'},
        ...(extra || []),
      ],
      rows, t('v.payments'));
}

// The claim's write-offs and payment lines (CExpense; null when the operator may not read them).
export async function readSettlement(v, {payments = true} = {}) {
  // The write-offs through the public reads, which any operator who may see the claim may call
  // (approvers among them); the payment lines through the claim class, for those who settle.
  const which = `<in${api.attrs({GUID: v.GUID, strBill: v.strBill, fltRate: v.fltRate})}/>`;
  try {
    const [loans] = await api.call('CPubMsg', [api.op('vchgetexpenloandata', which, {goon: '1'})]);
    let lines = null;
    if (payments) {
      [lines] = await api.call(
          'CExpense', [api.op('GetExpenInfo', `<in${api.attrs({GUID: v.GUID})}/>`, {goon: '1'})]);
    }
    return {
      writeOffs: api.failure(loans) ? [] : api.records(loans),
      payments: !lines || api.failure(lines) ? [] : api.records(lines)
    };
  } catch (e) {
    if (e instanceof api.SessionLost) throw e;
    return null;
  }
}

// ---------------------------------------------------------------------------------------------
// Searching and filtering the lists. The server narrows and pages: a word (number, person,
// purpose), the approval state, a date range, the department and the type.

// The search form of a voucher list of `kind` ('loan', 'claim' or 'any' for both); `show()` runs
// when it is sent. `request(kind, fixed)` gives a list request's <cond> (the fixed condition rows
// and the chosen ones) and <search>.
export async function listFilter(kind, show) {
  const {departments, types} = await refs('departments', 'types');
  const family = (code) => kind === 'any' || (kind === 'loan') === String(code).startsWith('3');
  const word = input('q', '', {type: 'search', placeholder: t('filter.wordHint')});
  const state = select(
      'state',
      [
        ['draft', t('filter.draft')], ['waiting', t('filter.waiting')],
        ['approved', t('filter.approved')]
      ],
      '', t('filter.any'));
  const from = input('from', '', {type: 'date'});
  const to = input('to', '', {type: 'date'});
  const department = select('department', options(departments), '', t('filter.any'));
  const type = select('type', options(types.filter((x) => family(x.code))), '', t('filter.any'));
  // On a phone the filters beyond the word wait behind "More filters", so the list shows.
  const more = h(
      'details', {class: 'more', open: window.innerWidth > 600},
      h('summary', null, t('filter.more')),
      h('div', {class: 'filters-grid'}, field(t('f.state'), state), field(t('filter.from'), from),
        field(t('filter.to'), to), field(t('f.department'), department), field(t('f.type'), type)));
  const form =
      h('form', {class: 'filters', role: 'search'},
        h('div', {class: 'search-line'}, field(t('filter.word'), word),
          h('button', {type: 'submit'}, t('filter.apply'))),
        more);
  form.addEventListener('submit', (e) => {
    e.preventDefault();
    guard(show);
  });
  const row = (table, column, value, fieldtype = '0') => `<row${
      api.attrs({name: column, fieldname: `${table}.${column}`, fieldtype, value, type: '0'})}/>`;
  const request = (k, fixed = '') => {
    const table = KINDS[k].table;
    const rows = [fixed];
    if (from.value) rows.push(row(table, 'dtloandate', from.value, '1'));
    // The end of the last day: stored dates may carry a time.
    if (to.value) rows.push(row(table, 'dtloandate', `${to.value} 23:59:59`, '2'));
    if (department.value) rows.push(row(table, 'strdepartid', department.value));
    if (type.value) rows.push(row(table, 'strtypecode', type.value));
    return `<cond>${rows.join('')}</cond><search${
        api.attrs({text: word.value.trim(), state: state.value})}/>`;
  };
  return {form, request};
}

// The amount columns' totals of a page of rows, as the last line of its table.
export function totals(rows, keys) {
  const out = {};
  for (const [key, read] of Object.entries(keys)) {
    out[key] = money(rows.reduce((sum, r) => sum + num(read(r)), 0));
  }
  return out;
}

// How much work waits for the operator, by navigation view: vouchers to approve, claims to
// settle and payment lines to pay (not confirmed by the bank, or cash rows not paid out) and
// vouchers waiting for their ledger voucher. A list of one row per page counts its keys in its
// pages.
const notConfirmed = `<cond><row${api.attrs({
  name: 'blnnetok',
  fieldname: 'ec_vchs.blnnetok',
  fieldtype: '0',
  value: '0',
  type: '6'
})}/></cond>`;
// Approved claims ("from the empty approver on": every approver name) not settled yet.
export const toSettle = `<cond>${
        [{
          name: 'strauditorid',
          fieldname: 'ec_expenvouch.strauditorid',
          fieldtype: '1',
          value: '',
          type: '0'
        },
         {
           name: 'blnsettle',
           fieldname: 'ec_expenvouch.blnsettle',
           fieldtype: '0',
           value: '0',
           type: '6'
         }].map((r) => `<row${api.attrs(r)}/>`)
            .join('')}</cond>`;
export const WAITING = {
  inbox: (user) => {
    const cond = `<cond/><auditcond${api.attrs({auditcondition: '0', Auditor: user})}/>`;
    return [['listloandata', cond], ['listrepaydata', cond]];
  },
  pay: () => [
      ['listrepaydata', toSettle], ['listnetpaydata', notConfirmed],
      ['listcashpaydata', notConfirmed]],
  ledger: () => [['listmakepzdata', `<cond/><search${api.attrs({state: 'waiting'})}/>`]],
};
export async function countWaiting(view, user) {
  const counts = await Promise.all(WAITING[view](user).map(async ([name, inner]) => {
    const page = await readList(name, inner, 0, 1);
    return page.note ? 0 : page.count;
  }));
  return counts.reduce((a, b) => a + b, 0);
}

// A search word alone, kept in the view's address (#/<view>/<word>) so that paging and going
// back keep it.
export function wordSearch(view, word) {
  const box = input('q', word, {type: 'search', placeholder: t('filter.wordHint')});
  return h(
      'form', {
        class: 'filters',
        role: 'search',
        onsubmit: (e) => {
          e.preventDefault();
          const text = box.value.trim();
          go(text ? `/${view}/${encodeURIComponent(text)}` : `/${view}`);
        }
      },
      h('div', {class: 'search-line'}, field(t('filter.word'), box),
        h('button', {type: 'submit'}, t('filter.apply'))));
}
