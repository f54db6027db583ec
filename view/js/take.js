// @ts-check
// A recorded take is cut to what the user meant to record. The recorder hears every key on the
// desktop, this window's own included: the key that started the take (Enter on Record is let go
// after the capture began) and the key that stopped it (Esc, or Enter/Space on Stop) would
// otherwise end up in the macro, and so would the time spent going back to this window to stop
// it, which the pad would play as a long wait at the end.
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
   * the key that stopped the take from this window, or null. Cut: at the end, the stop key's
   * press and what followed it; anywhere, a press never released and a release never pressed (a
   * key held as the take began or as it was stopped, the Alt of an Alt+Tab back to this window);
   * and the pauses before the first key and after the last, which are the time spent getting to
   * the keys and back to this window. Pauses left side by side become one.
   */
  function trimTake(items, stopScan = null) {
    let out = items.slice();
    if (stopScan !== null) {
      const isStop = (item) => item.kind === 'key' && item.scan === stopScan && !item.ext;
      for (let i = out.length - 1; i >= 0; i--) {
        if (out[i].kind === 'pause' || (isStop(out[i]) && !out[i].down)) continue;
        if (isStop(out[i])) out.length = i;
        break;
      }
    }
    const paired = new Set();
    const open = [];
    out.forEach((item, i) => {
      if (item.kind !== 'key') return;
      if (item.down) { open.push(i); return; }
      let at = open.length - 1;
      while (at >= 0 && !(out[open[at]].scan === item.scan && out[open[at]].ext === item.ext)) at--;
      if (at < 0) return;
      paired.add(open[at]).add(i);
      open.splice(at, 1);
    });
    out = out.filter((item, i) => item.kind !== 'key' || paired.has(i));
    const merged = [];
    for (const item of out) {
      const last = merged[merged.length - 1];
      if (item.kind === 'pause' && (!last || last.kind === 'pause')) {
        if (last) merged[merged.length - 1] = { kind: 'pause', ms: last.ms + item.ms };
        continue; // nothing before the first key
      }
      merged.push(item);
    }
    while (merged.length && merged[merged.length - 1].kind === 'pause') merged.pop();
    return merged;
  }

  return { STOP_SCANS, trimTake };
});
