// The self-service pages: log in, then the views the operator's rights allow — my vouchers
// (employees), vouchers to approve, payments (cashier), ledger vouchers and reports (finance).
// Views are chosen by the address (#/…); everything shown comes from the classes' answers.
import * as admin from './admin.js';
import * as api from './api.js';
import * as approver from './approver.js';
import * as cashier from './cashier.js';
import {field, h, input, say, select} from './dom.js';
import * as employee from './employee.js';
import * as finance from './finance.js';
import {language, LANGUAGES, setLanguage, t} from './i18n.js';
import {connect, go, guard, takeMessage} from './nav.js';
import * as notices from './notices.js';
import * as print from './print.js';
import {session} from './session.js';
import {countWaiting, WAITING} from './vouchers.js';

// The views of the navigation and the rights that open them (any of them; administrators see
// every view). The pages check nothing themselves: the classes refuse what a right does not allow.
const VIEWS = [
  {id: 'mine', rights: ['ec020101', 'ec020301']},
  {id: 'inbox', rights: ['ec020201', 'ec020401']},
  {id: 'pay', rights: ['ec020501', 'ec020305']},
  {id: 'ledger', rights: ['ec0206', 'ec0303']},
  {id: 'reports', rights: ['ec0402', 'ec0404']},
  {id: 'admin', rights: ['admin']},
];
const ROUTES = {
  ...employee.routes,
  ...approver.routes,
  ...cashier.routes,
  ...finance.routes,
  ...admin.routes,
  ...notices.routes,
  ...print.routes
};

// A right on a branch ("ec02") covers every task below it ("ec020201"), as at the server.
function holds(task) {
  for (const right of session.rights) {
    if (task.startsWith(right)) return true;
  }
  return false;
}

function allowed(view) {
  return session.admin || view.rights.some(holds);
}
// The navigation view a route belongs to.
const VIEW_OF = {
  loan: 'mine',
  claim: 'mine',
  review: 'inbox',
  settle: 'pay',
  pz: 'ledger',
  duplicates: 'reports'
};
function routeAllowed(name) {
  // Anyone who may open a voucher may print it: the reads keep to the data permissions.
  if (name === 'print') return VIEWS.some(allowed);
  // Everyone logged in has their own notices.
  if (name === 'notices') return true;
  const view = VIEWS.find((v) => v.id === (VIEW_OF[name] || name));
  return !!view && allowed(view);
}

// ---------------------------------------------------------------------------------------------
// Logging in. A session that ends while the user works asks for the password in a dialog and
// leaves the page as it was, so that nothing typed is lost.

function loginForm(onDone, known = {}) {
  const lang = select('language', LANGUAGES.map((l) => [l, t('lang.' + l)]), language());
  const error = h('p', {class: 'error-text', role: 'alert', hidden: true});
  const form =
      h('form', {class: 'login', 'aria-label': t('login.title')},
        field(
            t('login.user'),
            input(
                'user', known.user || '',
                {autocomplete: 'username', required: true, autocapitalize: 'none'})),
        field(t('login.password'), input('password', known.password || '', {
                type: 'password',
                autocomplete: 'current-password'
              })),
        field(t('login.account'), input('account', known.account || '001', {inputmode: 'numeric'})),
        field(
            t('login.year'),
            input('year', known.year || String(new Date().getFullYear()), {inputmode: 'numeric'})),
        field(t('login.language'), lang), error,
        h('div', {class: 'actions'}, h('button', {type: 'submit'}, t('login.submit'))));
  // The labels follow the language chosen; what was typed stays.
  lang.addEventListener('change', () => {
    setLanguage(lang.value);
    const again = loginForm(onDone, {
      user: form.elements.user.value,
      password: form.elements.password.value,
      account: form.elements.account.value,
      year: form.elements.year.value
    });
    const heading = form.parentNode.querySelector('h1, h2');
    if (heading) heading.textContent = t(heading.tagName === 'H1' ? 'login.title' : 'login.again');
    form.replaceWith(again);
    showHeader();
    again.elements.language.focus();
  });
  form.addEventListener('submit', async (e) => {
    e.preventDefault();
    try {
      await onDone(await api.login(Object.fromEntries(new FormData(form))));
    } catch (err) {
      error.textContent = err.message;
      error.hidden = false;
      form.elements.password.select();
    }
  });
  return form;
}

async function startSession(info) {
  const [zt, auth] = await api.call('CPubMsg', [api.op('ztget'), api.op('authget')]);
  Object.assign(session, info);
  session.admin = api.must(zt).getAttribute('isadmin') === '1';
  session.rights = new Set(api.records(auth).map((r) => r.name));
  setLanguage(info.language);
  showHeader();
}

