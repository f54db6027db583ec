// A pad picker never changes by itself: a write after an unplug must not land on another pad.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');

const { choose, writeTarget, padLabel } = require(path.join(__dirname, '..', '..', 'view', 'js', 'padchoice.js'));

const A = { DeviceID: '5E1C7A92', productName: 'PX-ORB42', SN: 'PX4272A', HardwareID: 'hw-a' };
const B = { DeviceID: '7B00C0DE', productName: 'PX-ORB42', SN: 'PX4272B', HardwareID: 'hw-b' };

test('the chosen pad stays chosen when it leaves, and a write to it is refused naming it', () => {
  let choice = choose(null, [A, B]);
  assert.deepEqual(choice, { pad: A, connected: true });
  choice = choose(B, [A, B]);
  assert.equal(writeTarget(choice).pad, B);

  choice = choose(choice.pad, [A]); // B unplugged: A is the only pad listed
  assert.deepEqual(choice, { pad: B, connected: false });
  assert.deepEqual(writeTarget(choice), { refusal: { key: 'pads.unplugged', values: { pad: 'PX-ORB42 · PX4272B' } } });
  choice = choose(choice.pad, []); // and stays so through further lists
  assert.equal(choice.pad, B);

  const back = { ...B, HardwareID: 'hw-b2' }; // plugged in again: its latest facts are written to
  choice = choose(choice.pad, [A, back]);
  assert.deepEqual(writeTarget(choice), { pad: back });
});

test('where nobody has chosen, a PX-ORB42 is chosen before a pad of another product listed first', () => {
  const other = { DeviceID: '0BADF00D', SN: 'OTHER1', HardwareID: 'hw-o' };
  assert.equal(choose(null, [other, B, A]).pad, B);
  assert.equal(choose(null, [other]).pad, other);
  assert.equal(choose(other, [other, A]).pad, other, 'a choice stays the user\'s');
});

test('no pad is refused; a pad without a name or serial is still told apart', () => {
  assert.deepEqual(writeTarget(choose(null, [])), { refusal: { key: 'pads.in.noPad', values: {} } });
  assert.equal(padLabel({ DeviceID: '0000BEEF' }, 'Pad'), 'Pad · 0000BEEF');
});
