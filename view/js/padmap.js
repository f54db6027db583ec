// @ts-check
// Who owns which bytes of the pad's memory (view/PROFILES.md, "The pad's memory"): the profile
// block and vexa's list of its macros are reserved, and the macros of all eight profiles form one
// layout in the macro area that holds on every pad. Every write path asks here first.
//
// The layout is the profiles' own: a new or imported macro goes where no profile's macro is, so
// applying one profile never writes over another's, on any pad, and switching modes needs no
// question. What the pads hold besides is told apart by the list: the stretches vexa wrote for a
// profile's macro are listed on the pad itself (0x0180), so a macro removed from its profile is
// known there as vexa's and cleared at the next apply, while a take written straight from the
// Macros screen (listed nowhere, played by no button) is the user's, replaced only after a question.
(function (root, factory) {
  const inNode = typeof module === 'object' && module.exports;
  const api = inNode ? factory(require('./profilemodel.js'), require('./bytefield.js'))
    : factory(root.vexaModules.profilemodel, root.vexaModules.bytefield);
  if (inNode) module.exports = api;
  else (root.vexaModules ??= {}).padmap = api;
})(typeof window !== 'undefined' ? window : globalThis, (model, bytefield) => {
  'use strict';

  const BLOCK = { address: model.PROFILE_BLOCK.address, size: model.PROFILE_BLOCK.size };
  /** vexa's list of the macros it wrote to this pad (layout below, encodeList). */
  const LIST = { address: 0x0180, size: 0x80 };
  const LIST_MAX = 30;
  /** Where macros go: from 0x0200 (room after the block and the list) to the end of memory. */
  const MACRO_AREA = { start: 0x0200, end: 0x10000 };
  /** The most one memory command moves, so the most one macro may be. */
  const MACRO_MAX = 2048;
  // A macro ends "… S F 00": its last two bytes may be zero, so a blank-looking stretch right
  // after a nonzero byte may still belong to it. A new macro starts only after this many zeros.
  const TAIL = 2;

  const overlaps = (a, b) => a.address < b.address + b.size && b.address < a.address + a.size;
  const covers = (s, at) => s.address <= at && at < s.address + s.size;

  /** A macro's kept bytes ("01 1e 00 …") when they are exactly its size, else null. */
  function keptBytes(m) {
    if (!m || !m.data) return null;
    try {
      const bytes = bytefield.parseBytes(m.data);
      return bytes.length === Number(m.size) ? bytes : null;
    } catch (_) {
      return null;
    }
  }

  /**
   * What is taken, from profiles [{ name, macros: [{ name, address, size, data }] }] (texts as the
   * files hold them): the block, the list, then every macro as { address, size, bytes, profile,
   * macro } (bytes null for a macro whose bytes the profile does not keep).
   */
  function takenBy(profiles = []) {
    /** @type {{ address: number, size: number, block?: boolean, list?: boolean, bytes?: number[] | null, profile?: string, macro?: string }[]} */
    const taken = [{ ...BLOCK, block: true }, { ...LIST, list: true }];
    for (const p of profiles) {
      for (const m of p.macros || []) {
        const address = model.parseAddress(m.address);
        const size = Number(m.size);
        if (Number.isInteger(address) && size > 0) taken.push({ address, size, bytes: keptBytes(m), profile: p.name, macro: m.name });
      }
    }
    return taken;
  }

  /**
   * Two macros that are one: the same place, size and bytes. A duplicated profile shares its
   * macros this way; that is no clash, since applying either writes the same bytes.
   */
  function sameMacro(a, b) {
    if (a.address !== b.address || a.size !== b.size) return false;
    if (!a.bytes || !b.bytes) return !a.bytes && !b.bytes;
    return a.bytes.every((x, i) => x === b.bytes[i]);
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

  /**
   * The address of a new macro of size bytes: the first fit clear of every profile's macro, or
   * -1. No pad is looked at: the layout must hold on every pad, and a pad's own bytes (a take
   * written from the Macros screen) are settled when the profile is applied to it.
   */
  function placeNew(size, profiles) {
    return firstFit(size, takenBy(profiles));
  }

  /**
   * An imported profile fitted into the layout of the other profiles. incoming: { macros: [{ name,
   * address, size, data }], keys: [{ id, code }] } as the package holds them; others: the other
   * profiles, as takenBy takes them. A macro with bytes that lies outside the macro area, or over
   * another profile's macro (other than the same one) or an earlier one of its own, is moved to
   * the first fit, and the buttons that play it follow it. A macro without bytes names bytes the
   * profile cannot write; it keeps its address.
   * → { moves: [{ name, from, to }], macros, keys } (the lists with the new texts, in their order);
   * throws { key: 'map.full' } when a macro finds no room.
   */
  function relocate(incoming, others) {
    const taken = takenBy(others);
    const list = (incoming.macros || []).map((m) => ({ m, address: model.parseAddress(m.address), size: Number(m.size), bytes: keptBytes(m) }));
    const stays = [];
    const moving = [];
    for (const x of list) {
      const inArea = x.address >= MACRO_AREA.start && x.address + x.size <= MACRO_AREA.end;
      const clash = !inArea || taken.some((s) => overlaps(s, x) && !(s.macro !== undefined && sameMacro(s, x)))
        || stays.some((s) => overlaps(s, x));
      if (x.bytes && clash) moving.push(x);
      else stays.push(x);
    }
    const placed = taken.concat(stays);
    const moves = [];
    for (const x of moving) {
      const to = firstFit(x.size, placed);
      if (to < 0) throw Object.assign(new Error('no room'), { key: 'map.full', values: { name: x.m.name, n: x.size } });
      placed.push({ address: to, size: x.size });
      moves.push({ name: x.m.name, from: x.address, to, x });
    }
    // A button plays what is at an address: where a macro stayed, its buttons stay with it.
    const follow = new Map();
    for (const move of moves) if (!stays.some((s) => s.address === move.from)) follow.set(move.from, move.to);
    const macros = list.map((x) => {
      const move = moves.find((mv) => mv.x === x);
      return move ? { ...x.m, address: model.formatAddress(move.to) } : x.m;
    });
    const keys = (incoming.keys || []).map((k) => {
      const code = model.parseCode(k.code);
      if (!code || code.kind !== 'macro' || !follow.has(code.address)) return k;
      return { ...k, code: model.formatCode({ kind: 'macro', address: follow.get(code.address) }) };
    });
    return { moves: moves.map(({ name, from, to }) => ({ name, from, to })), macros, keys };
  }

  // ---- the list on the pad ---------------------------------------------------------------------
  //
  //   0x00  2   "VM" (0x56 0x4d)       0x03  1   n, the number of entries (0-30)
  //   0x02  1   list version, 1        0x04  4n  entries: address (high, low), size (high, low)
  //   0x7e  2   checksum: the sum of bytes 0x00-0x7d, modulo 65536, little-endian; the rest 0

  const LIST_MAGIC = [0x56, 0x4d];

  /** The list's 128 bytes for entries [{ address, size }] (the first LIST_MAX of them). */
  function encodeList(entries) {
    const b = new Array(LIST.size).fill(0);
    [b[0], b[1]] = LIST_MAGIC;
    b[2] = 1;
    const n = Math.min(entries.length, LIST_MAX);
    b[3] = n;
    entries.slice(0, n).forEach((e, i) => {
      b.splice(4 + 4 * i, 4, e.address >> 8, e.address & 0xff, e.size >> 8, e.size & 0xff);
    });
    let sum = 0;
    for (let i = 0; i < 0x7e; i++) sum += b[i];
    b[0x7e] = sum & 0xff;
    b[0x7f] = (sum >> 8) & 0xff;
    return b;
  }

  /** The entries of a list read from a pad; [] for anything else (a pad vexa never listed on). */
  function decodeList(bytes) {
    if (!bytes || bytes.length < LIST.size || bytes[0] !== LIST_MAGIC[0] || bytes[1] !== LIST_MAGIC[1] || bytes[2] !== 1) return [];
    let sum = 0;
    for (let i = 0; i < 0x7e; i++) sum += bytes[i];
    if ((bytes[0x7e] | (bytes[0x7f] << 8)) !== (sum & 0xffff) || bytes[3] > LIST_MAX) return [];
    const entries = [];
    for (let i = 0; i < bytes[3]; i++) {
      const o = 4 + 4 * i;
      const e = { address: (bytes[o] << 8) | bytes[o + 1], size: (bytes[o + 2] << 8) | bytes[o + 3] };
      if (e.size >= 1 && e.size <= MACRO_MAX && e.address >= MACRO_AREA.start && e.address + e.size <= MACRO_AREA.end) entries.push(e);
    }
    return entries;
  }

  /**
   * What applying a profile's macros, writes [{ name, address, bytes }], to one pad takes, given
   * the layout (takenBy of the eight profiles) and read(address, size), which resolves with the
   * pad's bytes:
   *  - stray: the names of the macros where the pad holds bytes nothing accounts for: not zero,
   *    not the macro's own, not listed as vexa's, not the same bytes of a profile's macro there.
   *    Those are the user's (a take written from the Macros screen): replaced only after a question.
   *  - clears: [{ address, size }]: what vexa listed for macros that no profile holds any more
   *    (removed from their profile, or their profile deleted or replaced), to be zeroed now so
   *    that their place is free on this pad too.
   *  - list: the list after the apply; listed: whether the pad holds it already.
   */
  async function planApply(writes, taken, read) {
    const before = await read(LIST.address, LIST.size);
    const listed = decodeList(before);
    const macros = taken.filter((s) => s.macro !== undefined);
    const written = writes.map((w) => ({ address: w.address, size: w.bytes.length }));
    const inLayout = (e) => macros.concat(written).some((s) => s.address === e.address && s.size === e.size);
    const stray = [];
    for (const w of writes) {
      const bytes = await read(w.address, w.bytes.length);
      for (let i = 0; i < w.bytes.length; i++) {
        const b = bytes[i] || 0;
        const at = w.address + i;
        if (!b || b === w.bytes[i] || listed.some((e) => covers(e, at))) continue;
        if (macros.some((s) => s.bytes && covers(s, at) && s.bytes[at - s.address] === b)) continue;
        stray.push(w.name);
        break;
      }
    }
    const still = listed.filter(inLayout);
    const clears = [];
    for (const e of listed.filter((x) => !inLayout(x))) {
      let start = -1;
      for (let at = e.address; at <= e.address + e.size; at++) {
        const free = at < e.address + e.size && !still.concat(written).some((k) => covers(k, at));
        if (free && start < 0) start = at;
        if (!free && start >= 0) {
          clears.push({ address: start, size: at - start });
          start = -1;
        }
      }
    }
    const list = [];
    for (const e of written.concat(still)) if (!list.some((x) => x.address === e.address && x.size === e.size)) list.push(e);
    const bytes = encodeList(list);
    return { stray, clears, list, listed: bytes.every((b, i) => b === before[i]) };
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

  /**
   * What planApply found to do besides the macros: the freed stretches zeroed ("cleanMacroByAddr",
   * read back), and the list written when it changed. Resolves like writeAll.
   */
  async function settle(plan, pad, send) {
    for (const c of plan.clears) {
      const target = { HardwareID: pad.HardwareID, DevicePath: pad.DevicePath, PARAMADDRESS: hex(c.address), PARAMSIZE: c.size };
      const cleared = await send({ funcname: 'cleanMacroByAddr', ...target });
      const back = cleared.ok ? await send({ funcname: 'readByAddr', ...target }) : cleared;
      if (!back.ok || parseList(back.text).some((b) => b)) {
        return { ok: false, key: 'map.notCleared', values: { address: hex(c.address), reason: back.message || '' } };
      }
    }
    return { ok: true };
  }

  async function writeList(plan, pad, send) {
    if (plan.listed) return { ok: true };
    const put = await writeAll([{ name: '', address: LIST.address, bytes: encodeList(plan.list) }], pad, send);
    return put.ok ? put : { ok: false, key: 'map.listFailed', values: { address: hex(LIST.address) } };
  }

  /** The user's words for one taken stretch (t: vexa.i18n.t). */
  function describe(stretch, t) {
    if (stretch.block) return t('map.isBlock');
    if (stretch.list) return t('map.isList');
    return t('map.isMacro', { macro: stretch.macro, profile: stretch.profile });
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
        data: m.getAttribute('data') || '',
      }));
      out.push({ name: top.getAttribute('name'), place: i, macros });
    }
    return out;
  }

  /** takenBy() over the profiles as the program holds them now. */
  async function takenNow() {
    return takenBy(await profileMacros());
  }

  return {
    BLOCK, LIST, LIST_MAX, MACRO_AREA, MACRO_MAX, TAIL, keptBytes, takenBy, sameMacro, clashes, firstFit, place, placeNew, relocate,
    encodeList, decodeList, planApply, findBlank, writeAll, settle, writeList, describe, profileMacros, takenNow,
  };
});
