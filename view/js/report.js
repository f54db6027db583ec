// @ts-check
// The PX-ORB42's 8-byte report, as the pad picture reads it (the layout is in view/REPORTS.md
// and `padctl --help`):
//   bytes 0-1  buttons, one bit each, little-endian (bit 0 = byte 0's lowest bit)
//   bytes 2-5  left stick x, left stick y, right stick x, right stick y: 0 = left/up,
//              255 = right/down, 128 = centre
//   bytes 6-7  left trigger, right trigger: 0 = released, 255 = squeezed fully
(function (root, factory) {
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else (root.vexaModules ??= {}).report = api;
})(typeof window !== 'undefined' ? window : globalThis, () => {
  'use strict';

  /** The buttons in bit order; bit 15 is not used. */
  const BUTTONS = ['a', 'b', 'x', 'y', 'lb', 'rb', 'view', 'menu', 'ls', 'rs', 'up', 'down', 'left', 'right', 'home'];

  // A stick at rest reads 127 or 128 and wobbles by a count or two; within this much of the
  // centre it is drawn centred.
  const STICK_DEAD_ZONE = 2 / 128;

  function stickAxis(byte) {
    const value = (byte - 128) / (byte < 128 ? 128 : 127);
    return Math.abs(value) <= STICK_DEAD_ZONE ? 0 : value;
  }

  /**
   * "onDeviceData" text (16 hexadecimal digits) → { buttons: { a: bool, … }, pressed: [names],
   * sticks: { left: { x, y }, right: { x, y } } from -1 to 1, triggers: { left, right } from 0
   * to 1 }, or null for a text that is not a report.
   */
  function decodeReport(text) {
    if (typeof text !== 'string' || !/^[0-9a-fA-F]{16}$/.test(text)) return null;
    const b = [];
    for (let i = 0; i < 8; i++) b.push(parseInt(text.substr(2 * i, 2), 16));
    const mask = b[0] | (b[1] << 8);
    const buttons = {};
    const pressed = [];
    BUTTONS.forEach((name, bit) => {
      buttons[name] = (mask & (1 << bit)) !== 0;
      if (buttons[name]) pressed.push(name);
    });
    return {
      buttons,
      pressed,
      sticks: {
        left: { x: stickAxis(b[2]), y: stickAxis(b[3]) },
        right: { x: stickAxis(b[4]), y: stickAxis(b[5]) },
      },
      triggers: { left: b[6] / 255, right: b[7] / 255 },
    };
  }

  return { BUTTONS, decodeReport };
});
