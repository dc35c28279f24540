// SPDX-License-Identifier: GPL-3.0-or-later
// Builds a window's client area from its design (layout.js): labels, buttons, a frame, a text
// box, lines, the correspondence table and the list rows, each placed in CSS pixels.
function place(el, [left, top, width, height], autoSize) {
  el.style.left = `${left}px`;
  el.style.top = `${top}px`;
  if (autoSize) {
    el.classList.add('auto');
    return;
  }
  el.style.width = `${width}px`;
  el.style.height = `${height}px`;
}

const ruler = document.createElement('canvas').getContext('2d');

// Where a face's ascent and descent put the baseline of a line `pitch` high, and where the
// desktop's rule puts it: 0.86 em down, or lower where the glyphs reach higher, or higher
// where those reaching below would run out at `foot` (the line's room below its top).
function baselines(style, text, pitch, foot) {
  ruler.font = [style.fontStyle, style.fontWeight, style.fontSize, style.fontFamily].join(' '); // style.font is '' with palt
  const m = ruler.measureText(text),
    size = parseFloat(style.fontSize);
  const high = Math.min(Math.round(size * 0.86), Math.floor(foot - m.actualBoundingBoxDescent));
  return {
    face: (pitch + m.fontBoundingBoxAscent - m.fontBoundingBoxDescent) / 2,
    rule: Math.max(high, Math.ceil(m.actualBoundingBoxAscent)),
  };
}

// A wrapped caption (its text in a block of its own) in lines one em apart, as many as the
// label holds, its kana proportional (style.css); each line's baseline placed by the rule of
// one-line captions, the lines moved together. In a face whose lines would still run below
// the label, the text is drawn a little smaller, by a tenth at most.
function fitWrapped(el, size) {
  const lines = el.firstElementChild;
  lines.style.fontSize = lines.style.top = '';
  for (let smaller = size; lines.offsetHeight > el.clientHeight && smaller > size * 0.9;) {
    smaller -= 0.5;
    lines.style.fontSize = `${smaller}px`;
  }
  const style = getComputedStyle(lines),
    pitch = parseFloat(style.lineHeight);
  const last = Math.round(lines.offsetHeight / pitch) - 1;
  const { face, rule } = baselines(style, lines.textContent, pitch, el.clientHeight - last * pitch);
  lines.style.top = `${rule - face}px`;
}

// Captions are drawn as the desktop draws them, whatever face the browser has: a one-line
// caption's baseline at 0.86 em, or lower where its glyphs reach higher; one wider than its
// fixed control with its letters just close enough to fit (the desktop condenses its face).
// Measured with its letters at their own spacing; returns what fitting it writes.
function measureCaption(el) {
  const box = el.getBoundingClientRect();
  const text = [...el.textContent];
  if (!text.length || !box.width) return null;
  const style = getComputedStyle(el);
  const width = parseFloat(style.width),
    size = parseFloat(style.fontSize);
  if (el.classList.contains('wrap')) return () => fitWrapped(el, size);
  const fit = {};
  if (el.classList.contains('label')) {
    // The line as high as puts the face's baseline where the rule has it.
    const { face, rule } = baselines(style, el.textContent, 0, parseFloat(style.height));
    fit.lineHeight = `${2 * (rule - face)}px`;
  }
  if (text.length >= 2) {
    const available =
      width -
      ['paddingLeft', 'paddingRight', 'borderLeftWidth', 'borderRightWidth'].reduce(
        (sum, side) => sum + parseFloat(style[side]),
        0,
      );
    const range = document.createRange();
    range.selectNodeContents(el);
    // The spacing follows every letter, the last one too, where it moves no ink.
    const excess = (range.getBoundingClientRect().width * width) / box.width - available;
    if (excess > 0) fit.letterSpacing = `${-Math.ceil((excess * 10) / (text.length - 1)) / 10}px`;
  }
  return () => Object.assign(el.style, fit);
}
// Fits captions together: every one's spacing taken away, then all measured, then all written,
// so that the page is laid out once for them all, not once for each.
function fitCaptions(els) {
  for (const el of els) el.style.letterSpacing = '';
  for (const write of els.map(measureCaption)) write?.();
}
// Fitted when first drawn and whenever the caption changes.
const refit = new MutationObserver((changes) => {
  fitCaptions(
    [...new Set(changes.map((c) => c.target.closest?.('[data-name]') || c.target.parentElement))].filter(Boolean),
  );
});
// And all again once a face has loaded, in case a caption was measured in another.
const fittedControls = new Set();
document.fonts?.addEventListener('loadingdone', () => {
  for (const el of fittedControls) if (!el.isConnected) fittedControls.delete(el);
  fitCaptions([...fittedControls]);
});
const unfitted = new Set();
function fitted(el) {
  refit.observe(el, { childList: true, characterData: true, subtree: true });
  fittedControls.add(el);
  if (!unfitted.size) {
    requestAnimationFrame(() => {
      const els = [...unfitted];
      unfitted.clear();
      fitCaptions(els);
    });
  }
  unfitted.add(el);
}

