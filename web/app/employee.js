// The employee's pages: my loans and claims with their states, a new loan, a new claim whose
// rows show their expense standard as they are entered, advances to write off, submitting and
// withdrawing, and the approval history of a voucher.
import * as api from './api.js';
import {day, field, h, input, money, num, plain, say, section, select, table} from './dom.js';
import {rowsEditor, valuesOf} from './forms.js';
import {t} from './i18n.js';
import {go, guard} from './nav.js';
import {readReceipts, receiptBox, voucherReceipts} from './receipts.js';
import {currencies, options, rateOf, refs} from './refs.js';
import {session} from './session.js';
import {cardOf, changesSection, date, headFacts, historySection, KINDS, listFilter, paymentTable, readChanges, readFlows, readList, readSettlement, readVoucher, rowsTable, totals, truthy, writeOffTable} from './vouchers.js';

export const routes = {
  mine: () => mineView(),
  loan: (id, mode) => voucherRoute('loan', id, mode),
  claim: (id, mode) => voucherRoute('claim', id, mode),
};

// #/claim/new, #/claim/<AutoID>/edit and #/claim/<AutoID> (likewise loans).
function voucherRoute(kind, id, mode) {
  const form = kind === 'loan' ? loanForm : claimForm;
  if (id === 'new') return form();
  return mode === 'edit' ? form(id) : voucherView(kind, id);
}

const PAGE_ROWS = 10;

// ---------------------------------------------------------------------------------------------
// My vouchers: the lists of the vouchers I entered, newest first.

async function mineView() {
  const lists = [];
  const filter = await listFilter('any', () => Promise.all(lists.map((l) => l())));
  const page = h(
      'div', null, h('h1', null, t('mine.title')),
      h('div', {class: 'actions'}, h('a', {class: 'button', href: '#/loan/new'}, t('mine.newLoan')),
        h('a', {class: 'button', href: '#/claim/new'}, t('mine.newClaim'))),
      h('section', {class: 'card'}, filter.form));
  for (const kind of ['loan', 'claim']) {
    const box = h('section', {class: 'card'});
    page.append(box);
    // A page beyond the last answers the last: the newest.
    lists.push(() => myList(kind, box, 99999, filter));
  }
  await Promise.all(lists.map((l) => l()));
  return page;
}

// The condition "entered by me" of the lists.
function mine(kind) {
  return `<row${api.attrs({
    name: 'strpersonid',
    fieldname: KINDS[kind].table + '.strpersonid',
    fieldtype: '0',
    value: session.userName,
    type: '0'
  })}/>`;
}

async function myList(kind, box, current, filter) {
  const title = h('h2', null, t(kind === 'loan' ? 'mine.loans' : 'mine.claims'));
  const page =
      await readList(KINDS[kind].list, filter.request(kind, mine(kind)), current, PAGE_ROWS);
  if (page.note) {
    box.replaceChildren(title, h('p', {class: 'muted'}, page.note));
    return;
  }
  const list = page.rows.reverse();
  // The heads carry each voucher's state and, for loans, what was repaid.
  const heads = await api.call(
      'CPubMsg',
      list.map(
          (r) => api.op(
              KINDS[kind].head, `<in><r${api.attrs({AutoID: r.autoid})}/></in>`, {goon: '1'})));
  const byId = {};
  heads.forEach((o, i) => {
    byId[list[i].autoid] = (o && api.recordset(o)[0]) || {};
  });
  const open = (r) => num(r.dblmoney) - num(byId[r.autoid].dblReturn);
  const sums = {dblmoney: (r) => r.dblmoney, ...(kind === 'loan' ? {open} : {})};
  box.replaceChildren(
      title,
      table(
          [
            {
              key: 'strvouchid',
              label: t('f.number'),
              cell: (r) => h('a', {href: `#/${kind}/${r.autoid}`}, r.strvouchid)
            },
            {label: t('f.type'), key: 'strtypename'},
            {label: t('f.date'), cell: (r) => day(r.dtloandate)},
            {label: kind === 'loan' ? t('f.borrower') : t('f.claimant'), key: 'strloanname'},
            {label: t('f.purpose'), key: 'strused'},
            {key: 'dblmoney', label: t('f.amount'), align: 'right', cell: (r) => money(r.dblmoney)},
            ...(kind === 'loan' ?
                    [
                      {key: 'open', label: t('f.open'), align: 'right', cell: (r) => money(open(r))}
                    ] :
                    []),
            {label: t('f.state'), cell: (r) => byId[r.autoid].strStateName || ''},
          ],
          list, null, {strvouchid: t('list.pageTotal'), ...totals(list, sums)}),
      pager(page.current, page.count, (n) => myList(kind, box, n, filter)));
}

