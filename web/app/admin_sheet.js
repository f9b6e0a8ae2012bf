// Reading a sheet chosen for an import: CSV (RFC 4180, UTF-8 with or without its mark) or the
// first worksheet of an xlsx workbook, as a list of records of cell texts. The workbook is a zip
// archive read with the browser's own inflater; nothing of it is shown as markup.

export async function readSheet(file) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  const zip = bytes[0] === 0x50 && bytes[1] === 0x4b && bytes[2] === 3 && bytes[3] === 4;
  if (zip || /\.xlsx$/i.test(file.name)) return readXlsx(bytes);
  return readCsv(new TextDecoder('utf-8').decode(bytes));
}

export function readCsv(text) {
  const records = [];
  let record = [];
  let cell = '';
  let quoted = false;
  let inCell = false;
  const end = () => {
    if (inCell || cell || record.length) {
      record.push(cell);
      records.push(record);
    }
    record = [];
    cell = '';
    inCell = false;
  };
  for (let i = text.charCodeAt(0) === 0xfeff ? 1 : 0; i < text.length; ++i) {
    const c = text[i];
    if (quoted) {
      if (c === '"' && text[i + 1] === '"') {
        cell += '"';
        ++i;
      } else if (c === '"') {
        quoted = false;
      } else {
        cell += c;
      }
    } else if (c === '"' && !cell) {
      quoted = inCell = true;
    } else if (c === ',') {
      record.push(cell);
      cell = '';
      inCell = true;
    } else if (c === '\r' || c === '\n') {
      if (c === '\r' && text[i + 1] === '\n') ++i;
      end();
    } else {
      cell += c;
      inCell = true;
    }
  }
  end();
  return records;
}

// The entries of a zip archive by name: {method, offset, size}.
function entries(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  let eocd = -1;
  for (let i = bytes.length - 22; i >= Math.max(0, bytes.length - 65557); --i) {
    if (view.getUint32(i, true) === 0x06054b50) {
      eocd = i;
      break;
    }
  }
  if (eocd < 0) throw new Error('no zip archive');
  const count = view.getUint16(eocd + 10, true);
  let at = view.getUint32(eocd + 16, true);
  const found = new Map();
  const decoder = new TextDecoder('utf-8');
  for (let n = 0; n < count; ++n) {
    if (view.getUint32(at, true) !== 0x02014b50) throw new Error('a damaged zip directory');
    const method = view.getUint16(at + 10, true);
    const size = view.getUint32(at + 20, true);
    const nameLength = view.getUint16(at + 28, true);
    const extra = view.getUint16(at + 30, true);
    const comment = view.getUint16(at + 32, true);
    const local = view.getUint32(at + 42, true);
    const name = decoder.decode(bytes.subarray(at + 46, at + 46 + nameLength));
    const data = local + 30 + view.getUint16(local + 26, true) + view.getUint16(local + 28, true);
    found.set(name, {method, offset: data, size});
    at += 46 + nameLength + extra + comment;
  }
  return found;
}

async function entryText(bytes, entry) {
  const raw = bytes.subarray(entry.offset, entry.offset + entry.size);
  if (entry.method === 0) return new TextDecoder('utf-8').decode(raw);
  if (entry.method !== 8) throw new Error('an unknown compression');
  const stream = new Blob([raw]).stream().pipeThrough(new DecompressionStream('deflate-raw'));
  return new Response(stream).text();
}

function xmlOf(text) {
  const doc = new DOMParser().parseFromString(text, 'application/xml');
  if (doc.getElementsByTagName('parsererror').length) throw new Error('damaged XML');
  return doc;
}

// The text of an element's <t> descendants (rich text comes in runs).
function texts(el) {
  return [...el.getElementsByTagNameNS('*', 't')].map((x) => x.textContent).join('');
}

function columnIndex(ref) {
  let n = 0;
  for (const c of ref.replace(/\d+$/, '')) n = n * 26 + (c.charCodeAt(0) - 64);
  return n - 1;
}

async function readXlsx(bytes) {
  const files = entries(bytes);
  // The first sheet of the workbook, through its relation; else the first sheet file.
  let sheetPath = 'xl/worksheets/sheet1.xml';
  if (files.has('xl/workbook.xml') && files.has('xl/_rels/workbook.xml.rels')) {
    const book = xmlOf(await entryText(bytes, files.get('xl/workbook.xml')));
    const first = book.getElementsByTagNameNS('*', 'sheet')[0];
    const rels = xmlOf(await entryText(bytes, files.get('xl/_rels/workbook.xml.rels')));
    const id = first && [...first.attributes].find((a) => a.localName === 'id');
    const rel = id &&
        [...rels.getElementsByTagNameNS('*', 'Relationship')].find(
            (r) => r.getAttribute('Id') === id.value);
    if (rel) {
      const target = rel.getAttribute('Target');
      sheetPath = target.startsWith('/') ? target.slice(1) : 'xl/' + target;
    }
  }
  if (!files.has(sheetPath)) throw new Error('no worksheet');
  const shared = files.has('xl/sharedStrings.xml') ?
      [
        ...xmlOf(await entryText(bytes, files.get('xl/sharedStrings.xml')))
            .getElementsByTagNameNS('*', 'si')
      ].map(texts) :
      [];
  const sheet = xmlOf(await entryText(bytes, files.get(sheetPath)));
  const records = [];
  for (const row of sheet.getElementsByTagNameNS('*', 'row')) {
    const index = Number(row.getAttribute('r') || records.length + 1) - 1;
    while (records.length < index) records.push([]);
    const cells = [];
    for (const c of row.getElementsByTagNameNS('*', 'c')) {
      const type = c.getAttribute('t') || 'n';
      const v = c.getElementsByTagNameNS('*', 'v')[0];
      const value = type === 's' ? shared[Number(v ? v.textContent : -1)] ?? '' :
          type === 'inlineStr'   ? texts(c) :
          type === 'b'           ? (v && v.textContent === '1' ? 'true' : 'false') :
          v                      ? v.textContent :
                                   '';
      const at = c.getAttribute('r') ? columnIndex(c.getAttribute('r')) : cells.length;
      while (cells.length < at) cells.push('');
      cells[at] = value;
    }
    records.push(cells);
  }
  return records;
}
