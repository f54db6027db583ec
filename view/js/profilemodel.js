// @ts-check
// What a profile may hold (view/PROFILES.md) as plain functions: the checks the Profiles screen
// runs before anything goes to the program, the key codes read and written, and the names of the
// eight places. Nothing here touches the page; a refusal is { key, values } for vexa.i18n.t().
(function (root, factory) {
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else (root.vexaModules ??= {}).profilemodel = api;
})(typeof window !== 'undefined' ? window : globalThis, () => {
  'use strict';

  const PLACES = 8;
  const NAME_MAX = 40;
  const MACRO_NAME_MAX = 32;
  const MACRO_SIZE_MAX = 2048;
  const MEMORY_END = 0x10000;
  const PROFILE_BLOCK = { address: 0x0100, size: 0x80 };

  /** The whole-number values: element, attribute, smallest, largest. */
  const NUMBERS = {
    speed: { element: 'mouse', min: 1, max: 20 },
    scrollLines: { element: 'mouse', min: 1, max: 20 },
    doubleClick: { element: 'mouse', min: 0, max: 11 },
    brightness: { element: 'lighting', min: 0, max: 100 },
    deadzone: { element: 'stick', min: 0, max: 30 },
  };
  const CHOICES = {
    effect: { element: 'lighting', values: ['off', 'static', 'breathing', 'wave'] },
    curve: { element: 'stick', values: ['linear', 'smooth', 'aggressive'] },
    invertY: { element: 'stick', values: ['true', 'false'] },
  };

  /** The buttons in key id order (id = index + 1), as the report names them. */
  const BUTTONS = ['A', 'B', 'X', 'Y', 'LB', 'RB', 'View', 'Menu', 'LS', 'RS', 'Up', 'Down', 'Left', 'Right', 'Home'];

  const TYPE = { own: 0x00, button: 0x01, key: 0x02, mouse: 0x03, macro: 0x04, nothing: 0xff };
  const KIND_OF_TYPE = Object.fromEntries(Object.entries(TYPE).map(([k, v]) => [v, k]));
  const MODIFIERS = { ctrl: 1, shift: 2, alt: 4, super: 8 };

  const refuse = (key, values) => ({ key, values });
  // eslint-disable-next-line no-control-regex
  const CONTROL = /[\u0000-\u001f\u007f]/;

  /** A whole number within the field's range → null, else the reason. */
  function checkNumber(field, text) {
    const rule = NUMBERS[field];
    const s = String(text).trim();
    const n = /^\d+$/.test(s) ? Number(s) : NaN;
    return n >= rule.min && n <= rule.max ? null : refuse('prof.bad.range', { min: rule.min, max: rule.max });
  }

  function checkChoice(field, text) {
    return CHOICES[field].values.includes(String(text)) ? null : refuse('prof.bad.choice');
  }

  function checkColor(text) {
    return /^#[0-9a-fA-F]{6}$/.test(String(text)) ? null : refuse('prof.bad.color');
  }

  /** A value of one of the attributes of mouse, lighting or stick. */
  function checkValue(field, text) {
    if (NUMBERS[field]) return checkNumber(field, text);
    if (CHOICES[field]) return checkChoice(field, text);
    if (field === 'color') return checkColor(text);
    return refuse('prof.bad.choice');
  }

  /** Double-click step (0 slowest) → milliseconds. */
  const doubleClickMs = (step) => 970 - 70 * step;

  /**
   * Milliseconds as a person types them → the nearest step, or the reason: whole milliseconds
   * between the shortest and the longest time the steps give.
   */
  function doubleClickStep(text) {
    const s = String(text).trim();
    const ms = /^\d+$/.test(s) ? Number(s) : NaN;
    const { min, max } = NUMBERS.doubleClick;
    const [shortest, longest] = [doubleClickMs(max), doubleClickMs(min)];
    if (!(ms >= shortest && ms <= longest)) return { error: refuse('prof.bad.range', { min: shortest, max: longest }) };
    return { step: String(Math.round((longest - ms) / 70)) };
  }

  /**
   * A profile's name: 1 to 40 characters, no control characters, and none of the other places'
   * names (compared without case and surrounding spaces: "Race" and "race " are one name to a person).
   */
  function checkName(name, otherNames = []) {
    const s = String(name);
    const length = Array.from(s.trim()).length;
    if (!length) return refuse('prof.bad.nameEmpty');
    if (Array.from(s).length > NAME_MAX) return refuse('prof.bad.nameLong', { max: NAME_MAX });
    if (CONTROL.test(s)) return refuse('prof.bad.nameControl');
    const folded = s.trim().toLowerCase();
    if (otherNames.some((o) => String(o).trim().toLowerCase() === folded)) return refuse('prof.bad.nameTaken');
    return null;
  }

  /** The first place (0-based) whose name is empty, or -1 when all eight are in use. */
  function firstFreePlace(names) {
    for (let i = 0; i < PLACES; i++) if (!String(names[i] || '').trim()) return i;
    return -1;
  }

  /** "<name> (copy)", or "<name> (copy 2)" and on while that is taken; cut to fit 40 characters. */
  function copyName(name, taken) {
    const folded = taken.map((n) => String(n).trim().toLowerCase());
    for (let k = 1; ; k++) {
      const suffix = k === 1 ? ' (copy)' : ` (copy ${k})`;
      const base = Array.from(String(name).trim()).slice(0, NAME_MAX - suffix.length).join('');
      const candidate = base + suffix;
      if (!folded.includes(candidate.toLowerCase())) return candidate;
    }
  }

  // ---- addresses and macros ----------------------------------------------------------------

  /** "0x1f00", "1f00" or "#1f00" → number, or NaN. */
  function parseAddress(text) {
    const s = String(text).trim().replace(/^(0x|#)/i, '');
    return /^[0-9a-fA-F]{1,4}$/.test(s) ? parseInt(s, 16) : NaN;
  }

  const formatAddress = (n) => `0x${n.toString(16).padStart(4, '0')}`;

  /**
   * A macro { name, address, size } (texts as typed) against the profile's other macros →
   * { field, key, values } naming the field at fault, or null.
   */
  function checkMacro(macro, others = []) {
    const name = String(macro.name);
    if (!name.trim()) return { field: 'name', ...refuse('prof.bad.macroName', { max: MACRO_NAME_MAX }) };
    if (Array.from(name).length > MACRO_NAME_MAX || CONTROL.test(name)) {
      return { field: 'name', ...refuse('prof.bad.macroName', { max: MACRO_NAME_MAX }) };
    }
    const address = parseAddress(macro.address);
    if (Number.isNaN(address)) return { field: 'address', ...refuse('prof.bad.address') };
    const sizeText = String(macro.size).trim();
    const size = /^\d+$/.test(sizeText) ? Number(sizeText) : NaN;
    if (!(size >= 1 && size <= MACRO_SIZE_MAX)) return { field: 'size', ...refuse('prof.bad.macroSize', { max: MACRO_SIZE_MAX }) };
    if (address + size > MEMORY_END) return { field: 'size', ...refuse('prof.bad.macroEnd') };
    const overlaps = (a, n) => address < a + n && a < address + size;
    if (overlaps(PROFILE_BLOCK.address, PROFILE_BLOCK.size)) return { field: 'address', ...refuse('prof.bad.macroBlock') };
    const hit = others.find((o) => overlaps(parseAddress(o.address), Number(o.size)));
    if (hit) return { field: 'address', ...refuse('prof.bad.macroOverlap', { name: hit.name }) };
    return null;
  }

  // ---- key codes ---------------------------------------------------------------------------

  /**
   * "0x02,0x05,0x1e,0x00" → { kind, ... } where kind is own | button | key | mouse | macro |
   * nothing: button { button (0-14) }, key { mods, scan, ext }, mouse { mouse (1-5) }, macro
   * { address }. A missing code is the button's own function; anything unreadable is null.
   */
  function parseCode(text) {
    if (text === undefined || text === null || String(text).trim() === '') return { kind: 'own' };
    const parts = String(text).split(',').map((p) => p.trim());
    if (parts.length !== 4 || !parts.every((p) => /^0x[0-9a-fA-F]{1,2}$/.test(p))) return null;
    const [type, a, b, c] = parts.map((p) => parseInt(p, 16));
    const kind = KIND_OF_TYPE[type];
    switch (kind) {
      case 'own': case 'nothing': return { kind };
      case 'button': return a <= 14 ? { kind, button: a } : null;
      case 'key': return a <= 15 && b > 0 && c <= 1 ? { kind, mods: a, scan: b, ext: c === 1 } : null;
      case 'mouse': return a >= 1 && a <= 5 ? { kind, mouse: a } : null;
      case 'macro': return { kind, address: (a << 8) | b };
      default: return null;
    }
  }

  /** The inverse of parseCode: the four bytes as the file writes them. */
  function formatCode(code) {
    let bytes;
    switch (code.kind) {
      case 'button': bytes = [TYPE.button, code.button, 0, 0]; break;
      case 'key': bytes = [TYPE.key, code.mods, code.scan, code.ext ? 1 : 0]; break;
      case 'mouse': bytes = [TYPE.mouse, code.mouse, 0, 0]; break;
      case 'macro': bytes = [TYPE.macro, (code.address >> 8) & 0xff, code.address & 0xff, 0]; break;
      case 'nothing': bytes = [TYPE.nothing, 0, 0, 0]; break;
      default: bytes = [TYPE.own, 0, 0, 0];
    }
    return bytes.map((b) => `0x${b.toString(16).padStart(2, '0')}`).join(',');
  }

  /** Modifier bits → names in the order people say them ("Ctrl", "Shift", "Alt", "Super"). */
  function modifierNames(mods) {
    /** @type {[string, number][]} */
    const bits = [['Ctrl', 1], ['Shift', 2], ['Alt', 4], ['Super', 8]];
    return bits.filter(([, bit]) => mods & bit).map(([n]) => n);
  }

  // KeyboardEvent.code → set-1 scan code (ext: sent with E0), as the macro recorder writes them.
  const SCANS = {
    Escape: 0x01, Digit1: 0x02, Digit2: 0x03, Digit3: 0x04, Digit4: 0x05, Digit5: 0x06, Digit6: 0x07,
    Digit7: 0x08, Digit8: 0x09, Digit9: 0x0a, Digit0: 0x0b, Minus: 0x0c, Equal: 0x0d, Backspace: 0x0e,
    Tab: 0x0f, KeyQ: 0x10, KeyW: 0x11, KeyE: 0x12, KeyR: 0x13, KeyT: 0x14, KeyY: 0x15, KeyU: 0x16,
    KeyI: 0x17, KeyO: 0x18, KeyP: 0x19, BracketLeft: 0x1a, BracketRight: 0x1b, Enter: 0x1c,
    KeyA: 0x1e, KeyS: 0x1f, KeyD: 0x20, KeyF: 0x21, KeyG: 0x22, KeyH: 0x23, KeyJ: 0x24, KeyK: 0x25,
    KeyL: 0x26, Semicolon: 0x27, Quote: 0x28, Backquote: 0x29, Backslash: 0x2b, KeyZ: 0x2c,
    KeyX: 0x2d, KeyC: 0x2e, KeyV: 0x2f, KeyB: 0x30, KeyN: 0x31, KeyM: 0x32, Comma: 0x33, Period: 0x34,
    Slash: 0x35, NumpadMultiply: 0x37, Space: 0x39, CapsLock: 0x3a, F1: 0x3b, F2: 0x3c, F3: 0x3d,
    F4: 0x3e, F5: 0x3f, F6: 0x40, F7: 0x41, F8: 0x42, F9: 0x43, F10: 0x44, Pause: 0x45,
    ScrollLock: 0x46, Numpad7: 0x47, Numpad8: 0x48, Numpad9: 0x49, NumpadSubtract: 0x4a,
    Numpad4: 0x4b, Numpad5: 0x4c, Numpad6: 0x4d, NumpadAdd: 0x4e, Numpad1: 0x4f, Numpad2: 0x50,
    Numpad3: 0x51, Numpad0: 0x52, NumpadDecimal: 0x53, IntlBackslash: 0x56, F11: 0x57, F12: 0x58,
  };
  const EXTENDED_SCANS = {
    NumpadEnter: 0x1c, NumpadDivide: 0x35, PrintScreen: 0x37, NumLock: 0x45, Home: 0x47,
    ArrowUp: 0x48, PageUp: 0x49, ArrowLeft: 0x4b, ArrowRight: 0x4d, End: 0x4f, ArrowDown: 0x50,
    PageDown: 0x51, Insert: 0x52, Delete: 0x53, ContextMenu: 0x5d,
  };
  const MODIFIER_CODES = {
    ControlLeft: 'ctrl', ControlRight: 'ctrl', ShiftLeft: 'shift', ShiftRight: 'shift',
    AltLeft: 'alt', AltRight: 'alt', MetaLeft: 'super', MetaRight: 'super', OSLeft: 'super', OSRight: 'super',
  };

  /**
   * A key press as a keyboard-key code: { kind: 'key', mods, scan, ext } from a KeyboardEvent's
   * code and modifier flags; null for a lone modifier (the user is still holding the combination)
   * or a key without a set-1 code.
   */
  function codeFromKeyEvent(event) {
    if (MODIFIER_CODES[event.code]) return null;
    const ext = event.code in EXTENDED_SCANS;
    const scan = ext ? EXTENDED_SCANS[event.code] : SCANS[event.code];
    if (!scan) return null;
    const mods = (event.ctrlKey ? MODIFIERS.ctrl : 0) | (event.shiftKey ? MODIFIERS.shift : 0)
      | (event.altKey ? MODIFIERS.alt : 0) | (event.metaKey ? MODIFIERS.super : 0);
    return { kind: 'key', mods, scan, ext };
  }

  /** Every key that can be chosen from a list: { scan, ext } in set-1 order, plain keys first. */
  function choosableKeys() {
    const plain = Object.values(SCANS).sort((a, b) => a - b).map((scan) => ({ scan, ext: false }));
    const extended = Object.values(EXTENDED_SCANS).sort((a, b) => a - b).map((scan) => ({ scan, ext: true }));
    return plain.concat(extended);
  }

  /** The ids (1-15) of the keys whose code plays the macro at address. */
  function buttonsPlaying(keys, address) {
    return keys.filter((k) => {
      const code = parseCode(k.code);
      return code && code.kind === 'macro' && code.address === address;
    }).map((k) => Number(k.id));
  }

  return {
    PLACES, NAME_MAX, NUMBERS, CHOICES, BUTTONS, MODIFIERS, PROFILE_BLOCK,
    checkNumber, checkColor, checkValue, checkName, checkMacro, doubleClickMs, doubleClickStep,
    firstFreePlace, copyName, parseAddress, formatAddress,
    parseCode, formatCode, modifierNames, codeFromKeyEvent, choosableKeys, buttonsPlaying,
  };
});
