// The pad's memory map: the profile block and the list kept, the eight profiles' macros one layout
// that holds on every pad, and every byte of them checked on the pad after writing.
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
    if (r.funcname === 'cleanMacroByAddr') {
      mem.fill(0, at, at + r.PARAMSIZE);
      return { ok: true, text: 'cleanMacroByAddr success!' };
    }
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
  assert.deepEqual(map.clashes(0x017e, 2, taken).length, 1);  // the block's last bytes
  assert.deepEqual(map.clashes(0x0200, 0x1d00, taken), []);   // ends right before Boost
  assert.deepEqual(map.clashes(0x01f0, 16, taken).map((s) => map.describe(s, t)), ['map.isList']);
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

// Applies a profile's macros [{ name, address, size, data }] to a fake pad as the page does:
// planned against the layout of all profiles, then cleared, written and listed. → the plan.
async function apply(p, macros, profiles) {
  const writes = macros.map((m) => ({ name: m.name, address: parseInt(m.address, 16), bytes: m.data.split(' ').map((x) => parseInt(x, 16)) }));
  const plan = await map.planApply(writes, map.takenBy(profiles), p.read);
  if (plan.stray.length) return plan; // the person is asked; nothing written here
  assert.equal((await map.settle(plan, pad, p.send)).ok, true);
  assert.equal((await map.writeAll(writes, pad, p.send)).ok, true);
  assert.equal((await map.writeList(plan, pad, p.send)).ok, true);
  return plan;
}
const hexAddress = (n) => `0x${n.toString(16).padStart(4, '0')}`;
const holds = (p, m) => Array.from(p.mem.slice(parseInt(m.address, 16), parseInt(m.address, 16) + Number(m.size)))
  .map((b) => b.toString(16).padStart(2, '0')).join(' ');

test('an import moves its macros off the other profiles\' macros, its buttons follow, and both apply to one pad', async () => {
  const reload = { name: 'Reload', address: '0x0200', size: '7', data: '01 1e 00 02 1e 00 00' };
  const calm = { name: 'Calm', macros: [reload] };
  const imported = {
    macros: [
      { name: 'Boost', address: '0x0200', size: '4', data: '01 2a 00 00' },   // over Reload
      { ...reload },                                                           // Reload itself: shared, stays
      { name: 'Horn', address: '0x0300', size: '4', data: '01 23 00 00' },     // free: stays
      { name: 'Low', address: '0x0010', size: '4', data: '01 24 00 00' },      // below the macro area
    ],
    keys: [{ id: '1', code: '0x04,0x02,0x00,0x00' }, { id: '2', code: '0x04,0x03,0x00,0x00' }, { id: '3', code: '0x04,0x00,0x10,0x00' },
      { id: '4', code: '0x02,0x00,0x1e,0x00' }],
  };
  const fitted = map.relocate(imported, [calm]);
  assert.deepEqual(fitted.moves, [{ name: 'Boost', from: 0x0200, to: 0x0207 }, { name: 'Low', from: 0x0010, to: 0x020b }]);
  assert.deepEqual(fitted.macros.map((m) => m.address), ['0x0207', '0x0200', '0x0300', '0x020b']);
  // A plays Reload's address in the package, and Reload stayed there: A keeps it. C follows Low.
  assert.deepEqual(fitted.keys.map((k) => k.code), ['0x04,0x02,0x00,0x00', '0x04,0x03,0x00,0x00', '0x04,0x02,0x0b,0x00', '0x02,0x00,0x1e,0x00']);
  const boost = { name: 'Boost', macros: fitted.macros };
  assert.deepEqual(map.relocate({ macros: fitted.macros }, [calm]).moves, [], 'fitted once, it stays');

  // Both profiles applied in turn, twice: no question, and every macro intact on the pad.
  const p = fakePad();
  for (const [profile, others] of [[calm, boost], [boost, calm], [calm, boost]]) {
    const plan = await apply(p, profile.macros, [profile, others]);
    assert.deepEqual(plan.stray, [], `${profile.name} applies without a question`);
  }
  for (const m of [...calm.macros, ...fitted.macros]) assert.equal(holds(p, m), m.data, m.name);
  assert.throws(() => map.relocate({ macros: [{ name: 'Big', address: '0x0200', size: '4', data: '01 02 03 04' }] },
    [{ name: 'Full', macros: [{ name: 'All', address: '0x0200', size: String(0xfe00), data: '' }] }]), (e) => e.key === 'map.full');
});

