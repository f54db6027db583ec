// @ts-check
// A profile in the pad's memory: the 128-byte block at 0x0100 (layout in view/PROFILES.md), "Apply
// to pad", which writes it, reads it back and compares, and what a block read from a pad is.
//
// The pad's write command fills a short byte list with zeros and cuts a long one, so only the
// read-back tells whether the pad holds what was meant; a read-back the pad refuses leaves the
// write unverified.
(function (root, factory) {
  const inNode = typeof module === 'object' && module.exports;
  const api = inNode ? factory(require('./bytefield.js'), require('./profilemodel.js'), require('./padmap.js'))
    : factory(root.vexaModules.bytefield, root.vexaModules.profilemodel, root.vexaModules.padmap);
  if (inNode) module.exports = api;
  else (root.vexaModules ??= {}).padMemory = api;
})(typeof window !== 'undefined' ? window : globalThis, (bytefield, model, padmap) => {
  'use strict';

  const PROFILE_ADDRESS = model.PROFILE_BLOCK.address;
  const BLOCK_SIZE = model.PROFILE_BLOCK.size;
  const BLOCK_VERSION = 1;
  const KEY_COUNT = 15;
  const KEYS_OFFSET = 0x10;
  const CHECKSUM_OFFSET = 0x7e;

  // The byte each choice is stored as, by its place here.
  const EFFECTS = ['off', 'static', 'breathing', 'wave'];
  const CURVES = ['linear', 'smooth', 'aggressive'];

  /** A value the block cannot hold; `field` names it as "section@attribute". */
  class BlockError extends Error {
    constructor(field, value) {
      super(`${field} cannot be "${value}"`);
      this.field = field;
      this.value = value;
    }
  }

  // A value of mouse, lighting or stick, by the same rules the Profiles screen checks it with.
  function checked(element, attribute, text) {
    if (model.checkValue(attribute, text)) throw new BlockError(`${element}@${attribute}`, text);
    return String(text).trim();
  }

  function choice(names, element, attribute, text) {
    const i = names.indexOf(checked(element, attribute, text));
    if (i < 0) throw new BlockError(`${element}@${attribute}`, text); // allowed, but the block has no byte for it
    return i;
  }

  function wholeNumber(field, text, min, max) {
    const s = String(text ?? '').trim();
    const n = /^\d+$/.test(s) ? Number(s) : NaN;
    if (!(n >= min && n <= max)) throw new BlockError(field, text);
    return n;
  }

  /** "0x02,0x00,0x1e,0x00" → [2, 0, 30, 0]; anything but four bytes is refused. */
  function keyCode(field, text) {
    const parts = String(text ?? '').split(',').map((p) => p.trim());
    if (parts.length !== 4 || !parts.every((p) => /^0x[0-9a-f]{1,2}$/i.test(p))) throw new BlockError(field, text);
    return parts.map((p) => parseInt(p, 16));
  }

  function checksum(bytes) {
    let sum = 0;
    for (let i = 0; i < CHECKSUM_OFFSET; i++) sum += bytes[i];
    return sum & 0xffff;
  }

  /**
   * The block for a profile given as { mouse, lighting, stick: attribute maps, keys: [{ id, code }] }
   * (attribute values as the file holds them). Throws BlockError for a value the block has no
   * place for, so nothing half-made reaches the pad.
   */
  function encodeProfile(profile) {
    const { mouse = {}, lighting = {}, stick = {}, keys = [] } = profile;
    const b = new Array(BLOCK_SIZE).fill(0);
    b[0] = 0x56; // "VX"
    b[1] = 0x58;
    b[2] = BLOCK_VERSION;
    b[3] = BLOCK_SIZE;
    b[4] = Number(checked('mouse', 'speed', mouse.speed));
    b[5] = Number(checked('mouse', 'scrollLines', mouse.scrollLines));
    b[6] = Number(checked('mouse', 'doubleClick', mouse.doubleClick));
    b[7] = choice(EFFECTS, 'lighting', 'effect', lighting.effect);
    const rgb = checked('lighting', 'color', lighting.color);
    [b[8], b[9], b[10]] = [1, 3, 5].map((i) => parseInt(rgb.substr(i, 2), 16));
    b[11] = Number(checked('lighting', 'brightness', lighting.brightness));
    b[12] = Number(checked('stick', 'deadzone', stick.deadzone));
    b[13] = choice(CURVES, 'stick', 'curve', stick.curve);
    b[14] = checked('stick', 'invertY', stick.invertY) === 'true' ? 1 : 0;
    const seen = new Set();
    for (const key of keys) {
      const id = wholeNumber('key@id', key.id, 1, KEY_COUNT);
      // Two elements for one button would leave which one the pad gets to document order.
      if (seen.has(id)) throw new BlockError('key@id', key.id);
      seen.add(id);
      keyCode(`key${id}@code`, key.code).forEach((byte, i) => { b[KEYS_OFFSET + 4 * (id - 1) + i] = byte; });
    }
    const sum = checksum(b);
    b[CHECKSUM_OFFSET] = sum & 0xff;
    b[CHECKSUM_OFFSET + 1] = sum >> 8;
    return b;
  }

  /** A profile the pad could not play as it stands; key and values name the user's text. */
  class MacroError extends Error {
    constructor(key, values) {
      super(key);
      this.key = key;
      this.values = values;
    }
  }

  /**
   * The macros of a profile ({ macros: [{ name, address, size, data }], keys }) as writes
   * [{ name, address, bytes }]. A button may only play a macro whose bytes the profile holds:
   * otherwise the pad would jump to whatever its memory holds there. Throws MacroError.
   */
  function macroWrites(profile) {
    const writes = [];
    for (const m of profile.macros || []) {
      const address = model.parseAddress(m.address);
      const size = Number(m.size);
      let bytes = null;
      try { bytes = m.data ? bytefield.parseBytes(m.data) : null; } catch (_) { bytes = null; }
      if (bytes && bytes.length !== size) bytes = null;
      if (bytes && padmap.clashes(address, size, [padmap.BLOCK, padmap.LIST]).length) {
        throw new MacroError('apply.macroOnBlock', { macro: m.name });
      }
      if (bytes) writes.push({ name: m.name, address, bytes });
    }
    for (const key of profile.keys || []) {
      const code = model.parseCode(key.code);
      if (!code || code.kind !== 'macro') continue;
      if (!writes.some((w) => w.address === code.address)) {
        const held = (profile.macros || []).find((m) => model.parseAddress(m.address) === code.address);
        throw new MacroError('apply.macroMissing', {
          button: model.BUTTONS[Number(key.id) - 1] || key.id,
          macro: held ? held.name : model.formatAddress(code.address),
        });
      }
    }
    return writes;
  }

  /**
   * The macros first, then the block, so the block never names a macro the pad lacks. With a plan
   * (padmap.planApply), the places of macros no profile holds any more are cleared first and
   * vexa's list on the pad is brought up to date before the block.
   */
  async function applyAll(bytes, writes, pad, send, plan = null) {
    if (plan) {
      const cleared = await padmap.settle(plan, pad, send);
      if (!cleared.ok) return { ...cleared, differences: [] };
    }
    if (writes.length) {
      const put = await padmap.writeAll(writes, pad, send);
      if (!put.ok) return { ...put, differences: [] };
    }
    if (plan) {
      const listed = await padmap.writeList(plan, pad, send);
      if (!listed.ok) return { ...listed, differences: [] };
    }
    const result = await applyBlock(bytes, pad, send);
    return { ...result, macros: writes.length };
  }

  // What a block read from a pad is: the offsets of its values, one field each (the colour's
  // three bytes are one), for telling how far it is from a profile.
  const FIELDS = [[4, 1], [5, 1], [6, 1], [7, 1], [8, 3], [11, 1], [12, 1], [13, 1], [14, 1]]
    .concat(Array.from({ length: KEY_COUNT }, (_, i) => [KEYS_OFFSET + 4 * i, 4]));
  /** A block that differs from a profile in at most this many fields is named after it. */
  const NEAR_FIELDS = 5;

  /**
   * What the pad holds, from the 128 bytes read at 0x0100 and the profiles as the pad would hold
   * them, candidates [{ name, bytes }] (encodeProfile; the first of equal ones is named):
   * { kind: 'profile', name } the same bytes; { kind: 'near', name, n } a profile block that
   * differs from that profile in n values; { kind: 'other' } a profile block far from every
   * profile; { kind: 'blank' } nothing at all; { kind: 'unknown' } bytes that are no profile block.
   */
  function identify(read, candidates) {
    const block = Array.from(read || []);
    if (block.length < BLOCK_SIZE || block.every((b) => !b)) return { kind: block.length < BLOCK_SIZE ? 'unknown' : 'blank' };
    const sum = checksum(block);
    const valid = block[0] === 0x56 && block[1] === 0x58 && block[2] === BLOCK_VERSION && block[3] === BLOCK_SIZE
      && block[CHECKSUM_OFFSET] === (sum & 0xff) && block[CHECKSUM_OFFSET + 1] === sum >> 8;
    if (!valid) return { kind: 'unknown' };
    let near = null;
    for (const c of candidates) {
      if (c.bytes.every((b, i) => b === block[i])) return { kind: 'profile', name: c.name };
      const n = FIELDS.filter(([at, size]) => c.bytes.slice(at, at + size).some((b, i) => b !== block[at + i])).length;
      if (!near || n < near.n) near = { name: c.name, n };
    }
    return near && near.n <= NEAR_FIELDS ? { kind: 'near', ...near } : { kind: 'other' };
  }

  function attributes(element) {
    const map = {};
    if (element) for (const a of Array.from(element.attributes)) map[a.name] = a.value;
    return map;
  }

  /** The encoder's input from a DOM <profile> element. */
  function profileFromElement(element) {
    const child = (name) => Array.from(element.children).find((c) => c.tagName === name) || null;
    const keys = child('keys');
    return {
      mouse: attributes(child('mouse')),
      lighting: attributes(child('lighting')),
      stick: attributes(child('stick')),
      keys: keys ? Array.from(keys.children).filter((k) => k.tagName === 'key').map(attributes) : [],
      macros: child('macros') ? Array.from(child('macros').children).filter((m) => m.tagName === 'macro').map(attributes) : [],
    };
  }

  /**
   * Writes the profile's block to the pad, reads it back and compares. `send(request)` resolves
   * with { ok, text, message } (message: the user's words for a failure). Resolves with
   * { ok, key, values, differences }: key names the text to show, differences the offsets in
   * the block where the pad holds something else.
   */
  async function applyBlock(bytes, pad, send) {
    const target = {
      HardwareID: pad.HardwareID, DevicePath: pad.DevicePath,
      PARAMADDRESS: PROFILE_ADDRESS.toString(16), PARAMSIZE: BLOCK_SIZE,
    };
    const written = await send({ funcname: 'writeByAddr', ...target, PARAMDATA: bytefield.byteList(bytes) });
    if (!written.ok) return { ok: false, key: 'apply.notWritten', values: { reason: written.message }, differences: [] };
    const read = await send({ funcname: 'readByAddr', ...target });
    if (!read.ok) return { ok: false, key: 'apply.notRead', values: { reason: read.message }, differences: [] };
    const back = read.text ? String(read.text).split(',').map((x) => parseInt(x, 16)) : [];
    const differences = [];
    for (let i = 0; i < BLOCK_SIZE; i++) if (back[i] !== bytes[i]) differences.push(i);
    if (differences.length) {
      return { ok: false, key: 'apply.differs', values: { n: differences.length, first: differences[0] }, differences };
    }
    return { ok: true, key: 'apply.done', values: { n: BLOCK_SIZE }, differences };
  }

  // ---- in the page --------------------------------------------------------------------------

  /**
   * "Apply to pad" for a DOM <profile> element and a pad of the pad list: resolves with
   * { ok, message, differences }, message in the user's language. Other profiles' macros are
   * never in the way (they share one layout, padmap.js), and what vexa listed on the pad for a
   * macro no profile holds any more is cleared. Bytes nothing accounts for where a macro goes (a
   * take written from the Macros screen) are replaced only after a question; unattended (a mode
   * switch, nobody at the screen) nothing is written then and the message says why. The writes
   * and read-backs run alone on the pad (padlock.js); a question never holds the pad.
   */
  async function applyProfile(profileElement, pad, { unattended = false } = {}) {
    const vexa = window.vexaModules;
    const { t, later } = vexa.i18n;
    // Kept by the mode switch's status line, which follows a change of language.
    const say = (key, values) => later(() => t(key, values));
    if (!pad) return { ok: false, message: say('apply.noPad'), differences: [] };
    let bytes;
    let writes;
    try {
      const profile = profileFromElement(profileElement);
      bytes = encodeProfile(profile);
      writes = macroWrites(profile);
    } catch (err) {
      if (err instanceof MacroError) return { ok: false, message: say(err.key, err.values), differences: [] };
      if (!(err instanceof BlockError)) throw err;
      return { ok: false, message: say('apply.invalid', { field: err.field, value: String(err.value ?? '') }), differences: [] };
    }
    const send = (request) => vexa.bridge.command(request, { timeoutMs: 5000 });
    const read = async (address, size) => {
      const back = await send({ funcname: 'readByAddr', HardwareID: pad.HardwareID, DevicePath: pad.DevicePath,
        PARAMADDRESS: address.toString(16), PARAMSIZE: size });
      if (!back.ok) throw Object.assign(new Error(back.message), { shown: back.message });
      return back.text ? String(back.text).split(',').map((x) => parseInt(x, 16)) : [];
    };
    const fail = (message) => ({ ok: false, message, differences: [] });
    let result;
    try {
      const taken = await padmap.takenNow();
      let approved = null;
      if (!unattended) {
        const plan = await padmap.planApply(writes, taken, read);
        approved = plan.stray;
        const names = plan.stray.join(', ');
        if (plan.stray.length && !(await vexa.ask.ask({ title: t('apply.askTitle'), text: t('apply.askOver', { names }), yes: t('prof.apply') }))) {
          return fail(say('apply.cancelled'));
        }
      }
      result = await vexa.padLock.exclusive(pad, async () => {
        // Planned again with the pad held: another writer may have come between.
        const plan = await padmap.planApply(writes, taken, read);
        const unasked = plan.stray.filter((name) => !approved || !approved.includes(name));
        if (unasked.length) {
          return { ok: false, key: approved ? 'apply.changedMeanwhile' : 'apply.overUnattended', values: { names: unasked.join(', ') }, differences: [] };
        }
        const outcome = await applyAll(bytes, writes, pad, send, plan);
        document.dispatchEvent(new CustomEvent('padwritten', { detail: { pad } }));
        return outcome;
      });
    } catch (err) {
      if (!err.shown) throw err;
      return fail(say('apply.notWritten', { reason: err.shown }));
    }
    const message = result.ok && writes.length ? later(() => `${t(result.key, result.values)} ${t('map.done', { n: writes.length })}`)
      : say(result.key, result.values);
    return { ok: result.ok, message, differences: result.differences };
  }

  return {
    PROFILE_ADDRESS, BLOCK_SIZE, BlockError, MacroError, encodeProfile, profileFromElement, macroWrites, applyBlock, applyAll, identify,
    applyProfile,
  };
});
