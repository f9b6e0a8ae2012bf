// The administrator's pages: users, roles, rights and data permissions, the organisation,
// settlement and currencies, periods, approval flows, the chart of accounts and voucher signs,
// operation types, the ledger accounts of voucher generation, and imports. Almost everything
// goes through the administration class (CAdmin), which refuses anyone who is no administrator
// of the account year; operation types (COperation) and the account settings (CPzSet) go to
// the classes that keep them, which refuse anyone without their rights. These pages only
// reflect the answers.
import './admin_labels.js';

import {readSheet} from './admin_sheet.js';
import * as api from './api.js';
import {busy, field, h, input, section, select, table} from './dom.js';
import {rowsEditor, valuesOf} from './forms.js';
import {language, t} from './i18n.js';
import {go, guard} from './nav.js';
import {csvCell, download} from './report_view.js';

export const routes = {
  admin: (kind, key) => kind === 'import' ? importView() :
      kind === 'flow'                     ? flowView(key) :
      kind === 'rights'                   ? rightsView(key) :
      kind                                ? kindView(kind, key) :
                                            homeView(),
};

// The kinds by group, as the home page lists them.
const GROUPS = [
  ['access', ['user', 'role', 'rights', 'scope']],
  ['org', ['department', 'person', 'settlestyle', 'bank', 'currency', 'rate']],
  ['ledger', ['flow', 'period', 'account', 'sign', 'iokm', 'opkm']],
  ['master', ['optype', 'item', 'district', 'standvalue', 'import']],
  ['notify', ['webhook', 'webhookdelivery']],
];