test('a new macro is placed by the profiles alone, whatever pad is in the picker; each pad settles its own bytes at apply', async () => {
  const calm = { name: 'Calm', macros: [{ name: 'Reload', address: '0x0200', size: '7', data: '01 1e 00 02 1e 00 00' }] };
  const orb = fakePad();
  await apply(orb, calm.macros, [calm]);
  const other = fakePad(); // listed first, and holding a take where the next macro would go
  other.mem.set([1, 0x30, 0, 2, 0x30, 0, 0], 0x0207);
  const at = map.placeNew(4, [calm]);
  assert.equal(at, 0x0207);
  assert.equal(map.placeNew(4, [calm]), await map.findBlank(4, map.takenBy([calm]), orb.read), 'a blank pad agrees');
  assert.notEqual(await map.findBlank(4, map.takenBy([calm]), other.read), at, 'the other pad would not');
  calm.macros.push({ name: 'Jump', address: hexAddress(at), size: '4', data: '01 39 00 00' });
  // The PX-ORB42 takes the profile without a question; the pad with the take asks before replacing it.
  assert.deepEqual((await apply(orb, calm.macros, [calm])).stray, []);
  assert.equal(holds(orb, calm.macros[1]), '01 39 00 00');
  assert.deepEqual((await apply(other, calm.macros, [calm])).stray, ['Jump']);
  assert.equal(holds(other, calm.macros[1]), '01 30 00 02');
});

test('a macro removed from its profile frees its place on the pad at the next apply; a take written by hand stays the user\'s', async () => {
  const one = { name: 'Reload', address: '0x0200', size: '7', data: '01 1e 00 02 1e 00 00' };
  const two = { name: 'Jump', address: '0x0207', size: '4', data: '01 39 00 00' };
  const race = { name: 'Race', macros: [one, two] };
  const p = fakePad();
  await apply(p, race.macros, [race]);
  assert.deepEqual(map.decodeList(Array.from(p.mem.slice(map.LIST.address, map.LIST.address + map.LIST.size))),
    [{ address: 0x0200, size: 7 }, { address: 0x0207, size: 4 }]);

  // Both removed; a new macro takes the first's place, and the pad's old bytes are known as vexa's.
  race.macros = [];
  const boost = { name: 'Boost', address: hexAddress(map.placeNew(4, [race])), size: '4', data: '01 2a 00 00' };
  assert.equal(boost.address, '0x0200');
  race.macros = [boost];
  const plan = await apply(p, race.macros, [race]);
  assert.deepEqual(plan.stray, []);
  assert.deepEqual(plan.clears, [{ address: 0x0204, size: 3 }, { address: 0x0207, size: 4 }]);
  assert.deepEqual(Array.from(p.mem.slice(0x0200, 0x020b)), [1, 0x2a, 0, 0, 0, 0, 0, 0, 0, 0, 0]);
  assert.deepEqual(map.decodeList(Array.from(p.mem.slice(map.LIST.address, map.LIST.address + map.LIST.size))), [{ address: 0x0200, size: 4 }]);

  // A take written straight from the Macros screen is listed nowhere: in the way, and asked about.
  p.mem.set([1, 0x30, 0, 2, 0x30, 0, 0], 0x0204);
  race.macros = [boost, { name: 'Horn', address: '0x0204', size: '4', data: '01 23 00 00' }];
  assert.deepEqual((await apply(p, race.macros, [race])).stray, ['Horn']);
  assert.deepEqual(map.decodeList(map.encodeList([])), []);
  assert.deepEqual(map.decodeList(new Array(128).fill(0)), [], 'a pad vexa never listed on');
});
