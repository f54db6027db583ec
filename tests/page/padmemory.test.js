// The profile block the pad reads at 0x0100, and Apply's write, read-back and compare.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const view = path.join(__dirname, '..', '..', 'view');
const { encodeProfile, applyBlock, applyAll, macroWrites, BlockError, MacroError } = require(path.join(view, 'js', 'padmemory.js'));

// Just enough of the shipped files for the encoder: the attributes of mouse, lighting, stick, key.
function profileFromFile(file) {
  const text = fs.readFileSync(file, 'utf8');
  const attrs = (tag) => [...text.matchAll(new RegExp(`<${tag}\\s([^>]*?)/?>`, 'g'))]
    .map((m) => Object.fromEntries([...m[1].matchAll(/(\w+)="([^"]*)"/g)].map((a) => [a[1], a[2]])));
  return { mouse: attrs('mouse')[0], lighting: attrs('lighting')[0], stick: attrs('stick')[0], keys: attrs('key') };
}

const sample = () => ({
  mouse: { speed: '12', scrollLines: '3', doubleClick: '11' },
  lighting: { color: '#E0483e', brightness: '100', effect: 'wave' },
  stick: { deadzone: '30', curve: 'smooth', invertY: 'true' },
  keys: [{ id: '15', code: '0x02,0x03,0x1e,0x01' }, { id: '1', code: '0x04,0x1f,0x00,0x00' }],
});

test('every field lands at its offset and the checksum covers bytes 0 to 0x7d', () => {
  const b = encodeProfile(sample());
  assert.equal(b.length, 128);
  assert.deepEqual(b.slice(0, 16), [0x56, 0x58, 1, 128, 12, 3, 11, 3, 0xe0, 0x48, 0x3e, 100, 30, 1, 1, 0]);
  assert.deepEqual(b.slice(0x10, 0x14), [4, 0x1f, 0, 0]); // Home's binding is the last of the 15
  assert.deepEqual(b.slice(0x10 + 14 * 4, 0x10 + 15 * 4), [2, 3, 0x1e, 1]);
  assert.ok(b.slice(0x10 + 4, 0x10 + 14 * 4).every((x) => x === 0), 'buttons without a key element keep their own function');
  const sum = b.slice(0, 0x7e).reduce((s, x) => s + x, 0);
  assert.equal(b[0x7e] | (b[0x7f] << 8), sum & 0xffff);
});

test('a value the block has no place for is refused, naming the field', () => {
  const cases = [
    ['mouse@speed', (p) => { p.mouse.speed = '21'; }],
    ['mouse@speed', (p) => { p.mouse.speed = 'abc'; }],
    ['mouse@doubleClick', (p) => { p.mouse.doubleClick = '-1'; }],
    ['lighting@color', (p) => { p.lighting.color = '#e0483e' + 'f'.repeat(20000); }],
    ['lighting@effect', (p) => { p.lighting.effect = 'Wave'; }],
    ['stick@invertY', (p) => { delete p.stick.invertY; }],
    ['key15@code', (p) => { p.keys[0].code = '0x02,0x03,0x1e'; }],
    ['key15@code', (p) => { p.keys[0].code = '0x02,0x03,0x1e,0x100'; }],
    ['key@id', (p) => { p.keys.push({ id: '15', code: '0x00,0x00,0x00,0x00' }); }],
    ['key@id', (p) => { p.keys[0].id = '16'; }],
  ];
  for (const [field, spoil] of cases) {
    const p = sample();
    spoil(p);
    assert.throws(() => encodeProfile(p), (err) => err instanceof BlockError && err.field === field, field);
  }
});

test('the shipped profiles all fit the block', () => {
  const folder = path.join(view, 'profiles');
  for (const name of fs.readdirSync(folder).filter((f) => f.endsWith('.xml'))) {
    const p = profileFromFile(path.join(folder, name));
    assert.equal(p.keys.length, 15, name);
    assert.doesNotThrow(() => encodeProfile(p), name);
  }
});

// A pad that keeps what it is given, minus whatever `lose` changes.
function fakePad(lose = () => {}) {
  const memory = new Array(0x10000).fill(0);
  const sent = [];
  const send = async (request) => {
    sent.push(request);
    const at = parseInt(request.PARAMADDRESS, 16);
    if (request.funcname === 'writeByAddr') {
      request.PARAMDATA.split(',').forEach((x, i) => { memory[at + i] = parseInt(x, 16); });
      lose(memory);
      return { ok: true, text: 'writeByAddr success!' };
    }
    const bytes = memory.slice(at, at + request.PARAMSIZE).map((x) => `0x${x.toString(16).padStart(2, '0')}`);
    return { ok: true, text: bytes.join(',') };
  };
  return { memory, sent, send };
}

test('apply writes the block at 0x100, reads the same stretch back and names what differs', async () => {
  const pad = { HardwareID: 'H', DevicePath: 'P' };
  const bytes = encodeProfile(sample());

  const good = fakePad();
  const done = await applyBlock(bytes, pad, good.send);
  assert.equal(done.ok, true);
  assert.deepEqual(good.sent.map((r) => [r.funcname, r.PARAMADDRESS, r.PARAMSIZE]),
    [['writeByAddr', '100', 128], ['readByAddr', '100', 128]]);
  assert.deepEqual(good.memory.slice(0x100, 0x180), bytes);

  const stuck = fakePad((m) => { m[0x100 + 8] = 0; m[0x17f] ^= 1; });
  const differs = await applyBlock(bytes, pad, stuck.send);
  assert.equal(differs.ok, false);
  assert.equal(differs.key, 'apply.differs');
  assert.deepEqual(differs.differences, [8, 127]);

  // A pad that reads back as zeros never gives "done".
  const gone = await applyBlock(bytes, pad, async (r) => (r.funcname === 'readByAddr'
    ? { ok: true, text: new Array(128).fill('0x00').join(',') } : { ok: true, text: '' }));
  assert.equal(gone.ok, false);

  // A refused write is not followed by a read that could look like success.
  const refused = [];
  const failed = await applyBlock(bytes, pad, async (r) => { refused.push(r.funcname); return { ok: false, message: 'no' }; });
  assert.deepEqual([failed.key, refused], ['apply.notWritten', ['writeByAddr']]);
});

test('a profile\'s macros go to the pad before the block, and a button may play only one whose bytes it holds', async () => {
  const pad = { HardwareID: 'H', DevicePath: 'P' };
  const profile = sample(); // A plays the macro at 0x1f00
  profile.macros = [
    { name: 'Reload', address: '0x1f00', size: '7', data: '01 1e 00 02 1e 00 00' },
    { name: 'Typed', address: '0x0300', size: '4' }, // no bytes: written nowhere
  ];
  const writes = macroWrites(profile);
  assert.deepEqual(writes, [{ name: 'Reload', address: 0x1f00, bytes: [1, 0x1e, 0, 2, 0x1e, 0, 0] }]);
  const p = fakePad();
  const done = await applyAll(encodeProfile(profile), writes, pad, p.send);
  assert.equal(done.ok, true);
  assert.deepEqual(p.sent.map((r) => [r.funcname, r.PARAMADDRESS]),
    [['writeByAddr', '1f00'], ['readByAddr', '1f00'], ['writeByAddr', '100'], ['readByAddr', '100']]);

  profile.keys.push({ id: '2', code: '0x04,0x03,0x00,0x00' });
  assert.throws(() => macroWrites(profile), (e) => e instanceof MacroError && e.key === 'apply.macroMissing'
    && e.values.button === 'B' && e.values.macro === 'Typed');
  profile.macros[0].data = '01 1e 00'; // fewer bytes than its size: not the macro the button means
  profile.keys.pop();
  assert.throws(() => macroWrites(profile), (e) => e.values.button === 'A' && e.values.macro === 'Reload');

  // A macro that fails its read-back leaves the block as it was.
  const q = fakePad((m) => { m[0x1f00] = 0; });
  profile.macros[0].data = '01 1e 00 02 1e 00 00';
  const failed = await applyAll(encodeProfile(profile), macroWrites(profile), pad, q.send);
  assert.equal(failed.key, 'map.differs');
  assert.ok(q.memory.slice(0x100, 0x180).every((x) => x === 0));
});
