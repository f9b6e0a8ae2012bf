// The ageing analysis and the summary by voucher type of CReport, drawn from the column layout
// (`format`) their answer carries: a table with its totals row, a bar chart (plain SVG) and a
// CSV text. Shared by the console's Reports view and the finance office's page.

// The dimensions as the report names them: the system's own words in the session language.
export const DIMENSIONS = {
  'zh-CN': {
    aging: ['部门', '借款人', '人员级别', '项目大类', '项目', '预算项目'],
    summary: ['部门', '日期', '人员', '人员级别', '项目大类', '项目', '预算项目']
  },
  'en-US': {
    aging: ['Department', 'Borrower', 'Grade', 'Item class', 'Item', 'Budget item'],
    summary: ['Department', 'Date', 'Person', 'Grade', 'Item class', 'Item', 'Budget item']
  },
};
export const TOTAL = {
  'zh-CN': '合计',
  'en-US': 'Total'
};

export function reportLanguage(language) {
  return DIMENSIONS[language] ? language : 'zh-CN';
}
function xmlAttr(text) {
  return String(text).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/'/g, '&apos;');
}
function parseXml(text) {
  const doc = new DOMParser().parseFromString(text, 'application/xml');
  return doc.getElementsByTagName('parsererror').length ? null : doc;
}

// The request of one report: {kind: 'aging'|'summary', dimension, cutoff, periods (the XML of
// the host's ageing periods), source: '0' loans | '1' claims, byCurrency}.
export function reportRequest(r) {
  const dimension = xmlAttr(r.dimension);
  const page = '<page><current>0</current><rows>500</rows></page>';
  if (r.kind === 'aging') {
    return `<req><func name="loanagedata"><in>${page}<type><row name="stritem" value='${
               dimension}'/>` +
        `<row name="dtdate" value='${xmlAttr(r.cutoff)}'/></type>` +
        `<age>${r.periods || ''}</age></in></func></req>`;
  }
  return `<req><func name="typecollectdata"><in>${page}<type>` +
      `<row name="strtype" value="${r.source === '1' ? 1 : 0}"/>` +
      `<row name="stritem" value='${dimension}'/>` +
      `<row name="strshow" value="${r.byCurrency ? 1 : 0}"/></type></in></func></req>`;
}

// The host's ageing periods (type 1) as the XML the ageing request carries; `name(from, to)`,
// where given, names each period by its bounds in days (to is null for the last, open one).
export function agePeriods(answerText, name) {
  const doc = parseXml(answerText);
  const age = doc && doc.querySelector('out > age');
  if (!age) return '';
  if (name) {
    let from = 0;
    for (const row of age.querySelectorAll('row')) {
      const days = row.getAttribute('cdays');
      const to = days === '' || days === null ? null : +days;
      row.setAttribute('name', name(from, to));
      if (to !== null) from = to;
    }
  }
  return new XMLSerializer().serializeToString(age);
}

// The layout's leaf columns in order, each with the title of its group.
function leafColumns(format) {
  const leaves = [];
  for (const top of format.children) {
    if (top.children.length) {
      for (const c of top.children) leaves.push({el: c, group: top.getAttribute('text')});
    } else {
      leaves.push({el: top, group: ''});
    }
  }
  return leaves.map(({el, group}) => ({
                      name: el.getAttribute('name'),
                      text: el.getAttribute('text'),
                      group,
                      align: el.getAttribute('align'),
                      total: el.getAttribute('total') === '1'
                    }));
}

// The answer of a report: {format, rows, columns, totals, current, count}; throws the message
// text of a refusal.
export function readReport(answerText, status) {
  const doc = parseXml(answerText);
  const error = doc && (doc.querySelector('error > text') || doc.querySelector('out err msg'));
  const success = doc && doc.querySelector('out > success');
  if (!success) throw new Error(error ? error.textContent : `HTTP ${status}`);
  const format = success.querySelector('format > rows');
  const rows = [...success.querySelectorAll('data > row')];
  const columns = leafColumns(format);
  const totals = {};
  for (const c of columns) {
    totals[c.name] =
        rows.reduce((sum, row) => sum + (parseFloat(row.getAttribute(c.name)) || 0), 0);
  }
  const page = success.querySelector('page');
  return {
    format,
    rows,
    columns,
    totals,
    current: +page.querySelector('current').textContent,
    count: +page.querySelector('count').textContent
  };
}

// An amount of the table as the page's language writes it.
function amount(value) {
  return Number(value).toLocaleString(
      document.documentElement.lang || undefined,
      {minimumFractionDigits: 2, maximumFractionDigits: 2});
}

