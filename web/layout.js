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
    menus: d.menus.map((m) => ({ ...m, items: m.items.map(([name, caption]) => (caption === '-' ? '-' : [name, caption])) })),
  };
}

// The game window: the table's heading column and its two rows of cells (mondai(0..4) over
// mondai(5..9)) as one table where its first cell is made.
function gameDesign(d) {
  const defs = designedControls(d);
  const headers = defs.filter((c) => c.name === 'Label1' || c.name === 'Label2');
  const cells = defs.filter((c) => /^mondai\d+$/.test(c.name));
  const table = { kind: 'table', name: 'taiouhyou', caption: '対応表', headers, cells };
  const rest = defs.filter((c) => !headers.includes(c) && !cells.includes(c));
  return windowDesign(d, [table, ...rest]);
}

// The results window: each list as a table named by its heading, its rows copies of row 0.
function resultsDesign(d) {
  const lists = { jyun: 'Label1', jyun1: 'Label3' };
  const defs = [];
  for (const def of designedControls(d)) {
    const c = d.controls.find((k) => def.name === (k.index < 0 ? k.name : `${k.name}${k.index}`));
    if (!c || c.rows === 1) {
      defs.push(def);
      continue;
    }
    const column = { ...def, name: c.name };
    if (lists[c.name]) {
      const caption = d.controls.find((k) => k.name === lists[c.name]).caption;
      defs.push({ kind: 'rows', name: c.name, caption, count: c.rows, columns: [column] });
    } else defs.at(-1).columns.push(column);
  }
  return windowDesign(d, defs);
}

export const form1 = gameDesign(designs.Form1);
export const form2 = windowDesign(designs.Form2, designedControls(designs.Form2));
export const form3 = resultsDesign(designs.Form3);
