// A take as the bytes that go to the pad, and the edits made to it before they go.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');

const { MACRO_LIMIT, encode, removeItem, moveItem, setPause, parsePause } =
  require(path.join(__dirname, '..', '..', 'view', 'js', 'macroedit.js'));

const key = (down, scan, ext = false) => ({ kind: 'key', down, scan, ext });
const pause = (ms) => ({ kind: 'pause', ms });
const A = 0x1e;
const B = 0x30;

test('the size of a take is every record and the end mark, long pauses included', () => {
  assert.deepEqual(encode([key(true, A), pause(300), key(false, 0x1d, true), pause(0)]),
    [0x01, A, 0, 0x03, 0x2c, 0x01, 0x02, 0x1d, 1, 0x00]);
  // A pause past 65535 ms takes two records.
  assert.deepEqual(encode([pause(70000)]), [0x03, 0xff, 0xff, 0x03, 0x71, 0x11, 0x00]);
  // 682 key records fit, 683 do not.
  const take = (n) => Array.from({ length: n }, (_, i) => key(i % 2 === 0, A));
  assert.equal(encode(take(682)).length, MACRO_LIMIT - 1);
  assert.ok(encode(take(683)).length > MACRO_LIMIT);
});

test('edits delete, move and change items and never leave a key held or released unpressed', () => {
  const items = [key(true, A), pause(80), key(false, A), pause(120), key(true, B), key(false, B)];
  // Deleting a press (or a release) takes its partner with it.
  assert.deepEqual(removeItem(items, 0), [pause(80), pause(120), key(true, B), key(false, B)]);
  assert.deepEqual(removeItem(items, 5), [key(true, A), pause(80), key(false, A), pause(120)]);
  assert.deepEqual(removeItem(items, 1), [key(true, A), key(false, A), pause(120), key(true, B), key(false, B)]);
  // Nested presses of one key pair from the inside out.
  const nested = [key(true, A), key(true, A), key(false, A), key(false, A)];
  assert.deepEqual(removeItem(nested, 1), [key(true, A), key(false, A)]);
  // Moves: a pause anywhere, B's press before A's release; never a release above its press.
  assert.deepEqual(moveItem(items, 1, 1), [key(true, A), key(false, A), pause(80), pause(120), key(true, B), key(false, B)]);
  assert.deepEqual(moveItem(items, 4, -1), [key(true, A), pause(80), key(false, A), key(true, B), pause(120), key(false, B)]);
  assert.equal(moveItem(items, 5, -1), items);
  assert.equal(moveItem(items, 0, -1), items);
  assert.equal(moveItem([key(true, A), key(false, A)], 1, -1).length, 2);
  assert.deepEqual(moveItem([key(true, A), key(false, A)], 1, -1), [key(true, A), key(false, A)]);
  // Pauses: whole milliseconds from 1; only a pause item changes.
  assert.deepEqual(setPause(items, 3, 250)[3], pause(250));
  assert.equal(setPause(items, 0, 250), items);
  assert.deepEqual(['250', ' 1 ', '0', '-5', '1.5', '', '600001'].map(parsePause), [250, 1, null, null, null, null, null]);
});