// Older and newer pages of a list (page 0 is the oldest).
function pager(current, count, show) {
  if (count <= 1) return '';
  return h(
      'div', {class: 'pager'},
      h('button', {
        type: 'button',
        class: 'secondary',
        disabled: current >= count - 1,
        onclick: () => guard(() => show(current + 1))
      },
        t('list.newer')),
      h('span', null, t('list.page', count - current, count)),
      h('button', {
        type: 'button',
        class: 'secondary',
        disabled: current <= 0,
        onclick: () => guard(() => show(current - 1))
      },
        t('list.older')));
}

// ---------------------------------------------------------------------------------------------
// One voucher with what its owner may do next.

async function voucherView(kind, id) {
  const {head: v, rows} = await readVoucher(kind, id);
  const [flows, receipts, changes] =
      await Promise.all([readFlows([v]), readReceipts(v.GUID), readChanges(v)]);
  const flow = flows[v.GUID];
  const draft = v.strState === 'draft';
  const page =
      h('div', null, h('h1', null, `${t(kind === 'loan' ? 'v.loan' : 'v.claim')} ${v.strVouchID}`),
        section(t('v.head'), headFacts(kind, v)),
        section(t('v.rows'), rowsTable(kind, rows, receipts)), voucherReceipts(receipts));
  const actions = h('div', {class: 'actions'});
  if (draft) {
    actions.append(
        h('a', {class: 'button secondary', href: `#/${kind}/${id}/edit`}, t('act.edit')),
        h('button', {type: 'button', onclick: (e) => guard(() => submit(kind, v, e.target))},
          t('act.submit')),
        h('button',
          {type: 'button', class: 'danger', onclick: (e) => guard(() => remove(kind, v, e.target))},
          t('act.delete')));
  } else if (['submitted', 'step', 'rejected'].includes(v.strState)) {
    actions.append(
        h('button', {type: 'button', onclick: (e) => guard(() => withdraw(kind, v, e.target))},
          t('act.withdraw')));
  }
  actions.append(
      h('a', {class: 'button secondary', href: `#/print/${kind}/${id}`}, t('print.open')));
  page.append(actions);
  if (kind === 'claim') {
    const settlement = await readSettlement(v);
    if (draft && settlement)
      page.append(await writeOffSection(v));
    else if (settlement && settlement.writeOffs.length) {
      page.append(section(t('v.writeOffs'), writeOffTable(settlement.writeOffs)));
    }
    if (settlement && settlement.payments.length) {
      page.append(section(t('v.payments'), paymentTable(settlement.payments)));
    }
  } else {
    page.append(await loanWriteOffs(v));
  }
  page.append(historySection(flow) || '', changesSection(changes) || '');
  return page;
}

async function submit(kind, v, button) {
  button.disabled = true;
  const [out] = await api.call(
      KINDS[kind].cls,
      [api.op('submitaudit', `<in><GUID>${api.x(v.GUID)}</GUID><ts>${api.x(v.ts)}</ts></in>`)]);
  api.must(out);
  go(`/${kind}/${v.AutoID}`, t('done.submitted'));
}

async function withdraw(kind, v, button) {
  button.disabled = true;
  const [out] =
      await api.call('CAudit', [api.op(
                                   'DelAudit',
                                   `<in><GUID>${api.x(v.GUID)}</GUID><ts>${api.x(v.ts)}</ts><type>${
                                       cardOf(v.strTypeCode)}</type></in>`)]);
  api.must(out);
  go(`/${kind}/${v.AutoID}`, t('done.withdrawn'));
}

async function remove(kind, v, button) {
  if (!window.confirm(t('act.deleteConfirm', v.strVouchID))) return;
  button.disabled = true;
  const [out] = await api.call(
      KINDS[kind].cls, [api.op(
                           'delvouch',
                           `<in><strAutoID>${api.x(v.AutoID)}</strAutoID><ts>${api.x(v.ts)}</ts>` +
                               `<type>${cardOf(v.strTypeCode)}</type></in>`)]);
  api.must(out);
  go('/mine', t('done.deleted', v.strVouchID));
}

