// The embedding panel, in a browser: the tiles as the panel client draws them, the facility's
// contacts, the clock and the transcript. Every action is a step of the scenario language, sent
// to the server; what it did comes back as the panel's state, over Server-Sent Events.
'use strict';

// ---- Qt style sheets as CSS -------------------------------------------------------------------

// A Qt colour or length expression with its CSS form, where it has one.
function hsvToRgb(h, s, v) {
  h = ((Number(h) % 360) + 360) % 360;
  s = Number(s) / 255;
  v = Number(v) / 255;
  const c = v * s, x = c * (1 - Math.abs(((h / 60) % 2) - 1)), m = v - c;
  const [r, g, b] = h < 60 ? [c, x, 0] : h < 120 ? [x, c, 0] : h < 180 ? [0, c, x]
                  : h < 240 ? [0, x, c] : h < 300 ? [x, 0, c] : [c, 0, x];
  return [r, g, b].map((u) => Math.round((u + m) * 255));
}

function alpha(text) {
  const t = text.trim();
  return t.endsWith('%') ? String(parseFloat(t) / 100) : String(+(parseFloat(t) / 255).toFixed(4));
}

// Splits "a, b(c, d), e" at the commas outside parentheses.
function topLevel(text, separator) {
  const parts = [];
  let depth = 0, start = 0;
  for (let i = 0; i < text.length; ++i) {
    const c = text[i];
    if (c === '(') ++depth;
    else if (c === ')') --depth;
    else if (c === separator && depth === 0) {
      parts.push(text.slice(start, i));
      start = i + 1;
    }
  }
  parts.push(text.slice(start));
  return parts;
}

// The argument list of the call "name(" that starts at "at", and where it ends.
function callAt(text, at, name) {
  let depth = 0;
  for (let i = at + name.length; i < text.length; ++i) {
    if (text[i] === '(') ++depth;
    else if (text[i] === ')' && --depth === 0) return [text.slice(at + name.length + 1, i), i + 1];
  }
  return [text.slice(at + name.length + 1), text.length];
}

function qtValue(value) {
  let out = '';
  for (let i = 0; i < value.length;) {
    const rest = value.slice(i).toLowerCase();
    const call = ['qlineargradient', 'rgba', 'hsva', 'hsv'].find((n) => rest.startsWith(n + '('));
    if (!call) {
      out += value[i++];
      continue;
    }
    const [args, end] = callAt(value, i, call);
    const a = topLevel(args, ',').map((s) => s.trim());
    if (call === 'rgba' && a.length === 4) {
      out += `rgba(${a[0]}, ${a[1]}, ${a[2]}, ${alpha(a[3])})`;
    } else if (call === 'hsv' && a.length >= 3) {
      out += `rgb(${hsvToRgb(a[0], a[1], a[2]).join(', ')})`;
    } else if (call === 'hsva' && a.length === 4) {
      out += `rgba(${hsvToRgb(a[0], a[1], a[2]).join(', ')}, ${alpha(a[3])})`;
    } else if (call === 'qlineargradient') {
      const at = {}, stops = [];
      for (const part of a) {
        const [key, ...v] = part.split(':');
        const val = v.join(':').trim();
        if (key.trim() === 'stop') {
          const space = val.indexOf(' ');
          stops.push(`${qtValue(val.slice(space + 1).trim())} ${parseFloat(val) * 100}%`);
        } else {
          at[key.trim()] = parseFloat(val);
        }
      }
      const dx = (at.x2 || 0) - (at.x1 || 0), dy = (at.y2 || 0) - (at.y1 || 0);
      const angle = Math.round((Math.atan2(dx, -dy) * 180) / Math.PI);
      out += `linear-gradient(${(angle + 360) % 360}deg, ${stops.join(', ')})`;
    } else {
      out += value.slice(i, end);
    }
    i = end;
  }
  return out;
}