// The fields of each kind kept by the generic form: name, control (text, flag, select,
// password, language), `key` (named on change and delete, fixed once added), `fixed` (fixed
// once added and named on change and delete, but not part of the record's address), `hidden`
// (a key neither listed nor edited), `shown` (listed, not edited), `adding` (only when adding),
// `options` (async [value, text] pairs; a select lists the text), `follows` (the select offers
// only the options whose third element is the value of the field named), `initial` (a new
// record's value). A kind kept by a class of its own has `read` (its records) and
// `write(mark, values)`; `title(record)` names a record where its key would say little; `note`
// is a label shown above the list.
const FORMS = {
  user: {
    fields: [
      {name: 'id', key: true}, {name: 'name'}, {name: 'language', control: 'language'},
      {name: 'email'}, {name: 'disabled', control: 'flag'}, {name: 'roles', note: () => roleNote()},
      {name: 'password', control: 'password', adding: true},
      {name: 'admin', shown: true, control: 'flag'}
    ],
  },
  role: {fields: [{name: 'id', key: true}, {name: 'name'}, {name: 'memo'}]},
  scope: {
    fields: [
      {name: 'user', key: true, control: 'select', options: () => users()}, {
        name: 'type',
        key: true,
        control: 'select',
        options: () => ['department', 'person', 'user'].map((v) => [v, t('adm.opt.' + v)])
      },
      {
        name: 'scope',
        control: 'select',
        options: () => ['all', 'none', 'listed'].map((v) => [v, t('adm.opt.' + v)])
      },
      {name: 'codes'}
    ],
    noVersion: true,
  },
  department: {
    fields: [
      {name: 'code', key: true}, {name: 'name'},
      {name: 'head', control: 'select', options: () => users(), empty: 'adm.opt.noHead'},
      {name: 'grade', shown: true}, {name: 'last', shown: true, control: 'flag'}
    ],
  },
  person: {
    fields: [
      {name: 'code', key: true}, {name: 'name'},
      {name: 'department', control: 'select', options: () => lastDepartments()}, {name: 'email'},
      {name: 'phone'}, {name: 'bankacc'}, {name: 'bank'}
    ],
  },
  settlestyle: {
    fields: [
      {name: 'code', key: true}, {name: 'name'}, {name: 'cheque', control: 'flag'},
      {name: 'grade', shown: true}, {name: 'last', shown: true, control: 'flag'}
    ],
  },
  bank: {fields: [{name: 'code', key: true}, {name: 'name'}, {name: 'account'}]},
  // The secret is written, never shown: a change without one keeps it.
  webhook: {
    fields: [
      {name: 'id', key: true, shown: true}, {name: 'url'}, {name: 'events'},
      {name: 'secret', control: 'password'}, {name: 'active', control: 'flag', initial: '1'},
      {name: 'maker', shown: true}
    ],
    note: 'adm.note.webhook',
  },
  webhookdelivery: {
    fields: [
      {name: 'id', key: true, shown: true}, {name: 'time', shown: true}, {name: 'url', shown: true},
      {name: 'event', shown: true}, {name: 'attempt', shown: true}, {name: 'status', shown: true},
      {name: 'error', shown: true}, {name: 'millis', shown: true}
    ],
    noAdd: true,
    note: 'adm.note.webhookdelivery',
  },
  currency: {
    fields: [
      {name: 'name', key: true}, {name: 'code'}, {name: 'multiply', control: 'flag'},
      {name: 'decimals', numeric: true}, {name: 'tolerance', numeric: true},
      {name: 'local', shown: true, control: 'flag', value: (v) => v === '-1' ? '1' : '0'}
    ],
  },
  rate: {
    fields: [
      {name: 'currency', key: true, control: 'select', options: () => foreignCurrencies()}, {
        name: 'type',
        key: true,
        control: 'select',
        options: () => [['1', t('adm.opt.daily')], ['2', t('adm.opt.periodly')]]
      },
      {name: 'period', key: true, numeric: true},
      // The ledger keeps daily rates' dates as "yyyy.mm.dd"; the class takes "yyyy-mm-dd".
      {
        name: 'date',
        key: true,
        type: 'date',
        value: (v) => /^\d{4}\.\d\d\.\d\d$/.test(v || '') ? v.replace(/\./g, '-') : ''
      },
      {name: 'rate', numeric: true}
    ],
    noVersion: true,
  },
  period: {
    fields: [
      {name: 'period', key: true}, {name: 'begin', shown: true}, {name: 'end', shown: true},
      {name: 'closed', control: 'flag'}
    ],
    noVersion: true,
    noAdd: true,
    noDelete: true,
  },
  account: {
    fields: [
      {name: 'code', key: true}, {name: 'name'}, {name: 'itemclass'},
      {name: 'person', control: 'flag'}, {name: 'department', control: 'flag'},
      {name: 'customer', control: 'flag'}, {name: 'vendor', control: 'flag'},
      {name: 'grade', shown: true}, {name: 'posting', shown: true, control: 'flag'}
    ],
  },
  sign: {fields: [{name: 'sign', key: true}, {name: 'order', numeric: true}, {name: 'text'}]},
  // The module's own master data: CAdmin passes them to the classes that keep them.
  // An item may ask for a receipt on claim rows above an amount (empty: never).
  item: {
    fields: [
      {name: 'code', key: true}, {name: 'name'}, {name: 'type'}, {name: 'parent'},
      {name: 'receiptabove', numeric: true}
    ]
  },
  district: {
    fields: [{name: 'code', key: true}, {name: 'name'}, {name: 'grade'}, {name: 'parent'}],
  },
  standvalue: {
    fields: [
      {name: 'standard'}, {name: 'person'}, {name: 'place'}, {name: 'transport'}, {name: 'bracket'},
      {name: 'amount', numeric: true}, {name: 'rate', numeric: true},
      {name: 'id', key: true, shown: true}
    ],
  },
  // Operation types: the class gives the code (the family's digit and a number); the family is
  // fixed once added, as the code's first digit names it; the templates are those of the
  // family's voucher card.
  optype: {
    read: () => opTypes(),
    write: (mark, values) => saveTo('COperation', 'edit', mark, values),
    fields: [
      {name: 'strCode', key: true, shown: true},
      {name: 'intType', fixed: true, control: 'select', options: () => families()},
      {name: 'strName'},
      {name: 'strShowID', control: 'select', options: () => templates(0), follows: 'intType'},
      {name: 'strPrintID', control: 'select', options: () => templates(1), follows: 'intType'},
      {name: 'strLink'},
    ],
    title: (r) => `${r.strCode} ${r.strName}`,
  },
  // The ledger accounts of voucher generation (CPzSet): the account of the lines of a voucher
  // by its operation type, item and currency, and the account of a payment or receipt by its
  // settlement style, bank and currency. An empty item or bank stands for any; the currency is
  // asked for, the local one first: voucher generation matches it exactly, so a setting without
  // one would never be used. Only posting accounts take lines.
  iokm: {
    read: () => settings('getiokm'),
    write: (mark, values) => saveTo('CPzSet', 'saveiokm', mark, values),
    fields: [
      {name: 'GUID', key: true, hidden: true},
      {name: 'strOperatType', control: 'select', options: () => opTypeChoices()},
      {
        name: 'strIOItemCode',
        control: 'select',
        options: () => leafItems(),
        follows: 'strOperatType',
        empty: 'adm.opt.anyItem'
      },
      {name: 'strCurrency', control: 'select', options: () => currencies()},
      {name: 'strCode', control: 'select', options: () => postingAccounts()},
      {name: 'blnModiDire', control: 'flag'},
    ],
    title: (r) => [`${r.strOperatType} ${r.strOperatName || ''}`, r.strIOItemName, r.strCurrency]
                      .filter(Boolean)
                      .join(' · '),
    note: 'adm.note.iokm',
  },
  opkm: {
    // The class lists the direction as a word of the session's language and takes its digit.
    read: async () => (await settings('getopkm'))
                          .map((r) => ({...r, word: r.strOperatType, strOperatType: r.intIOType})),
    write: (mark, values) => saveTo('CPzSet', 'saveopkm', mark, values),
    fields: [
      {name: 'GUID', key: true, hidden: true},
      {
        name: 'strOperatType',
        control: 'select',
        options: () => [['2', t('adm.opt.payment')], ['1', t('adm.opt.receipt')]]
      },
      {name: 'strBalanceType', control: 'select', options: () => lastSettleStyles()},
      {name: 'strBankID', control: 'select', options: () => banks(), empty: 'adm.opt.anyBank'},
      {name: 'strCurrency', control: 'select', options: () => currencies()},
      {name: 'strCode', control: 'select', options: () => postingAccounts()},
    ],
    title: (r) => [r.word, r.strBalanceName, r.cBName, r.strCurrency].filter(Boolean).join(' · '),
    note: 'adm.note.opkm',
  },
};

