// The cashier's pages: approved claims to settle (payment lines beside the advances written
// off), and the payment lines to send to the bank online with the bank's state of each.
import * as api from './api.js';
import {day, field, h, input, money, num, pickBox, plain, section, select, table} from './dom.js';
import {t} from './i18n.js';
import {go, guard} from './nav.js';
import {readReceipts, voucherReceipts} from './receipts.js';
import {options, refs} from './refs.js';
import {bankState, headFacts, paymentTable, readList, readSettlement, readVoucher, rowsTable, toSettle, totals, wordSearch, writeOffTable} from './vouchers.js';

export const routes = {
  pay: (word) => payView(word),
  settle: (id) => settleView(id),
};

// The total line of a list's amounts, under its number column.
function pageTotal(rows) {
  return {strvouchid: t('list.pageTotal'), ...totals(rows, {dblmoney: (r) => r.dblmoney})};
}

function cond(...rows) {
  return '<cond>' + rows.map((r) => `<row${api.attrs(r)}/>`).join('') + '</cond>';
}

// #/pay[/<search word>]: what waits for the cashier, narrowed by the word at the server.
async function payView(word = '') {
  const search = `<search${api.attrs({text: word})}/>`;
  const confirmed = cond(
      {name: 'blnnetok', fieldname: 'ec_vchs.blnnetok', fieldtype: '0', value: '1', type: '6'});
  const [claims, lines, paid, cash] = await Promise.all([
    readList('listrepaydata', toSettle + search), readList('listnetpaydata', '<cond/>' + search),
    readList('listnetpaydata', confirmed + search), readList('listcashpaydata', '<cond/>' + search)
  ]);
  const page =
      h('div', null, h('h1', null, t('pay.title')),
        h('section', {class: 'card'}, wordSearch('pay', word)));

  const settle = claims.rows;
  page.append(section(
      t('pay.toSettle'),
      settle.length ? table(
                          [
                            {
                              label: t('f.number'),
                              cell: (r) => h('a', {href: `#/settle/${r.autoid}`}, r.strvouchid)
                            },
                            {label: t('f.type'), key: 'strtypename'},
                            {label: t('f.date'), cell: (r) => day(r.dtloandate)},
                            {label: t('f.claimant'), key: 'strloanname'},
                            {
                              key: 'dblmoney',
                              label: t('f.amount'),
                              align: 'right',
                              cell: (r) => money(r.dblmoney)
                            },
                            {label: t('f.purpose'), key: 'strused'},
                            {label: t('f.approvedBy'), key: 'strauditorid'},
                          ],
                          settle, null, pageTotal(settle)) :
                      h('p', {class: 'muted'}, t('pay.noneToSettle'))));

  page.append(cashSection(cash.rows));

  // A line is sent once it carries a payment id, paid once the bank confirmed it.
  const confirmedIds = new Set(paid.rows.map((r) => r.guid));
  const all = lines.rows.map((r) => ({...r, blnnetok: confirmedIds.has(r.guid) ? '1' : '0'}));
  const picked = new Map();
  const box = section(t('pay.lines'));
  page.append(box);
  if (!all.length) {
    box.append(h('p', {class: 'muted'}, t('pay.noLines')));
    return page;
  }
  watchBank(box, confirmed);
  box.append(
      table(
          [
            {label: t('inbox.pick'), cell: (r) => r.blnnetok === '1' ? '' : pickBox(r, picked)},
            {label: t('f.number'), key: 'strvouchid'},
            {label: t('f.type'), key: 'strtypename'},
            {label: t('f.date'), cell: (r) => day(r.dtloandate)},
            {label: t('f.person'), key: 'strloanname'},
            {label: t('f.settlement'), key: 'strbalancename'},
            {key: 'dblmoney', label: t('f.amount'), align: 'right', cell: (r) => money(r.dblmoney)},
            {label: t('f.payId'), key: 'strpayid'},
            {
              label: t('f.bank'),
              cell: (r) => h('span', {class: 'bank-state', dataset: {guid: r.guid}}, bankState(r))
            },
          ],
          all, null, pageTotal(all)),
      h('div', {class: 'actions'},
        h('button', {type: 'button', onclick: (e) => guard(() => send(picked, 'netpay', e.target))},
          t('pay.send')),
        h('button', {
          type: 'button',
          class: 'secondary',
          onclick: (e) => guard(() => send(picked, 'netunpay', e.target))
        },
          t('pay.withdraw'))));
  return page;
}