// Translates a Qt style sheet for one tile into CSS for the element with id "id". Returns the CSS
// and what it cannot show, each as written.
function qtSheetToCss(sheet, id) {
  const css = [], unshown = [];
  if (!sheet) return { css: '', unshown };
  const rules = [];
  if (sheet.includes('{')) {
    const re = /([^{}]*)\{([^}]*)\}/g;
    let m;
    while ((m = re.exec(sheet))) rules.push([m[1].trim(), m[2]]);
  } else {
    rules.push(['', sheet]);
  }
  for (const [selectors, body] of rules) {
    const targets = [];
    for (const raw of topLevel(selectors, ',')) {
      const sel = raw.trim();
      if (sel.includes('::')) {
        unshown.push(`${sel} (a sub-control)`);
        continue;
      }
      const m = /^(QPushButton|QAbstractButton|QWidget|QLabel|\*)?(:[a-z-]+)?$/i.exec(sel);
      if (!m) {
        unshown.push(`${sel} (a selector)`);
        continue;
      }
      const state = (m[2] || '').toLowerCase();
      const pseudo = { '': '', ':pressed': ':active', ':hover': ':hover', ':focus': ':focus',
                       ':disabled': ':disabled', ':enabled': ':enabled' }[state];
      if (pseudo === undefined) {
        unshown.push(`${sel} (the state ${state})`);
        continue;
      }
      targets.push(`#${id}${pseudo}`);
    }
    if (!targets.length) continue;
    const decls = [];
    for (const d of topLevel(body, ';')) {
      const colon = d.indexOf(':');
      if (colon < 0) continue;
      const prop = d.slice(0, colon).trim().toLowerCase(), value = d.slice(colon + 1).trim();
      if (!prop) continue;
      if (prop.startsWith('qproperty-') || prop === 'image' || /palette\s*\(/i.test(value)) {
        unshown.push(`${prop}: ${value}`);
        continue;
      }
      decls.push(prop === 'opacity' ? `opacity: ${alpha(value)}` : `${prop}: ${qtValue(value)}`);
    }
    if (decls.length) css.push(`${targets.join(', ')} { ${decls.join('; ')} }`);
  }
  return { css: css.join('\n'), unshown };
}

// ---- The page -------------------------------------------------------------------------------

const $ = (id) => document.getElementById(id);
let state = null;
let nextLine = 0;
const said = {}; // what the page says under a tile, until its next action
const drafts = {}; // parent commands being typed, kept while the tiles are drawn anew

async function post(path, body) {
  const response = await fetch(path, { method: 'POST', body, headers: { 'Content-Type': 'text/plain' } });
  const text = (await response.text()).trim();
  $('problem').textContent = response.ok ? '' : text;
  return { ok: response.ok, text };
}

// One step, from this page, as fields: the server writes it in the step language. The tile it
// addresses is told what became of it.
async function act(fields) {
  const start = nextLine;
  const response = await fetch('/api/act', { method: 'POST', body: JSON.stringify(fields),
                                             headers: { 'Content-Type': 'application/json' } });
  const text = (await response.text()).trim();
  $('problem').textContent = response.ok ? '' : text;
  const answer = { ok: response.ok, text };
  if (fields.tile !== undefined) said[fields.tile] = await whatBecameOf(start, fields.tile, answer);
  render();
  return answer;
}

// Why a tile did nothing, in the operator's words, from the reason the server gives.
const silenceWords = {
  'not-registered': 'ignored: not bound',
  'other-contact': 'ignored: not its contact',
  'no-report-yet': 'ignored: no report yet',
  'other-control': 'ignored: another panel or control',
  'press-ignored': 'ignored: the component did not act on the press',
  'no-timer-due': 'ignored: no timer fell due',
  'nothing': 'ignored: the component did nothing',
};

// The silence of a step, said as the operator would want it: why the tile ignored a press.
async function whatBecameOf(start, tile, answer) {
  if (!answer.ok) return answer.text;
  const response = await fetch(`/api/state?since=${start}`);
  const s = await response.json();
  for (const l of s.lines) {
    if (l.tile !== tile) continue;
    if (l.silence) return silenceWords[l.silence.reason] || `ignored: ${l.silence.text}`;
    if (l.kind === 'answer') return l.answer === null ? 'no answer' : `answer: "${l.answer}"`;
  }
  return '';
}

