// Building the pages: every value goes into the document as text (text nodes, textContent,
// attribute values), never as markup.
import {language, t} from './i18n.js';

const PROPERTIES = new Set([
  'value', 'checked', 'disabled', 'hidden', 'selected', 'required', 'readOnly', 'colSpan', 'type',
  'open'
]);

// h('button', {type: 'button', onclick: f}, 'text', child, …)
export function h(tag, props, ...children) {
  const el = document.createElement(tag);
  for (const [k, v] of Object.entries(props || {})) {
    if (v === undefined || v === null || v === false) continue;
    if (k === 'class')
      el.className = v;
    else if (k.startsWith('on'))
      el.addEventListener(k.slice(2), v);
    else if (k === 'dataset')
      Object.assign(el.dataset, v);
    else if (PROPERTIES.has(k))
      el[k] = v;
    else
      el.setAttribute(k, v === true ? '' : String(v));
  }
  for (const c of children.flat(Infinity)) {
    if (c !== null && c !== undefined && c !== false) el.append(c);  // strings become text
  }
  return el;
}

let ids = 0;
// A labelled control: <div class="field"><label for=…>label</label>control</div>.
export function field(label, control, note) {
  control.id = control.id || `f${++ids}`;
  return h('div', {class: 'field'}, h('label', {for: control.id
           }, label), control, note ? h('small', {class: 'note'}, note) : null);
}
export function input(name, value = '', props = {}) {
  return h('input', {name, value: value ?? '', autocomplete: 'off', ...props});
}
// <select> of [value, text] pairs; `empty` adds a first option without value.
export function select(name, options, value = '', empty) {
  const el =
      h('select', {name}, empty !== undefined ? h('option', {value: ''}, empty) : null,
        options.map(([v, text]) => h('option', {value: v}, text)));
  // Without a value (and without an empty option) the first option stays chosen.
  if ((value ?? '') !== '' || empty !== undefined) el.value = value ?? '';
  return el;
}

// A checkbox that puts its row into `picked` (by guid) or takes it out.
export function pickBox(row, picked) {
  return h('input', {
    type: 'checkbox',
    'aria-label': `${t('inbox.pick')} ${row.strvouchid}`,
    onchange: (e) => e.target.checked ? picked.set(row.guid, row) : picked.delete(row.guid)
  });
}

// An amount as the page's language writes it: thousands separators, two decimals.
export function money(value) {
  if (value === '' || value === undefined || value === null) return '';
  const n = Number(value);
  if (!Number.isFinite(n)) return String(value);
  return n.toLocaleString(language(), {minimumFractionDigits: 2, maximumFractionDigits: 2});
}
// An amount as a request or an input field carries it: plain digits, two decimals.
export function plain(value) {
  if (value === '' || value === undefined || value === null) return '';
  const n = Number(value);
  return Number.isFinite(n) ? n.toFixed(2) : String(value);
}
// A date (YYYY-MM-DD…) as the page's language writes it.
export function day(value) {
  const text = String(value || '').slice(0, 10);
  const m = /^(\d{4})-(\d{2})-(\d{2})$/.exec(text);
  if (!m) return text;
  return language() === 'zh-CN' ?
      `${m[1]}年${+ m[2]}月${+ m[3]}日` :
      new Date(`${text}T00:00:00`)
          .toLocaleDateString('en-US', {year: 'numeric', month: 'short', day: 'numeric'});
}
export function num(value) {
  const n = Number(value);
  return Number.isFinite(n) ? n : 0;
}

// A table of `rows` (objects) with `columns` [{key, label, head, align, cell(row) → node or
// text}]; `head` (a node) stands in the column's header instead of the label. `foot`, when
// given, is the last line (a row object of the same columns: totals).
export function table(columns, rows, caption, foot) {
  return h(
      'div', {class: 'table-box'},
      h('table', {class: 'cards'}, caption ? h('caption', null, caption) : null,
        h('thead', null,
          h('tr', null,
            columns.map(
                (c) =>
                    h('th', {scope: 'col', class: c.align === 'right' ? 'right' : null},
                      c.head || c.label)))),
        h('tbody', null,
          rows.map(
              (r) =>
                  h('tr', {dataset: r._data || {}},
                    columns.map(
                        (c) =>
                            h('td', {
                              class: c.align === 'right' ? 'right' : null,
                              'data-label': c.label || null
                            },
                              c.cell ? c.cell(r) : r[c.key] ?? ''))))),
        foot ? h('tfoot', null,
                 h('tr', null,
                   columns.map(
                       (c) => h(
                           'td', {
                             class: c.align === 'right' ? 'right' :
                                                          null,
                             'data-label':
                                 foot[c.key] !==
                                     undefined ?
                                 c.label :
                                 null
                           },
                           foot[c.key] ?? '')))) :
               null));
}

// A checkbox in a column's header that picks or drops every row of its table (the boxes of
// pickBox below it). On a phone, where the header row is hidden, it stands above the cards
// with its label.
export function pickAll(label) {
  return h(
      'label', {class: 'pick-all'}, h('input', {
        type: 'checkbox',
        'aria-label': label,
        onchange: (e) => {
          const rows = e.target.closest('table').querySelectorAll('tbody input[type=checkbox]');
          for (const box of rows) {
            if (box.checked !== e.target.checked) {
              box.checked = e.target.checked;
              box.dispatchEvent(new Event('change'));
            }
          }
        }
      }),
      h('span', {class: 'phone-only', 'aria-hidden': 'true'}, label));
}

// Label/value pairs of a voucher head.
export function facts(pairs) {
  return h(
      'dl', {class: 'facts'},
      pairs.filter(([, v]) => v !== undefined)
          .map(([k, v]) => [h('dt', null, k), h('dd', null, v ?? '')]));
}

export function section(title, ...children) {
  return h('section', {class: 'card'}, h('h2', null, title), ...children);
}

// The message line under the header: errors as an alert, the rest as a status. The texts are
// the service's own messages.
export function say(kind, text) {
  const box = document.getElementById('message');
  box.replaceChildren();
  box.className = kind || '';
  if (!text) return;
  box.setAttribute('role', kind === 'error' ? 'alert' : 'status');
  box.append(
      h('span', null, text),
      h('button',
        {type: 'button', class: 'link', 'aria-label': t('dismiss'), onclick: () => say('')}, '×'));
}

// Runs `work` with the button disabled; a failure is said, not thrown.
export async function busy(button, work) {
  if (button) button.disabled = true;
  try {
    return await work();
  } finally {
    if (button) button.disabled = false;
  }
}
