// The approver's pages: the vouchers waiting for me (the lists' approval filter), one voucher
// read-only with its rows, standards and budget outcome, approve or reject with a remark, and
// approval of several at once.
import * as api from './api.js';
import {awaySection} from './away.js';
import {day, field, h, input, money, pickAll, pickBox, section, table} from './dom.js';
import {t} from './i18n.js';
import {go, guard} from './nav.js';
import {readReceipts, voucherReceipts} from './receipts.js';
import {session} from './session.js';
import {auditType, changesSection, headFacts, historySection, KINDS, listFilter, readChanges, readFlows, readList, readSettlement, readVoucher, rowsTable, totals, writeOffTable} from './vouchers.js';

export const routes = {
  inbox: () => inboxView(),
  review: (kind, id) => reviewView(kind, id),
};

// The flow actions of the approval service: 1 agree, 2 disagree.
const AGREE = '1';
const REJECT = '2';

// Sends one approver action for the vouchers; a refusal names the vouchers it stopped at.
async function decide(vouchers, action, remark) {
  const rows = vouchers
                   .map((v) => `<row${api.attrs({
                          strGUID: v.guid,
                          ts: v.ts,
                          strType: auditType(v.strtypecode),
                          strVouchID: v.strvouchid
                        })}/>`)
                   .join('');
  const [out] = await api.call(
      'CAudit', [api.op(
                    'AuditVouch',
                    `<in><EASTdata><task${api.attrs({EAAID: action, remark})}/></EASTdata>` +
                        `<strGUID><Rows flag="1">${rows}</Rows></strGUID></in>`)]);
  api.must(out);
}

const INBOX_ROWS = 20;

async function inboxView() {
  const waiting = `<auditcond${api.attrs({auditcondition: '0', Auditor: session.user})}/>`;
  const picked = new Map();
  const lists = [];
  const filter = await listFilter('any', () => {
    picked.clear();
    return Promise.all(lists.map((l) => l(0)));
  });
  const page =
      h('div', null, h('h1', null, t('inbox.title')), h('section', {class: 'card'}, filter.form));
  for (const kind of ['loan', 'claim']) {
    const box = section(t(kind === 'loan' ? 'inbox.loans' : 'inbox.claims'));
    page.append(box);
    const show = async (current) => {
      // What was picked on another page of this list is dropped with it.
      for (const [guid, r] of picked) {
        if (r.kind === kind) picked.delete(guid);
      }
      const list =
          await readList(KINDS[kind].list, filter.request(kind) + waiting, current, INBOX_ROWS);
      box.replaceChildren(box.firstChild);
      if (!list.rows.length) {
        box.append(h('p', {class: 'muted'}, t('inbox.empty')));
        return;
      }
      const rows = list.rows.map((r) => ({...r, kind}));
      box.append(
          table(
              [
                {
                  label: t('inbox.pick'),
                  head: pickAll(t('inbox.pickAll')),
                  cell: (r) => pickBox(r, picked)
                },
                {
                  key: 'strvouchid',
                  label: t('f.number'),
                  cell: (r) => h('a', {href: `#/review/${kind}/${r.autoid}`}, r.strvouchid)
                },
                {label: t('f.type'), key: 'strtypename'},
                {label: t('f.date'), cell: (r) => day(r.dtloandate)},
                {label: t('f.department'), key: 'strdepartname'},
                {label: kind === 'loan' ? t('f.borrower') : t('f.claimant'), key: 'strloanname'},
                {
                  key: 'dblmoney',
                  label: t('f.amount'),
                  align: 'right',
                  cell: (r) => money(r.dblmoney)
                },
                {label: t('f.purpose'), key: 'strused'},
                {label: t('f.enteredBy'), key: 'strpersonid'},
              ],
              rows, null,
              {strvouchid: t('list.pageTotal'), ...totals(rows, {dblmoney: (r) => r.dblmoney})}),
          pager(list.current, list.count, show));
    };
    lists.push(show);
  }
  await Promise.all(lists.map((l) => l(0)));
  const remark = input('remark', '');
  const form =
      h('form', {class: 'batch'}, field(t('f.remark'), remark),
        h('div', {class: 'actions'}, h('button', {type: 'submit'}, t('inbox.approvePicked'))));
  form.addEventListener('submit', (e) => {
    e.preventDefault();
    guard(async () => {
      if (!picked.size) throw new api.ServiceError(t('inbox.nonePicked'));
      checkRemark(remark, false);
      await decide([...picked.values()], AGREE, remark.value.trim() || t('inbox.agreed'));
      go('/inbox', t('done.approved', picked.size));
    });
  });
  page.append(section(t('inbox.batch'), form), await awaySection());
  return page;
}

// Pages of a list, oldest first.
function pager(current, count, show) {
  if (count <= 1) return '';
  return h(
      'div', {class: 'pager'},
      h('button', {
        type: 'button',
        class: 'secondary',
        disabled: current <= 0,
        onclick: () => guard(() => show(current - 1))
      },
        t('list.previous')),
      h('span', null, t('list.page', current + 1, count)),
      h('button', {
        type: 'button',
        class: 'secondary',
        disabled: current >= count - 1,
        onclick: () => guard(() => show(current + 1))
      },
        t('list.next')));
}

// The remark of a decision: at most 100 characters, said rather than cut.
function checkRemark(remark, required) {
  const text = remark.value.trim();
  const problem = required && !text ? t('check.rejectRemark') :
      text.length > 100             ? t('check.tooLong', t('f.remark'), 100, text.length) :
                                      '';
  if (problem) {
    remark.focus();
    throw new api.ServiceError(problem);
  }
}

async function reviewView(kind, id) {
  const {head: v, rows} = await readVoucher(kind, id);
  const [flows, receipts, changes] =
      await Promise.all([readFlows([v]), readReceipts(v.GUID), readChanges(v)]);
  const flow = flows[v.GUID];
  // The advances the claim writes off are part of what the approver decides on.
  const settlement = kind === 'claim' ? await readSettlement(v, {payments: false}) : null;
  const listed = {guid: v.GUID, ts: v.ts, strtypecode: v.strTypeCode, strvouchid: v.strVouchID};
  const remark = input('remark', '');
  const form =
      h('form', {class: 'decision'}, field(t('f.remark'), remark),
        h('div', {class: 'actions'}, h('button', {type: 'submit', value: AGREE}, t('act.approve')),
          h('button', {type: 'submit', class: 'danger', value: REJECT}, t('act.reject')),
          h('a', {class: 'button secondary', href: '#/inbox'}, t('form.back')),
          h('a', {class: 'button secondary', href: `#/print/${kind}/${id}`}, t('print.open'))));
  form.addEventListener('submit', (e) => {
    e.preventDefault();
    // Enter in the remark approves; the buttons say which.
    const action = (e.submitter && e.submitter.value) || AGREE;
    guard(async () => {
      checkRemark(remark, action === REJECT);
      await decide([listed], action, remark.value.trim() || t('inbox.agreed'));
      go('/inbox', t(action === AGREE ? 'done.approved' : 'done.rejected', v.strVouchID));
    });
  });
  return h(
      'div', null, h('h1', null, `${t(kind === 'loan' ? 'v.loan' : 'v.claim')} ${v.strVouchID}`),
      section(t('v.head'), headFacts(kind, v)),
      section(t('v.rows'), rowsTable(kind, rows, receipts)), voucherReceipts(receipts),
      settlement && settlement.writeOffs.length ?
          section(t('v.writeOffs'), writeOffTable(settlement.writeOffs)) :
          '',
      section(t('v.decision'), form), historySection(flow) || '', changesSection(changes) || '');
}