// ---------------------------------------------------------------------------------------------
// Talking to the administration class.

async function list(kind, more = {}) {
  const [out] = await api.call('CAdmin', [api.op('list', `<in${api.attrs({kind, ...more})}/>`)]);
  return api.must(out);
}
async function rows(kind, more) {
  return api.records(await list(kind, more));
}
// Sends rows (attribute objects, with `inner` XML for children) to be added (1), changed (2)
// or deleted (3).
async function save(kind, mark, values, inner = '') {
  const [out] = await api.call(
      'CAdmin',
      [api.op(
          'save',
          `<in${api.attrs({kind})}><row${api.attrs({P: mark, ...values})}>${inner}</row></in>`)]);
  api.must(out);
}

async function users() {
  return (await rows('user')).map((u) => [u.id, `${u.id} ${u.name}`]);
}
async function roles() {
  return (await rows('role')).map((r) => [r.id, `${r.id} ${r.name}`]);
}
async function departments() {
  return (await rows('department')).map((d) => [d.code, `${d.code} ${d.name}`, truthy(d.last)]);
}
async function lastDepartments() {
  return (await departments()).filter((d) => d[2]).map(([v, text]) => [v, text]);
}
// The currencies, the local one first.
async function currencies(foreignOnly = false) {
  return (await rows('currency'))
      .filter((c) => !foreignOnly || c.local !== '-1')
      .sort((a, b) => (b.local === '-1') - (a.local === '-1'))
      .map((c) => [c.name, c.code ? `${c.code} ${c.name}` : c.name]);
}
function foreignCurrencies() {
  return currencies(true);
}
async function postingAccounts() {
  return (await rows('account'))
      .filter((a) => truthy(a.posting))
      .map((a) => [a.code, `${a.code} ${a.name}`]);
}
async function lastSettleStyles() {
  return (await rows('settlestyle'))
      .filter((s) => truthy(s.last))
      .map((s) => [s.code, `${s.code} ${s.name}`]);
}
async function banks() {
  return (await rows('bank')).map((b) => [b.code, `${b.code} ${b.name}`]);
}
// The items a claim row can name (those without items below them), tagged with their
// operation type.
async function leafItems() {
  const items = await rows('item');
  const parents = new Set(items.map((i) => i.parent));
  return items.filter((i) => !parents.has(i.code))
      .map((i) => [i.code, `${i.code} ${i.name}`, i.type]);
}

// Kinds kept by classes of their own: their records are the rows of a list operation, a change
// is one row of `in`.
async function saveTo(className, operation, mark, values) {
  const [out] = await api.call(
      className, [api.op(operation, `<in><row${api.attrs({P: mark, ...values})}/></in>`)]);
  api.must(out);
}
async function opTypes() {
  const [out] = await api.call('COperation', [api.op('get')]);
  return api.records(api.must(out));
}
async function opTypeChoices() {
  return (await opTypes()).map((o) => [o.strCode, `${o.strCode} ${o.strName}`]);
}
async function settings(operation) {
  const [out] = await api.call('CPzSet', [api.op(operation)]);
  return api.records(api.must(out));
}
// The voucher families, as the first digit of an operation type's code names them, and the
// template card of each.
const FAMILIES = [['3', 'loan', 'EC01'], ['1', 'income', 'EC02'], ['2', 'expenditure', 'EC03']];
function families() {
  return FAMILIES.map(([digit, name]) => [digit, t('adm.opt.' + name)]);
}
// The display (mode 0) or print (mode 1) templates of the cards, tagged with their family.
async function templates(mode) {
  const outs = await api.call(
      'CPubMsg',
      FAMILIES.map(
          ([, , card]) => api.op(
              'vchmodulelistget', `<in><type>${card}</type><kind>${mode}</kind></in>`,
              {goon: '1'})));
  return FAMILIES.flatMap(
      ([digit], i) =>
          api.records(api.must(outs[i])).map((r) => [r.vt_id, `${r.vt_id} ${r.vt_name}`, digit]));
}
let roleNames = [];
function roleNote() {
  return roleNames.length ? t('adm.rolesThere', roleNames.join(', ')) : '';
}