function tileId(name) {
  return 'tile-' + (name === '' ? '_' : name.replace(/[^A-Za-z0-9_-]/g, '_'));
}


// A label with the blanks at its ends shown.
function labelNodes(label) {
  const frag = document.createDocumentFragment();
  const lead = label.length - label.trimStart().length, trail = label.length - label.trimEnd().length;
  const core = label.trim();
  const blank = (n) => {
    const s = document.createElement('span');
    s.className = 'blank';
    s.textContent = ' '.repeat(n);
    s.title = `${n} blank${n > 1 ? 's' : ''}`;
    return s;
  };
  if (core === '') {
    if (label.length) frag.append(blank(label.length));
    return frag;
  }
  if (lead) frag.append(blank(lead));
  frag.append(core);
  if (trail) frag.append(blank(trail));
  return frag;
}

function fact(dl, term, value) {
  const dt = document.createElement('dt'), dd = document.createElement('dd');
  dt.textContent = term;
  dd.textContent = value;
  dl.append(dt, dd);
}

function contactState(device, contact) {
  const c = (state.contacts || []).find((x) => x.device === device && x.contact === contact);
  return c ? c.state : 0;
}

function renderTile(t) {
  const card = document.createElement('div');
  card.className = 'card';
  card.dataset.tile = t.name;
  const h = document.createElement('h3');
  h.textContent = t.name === '' ? '(unnamed tile)' : `@${t.name}`;
  const stage = document.createElement('div');
  stage.className = 'stage';
  const label = t.label === null ? '' : t.label;
  const asLabel = t.style === 'label';
  const el = document.createElement(asLabel ? 'span' : 'button');
  el.id = tileId(t.name);
  el.className = 'tile' + (asLabel ? ' as-label' : '') + (t.alive ? '' : ' dead');
  el.setAttribute('aria-label', label);
  if (asLabel) el.setAttribute('role', 'note');
  el.append(labelNodes(label));
  if (!asLabel) {
    el.type = 'button';
    el.disabled = !t.alive;
    el.addEventListener('click', () => {
      const panel = t.panel || '1', control = t.control || t.name || 'tile';
      act({ act: 'press', tile: t.name, panel, control });
    });
  }
  stage.append(el);
  const dl = document.createElement('dl');
  dl.className = 'facts';
  const bound = t.bound.map(([d, f, l]) => (f === l ? `device ${d} contact ${f}` : `device ${d} contacts ${f}-${l}`));
  fact(dl, 'component', t.alive ? 'alive' : t.created ? 'deleted' : 'not created');
  fact(dl, 'bound', bound.length ? `${t.instance || '?'} (${bound.join(', ')})` : 'not bound');
  if (t.bound.length) {
    const states = boundContacts(t).map(([d, c]) => `${d}/${c} ${contactState(d, c) ? 'on' : 'off'}`);
    fact(dl, 'at the facility', states.join(', '));
  }
  // What it told the panel: the last value of each notification it sent, by name.
  if (t.notifications.length) {
    for (const n of t.notifications) fact(dl, `last ${n.name}`, n.value);
  } else {
    fact(dl, 'notified', 'nothing yet');
  }
  fact(dl, 'style', t.style === null ? 'button (not set)' : t.style);
  const others = Object.entries(t.properties).filter(([k]) => !['text', 'style', 'stylesheet', 'statesheet'].includes(k));
  if (others.length) fact(dl, 'properties', others.map(([k, v]) => `${k}=${v}`).join('; '));
  const sheets = [qtSheetToCss(t.stylesheet, el.id), qtSheetToCss(t.statesheet, el.id)];
  const unshown = sheets.flatMap((s) => s.unshown);
  const parts = [card];
  if (unshown.length) {
    const u = document.createElement('p');
    u.className = 'unshown';
    u.textContent = 'not shown: ' + unshown.join('; ');
    parts.push(u);
  }
  const note = document.createElement('p');
  note.className = 'said';
  note.setAttribute('role', 'status');
  note.textContent = said[t.name] || '';
  const actions = document.createElement('form');
  actions.className = 'actions';
  const input = document.createElement('input');
  input.placeholder = 'parent command';
  input.id = `command-${el.id}`;
  input.value = drafts[t.name] || '';
  input.addEventListener('input', () => { drafts[t.name] = input.value; });
  input.setAttribute('aria-label', `parent command to ${t.name || 'the tile'}`);
  const send = document.createElement('button');
  send.type = 'submit';
  send.textContent = 'Send';
  actions.addEventListener('submit', (e) => {
    e.preventDefault();
    act({ act: 'parent', tile: t.name, text: input.value });
  });
  const rebind = document.createElement('select');
  rebind.setAttribute('aria-label', `rebind ${t.name || 'the tile'}`);
  rebind.append(new Option('rebind to…', ''));
  for (const name of state.instances || []) rebind.append(new Option(name, name));
  rebind.addEventListener('change', () => {
    if (rebind.value !== '') act({ act: 'parent', tile: t.name, text: `instance=${rebind.value}` });
  });
  const life = document.createElement('button');
  life.type = 'button';
  life.textContent = t.alive ? 'Delete' : 'Create';
  life.addEventListener('click', () => act({ act: t.alive ? 'delete' : 'create', tile: t.name }));
  actions.append(input, send, rebind, life);
  card.append(h, stage, dl, ...parts.slice(1), note, actions);
  return { card, css: sheets.map((s) => s.css).filter(Boolean).join('\n') };
}

