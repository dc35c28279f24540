// SPDX-License-Identifier: GPL-3.0-or-later
// The game window's menu bar: titles that open their items, check marks on the range items.
// Keyboard: F10 or Alt reaches the bar, arrows move, Enter or Space chooses, Escape leaves.

// menus: [{ name, caption, items: [[name, caption] | '-'] }]; choose(name) runs an item.
export function menuBar(menus, choose) {
  const bar = document.createElement('div');
  bar.className = 'menubar';
  bar.setAttribute('role', 'menubar');
  bar.setAttribute('aria-label', 'メニュー');
  const titles = [];
  const items = {};
  let back = null;

  const close = () => {
    for (const t of titles) {
      t.setAttribute('aria-expanded', 'false');
      t.nextSibling.hidden = true;
    }
  };
  const leave = () => {
    close();
    if (back?.isConnected) back.focus();
    back = null;
  };
  const entries = (menu) => [...menu.querySelectorAll('[role^=menuitem]')];
  const openMenu = (title, focusFirst) => {
    close();
    title.setAttribute('aria-expanded', 'true');
    title.nextSibling.hidden = false;
    if (focusFirst) entries(title.nextSibling)[0]?.focus();
  };

  for (const def of menus) {
    const holder = document.createElement('div');
    holder.className = 'menu-holder';
    const title = document.createElement('button');
    title.type = 'button';
    title.className = 'menu-title';
    title.dataset.name = def.name;
    title.textContent = def.caption;
    title.setAttribute('role', 'menuitem');
    title.setAttribute('aria-haspopup', 'menu');
    title.setAttribute('aria-expanded', 'false');
    title.tabIndex = titles.length === 0 ? 0 : -1;
    const menu = document.createElement('div');
    menu.className = 'menu';
    menu.setAttribute('role', 'menu');
    menu.setAttribute('aria-label', def.caption);
    menu.hidden = true;
    for (const item of def.items) {
      if (item === '-') {
        const sep = document.createElement('div');
        sep.setAttribute('role', 'separator');
        sep.className = 'separator';
        menu.append(sep);
        continue;
      }
      const [name, caption, checkable] = item;
      const el = document.createElement('button');
      el.type = 'button';
      el.className = 'menu-item';
      el.dataset.name = name;
      el.tabIndex = -1;
      el.textContent = caption;
      el.setAttribute('role', checkable ? 'menuitemradio' : 'menuitem');
      if (checkable) {
        el.setAttribute('aria-checked', 'false');
        // The check mark is drawn, not read: the item's name is its caption, its state checked.
        const tick = document.createElement('span');
        tick.className = 'tick';
        tick.setAttribute('aria-hidden', 'true');
        tick.textContent = '✓';
        el.prepend(tick);
      }
      el.addEventListener('click', () => {
        leave();
        choose(name);
      });
      menu.append(el);
      items[name] = el;
    }
    title.addEventListener('click', () => {
      if (title.getAttribute('aria-expanded') === 'true') close();
      else {
        if (!bar.contains(document.activeElement)) back = document.activeElement;
        openMenu(title, false);
      }
    });
    holder.append(title, menu);
    bar.append(holder);
    titles.push(title);
  }

  bar.addEventListener('keydown', (event) => {
    const title = titles.find((t) => t.parentNode.contains(event.target));
    const inMenu = event.target.getAttribute('role') !== 'menuitem' || !event.target.hasAttribute('aria-haspopup');
    const at = titles.indexOf(title);
    if (event.key === 'Escape') leave();
    else if (event.key === 'ArrowRight' || event.key === 'ArrowLeft') {
      const next = titles[(at + (event.key === 'ArrowRight' ? 1 : titles.length - 1)) % titles.length];
      next.focus();
      if (inMenu) openMenu(next, true);
    } else if (event.key === 'ArrowDown' || event.key === 'ArrowUp') {
      if (!inMenu) openMenu(title, true);
      else {
        const list = entries(title.nextSibling);
        const i = list.indexOf(event.target);
        list[(i + (event.key === 'ArrowDown' ? 1 : list.length - 1)) % list.length].focus();
      }
    } else return;
    event.preventDefault();
  });
  document.addEventListener('pointerdown', (event) => {
    if (!bar.contains(event.target)) close();
  });
  bar.addEventListener('focusout', (event) => {
    if (!bar.contains(event.relatedTarget)) close();
  });
  document.addEventListener('keydown', (event) => {
    if (event.key === 'F10' || (event.key === 'Alt' && !event.repeat)) {
      if (document.querySelector('dialog[open]:modal')) return;
      event.preventDefault();
      back = document.activeElement;
      titles[0].focus();
    }
  });

  const check = (name, on) => items[name]?.setAttribute('aria-checked', on ? 'true' : 'false');
  return { bar, items, check };
}
