// Receipts kept with vouchers: a loan's on the voucher as a whole (row 0), a claim's on its rows
// by their place (1, 2, …). The clerk adds them on the saved rows of a draft's form (dropped or
// picked, one upload per file) and takes what reading proposed into the row; everyone who opens
// the voucher sees the thumbnails, the receipt large in the viewer, and where a receipt or a row
// may be a duplicate. The service decides who may add, remove and see; the pages only show.
// Thumbnails and pages load as images of the service, with the session's cookie.
import * as api from './api.js';
import {day, h, money, num, plain, section, table} from './dom.js';
import {t} from './i18n.js';
import {guard} from './nav.js';

// How often and how long a box asks again while a reading is still waiting.
const POLL_MS = 2000;
const POLL_TIMES = 30;

function attributes(el) {
  const o = {};
  for (const a of el.attributes) o[a.name] = a.value;
  return o;
}
function receiptOf(el) {
  return {...attributes(el), dups: api.records(el, 'dup')};
}

// The receipts of a voucher: {list: [receipt], rows: [row duplicate]}; null when the operator
// may not read them (the voucher is shown without).
export async function readReceipts(voucherGuid) {
  try {
    const doc = await api.getDocument('/api/receipts/' + encodeURIComponent(voucherGuid));
    const root = doc.documentElement;
    const rows = [...root.children].find((c) => c.nodeName === 'rows');
    return {
      list: [...root.children].filter((c) => c.nodeName === 'receipt').map(receiptOf),
      rows: api.records(rows, 'dup')
    };
  } catch (e) {
    if (e instanceof api.SessionLost) throw e;
    return null;
  }
}

function fileUrl(r, view, download) {
  const query = [view ? `view=${view}` : '', download ? 'download=1' : ''].filter(Boolean);
  return `/api/receipt/${encodeURIComponent(r.guid)}${query.length ? '?' + query.join('&') : ''}`;
}

// "Same file as BX…, row 2" / "Same claimant, item, amount and date as BX…, row 2".
function dupText(d) {
  const where = +d.otherRow > 0 ? t('rc.voucherRow', d.voucher, d.otherRow) : d.voucher;
  return t(d.kind === 'file' ? 'rc.sameFile' : 'rc.sameRow', where);
}
function dupFlags(dups) {
  if (!dups.length) return '';
  return h(
      'ul', {class: 'dups'},
      dups.map((d) => h('li', {class: 'dup', dataset: {kind: d.kind}}, `⚠ ${dupText(d)}`)));
}

// The viewer: a panel beside the page with the receipt large and its original to download.
let viewerBox = null;
export function openViewer(r) {
  if (!viewerBox) {
    viewerBox = h('dialog', {class: 'receipt-viewer', 'aria-labelledby': 'receipt-viewer-title'});
    document.body.append(viewerBox);
  }
  const image = h('img', {src: fileUrl(r, 'page'), alt: r.name});
  const problem = h('p', {class: 'error-text', hidden: true}, t('rc.noPage'));
  image.addEventListener('error', () => {
    image.hidden = true;
    problem.hidden = false;
  });
  viewerBox.replaceChildren(
      h('div', {class: 'viewer-head'}, h('h2', {id: 'receipt-viewer-title'}, r.name),
        h('button', {type: 'button', class: 'secondary', onclick: () => viewerBox.close()},
          t('rc.close'))),
      h('p', {class: 'muted'},
        [
          r.row > 0 ? t('rc.ofRow', r.row) : t('rc.ofVoucher'),
          `${Math.ceil(num(r.size) / 1024)} KB`, r.uploader, r.uploaded
        ].filter(Boolean)
            .join(' · ')),
      dupFlags(r.dups), h('div', {class: 'viewer-page'}, image, problem),
      h('p', null, h('a', {class: 'button', href: fileUrl(r, '', true)}, t('rc.download'))));
  if (!viewerBox.open) viewerBox.showModal();
}

