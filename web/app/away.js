// "While I'm away": the approver names who approves for them on the days they are away, sees
// the ones they stand in for, and removes a substitute again. An administrator keeps anyone's.
// The rules (no circle, no disabled substitute, ranges that do not overlap) are the server's.
import * as api from './api.js';
import {busy, field, h, input, say, section, table} from './dom.js';
import {t} from './i18n.js';
import {guard} from './nav.js';
import {session} from './session.js';

async function readDelegations() {
  const [out] = await api.call('CAudit', [api.op('GetDelegations', '<in/>')]);
  const rows = api.must(out);
  return {today: rows ? rows.getAttribute('today') : '', rows: api.records(rows)};
}

async function removeDelegation(row) {
  const [out] = await api.call(
      'CAudit', [api.op('DelDelegation', `<in${api.attrs({AutoID: row.AutoID, ts: row.ts})}/>`)]);
  api.must(out);
}

async function saveDelegation(values) {
  const [out] = await api.call('CAudit', [api.op('SaveDelegation', `<in${api.attrs(values)}/>`)]);
  api.must(out);
}

// The section of the inbox; redraws itself after every change.
export async function awaySection() {
  const box = section(t('away.title'));
  const draw = async () => {
    const {today, rows} = await readDelegations();
    const me = session.user.toLowerCase();
    const mine = (r) => r.cUser_Id.toLowerCase() === me;
    const name = (id, shown) => shown ? `${shown} (${id})` : id;
    const keeps = (r) => mine(r) || session.admin;
    const disabled = (r) => r.bDisabled === 'True' || r.bDisabled === '1';
    const substitute = (r) => keeps(r) ?
        [
          name(r.cSubstitute_Id, r.cSubstitute_Name),
          disabled(r) ? h('span', {class: 'muted'}, ' · ' + t('away.disabled')) : ''
        ] :
        t('away.standIn', name(r.cUser_Id, r.cUser_Name));
    const state = (r) => r.dTo < today ? t('away.past') :
        r.dFrom > today                ? t('away.coming') :
                                         t('away.now');
    const remove = (r) =>
        h('button', {
          type: 'button',
          class: 'secondary',
          onclick: (e) => guard(
              () => busy(
                  e.target,
                  async () => {
                    await removeDelegation(r);
                    await draw();
                    say('info', t('away.removed'));
                  }))
        },
          t('away.remove'));
    const list = rows.length ?
        table(
            [
              ...(session.admin ?
                      [{label: t('away.user'), cell: (r) => name(r.cUser_Id, r.cUser_Name)}] :
                      []),
              {label: t('away.substitute'), cell: substitute},
              {label: t('away.from'), key: 'dFrom'},
              {label: t('away.to'), key: 'dTo'},
              {label: t('away.state'), cell: state},
              {label: t('f.remark'), key: 'cRemark'},
              {label: '', cell: (r) => keeps(r) ? remove(r) : ''},
            ],
            rows) :
        h('p', {class: 'muted'}, t('away.none'));

    const form =
        h('form', {class: 'away'},
          h('div', {class: 'grid'},
            session.admin ? field(
                                t('away.user'), input('user', '', {placeholder: session.user}),
                                t('away.userNote')) :
                            null,
            field(
                t('away.substitute'),
                input('substitute', '', {required: true, autocapitalize: 'none'}),
                t('away.substituteNote')),
            field(t('away.from'), input('from', today, {type: 'date', required: true})),
            field(t('away.to'), input('to', today, {type: 'date', required: true})),
            field(t('f.remark'), input('remark', '', {maxlength: 120}))),
          h('div', {class: 'actions'}, h('button', {type: 'submit'}, t('away.save'))));
    form.addEventListener('submit', (e) => {
      e.preventDefault();
      guard(() => busy(e.submitter || form.querySelector('button'), async () => {
              const values = Object.fromEntries(new FormData(form));
              await saveDelegation(values);
              await draw();
              say('info', t('away.saved', values.substitute, values.from, values.to));
            }));
    });
    box.replaceChildren(
        box.firstChild, h('p', {class: 'muted'}, t('away.intro')), list,
        h('h3', null, t('away.new')), form);
  };
  await draw();
  return box;
}