// The write-offs of a loan's rows by claims.
async function loanWriteOffs(v) {
  const [out] =
      await api
          .call(
              'CLoan',
              [api.op('GetHXInfo', `<in><r${api.attrs({GUID: v.GUID})}/></in>`, {goon: '1'})])
          .catch((e) => {
            if (e instanceof api.SessionLost) throw e;
            return [null];
          });
  const lines = out && !api.failure(out) ? api.records(out).filter((r) => r.dblJE) : [];
  if (!lines.length) return '';
  return section(t('v.writtenOffBy'), table([
                   {label: t('f.claim'), key: 'strVouchID'},
                   {label: t('f.date'), cell: (r) => day(r.dtLoanDate)},
                   {label: t('f.claimant'), key: 'cPersonName'},
                   {label: t('f.writeOff'), align: 'right', cell: (r) => money(r.dblJE)},
                   {label: t('f.approvedBy'), key: 'strAuditorID'}
                 ]));
}

// ---------------------------------------------------------------------------------------------
// Advances written off against a claim that is not submitted yet: the claimant's approved open
// loan rows in the claim's currency, and those already linked to it.

async function writeOffSection(v) {
  const base = {GUID: v.GUID, strBill: v.strBill, fltRate: v.fltRate};
  const [linked, open] = await api.call('CExpense', [
    api.op('GetLoanInfo', `<in${api.attrs(base)}/>`, {goon: '1'}),
    api.op('GetLoanInfo', `<in${api.attrs({...base, strLoanID: v.strLoanID})}/>`, {goon: '1'})
  ]);
  const links = api.failure(linked) ? [] : api.records(linked);
  const rows = api.failure(open) ? [] : api.records(open);
  const body = section(t('v.writeOffs'));
  if (!rows.length && !links.length) {
    body.append(h('p', {class: 'muted'}, t('wo.none')));
    return body;
  }
  const form = h('form', {class: 'write-off'});
  const picked = rows.map((r) => {
    const link = links.find((l) => l.GUID === r.GUID) || {};
    const open = num(r.dblRetLeave) || num(r.dblLeave);
    const amount = input(
        'dblRetValue', link.dblRetValue || '', {inputmode: 'decimal', placeholder: money(open)});
    const check = h('input', {type: 'checkbox', checked: !!link.GUID1});
    check.addEventListener('change', () => {
      if (check.checked && !amount.value) amount.value = plain(open);
    });
    return {r, link, open, amount, check};
  });
  form.append(
      table(
          [
            {
              label: t('wo.pick'),
              cell: (p) => {
                p.check.setAttribute('aria-label', `${t('wo.pick')} ${p.r.strVouchID}`);
                return p.check;
              }
            },
            {label: t('f.loan'), cell: (p) => p.r.strVouchID},
            {label: t('f.date'), cell: (p) => day(p.r.dtLoanDate)},
            {label: t('f.settlement'), cell: (p) => p.r.strBalance},
            {
              label: t('f.amount'),
              align: 'right',
              cell: (p) => money(p.r.dblMoney || p.r.dblPreMoney)
            },
            {label: t('wo.open'), align: 'right', cell: (p) => money(p.open)},
            {
              label: t('f.writeOff'),
              cell: (p) => {
                p.amount.setAttribute('aria-label', `${t('f.writeOff')} ${p.r.strVouchID}`);
                return p.amount;
              }
            },
          ],
          picked),
      h('div', {class: 'actions'}, h('button', {type: 'submit'}, t('wo.save'))));
  form.addEventListener('submit', (e) => {
    e.preventDefault();
    guard(async () => {
      // A write-off that reaches the open amount settles the loan row; less returns part of it.
      const lines = picked.filter((p) => p.check.checked)
                        .map((p) => `<row${api.attrs({
                               GUID: p.r.GUID,
                               ts: p.r.ts,
                               GUID1: p.link.GUID1 || '',
                               ts1: p.link.ts1 || '',
                               blnUsed: num(p.amount.value) >= p.open - 0.005 ? '0' : '-1',
                               dblRetValue: p.amount.value || plain(p.open)
                             })}/>`)
                        .join('');
      const [out] = await api.call(
          'CExpense',
          [api.op(
              'SaveLoanInfo',
              `<in${api.attrs({...base, ts: v.ts, strLoanID: v.strLoanID})}>${lines}</in>`)]);
      api.must(out);
      go(`/claim/${v.AutoID}`, t('done.writeOff'));
    });
  });
  body.append(form);
  return body;
}