// The label of a kind's field: the kind's own, else the shared one.
function label(kind, name) {
  const own = `adm.f.${kind}.${name}`;
  const text = t(own);
  return text === own ? t('adm.f.' + name) : text;
}
// Flags come as 1/0 or True/False, as the columns hold them.
function truthy(value) {
  return value === '1' || /^true$/i.test(value || '');
}
function yesNo(value) {
  return truthy(value) ? t('adm.yes') : '';
}

// The kinds' navigation, on every page: the phone gets it as a select.
function kindsNav(current) {
  const kinds = GROUPS.flatMap(([, ks]) => ks);
  const chooser =
      select('kind', kinds.map((k) => [k, t('adm.kind.' + k)]), current || '', t('adm.title'));
  chooser.setAttribute('aria-label', t('adm.title'));
  chooser.addEventListener('change', () => go('/admin/' + chooser.value));
  return h('div', {class: 'admin-nav'}, chooser);
}

function page(kind, ...children) {
  return h(
      'div', {class: 'admin'}, kindsNav(kind),
      h('h1', null, kind ? t('adm.kind.' + kind) : t('adm.title')), ...children);
}

async function homeView() {
  return page(
      '', h('p', {class: 'muted'}, t('adm.intro')),
      h('div', {class: 'ports'},
        GROUPS.map(
            ([group, kinds]) => section(
                t('adm.group.' + group),
                h('ul', {class: 'admin-links'},
                  kinds.map(
                      (k) =>
                          h('li', null,
                            h('a', {href: '#/admin/' + k, dataset: {kind: k}},
                              t('adm.kind.' + k)))))))));
}

// ---------------------------------------------------------------------------------------------
// The generic page of a kind: its records, and a form that adds one or changes the one picked.

function keyOf(spec, row) {
  return spec.fields.filter((f) => f.key).map((f) => row[f.name] ?? '').join('\u0001');
}

function control(kind, f, value, editing, options) {
  const fixed = f.shown || (editing && (f.key || f.fixed));
  if (f.control === 'flag') {
    return h(
        'input',
        {type: 'checkbox', name: f.name, checked: truthy(value ?? f.initial), disabled: fixed});
  }
  if (f.control === 'language') {
    return select(
        f.name, [['zh-CN', t('lang.zh-CN')], ['en-US', t('lang.en-US')]], value || language());
  }
  // A fixed choice still reads as its text.
  if (f.control === 'select' && (!fixed || options)) {
    const el = select(f.name, options, value ?? '', f.empty ? t(f.empty) : undefined);
    el.disabled = fixed;
    return el;
  }
  return input(f.name, value ?? '', {
    type: f.control === 'password' ? 'password' : f.type || 'text',
    autocomplete: f.control === 'password' ? 'new-password' : 'off',
    readOnly: fixed,
    inputmode: f.numeric ? 'decimal' : undefined,
    autocapitalize: 'none',
  });
}

// The values of the form as the class reads them: flags as 1/0, fixed keys kept.
function formValues(spec, form) {
  const out = {};
  for (const f of spec.fields) {
    if (f.shown) continue;
    const el = form.elements[f.name];
    if (!el) continue;
    out[f.name] = el.type === 'checkbox' ? (el.checked ? '1' : '0') : el.value.trim();
  }
  return out;
}

function exportButton(kind, columns, records) {
  return h(
      'button', {
        type: 'button',
        class: 'secondary',
        onclick: () => {
          const lines = [columns.map((c) => csvCell(c))];
          for (const r of records) lines.push(columns.map((c) => csvCell(r[c] ?? '')));
          download(
              '\ufeff' + lines.map((l) => l.join(',')).join('\r\n') + '\r\n', kind + '.csv',
              'text/csv;charset=utf-8');
        }
      },
      t('adm.export'));
}

// A record's name in titles and questions: its keys, or what the kind names it by.
function titleOf(spec, record) {
  return spec.title ? spec.title(record) :
                      spec.fields.filter((f) => f.key).map((f) => record[f.name]).join(' ');
}

