// What the Profiles screen lets through to the program: values, names, macros and key codes.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');

const model = require(path.join(__dirname, '..', '..', 'view', 'js', 'profilemodel.js'));
const refused = (outcome) => (outcome ? outcome.key : null);

test('numbers are whole and inside each field\'s own range; colours are #rrggbb', () => {
  assert.equal(model.checkValue('speed', '1'), null);
  assert.equal(model.checkValue('speed', ' 20 '), null);
  assert.deepEqual(model.checkValue('speed', '0'), { key: 'prof.bad.range', values: { min: 1, max: 20 } });
  assert.equal(refused(model.checkValue('speed', '21')), 'prof.bad.range');
  assert.equal(model.checkValue('doubleClick', '0'), null);
  assert.equal(refused(model.checkValue('doubleClick', '12')), 'prof.bad.range');
  assert.equal(model.checkValue('brightness', '100'), null);
  assert.equal(refused(model.checkValue('deadzone', '31')), 'prof.bad.range');
  for (const text of ['7.5', '-1', '', '1e1', '0x10', '10 %']) {
    assert.equal(refused(model.checkValue('brightness', text)), 'prof.bad.range', text);
  }
  assert.equal(model.checkValue('color', '#A0b1C2'), null);
  for (const text of ['a0b1c2', '#abc', '#a0b1c2ff', '#g0b1c2']) assert.equal(refused(model.checkValue('color', text)), 'prof.bad.color', text);
  assert.equal(model.checkValue('effect', 'wave'), null);
  assert.equal(refused(model.checkValue('effect', 'Wave')), 'prof.bad.choice');
  assert.equal(refused(model.checkValue('invertY', '1')), 'prof.bad.choice');
  assert.deepEqual([0, 11].map(model.doubleClickMs), [970, 200]);
  // Typed milliseconds go to the nearest step; outside what the steps give is refused.
  assert.deepEqual(['970', '500', '530', '200'].map((ms) => model.doubleClickStep(ms).step), ['0', '7', '6', '11']);
  for (const bad of ['199', '971', '5', 'abc', '']) assert.equal(refused(model.doubleClickStep(bad).error), 'prof.bad.range');
});

test('a name is 1 to 40 characters, no control characters, and not another place\'s name', () => {
  assert.equal(model.checkName('Racing', ['Default', 'Shooter']), null);
  assert.equal(refused(model.checkName('   ', [])), 'prof.bad.nameEmpty');
  assert.equal(refused(model.checkName(' racing ', ['Racing'])), 'prof.bad.nameTaken');
  assert.equal(refused(model.checkName('a\tb', [])), 'prof.bad.nameControl');
  assert.equal(model.checkName('雪'.repeat(40), []), null, 'characters, not UTF-16 units or bytes');
  assert.equal(refused(model.checkName('x'.repeat(41), [])), 'prof.bad.nameLong');
  assert.equal(model.checkName('A;B & <C>', []), null, 'signs the commands treat specially are still a name');
});

test('new profiles go to the first free place; copies get a name no place has', () => {
  assert.equal(model.firstFreePlace(['P1', '', 'P3']), 1);
  assert.equal(model.firstFreePlace(['P1', 'P2', ' ', 'P4', '', '', '', '']), 2);
  assert.equal(model.firstFreePlace(Array(8).fill('x')), -1);
  assert.equal(model.copyName('Race', ['Race']), 'Race (copy)');
  assert.equal(model.copyName('Race', ['Race', 'race (copy)', 'Race (copy 2)']), 'Race (copy 3)');
  const long = model.copyName('n'.repeat(40), []);
  assert.equal(long.length, 40);
  assert.ok(long.endsWith(' (copy)'));
  assert.equal(model.checkName(long, []), null);
});

test('a macro fits in memory and overlaps neither the profile block nor another macro', () => {
  const reload = { name: 'Reload', address: '0x1f00', size: '24' };
  assert.equal(model.checkMacro({ name: 'Jump', address: '0x1f18', size: '8' }, [reload]), null, 'right after another');
  assert.equal(model.checkMacro({ name: 'Low', address: '0x0000', size: '256' }, []), null, 'right before the block');
  assert.equal(model.checkMacro({ name: 'Top', address: 'fff0', size: '16' }, []), null, 'ends exactly at 0x10000');
  const at = (m, others = []) => { const e = model.checkMacro(m, others); return e && `${e.field} ${e.key}`; };
  assert.equal(at({ name: 'Jump', address: '0x1f17', size: '8' }, [reload]), 'address prof.bad.macroOverlap');
  assert.equal(at({ name: 'Wrap', address: '0x1e00', size: '2048' }, [reload]), 'address prof.bad.macroOverlap', 'covers it whole');
  assert.equal(at({ name: 'Low', address: '0x0000', size: '257' }), 'address prof.bad.macroBlock');
  assert.equal(at({ name: 'In', address: '0x017f', size: '1' }), 'address prof.bad.macroBlock');
  assert.equal(at({ name: 'Top', address: '0xfff0', size: '17' }), 'size prof.bad.macroEnd');
  assert.equal(at({ name: 'Big', address: '0x2000', size: '2049' }), 'size prof.bad.macroSize');
  assert.equal(at({ name: 'Zero', address: '0x2000', size: '0' }), 'size prof.bad.macroSize');
  assert.equal(at({ name: 'Far', address: '0x10000', size: '1' }), 'address prof.bad.address');
  assert.equal(at({ name: '', address: '0x2000', size: '1' }), 'name prof.bad.macroName');
  assert.equal(at({ name: 'm'.repeat(33), address: '0x2000', size: '1' }), 'name prof.bad.macroName');
});