// ---------------------------------------------------------------------------------------------
// Entry forms. A form keeps everything typed when the save is refused; the refusal is the
// message line. New vouchers take the next number of their card.

async function nextNumber(card, day) {
  const [out] = await api.call(
      'CPubMsg',
      [api.op(
          'vchnoget',
          `<in><type>${card}</type><voucher>` +
              `<head><z:row${api.attrs({dtLoanDate: day + 'T00:00:00'})}/></head></voucher></in>`,
          {goon: '1'})]);
  return api.failure(out) ? '' : out.textContent;
}

async function operationTypes(cls, cards) {
  const outs = await api.call(
      cls, cards.map((c) => api.op('getOperList', `<in><type>${c}</type></in>`, {goon: '1'})));
  return outs.flatMap((o) => api.failure(o) ? [] : api.records(o, 'option'))
      .map((o) => [o.value, `${o.value} ${o.text}`]);
}

// The head part shared by loans and claims.
async function headFields(kind, v, types) {
  const {departments, persons} = await refs('departments', 'persons');
  const currencyList = await currencies();
  const day = date(v.dtLoanDate) || session.loginDate;
  const c = {
    strTypeCode: select('strTypeCode', types, v.strTypeCode || (types[0] || [''])[0]),
    strVouchID: input('strVouchID', v.strVouchID || '', {readOnly: true}),
    dtLoanDate: input('dtLoanDate', day, {type: 'date', required: true}),
    strDepartID: select('strDepartID', options(departments), v.strDepartID, ''),
    strLoanID: select('strLoanID', options(persons), v.strLoanID, ''),
    strBill: select(
        'strBill', currencyList.map((m) => [m.cexch_name, m.cexch_name]),
        v.strBill || (currencyList[0] || {}).cexch_name),
    fltRate: input('fltRate', v.fltRate || '1', {inputmode: 'decimal', required: true}),
    strUsed: input('strUsed', v.strUsed || '', {required: true, dataset: {max: '200'}}),
  };
  if (!v.GUID) {
    // A new voucher starts with the department and person of my latest one.
    for (const k of [kind, kind === 'loan' ? 'claim' : 'loan']) {
      const last = (await readList(KINDS[k].list, `<cond>${mine(k)}</cond>`, 99999, 1)).rows[0];
      if (last) {
        c.strDepartID.value = last.strdepartid || '';
        c.strLoanID.value = last.strloanid || '';
        break;
      }
    }
    const card = () => kind === 'loan' ? 'EC01' : cardOf(c.strTypeCode.value);
    const number = async () => {
      c.strVouchID.value = await nextNumber(card(), c.dtLoanDate.value);
    };
    c.strTypeCode.addEventListener('change', () => guard(number));
    c.dtLoanDate.addEventListener('change', () => guard(number));
    await number();
  }
  // A person's department is the usual one of the voucher.
  c.strLoanID.addEventListener('change', () => {
    const p = persons.find((r) => r.code === c.strLoanID.value);
    if (p && !c.strDepartID.value) c.strDepartID.value = p.row.cDepCode;
  });
  c.strBill.addEventListener('change', () => guard(async () => {
                                         const rate =
                                             await rateOf(c.strBill.value, c.dtLoanDate.value);
                                         if (rate) c.fltRate.value = rate;
                                       }));
  return c;
}

const HEAD_LABELS = {
  strTypeCode: 'f.type',
  strVouchID: 'f.number',
  dtLoanDate: 'f.date',
  strDepartID: 'f.department',
  strLoanID: 'f.person',
  strBill: 'f.currency',
  fltRate: 'f.rate',
  strUsed: 'f.purpose',
  dtExpDate: 'f.expDate',
  strBudItemID: 'f.budget'
};

function headGrid(c, labels) {
  return h(
      'fieldset', {class: 'grid'}, h('legend', null, t('v.head')),
      Object.entries(c).map(
          ([name, control]) => field(labels[name] || t(HEAD_LABELS[name]), control)));
}

