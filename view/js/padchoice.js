// @ts-check
// The rules of a pad picker on a screen that writes to a pad (Macros, Profiles, Pads). A picker
// never changes by itself: when the chosen pad leaves, another pad moving up into its place must
// not receive the next write (a "try again" after an unplug would land there). The chosen pad
// stays chosen, is shown as unplugged and refuses writes, naming it, until it comes back or the
// user chooses another. Where nobody has chosen yet, a PX-ORB42 is chosen before a pad of another
// product, whatever order the pads are listed in.
(function (root, factory) {
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else (root.vexaModules ??= {}).padChoice = api;
})(typeof window !== 'undefined' ? window : globalThis, () => {
  'use strict';

  const PRODUCT = 'PX-ORB42';

  /** A pad of the product this program is made for (the catalogue names it). */
  const isOurs = (pad) => Boolean(pad) && (pad.productName === PRODUCT || pad.device === PRODUCT);

  /**
   * The pad as people tell pads apart, the same on every screen: its name and serial
   * ("PX-ORB42 · PX4272…"); unknownName for a pad the catalogue does not know.
   */
  function padLabel(pad, unknownName = 'Pad') {
    return `${pad.productName || pad.device || unknownName} · ${pad.SN || pad.DeviceID}`;
  }

  /** The pad a picker takes when nobody has chosen: the first PX-ORB42, else the first pad. */
  const firstChoice = (pads) => pads.find(isOurs) || pads[0] || null;

  /**
   * The choice after a new pad list. chosen: the pad chosen before (null before the first list).
   * Only a picker that never had a pad chooses by itself.
   * → { pad: the chosen pad (its latest facts while connected) or null, connected }
   */
  function choose(chosen, pads) {
    if (!chosen) return { pad: firstChoice(pads), connected: pads.length > 0 };
    const now = pads.find((p) => p.DeviceID === chosen.DeviceID);
    return now ? { pad: now, connected: true } : { pad: chosen, connected: false };
  }

  /**
   * Whether a write may go to the choice: { pad } or { refusal: { key, values } } naming the pad.
   */
  function writeTarget(choice, unknownName) {
    if (!choice || !choice.pad) return { refusal: { key: 'pads.in.noPad', values: {} } };
    if (!choice.connected) return { refusal: { key: 'pads.unplugged', values: { pad: padLabel(choice.pad, unknownName) } } };
    return { pad: choice.pad };
  }

  return { PRODUCT, isOurs, padLabel, firstChoice, choose, writeTarget };
});