test('key codes read and write the four bytes of the file', () => {
  const cases = {
    '0x00,0x00,0x00,0x00': { kind: 'own' },
    '0x01,0x0e,0x00,0x00': { kind: 'button', button: 14 },
    '0x02,0x05,0x48,0x01': { kind: 'key', mods: 5, scan: 0x48, ext: true },
    '0x03,0x05,0x00,0x00': { kind: 'mouse', mouse: 5 },
    '0x04,0x1f,0x00,0x00': { kind: 'macro', address: 0x1f00 },
    '0xff,0x00,0x00,0x00': { kind: 'nothing' },
  };
  for (const [text, code] of Object.entries(cases)) {
    assert.deepEqual(model.parseCode(text), code, text);
    assert.equal(model.formatCode(code), text, text);
  }
  assert.deepEqual(model.parseCode(undefined), { kind: 'own' }, 'a missing code is the own function');
  assert.deepEqual(model.parseCode('0x02, 0x1, 0x1e ,0x0'), { kind: 'key', mods: 1, scan: 0x1e, ext: false });
  for (const bad of ['0x05,0x07', '0x01,0x0f,0x00,0x00', '0x03,0x00,0x00,0x00', '0x02,0x00,0x00,0x00',
    '0x02,0x00,0x1e,0x02', '0x07,0x00,0x00,0x00', '2,0,30,0', '0x02,0x00,0x1e,0x00,0x00']) {
    assert.equal(model.parseCode(bad), null, bad);
  }
  assert.deepEqual(model.modifierNames(15), ['Ctrl', 'Shift', 'Alt', 'Super']);
});

test('a captured key press becomes the set-1 code the recorder writes; a lone modifier is no key yet', () => {
  const press = (code, mods = {}) => model.codeFromKeyEvent({ code, ctrlKey: false, shiftKey: false, altKey: false, metaKey: false, ...mods });
  assert.deepEqual(press('KeyA'), { kind: 'key', mods: 0, scan: 0x1e, ext: false });
  assert.deepEqual(press('ArrowUp', { ctrlKey: true, altKey: true }), { kind: 'key', mods: 5, scan: 0x48, ext: true });
  assert.deepEqual(press('Numpad8'), { kind: 'key', mods: 0, scan: 0x48, ext: false }, 'the keypad 8 is the plain 0x48');
  assert.deepEqual(press('NumpadEnter'), { kind: 'key', mods: 0, scan: 0x1c, ext: true });
  assert.deepEqual(press('F12', { metaKey: true, shiftKey: true }), { kind: 'key', mods: 10, scan: 0x58, ext: false });
  assert.equal(press('ShiftLeft', { shiftKey: true }), null);
  assert.equal(press('ControlRight', { ctrlKey: true }), null);
  assert.equal(press('Unidentified'), null);
  const keys = model.choosableKeys();
  const seen = new Set(keys.map((k) => `${k.scan}:${k.ext}`));
  assert.equal(seen.size, keys.length, 'no key listed twice');
  assert.ok(seen.has('28:false') && seen.has('28:true'), 'Enter and the keypad Enter both listed');
  assert.deepEqual(model.parseCode(model.formatCode(press('Delete'))), press('Delete'));
});

test('the buttons that play a macro are found by its address', () => {
  const keys = [
    { id: '1', code: '0x04,0x1f,0x00,0x00' },
    { id: '2', code: '0x04,0x1f,0x18,0x00' },
    { id: '3', code: '0x02,0x00,0x1f,0x00' },
    { id: '15', code: '0x04,0x1f,0x00,0x00' },
  ];
  assert.deepEqual(model.buttonsPlaying(keys, 0x1f00), [1, 15]);
  assert.deepEqual(model.buttonsPlaying(keys, 0x2000), []);
});
