// The embedding panel, in a browser: the tiles as the panel client draws them, an inspector for
// the selected one, the facility's contacts, the clock and the transcript. Every action is a
// step of the scenario language, sent to the server; what it did comes back as the panel's
// state, over Server-Sent Events.
'use strict';

// ---- Qt style sheets as CSS -------------------------------------------------------------------

function hsvToRgb(h, s, v) {
  h = ((Number(h) % 360) + 360) % 360;
  s = Number(s) / 255;
  v = Number(v) / 255;
  const c = v * s, x = c * (1 - Math.abs(((h / 60) % 2) - 1)), m = v - c;
  const [r, g, b] = h < 60 ? [c, x, 0] : h < 120 ? [x, c, 0] : h < 180 ? [0, c, x]
                  : h < 240 ? [0, x, c] : h < 300 ? [x, 0, c] : [c, 0, x];
  return [r, g, b].map((u) => Math.round((u + m) * 255));
}

// A Qt alpha (0-255, or a percentage) as CSS's 0-1.
function alpha(text) {
  const t = text.trim();
  return t.endsWith('%') ? String(parseFloat(t) / 100) : String(+(parseFloat(t) / 255).toFixed(4));
}

// A Qt saturation or lightness (0-255, or a percentage) as a CSS percentage.
function percent(text) {
  const t = text.trim();
  return t.endsWith('%') ? t : `${+((parseFloat(t) * 100) / 255).toFixed(2)}%`;
}

