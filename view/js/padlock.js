// @ts-check
// One writer at a time per pad. A write to the pad's memory is a write, a read-back and a
// compare; another write landing between them (a mode switch while the Profiles screen applies,
// say) would make the compare fail or leave half of each on the pad. Everything that writes to a
// pad runs its write and read-back inside exclusive() for that pad; questions to the user stay
// outside, so a waiting question never holds up a switch.
(function (root, factory) {
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else (root.vexaModules ??= {}).padLock = api;
})(typeof window !== 'undefined' ? window : globalThis, () => {
  'use strict';

  const tails = new Map(); // pad key → the promise the next writer waits for

  /** The key a pad is locked by: its device path (what every write command names). */
  const padKey = (pad) => String(pad.DevicePath || pad.DeviceID || pad.HardwareID || '');

  /** Resolves, once every earlier writer of the pad has ended, with the function that ends this one. */
  function acquire(pad) {
    const key = padKey(pad);
    const before = tails.get(key) || Promise.resolve();
    let release;
    const mine = new Promise((resolve) => { release = resolve; });
    tails.set(key, mine);
    mine.then(() => { if (tails.get(key) === mine) tails.delete(key); });
    return before.then(() => release);
  }

  /** Runs fn() alone on the pad; resolves or rejects as fn does. */
  async function exclusive(pad, fn) {
    const release = await acquire(pad);
    try {
      return await fn();
    } finally {
      release();
    }
  }

  return { acquire, exclusive, padKey };
});
