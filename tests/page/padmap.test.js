// The pad's memory map: the profile block kept, macros placed first fit without overlap, and
// every byte of them checked on the pad after writing.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');

const map = require(path.join(__dirname, '..', '..', 'view', 'js', 'padmap.js'));

// A pad of 64 KiB behind the memory commands, as the native side answers them.
function fakePad({ corrupt = -1 } = {}) {
  const mem = new Uint8Array(0x10000);
  const send = async (r) => {
    const at = parseInt(r.PARAMADDRESS, 16);
    if (r.funcname === 'writeByAddr') {
      r.PARAMDATA.split(',').forEach((b, i) => { if (i < r.PARAMSIZE) mem[at + i] = parseInt(b, 16); });
      if (corrupt >= at && corrupt < at + r.PARAMSIZE) mem[corrupt] ^= 0xff;
      return { ok: true, text: 'writeByAddr success!' };
    }
    if (r.funcname === 'readByAddr') {
      return { ok: true, text: Array.from(mem.slice(at, at + r.PARAMSIZE), (b) => '0x' + b.toString(16).padStart(2, '0')).join(',') };
    }
    throw new Error(r.funcname);
  };
  const read = async (address, n) => Array.from(mem.slice(address, address + n));
  return { mem, send, read };
}

const pad = { HardwareID: 'hw', DevicePath: 'p' };

test('first fit: the lowest stretch of the macro area that touches nothing taken', () => {
  const taken = map.takenBy([
    { name: 'Race', macros: [{ name: 'Boost', address: '0x0200', size: '16' }, { name: 'Horn', address: '0x0220', size: '8' }] },
  ]);
  assert.equal(map.firstFit(16, taken), 0x0210);           // the gap between the two
  assert.equal(map.firstFit(17, taken), 0x0228);           // too big for the gap: after Horn
  assert.equal(map.firstFit(16, [{ ...map.BLOCK, block: true }]), map.MACRO_AREA.start);
  assert.equal(map.firstFit(2049, []), -1);                // more than one command moves
  assert.equal(map.firstFit(2048, [{ address: 0x200, size: 0x10000 - 0x200 }]), -1);
});

test('an overlap names the profile block or the profile and macro it breaks', () => {
  const taken = map.takenBy([{ name: 'Race', macros: [{ name: 'Boost', address: '0x1f00', size: '24' }] }]);
  const t = (key, v) => `${key}${v ? JSON.stringify(v) : ''}`;
  assert.deepEqual(map.clashes(0x0100, 128, taken).map((s) => map.describe(s, t)), ['map.isBlock']);
  assert.deepEqual(map.clashes(0x017f, 2, taken).length, 1);  // the block's last byte
  assert.deepEqual(map.clashes(0x0180, 0x1d80, taken), []);   // ends right before Boost
  assert.deepEqual(map.clashes(0x1f17, 1, taken).map((s) => map.describe(s, t)), ['map.isMacro{"macro":"Boost","profile":"Race"}']);
});

test('a blank-looking stretch right after a macro is not taken: its last zeros are its own', async () => {
  const { mem, read } = fakePad();
  // A take written earlier, belonging to no profile: "down A, up A, end" = 01 1e 00 02 1e 00 00.
  mem.set([1, 0x1e, 0, 2, 0x1e, 0, 0], 0x0200);
  const at = await map.findBlank(5, map.takenBy([]), read);
  assert.equal(at, 0x0207);
  assert.equal(await map.findBlank(5, [{ address: 0x200, size: 0xfdfc }], read), -1);
});

test('a profile with three macros is placed around what is taken, written and verified on the pad', async () => {
  const { mem, send } = fakePad();
  const taken = map.takenBy([{ name: 'Other', macros: [{ name: 'Old', address: '0x0204', size: '4' }] }]);
  const macros = [{ name: 'One', size: 4 }, { name: 'Two', size: 3 }, { name: 'Three', size: 2048 }];
  const placed = map.place(macros, taken);
  assert.deepEqual(placed.map((m) => m.address), [0x0200, 0x0208, 0x020b]);
  const writes = placed.map((m, k) => ({ name: m.name, address: m.address, bytes: Array.from({ length: m.size }, (_, i) => (k * 7 + i) % 255 + 1) }));
  mem.set([9, 9, 9, 9], 0x0204); // Old stays
  assert.deepEqual(await map.writeAll(writes, pad, send), { ok: true, key: 'map.done', values: { n: 3 } });
  for (const w of writes) assert.deepEqual(Array.from(mem.slice(w.address, w.address + w.bytes.length)), w.bytes);
  assert.deepEqual(Array.from(mem.slice(0x0204, 0x0208)), [9, 9, 9, 9]);

  const bad = fakePad({ corrupt: 0x020b + 100 });
  const outcome = await map.writeAll(writes, pad, bad.send);
  assert.equal(outcome.ok, false);
  assert.equal(outcome.key, 'map.differs');
  assert.equal(outcome.values.name, 'Three');
  assert.throws(() => map.place([{ name: 'Big', size: 2048 }], [{ address: 0x200, size: 0xfc00 }]), (e) => e.key === 'map.full');
});
