'use strict';
// The station's web console: sign-in, the board fed live by /api/stream,
// handling an alarm through its console, history search.

const state = { user: null, role: null, csrf: null, picture: null, handling: null,
                selected: null, feed: null, audio: null, beep: null };

const $ = (id) => document.getElementById(id);

function el(tag, props, ...children) {
  const node = document.createElement(tag);
  Object.assign(node, props || {});
  for (const c of children) node.append(c);
  return node;
}

async function api(method, path, body) {
  const headers = {};
  if (method !== 'GET') {
    headers['Content-Type'] = 'application/json';
    if (state.csrf) headers['X-CSRF-Token'] = state.csrf;
  }
  const res = await fetch(path, { method, headers, credentials: 'same-origin',
                                  body: body === undefined ? undefined : JSON.stringify(body) });
  let data = {};
  try { data = await res.json(); } catch (e) { data = {}; }
  if (res.status === 401 && path !== '/api/login') showLogin(data.error || 'Войдите в систему');
  return { status: res.status, data };
}

// Login and the session.

function showLogin(message) {
  stopFeed();
  state.user = state.csrf = null;
  $('main').hidden = true;
  $('login').hidden = false;
  $('login-error').textContent = message || '';
}

async function enter(session) {
  Object.assign(state, { user: session.user, role: session.role, csrf: session.csrf });
  $('login').hidden = true;
  $('main').hidden = false;
  const roles = { viewer: 'наблюдатель', operator: 'оператор', manager: 'руководитель' };
  $('who').textContent = `${state.user} (${roles[state.role] || state.role})`;
  const handling = await api('GET', '/api/handling');
  state.handling = handling.data;
  startFeed();
}

function canHandle() { return state.role === 'operator' || state.role === 'manager'; }

$('login-form').addEventListener('submit', async (e) => {
  e.preventDefault();
  startAudio();
  const r = await api('POST', '/api/login', { user: $('login-user').value, password: $('login-password').value });
  $('login-password').value = '';
  if (r.status === 200) enter(r.data);
  else $('login-error').textContent = r.data.error || `Вход не удался (${r.status})`;
});

$('logout').addEventListener('click', async () => {
  await api('POST', '/api/logout', {});
  showLogin('Вы вышли.');
});

// The live feed.

function startFeed() {
  stopFeed();
  const feed = new EventSource('/api/stream');
  state.feed = feed;
  feed.addEventListener('picture', (e) => {
    $('feed-state').textContent = '';
    state.picture = JSON.parse(e.data);
    render();
  });
  feed.onerror = async () => {
    $('feed-state').textContent = 'Связь с хабом прервана; переподключаемся…';
    const r = await api('GET', '/api/session');
    if (r.status !== 200) stopFeed();
  };
}

function stopFeed() {
  if (state.feed) state.feed.close();
  state.feed = null;
  sound(false);
}

// The sound: a beep each second and a half while an alarm waits.

function startAudio() {
  if (!state.audio) {
    try { state.audio = new AudioContext(); } catch (e) { state.audio = null; }
  }
  if (state.audio && state.audio.state === 'suspended') state.audio.resume();
}

function sound(on) {
  const blocked = on && (!state.audio || state.audio.state !== 'running');
  $('sound-on').hidden = !blocked;
  if (on && !state.beep) {
    state.beep = setInterval(() => {
      const ctx = state.audio;
      if (!ctx || ctx.state !== 'running') return;
      const osc = ctx.createOscillator();
      const gain = ctx.createGain();
      osc.frequency.value = 880;
      gain.gain.value = 0.2;
      osc.connect(gain).connect(ctx.destination);
      osc.start();
      osc.stop(ctx.currentTime + 0.25);
    }, 1500);
  } else if (!on && state.beep) {
    clearInterval(state.beep);
    state.beep = null;
  }
}

$('sound-on').addEventListener('click', () => { startAudio(); setTimeout(render, 100); });

// The board.


// The consoles' states as the operator says them; true: something is wrong.
const STATUS_WORDS = {
  link: { ok: ['норма', false], lost: ['нет связи', true] },
  line: { ok: ['норма', false], fault: ['нет сигнала', true] },
  enclosure: { closed: ['закрыт', false], open: ['вскрыт', true] },
};

