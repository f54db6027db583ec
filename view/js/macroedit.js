// @ts-check
// A take as macro bytes, and the edits a person makes to it before it goes to the pad.
//
// Macro bytes on the pad (this page's own layout; the pad's memory is otherwise free-form):
//   0x01 S F   key down, S = set-1 scan code, F bit 0 = extended (E0) key
//   0x02 S F   key up
//   0x03 L H   pause of H*256+L milliseconds (longer pauses take several records; 0 ms is left out)
//   0x00       end of the macro, so a blank stretch of memory reads as an empty macro
// Every record is three bytes; the end marker is one.
//
// Items: { kind: 'key', down, scan, ext } | { kind: 'pause', ms }. Every edit returns a new list
// and leaves a list in which each press is released once, after it (a macro that holds a key
// down forever would leave the key stuck on the user's machine).
(function (root, factory) {
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else (root.vexaModules ??= {}).macroedit = api;
})(typeof window !== 'undefined' ? window : globalThis, () => {
  'use strict';

  /** The largest macro, end marker included: what one memory command moves. */
  const MACRO_LIMIT = 2048;
  const MAX_PAUSE = 0xffff;
  /** The longest pause a person may type for one item. */
  const MAX_PAUSE_EDIT = 600000;
  const REC_DOWN = 0x01;
  const REC_UP = 0x02;
  const REC_PAUSE = 0x03;

  function encode(items) {
    const bytes = [];
    for (const item of items) {
      if (item.kind === 'key') {
        bytes.push(item.down ? REC_DOWN : REC_UP, item.scan & 0xff, item.ext ? 1 : 0);
      } else {
        let ms = Math.max(0, Math.round(item.ms));
        while (ms > 0) {
          const part = Math.min(ms, MAX_PAUSE);
          bytes.push(REC_PAUSE, part & 0xff, part >> 8);
          ms -= part;
        }
      }
    }
    bytes.push(0x00);
    return bytes;
  }

  const sameKey = (a, b) => a.scan === b.scan && a.ext === b.ext;

  /** The index of the item that pairs with the key item at i (its release or press), or -1. */
  function partner(items, i) {
    const item = items[i];
    if (!item || item.kind !== 'key') return -1;
    let depth = 0;
    if (item.down) {
      for (let j = i + 1; j < items.length; j++) {
        const o = items[j];
        if (o.kind !== 'key' || !sameKey(o, item)) continue;
        if (o.down) depth++;
        else if (depth-- === 0) return j;
      }
    } else {
      for (let j = i - 1; j >= 0; j--) {
        const o = items[j];
        if (o.kind !== 'key' || !sameKey(o, item)) continue;
        if (!o.down) depth++;
        else if (depth-- === 0) return j;
      }
    }
    return -1;
  }

  /** Each press released after it, no release without its press. */
  function wellFormed(items) {
    const held = [];
    for (const item of items) {
      if (item.kind !== 'key') continue;
      if (item.down) { held.push(item); continue; }
      const k = held.findIndex((h) => sameKey(h, item));
      if (k < 0) return false;
      held.splice(k, 1);
    }
    return held.length === 0;
  }

  /** Deletes item i; a key press or release takes its partner with it. */
  function removeItem(items, i) {
    if (i < 0 || i >= items.length) return items;
    const j = partner(items, i);
    return items.filter((_, k) => k !== i && k !== j);
  }

  /** A pause of ms milliseconds (a whole number from 1 to MAX_PAUSE_EDIT); null when ms is not one. */
  function parsePause(text) {
    const s = String(text).trim();
    if (!/^\d+$/.test(s)) return null;
    const ms = Number(s);
    return ms >= 1 && ms <= MAX_PAUSE_EDIT ? ms : null;
  }

  function setPause(items, i, ms) {
    if (!items[i] || items[i].kind !== 'pause') return items;
    return items.map((item, k) => (k === i ? { kind: 'pause', ms } : item));
  }

  /** Moves item i one place up (delta -1) or down (+1); a move that would release a key before its press is not made. */
  function moveItem(items, i, delta) {
    const j = i + delta;
    if (i < 0 || i >= items.length || j < 0 || j >= items.length) return items;
    const out = items.slice();
    [out[i], out[j]] = [out[j], out[i]];
    return wellFormed(out) ? out : items;
  }

  return { MACRO_LIMIT, MAX_PAUSE_EDIT, encode, partner, wellFormed, removeItem, parsePause, setPause, moveItem };
});