// Rows of approved loans the bank does not pay (cash, or no payee account): the cashier hands
// the money over and records it; paid rows stay listed with their reference.
function cashSection(rows) {
  const box = section(t('pay.cash'));
  if (!rows.length) {
    box.append(h('p', {class: 'muted'}, t('pay.noCash')));
    return box;
  }
  const picked = new Map();
  box.append(
      table(
          [
            {label: t('inbox.pick'), cell: (r) => r.blnnetok === '1' ? '' : pickBox(r, picked)},
            {label: t('f.number'), key: 'strvouchid'},
            {label: t('f.date'), cell: (r) => day(r.dtloandate)},
            {label: t('f.borrower'), key: 'strloanname'},
            {label: t('f.department'), key: 'strdepartname'},
            {label: t('f.settlement'), key: 'strbalancename'},
            {key: 'dblmoney', label: t('f.amount'), align: 'right', cell: (r) => money(r.dblmoney)},
            {label: t('f.purpose'), key: 'strused'},
            {
              label: t('f.state'),
              cell: (r) =>
                  h('span', {class: 'cash-state'},
                    r.blnnetok === '1' ? t('cash.paid', r.strpayid) : t('cash.due'))
            },
          ],
          rows, null, pageTotal(rows)),
      h('div', {class: 'actions'},
        h('button', {
          type: 'button',
          class: 'pay-cash',
          onclick: (e) => guard(() => payCash(picked, e.target))
        },
          t('pay.cashOut'))));
  return box;
}

async function payCash(picked, button) {
  if (!picked.size) throw new api.ServiceError(t('inbox.nonePicked'));
  const total = [...picked.values()].reduce((s, r) => s + num(r.dblmoney), 0);
  if (!window.confirm(t('pay.cashConfirm', picked.size, money(total)))) return;
  button.disabled = true;
  try {
    const rows = [...picked.values()]
                     .map((r) => `<row${api.attrs({strtypecode: r.strtypecode, guid: r.guid})}/>`)
                     .join('');
    const [out] = await api.call('CNetPay', [api.op('cashpay', `<in>${rows}</in>`)]);
    api.must(out);
    go('/pay', t('done.cashPaid', picked.size));
  } finally {
    button.disabled = false;
  }
}

// The bank confirms payments on its own time: while the list is shown, the lines' bank state
// is read again every few seconds.
const BANK_POLL_MS = 4000;
function watchBank(box, confirmed) {
  const timer = setInterval(async () => {
    if (!box.isConnected) {
      clearInterval(timer);
      return;
    }
    const paid = await readList('listnetpaydata', confirmed).catch(() => null);
    if (!paid || !box.isConnected) return;
    const ids = new Set(paid.rows.map((r) => r.guid));
    for (const span of box.querySelectorAll('.bank-state')) {
      if (!ids.has(span.dataset.guid)) continue;
      span.textContent = t('bank.paid');
      const pick = span.closest('tr').querySelector('input[type=checkbox]');
      if (pick) pick.remove();
    }
  }, BANK_POLL_MS);
}

// Hands the picked lines to the bank (or takes them back), one line after the other.
async function send(picked, how, button) {
  if (!picked.size) throw new api.ServiceError(t('inbox.nonePicked'));
  button.disabled = true;
  try {
    const rows = [...picked.values()]
                     .map((r) => `<row${api.attrs({strtypecode: r.strtypecode, guid: r.guid})}/>`)
                     .join('');
    const [out] = await api.call('CNetPay', [api.op(how, `<in>${rows}</in>`)]);
    api.must(out);
    go('/pay', t(how === 'netpay' ? 'done.sent' : 'done.unsent', picked.size));
  } finally {
    button.disabled = false;
  }
}

// ---------------------------------------------------------------------------------------------
// Settling one approved claim: its advances written off and its payment lines; a new line, or
// the deletion of one not paid online, is saved with the write-offs so that the claim's settled
// state and verifier follow both.