function applyLook(el, look = {}) {
  if (look.px) el.style.fontSize = `${look.px}px`;
  if (look.bold) el.style.fontWeight = '700';
  if (look.text) el.style.color = look.text;
  if (look.back) el.style.backgroundColor = look.back;
  if (look.align) el.style.textAlign = look.align;
}

function makeLabel(def, tag = 'div') {
  const el = document.createElement(tag);
  el.className = def.wrap ? 'label wrap' : 'label';
  el.dataset.name = def.name;
  if (def.wrap)
    el.append(Object.assign(document.createElement('span'), { className: 'lines', textContent: def.caption }));
  else el.textContent = def.caption;
  place(el, def.rect, def.autoSize);
  applyLook(el, def.look);
  if (!def.autoSize) fitted(el);
  if (def.decoration) el.setAttribute('aria-hidden', 'true');
  return el;
}

function makeButton(def, form) {
  const el = document.createElement('button');
  el.type = 'button';
  el.className = 'button';
  el.dataset.name = def.name;
  el.textContent = def.caption;
  place(el, def.rect);
  // A button without a font of its own has the window's, inside the frame too.
  applyLook(el, { px: form.px, ...def.look });
  fitted(el);
  return el;
}

function makeLine(def) {
  const el = document.createElement('div');
  el.className = 'line';
  el.dataset.name = def.name;
  el.setAttribute('aria-hidden', 'true');
  // As the desktop draws it: across, width/2 pixels either side of its row or column (odd
  // widths); along, the pixels after its first point up to its last.
  const [x1, y1] = def.from,
    [x2, y2] = def.to;
  const half = Math.floor(def.width / 2);
  const flat = y1 === y2;
  el.style.left = `${flat ? Math.min(x1, x2) + 1 : x1 - half}px`;
  el.style.top = `${flat ? y1 - half : Math.min(y1, y2) + 1}px`;
  el.style.width = `${flat ? Math.abs(x2 - x1) : def.width}px`;
  el.style.height = `${flat ? def.width : Math.abs(y2 - y1)}px`;
  el.style.backgroundColor = def.colour;
  return el;
}

// The correspondence table: a real table, its two rows headed by ｘ and ｙ, each cell at its
// designed place.
function makeTable(def, named) {
  const table = document.createElement('table');
  table.className = 'grid';
  table.setAttribute('aria-label', def.caption);
  const body = table.createTBody();
  const columns = def.cells.length / def.headers.length;
  def.headers.forEach((header, row) => {
    const tr = body.insertRow();
    const th = makeLabel(header, 'th');
    th.scope = 'row';
    tr.append(th);
    named[header.name] = th;
    def.cells.slice(row * columns, (row + 1) * columns).forEach((cell) => {
      const td = makeLabel(cell, 'td');
      tr.append(td);
      named[cell.name] = td;
    });
  });
  return table;
}

// Rows of a list as a table, each row headed by its place: row 0 as designed, each further
// row rowPixels lower.
function makeRows(def, named, rowPixels) {
  const table = document.createElement('table');
  table.className = 'grid';
  table.setAttribute('aria-label', def.caption);
  const body = table.createTBody();
  for (let i = 0; i < def.count; ++i) {
    const tr = body.insertRow();
    def.columns.forEach((column, c) => {
      const el = makeLabel(column, c === 0 ? 'th' : 'td');
      if (c === 0) el.scope = 'row';
      el.style.top = `${column.rect[1] + rowPixels * i}px`;
      if (i > 0) el.textContent = '';
      el.dataset.name = `${column.name}${i}`;
      tr.append(el);
      named[`${column.name}${i}`] = el;
    });
  }
  return table;
}

// Builds the controls of `defs` into `area`; returns them by name.
export function build(area, defs, form, named = {}) {
  for (const def of defs) {
    let el;
    if (def.kind === 'label') el = makeLabel(def);
    else if (def.kind === 'button') el = makeButton(def, form);
    else if (def.kind === 'line') el = makeLine(def);
    else if (def.kind === 'table') el = makeTable(def, named);
    else if (def.kind === 'rows') el = makeRows(def, named, form.rowPixels);
    else if (def.kind === 'text') {
      el = document.createElement('input');
      el.type = 'text';
      el.className = 'textbox';
      el.dataset.name = def.name;
      el.autocomplete = 'off';
      el.spellcheck = false;
      place(el, def.rect);
      applyLook(el, def.look);
    } else if (def.kind === 'frame') {
      el = document.createElement('fieldset');
      el.className = 'frame';
      el.dataset.name = def.name;
      place(el, def.rect);
      applyLook(el, def.look);
      const legend = document.createElement('legend');
      legend.textContent = def.caption;
      el.append(legend);
      build(el, def.controls, form, named);
    }
    if (def.description) el.setAttribute('aria-description', def.description);
    if (def.kind !== 'table' && def.kind !== 'rows') named[def.name] = el;
    area.append(el);
  }
  return named;
}

// A window's client area: its size and ground, the window font.
export function client(form) {
  const area = document.createElement('div');
  area.className = 'client';
  area.dataset.form = form.name;
  area.style.width = `${form.client[0]}px`;
  area.style.height = `${form.client[1]}px`;
  area.style.backgroundColor = form.back;
  area.style.fontSize = `${form.px}px`;
  return area;
}
