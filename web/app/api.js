// Calls to the business classes of the service: a request document of `func` elements goes to
// /api/<Class>, the same document comes back with each operation's answer under its `out`.
// Every answer is read as an XML document; nothing from it is ever parsed as HTML.

import {t} from './i18n.js';

// A refusal the user should read: the message text of an error document. The classes name a voucher
// row by its label "(n)" before the rest of the message; the page says "Row n:" in its language, as
// its own checks do.
export class ServiceError extends Error {
  constructor(text, id = '', status = 200) {
    const row = /^\((\d+)\)[:：的]?\s*([\s\S]*)$/.exec(text ?? '');
    super(row ? t('check.row', row[1], row[2]) : text);
    this.id = id;
    this.status = status;
  }
}
// The session ended (or never was): the caller logs in again and retries.
export class SessionLost extends ServiceError {}

// Text for an XML attribute or element.
export function x(value) {
  return String(value ?? '')
      .replace(/&/g, '&amp;')
      .replace(/</g, '&lt;')
      .replace(/>/g, '&gt;')
      .replace(/"/g, '&quot;')
      .replace(/'/g, '&apos;');
}
// name="value" pairs of an object, empty values included (the classes read them as empty).
export function attrs(values) {
  return Object.entries(values)
      .filter(([, v]) => v !== undefined && v !== null)
      .map(([k, v]) => ` ${k}="${x(v)}"`)
      .join('');
}
// One operation; `inner` is the XML inside the func (usually its `in`).
export function op(name, inner = '', more = {}) {
  return `<func${attrs({name, ...more})}>${inner}</func>`;
}

function parse(text) {
  const doc = new DOMParser().parseFromString(text, 'application/xml');
  return doc.getElementsByTagName('parsererror').length ? null : doc;
}

// The text of an error document (or of a non-XML answer) as the service wrote it.
function refusal(doc, text, status) {
  const root = doc && doc.documentElement;
  if (root && root.nodeName === 'error') {
    return new (status === 401 ? SessionLost : ServiceError)(
        child(root, 'text'), child(root, 'id'), status);
  }
  return new ServiceError(text.slice(0, 300) || `HTTP ${status}`, '', status);
}

function child(el, name) {
  const found = [...el.children].find((c) => c.nodeName === name);
  return found ? found.textContent : '';
}

async function post(path, body, type) {
  let res;
  try {
    res = await fetch(
        path, {method: 'POST', credentials: 'same-origin', headers: {'Content-Type': type}, body});
  } catch (e) {
    throw new ServiceError(String(e.message || e), 'network', 0);
  }
  const text = await res.text();
  const doc = parse(text);
  if (res.status !== 200 || !doc || doc.documentElement.nodeName === 'error') {
    throw refusal(doc, text, res.status);
  }
  return doc;
}

// Sends the operations to a class; answers the list of their `out` elements (null where an
// operation did not run because an earlier one failed).
export async function call(className, ops) {
  const body = `<req xmlns:z="#RowsetSchema">${ops.join('')}</req>`;
  const doc = await post('/api/' + className, body, 'application/xml; charset=utf-8');
  return [...doc.documentElement.children]
      .filter((c) => c.nodeName === 'func')
      .map((f) => [...f.children].find((c) => c.nodeName === 'out') || null);
}

// A whole request document as text (the reports build theirs); answers the answer's text.
export async function send(className, body) {
  const res = await fetch('/api/' + className, {
    method: 'POST',
    credentials: 'same-origin',
    headers: {'Content-Type': 'application/xml; charset=utf-8'},
    body
  });
  const text = await res.text();
  if (res.status === 401) throw refusal(parse(text), text, 401);
  return {status: res.status, text};
}

// The failure an answer carries, or null: an error element, or the lists' err/msg.
export function failure(out) {
  if (!out) return null;
  for (const el of out.children) {
    if (el.nodeName === 'error') return new ServiceError(child(el, 'text'), child(el, 'id'));
    if (el.nodeName === 'err') {
      const msg = [...el.getElementsByTagName('msg')][0];
      return new ServiceError(msg ? msg.textContent : el.textContent);
    }
  }
  return null;
}
// The answer of an operation that had to succeed: its first element; throws its failure.
export function must(out) {
  const failed = failure(out);
  if (failed) throw failed;
  return out ? out.firstElementChild : null;
}
// A save's warnings: the message document it answered instead of its result.
export function warning(out) {
  const message = out && [...out.children].find((c) => c.nodeName === 'message');
  return message ? child(message, 'text') : '';
}

// The attributes of the elements named `name` below `el`, as plain objects.
export function records(el, name = 'row') {
  if (!el) return [];
  return [...el.getElementsByTagName(name)].map((r) => {
    const o = {};
    for (const a of r.attributes) o[a.name] = a.value;
    return o;
  });
}
// The rows of a persisted recordset (rs:data/z:row).
export function recordset(el) {
  return records(el, 'z:row');
}

export async function login(fields) {
  const doc = await post(
      '/api/login', new URLSearchParams(fields).toString(), 'application/x-www-form-urlencoded');
  return attributesOf(doc.documentElement);
}
function attributesOf(el) {
  const o = {};
  for (const a of el.attributes) o[a.name] = a.value;
  return o;
}
export async function currentSession() {
  const res = await fetch('/api/session', {credentials: 'same-origin'});
  if (res.status !== 200) return null;
  const doc = parse(await res.text());
  return doc ? attributesOf(doc.documentElement) : null;
}
export async function logout() {
  await fetch('/api/logout', {method: 'POST', credentials: 'same-origin'});
}

// A document read with GET (the receipts' lists); refusals as for the classes.
export async function getDocument(path) {
  let res;
  try {
    res = await fetch(path, {credentials: 'same-origin'});
  } catch (e) {
    throw new ServiceError(String(e.message || e), 'network', 0);
  }
  const text = await res.text();
  const doc = parse(text);
  if (res.status !== 200 || !doc || doc.documentElement.nodeName === 'error') {
    throw refusal(doc, text, res.status);
  }
  return doc;
}

// Sends one file as the part "file" of a multipart form; `progress(sent, total)` follows the
// upload (fetch cannot say how far an upload is). Answers the answer's document.
export function uploadFile(path, file, progress) {
  return new Promise((resolve, reject) => {
    const xhr = new XMLHttpRequest();
    const form = new FormData();
    form.append('file', file, file.name);
    xhr.open('POST', path);
    xhr.upload.addEventListener('progress', (e) => {
      if (e.lengthComputable) progress(e.loaded, e.total);
    });
    xhr.addEventListener(
        'error', () => reject(new ServiceError(t('rc.uploadFailed'), 'network', 0)));
    xhr.addEventListener('load', () => {
      const doc = parse(xhr.responseText);
      if (xhr.status !== 200 || !doc || doc.documentElement.nodeName === 'error') {
        reject(refusal(doc, xhr.responseText, xhr.status));
      } else {
        resolve(doc);
      }
    });
    xhr.send(form);
  });
}
