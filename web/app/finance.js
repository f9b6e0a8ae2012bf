// The finance office's pages: approved vouchers (payments confirmed) made into ledger vouchers,
// previewed first and then saved, the ledger vouchers line by line, and the ageing and summary
// reports with their charts and downloads.
import * as api from './api.js';
import {day, field, h, input, money, num, pickBox, say, section, select, table} from './dom.js';
import {language, t} from './i18n.js';
import {go, guard} from './nav.js';
import {duplicatesView} from './receipts.js';
import {refs} from './refs.js';
import * as rv from './report_view.js';
import {session} from './session.js';
import {readList, totals, wordSearch} from './vouchers.js';

export const routes = {
  ledger: (word, current) => ledgerView(word, current),
  pz: (code) => pzView(code),
  reports: () => reportsView(),
  duplicates: () => duplicatesView(),
};

function linesTable(rows) {
  const debit = rows.reduce((s, r) => s + num(r.md), 0);
  const credit = rows.reduce((s, r) => s + num(r.mc), 0);
  return table(
      [
        {label: t('pz.account'), cell: (r) => `${r.ccode} ${r.ccodename || ''}`},
        {label: t('pz.summary'), key: 'cdigest'},
        {label: t('pz.debit'), align: 'right', cell: (r) => num(r.md) ? money(r.md) : ''},
        {label: t('pz.credit'), align: 'right', cell: (r) => num(r.mc) ? money(r.mc) : ''},
        {label: t('f.department'), key: 'cdept_name'},
        {label: t('f.person'), key: 'cperson_name'},
      ],
      [...rows, {ccode: t('pz.total'), md: debit, mc: credit}]);
}

const LEDGER_ROWS = 50;

// #/ledger[/<search word>[/<page>]]: the vouchers to book, found by the server a page at a time.
function ledgerAddress(word, current) {
  return `#/ledger/${encodeURIComponent(word)}/${current}`;
}