// One receipt as a small picture that opens the viewer (a PDF without a thumbnail by its name).
function thumb(r) {
  return h(
      'button', {
        type: 'button',
        class: 'thumb',
        title: r.name,
        'aria-label': t('rc.open', r.name),
        dataset: {guid: r.guid},
        onclick: () => openViewer(r)
      },
      r.thumb === '1' ? h('img', {src: fileUrl(r, 'thumb'), alt: ''}) :
                        h('span', {class: 'doc'}, r.mime === 'application/pdf' ? 'PDF' : '?'),
      r.dups.length ? h('span', {class: 'dup-mark', 'aria-hidden': 'true'}, '⚠') : '');
}

// The receipts of one row (or of the voucher as a whole) read-only, with their duplicates.
export function rowReceipts(data, row) {
  if (!data) return '';
  const list = data.list.filter((r) => +r.row === row);
  const rowDups = data.rows.filter((d) => +d.row === row);
  if (!list.length && !rowDups.length) return '';
  return h(
      'div', {class: 'receipts', dataset: {row: String(row)}},
      list.length ? h('div', {class: 'thumbs'}, list.map(thumb)) : '',
      dupFlags([...list.flatMap((r) => r.dups), ...rowDups]));
}

// A voucher's receipts on the voucher as a whole, as a section of its page ('' when none).
export function voucherReceipts(data, editable) {
  if (editable) return section(t('rc.title'), editable);
  const box = rowReceipts(data, 0);
  return box ? section(t('rc.title'), box) : '';
}

// ---------------------------------------------------------------------------------------------
// Adding receipts on a draft's form.

// The box of a saved row (or of the voucher, row 0) where files are dropped or picked: the row's
// receipts with their remove buttons, each upload with its progress or its refusal, and what
// reading proposed with the button that takes it into the row (`apply(proposal)`; saved only
// with the form). `drop` is the element files may be dropped on (the row).
export function receiptBox(voucherGuid, row, {drop, apply} = {}) {
  const thumbs = h('div', {class: 'thumbs'});
  const uploads = h('ul', {class: 'uploads', 'aria-live': 'polite'});
  const proposal = h('div', {class: 'proposal', 'aria-live': 'polite'});
  const picker = h('input', {
    type: 'file',
    multiple: true,
    accept: 'image/*,application/pdf',
    class: 'file-pick',
    'aria-label': row ? t('rc.addToRow', row) : t('rc.add')
  });
  const box =
      h('div', {class: 'receipts editable', dataset: {row: String(row)}}, thumbs,
        h('label', {class: 'button secondary pick'}, picker, t('rc.add')), uploads, proposal);
  let polls = 0;
  let timer = 0;

  const show = (data) => {
    const list = data ? data.list.filter((r) => +r.row === row) : [];
    thumbs.replaceChildren(...list.map(
        (r) =>
            h('div', {class: 'receipt'}, thumb(r),
              h('button', {
                type: 'button',
                class: 'link remove',
                'aria-label': t('rc.remove', r.name),
                onclick: (e) => guard(() => remove(r, e.target))
              },
                '×'))));
    const rowDups = data ? data.rows.filter((d) => +d.row === row) : [];
    const dups = dupFlags([...list.flatMap((r) => r.dups), ...rowDups]);
    thumbs.append(dups || '');
    // The latest reading that found something is what the row is offered.
    const read = list.filter((r) => r.read === '1').pop();
    proposal.replaceChildren();
    if (read && apply) {
      const parts = [
        read.amount ? money(read.amount) : '', read.date ? day(read.date) : '',
        read.invoice ? t('rc.invoice', read.invoice) : ''
      ].filter(Boolean);
      proposal.append(
          h('span', null, t('rc.proposed', parts.join(', '))),
          h('button', {
            type: 'button',
            class: 'secondary',
            onclick: () => apply({
              amount: read.amount ? plain(read.amount) : '',
              date: read.date || '',
              invoice: read.invoice || ''
            })
          },
            t('rc.useProposal')));
    }
    const waiting = list.some((r) => r.read === '0');
    if (waiting) proposal.append(h('span', {class: 'muted'}, t('rc.reading')));
    clearTimeout(timer);
    if (waiting && polls < POLL_TIMES) {
      polls += 1;
      timer = setTimeout(() => guard(refresh), POLL_MS);
    }
  };
  // Every box of the form shows what the voucher now has: a file on one row may make another
  // row's receipt a duplicate.
  const refresh = async () => {
    if (!document.body.contains(box) && polls > 0) return;  // the page moved on
    const data = await readReceipts(voucherGuid);
    const form = box.closest('form');
    for (const b of form ? form.querySelectorAll('.receipts.editable') : [box]) b.show(data);
  };
  const remove = async (r, button) => {
    if (!window.confirm(t('rc.removeConfirm', r.name))) return;
    button.disabled = true;
    const [out] =
        await api.call('CReceipt', [api.op('remove', `<in${api.attrs({GUID: r.guid})}/>`)]);
    api.must(out);
    await refresh();
  };
  // One upload per file, each with its line: the progress, then done or the service's refusal.
  const send = async (files) => {
    const path = `/api/receipts/${encodeURIComponent(voucherGuid)}?row=${row}`;
    await Promise.all([...files].map(async (file) => {
      const bar = h('progress', {max: '100', value: '0'});
      const state = h('span', {class: 'state'});
      const line = h('li', null, h('span', {class: 'name'}, file.name), bar, state);
      uploads.append(line);
      try {
        await api.uploadFile(path, file, (sent, total) => {
          bar.value = Math.round(100 * sent / (total || 1));
        });
        line.remove();
      } catch (e) {
        if (e instanceof api.SessionLost) throw e;
        bar.remove();
        line.className = 'refused';
        state.textContent = e.message;
        line.append(
            h('button', {
              type: 'button',
              class: 'link',
              'aria-label': t('dismiss'),
              onclick: () => line.remove()
            },
              '×'));
      }
    }));
    polls = 0;
    await refresh();
  };
  picker.addEventListener('change', () => {
    const files = [...picker.files];
    picker.value = '';
    guard(() => send(files));
  });
  const target = drop || box;
  target.addEventListener('dragover', (e) => {
    if (![...e.dataTransfer.types].includes('Files')) return;
    e.preventDefault();
    target.classList.add('dropping');
  });
  target.addEventListener('dragleave', () => target.classList.remove('dropping'));
  target.addEventListener('drop', (e) => {
    if (!e.dataTransfer.files.length) return;
    e.preventDefault();
    target.classList.remove('dropping');
    guard(() => send(e.dataTransfer.files));
  });
  box.show = show;
  box.send = send;
  return box;
}