async function settleView(id) {
  const {head: v, rows} = await readVoucher('claim', id);
  const [found, receipts] = await Promise.all([readSettlement(v), readReceipts(v.GUID)]);
  const settlement = found || {writeOffs: [], payments: []};
  const {settlements, banks} = await refs('settlements', 'banks');
  const written = settlement.writeOffs.reduce((s, r) => s + num(r.dblRetValue), 0);
  const paidOut = settlement.payments.reduce((s, r) => s + num(r.dblMoney), 0);
  // The direction words are the service's own: it reads the receipt word as direction 1.
  const direction = select(
      'intIOType', [[t('dir.payment'), t('dir.payment')], [t('dir.receipt'), t('dir.receipt')]]);
  const line = {
    intIOType: direction,
    strBalanceID: select('strBalanceID', options(settlements), '302'),
    dblMoney: input(
        'dblMoney', plain(Math.max(0, num(v.dblMoney) - written - paidOut)),
        {inputmode: 'decimal', required: true}),
    strBillID: input('strBillID'),
    strPayBankID: select('strPayBankID', options(banks), (banks[0] || {}).code, ''),
    strPayment: input('strPayment', v.strLoanName || ''),
    strBankName: input('strBankName'),
    strBankAcc: input('strBankAcc', '', {inputmode: 'numeric'}),
  };
  const labels = {
    intIOType: t('f.direction'),
    strBalanceID: t('f.settlement'),
    dblMoney: t('f.amount'),
    strBillID: t('f.billNo'),
    strPayBankID: t('f.payBank'),
    strPayment: t('f.payee'),
    strBankName: t('f.payeeBank'),
    strBankAcc: t('f.payeeAcc')
  };
  const form =
      h('form', {class: 'grid-form'},
        h('fieldset', {class: 'grid'}, h('legend', null, t('settle.newLine')),
          Object.entries(line).map(([k, el]) => field(labels[k], el))),
        h('div', {class: 'actions'}, h('button', {type: 'submit'}, t('settle.save'))));
  form.addEventListener('submit', (e) => {
    e.preventDefault();
    if (!form.reportValidity()) return;
    const values = Object.fromEntries(Object.entries(line).map(([k, el]) => [k, el.value.trim()]));
    guard(() => saveLines(v, settlement, `<row${api.attrs({P: '1', ...values})}/>`));
  });
  const remove = (r) =>
      h('button', {
        type: 'button',
        class: 'link',
        disabled: !!r.strPayID,
        onclick: () => guard(async () => {
          if (!window.confirm(t('act.deleteLineConfirm', money(r.dblMoney)))) return;
          await saveLines(
              v, settlement,
              `<row${api.attrs({P: '3', GUID: r.GUID, ts: r.ts, intIOType: r.intIOType})}/>`);
        })
      },
        t('act.delete'));
  return h(
      'div', null, h('h1', null, `${t('v.claim')} ${v.strVouchID}`),
      section(t('v.head'), headFacts('claim', v)),
      section(t('v.rows'), rowsTable('claim', rows, receipts)), voucherReceipts(receipts),
      section(
          t('v.writeOffs'),
          settlement.writeOffs.length ? writeOffTable(settlement.writeOffs) :
                                        h('p', {class: 'muted'}, t('wo.none'))),
      section(
          t('v.payments'),
          settlement.payments.length ?
              paymentTable(settlement.payments, [{label: '', cell: remove}]) :
              h('p', {class: 'muted'}, t('settle.noLines')),
          form));
}

async function saveLines(v, settlement, lineXml) {
  const links = settlement.writeOffs
                    .map((r) => `<row${api.attrs({
                           GUID: r.GUID,
                           ts: r.ts,
                           GUID1: r.GUID1,
                           ts1: r.ts1,
                           blnUsed: r.blnUsed,
                           dblRetValue: r.dblRetValue
                         })}/>`)
                    .join('');
  const [lines, loans] = await api.call('CExpense', [
    api.op(
        'SaveExpenInfo', `<in${api.attrs({GUID: v.GUID, ts: v.ts})}><rows>${lineXml}</rows></in>`),
    api.op('SaveLoanInfo', `<in${api.attrs({
             GUID: v.GUID,
             ts: v.ts,
             strLoanID: v.strLoanID,
             strBill: v.strBill,
             fltRate: v.fltRate
           })}>${links}</in>`)
  ]);
  api.must(lines);
  api.must(loans);
  go(`/settle/${v.AutoID}`, t('done.settled'));
}
