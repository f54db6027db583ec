// A global shortcut takes its combination from the desktop and every program: the ones they
// commonly use are named before they are taken, the rest are not.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');

const { desktopUse } = require(path.join(__dirname, '..', '..', 'view', 'js', 'shortcuts.js'));

test('the combinations desktops and programs use are named, others are not', () => {
  const named = {
    'Ctrl+Alt+T': 'set.desk.terminal',
    'Ctrl+Alt+Del': 'set.desk.logout',
    'Alt+Tab': 'set.desk.switch',
    'Alt+Shift+Tab': 'set.desk.switch',
    'Alt+F4': 'set.desk.closeWindow',
    'Meta+E': 'set.desk.super',
    'Ctrl+Meta+Left': 'set.desk.super',
    'Ctrl+Alt+F3': 'set.desk.console',
    'Ctrl+Alt+Left': 'set.desk.workspace',
    'Ctrl+Alt+L': 'set.desk.lock',
    'Shift+Print': 'set.desk.screenshot',
    'Ctrl+C': 'set.desk.programs',
    'Ctrl+Shift+Esc': 'set.desk.tasks',
    'Alt+Space': 'set.desk.window',
  };
  for (const [sequence, use] of Object.entries(named)) assert.equal(desktopUse(sequence), use, sequence);
  // The settings file's defaults and others no desktop commonly takes; a modifier more or less
  // is another combination.
  for (const sequence of ['Ctrl+Alt+Shift+F9', 'Ctrl+Alt+Shift+T', 'Ctrl+Alt+K', 'Alt+F5', 'Ctrl+Alt+F13', 'Ctrl+Tab',
    'Ctrl+Alt++', 'Alt+Shift+F4', '', 'Ctrl+Alt']) {
    assert.equal(desktopUse(sequence), '', sequence);
  }
});
