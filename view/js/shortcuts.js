// @ts-check
// Combinations that desktops and programs commonly keep for themselves. A global shortcut takes
// its combination from every other program while vexa runs, so the Settings screen asks before
// it takes one of these. The texts are key sequences as the settings file writes them:
// modifiers first in the order Ctrl, Alt, Shift, Meta, then the key ("Ctrl+Alt+T", "Alt+F4").
(function (root, factory) {
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else (root.vexaModules ??= {}).shortcuts = api;
})(typeof window !== 'undefined' ? window : globalThis, () => {
  'use strict';

  /** "Ctrl+Alt++" → { mods: Set {Ctrl, Alt}, key: '+' }; key '' for modifiers only. */
  function parse(sequence) {
    const mods = new Set();
    let rest = String(sequence || '');
    for (let m; (m = /^(Ctrl|Alt|Shift|Meta)\+(.+)$/.exec(rest));) {
      mods.add(m[1]);
      rest = m[2];
    }
    return { mods, key: rest };
  }

  const ARROWS = ['Left', 'Right', 'Up', 'Down'];
  const FUNCTION_KEY = /^F([1-9]|1[0-2])$/;

  // In order; the first rule that matches says what the desktop does with the combination.
  // `mods` must be exactly the combination's modifiers.
  const RULES = [
    { use: 'set.desk.super', when: ({ mods }) => mods.has('Meta') },
    { use: 'set.desk.screenshot', when: ({ key }) => key === 'Print' },
    { use: 'set.desk.logout', mods: 'Ctrl+Alt', keys: ['Del'] },
    { use: 'set.desk.session', mods: 'Ctrl+Alt', keys: ['Backspace'] },
    { use: 'set.desk.console', mods: 'Ctrl+Alt', when: ({ key }) => FUNCTION_KEY.test(key) },
    { use: 'set.desk.terminal', mods: 'Ctrl+Alt', keys: ['T'] },
    { use: 'set.desk.lock', mods: 'Ctrl+Alt', keys: ['L'] },
    { use: 'set.desk.desktop', mods: 'Ctrl+Alt', keys: ['D'] },
    { use: 'set.desk.workspace', mods: 'Ctrl+Alt', keys: ARROWS },
    { use: 'set.desk.workspace', mods: 'Ctrl+Alt+Shift', keys: ARROWS },
    { use: 'set.desk.switch', mods: 'Alt', keys: ['Tab', 'Esc'] },
    { use: 'set.desk.switch', mods: 'Alt+Shift', keys: ['Tab', 'Esc'] },
    { use: 'set.desk.switch', mods: 'Ctrl+Alt', keys: ['Tab'] },
    { use: 'set.desk.menu', mods: 'Ctrl', keys: ['Esc'] },
    { use: 'set.desk.menu', mods: 'Alt', keys: ['F1'] },
    { use: 'set.desk.tasks', mods: 'Ctrl+Shift', keys: ['Esc'] },
    { use: 'set.desk.run', mods: 'Alt', keys: ['F2'] },
    { use: 'set.desk.closeWindow', mods: 'Alt', keys: ['F4'] },
    { use: 'set.desk.window', mods: 'Alt', keys: ['Space', 'F7', 'F8', 'F10'] },
    // Copy, paste, save, find, new tab...: what every program does with Ctrl and a letter.
    { use: 'set.desk.programs', mods: 'Ctrl', when: ({ key }) => /^[A-Z0-9]$/.test(key) },
    { use: 'set.desk.programs', mods: 'Ctrl+Shift', when: ({ key }) => /^[A-Z0-9]$/.test(key) },
  ];

  /**
   * The text key saying what the desktop (or every program) does with the combination, or ''
   * when it is not one of the common ones.
   */
  function desktopUse(sequence) {
    const combination = parse(sequence);
    if (!combination.key) return '';
    const mods = ['Ctrl', 'Alt', 'Shift', 'Meta'].filter((m) => combination.mods.has(m)).join('+');
    for (const rule of RULES) {
      if (rule.mods !== undefined && rule.mods !== mods) continue;
      if (rule.keys && !rule.keys.includes(combination.key)) continue;
      if (rule.when && !rule.when(combination)) continue;
      return rule.use;
    }
    return '';
  }

  return { desktopUse };
});