async function kindView(kind, key) {
  const spec = FORMS[kind];
  if (!spec) return page('', h('p', {class: 'card'}, t('adm.none')));
  const [records, options] = await Promise.all([
    spec.read ? spec.read() : rows(kind),
    Promise.all(spec.fields.map((f) => f.options && !f.shown ? f.options() : null)),
  ]);
  if (kind === 'user') roleNames = (await rows('role')).map((r) => r.id);
  const picked = key !== undefined ? records.find((r) => keyOf(spec, r) === key) : null;
  const listed = spec.fields.filter((f) => f.control !== 'password' && !f.hidden);
  const cell = (f) => (r) => {
    const v = f.value ? f.value(r[f.name]) : r[f.name];
    if (f.control === 'language' && v) return t('lang.' + v);
    if (f.control === 'flag') return yesNo(v);
    // A choice is listed as the text it was chosen by; an empty one as what it stands for.
    const choices = options[spec.fields.indexOf(f)];
    if (choices && (v ?? '') !== '') return (choices.find(([c]) => c === v) || [v, v])[1];
    if (choices && f.empty) return t(f.empty);
    return v ?? '';
  };
  const box = section(
      t('adm.records'),
      records.length ?
          table(
              // The first column opens the record for a change (on a phone the last columns
              // are out of sight).
              listed.map((f, i) => ({
                           label: label(kind, f.name),
                           cell: i ? cell(f) :
                                     (r) => h('a', {
                                       href: `#/admin/${kind}/${encodeURIComponent(keyOf(spec, r))}`,
                                       title: t('adm.edit'),
                                     },
                                              cell(f)(r) || t('adm.edit'))
                         })),
              records.map((r) => ({...r, _data: {key: keyOf(spec, r)}}))) :
          h('p', {class: 'muted'}, t('adm.none')),
      h('div', {class: 'actions'},
        exportButton(kind, listed.filter((f) => !f.shown).map((f) => f.name), records)));
  const note = spec.note ? h('p', {class: 'muted'}, t(spec.note)) : null;
  // The record picked is changed above the list; a new one is added below it.
  if (!picked) {
    return page(kind, note, box, spec.noAdd ? null : recordForm(kind, spec, null, options));
  }
  return page(
      kind, note, recordForm(kind, spec, picked, options),
      kind === 'user' ? passwordForm(picked) : null, box);
}

// A select that follows another field offers the options tagged with that field's value.
function follow(form, f, all) {
  const leader = form.elements[f.follows];
  const el = form.elements[f.name];
  const refill = () => {
    const kept = el.value;
    const offered = all.filter((o) => o[2] === leader.value);
    el.replaceChildren(
        ...(f.empty ? [h('option', {value: ''}, t(f.empty))] : []),
        ...offered.map(([v, text]) => h('option', {value: v}, text)));
    if ([...el.options].some((o) => o.value === kept)) el.value = kept;
  };
  leader.addEventListener('change', refill);
  refill();
}

function recordForm(kind, spec, picked, options) {
  const editing = !!picked;
  const values = picked || {};
  const fields = spec.fields.filter((f) => !f.hidden && !(editing ? f.adding : f.shown));
  const write = (mark, v) => spec.write ? spec.write(mark, v) : save(kind, mark, v);
  const form = h(
      'form', {class: 'admin-form', dataset: {kind}}, h('div', {class: 'grid'}, fields.map((f) => {
        const i = spec.fields.indexOf(f);
        const v = f.value ? f.value(values[f.name]) : values[f.name];
        const c = control(kind, f, v, editing, options[i]);
        return field(label(kind, f.name), c, f.note ? f.note() : null);
      })),
      h('div', {class: 'actions'}, h('button', {type: 'submit'}, t('adm.save')),
        editing && !spec.noDelete ?
            h('button', {type: 'button', class: 'danger', onclick: (e) => remove(e.target)},
              t('adm.delete')) :
            null,
        editing ? h('a', {class: 'button secondary', href: '#/admin/' + kind}, t('adm.cancel')) :
                  null));
  const keyValues = () => {
    const out = {};
    for (const f of spec.fields.filter((f) => f.key || f.fixed)) {
      out[f.name] = (f.value ? f.value(values[f.name]) : values[f.name]) ?? '';
    }
    if (!spec.noVersion) out.ts = values.ts;
    return out;
  };
  for (const f of fields.filter((f) => f.follows)) follow(form, f, options[spec.fields.indexOf(f)]);
  const remove = (button) => guard(async () => {
    if (!window.confirm(t('adm.deleteConfirm', titleOf(spec, values)))) return;
    await busy(button, () => write('3', keyValues()));
    go('/admin/' + kind, t('adm.deleted'));
  });
  form.addEventListener('submit', (e) => {
    e.preventDefault();
    guard(async () => {
      const v = formValues(spec, form);
      await busy(
          e.submitter, () => write(editing ? '2' : '1', {...v, ...(editing ? keyValues() : {})}));
      go('/admin/' + kind, t('adm.saved'));
    });
  });
  const title = editing ? t('adm.editing', titleOf(spec, values)) : t('adm.new');
  return section(title, form);
}

