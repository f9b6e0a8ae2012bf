// Pieces of the entry forms: the editable rows table and reading a form into attributes.
import {h} from './dom.js';
import {t} from './i18n.js';

// An editable table: one <tr> per row with one control per column; columns are
// {name, label, make(value) → control}. `onChange(tr)` runs after any edit of a row. `extra`
// ({label, after}) adds a cell for output (td.extra) after the column named `after`; `more`
// ({label, cell(values, tr) → node}) a last column of the row's own (its receipts), `values`
// being the row object the editor was given for the row (or {} for a row added).
export function rowsEditor(columns, rows, onChange, extra, more) {
  const extraCell = (c) => extra && c.name === extra.after ? h('td', {class: 'extra'}) : null;
  const body = h('tbody');
  const renumber = () => [...body.rows].forEach((tr, i) => {
    for (const c of tr.querySelectorAll('[data-col]')) {
      c.setAttribute('aria-label', `${c.dataset.label} (${i + 1})`);
    }
  });
  const add = (values = {}) => {
    const tr =
        h('tr', null, columns.map((c) => {
          const control = c.make(values[c.name]);
          control.dataset.col = c.name;
          control.dataset.label = c.label;
          return [h('td', {'data-label': c.label}, control), extraCell(c)];
        }),
          more ? h('td', {class: 'more', 'data-label': more.label}) : null,
          h('td', null,
            h('button', {
              type: 'button',
              class: 'link',
              onclick: () => {
                const next = tr.nextElementSibling || tr.previousElementSibling;
                tr.remove();
                renumber();
                onChange(null);
                if (next) next.querySelector('input, select').focus();
              }
            },
              t('form.removeRow'))));
    if (more) tr.querySelector('td.more').append(...[more.cell(values, tr)].flat());
    tr.addEventListener('input', () => onChange(tr));
    tr.addEventListener('change', () => onChange(tr));
    body.append(tr);
    renumber();
    return tr;
  };
  (rows.length ? rows : [{}]).forEach(add);
  const editor =
      h('div', {class: 'rows-editor'},
        h('div', {class: 'table-box'},
          h('table', {class: 'edit'},
            h('thead', null,
              h('tr', null,
                columns.map(
                    (c) =>
                        [h('th', {scope: 'col'}, c.label),
                         extraCell(c) && h('th', {scope: 'col'}, extra.label)]),
                more ? h('th', {scope: 'col'}, more.label) : null, h('th'))),
            body)),
        h('button', {
          type: 'button',
          class: 'secondary',
          onclick: () => {
            const tr = add();
            tr.querySelector('input, select').focus();
            onChange(tr);
          }
        },
          t('form.addRow')));
  editor.rows = () => [...body.rows];
  return editor;
}

// The values of a row's (or a form part's) named controls.
export function valuesOf(container) {
  const out = {};
  for (const c of container.querySelectorAll('[data-col], [name]')) {
    const name = c.dataset.col || c.name;
    if (name) out[name] = c.value.trim();
  }
  return out;
}