// The possible duplicates among the vouchers the operator may see, for the finance office: pairs
// of rows (or receipts) that look the same, each side a link to its voucher. A flag to look at,
// never a block.
export async function duplicatesView() {
  const [out] = await api.call('CReceipt', [api.op('duplicates', '<in/>')]);
  const pairs = api.records(api.must(out), 'pair');
  const link = (kind, autoid, voucher, row) =>
      h('a', {href: `#/print/${kind}/${encodeURIComponent(autoid)}`},
        +row > 0 ? t('rc.voucherRow', voucher, row) : voucher);
  return h(
      'div', null, h('h1', null, t('rc.dupTitle')),
      section(
          t('rc.dupPairs'), h('p', {class: 'muted'}, t('rc.dupNote')),
          pairs.length ? table(
                             [
                               {
                                 label: t('rc.dupKind'),
                                 cell: (p) => p.kind === 'file' ? t('rc.kindFile') : t('rc.kindRow')
                               },
                               {
                                 label: t('f.number'),
                                 cell: (p) => link(p.voucherKind, p.voucherAutoID, p.voucher, p.row)
                               },
                               {
                                 label: t('rc.dupOther'),
                                 cell: (p) => link(p.otherKind, p.otherAutoID, p.other, p.otherRow)
                               },
                               {label: t('f.claimant'), key: 'person'},
                               {label: t('f.item'), key: 'item'},
                               {label: t('f.amount'), align: 'right', cell: (p) => money(p.amount)},
                               {label: t('f.date'), cell: (p) => day(p.date)},
                             ],
                             pairs) :
                         h('p', {class: 'muted'}, t('rc.dupNone'))));
}