// The local amount of a total in the voucher's currency, by the currency's rule.
async function localAmount(total, currency, rate) {
  const c = (await currencies()).find((m) => m.cexch_name === currency) || {};
  if (c.iotherused === '-1') return total;
  return truthy(c.bcal) ? total * num(rate) : total / (num(rate) || 1);
}

// Saves a voucher from its form (the head's controls, further head values, the rows; the amount
// is the rows' total) and reads it back as saved: the save names the saved voucher to a later
// getVouchListID of the same request, whose current voucher the head read then answers.
async function save(kind, v, controls, rows, more = {}) {
  const values =
      Object.fromEntries(Object.entries(controls).map(([k, el]) => [k, el.value.trim()]));
  const amount = rows.reduce((s, r) => s + num(r.dblMoney), 0);
  const headAttrs = {
    GUID: v.GUID || '',
    ts: v.ts || '',
    ...values,
    ...more,
    dtLoanDate: values.dtLoanDate + 'T00:00:00',
    dblMoney: amount,
    dblOldMoney: await localAmount(amount, values.strBill, values.fltRate),
    strPersonID: session.userName,
  };
  const bodyXml = rows.map((r) => `<row${api.attrs(r)}/>`).join('');
  const k = KINDS[kind];
  const outs = await api.call(k.cls, [
    api.op(
        'savevouch',
        `<in><xml><head${kind === 'loan' ? ' blnBegin="0"' : ''}>` +
            `<z:row${api.attrs(headAttrs)}/></head><body>${bodyXml}</body></xml></in>`),
    api.op('getVouchListID', '<in><strAutoID/><Director>3</Director></in>')
  ]);
  api.must(outs[0]);
  // The save writes the saved voucher's AutoID into the list request that follows it; the
  // voucher is shown by that id whatever the list of vouchers still to edit holds.
  const named = outs[0].ownerDocument.querySelector('func[name=getVouchListID] > in > strAutoID');
  const saved = (named && named.textContent) || v.AutoID;
  const warning = api.warning(outs[0]);
  go(saved ? `/${kind}/${saved}` : '/mine', warning || t('done.saved'), warning ? 'warn' : 'info');
}

// The first value of a form that cannot be saved as typed, named by its label (and its row):
// {control, text}, or null. The service checks the same; this says it before anything is sent.
function checkForm(form) {
  for (const c of form.querySelectorAll('input, select')) {
    if (c.type === 'hidden' || c.readOnly || c.disabled) continue;
    const tr = c.closest('table.edit tbody tr');
    const label = c.dataset.label ||
        (c.id && form.querySelector(`label[for="${c.id}"]`)?.textContent) || c.name;
    const value = c.value.trim();
    let text = '';
    if (c.required && !value)
      text = t('check.required', label);
    else if (c.inputMode === 'decimal' && value && !/^-?\d+(\.\d+)?$/.test(value))
      text = t('check.number', label);
    else if (c.dataset.max && value.length > +c.dataset.max)
      text = t('check.tooLong', label, c.dataset.max, value.length);
    if (text) {
      return {control: c, text: tr ? t('check.row', tr.sectionRowIndex + 1, text) : text};
    }
  }
  return null;
}

function formPage(title, parts, onSave, back = '#/mine') {
  const form =
      h('form', {class: 'entry', novalidate: true}, ...parts,
        h('div', {class: 'actions'}, h('button', {type: 'submit'}, t('form.save')),
          h('a', {class: 'button secondary', href: back}, t('form.cancel'))));
  form.addEventListener('submit', (e) => {
    e.preventDefault();
    const problem = checkForm(form);
    if (problem) {
      say('error', problem.text);
      problem.control.focus();
      return;
    }
    const button = form.querySelector('button[type=submit]');
    button.disabled = true;
    guard(onSave).finally(() => {
      button.disabled = false;
    });
  });
  return h('div', null, h('h1', null, title), form);
}

// ---------------------------------------------------------------------------------------------
// A loan: head and payment rows, the borrower's loan limits checked as they are entered.