function passwordForm(user) {
  const password = input('password', '', {type: 'password', autocomplete: 'new-password'});
  const form =
      h('form', {class: 'admin-password'},
        field(t('adm.f.password'), password, t('adm.password.note')),
        h('div', {class: 'actions'}, h('button', {type: 'submit'}, t('adm.password.set'))));
  form.addEventListener('submit', (e) => {
    e.preventDefault();
    guard(async () => {
      await busy(e.submitter, () => save('password', '2', {id: user.id, password: password.value}));
      password.value = '';
      go(`/admin/user/${encodeURIComponent(user.id)}`, t('adm.password.done', user.id));
    });
  });
  return section(t('adm.password.title'), form);
}

// ---------------------------------------------------------------------------------------------
// Function rights: a holder (user or role) and the whole list of its rights.

async function rightsView(holder) {
  const [held, catalogue, userList, roleList] =
      await Promise.all([rows('rights'), rows('rights', {catalogue: '1'}), users(), roles()]);
  const holders = [
    ...userList.map(([id, text]) => ['user:' + id, t('adm.opt.user.user', text)]),
    ...roleList.map(([id, text]) => ['role:' + id, t('adm.opt.user.role', text)]),
  ];
  const current = holder || '';
  const mine = new Set(
      ((held.find((r) => r.holder === current) || {}).rights || '').split(',').filter(Boolean));
  const english = language() === 'en-US';
  const rightName = (r) => (english && r.nameen) || r.name || r.id;
  const names = new Map(catalogue.map((r) => [r.id, rightName(r)]));
  const chooser = select('holder', holders, current, '');
  chooser.addEventListener(
      'change', () => go('/admin/rights/' + encodeURIComponent(chooser.value)));
  const parts = [
    section(
        t('adm.kind.rights'), h('p', {class: 'muted'}, t('adm.rights.holderNote')),
        field(t('adm.f.holder'), chooser)),
  ];
  if (current) {
    const choices = [
      {id: 'ADMIN', name: t('adm.title'), depth: 0},
      ...catalogue.map(
          (r) => ({id: r.id, name: rightName(r), depth: Math.max(0, (r.id.length - 4) / 2)}))
    ];
    const form =
        h('form', {class: 'admin-rights'},
          h('fieldset', null, h('legend', null, t('adm.rights.catalogue')),
            h('ul', {class: 'checks'},
              choices.map(
                  (c) => h(
                      'li', {class: 'depth-' + Math.min(c.depth, 3)},
                      h('label', null,
                        h('input',
                          {type: 'checkbox', name: 'right', value: c.id, checked: mine.has(c.id)}),
                        ` ${c.id} ${c.name}`))))),
          h('div', {class: 'actions'}, h('button', {type: 'submit'}, t('adm.save'))));
    form.addEventListener('submit', (e) => {
      e.preventDefault();
      guard(async () => {
        const rights = [...form.querySelectorAll('input[name=right]:checked')].map((c) => c.value);
        await busy(
            e.submitter, () => save('rights', '2', {holder: current, rights: rights.join(',')}));
        go('/admin/rights/' + encodeURIComponent(current), t('adm.saved'));
      });
    });
    parts.push(section(holders.find(([v]) => v === current)?.[1] || current, form));
  }
  parts.push(section(
      t('adm.records'),
      held.length ? table(
                        [
                          {
                            label: t('adm.f.holder'),
                            cell: (r) =>
                                h('a', {href: '#/admin/rights/' + encodeURIComponent(r.holder)},
                                  r.holder)
                          },
                          {
                            label: t('adm.f.rights'),
                            cell: (r) => r.rights.split(',')
                                             .map(
                                                 (id) => names.has(id) ? `${id} ${names.get(id)}` : id)
                                             .join(', ')
                          },
                        ],
                        held) :
                    h('p', {class: 'muted'}, t('adm.none'))));
  return page('rights', ...parts);
}

// ---------------------------------------------------------------------------------------------
// Approval flows: the vouchers a flow applies to and its steps. A step that nobody can approve
// is refused by the class; the refusal is shown in the form as well as on the message line.

async function readFlows() {
  const el = await list('flow');
  return [...el.getElementsByTagName('row')].map((r) => {
    const o = {};
    for (const a of r.attributes) o[a.name] = a.value;
    o.steps = api.records(r, 'step');
    return o;
  });
}