async function ledgerView(word = '', current = '0') {
  const waitingList = `<cond/><search${api.attrs({text: word})}/>`;
  const [waiting, made] = await Promise.all([
    readList('listmakepzdata', waitingList, Number.parseInt(current, 10) || 0, LEDGER_ROWS),
    readList('listpzdata', '<cond/>')
  ]);
  const page = h('div', null, h('h1', null, t('ledger.title')));
  const sources = waiting.rows;
  const picked = new Map();
  const box = section(t('ledger.waiting'), wordSearch('ledger', word));
  page.append(box);
  if (!sources.length) {
    box.append(h('p', {class: 'muted'}, t('ledger.noneWaiting')));
  } else {
    const {signs} = await refs('signs');
    const sign = select('pztype', signs.map((s) => [s.code, `${s.code} ${s.text}`]));
    const pzDay = input('pzdate', session.loginDate, {type: 'date', required: true});
    const merge = h('input', {type: 'checkbox', name: 'con', checked: true});
    const preview = h('div', {class: 'preview', 'aria-live': 'polite'});
    const request = (temp) => {
      const rows = [...picked.values()]
                       .map((r) => `<row${api.attrs({
                              strtypecode: r.strtypecode,
                              guid: r.guid,
                              ts: r.ts,
                              strvouchid: r.strvouchid
                            })}/>`)
                       .join('');
      return api.op(
          'makepz',
          `<in${merge.checked ? ' con="1"' : ''}><pztype>${api.x(sign.value)}` +
              `</pztype><pzdate>${api.x(pzDay.value)}</pzdate><blnTemp>${temp}</blnTemp><rows>${
                  rows}` +
              `</rows></in>` + (temp === '0' ? `<daily>${rows}</daily>` : ''));
    };
    const check = () => {
      if (!picked.size) throw new api.ServiceError(t('inbox.nonePicked'));
    };
    box.append(
        table(
            [
              {label: t('inbox.pick'), cell: (r) => r.strpzid ? '' : pickBox(r, picked)},
              {label: t('f.number'), key: 'strvouchid'},
              {label: t('f.type'), key: 'strtypename'},
              {label: t('f.date'), cell: (r) => day(r.dtloandate)},
              {label: t('f.department'), key: 'strdepartname'},
              {label: t('f.person'), key: 'strloanname'},
              {
                key: 'dblmoney',
                label: t('f.amount'),
                align: 'right',
                cell: (r) => money(r.dblmoney)
              },
              {label: t('f.purpose'), key: 'strused'},
              {label: t('ledger.voucher'), key: 'strpzid'},
            ],
            sources, null,
            {strvouchid: t('list.pageTotal'), ...totals(sources, {dblmoney: (r) => r.dblmoney})}),
        waiting.count > 1 ?
            h('div', {class: 'pager'},
              waiting.current > 0 ?
                  h('a', {href: ledgerAddress(word, waiting.current - 1)}, t('list.previous')) :
                  '',
              h('span', null, t('list.page', waiting.current + 1, waiting.count)),
              waiting.current < waiting.count - 1 ?
                  h('a', {href: ledgerAddress(word, waiting.current + 1)}, t('list.next')) :
                  '') :
            '',
        h('form', {
          class: 'grid-form',
          onsubmit: (e) => {
            e.preventDefault();
            guard(async () => {
              check();
              const [out] = await api.call('CMakePZ', [request('0')]);
              const code = api.must(out).getAttribute('strpzcode');
              go('/pz/' + encodeURIComponent(code), t('done.made', code));
            });
          }
        },
          h('fieldset', {class: 'grid'}, h('legend', null, t('ledger.make')),
            field(t('ledger.sign'), sign), field(t('ledger.date'), pzDay),
            field(t('ledger.merge'), merge)),
          h('div', {class: 'actions'},
            h('button', {
              type: 'button',
              class: 'secondary',
              onclick: () => guard(async () => {
                check();
                const [draft, lines] = await api.call(
                    'CMakePZ',
                    [request('1'), api.op('getpzdata', '<in><blnTemp>1</blnTemp></in>')]);
                api.must(draft);
                api.must(lines);
                preview.replaceChildren(
                    h('h3', null, t('ledger.preview')), linesTable(api.records(lines)));
              })
            },
              t('ledger.previewButton')),
            h('button', {type: 'submit'}, t('ledger.generate'))),
          preview));
  }
  const vouchers = made.rows;
  page.append(section(
      t('ledger.made'),
      vouchers.length ? table(
                            [
                              {
                                label: t('ledger.voucher'),
                                cell: (r) =>
                                    h('a', {href: '#/pz/' + encodeURIComponent(r.strpzcode)},
                                      r.strpzcode)
                              },
                              {label: t('ledger.date'), cell: (r) => day(r.dtbilldate)},
                              {label: t('f.number'), key: 'strvouchid'},
                              {label: t('f.type'), key: 'strtypename'},
                              {label: t('ledger.maker'), key: 'strMakerID'},
                              {
                                label: t('f.state'),
                                cell: (r) => r.iflag ? h('span', {class: 'voided'}, r.iflag) :
                                                       t('ledger.live')
                              },
                              {
                                label: '',
                                cell: (r) => r.iflag ? '' :
                                                       h('button', {
                                                         type: 'button',
                                                         class: 'link',
                                                         onclick: () => guard(() => cancel(r))
                                                       },
                                                         t('ledger.cancel'))
                              },
                            ],
                            vouchers) :
                        h('p', {class: 'muted'}, t('ledger.noneMade'))));
  return page;
}

async function cancel(r) {
  if (!window.confirm(t('ledger.cancelConfirm', r.strpzcode))) return;
  const [out] = await api.call('CMakePZ', [api.op('cancelpz', `<in><rows><row${api.attrs({
                                                    pzguid: r.pzguid,
                                                    iflag: r.iflag,
                                                    strpzcode: r.strpzcode,
                                                    isignseq: r.isignseq
                                                  })}/></rows></in>`)]);
  api.must(out);
  go('/ledger', t('done.cancelled', r.strpzcode));
}

async function pzView(code) {
  const [out] = await api.call(
      'CMakePZ', [api.op('getpzdata', `<in><strpzcode>${api.x(code)}</strpzcode></in>`)]);
  api.must(out);
  return h(
      'div', null, h('h1', null, `${t('ledger.voucher')} ${code}`),
      section(t('pz.lines'), linesTable(api.records(out))),
      h('div', {class: 'actions'},
        h('a', {class: 'button secondary', href: '#/ledger'}, t('form.back'))));
}