function renderContacts() {
  const box = $('contacts');
  box.replaceChildren();
  for (const c of state.contacts || []) {
    const row = document.createElement('div');
    row.className = 'contact';
    const name = document.createElement('span');
    name.textContent = `${c.device}/${c.contact}` + (c.names.length ? ` (${c.names.join(', ')})` : '');
    const sw = document.createElement('button');
    sw.type = 'button';
    sw.className = 'switch';
    sw.setAttribute('role', 'switch');
    sw.setAttribute('aria-checked', c.state ? 'true' : 'false');
    sw.setAttribute('aria-label', `device ${c.device} contact ${c.contact}`);
    sw.textContent = c.state ? 'on' : 'off';
    sw.addEventListener('click', () => act({ act: 'switch', device: c.device, contact: c.contact, state: c.state ? 0 : 1 }));
    row.append(name, sw);
    box.append(row);
  }
}

function renderTranscriptFilter() {
  const filter = $('filter');
  const chosen = filter.value;
  filter.replaceChildren(new Option('all tiles', '*'));
  for (const t of state.tiles) filter.append(new Option(t.name === '' ? '(unnamed)' : `@${t.name}`, t.name));
  filter.value = [...filter.options].some((o) => o.value === chosen) ? chosen : '*';
}

function addLines(lines) {
  const box = $('transcript');
  const atEnd = box.scrollTop + box.clientHeight >= box.scrollHeight - 4;
  for (const l of lines) {
    if (l.kind === 'answer') continue; // a fact for the tile: its line is among the events
    const div = document.createElement('div');
    div.className = `line ${l.kind}`;
    div.dataset.tile = l.tile;
    div.textContent = l.text;
    box.append(div);
  }
  while (box.childElementCount > 3000) box.firstElementChild.remove();
  applyFilter();
  if (atEnd) box.scrollTop = box.scrollHeight;
}

function applyFilter() {
  const chosen = $('filter').value;
  for (const div of $('transcript').children)
    div.hidden = chosen !== '*' && div.dataset.tile !== chosen && div.dataset.tile !== '';
}

