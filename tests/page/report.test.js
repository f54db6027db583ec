// The pad picture reads the report bytes in the layout padctl demo sends.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');

const { decodeReport } = require(path.join(__dirname, '..', '..', 'view', 'js', 'report.js'));

test('buttons, sticks and triggers come from their own bytes', () => {
  // A + Home (bits 0 and 14), left stick full left and up, right stick centred, triggers apart.
  const r = decodeReport('0140' + '0000' + '8080' + '00ff');
  assert.deepEqual(r.pressed, ['a', 'home']);
  assert.equal(r.buttons.b, false);
  assert.deepEqual(r.sticks.left, { x: -1, y: -1 });
  assert.deepEqual(r.sticks.right, { x: 0, y: 0 });
  assert.deepEqual(r.triggers, { left: 0, right: 1 });
  // Byte 1 is the high byte of the mask: 0x0002 is B, 0x0200 is the right stick's click.
  assert.deepEqual(decodeReport('0200808080800000').pressed, ['b']);
  assert.deepEqual(decodeReport('0002808080800000').pressed, ['rs']);
  // The far ends reach ±1 both ways; a resting stick (127/128/129) is centred.
  const far = decodeReport('0000ffff7f810000');
  assert.deepEqual(far.sticks.left, { x: 1, y: 1 });
  assert.deepEqual(far.sticks.right, { x: 0, y: 0 });
  // The unused bit 15 lights nothing.
  assert.deepEqual(decodeReport('0080808080800000').pressed, []);
});

test('what is not an 8-byte report is not drawn', () => {
  for (const text of ['', '00', '000102030405060', '0001020304050607ff', 'zz01020304050607', null, undefined]) {
    assert.equal(decodeReport(text), null, String(text));
  }
});
