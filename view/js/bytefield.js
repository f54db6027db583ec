// @ts-check
// What a person types into a raw write form, checked before anything goes to the pad: the pad's
// commands cut a byte list to the size they are given and fill a short one with zeros, so a
// mismatch here would reach the pad without a word.
(function (root, factory) {
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else (root.vexaModules ??= {}).bytefield = api;
})(typeof window !== 'undefined' ? window : globalThis, () => {
  'use strict';

  /** The most one command moves to or from the pad. */
  const BUFFER_SIZE = 2048;

  /** A wrong field: key and values name the text shown to the user. */
  class InputError extends Error {
    constructor(key, values = {}) {
      super(key);
      this.key = key;
      this.values = values;
    }
  }

  /** "10 20 ff", "0x10,0x20", "1020ff" → [16, 32, 255]. */
  function parseBytes(text) {
    const trimmed = String(text).trim();
    if (trimmed === '') return [];
    let items = trimmed.split(/[\s,]+/).filter(Boolean);
    if (items.length === 1 && /^[0-9a-f]+$/i.test(items[0]) && items[0].length > 2) {
      if (items[0].length % 2) throw new InputError('pads.in.even');
      items = items[0].match(/../g);
    }
    return items.map((item, i) => {
      if (!/^(0x)?[0-9a-f]{1,2}$/i.test(item)) throw new InputError('pads.in.byte', { i: i + 1, item });
      return parseInt(item.replace(/^0x/i, ''), 16);
    });
  }

  function byteList(bytes) {
    return bytes.map((b) => '0x' + b.toString(16).padStart(2, '0')).join(',');
  }

  /** A size to read: a whole number from 0 to BUFFER_SIZE. */
  function parseSize(text) {
    const s = String(text).trim();
    if (!/^\d+$/.test(s)) throw new InputError('pads.in.size');
    const n = Number(s);
    if (n > BUFFER_SIZE) throw new InputError('pads.in.sizeMax', { max: BUFFER_SIZE });
    return n;
  }

  function parseAddress(text) {
    const s = String(text).trim().replace(/^0x/i, '');
    if (!/^[0-9a-f]{1,8}$/i.test(s)) throw new InputError('pads.in.address');
    return s.toLowerCase();
  }

  function parseInteger(text, what) {
    const s = String(text).trim();
    if (!/^\d+$/.test(s)) throw new InputError('pads.in.whole', { what });
    return Number(s);
  }

  /**
   * The bytes of a write and their size. An empty size field means "as many as typed"; a size
   * that differs from what was typed, an empty byte field and more than BUFFER_SIZE bytes are
   * refused rather than cut down or filled up.
   */
  function writeRequest(sizeText, dataText) {
    const bytes = parseBytes(dataText);
    if (bytes.length === 0) throw new InputError('pads.in.noBytes');
    if (bytes.length > BUFFER_SIZE) throw new InputError('pads.in.tooMany', { n: bytes.length, max: BUFFER_SIZE });
    const sizeField = String(sizeText).trim();
    const size = sizeField === '' ? bytes.length : parseSize(sizeField);
    if (size !== bytes.length) throw new InputError('pads.in.mismatch', { size, n: bytes.length });
    return { size, bytes, data: byteList(bytes) };
  }

  /** The read-back reply (a byte list) against what was written: the first differing byte or -1. */
  function firstDifference(written, replyText) {
    const read = replyText ? String(replyText).split(',').map((b) => parseInt(b, 16)) : [];
    for (let i = 0; i < written.length; i++) if (read[i] !== written[i]) return i;
    return read.length === written.length ? -1 : written.length;
  }

  return { BUFFER_SIZE, InputError, parseBytes, byteList, parseSize, parseAddress, parseInteger, writeRequest, firstDifference };
});
