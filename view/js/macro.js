// The Macros screen: record keys with "startRecord"/"stopRecord", watch the "macroItem" events
// arrive, and write the recording into a pad's memory with "writeMacroByAddr".
//
// Macro bytes on the pad (this page's own layout; the pad's memory is otherwise free-form):
//   0x01 S F   key down, S = set-1 scan code, F bit 0 = extended (E0) key
//   0x02 S F   key up
//   0x03 L H   pause of H*256+L milliseconds (longer pauses take several records; 0 ms is left out)
//   0x00       end of the macro, so a blank stretch of memory reads as an empty macro
// Every record is three bytes; the end marker is one.

(function (vexa) {
  'use strict';

  const { el, paced } = vexa.util;
  const { query } = vexa.bridge;
  const { t } = vexa.i18n;
  const { failureMessage } = vexa.messages;
  const { trimTake, STOP_SCANS } = vexa.take;

  const BUFFER_SIZE = 2048;
  const REC_DOWN = 0x01;
  const REC_UP = 0x02;
  const REC_PAUSE = 0x03;
  const MAX_PAUSE = 0xffff;
  const DRAW_INTERVAL_MS = 100;

  // Key names for the list, by set-1 code; the second table holds the E0 (extended) keys.
  const KEY_NAMES = {
    0x01: 'Esc', 0x02: '1', 0x03: '2', 0x04: '3', 0x05: '4', 0x06: '5', 0x07: '6', 0x08: '7', 0x09: '8',
    0x0a: '9', 0x0b: '0', 0x0c: '-', 0x0d: '=', 0x0e: 'Backspace', 0x0f: 'Tab', 0x10: 'Q', 0x11: 'W',
    0x12: 'E', 0x13: 'R', 0x14: 'T', 0x15: 'Y', 0x16: 'U', 0x17: 'I', 0x18: 'O', 0x19: 'P', 0x1a: '[',
    0x1b: ']', 0x1c: 'Enter', 0x1d: 'Ctrl', 0x1e: 'A', 0x1f: 'S', 0x20: 'D', 0x21: 'F', 0x22: 'G',
    0x23: 'H', 0x24: 'J', 0x25: 'K', 0x26: 'L', 0x27: ';', 0x28: "'", 0x29: '`', 0x2a: 'Shift',
    0x2b: '\\', 0x2c: 'Z', 0x2d: 'X', 0x2e: 'C', 0x2f: 'V', 0x30: 'B', 0x31: 'N', 0x32: 'M', 0x33: ',',
    0x34: '.', 0x35: '/', 0x36: 'Right Shift', 0x37: 'Num *', 0x38: 'Alt', 0x39: 'Space', 0x3a: 'Caps Lock',
    0x3b: 'F1', 0x3c: 'F2', 0x3d: 'F3', 0x3e: 'F4', 0x3f: 'F5', 0x40: 'F6', 0x41: 'F7', 0x42: 'F8',
    0x43: 'F9', 0x44: 'F10', 0x45: 'Pause', 0x46: 'Scroll Lock', 0x47: 'Num 7', 0x48: 'Num 8',
    0x49: 'Num 9', 0x4a: 'Num -', 0x4b: 'Num 4', 0x4c: 'Num 5', 0x4d: 'Num 6', 0x4e: 'Num +',
    0x4f: 'Num 1', 0x50: 'Num 2', 0x51: 'Num 3', 0x52: 'Num 0', 0x53: 'Num .', 0x56: '\\ (ISO)',
    0x57: 'F11', 0x58: 'F12',
  };
  const EXTENDED_KEY_NAMES = {
    0x1c: 'Num Enter', 0x1d: 'Right Ctrl', 0x35: 'Num /', 0x37: 'Print Screen', 0x38: 'Right Alt',
    0x45: 'Num Lock', 0x47: 'Home', 0x48: 'Up', 0x49: 'Page Up', 0x4b: 'Left', 0x4d: 'Right',
    0x4f: 'End', 0x50: 'Down', 0x51: 'Page Down', 0x52: 'Insert', 0x53: 'Delete', 0x5b: 'Left Win',
    0x5c: 'Right Win', 0x5d: 'Menu',
  };

  const state = {
    recording: false,
    busy: false,
    items: [],            // { kind: 'key', down, scan, ext } | { kind: 'pause', ms }
    pads: [],
    drawnCount: 0,
  };

  let root = null;
  const $ = (id) => root.querySelector('#' + id);

  // ---- items and bytes -------------------------------------------------------------------

  /** The four texts of a "macroItem" event → an item; null for anything malformed. */
  function parseItem(values) {
    if (!Array.isArray(values) || values.length < 4) return null;
    const [kind, a, b, c] = values.map((v) => String(v));
    const number = (text) => (/^\d+$/.test(text) ? Number(text) : NaN);
    if (kind === '2') {
      const ms = number(a);
      return Number.isFinite(ms) ? { kind: 'pause', ms } : null;
    }
    if (kind === '0') {
      const scan = number(b);
      if (!Number.isFinite(scan) || scan > 0xff || (a !== '0' && a !== '1')) return null;
      return { kind: 'key', down: a === '1', scan, ext: c === '1' };
    }
    return null;
  }

  function keyName(scan, ext) {
    const name = ext ? EXTENDED_KEY_NAMES[scan] : KEY_NAMES[scan];
    return name || `Key 0x${scan.toString(16).padStart(2, '0')}${ext ? ' (E0)' : ''}`;
  }

  /** Items → macro bytes, ending with the end marker. */
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

  function byteList(bytes) {
    return bytes.map((b) => '0x' + b.toString(16).padStart(2, '0')).join(',');
  }

  // ---- drawing ---------------------------------------------------------------------------

  function itemRow(item, index) {
    if (item.kind === 'pause') {
      return el('li', { className: 'macro-item macro-pause', dataset: { index: String(index) } }, [
        el('span', { className: 'macro-glyph', text: '…', attrs: { 'aria-hidden': 'true' } }),
        el('span', { className: 'macro-text', text: t('macro.ms', { n: item.ms }) }),
      ]);
    }
    return el('li', {
      className: 'macro-item macro-key',
      dataset: { index: String(index), down: item.down ? '1' : '0', scan: String(item.scan), ext: item.ext ? '1' : '0' },
    }, [
      el('span', { className: 'macro-glyph', text: item.down ? '↓' : '↑', attrs: { 'aria-hidden': 'true' } }),
      el('span', { className: 'macro-text', text: t(item.down ? 'macro.down' : 'macro.up', { key: keyName(item.scan, item.ext) }) }),
      el('span', { className: 'macro-code mono', text: `${item.ext ? 'E0 ' : ''}${item.scan.toString(16).padStart(2, '0')}` }),
    ]);
  }

  function draw() {
    const list = $('macro-items');
    if (state.drawnCount > state.items.length) {
      list.replaceChildren();
      state.drawnCount = 0;
    }
    const rows = [];
    for (let i = state.drawnCount; i < state.items.length; i++) rows.push(itemRow(state.items[i], i));
    if (rows.length) list.append(...rows);
    state.drawnCount = state.items.length;
    if (rows.length) list.lastElementChild.scrollIntoView({ block: 'nearest' });

    const keys = state.items.filter((i) => i.kind === 'key').length;
    const bytes = encode(state.items);
    $('macro-empty').hidden = state.items.length > 0;
    $('macro-meta').textContent = state.items.length
      ? t('macro.meta', { keys, bytes: bytes.length }) : t('macro.nothing');
    $('macro-bytes').textContent = keys === 0 ? t('macro.recordFirst')
      : byteList(bytes.slice(0, 48)).replace(/0x/g, '').replace(/,/g, ' ') + (bytes.length > 48 ? ' …' : '');
    const tooBig = bytes.length > BUFFER_SIZE;
    $('macro-size-warning').hidden = !tooBig;

    $('macro-record').disabled = state.recording || state.busy;
    $('macro-stop').disabled = !state.recording || state.busy;
    $('macro-clear').disabled = state.recording || state.items.length === 0;
    $('macro-write').disabled = state.recording || state.busy || keys === 0 || tooBig || !selectedPad();
    root.dataset.recording = state.recording ? 'true' : 'false';
    $('macro-state').textContent = t(state.recording ? 'macro.recording' : 'macro.idle');
    $('macro-state').title = $('macro-state').textContent;
  }

  let scheduleDraw = () => {}; // paced draw, set up at start

  function setResult(tone, text) {
    const box = $('macro-result');
    box.dataset.tone = tone;
    box.textContent = text;
    box.hidden = !text;
  }

  // ---- recording -------------------------------------------------------------------------

  // The outcome of one command; a failure carries the user's text in .message.
  async function command(funcname, extra = {}) {
    const request = { funcname, ...extra };
    const outcome = await query(request, { timeoutMs: 5000 });
    if (outcome.pending) outcome.cancel();
    if (outcome.ok) return outcome;
    return { ok: false, message: failureMessage(request, outcome) };
  }

  async function startRecording() {
    state.busy = true;
    state.items = [];
    setResult('', '');
    draw();
    try {
      const outcome = await command('startRecord');
      if (outcome.ok) state.recording = true;
      else setResult('bad', outcome.message);
    } finally {
      state.busy = false;
      draw();
    }
    // Stop takes the focus, so Enter or Space (or Esc anywhere in the window) ends the take.
    if (state.recording) $('macro-stop').focus();
  }

  // stopKey: the key of this window that stopped the take ('Escape', 'Enter', ' '), or null.
  async function stopRecording(stopKey = null) {
    if (!state.recording || state.busy) return;
    state.busy = true;
    draw();
    try {
      const outcome = await command('stopRecord');
      if (!outcome.ok) setResult('bad', outcome.message);
      // Whatever the answer, this page takes no more items.
      state.recording = false;
      const stopScan = stopKey && STOP_SCANS[stopKey] !== undefined ? STOP_SCANS[stopKey] : null;
      state.items = trimTake(state.items, stopScan);
    } finally {
      state.busy = false;
      draw();
    }
    $('macro-record').focus();
  }

  function onMacroItem(values) {
    if (!state.recording) return;
    const item = parseItem(values);
    if (!item) return;
    state.items.push(item);
    scheduleDraw();
  }

  // ---- writing ---------------------------------------------------------------------------

  function selectedPad() {
    const id = $('macro-pad').value;
    return state.pads.find((p) => p.DeviceID === id) || null;
  }

  async function loadPads() {
    const outcome = await command('getDevicesList');
    let pads = [];
    if (outcome.ok) {
      try { pads = JSON.parse(outcome.text); } catch (_) { pads = []; }
      if (!Array.isArray(pads)) pads = [];
    }
    state.pads = pads;
    const select = $('macro-pad');
    const previous = select.value;
    select.replaceChildren(...pads.map((p) => el('option', {
      text: `${p.productName || p.device || t('macro.pad')} · ${p.SN || p.DeviceID}`,
      attrs: { value: p.DeviceID },
    })));
    if (pads.some((p) => p.DeviceID === previous)) select.value = previous;
    $('macro-no-pad').hidden = pads.length > 0;
    draw();
  }

  function readAddress() {
    const t = $('macro-address').value.trim().replace(/^0x/i, '');
    if (!/^[0-9a-f]{1,8}$/i.test(t)) throw new Error(t('pads.in.address'));
    return t.toLowerCase();
  }

  async function writeMacro(clearFirst) {
    const pad = selectedPad();
    if (!pad) return;
    let address;
    try { address = readAddress(); } catch (err) { setResult('bad', err.message); return; }
    const bytes = encode(state.items);
    const target = { HardwareID: pad.HardwareID, DevicePath: pad.DevicePath, PARAMADDRESS: address, PARAMSIZE: bytes.length };
    state.busy = true;
    $('macro-overwrite').hidden = true;
    setResult('busy', t(clearFirst ? 'macro.clearing' : 'macro.writing'));
    draw();
    try {
      if (clearFirst) {
        const cleared = await command('cleanMacroByAddr', target);
        if (!cleared.ok) { setResult('bad', cleared.message); return; }
      }
      const outcome = await command('writeMacroByAddr', { ...target, PARAMDATA: byteList(bytes) });
      if (!outcome.ok) {
        setResult('bad', outcome.message);
      } else if (outcome.text === 'true') {
        setResult('ok', t('macro.written', { n: bytes.length, address }));
      } else {
        // The pad answers with the address when that stretch already holds something.
        setResult('warn', t('macro.notBlank', { address }));
        $('macro-overwrite').hidden = false;
      }
    } finally {
      state.busy = false;
      draw();
    }
  }

  // ---- start -----------------------------------------------------------------------------

  function initMacro(doc) {
    root = doc.getElementById('screen-macro');
    if (!root || !$('macro-items')) return;
    scheduleDraw = paced(draw, DRAW_INTERVAL_MS);
    $('macro-record').addEventListener('click', () => startRecording());
    // A click carries no key when it came from the mouse (detail > 0); from the keyboard it
    // came from Enter or Space on the button.
    let activatingKey = null;
    $('macro-stop').addEventListener('keydown', (e) => { activatingKey = e.key; });
    $('macro-stop').addEventListener('click', (e) => {
      stopRecording(e.detail === 0 ? activatingKey : null);
      activatingKey = null;
    });
    doc.addEventListener('keydown', (e) => {
      if (e.key === 'Escape' && state.recording) { e.preventDefault(); stopRecording('Escape'); }
    });
    doc.addEventListener('languagechanged', () => {
      state.drawnCount = Infinity; // every row again, in the new words
      draw();
    });
    $('macro-clear').addEventListener('click', () => { state.items = []; setResult('', ''); draw(); });
    $('macro-write').addEventListener('click', () => writeMacro(false));
    $('macro-overwrite').addEventListener('click', () => writeMacro(true));
    $('macro-pad').addEventListener('change', () => draw());
    $('macro-pads-refresh').addEventListener('click', () => loadPads());
    vexa.util.submitOnEnter($('macro-form'));
    vexa.events.onEvent((entry) => {
      if (entry.name === 'macroItem') onMacroItem(entry.values);
      else if (entry.name === 'devicesChanged') loadPads();
    });
    doc.addEventListener('screenshown', (e) => { if (e.detail.screen === 'macro') loadPads(); });
    draw();
  }

  vexa.macro = { initMacro, parseItem, encode, keyName, state };
})(window.vexaModules = window.vexaModules || {});