// The tiles are drawn anew only where something they show changed, so that a click, a focus
// or a selection is never lost to a redraw while the clock runs.
const drawn = new Map(); // tile name -> { signature, card, css }
let contactsDrawn = '', filterDrawn = '';

function render() {
  if (!state) return;
  const tiles = $('tiles');
  const names = new Set(state.tiles.map((t) => t.name));
  for (const [name, d] of drawn) {
    if (!names.has(name)) {
      d.card.remove();
      drawn.delete(name);
    }
  }
  let previous = null;
  for (const t of state.tiles) {
    const { reports, ...shown } = t; // how many reports came is not shown
    const signature = JSON.stringify([shown, said[t.name] || '', state.instances, contactsOf(t)]);
    let d = drawn.get(t.name);
    if (!d || d.signature !== signature) {
      const active = document.activeElement;
      const focused = active && d && d.card.contains(active) ? active.id : null;
      const caret = focused ? active.selectionStart : null;
      const made = renderTile(t);
      if (d) d.card.replaceWith(made.card);
      d = { signature, card: made.card, css: made.css };
      drawn.set(t.name, d);
      if (focused && $(focused)) {
        $(focused).focus();
        if (caret !== null && caret !== undefined && $(focused).setSelectionRange) $(focused).setSelectionRange(caret, caret);
      }
    }
    const after = previous ? previous.nextSibling : tiles.firstChild;
    if (d.card !== after) tiles.insertBefore(d.card, after);
    previous = d.card;
  }
  const css = [...drawn.values()].map((d) => d.css).filter(Boolean).join('\n');
  if ($('tile-sheets').textContent !== css) $('tile-sheets').textContent = css;
  const contacts = JSON.stringify(state.contacts);
  if (contacts !== contactsDrawn) {
    contactsDrawn = contacts;
    renderContacts();
  }
  const filter = JSON.stringify(state.tiles.map((t) => t.name));
  if (filter !== filterDrawn) {
    filterDrawn = filter;
    renderTranscriptFilter();
  }
  $('clock-toggle').textContent = state.clock === 'running' ? 'Pause clock' : 'Run clock';
  $('clock-toggle').setAttribute('aria-pressed', state.clock === 'running' ? 'false' : 'true');
  $('clock-now').textContent = `${Math.floor((state.now || 0) / 1000)} s`;
  $('crash').hidden = !state.crash;
  $('crash-text').textContent = state.crash || '';
}

// Every contact of the ranges a tile registered (at most 64 of a range, as the server lists).
function boundContacts(t) {
  const all = [];
  for (const [d, f, l] of t.bound) for (let c = f; c <= l && c < f + 64; c++) all.push([d, c]);
  return all;
}

// The facility's states of the contacts a tile is bound to, which its card shows.
function contactsOf(t) {
  return boundContacts(t).map(([d, c]) => contactState(d, c));
}

function take(s) {
  const fresh = s.lines.filter((l) => l.n >= nextLine);
  state = s;
  if (fresh.length) {
    addLines(fresh);
    nextLine = fresh[fresh.length - 1].n + 1;
  }
  nextLine = Math.max(nextLine, s.next);
  render();
}

async function start() {
  const response = await fetch('/api/state?since=0');
  take(await response.json());
  const events = new EventSource('/api/events');
  events.onmessage = (e) => take(JSON.parse(e.data));
  $('clock-toggle').addEventListener('click', () => post('/api/clock', state.clock === 'running' ? 'pause' : 'run'));
  $('clock-advance').addEventListener('click', () => act({ act: 'advance', ms: 10000 }));
  $('restart').addEventListener('click', () => post('/api/restart', ''));
  $('filter').addEventListener('change', applyFilter);
  $('open').addEventListener('change', async () => {
    const file = $('open').files[0];
    if (file) await post('/api/replay', await file.text());
    $('open').value = '';
  });
  $('new-tile').addEventListener('submit', (e) => {
    e.preventDefault();
    act({ act: 'create', tile: $('new-name').value });
  });
}

if (typeof window !== 'undefined' && !window.vornNoStart) start();