// Splits "a, b(c, d), e" at the separators outside parentheses and quotes.
function topLevel(text, separator) {
  const parts = [];
  let depth = 0, start = 0, quote = '';
  for (let i = 0; i < text.length; ++i) {
    const c = text[i];
    if (quote) {
      if (c === quote) quote = '';
    } else if (c === '"' || c === "'") quote = c;
    else if (c === '(') ++depth;
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

// A gradient's "key: value" arguments and its stops, each stop's colour already in CSS.
function gradientParts(args, context) {
  const at = {}, stops = [];
  for (const part of args) {
    const [key, ...v] = part.split(':');
    const val = v.join(':').trim();
    if (key.trim() === 'stop') {
      const space = val.indexOf(' ');
      stops.push([parseFloat(val), qtValue(val.slice(space + 1).trim(), context)]);
    } else if (key.trim() === 'spread') {
      if (val !== 'pad') context.unshown.push(`spread:${val} (drawn as spread:pad)`);
    } else {
      at[key.trim()] = parseFloat(val);
    }
  }
  return { at, stops };
}

const calls = ['qlineargradient', 'qradialgradient', 'qconicalgradient', 'rgba', 'hsva', 'hsla', 'hsv', 'hsl', 'url'];

// A Qt value in its CSS form. What it cannot show is added to context.unshown, and a file it
// names is looked up in context.files (the panel folder's files the server lists).
function qtValue(value, context = { unshown: [], files: [] }) {
  let out = '';
  for (let i = 0; i < value.length;) {
    const rest = value.slice(i).toLowerCase();
    const hex = /^#([0-9a-f]{8})\b/.exec(rest);
    if (hex && (i === 0 || /[\s,(]/.test(value[i - 1]))) { // Qt's #AARRGGBB
      const n = hex[1];
      const [a, r, g, b] = [0, 2, 4, 6].map((k) => parseInt(n.slice(k, k + 2), 16));
      out += `rgba(${r}, ${g}, ${b}, ${alpha(String(a))})`;
      i += 9;
      continue;
    }
    const call = calls.find((n) => rest.startsWith(n + '(') && (i === 0 || !/[a-z-]/i.test(value[i - 1])));
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
    } else if (call === 'hsl' && a.length >= 3) {
      out += `hsl(${parseFloat(a[0])}, ${percent(a[1])}, ${percent(a[2])})`;
    } else if (call === 'hsla' && a.length === 4) {
      out += `hsla(${parseFloat(a[0])}, ${percent(a[1])}, ${percent(a[2])}, ${alpha(a[3])})`;
    } else if (call === 'qlineargradient') {
      const { at, stops } = gradientParts(a, context);
      const dx = (at.x2 || 0) - (at.x1 || 0), dy = (at.y2 || 0) - (at.y1 || 0);
      const angle = Math.round((Math.atan2(dx, -dy) * 180) / Math.PI);
      out += `linear-gradient(${(angle + 360) % 360}deg, ${stops.map(([t, c]) => `${c} ${t * 100}%`).join(', ')})`;
    } else if (call === 'qradialgradient') {
      // In the widget's box, as a style sheet's gradient is: a radius of 0.5 is half its width
      // across and half its height down.
      const { at, stops } = gradientParts(a, context);
      const r = (at.radius ?? 0.5) * 100, cx = (at.cx ?? 0.5) * 100, cy = (at.cy ?? 0.5) * 100;
      if ((at.fx !== undefined && at.fx !== at.cx) || (at.fy !== undefined && at.fy !== at.cy))
        context.unshown.push('a radial gradient\'s focal point (drawn from its centre)');
      out += `radial-gradient(${r}% ${r}% at ${cx}% ${cy}%, ${stops.map(([t, c]) => `${c} ${t * 100}%`).join(', ')})`;
    } else if (call === 'qconicalgradient') {
      // Qt turns counter-clockwise from its angle (0 at three o'clock); CSS clockwise from noon.
      const { at, stops } = gradientParts(a, context);
      const from = (((90 - (at.angle || 0)) % 360) + 360) % 360;
      const css = stops.map(([t, c]) => `${c} ${(1 - t) * 100}%`).reverse();
      out += `conic-gradient(from ${from}deg at ${(at.cx ?? 0.5) * 100}% ${(at.cy ?? 0.5) * 100}%, ${css.join(', ')})`;
    } else if (call === 'url') {
      const name = args.trim().replace(/^(["'])(.*)\1$/, '$2');
      if (name.startsWith(':')) {
        context.unshown.push(`url(${name}) (a file compiled into the client, not on disk)`);
        context.missing = true;
      } else if (!context.files.includes(name.replace(/^\.\//, ''))) {
        context.unshown.push(`url(${name}) (no such file in the panel's folder)`);
        context.missing = true;
      } else {
        out += `url("/files/${name.replace(/^\.\//, '').split('/').map(encodeURIComponent).join('/')}")`;
      }
    } else {
      out += value.slice(i, end);
    }
    i = end;
  }
  return out;
}

// Qt's font shorthand: [style] [weight] size [family]; CSS's needs a family, so it is given
// as its parts.
function qtFont(value) {
  const words = value.match(/"[^"]*"|'[^']*'|\S+/g) || [];
  const decls = [];
  let i = 0;
  if (/^(normal|italic|oblique)$/i.test(words[i] || '')) decls.push(`font-style: ${words[i++]}`);
  if (/^(normal|bold|[1-9]00)$/i.test(words[i] || '')) decls.push(`font-weight: ${words[i++]}`);
  if (/^[\d.]+(px|pt)$/i.test(words[i] || '')) decls.push(`font-size: ${words[i++]}`);
  if (i < words.length) decls.push(`font-family: ${words.slice(i).join(' ')}`);
  return decls;
}

// The widget types a selector's type names, for the tile's widget.
const typesOf = {
  QPushButton: ['', '*', 'QWidget', 'QAbstractButton', 'QPushButton', '.QPushButton'],
  QLabel: ['', '*', 'QWidget', 'QFrame', 'QLabel', '.QLabel'],
};

// Each pseudo-state as CSS on the tile's element: a text, or null where the state never holds
// (with the reason); "" where it always holds.
function pseudoState(state, widget) {
  const negated = state.startsWith('!');
  const name = negated ? state.slice(1) : state;
  const button = widget === 'QPushButton';
  const css = {
    pressed: button ? ':active' : null,
    hover: ':hover',
    focus: ':focus',
    disabled: button ? ':disabled' : null,
    enabled: button ? ':enabled' : '',
    checked: null, // a tile's button is not checkable
    unchecked: '',
    default: null,
    flat: null,
  }[name];
  if (css === undefined) return { why: `the state :${state} is not drawn here` };
  const holds = css === '' ? !negated : css === null ? negated : undefined;
  if (holds === true) return { css: '' };
  if (holds === false)
    return { why: `:${state} never holds for a ${widget}${name === 'checked' ? ': a tile is not checkable' : ''}` };
  return { css: negated ? `:not(${css})` : css };
}

// Properties CSS draws as Qt does, under the same name.
const sameInCss = /^(background(-color|-image|-repeat|-position|-clip|-origin|-attachment)?|border(-(top|right|bottom|left))?(-(color|style|width))?|border(-(top|bottom)-(left|right))?-radius|color|font-(family|size|style|weight)|margin(-(top|right|bottom|left))?|padding(-(top|right|bottom|left))?|(min|max)-(width|height)|outline(-(color|style|width|offset))?|text-align|text-decoration|letter-spacing|word-spacing)$/;
// Qt properties that change nothing on a tile, with why.
const noEffect = {
  'selection-color': 'a tile has no selected text', 'selection-background-color': 'a tile has no selected text',
  'alternate-background-color': 'for item views', 'gridline-color': 'for tables', 'spacing': 'for layouts and lists',
  'icon': 'the tile draws no icon', 'icon-size': 'the tile draws no icon', 'subcontrol-origin': 'for sub-controls',
  'subcontrol-position': 'for sub-controls', 'position': 'for sub-controls', 'top': 'for sub-controls',
  'left': 'for sub-controls', 'right': 'for sub-controls', 'bottom': 'for sub-controls', 'width': 'for sub-controls',
  'height': 'for sub-controls', 'image-position': 'drawn centred', 'outline-radius': 'not drawn here',
  'show-decoration-selected': 'for item views', 'lineedit-password-character': 'for line edits',
  'paint-alternating-row-colors-for-empty-area': 'for item views', '-qt-background-role': 'a palette role',
  '-qt-style-features': 'not drawn here',
};

// One declaration as CSS declarations, or null with why it is not drawn.
function declaration(prop, value, widget, context) {
  if (prop.startsWith('qproperty-')) return { why: 'a property of the widget, not a look' };
  if (/palette\s*\(/i.test(value)) return { why: 'a colour of the client\'s palette' };
  if (noEffect[prop]) return { why: noEffect[prop] };
  const inner = { unshown: context.unshown, files: context.files, missing: false };
  const css = qtValue(value, inner);
  if (inner.missing) return { silent: true };
  if (prop === 'opacity') return { css: [`opacity: ${alpha(value)}`] };
  if (prop === 'font') return { css: qtFont(value) };
  if (prop === 'image')
    return { css: [`background-image: ${css}`, 'background-repeat: no-repeat', 'background-position: center',
                   'background-size: contain'] };
  if (prop === 'border-image') {
    // url(FILE) top right bottom left [repeat]: the image cut in nine and drawn over the border
    // and the middle, the border as wide as the cuts where the sheet gives no width.
    const m = /^(url\([^)]*\))\s+([\d.\s]+?)\s*(stretch|repeat|round)?(\s+(stretch|repeat|round))?$/i.exec(css.trim());
    if (!m) return { why: 'border-image is drawn as url(FILE) TOP RIGHT BOTTOM LEFT [stretch|repeat|round]' };
    const cuts = m[2].trim().split(/\s+/);
    return { css: [`border-style: solid`, `border-width: ${cuts.map((c) => `${c}px`).join(' ')}`,
                   `border-image: ${m[1]} ${cuts.join(' ')} fill / ${cuts.map((c) => `${c}px`).join(' ')} ${m[3] || 'stretch'} ${m[5] || m[3] || 'stretch'}`] };
  }
  if (prop === 'background' && /url\(/.test(css)) return { css: [`background: ${css}`] };
  if (sameInCss.test(prop)) return { css: [`${prop}: ${css}`] };
  return { why: 'not a Qt style property' };
}

// Translates a Qt style sheet, as the tile's widget (QPushButton or QLabel) would apply it, into
// CSS for the element with id "id". Returns the CSS and what it does not draw, each as written
// with the reason.
function qtSheetToCss(sheet, id, widget = 'QPushButton', files = []) {
  const css = [], unshown = [];
  if (!sheet) return { css: '', unshown };
  const context = { unshown, files };
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
      if (/[\s>+~]/.test(sel)) {
        unshown.push(`${sel} (a selector of widgets inside; a tile has none)`);
        continue;
      }
      const m = /^(\*|\.?[A-Za-z_][A-Za-z0-9_]*)?((?:#[A-Za-z0-9_-]+|\[[^\]]*\]|:!?[a-z-]+)*)$/i.exec(sel);
      if (!m) {
        unshown.push(`${sel} (a selector)`);
        continue;
      }
      const type = m[1] || '';
      if (!typesOf[widget].includes(type)) {
        unshown.push(`${sel} (for ${type.replace(/^\./, '')}; this tile is a ${widget})`);
        continue;
      }
      let pseudo = '', why = null;
      for (const part of m[2].match(/#[A-Za-z0-9_-]+|\[[^\]]*\]|:!?[a-z-]+/gi) || []) {
        if (part.startsWith('#')) why = `${sel} (an object name: the client's names are not known here)`;
        else if (part.startsWith('[')) why = `${sel} (a property selector)`;
        else {
          const p = pseudoState(part.slice(1).toLowerCase(), widget);
          if (p.why) why = `${sel} (${p.why})`;
          else pseudo += p.css;
        }
        if (why) break;
      }
      if (why) {
        unshown.push(why);
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
      const made = declaration(prop, value, widget, context);
      if (made.why) unshown.push(`${prop}: ${value} (${made.why})`);
      else if (made.css) decls.push(...made.css);
    }
    if (decls.length) css.push(`${targets.join(', ')} { ${decls.join('; ')} }`);
  }
  return { css: css.join('\n'), unshown };
}

// ---- The page -------------------------------------------------------------------------------

const $ = (id) => document.getElementById(id);
let state = null;
let nextLine = 0;
let selected = null; // the tile the inspector shows
const said = {}; // what the page says of a tile, until its next action
const drafts = {}; // parent commands being typed, kept while the inspector is drawn anew

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
  if (fields.tile !== undefined) said[fields.tile] = await whatBecameOf(start, fields.tile, answer, fields);
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

// The name among known ones a person most likely meant: the same but for case, else the
// nearest within a few edits (as vorn-host check finds it); '' when none is near.
function closestName(name, known) {
  const wanted = name.toLowerCase();
  const same = known.find((k) => k.toLowerCase() === wanted);
  if (same) return same;
  const distance = (a, b) => {
    let row = Array.from({ length: b.length + 1 }, (_, j) => j);
    for (let i = 1; i <= a.length; ++i) {
      const next = [i];
      for (let j = 1; j <= b.length; ++j)
        next[j] = Math.min(row[j] + 1, next[j - 1] + 1, row[j - 1] + (a[i - 1] !== b[j - 1] ? 1 : 0));
      row = next;
    }
    return row[b.length];
  };
  const allowed = Math.min(3, Math.max(1, Math.floor(name.length / 3)));
  let best = '', bestDistance = Infinity;
  for (const k of known) {
    const d = distance(wanted, k.toLowerCase());
    if (d <= allowed && d < bestDistance) [best, bestDistance] = [k, d];
  }
  return best;
}

// What the host itself answers or reads in a parent command, besides the component's settings.
const hostWords = ['instance', 'return', '_commands', '_events'];

// A parent command naming no setting of the component, said with the closest one.
function unknownSetting(text) {
  const name = text.split('=')[0];
  const known = state.settings || [];
  if (!known.length || known.includes(name) || hostWords.includes(name)) return '';
  const near = closestName(name, known);
  return `: the component has no setting '${name}'` + (near ? ` (did you mean '${near}'?)` : '');
}

async function whatBecameOf(start, tile, answer, fields) {
  if (!answer.ok) return answer.text;
  const response = await fetch(`/api/state?since=${start}&view=none`);
  const s = await response.json();
  for (const l of s.lines) {
    if (l.n < start || l.tile !== tile) continue;
    if (l.silence) return silenceWords[l.silence.reason] || `ignored: ${l.silence.text}`;
    if (l.kind === 'answer') {
      if (l.answer !== null) return `answer: "${l.answer}"`;
      return 'no answer' + (fields.act === 'parent' ? unknownSetting(fields.text) : '');
    }
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

// Every contact of the ranges a tile registered (at most 64 of a range, as the server lists).
function boundContacts(t) {
  const all = [];
  for (const [d, f, l] of t.bound) for (let c = f; c <= l && c < f + 64; c++) all.push([d, c]);
  return all;
}

// The state of the contact a tile stands for (the first it registered): on, off, or unknown
// while it is bound to none or is not alive.
function contactMark(t) {
  if (!t.alive || !t.bound.length) return 'unknown';
  const [d, c] = boundContacts(t)[0];
  return contactState(d, c) ? 'on' : 'off';
}

const widgetOf = (t) => (t.style === 'label' ? 'QLabel' : 'QPushButton');

function sheetsOf(t, id) {
  const files = state.files || [];
  return [qtSheetToCss(t.stylesheet, id, widgetOf(t), files), qtSheetToCss(t.statesheet, id, widgetOf(t), files)];
}

function pressTile(t) {
  const panel = t.panel || '1', control = t.control || t.name || 'tile';
  act({ act: 'press', tile: t.name, panel, control });
}

// One tile as the client draws it: its widget with its text and looks, a mark of its contact's
// state that its looks cannot hide, and its name.
function renderCell(t) {
  const cell = document.createElement('div');
  cell.className = 'cell';
  cell.dataset.tile = t.name;
  const label = t.label === null ? '' : t.label;
  const asLabel = t.style === 'label';
  const el = document.createElement(asLabel ? 'span' : 'button');
  el.id = tileId(t.name);
  el.className = 'tile' + (asLabel ? ' as-label' : '') + (t.alive ? '' : ' dead');
  el.setAttribute('aria-label', label);
  el.append(labelNodes(label));
  if (asLabel) {
    el.setAttribute('role', 'note');
    el.tabIndex = 0;
  } else {
    el.type = 'button';
    el.disabled = !t.alive;
    el.addEventListener('click', () => pressTile(t));
  }
  el.addEventListener('focus', () => select(t.name));
  const mark = document.createElement('span');
  const contact = contactMark(t);
  mark.className = `mark ${contact}`;
  mark.title = `contact ${contact}`;
  mark.setAttribute('aria-label', `contact ${contact}`);
  cell.dataset.contact = contact;
  const name = document.createElement('button');
  name.type = 'button';
  name.className = 'name';
  name.textContent = t.name === '' ? '(unnamed)' : t.name;
  name.setAttribute('aria-label', `inspect ${t.name || 'the tile'}`);
  name.addEventListener('click', () => select(t.name));
  cell.append(el, mark, name);
  const sheets = sheetsOf(t, el.id);
  if (sheets.some((s) => s.unshown.length)) cell.classList.add('has-unshown');
  return { cell, css: sheets.map((s) => s.css).filter(Boolean).join('\n') };
}

function select(name) {
  if (selected === name) return;
  selected = name;
  for (const c of $('tiles').children) c.classList.toggle('selected', c.dataset.tile === name);
  inspectorDrawn = '';
  renderInspector();
}

// The inspector: the selected tile's facts and what can be done to it.
let inspectorDrawn = '';
function renderInspector() {
  const box = $('inspector');
  const t = state.tiles.find((x) => x.name === selected);
  const signature = JSON.stringify([t, said[selected] || '', state.instances, t ? contactsOf(t) : null, state.files]);
  if (signature === inspectorDrawn) return;
  const active = document.activeElement;
  const focused = active && box.contains(active) ? active.id : null;
  const caret = focused ? active.selectionStart : null;
  inspectorDrawn = signature;
  box.dataset.tile = t ? t.name : '';
  if (!t) {
    const hint = document.createElement('p');
    hint.className = 'hint';
    hint.textContent = 'Select a tile (its name, or the arrow keys) to see its facts here.';
    box.replaceChildren(hint);
    return;
  }
  const h = document.createElement('h2');
  h.textContent = t.name === '' ? '(unnamed tile)' : `@${t.name}`;
  const dl = document.createElement('dl');
  dl.className = 'facts';
  const bound = t.bound.map(([d, f, l]) => (f === l ? `device ${d} contact ${f}` : `device ${d} contacts ${f}-${l}`));
  fact(dl, 'component', state.crash ? 'ended with the crash' : t.alive ? 'alive' : t.created ? 'deleted' : 'not created');
  fact(dl, 'bound', bound.length ? `${t.instance || '?'} (${bound.join(', ')})` : 'not bound');
  if (t.bound.length) {
    const states = boundContacts(t).map(([d, c]) => `${d}/${c} ${contactState(d, c) ? 'on' : 'off'}`);
    fact(dl, 'at the facility', states.join(', '));
  }
  if (t.notifications.length) {
    for (const n of t.notifications) fact(dl, `last ${n.name}`, n.value);
  } else {
    fact(dl, 'notified', 'nothing yet');
  }
  fact(dl, 'style', t.style === null ? 'button (not set)' : t.style);
  const others = Object.entries(t.properties).filter(([k]) => !['text', 'style', 'stylesheet', 'statesheet'].includes(k));
  if (others.length) fact(dl, 'properties', others.map(([k, v]) => `${k}=${v}`).join('; '));
  const parts = [h, dl];
  const unshown = sheetsOf(t, tileId(t.name)).flatMap((s) => s.unshown);
  if (unshown.length) {
    const u = document.createElement('ul');
    u.className = 'unshown';
    u.setAttribute('aria-label', 'not drawn');
    for (const text of unshown) {
      const li = document.createElement('li');
      li.textContent = text;
      u.append(li);
    }
    const title = document.createElement('h3');
    title.textContent = 'Not drawn';
    parts.push(title, u);
  }
  const note = document.createElement('p');
  note.className = 'said';
  note.setAttribute('role', 'status');
  note.textContent = said[t.name] || '';
  const actions = document.createElement('form');
  actions.className = 'actions';
  const input = document.createElement('input');
  input.placeholder = 'parent command';
  input.id = 'inspector-command';
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
  parts.push(note, actions);
  box.replaceChildren(...parts);
  if (focused && $(focused)) {
    $(focused).focus();
    if (caret !== null && caret !== undefined && $(focused).setSelectionRange) $(focused).setSelectionRange(caret, caret);
  }
}

// The facility's contacts: a row each, drawn anew only where its contact changed.
const contactRows = new Map(); // "device/contact" -> { signature, row }
function renderContacts() {
  const box = $('contacts');
  const wanted = new Set();
  let previous = null;
  for (const c of state.contacts || []) {
    const key = `${c.device}/${c.contact}`, signature = JSON.stringify(c);
    wanted.add(key);
    let drawnRow = contactRows.get(key);
    if (!drawnRow || drawnRow.signature !== signature) {
      const row = contactRow(c);
      if (drawnRow) drawnRow.row.replaceWith(row);
      drawnRow = { signature, row };
      contactRows.set(key, drawnRow);
    }
    const after = previous ? previous.nextSibling : box.firstChild;
    if (drawnRow.row !== after) box.insertBefore(drawnRow.row, after);
    previous = drawnRow.row;
  }
  for (const [key, d] of contactRows)
    if (!wanted.has(key)) {
      d.row.remove();
      contactRows.delete(key);
    }
}

function contactRow(c) {
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
  return row;
}

function renderTranscriptFilter() {
  const filter = $('filter');
  const chosen = filter.value;
  filter.replaceChildren(new Option('all tiles', '*'));
  for (const t of state.tiles) filter.append(new Option(t.name === '' ? '(unnamed)' : `@${t.name}`, t.name));
  filter.value = [...filter.options].some((o) => o.value === chosen) ? chosen : '*';
}

// The transcript's lines by number: the server sends its last line again while quiet time
// grows in it, and takes a line back into the quiet time before it.
const shownLines = new Map();
const maxShown = 1000;

function lineNode(l) {
  const div = document.createElement('div');
  div.className = `line ${l.kind}`;
  div.dataset.tile = l.tile;
  // A step names its tile itself ("@one press ..."); what a tile did is named here.
  if (l.tile !== '' && l.kind !== 'step') {
    const who = document.createElement('span');
    who.className = 'who';
    who.textContent = `@${l.tile} `;
    div.append(who);
  }
  div.append(l.text);
  return div;
}

function addLines(lines, next) {
  const box = $('transcript');
  if (!lines.length && ![...shownLines.keys()].some((n) => n >= next)) return;
  const atEnd = box.scrollTop + box.clientHeight >= box.scrollHeight - 4;
  const chosen = $('filter').value;
  for (const [n, div] of shownLines)
    if (n >= next) {
      div.remove();
      shownLines.delete(n);
    }
  for (const l of lines) {
    if (l.kind === 'answer') continue; // a fact for the tile: its line is among the events
    const div = lineNode(l);
    div.hidden = hiddenBy(chosen, div);
    const had = shownLines.get(l.n);
    if (had) had.replaceWith(div);
    else box.append(div);
    shownLines.set(l.n, div);
  }
  while (box.childElementCount > maxShown) {
    const first = box.firstElementChild;
    for (const [n, div] of shownLines) if (div === first) shownLines.delete(n);
    first.remove();
  }
  // Scrolled with the next frame's layout, not with a layout of its own now.
  if (atEnd) requestAnimationFrame(() => { box.scrollTop = box.scrollHeight; });
}

const hiddenBy = (chosen, div) => chosen !== '*' && div.dataset.tile !== chosen && div.dataset.tile !== '';

function applyFilter() {
  const chosen = $('filter').value;
  for (const div of $('transcript').children) div.hidden = hiddenBy(chosen, div);
}

// What the transcript keeps, said: the page's last lines, the server's, and the steps a
// restart runs again.
function renderKept() {
  const k = state.kept;
  if (!k) return;
  const shown = Math.min(maxShown, shownLines.size);
  $('kept').textContent = `Showing the last ${shown} lines (at most ${maxShown} here; the server keeps ${k.lines}` +
    `${k.first > 1 ? `, lines before ${k.first} are gone` : ''}). Restart runs again ${k.steps} step${k.steps === 1 ? '' : 's'}.`;
}

// Only what changed is drawn anew: a tile's cell when what it shows changed, the inspector
// when its tile did, so a click, a focus or a selection is never lost to a redraw.
const drawn = new Map(); // tile name -> { signature, cell, css }
let contactsDrawn = null, filterDrawn = '';

function render(changed = null) {
  if (!state) return;
  const tiles = $('tiles');
  const names = new Set(state.tiles.map((t) => t.name));
  for (const [name, d] of drawn) {
    if (!names.has(name)) {
      d.cell.remove();
      drawn.delete(name);
    }
  }
  let previous = null, sheetsChanged = false;
  for (const t of state.tiles) {
    let d = drawn.get(t.name);
    const { reports, notifications, properties, ...shown } = t; // what only the inspector shows
    const signature = d && changed && !changed.has(t.name) ? d.signature
                                                            : JSON.stringify([shown, contactMark(t), state.files]);
    if (!d || d.signature !== signature) {
      const hadFocus = d && d.cell.contains(document.activeElement);
      const made = renderCell(t);
      if (d) d.cell.replaceWith(made.cell);
      sheetsChanged = sheetsChanged || !d || d.css !== made.css;
      d = { signature, cell: made.cell, css: made.css };
      drawn.set(t.name, d);
      made.cell.classList.toggle('selected', t.name === selected);
      if (hadFocus) made.cell.querySelector('.tile').focus({ preventScroll: true });
    }
    const after = previous ? previous.nextSibling : tiles.firstChild;
    if (d.cell !== after) tiles.insertBefore(d.cell, after);
    previous = d.cell;
  }
  if (sheetsChanged) {
    const css = [...drawn.values()].map((d) => d.css).filter(Boolean).join('\n');
    if ($('tile-sheets').textContent !== css) $('tile-sheets').textContent = css;
  }
  if (selected === null && state.tiles.length) select(state.tiles[0].name);
  renderInspector();
  if (state.contacts !== contactsDrawn) { // a new list came: its rows that changed are drawn
    contactsDrawn = state.contacts;
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
  $('rebuilt').hidden = !state.rebuilt;
  const warnings = state.warnings || [];
  if ($('warnings').hidden !== !warnings.length || $('warnings-list').childElementCount !== warnings.length) {
    $('warnings').hidden = !warnings.length;
    $('warnings-title').textContent = `The configuration has ${warnings.length} problem${warnings.length === 1 ? '' : 's'} (as vorn-host check reports them)`;
    $('warnings-list').replaceChildren(...warnings.map((w) => {
      const li = document.createElement('li');
      li.textContent = w;
      return li;
    }));
  }
  renderKept();
}

// The facility's states of the contacts a tile is bound to, which its inspector shows.
function contactsOf(t) {
  return boundContacts(t).map(([d, c]) => contactState(d, c));
}

// A state from the server: whole, or (over the event stream) only the tiles, contacts and
// instances that changed, merged into what the page has.
function take(s) {
  let changed = null; // the names of the tiles to look at again; null: all
  if (!s.full && state) {
    const byName = new Map(state.tiles.map((t) => [t.name, t]));
    for (const t of s.tiles) byName.set(t.name, t);
    changed = new Set(s.tiles.map((t) => t.name));
    s.tiles = s.order.map((name) => byName.get(name)).filter(Boolean);
    for (const part of ['contacts', 'instances']) {
      if (part in s) changed = null; // a contact's state shows on every tile bound to it
      else s[part] = state[part];
    }
  }
  state = s;
  const fresh = s.lines.filter((l) => l.n >= Math.min(nextLine, s.next - 1));
  addLines(fresh, s.next);
  nextLine = s.next;
  render(changed);
}

// The arrow keys move the selection over the grid as it is laid out; Space presses (a button's
// own key).
function moveSelection(key) {
  const cells = [...$('tiles').children];
  const at = cells.findIndex((c) => c.dataset.tile === selected);
  if (at < 0) return;
  const here = cells[at].getBoundingClientRect();
  let to = at;
  if (key === 'ArrowLeft') to = Math.max(0, at - 1);
  else if (key === 'ArrowRight') to = Math.min(cells.length - 1, at + 1);
  else {
    const down = key === 'ArrowDown';
    const row = cells.filter((c) => {
      const r = c.getBoundingClientRect();
      return down ? r.top > here.top + 1 : r.top < here.top - 1;
    });
    if (!row.length) return;
    const nextTop = down ? Math.min(...row.map((c) => c.getBoundingClientRect().top))
                         : Math.max(...row.map((c) => c.getBoundingClientRect().top));
    const line = row.filter((c) => Math.abs(c.getBoundingClientRect().top - nextTop) < 1);
    const best = line.reduce((a, b) => (Math.abs(b.getBoundingClientRect().left - here.left) <
                                        Math.abs(a.getBoundingClientRect().left - here.left) ? b : a));
    to = cells.indexOf(best);
  }
  cells[to].querySelector('.tile').focus();
  select(cells[to].dataset.tile);
}

// The scenario opened on the page: its result, and the way back to the configuration's panel.
function showScenario(name, answer) {
  $('scenario').hidden = false;
  const failures = answer.ok ? answer.text.split('\n').filter(Boolean) : [answer.text];
  $('scenario-text').textContent = failures.length
    ? `Scenario ${name}: failed (${failures.length}). First: ${failures[0]}`
    : `Scenario ${name}: passed`;
  $('scenario').classList.toggle('failed', failures.length > 0);
  $('problem').textContent = '';
}

async function start() {
  const response = await fetch('/api/state?since=0');
  take(await response.json());
  const events = new EventSource('/api/events');
  events.onmessage = (e) => take(JSON.parse(e.data));
  $('clock-toggle').addEventListener('click', () => post('/api/clock', state.clock === 'running' ? 'pause' : 'run'));
  $('clock-advance').addEventListener('click', () => act({ act: 'advance', ms: 10000 }));
  $('restart').addEventListener('click', () => post('/api/restart', ''));
  $('reload').addEventListener('click', () => post('/api/restart', ''));
  $('filter').addEventListener('change', applyFilter);
  $('tiles').addEventListener('keydown', (e) => {
    if (['ArrowLeft', 'ArrowRight', 'ArrowUp', 'ArrowDown'].includes(e.key)) {
      e.preventDefault();
      moveSelection(e.key);
    }
  });
  $('open').addEventListener('change', async () => {
    const file = $('open').files[0];
    if (file) showScenario(file.name, await post(`/api/replay?name=${encodeURIComponent(file.name)}`, await file.text()));
    $('open').value = '';
  });
  $('leave').addEventListener('click', async () => {
    const answer = await post('/api/panel', '');
    if (answer.ok) $('scenario').hidden = true;
  });
  $('new-tile').addEventListener('submit', (e) => {
    e.preventDefault();
    const name = $('new-name').value;
    if (state.tiles.some((t) => t.name === name)) {
      $('problem').textContent = `a tile named '${name}' is there already: choose another name`;
      return;
    }
    act({ act: 'create', tile: name }).then(() => select(name));
  });
}

if (typeof window !== 'undefined' && !window.vornNoStart) start();