async function loanForm(id) {
  const old = id ? await readVoucher('loan', id) : {head: {}, rows: []};
  const v = old.head;
  const types = await operationTypes('CLoan', ['EC01']);
  const c = await headFields('loan', v, types);
  c.dtExpDate = input('dtExpDate', date(v.dtExpDate), {type: 'date'});
  const {settlements, banks} = await refs('settlements', 'banks');
  const total = h('output', {class: 'sum'});
  const limits = h('div', {class: 'limits', 'aria-live': 'polite'});
  const editor = rowsEditor(
      [
        {
          name: 'strBalanceID',
          label: t('f.settlement'),
          make: (val) => select('strBalanceID', options(settlements), val || '1')
        },
        {
          name: 'dblMoney',
          label: t('f.amount'),
          make: (val) => input('dblMoney', val, {inputmode: 'decimal', required: true})
        },
        {name: 'strBillID', label: t('f.billNo'), make: (val) => input('strBillID', val)},
        {
          name: 'strPayBankID',
          label: t('f.payBank'),
          make: (val) => select('strPayBankID', options(banks), val, '')
        },
        {name: 'strBankName', label: t('f.payeeBank'), make: (val) => input('strBankName', val)},
        {name: 'strBankAcc', label: t('f.payeeAcc'), make: (val) => input('strBankAcc', val)},
      ],
      old.rows, () => changed());
  const sum = () => editor.rows().reduce((s, tr) => s + num(valuesOf(tr).dblMoney), 0);
  let timer = 0;
  const changed = () => {
    total.textContent = `${t('f.amount')}: ${money(sum())}`;
    clearTimeout(timer);
    timer = setTimeout(() => guard(checkLimits), 400);
  };
  // The borrower's limits on days, number and amount of open loans: warnings, or a block.
  const checkLimits = async () => {
    if (!c.strLoanID.value) return limits.replaceChildren();
    const local = await localAmount(sum(), c.strBill.value, c.fltRate.value);
    const [out] = await api.call('CLoan', [api.op('CheckLoanXY', `<in><r${api.attrs({
                                                    GUID: v.GUID || '',
                                                    strPersonCode: c.strLoanID.value,
                                                    dtDate: c.dtLoanDate.value,
                                                    dblMoney: sum(),
                                                    dblOldMoney: local
                                                  })}/></in>`)]);
    const answer = api.must(out);
    const texts = [...answer.children].map((r) => r.textContent);
    limits.className = 'limits ' + (answer.getAttribute('CtrlType') === '1' ? 'hard' : 'warn');
    limits.replaceChildren(...texts.map((text) => h('p', null, text)));
  };
  c.strLoanID.addEventListener('change', changed);
  changed();
  return withReceipts(
      formPage(
          id ? `${t('v.loan')} ${v.strVouchID}` : t('mine.newLoan'),
          [
            headGrid(c, {strLoanID: t('f.borrower'), dtLoanDate: t('f.loanDate')}),
            limits,
            h('fieldset', null, h('legend', null, t('v.rows')), editor, total),
            receiptsPart(v),
          ],
          () => save('loan', v, c, editor.rows().map(valuesOf)), id ? `#/loan/${id}` : '#/mine'),
      v);
}

// ---------------------------------------------------------------------------------------------
// A claim: head and expense rows. Each row shows the standard of its item for the claimant as it
// is entered: the amount the standard allows, the excess and the standard's control; the save
// refuses a row above a hard standard and saves one above a warning standard with a warning.

