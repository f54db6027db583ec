// @ts-check
// A recorded take is cut to what the user meant to record. The recorder hears every key on the
// desktop, this window's own included: the key that started the take (Enter on Record is let go
// after the capture began) and the key that stopped it (Esc, or Enter/Space on Stop) would
// otherwise end up in the macro.
(function (root, factory) {
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else (root.vexaModules ??= {}).take = api;
})(typeof window !== 'undefined' ? window : globalThis, () => {
  'use strict';

  /** Scan codes of the keys that stop a take from this window (Esc, Enter, Space). */
  const STOP_SCANS = { Escape: 0x01, Enter: 0x1c, ' ': 0x39 };

  /**
   * items: { kind: 'key', down, scan, ext } | { kind: 'pause', ms }. stopScan: the scan code of
   * the key that stopped the take from this window, or null. Leading releases of keys pressed
   * before the take and pauses before the first press are dropped; so are, at the end, the stop
   * key's press and release and every press never released (with the pauses around them).
   */
  function trimTake(items, stopScan = null) {
    const out = items.slice();
    const sameKey = (a, b) => a.scan === b.scan && a.ext === b.ext;
    // Front: up to the first press.
    while (out.length && !(out[0].kind === 'key' && out[0].down)) out.shift();
    // Back: one press of the stop key and what followed it (its release, pauses); then pauses
    // and presses that were never released.
    if (stopScan !== null) {
      const isStop = (item) => item.kind === 'key' && item.scan === stopScan && !item.ext;
      for (let i = out.length - 1; i >= 0; i--) {
        if (out[i].kind === 'pause' || (isStop(out[i]) && !out[i].down)) continue;
        if (isStop(out[i])) out.length = i;
        break;
      }
    }
    while (out.length && (out[out.length - 1].kind === 'pause' || out[out.length - 1].down)) out.pop();
    // A release whose press was dropped from the front has no meaning either.
    const held = [];
    return out.filter((item) => {
      if (item.kind !== 'key') return true;
      if (item.down) { held.push(item); return true; }
      const i = held.findIndex((h) => sameKey(h, item));
      if (i < 0) return false;
      held.splice(i, 1);
      return true;
    });
  }

  return { STOP_SCANS, trimTake };
});