async function flowView(id) {
  const [flows, deps, userList, roleList] =
      await Promise.all([readFlows(), departments(), users(), roles()]);
  const picked = id ? flows.find((f) => f.id === id) : null;
  const families = ['loan', 'income', 'expenditure'];
  const stepText = (s) => `${s.no}. ${s.name}: ${s.approvers}`;
  const listBox = section(
      t('adm.records'),
      flows.length ? table(
                         [
                           {label: t('adm.f.family'), cell: (r) => t('adm.opt.' + r.family)},
                           {
                             label: t('adm.f.name'),
                             cell: (r) => h(
                                 'a', {href: '#/admin/flow/' + r.id, title: t('adm.edit')}, r.name)
                           },
                           {label: t('adm.f.priority'), key: 'priority'},
                           {label: t('adm.f.department'), key: 'department'},
                           {label: t('adm.f.types'), key: 'types'},
                           {label: t('adm.f.min'), key: 'min'},
                           {label: t('adm.f.max'), key: 'max'},
                           {label: t('adm.f.active'), cell: (r) => yesNo(r.active)},
                           {label: t('adm.f.reject'), cell: (r) => t('adm.opt.' + r.reject)},
                           {
                             label: t('adm.f.steps'),
                             cell: (r) =>
                                 h('ol', {class: 'steps'},
                                   r.steps.map((s) => h('li', null, stepText(s))))
                           },
                         ],
                         flows) :
                     h('p', {class: 'muted'}, t('adm.none')));

  const v = picked || {family: 'expenditure', active: '1', reject: 'maker', steps: []};
  const approverChoices =
      h('datalist', {id: 'flow-approvers'}, h('option', {value: 'head'}),
        userList.map(([u]) => h('option', {value: 'user:' + u})),
        roleList.map(([r]) => h('option', {value: 'role:' + r})));
  const steps = rowsEditor(
      [
        {name: 'name', label: t('adm.f.name'), make: (x) => input('name', x || '')},
        {
          name: 'approvers',
          label: t('adm.f.approvers'),
          make: (x) =>
              input('approvers', x || 'head', {list: 'flow-approvers', autocapitalize: 'none'})
        },
        {
          name: 'passmode',
          label: t('adm.f.passmode'),
          make: (x) =>
              select('passmode', [['0', t('adm.opt.one')], ['1', t('adm.opt.every')]], x || '0')
        },
      ],
      v.steps, () => {});
  const refusal = h('p', {class: 'error-text', role: 'alert', hidden: true});
  // The steps' inputs are named too: the head's fields are read from their own grid.
  const headGrid =
      h('div', {class: 'grid'},
        field(
            t('adm.f.family'),
            select('family', families.map((f) => [f, t('adm.opt.' + f)]), v.family)),
        field(t('adm.f.name'), input('name', v.name || '')),
        field(t('adm.f.priority'), input('priority', v.priority || '0', {inputmode: 'numeric'})),
        field(
            t('adm.f.department'),
            select(
                'department', deps.map(([c, text]) => [c, text]), v.department || '',
                t('adm.opt.anyDepartment'))),
        field(t('adm.f.types'), input('types', v.types || '')),
        field(t('adm.f.min'), input('min', v.min || '', {inputmode: 'decimal'})),
        field(t('adm.f.max'), input('max', v.max || '', {inputmode: 'decimal'})),
        field(
            t('adm.f.reject'),
            select(
                'reject', [['maker', t('adm.opt.maker')], ['previous', t('adm.opt.previous')]],
                v.reject)),
        field(
            t('adm.f.active'),
            h('input', {type: 'checkbox', name: 'active', checked: truthy(v.active)})));
  const form =
      h('form', {class: 'admin-form flow-form'}, headGrid,
        h('fieldset', {class: 'steps'}, h('legend', null, t('adm.f.steps')),
          h('p', {class: 'note muted'}, t('adm.flow.approversNote')), approverChoices, steps),
        refusal,
        h('div', {class: 'actions'}, h('button', {type: 'submit'}, t('adm.save')),
          picked ? h('button', {type: 'button', class: 'danger', onclick: (e) => remove(e.target)},
                     t('adm.delete')) :
                   null,
          picked ? h('a', {class: 'button secondary', href: '#/admin/flow'}, t('adm.cancel')) :
                   null));
  const header = () => {
    const el = Object.fromEntries([...headGrid.querySelectorAll('[name]')].map((c) => [c.name, c]));
    const out = {
      family: el.family.value,
      name: el.name.value.trim(),
      priority: el.priority.value.trim(),
      department: el.department.value,
      types: el.types.value.trim(),
      min: el.min.value.trim(),
      max: el.max.value.trim(),
      reject: el.reject.value,
      active: el.active.checked ? '1' : '0',
    };
    if (picked) Object.assign(out, {id: picked.id, ts: picked.ts});
    return out;
  };
  const remove = (button) => guard(async () => {
    if (!window.confirm(t('adm.deleteConfirm', picked.name))) return;
    await busy(button, () => save('flow', '3', {id: picked.id, ts: picked.ts}));
    go('/admin/flow', t('adm.deleted'));
  });
  form.addEventListener('submit', (e) => {
    e.preventDefault();
    refusal.hidden = true;
    for (const tr of steps.rows()) tr.classList.remove('refused');
    guard(async () => {
      const stepXml = steps.rows()
                          .map((tr) => valuesOf(tr))
                          .filter((s) => s.name || s.approvers)
                          .map((s) => `<step${api.attrs(s)}/>`)
                          .join('');
      try {
        await busy(e.submitter, () => save('flow', picked ? '2' : '1', header(), stepXml));
      } catch (err) {
        if (!(err instanceof api.ServiceError) || err instanceof api.SessionLost) throw err;
        // The refusal stays beside the steps; a step it names is marked.
        refusal.textContent = t('adm.flow.refused') + err.message;
        refusal.hidden = false;
        for (const tr of steps.rows()) {
          const name = valuesOf(tr).name;
          if (name && err.message.includes(name)) tr.classList.add('refused');
        }
        throw err;
      }
      go('/admin/flow', t('adm.saved'));
    });
  });
  const formBox = section(picked ? t('adm.editing', picked.name) : t('adm.new'), form);
  return picked ? page('flow', formBox, listBox) : page('flow', listBox, formBox);
}

