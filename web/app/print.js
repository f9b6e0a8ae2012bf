// The printable voucher: a loan or claim laid out from the print template of its operation type
// (the head fields and row columns the template shows, in its order, with its captions), the
// template's fixed data (title, company, signature line) and the company logo, with the
// voucher's write-offs and approval history. It prints on A4 (app.css, @media print).
import * as api from './api.js';
import {day, h, money, table} from './dom.js';
import {t} from './i18n.js';
import {cardOf, historySection, KINDS, readFlows, readSettlement, readVoucher, writeOffTable} from './vouchers.js';

export const routes = {
  print: (kind, id) => printView(kind, id),
};

// The print template of the voucher's operation type; the card's first print template when the
// operator may not read the operation types (approvers read vouchers of classes they do not
// enter).
async function printTemplate(kind, v) {
  const card = cardOf(v.strTypeCode);
  const [types] =
      await api
          .call(
              KINDS[kind].cls,
              [api.op('getOperList', `<in><type>${api.x(card)}</type></in>`, {goon: '1'})])
          .catch((e) => {
            if (e instanceof api.SessionLost) throw e;
            return [null];
          });
  let id = '';
  if (types && !api.failure(types)) {
    const type = api.records(types, 'option').find((o) => o.value === v.strTypeCode);
    id = (type && type.strPrintModel) || '';
  }
  if (!id) {
    const [list] = await api.call(
        'CPubMsg',
        [api.op('vchmodulelistget', `<in><type>${api.x(card)}</type><kind>1</kind></in>`)]);
    const first = api.records(api.must(list))[0];
    if (!first) throw new api.ServiceError(t('print.noTemplate'));
    id = first.vt_id;
  }
  const [fields, fixed, logo] = await api.call('CPubMsg', [
    api.op('vchmoduleget', `<in><type>${api.x(card)}</type><id>${api.x(id)}</id></in>`),
    api.op('vchfixeddataget', `<in><id>${api.x(id)}</id></in>`, {goon: '1'}),
    api.op('vchlogoget', '<in/>', {goon: '1'}),
  ]);
  const shown = api.recordset(api.must(fields))
                    .filter((f) => f.bVisible !== 'False' && f.bVisible !== '0')
                    .sort((a, b) => a.iOrder - b.iOrder);
  const data = {};
  if (!api.failure(fixed)) {
    for (const r of api.recordset(fixed)) data[r.cName] = r.cValue;
  }
  const image = api.failure(logo) ? '' : api.must(logo).textContent.replace(/\s/g, '');
  return {
    head: shown.filter((f) => f.cSection === 'T'),
    body: shown.filter((f) => f.cSection === 'B'),
    data,
    // Only base64 text becomes the image's address.
    logo: /^[A-Za-z0-9+/]+=*$/.test(image) ? `data:image/png;base64,${image}` : ''
  };
}

// A field's value as the voucher shows it: the name of a code where the read answers one,
// dates and amounts as the language writes them.
function valueOf(row, f) {
  const name = f.cFieldName;
  const named =
      [name + 'Name', name.replace(/(ID|Code)$/, 'Name')].find((n) => n !== name && row[n]);
  const value = named ? row[named] : row[name];
  if (value === undefined || value === null || value === '') return '';
  if (f.cDataType === 'date') return day(value);
  if (f.cDataType === 'number' && /^dbl/.test(name)) return money(value);
  return String(value);
}

async function printView(kind, id) {
  if (!KINDS[kind]) throw new api.ServiceError(t('voucher.missing'));
  const {head: v, rows} = await readVoucher(kind, id);
  const [layout, flows, settlement] = await Promise.all([
    printTemplate(kind, v), readFlows([v]),
    kind === 'claim' ? readSettlement(v, {payments: false}) : null
  ]);
  const heads = layout.head.map((f) => [f.cCaption, valueOf(v, f)]).filter(([, x]) => x !== '');
  // Columns that no row fills are left out: the sheet has an A4 page's width.
  const columns = layout.body.filter((f) => rows.some((r) => valueOf(r, f) !== ''))
                      .map((f) => ({
                             label: f.cCaption,
                             align: f.cDataType === 'number' ? 'right' : null,
                             cell: (r) => valueOf(r, f)
                           }));
  const signatures =
      (layout.data.footer || '').split(/\s{2,}/).map((s) => s.trim()).filter(Boolean);
  const sheet = h(
      'article', {class: 'sheet'},
      h('header', {class: 'sheet-head'},
        layout.logo ? h('img', {src: layout.logo, alt: '', class: 'logo'}) : null,
        h('div', null, layout.data.company ? h('p', {class: 'company'}, layout.data.company) : null,
          h('h1', null, layout.data.title || t(kind === 'loan' ? 'v.loan' : 'v.claim')))),
      h('dl', {class: 'sheet-facts'},
        heads.map(([k, x]) => h('div', null, h('dt', null, k), h('dd', null, x)))),
      rows.length ? h('section', null, h('h2', null, t('v.rows')), table(columns, rows)) : null,
      settlement && settlement.writeOffs.length ?
          h('section', null, h('h2', null, t('v.writeOffs')), writeOffTable(settlement.writeOffs)) :
          null,
      historySection(flows[v.GUID]),
      h('footer', {class: 'signatures'},
        (signatures.length ? signatures : [t('print.signClaimant'), t('print.signApprover')])
            .map((s) => h('div', null, h('span', null, s), h('span', {class: 'line'})))),
      h('p', {class: 'printed muted'},
        t('print.printed', v.strVouchID,
          new Date().toLocaleString(document.documentElement.lang))));
  return h(
      'div', {class: 'print-view'},
      h('div', {class: 'actions no-print'},
        h('button', {type: 'button', onclick: () => window.print()}, t('print.print')),
        h('a', {class: 'button secondary', href: `#/${kind}/${id}`}, t('form.back'))),
      sheet);
}
