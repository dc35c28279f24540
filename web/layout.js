// SPDX-License-Identifier: GPL-3.0-or-later
// The three windows as the page builds them, from the game library's design tables
// (rules/design.h, which the build takes from the library as design.js: see site.mjs): every
// control's place and size and its font in CSS pixels at scale 1 (the library converts the
// design's twips and points), its colours. Captions that the game changes come from the game
// library; these are the designed ones.
import { designs } from './design.js';

// kind: label | button | frame | line | text | table | rows; rect: left, top, width, height
// (pixels); look: px (the font's size), bold, text colour, back colour, align; autoSize: the width follows the
// text. An element of a control array is named with its index: kotae(0) is kotae0.
function designedControl(c) {
  const def = { kind: c.kind, name: c.index < 0 ? c.name : `${c.name}${c.index}`, caption: c.caption, rect: c.rect };
  def.look = c.look;
  for (const key of ['autoSize', 'wrap', 'decoration', 'description']) if (c[key]) def[key] = c[key];
  return def;
}

// The controls in the order the design makes them, the lines last, over them; a frame's
// controls in the frame. The page's keyboard order is its elements' order: a control that the
// design makes before the one the keyboard reaches it after goes after that one.
function designedControls(d) {
  const top = d.controls.filter((c) => !c.frame).map(designedControl);
  for (const frame of top.filter((c) => c.kind === 'frame'))
    frame.controls = d.controls.filter((c) => c.frame === frame.name).map(designedControl);
  const names = d.tabOrder.map((name) => name.replace(/\((\d+)\)$/, '$1'));
  for (let i = 1; i < names.length; ++i) {
    const at = top.findIndex((c) => c.name === names[i]);
    const after = top.findIndex((c) => c.name === names[i - 1]);
    if (at >= 0 && at < after) top.splice(after, 0, ...top.splice(at, 1));
  }
  return [...top, ...d.lines];
}

function windowDesign(d, defs) {
  return {
    name: d.name,
    caption: d.caption,
    client: d.client,
    back: d.back,
    px: d.px,
    rowPixels: d.rowPixels,
    controls: defs,
    // The menu bar: titles and items; '-' is a separator, range items carry a check mark.
    menus: d.menus.map((m) => ({
      ...m,
      items: m.items.map(([name, caption]) => (caption === '-' ? '-' : [name, caption])),
    })),
  };
}

// The design's tables for screen readers, each one element where its first control is made: a
// table of controls (the game window's cells, each row headed by ｘ or ｙ), or a list whose rows
// are copies of an array's first row (the results window's, headed by their places).
function withTables(d) {
  const defs = designedControls(d);
  const defOf = ([name, index]) => defs.find((c) => c.name === (index < 0 ? name : `${name}${index}`));
  for (const t of d.tables) {
    const caption = t.caption || d.controls.find((c) => c.name === t.heading).caption;
    const [name, index] = t.rows[0][0];
    const copies = d.controls.find((c) => c.name === name && c.index === index).rows > 1;
    const members = (copies ? t.rows[0] : t.rows.flat()).map(defOf);
    const table = copies
      ? {
          kind: 'rows',
          name: t.name,
          caption,
          count: t.rows.length,
          columns: t.rows[0].map((cell) => ({ ...defOf(cell), name: cell[0] })),
        }
      : {
          kind: 'table',
          name: t.name,
          caption,
          headers: t.rows.map((row) => defOf(row[0])),
          cells: t.rows.flatMap((row) => row.slice(1).map(defOf)),
        };
    const at = Math.min(...members.map((m) => defs.indexOf(m)));
    for (const m of members) defs.splice(defs.indexOf(m), 1);
    defs.splice(at, 0, table);
  }
  return windowDesign(d, defs);
}

export const form1 = withTables(designs.Form1);
export const form2 = withTables(designs.Form2);
export const form3 = withTables(designs.Form3);