export function drawTable(table, {format, rows, columns, totals}, totalLabel) {
  table.replaceChildren();
  const head = table.createTHead();
  const top = head.insertRow();
  const second = head.insertRow();
  for (const g of format.children) {
    const th = document.createElement('th');
    th.textContent = g.getAttribute('text');
    if (g.children.length) {
      th.colSpan = g.children.length;
      for (const c of g.children) {
        const sub = document.createElement('th');
        sub.textContent = c.getAttribute('text');
        second.append(sub);
      }
    } else {
      th.rowSpan = 2;
    }
    top.append(th);
  }
  const body = table.createTBody();
  for (const row of rows) {
    const tr = body.insertRow();
    for (const c of columns) {
      const td = tr.insertCell();
      const value = row.getAttribute(c.name) || '';
      td.textContent = c.total && value !== '' && Number.isFinite(+value) ? amount(value) : value;
      if (c.align === 'right') td.className = 'right';
    }
  }
  const tr = body.insertRow();
  tr.className = 'total';
  columns.forEach((c, i) => {
    const td = tr.insertCell();
    if (i === 0) td.textContent = totalLabel;
    if (c.total) td.textContent = amount(totals[c.name]);
    if (c.align === 'right') td.className = 'right';
  });
}

// One bar per amount column that has a total (the periods, or the voucher types), but not the
// grand total of the ageing.
export function drawChart(svg, {columns, totals}) {
  const bars = columns.filter((c) => c.total && c.name !== 'imoney')
                   .map((c) => ({
                          label: c.group && c.group !== columns[0].group ? c.group : c.text,
                          value: totals[c.name]
                        }));
  const NS = 'http://www.w3.org/2000/svg';
  const width = 900, height = 280, left = 70, bottom = 40, top = 20;
  svg.setAttribute('viewBox', `0 0 ${width} ${height}`);
  svg.replaceChildren();
  const add = (tag, attrs, text) => {
    const el = document.createElementNS(NS, tag);
    for (const [k, v] of Object.entries(attrs)) el.setAttribute(k, v);
    if (text !== undefined) el.textContent = text;
    svg.append(el);
    return el;
  };
  const max = Math.max(1, ...bars.map((b) => Math.abs(b.value)));
  const slot = (width - left - 10) / Math.max(1, bars.length);
  const plot = height - bottom - top;
  add('line', {class: 'axis', x1: left, y1: height - bottom, x2: width - 10, y2: height - bottom});
  add('line', {class: 'axis', x1: left, y1: top, x2: left, y2: height - bottom});
  add('text', {x: left - 6, y: top + 4, 'text-anchor': 'end'}, max.toFixed(0));
  add('text', {x: left - 6, y: height - bottom, 'text-anchor': 'end'}, '0');
  bars.forEach((b, i) => {
    const h = Math.max(0, b.value) / max * plot;
    const barWidth = Math.min(slot * 0.7, 90);
    const x = left + i * slot + (slot - barWidth) / 2;
    const bar = add('rect', {
      class: 'bar',
      x: x.toFixed(1),
      y: (height - bottom - h).toFixed(1),
      width: barWidth.toFixed(1),
      height: h.toFixed(1)
    });
    const title = document.createElementNS(NS, 'title');
    title.textContent = `${b.label}: ${b.value.toFixed(2)}`;
    bar.append(title);
    add('text', {
      class: 'value',
      x: (x + barWidth / 2).toFixed(1),
      y: (height - bottom - h - 4).toFixed(1),
      'text-anchor': 'middle'
    },
        b.value.toFixed(2));
    add('text',
        {x: (x + barWidth / 2).toFixed(1), y: height - bottom + 16, 'text-anchor': 'middle'},
        b.label);
  });
  svg.toggleAttribute('hidden', !bars.length);  // an SVG element has no `hidden` property
}

// One CSV cell, quoted where it needs to be. Text that a spreadsheet would take for a formula
// (= + - @, a tab or a carriage return first) gets a leading apostrophe, so that it opens as the
// text it is. Plain numbers of amount columns (`numeric`) stay numbers, negative ones too, so that
// they can still be added up.
export function csvCell(value, numeric = false) {
  let text = String(value);
  if (!(numeric && /^-?\d+(\.\d+)?$/.test(text)) && /^[=+\-@\t\r]/.test(text)) text = `'${text}`;
  return /[",\r\n]/.test(text) ? '"' + text.replace(/"/g, '""') + '"' : text;
}

// RFC 4180 text of the table, totals row included.
export function reportCsv({columns, rows, totals}, totalLabel) {
  const lines = [columns.map(
      (c) => csvCell(c.group && c.group !== c.text ? `${c.group} ${c.text}` : c.text))];
  for (const row of rows) {
    lines.push(columns.map((c) => csvCell(row.getAttribute(c.name) || '', c.total)));
  }
  lines.push(columns.map(
      (c, i) => i === 0 ? csvCell(totalLabel) :
          c.total       ? csvCell(totals[c.name].toFixed(2), true) :
                          ''));
  return lines.map((l) => l.join(',')).join('\r\n') + '\r\n';
}

// Offers a text as a file to save.
export function download(text, name, type) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(new Blob([text], {type}));
  a.download = name;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 1000);
}