function render() {
  const p = state.picture;
  if (!p) return;
  const consoles = $('consoles');
  consoles.replaceChildren();
  const selects = [$('history-station'), $('report-station')];
  const chosen = selects.map((x) => x.value);
  for (const x of selects) x.replaceChildren(el('option', { value: '', textContent: 'все' }));
  for (const s of p.stations) {
    const card = el('div', { className: `console ${s.online ? 'online' : 'offline'}` },
      el('h3', { textContent: s.station }),
      el('div', { className: 'state', textContent: s.online ? 'в сети' : 'не в сети' }));
    for (const [key, title] of [['link', 'связь'], ['line', 'линия'], ['enclosure', 'корпус']]) {
      if (!s[key]) continue;
      const [word, bad] = STATUS_WORDS[key][s[key]] || [s[key], false];
      card.append(el('div', { className: bad ? 'state bad' : 'state', textContent: `${title}: ${word}` }));
    }
    if (s.last_event) card.append(el('div', { className: 'state', textContent: `последнее событие: ${when(s.last_event)}` }));
    consoles.append(card);
    for (const x of selects) x.append(el('option', { value: s.station, textContent: s.station }));
  }
  selects.forEach((x, i) => { x.value = chosen[i]; });

  const list = $('alarms');
  list.replaceChildren();
  let waiting = 0;
  for (const a of p.alarms) {
    if (!a.acknowledged) waiting++;
    const key = `${a.station}/${a.id}`;
    const item = el('li', { className: `alarm ${a.acknowledged ? 'acknowledged' : 'waiting'}` },
      el('div', { textContent: `${a.priority_title || a.priority} — ${a.address} ${a.comment || ''}` }),
      el('div', { className: 'meta', textContent: `${a.text}` }),
      el('div', { className: 'meta', textContent:
        `${a.station} · №${a.id} · ${when(a.time)}${a.repeats > 1 ? ` · повторов: ${a.repeats}` : ''}` +
        `${a.restored ? ' · восстановлено' : ''}` +
        (a.acknowledged ? ` · принята: ${a.ack_operator || ''} ${when(a.ack_time)}` : ' · ожидает') }));
    item.dataset.station = a.station;
    item.dataset.id = a.id;
    item.dataset.priority = a.priority;
    if (a.colour) item.style.borderLeftColor = a.colour;
    if (state.selected === key) item.classList.add('selected');
    item.addEventListener('click', () => { state.selected = key; $('command-status').textContent = ''; render(); });
    list.append(item);
  }
  $('alarm-count').textContent = p.alarms.length ? `(${p.alarms.length}, ожидают: ${waiting})` : '';
  $('no-alarms').hidden = p.alarms.length > 0;
  sound(waiting > 0);
  renderDetail();
}

function when(iso) {
  if (!iso) return '';
  const d = new Date(iso);
  return isNaN(d) ? iso : d.toLocaleString('ru-RU');
}

function planFor(alarm) {
  const s = state.picture.stations.find((x) => x.station === alarm.station);
  const plans = (s && s.plans) || [];
  return plans.find((p) => p.address && p.address === alarm.address) ||
         plans.find((p) => !p.address && p.priority === alarm.priority) || null;
}

function renderDetail() {
  const box = $('alarm-detail');
  const alarm = state.picture.alarms.find((a) => `${a.station}/${a.id}` === state.selected);
  if (!alarm) {
    box.hidden = true;
    return;
  }
  // A form being filled in is not rebuilt under the operator's fingers.
  if (!box.hidden && box.dataset.key === state.selected && box.dataset.version === stamp(alarm)) return;
  box.dataset.key = state.selected;
  box.dataset.version = stamp(alarm);
  box.hidden = false;
  box.replaceChildren(el('h3', { textContent: `Тревога №${alarm.id}: ${alarm.priority_title || alarm.priority}, объект ${alarm.address} (${alarm.station})` }));

  const plan = planFor(alarm);
  if (plan) {
    const lines = [plan.instructions || ''];
    if (plan.guard_group) lines.push(`Группа: ${plan.guard_group} ${plan.guard_phone || ''}`);
    for (const h of plan.key_holders || []) lines.push(`${h.name}${h.role ? ` (${h.role})` : ''}: ${(h.phones || []).join(', ')}`);
    box.append(el('h4', { textContent: plan.address ? 'План объекта' : 'План по умолчанию' }),
               el('div', { className: 'plan', textContent: lines.join('\n') }));
  } else {
    box.append(el('p', { textContent: 'Плана реагирования для этого объекта нет.' }));
  }
  const done = el('ul', {});
  for (const act of alarm.actions || []) {
    const t = (state.handling.actions.find((x) => x.code === act.code) || {}).title || act.code;
    done.append(el('li', { textContent: `${when(act.time)} ${t}${act.detail ? `: ${act.detail}` : ''} — ${act.operator || ''}` }));
  }
  if (!done.children.length) done.append(el('li', { textContent: 'пока ничего' }));
  box.append(el('h4', { textContent: 'Сделано' }), done);

  if (canHandle()) {
    if (!alarm.acknowledged) {
      const note = el('input', { id: 'ack-note', placeholder: 'Примечание (необязательно)' });
      const form = el('form', {}, note, el('button', { id: 'ack', type: 'submit', className: 'primary', textContent: 'Принять' }));
      form.addEventListener('submit', (e) => { e.preventDefault(); send(alarm, 'ack', { note: note.value }); });
      box.append(form);
    }
    const code = el('select', { id: 'action-code' });
    for (const a of state.handling.actions) code.append(el('option', { value: a.code, textContent: a.title }));
    const detail = el('input', { id: 'action-detail', placeholder: 'Подробности' });
    const act = el('form', {}, code, detail, el('button', { id: 'action-submit', type: 'submit', textContent: 'Записать действие' }));
    act.addEventListener('submit', (e) => { e.preventDefault(); send(alarm, 'action', { action: code.value, detail: detail.value }); });
    const outcome = el('select', { id: 'outcome' }, el('option', { value: '', textContent: '— исход —' }));
    for (const o of state.handling.outcomes) outcome.append(el('option', { value: o.code, textContent: o.title }));
    const closeNote = el('input', { id: 'close-note', placeholder: 'Примечание' });
    const close = el('form', {}, outcome, closeNote, el('button', { id: 'close-submit', type: 'submit', textContent: 'Закрыть тревогу' }));
    close.addEventListener('submit', (e) => { e.preventDefault(); send(alarm, 'close', { outcome: outcome.value, note: closeNote.value }); });
    box.append(el('h4', { textContent: 'Действия' }), act, close);
  }
}