async function claimForm(id) {
  const old = id ? await readVoucher('claim', id) : {head: {}, rows: []};
  const v = old.head;
  const types = await operationTypes('CExpense', ['EC03', 'EC02']);
  const c = await headFields('claim', v, types);
  const {items, places, transport, budgetItems, departments, persons} =
      await refs('items', 'places', 'transport', 'budgetItems', 'departments', 'persons');
  c.strBudItemID = select('strBudItemID', options(budgetItems), v.strBudItemID, t('form.noBudget'));
  const ports = h('div', {class: 'ports'});
  const total = h('output', {class: 'sum'});
  const day = () => c.dtLoanDate.value;
  const editor = rowsEditor(
      [
        {
          name: 'strIOItem',
          label: t('f.item'),
          make: (val) => select('strIOItem', options(items), val, '')
        },
        {
          name: 'dtBDate',
          label: t('f.from'),
          make: (val) => input('dtBDate', date(val) || day(), {type: 'date'})
        },
        {
          name: 'dtEDate',
          label: t('f.to'),
          make: (val) => input('dtEDate', date(val) || day(), {type: 'date'})
        },
        {
          name: 'strEZero',
          label: t('f.place'),
          make: (val) => select('strEZero', options(places), val, '')
        },
        {
          name: 'strJTTools',
          label: t('f.transport'),
          make: (val) => select('strJTTools', options(transport), val, '')
        },
        {
          name: 'dblVouch',
          label: t('f.receipt'),
          make: (val) => input('dblVouch', val, {inputmode: 'decimal'})
        },
        {
          name: 'dblNumber',
          label: t('f.qty'),
          make: (val) => input('dblNumber', val || '1', {inputmode: 'decimal'})
        },
        {
          name: 'dblMoney',
          label: t('f.amount'),
          make: (val) => input('dblMoney', val, {inputmode: 'decimal', required: true})
        },
        {name: 'strMemo', label: t('f.memo'), make: (val) => input('strMemo', val)},
      ],
      old.rows, () => changed(), {label: t('f.standard'), after: 'dblMoney'}, {
        label: t('rc.title'),
        cell: (values, tr) => rowReceiptBox(v, old.rows.indexOf(values) + 1, tr)
      });
  // Receipts name their row by its place: once a saved row is removed or rows move, the places
  // are the saved ones again only after the save.
  const saved = editor.rows().slice(0, old.rows.length);
  const placesKept = () => saved.every((tr, i) => editor.rows()[i] === tr);
  const standards = new Map();  // row → {allowed, excess, control}
  let timer = 0;
  const changed = () => {
    const rows = editor.rows();
    const kept = placesKept();
    for (const box of editor.querySelectorAll('td.more .receipts.editable')) box.hidden = !kept;
    for (const note of editor.querySelectorAll('td.more .save-first')) {
      note.hidden = kept && !note.classList.contains('new');
    }
    total.textContent =
        `${t('f.amount')}: ${money(rows.reduce((s, tr) => s + num(valuesOf(tr).dblMoney), 0))}`;
    clearTimeout(timer);
    timer = setTimeout(() => guard(checkStandards), 300);
  };
  // The standards of all rows in one question; the answer names the rows that have one.
  const checkStandards = async () => {
    const rows = editor.rows();
    const asked = rows.map((tr, i) => ({tr, i, r: valuesOf(tr)})).filter((x) => x.r.strIOItem);
    standards.clear();
    if (asked.length) {
      const [out] = await api.call('CExpense', [
        api.op(
            'GetStand',
            '<in><Rows>' +
                asked
                    .map(
                        (x, n) => `<r${api.attrs({
                          row: x.i,
                          strIOItem: x.r.strIOItem,
                          strezero: x.r.strEZero,
                          strjttools: x.r.strJTTools,
                          dblVouch: x.r.dblVouch,
                          ...(n === 0 ?
                                  {strDepartID: c.strDepartID.value, strLoanID: c.strLoanID.value} :
                                  {})
                        })}/>`)
                    .join('') +
                '</Rows></in>')
      ]);
      api.must(out);
      for (const s of api.records(out)) {
        const x = asked.find((a) => String(a.i) === s.id);
        if (x) standards.set(x.tr, allowedBy(s, x.r));
      }
    }
    for (const tr of rows) showStandard(tr, standards.get(tr));
  };
  const showPorts = () =>
      guard(() => budgetPorts(c.strBudItemID.value, v, ports, {departments, persons}));
  c.strBudItemID.addEventListener('change', showPorts);
  for (const el of [c.strDepartID, c.strLoanID]) el.addEventListener('change', changed);
  await showPorts();
  changed();
  return withReceipts(
      formPage(
          id ? `${t('v.claim')} ${v.strVouchID}` : t('mine.newClaim'),
          [
            headGrid(c, {
              dtLoanDate: t('f.claimDate'),
              strLoanID: t('f.claimant'),
              strBudItemID: t('f.budget')
            }),
            ports,
            h('fieldset', null, h('legend', null, t('v.rows')), editor, total),
          ],
          async () => {
            await checkStandards();
            const rows = editor.rows().map(
                (tr) => ({
                  ...valuesOf(tr),
                  dblStand: standards.has(tr) ? plain(standards.get(tr).allowed) : '',
                }));
            await save('claim', v, c, rows, valuesOf(ports));
          },
          id ? `#/claim/${id}` : '#/mine'),
      v);
}

