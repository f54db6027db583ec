// A raw write sends exactly what was typed, or nothing: the pad's commands would cut a longer
// list to the size and fill a shorter one with zeros without a word.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');

const { writeRequest, firstDifference } = require(path.join(__dirname, '..', '..', 'view', 'js', 'bytefield.js'));

const refusal = (fn) => { try { fn(); } catch (err) { return [err.key, err.values]; } return null; };

test('sizes and bytes are checked before sending, nothing is cut or filled', () => {
  const many = Array(3000).fill('ab').join(' ');
  assert.deepEqual(refusal(() => writeRequest('8', many)), ['pads.in.tooMany', { n: 3000, max: 2048 }]);
  assert.deepEqual(refusal(() => writeRequest('8', '01 02 03')), ['pads.in.mismatch', { size: 8, n: 3 }]);
  assert.deepEqual(refusal(() => writeRequest('2', '10 20 30')), ['pads.in.mismatch', { size: 2, n: 3 }]);
  assert.deepEqual(refusal(() => writeRequest('8', '')), ['pads.in.noBytes', {}]);
  assert.deepEqual(refusal(() => writeRequest('', '  ')), ['pads.in.noBytes', {}]);
  assert.deepEqual(refusal(() => writeRequest('x', '10')), ['pads.in.size', {}]);
  assert.equal(refusal(() => writeRequest('3', '10 2g 30'))[0], 'pads.in.byte');
  // An empty size follows the bytes; the whole buffer is one write.
  assert.deepEqual(writeRequest('', '0x12,34 ff'), { size: 3, bytes: [0x12, 0x34, 0xff], data: '0x12,0x34,0xff' });
  assert.equal(writeRequest('2048', Array(2048).fill('00').join('')).size, 2048);
});

test('a read-back is compared byte for byte', () => {
  assert.equal(firstDifference([0x12, 0x34], '0x12,0x34'), -1);
  assert.equal(firstDifference([0x12, 0x34], '0x12,0x00'), 1);
  assert.equal(firstDifference([0x12, 0x34], '0x12'), 1);
  assert.equal(firstDifference([0x12], ''), 0);
  assert.equal(firstDifference([0x12], '0x12,0x00'), 1);
});
