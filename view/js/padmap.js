// @ts-check
// Who owns which bytes of the pad's memory (view/PROFILES.md, "The pad's memory"): the profile
// block is reserved, macros live in the macro area at addresses the page chooses, and every write
// path asks here first.
//
// The pad keeps no directory of its own and the native side adds none, so what is taken is
// rebuilt each time from what the page can read back: the profile block, the macro lists of the
// profiles, and the pad's bytes themselves (a take written from the Macros screen belongs to no
// profile, and only the pad remembers it).
(function (root, factory) {
  const inNode = typeof module === 'object' && module.exports;
  const api = inNode ? factory(require('./profilemodel.js')) : factory(root.vexaModules.profilemodel);
  if (inNode) module.exports = api;
  else (root.vexaModules ??= {}).padmap = api;
})(typeof window !== 'undefined' ? window : globalThis, (model) => {
  'use strict';

  const BLOCK = { address: model.PROFILE_BLOCK.address, size: model.PROFILE_BLOCK.size };
  /** Where macros go: from 0x0200 (room after the block) to the end of memory. */
  const MACRO_AREA = { start: 0x0200, end: 0x10000 };
  /** The most one memory command moves, so the most one macro may be. */
  const MACRO_MAX = 2048;
  // A macro ends "… S F 00": its last two bytes may be zero, so a blank-looking stretch right
  // after a nonzero byte may still belong to it. A new macro starts only after this many zeros.
  const TAIL = 2;

  const overlaps = (a, b) => a.address < b.address + b.size && b.address < a.address + a.size;

  /**
   * What is taken, from profiles [{ name, macros: [{ name, address, size }] }] (texts as the
   * files hold them): the block, then every macro as { address, size, profile, macro }.
   */
  function takenBy(profiles = []) {
    /** @type {{ address: number, size: number, block?: boolean, profile?: string, macro?: string }[]} */
    const taken = [{ ...BLOCK, block: true }];
    for (const p of profiles) {
      for (const m of p.macros || []) {
        const address = model.parseAddress(m.address);
        const size = Number(m.size);
        if (Number.isInteger(address) && size > 0) taken.push({ address, size, profile: p.name, macro: m.name });
      }
    }
    return taken;
  }

  /** The taken stretches that [address, address + size) would touch. */
  function clashes(address, size, taken) {
    return taken.filter((s) => overlaps(s, { address, size }));
  }

  /** The lowest address in the macro area where size bytes touch nothing taken, or -1. */
  function firstFit(size, taken) {
    if (!(size >= 1 && size <= MACRO_MAX)) return -1;
    const sorted = taken.slice().sort((a, b) => a.address - b.address);
    let at = MACRO_AREA.start;
    for (const s of sorted) {
      if (s.address + s.size <= at) continue;
      if (s.address >= at + size) break;
      at = s.address + s.size;
    }
    return at + size <= MACRO_AREA.end ? at : -1;
  }

  /**
   * Addresses for macros [{ name, size }] that have none yet, first fit after what is taken and
   * after each other. Resolves with the macros, each with address, or throws when one does not fit.
   */
  function place(macros, taken) {
    const all = taken.slice();
    return macros.map((m) => {
      const address = firstFit(m.size, all);
      if (address < 0) throw Object.assign(new Error('no room'), { key: 'map.full', values: { name: m.name, n: m.size } });
      all.push({ address, size: m.size, macro: m.name });
      return { ...m, address };
    });
  }

  const parseList = (text) => (text ? String(text).split(',').map((x) => parseInt(x, 16)) : []);
  const hex = (n) => n.toString(16).padStart(4, '0');

  /**
   * A stretch of size bytes in the macro area that is free by the list and blank on the pad (with
   * TAIL zeros before it). read(address, size) resolves with the pad's bytes. Resolves with the
   * address, or -1 when the area has no such stretch.
   */
  async function findBlank(size, taken, read) {
    const seen = taken.slice();
    for (;;) {
      const at = firstFit(size, seen);
      if (at < 0) return -1;
      const bytes = await read(at - TAIL, size + TAIL);
      let last = -1;
      for (let i = 0; i < size + TAIL; i++) if (bytes[i]) last = i;
      if (last < 0) return at;
      // Taken on the pad: from here to the last nonzero byte's tail.
      seen.push({ address: at, size: last + 1 });
    }
  }

  /**
   * Writes each { address, bytes } with "writeByAddr", reads it back and compares. send(request)
   * resolves with { ok, text, message }. Resolves with { ok, key, values } for the first that
   * fails (values.address is hex), or ok after all.
   */
  async function writeAll(writes, pad, send) {
    for (const w of writes) {
      const target = { HardwareID: pad.HardwareID, DevicePath: pad.DevicePath, PARAMADDRESS: hex(w.address), PARAMSIZE: w.bytes.length };
      const data = w.bytes.map((b) => '0x' + b.toString(16).padStart(2, '0')).join(',');
      const values = { name: w.name || '', address: hex(w.address) };
      const written = await send({ funcname: 'writeByAddr', ...target, PARAMDATA: data });
      if (!written.ok) return { ok: false, key: 'map.notWritten', values: { ...values, reason: written.message } };
      const read = await send({ funcname: 'readByAddr', ...target });
      if (!read.ok) return { ok: false, key: 'map.notRead', values: { ...values, reason: read.message } };
      const back = parseList(read.text);
      if (w.bytes.some((b, i) => back[i] !== b)) return { ok: false, key: 'map.differs', values };
    }
    return { ok: true, key: 'map.done', values: { n: writes.length } };
  }

  /** The user's words for one taken stretch (t: vexa.i18n.t). */
  function describe(stretch, t) {
    return stretch.block ? t('map.isBlock') : t('map.isMacro', { macro: stretch.macro, profile: stretch.profile });
  }

  // ---- in the page --------------------------------------------------------------------------

  /** The profiles' macro lists, read from the program's copies of the eight places. */
  async function profileMacros() {
    const vexa = window.vexaModules;
    const out = [];
    for (let i = 0; i < model.PLACES; i++) {
      const r = await vexa.bridge.command({ funcname: 'queryProfile', filePath: `view/profiles/profile${i + 1}.xml`, xpath: '/profile' },
        { timeoutMs: 5000 });
      if (!r.ok) throw Object.assign(new Error(r.message), { shown: r.message });
      const top = new DOMParser().parseFromString(r.text || '', 'application/xml').documentElement;
      if (!top || top.tagName !== 'profile' || !(top.getAttribute('name') || '').trim()) continue;
      const macros = Array.from(top.querySelectorAll(':scope > macros > macro')).map((m) => ({
        name: m.getAttribute('name') || '', address: m.getAttribute('address') || '', size: m.getAttribute('size') || '',
      }));
      out.push({ name: top.getAttribute('name'), place: i, macros });
    }
    return out;
  }

  /** takenBy() over the profiles as the program holds them now. */
  async function takenNow() {
    return takenBy(await profileMacros());
  }

  return { BLOCK, MACRO_AREA, MACRO_MAX, TAIL, takenBy, clashes, firstFit, place, findBlank, writeAll, describe, profileMacros, takenNow };
});