// The receipts of a saved claim row on the form: files dropped on the row or picked, and what
// reading proposed taken into the row's fields (saved with the form, never without it). A row not
// saved yet says so.
function rowReceiptBox(v, row, tr) {
  const note = (isNew) =>
      h('small', {class: 'save-first muted' + (isNew ? ' new' : '')}, t('rc.saveFirst'));
  if (!v.GUID || row < 1) return note(true);
  const box = receiptBox(v.GUID, row, {
    drop: tr,
    apply: (p) => {
      const set = (name, value) => {
        const control = tr.querySelector(`[data-col="${name}"]`);
        if (control && value) control.value = value;
      };
      set('dblVouch', p.amount);
      set('dblMoney', p.amount);
      set('dtBDate', p.date);
      const to = tr.querySelector('[data-col="dtEDate"]');
      if (p.date && to && (!to.value || to.value < p.date)) to.value = p.date;
      const memo = tr.querySelector('[data-col="strMemo"]');
      const invoice = p.invoice ? t('rc.invoice', p.invoice) : '';
      if (memo && invoice && !memo.value.includes(p.invoice)) {
        memo.value = memo.value ? `${memo.value} ${invoice}` : invoice;
      }
      tr.dispatchEvent(new Event('input', {bubbles: true}));
      say('info', t('rc.proposalTaken', row));
    }
  });
  return [box, note(false)];
}

// The receipts of a loan on its form: on the voucher as a whole, once it is saved.
function receiptsPart(v) {
  return h(
      'fieldset', {class: 'receipts-part'}, h('legend', null, t('rc.title')),
      v.GUID ? receiptBox(v.GUID, 0) : h('p', {class: 'muted'}, t('rc.saveFirst')));
}

// Every receipt box of a form shows the voucher's receipts, read once after the form is built.
function withReceipts(page, v) {
  if (v.GUID) {
    setTimeout(() => guard(async () => {
                 const data = await readReceipts(v.GUID);
                 for (const box of page.querySelectorAll('.receipts.editable')) box.show(data);
               }));
  }
  return page;
}

// What the standard allows for a row: per unit amount times the quantity; above it a share
// (rate %) of the receipt beyond the base is still allowed.
function allowedBy(standard, row) {
  const qty = num(row.dblNumber) || 1;
  const base = num(standard.dblMoney) * qty;
  const claimed = num(row.dblMoney);
  const receipt = num(row.dblVouch);
  let allowed = base;
  if (claimed <= base)
    allowed = claimed;
  else if (receipt > base)
    allowed = base + (receipt - base) * num(standard.dblRate) / 100;
  allowed = Math.round(allowed * 100) / 100;
  return {base, allowed, excess: Math.max(0, claimed - allowed), control: standard.strControlType};
}

function showStandard(tr, s) {
  const cell = tr.querySelector('td.extra');
  if (!s) {
    cell.replaceChildren(h('span', {class: 'muted'}, t('std.none')));
    cell.className = 'extra';
    return;
  }
  cell.className = 'extra ' + (s.excess > 0.005 ? 'over' : 'ok');
  cell.replaceChildren(
      h('span', null, `${t('std.allowed')} ${money(s.allowed)}`),
      s.excess > 0.005 ? h('span', null, ` · ${t('std.excess')} ${money(s.excess)}`) : '',
      h('span', {class: 'control'}, ` · ${s.control}`));
}

// The dimensions of a budget item, each with a value list where the dimension is a known list.
async function budgetPorts(item, v, box, lists) {
  // Typing a code fires a change per key: only the answer to the latest choice fills the box.
  const asked = (box.asked = (box.asked || 0) + 1);
  box.replaceChildren();
  if (!item) return;
  const [out] =
      await api.call('CBudCtrl', [api.op('GetPort', `<in><item>${api.x(item)}</item></in>`)]);
  const ret = api.must(out);
  if (asked !== box.asked) return;
  const known = {department: t('f.department'), person: t('f.person')};
  for (const n of [1, 2, 3]) {
    const code = ret.getAttribute('Port' + n);
    if (!code) continue;
    const list = code === 'department' ? lists.departments :
        code === 'person'              ? lists.persons :
                                         null;
    const value = v['strPort' + n + 'Value'] || '';
    // Dimension values are kept as "[code]name".
    const control = list ?
        select(
            `strPort${n}Value`, list.map((r) => [`[${r.code}]${r.text}`, `${r.code} ${r.text}`]),
            value, '') :
        input(`strPort${n}Value`, value);
    box.append(
        input(`strPort${n}`, code, {type: 'hidden'}),
        field(known[code] || ret.getAttribute(`Port${n}Name`) || code, control));
  }
}