function stamp(alarm) {
  return `${alarm.acknowledged}|${(alarm.actions || []).length}|${alarm.repeats}|${alarm.restored}`;
}

async function send(alarm, verb, body) {
  const status = $('command-status');
  const buttons = $('alarm-detail').querySelectorAll('button');
  buttons.forEach((b) => { b.disabled = true; });
  status.className = '';
  status.textContent = `Отправлено консоли ${alarm.station}; ждём её подтверждения…`;
  const r = await api('POST', `/api/alarms/${encodeURIComponent(alarm.station)}/${alarm.id}/${verb}`, body);
  const now = status;
  if (r.status === 200) {
    now.className = 'ok';
    now.textContent = { ack: 'Консоль подтвердила: тревога принята.', action: 'Консоль подтвердила: действие записано.',
                        close: 'Консоль подтвердила: тревога закрыта.' }[verb];
  } else {
    now.className = 'error';
    now.textContent = r.data.error || `Не выполнено (${r.status})`;
  }
  $('alarm-detail').querySelectorAll('button').forEach((b) => { b.disabled = false; });
}

// History.

function isoOf(local) {
  if (!local) return '';
  const d = new Date(local);
  return isNaN(d) ? '' : `${d.toISOString().slice(0, 19)}Z`;
}

$('history-form').addEventListener('submit', async (e) => {
  e.preventDefault();
  const q = new URLSearchParams();
  const put = (k, v) => { if (v) q.set(k, v); };
  put('station', $('history-station').value);
  put('address', $('history-address').value.trim());
  put('from', isoOf($('history-from').value));
  put('to', isoOf($('history-to').value));
  $('history-state').textContent = 'Ищем…';
  const r = await api('GET', `/api/events?${q}`);
  const body = $('history-table').tBodies[0];
  body.replaceChildren();
  if (r.status !== 200) {
    $('history-state').textContent = r.data.error || `Поиск не удался (${r.status})`;
    $('history-table').hidden = true;
    return;
  }
  for (const ev of r.data.events) {
    body.append(el('tr', {}, el('td', { textContent: when(ev.time) }), el('td', { textContent: ev.station }),
      el('td', { textContent: ev.address || '' }), el('td', { textContent: ev.text || ev.kind || '' }),
      el('td', { textContent: ev.operator || '' })));
  }
  $('history-state').textContent = r.data.events.length ? `Найдено событий: ${r.data.events.length} (новые сверху)` : 'Ничего не найдено.';
  $('history-table').hidden = r.data.events.length === 0;
});

// Reports: made by the hub from its store, the console's own report pages.

$('report-kind').addEventListener('change', () => {
  $('report-address-label').hidden = $('report-kind').value !== 'object';
});

// The report's address, or nothing with the reason shown.
function reportUrl(format) {
  const kind = $('report-kind').value;
  const q = new URLSearchParams();
  const put = (k, v) => { if (v) q.set(k, v); };
  put('station', $('report-station').value);
  const address = $('report-address').value.trim();
  if (kind === 'object') {
    if (!address) {
      $('report-state').textContent = 'Укажите адрес объекта.';
      return null;
    }
    q.set('address', address);
  }
  const from = isoOf($('report-from').value);
  const to = isoOf($('report-to').value);
  if (from && to && from > to) {
    $('report-state').textContent = 'Начало позже конца: поменяйте даты местами.';
    return null;
  }
  put('from', from);
  put('to', to);
  q.set('format', format);
  $('report-state').textContent = '';
  return `/api/reports/${kind}?${q}`;
}

$('report-form').addEventListener('submit', (e) => {
  e.preventDefault();
  const url = reportUrl('html');
  if (url) window.open(url, '_blank', 'noopener');
});

$('report-csv').addEventListener('click', () => {
  const url = reportUrl('csv');
  if (!url) return;
  const link = el('a', { href: url, download: '' });
  document.body.append(link);
  link.click();
  link.remove();
});

const panes = [['tab-board', 'board'], ['tab-history', 'history'], ['tab-reports', 'reports']];
for (const [tab, pane] of panes) {
  $(tab).addEventListener('click', () => {
    for (const [t, p] of panes) {
      $(t).classList.toggle('active', t === tab);
      $(p).hidden = p !== pane;
    }
  });
}

// A page opened again within a session goes straight to the board.
(async () => {
  const r = await api('GET', '/api/session');
  if (r.status === 200) enter(r.data);
  else showLogin('');
})();