function showHeader() {
  document.documentElement.lang = language();
  document.title = t('title');
  document.getElementById('brand').textContent = t('title');
  const nav = document.getElementById('nav');
  nav.setAttribute('aria-label', t('nav.label'));
  nav.replaceChildren(
      ...(session.user ? VIEWS.filter(allowed) : [])
          .map(
              (v) =>
                  h('a', {href: '#/' + v.id, dataset: {view: v.id}}, t('nav.' + v.id),
                    WAITING[v.id] ?
                        h('span', {class: 'count', dataset: {count: v.id}, hidden: true}) :
                        null)));
  const bell = document.getElementById('bell');
  bell.hidden = !session.user;
  bell.firstChild.textContent = t('nav.notices');
  refreshCounts();
  document.getElementById('who').textContent = session.user ?
      `${session.userName} · ${session.accountName || session.account} · ${session.year}` :
      '';
  const out = document.getElementById('logout');
  out.textContent = t('logout');
  out.hidden = !session.user;
}

// The work waiting in the navigation (to approve, to pay, to book), read again every half
// minute and after every view so that it follows what the operator and the others do.
let counting = 0;
async function refreshCounts() {
  const mine = ++counting;
  const user = session.user;
  const badge = document.getElementById('notice-count');
  try {
    const unread = user ? await notices.countUnread() : 0;
    if (mine !== counting) return;
    badge.textContent = unread.toLocaleString(language());
    badge.hidden = !unread;
    document.getElementById('bell').setAttribute(
        'aria-label', unread ? `${t('nav.notices')}: ${t('nt.badge', unread)}` : t('nav.notices'));
  } catch (e) {
    return;
  }
  for (const span of document.querySelectorAll('#nav .count')) {
    const view = span.dataset.count;
    let count = 0;
    try {
      count = user ? await countWaiting(view, user) : 0;
    } catch (e) {
      // A lost session shows itself at the next action; the counts just wait.
      return;
    }
    if (mine !== counting) return;
    span.textContent = count.toLocaleString(language());
    span.hidden = !count;
    span.setAttribute('aria-label', t('nav.waiting', count));
  }
}
setInterval(() => {
  if (session.user && !document.hidden) refreshCounts();
}, 30000);

function relogin() {
  const dialog = document.getElementById('relogin');
  dialog.replaceChildren(h('h2', null, t('login.again')), loginForm(async (info) => {
                           await startSession(info);
                           dialog.close();
                           say('info', t('login.back'));
                         }, session));
  if (!dialog.open) dialog.showModal();
  dialog.querySelector('[name=password]').focus();
}

// ---------------------------------------------------------------------------------------------
// Routing: #/<view>/<arguments>.

// Each route counts: a page still loading when the next route starts (a logout, another link)
// is dropped instead of drawn over what the later one shows.
let routes = 0;

async function route() {
  const main = document.getElementById('main');
  const mine = ++routes;
  if (!session.user) {
    main.replaceChildren(
        h('section', {class: 'card narrow'}, h('h1', null, t('login.title')),
          loginForm(async (info) => {
            await startSession(info);
            route();
          })));
    main.querySelector('input').focus();
    return;
  }
  const parts = location.hash.replace(/^#\/?/, '').split('/').map(decodeURIComponent);
  // An address left by someone else (the previous user of this browser) that this operator's
  // rights do not open starts at the operator's own first view.
  if (!ROUTES[parts[0]] || !routeAllowed(parts[0])) {
    const first = VIEWS.find(allowed);
    if (first) return go('/' + first.id);
    main.replaceChildren(h('p', {class: 'card'}, t('nav.none')));
    return;
  }
  for (const a of document.querySelectorAll('#nav a')) {
    if (a.dataset.view === parts[0])
      a.setAttribute('aria-current', 'page');
    else
      a.removeAttribute('aria-current');
  }
  main.setAttribute('aria-busy', 'true');
  main.replaceChildren(h('p', {class: 'muted'}, t('loading')));
  const message = takeMessage();
  say('');
  const shown = await guard(async () => {
    const page = await ROUTES[parts[0]](...parts.slice(1));
    if (mine !== routes) return true;
    main.replaceChildren(page);
    if (message) say(...message);
    return true;
  });
  // A page that could not be read (a voucher that does not exist, a refusal) says so in the
  // message line and leaves a way on instead of "Loading…".
  if (mine !== routes) return;
  if (!shown) {
    main.replaceChildren(
        h('section', {class: 'card'}, h('h1', null, t('route.failed')),
          h('p', null, h('a', {href: '#/'}, t('route.start')))));
  }
  refreshCounts();
  const heading = main.querySelector('h1');
  if (heading) {
    heading.tabIndex = -1;
    heading.focus();
  }
  main.removeAttribute('aria-busy');
}

async function start() {
  connect({route, relogin});
  document.getElementById('logout').addEventListener('click', async () => {
    await api.logout();
    session.user = '';
    say('');
    showHeader();
    go('/');
  });
  // Escape dismisses the message line; an open dialog closes itself.
  document.addEventListener('keydown', (e) => {
    if (e.key === 'Escape' && !document.querySelector('dialog[open]')) say('');
  });
  window.addEventListener('hashchange', () => route());
  setLanguage(navigator.language && navigator.language.startsWith('en') ? 'en-US' : 'zh-CN');
  const info = await api.currentSession();
  if (info) await guard(() => startSession(info));
  showHeader();
  route();
}
start();