// ---------------------------------------------------------------------------------------------
// Imports: a sheet whose first line names the columns; the check lists every refused line with
// its reason, the import adds all lines or none.

async function importView() {
  const [kindsOut] = await api.call('CAdmin', [api.op('kinds')]);
  const kinds = api.records(api.must(kindsOut), 'kind').filter((k) => k.import === '1');
  const kindName = (name) => {
    const text = t('adm.kind.' + name);
    return text.startsWith('adm.') ? name : text;
  };
  const kindSelect = select('kind', kinds.map((k) => [k.name, kindName(k.name)]));
  const file = h('input', {type: 'file', name: 'file', accept: '.csv,.xlsx,text/csv'});
  const columns = h('p', {class: 'note muted'});
  const showColumns = () => {
    const k = kinds.find((x) => x.name === kindSelect.value);
    columns.textContent = k ? t('adm.import.columns', k.columns.split(',').join(', ')) : '';
  };
  kindSelect.addEventListener('change', showColumns);
  showColumns();
  const result = h('div', {class: 'import-result', 'aria-live': 'polite'});
  const form =
      h('form', {class: 'admin-import'}, h('p', {class: 'muted'}, t('adm.import.note')),
        h('div', {class: 'grid'}, field(t('adm.import.kind'), kindSelect, columns),
          field(t('adm.import.file'), file)),
        h('div', {class: 'actions'},
          h('button', {type: 'submit', value: 'dry'}, t('adm.import.check')),
          h('button', {type: 'submit', class: 'secondary', value: 'run'}, t('adm.import.run'))));
  form.addEventListener('submit', (e) => {
    e.preventDefault();
    const dry = !e.submitter || e.submitter.value === 'dry';
    guard(async () => {
      if (!file.files.length) throw new api.ServiceError(t('adm.import.noFile'));
      let records;
      try {
        records = await readSheet(file.files[0]);
      } catch (err) {
        throw new api.ServiceError(t('adm.import.badFile', err.message || String(err)));
      }
      if (!records.length) throw new api.ServiceError(t('adm.import.noHeader'));
      const [header, ...lines] = records;
      const body = lines
                       .map((cells, i) => {
                         if (cells.every((c) => !c)) return '';
                         const attrs = {line: String(i + 2)};
                         header.forEach((name, c) => {
                           if (/^[A-Za-z][A-Za-z0-9]*$/.test(name) && name !== 'line')
                             attrs[name] = unprotected(cells[c] ?? '');
                         });
                         return `<row${api.attrs(attrs)}/>`;
                       })
                       .join('');
      const [out] = await busy(e.submitter, () => api.call('CAdmin', [
        api.op(
            'import',
            `<in${api.attrs({kind: kindSelect.value, ...(dry ? {dry: '1'} : {})})}>${body}</in>`)
      ]));
      const answer = api.must(out);
      showResult(result, answer, dry);
    });
  });
  return page('import', section(t('adm.import.sheet'), form), result);
}

// A cell an export kept from becoming a formula ("'=…") reads as it was.
function unprotected(cell) {
  return /^'[=+\-@\t\r]/.test(cell) ? cell.slice(1) : cell;
}

function showResult(box, answer, dry) {
  const n = (name) => answer.getAttribute(name);
  const refused = api.records(answer, 'refused');
  const summary = t('adm.import.result', n('lines'), n('refused'), n('added')) +
      (dry ? ' ' + t('adm.import.dry') : '');
  box.replaceChildren(section(
      t(dry ? 'adm.import.checked' : 'adm.import.outcome'),
      h('p', {class: refused.length ? 'error-text' : null}, summary),
      refused.length ?
          table(
              [
                {label: t('adm.import.line'), key: 'line', align: 'right'},
                {label: t('adm.import.reason'), key: 'reason'}
              ],
              refused, t('adm.import.refused')) :
          h('p', null, dry ? t('adm.import.ok', n('lines')) : t('adm.import.done', n('added')))));
}
