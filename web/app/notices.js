// The operator's notices: vouchers waiting for them, their own vouchers approved, rejected or
// paid, loans falling due. The service words each one in the operator's language; a notice
// opens its voucher and counts as read once opened. The header's badge shows how many are unread.
import * as api from './api.js';
import {busy, h, say, section} from './dom.js';
import {addLabels, language, t} from './i18n.js';
import {go} from './nav.js';

addLabels('zh-CN', {
  'nav.notices': '通知',
  'nt.title': '我的通知',
  'nt.unread': '{1} 条未读',
  'nt.badge': '{1} 条未读通知',
  'nt.allRead': '全部标为已读',
  'nt.read': '标为已读',
  'nt.open': '打开单据',
  'nt.none': '暂无通知。',
  'nt.new': '未读',
});
addLabels('en-US', {
  'nav.notices': 'Notices',
  'nt.title': 'My notices',
  'nt.unread': '{1} unread',
  'nt.badge': '{1} unread notices',
  'nt.allRead': 'Mark all read',
  'nt.read': 'Mark read',
  'nt.open': 'Open the voucher',
  'nt.none': 'No notices.',
  'nt.new': 'New',
});

export const routes = {
  notices: () => noticesView(),
};

// How many of the operator's notices are unread.
export async function countUnread() {
  const [out] = await api.call('CNotice', [api.op('count', '<in/>')]);
  return +api.must(out).getAttribute('unread') || 0;
}

async function markRead(inner) {
  const [out] = await api.call('CNotice', [api.op('read', inner)]);
  return +api.must(out).getAttribute('unread') || 0;
}

function when(value) {
  const d = new Date(String(value || '').replace(' ', 'T'));
  return isNaN(d) ? value || '' :
                    d.toLocaleString(language(), {dateStyle: 'short', timeStyle: 'short'});
}

async function noticesView() {
  const [out] = await api.call('CNotice', [api.op('list', '<in/>')]);
  const list = api.must(out);
  const notices = api.records(list, 'notice');
  const unread = +list.getAttribute('unread') || 0;
  const item = (n) => {
    const fresh = n.read !== '1';
    const open = h('a', {href: '#/' + n.route, class: 'notice-subject'}, n.subject);
    // Opening a notice's voucher reads it.
    open.addEventListener('click', async (e) => {
      if (!fresh) return;
      e.preventDefault();
      await markRead(`<in${api.attrs({id: n.id})}/>`).catch(() => 0);
      go('/' + n.route);
    });
    return h(
        'li', {class: fresh ? 'notice unread' : 'notice', dataset: {id: n.id}},
        h('div', {class: 'notice-head'}, fresh ? h('span', {class: 'tag'}, t('nt.new')) : null,
          open, h('time', {class: 'muted'}, when(n.created))),
        h('p', {class: 'notice-body'}, n.body),
        fresh ? h('button', {
          type: 'button',
          class: 'link',
          onclick: async (e) => {
            await busy(e.target, () => markRead(`<in${api.attrs({id: n.id})}/>`));
            go('/notices');
          }
        },
                  t('nt.read')) :
                null);
  };
  const all = h('button', {type: 'button', class: 'secondary', disabled: !unread}, t('nt.allRead'));
  all.addEventListener('click', () => busy(all, async () => {
                                  await markRead('<in all="1"/>');
                                  say('');
                                  go('/notices');
                                }));
  return h(
      'div', null, h('h1', null, t('nt.title')),
      section(
          t('nt.unread', unread), h('div', {class: 'actions'}, all),
          notices.length ? h('ul', {class: 'notices'}, ...notices.map(item)) :
                           h('p', {class: 'muted'}, t('nt.none'))));
}