// ---------------------------------------------------------------------------------------------
// Reports: the ageing of the loans and the summary by voucher type, as table and chart, with the
// table and the report engine's detail rows to download.

// An ageing period named by its bounds in the page's language (the account's own names are the
// company's Chinese words).
function periodName(from, to) {
  if (to === null) return t('rep.ageOver', from);
  return from === 0 ? t('rep.ageUpTo', to) : t('rep.ageFromTo', from + 1, to);
}

async function reportsView() {
  const lang = rv.reportLanguage(language());
  const kind = select('kind', [['aging', t('rep.aging')], ['summary', t('rep.summary')]], 'aging');
  const dimension = select('dimension', []);
  // Empty: the service takes the end of the business date, so today's loans count.
  const cutoff = input('cutoff', '', {type: 'date'});
  const source = select('source', [['0', t('rep.loans')], ['1', t('rep.claims')]], '1');
  const byCurrency = h('input', {type: 'checkbox', name: 'currency'});
  const status = h('p', {class: 'muted', 'aria-live': 'polite'});
  const out = h('table', {class: 'report'});
  const chart = document.createElementNS('http://www.w3.org/2000/svg', 'svg');
  chart.setAttribute('class', 'chart');
  chart.setAttribute('role', 'img');
  chart.setAttribute('aria-label', t('rep.chart'));
  chart.setAttribute('hidden', '');
  const csv = h('button', {type: 'button', class: 'secondary', disabled: true}, t('rep.csv'));
  let last = null;
  const aging = field(t('rep.cutoff'), cutoff, t('rep.cutoffNote'));
  const summary = [field(t('rep.source'), source), field(t('rep.byCurrency'), byCurrency)];
  const fill = () => {
    dimension.replaceChildren(
        ...rv.DIMENSIONS[lang][kind.value].map((d) => h('option', {value: d}, d)));
    aging.hidden = kind.value !== 'aging';
    for (const f of summary) f.hidden = kind.value === 'aging';
  };
  kind.addEventListener('change', fill);
  fill();
  const periods = rv.agePeriods(
      (await api.send(
           'CReport', '<req><func name="ageget"><in><agetype>1</agetype></in></func></req>'))
          .text,
      language() === 'zh-CN' ? null : periodName);
  const form =
      h('form', {
        class: 'grid-form',
        onsubmit: (e) => {
          e.preventDefault();
          say('');
          status.textContent = '';
          guard(async () => {
            const r = await api.send('CReport', rv.reportRequest({
              kind: kind.value,
              dimension: dimension.value,
              cutoff: cutoff.value,
              periods,
              source: source.value,
              byCurrency: byCurrency.checked
            }));
            try {
              last = rv.readReport(r.text, r.status);
            } catch (err) {
              last = null;
              out.replaceChildren();
              chart.setAttribute('hidden', '');
              csv.disabled = true;
              throw new api.ServiceError(err.message);
            }
            rv.drawTable(out, last, rv.TOTAL[lang]);
            rv.drawChart(chart, last);
            csv.disabled = false;
            status.textContent = t('rep.rows', last.rows.length);
          });
        }
      },
        h('fieldset', {class: 'grid'}, h('legend', null, t('rep.choose')),
          field(t('rep.kind'), kind), field(t('rep.dimension'), dimension), aging, ...summary),
        h('div', {class: 'actions'}, h('button', {type: 'submit'}, t('rep.show')), csv));
  csv.addEventListener('click', () => {
    if (last)
      rv.download(
          rv.reportCsv(last, rv.TOTAL[lang]), `${kind.value}-${dimension.value}.csv`,
          'text/csv;charset=utf-8');
  });
  return h(
      'div', null, h('h1', null, t('rep.title')),
      section(t('rep.title'), form, status, chart, h('div', {class: 'table-box'}, out)),
      section(
          t('rep.details'),
          h('ul', {class: 'downloads'},
            h('li', null,
              h('a', {href: '/api/report/loans?format=csv', download: 'loans.csv'},
                t('rep.loanDetails'))),
            h('li', null,
              h('a', {href: '/api/report/claims?format=csv', download: 'claims.csv'},
                t('rep.claimDetails'))),
            h('li', null, h('a', {href: '#/duplicates'}, t('rc.dupTitle'))))));
}
