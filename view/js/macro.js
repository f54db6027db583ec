// The Macros screen: record keys with "startRecord"/"stopRecord", watch the "macroItem" events
// arrive, and write the recording into a pad's memory with "writeMacroByAddr".
//
// The bytes of a macro and the edits of a take: macroedit.js.

(function (vexa) {
  'use strict';

  const { el, paced } = vexa.util;
  const { t } = vexa.i18n;
  const { trimTake, STOP_SCANS } = vexa.take;
  const { MACRO_LIMIT, encode, removeItem, moveItem, setPause, parsePause, MAX_PAUSE_EDIT } = vexa.macroedit;
  const { firstDifference, byteList, parseAddress } = vexa.bytefield;
  const { ask } = vexa.ask;
  const padmap = vexa.padmap;

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
    selected: -1,         // the item being edited
    unsaved: false,       // a take (or an edit of it) not yet written to a pad and read back
    // The take last written straight to a pad: { pad, label, address, bytes }. No profile holds
    // it, so no button plays it, and on the pad it is in the way of later macros, until it is
    // kept in a profile at that place or cleared.
    loose: null,
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

  // ---- drawing ---------------------------------------------------------------------------

  function itemText(item) {
    if (item.kind === 'pause') return t('macro.ms', { n: item.ms });
    return t(item.down ? 'macro.down' : 'macro.up', { key: keyName(item.scan, item.ext) });
  }

  function itemRow(item, index) {
    const common = { id: `macro-item-${index}`, role: 'option', 'aria-selected': index === state.selected ? 'true' : 'false' };
    if (item.kind === 'pause') {
      return el('li', { className: 'macro-item macro-pause', dataset: { index: String(index) }, attrs: common }, [
        el('span', { className: 'macro-glyph', text: '…', attrs: { 'aria-hidden': 'true' } }),
        el('span', { className: 'macro-text', text: itemText(item) }),
      ]);
    }
    return el('li', {
      className: 'macro-item macro-key',
      dataset: { index: String(index), down: item.down ? '1' : '0', scan: String(item.scan), ext: item.ext ? '1' : '0' },
      attrs: common,
    }, [
      el('span', { className: 'macro-glyph', text: item.down ? '↓' : '↑', attrs: { 'aria-hidden': 'true' } }),
      el('span', { className: 'macro-text', text: itemText(item) }),
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
    if (rows.length && state.recording) list.lastElementChild.scrollIntoView({ block: 'nearest' });

    const keys = state.items.filter((i) => i.kind === 'key').length;
    const bytes = encode(state.items);
    $('macro-empty').hidden = state.items.length > 0;
    $('macro-meta').textContent = state.items.length
      ? t('macro.meta', { keys, bytes: bytes.length }) : t('macro.nothing');
    // Every byte of the take: the box scrolls when they outgrow it.
    $('macro-bytes').textContent = keys === 0 ? t('macro.recordFirst') : byteList(bytes).replace(/0x/g, '').replace(/,/g, ' ');
    const tooBig = bytes.length > MACRO_LIMIT;
    $('macro-size-warning').hidden = !tooBig;
    const meter = $('macro-meter');
    meter.value = Math.min(bytes.length, MACRO_LIMIT);
    meter.dataset.over = tooBig ? 'true' : 'false';
    $('macro-meter-text').textContent = t('macro.sizeOf', { n: bytes.length, max: MACRO_LIMIT });

    $('macro-record').disabled = state.recording || state.busy;
    $('macro-stop').disabled = !state.recording || state.busy;
    $('macro-clear').disabled = state.recording || state.busy || state.items.length === 0;
    const pad = selectedPad();
    $('macro-write').disabled = state.recording || state.busy || keys === 0 || tooBig || !pad;
    $('macro-overwrite').disabled = state.recording || state.busy || keys === 0 || tooBig || !pad;
    $('macro-save').disabled = state.recording || state.busy || keys === 0 || tooBig || !$('macro-profile').value;
    $('macro-clear-pad').disabled = state.recording || state.busy;
    root.dataset.recording = state.recording ? 'true' : 'false';
    $('macro-state').textContent = t(state.recording ? 'macro.recording' : 'macro.idle');
    drawSelection();
  }

  // The list is one Tab stop; arrows choose an item, the bar below (or its keys) edits it.
  function drawSelection() {
    const list = $('macro-items');
    const editable = !state.recording && !state.busy;
    if (state.selected >= state.items.length) state.selected = state.items.length - 1;
    const item = state.items[state.selected];
    for (const row of list.querySelectorAll('[aria-selected="true"]')) row.setAttribute('aria-selected', 'false');
    const row = item ? $(`macro-item-${state.selected}`) : null;
    if (row) {
      row.setAttribute('aria-selected', 'true');
      list.setAttribute('aria-activedescendant', row.id);
      if (list === document.activeElement) row.scrollIntoView({ block: 'nearest' });
    } else {
      list.removeAttribute('aria-activedescendant');
    }
    if (state.items.length) list.setAttribute('tabindex', '0');
    else list.removeAttribute('tabindex');
    $('macro-up').disabled = !editable || !item || state.selected === 0;
    $('macro-down').disabled = !editable || !item || state.selected === state.items.length - 1;
    $('macro-delete').disabled = !editable || !item;
    const isPause = editable && item && item.kind === 'pause';
    const field = $('macro-pause-ms');
    field.disabled = !isPause;
    $('macro-pause-set').disabled = !isPause;
    if (field.dataset.for !== String(state.selected) || !isPause) {
      field.value = isPause ? String(item.ms) : '';
      field.dataset.for = String(state.selected);
      field.removeAttribute('aria-invalid');
    }
  }

  let scheduleDraw = () => {}; // paced draw, set up at start

  function setResult(tone, text) {
    const box = $('macro-result');
    delete box.dataset.address; // set again only by a write that was read back
    box.dataset.tone = tone;
    box.textContent = text;
    box.hidden = !text;
    $('macro-clear-pad').hidden = !state.loose;
    showResult(box);
  }

  // The write panel scrolls in a small window: a message below its fold is brought into sight.
  function showResult(box) {
    if (!box.hidden) box.scrollIntoView({ block: 'nearest' });
  }

  // What the take written last is on the pad, said until it is kept or cleared.
  function looseText() {
    const w = state.loose;
    return w ? t('macro.loose', { address: w.address, pad: w.label }) : '';
  }

  function setEditNote(text) {
    $('macro-edit-note').textContent = text;
  }

  // ---- editing ---------------------------------------------------------------------------

  function applyEdit(items, selected, note = '') {
    if (items === state.items) return false;
    state.items = items;
    state.selected = Math.max(-1, Math.min(selected, items.length - 1));
    state.unsaved = true;
    state.drawnCount = Infinity; // every row again: indexes moved
    $('macro-overwrite').hidden = true;
    setEditNote(note);
    draw();
    return true;
  }

  function deleteSelected() {
    const i = state.selected;
    if (i < 0 || state.recording || state.busy) return;
    const text = itemText(state.items[i]);
    const before = state.items.length;
    const items = removeItem(state.items, i);
    applyEdit(items, Math.min(i, items.length - 1), t(before - items.length > 1 ? 'macro.deletedPair' : 'macro.deleted', { item: text }));
  }

  function moveSelected(delta) {
    const i = state.selected;
    if (i < 0 || state.recording || state.busy) return;
    const items = moveItem(state.items, i, delta);
    if (!applyEdit(items, i + delta, t('macro.moved', { item: itemText(state.items[i]), n: i + delta + 1 }))) {
      setEditNote(t('macro.cannotMove'));
    }
  }

  function setSelectedPause() {
    const i = state.selected;
    const field = $('macro-pause-ms');
    const ms = parsePause(field.value);
    if (ms === null) {
      field.setAttribute('aria-invalid', 'true');
      setEditNote(t('macro.pauseBad', { max: MAX_PAUSE_EDIT }));
      field.focus();
      return;
    }
    field.removeAttribute('aria-invalid');
    field.dataset.for = '';
    applyEdit(setPause(state.items, i, ms), i, t('macro.pauseSet', { n: ms }));
  }

  function onListKey(e) {
    if (state.recording || state.busy || !state.items.length) return;
    const last = state.items.length - 1;
    let next = null;
    if (e.altKey && (e.key === 'ArrowUp' || e.key === 'ArrowDown')) {
      moveSelected(e.key === 'ArrowUp' ? -1 : 1);
    } else if (e.key === 'ArrowUp') next = Math.max(0, state.selected - 1);
    else if (e.key === 'ArrowDown') next = Math.min(last, state.selected + 1);
    else if (e.key === 'Home') next = 0;
    else if (e.key === 'End') next = last;
    else if (e.key === 'Delete' || e.key === 'Backspace') deleteSelected();
    else if (e.key === 'Enter' && state.items[state.selected] && state.items[state.selected].kind === 'pause') {
      $('macro-pause-ms').focus();
      $('macro-pause-ms').select();
    } else return;
    e.preventDefault();
    if (next !== null) { state.selected = next; drawSelection(); }
  }

  // A take not yet on a pad is lost by a new take or Clear: ask first.
  async function mayDiscard() {
    if (!state.unsaved || !state.items.length) return true;
    return ask({ title: t('macro.discardTitle'), text: t('macro.discardText'), yes: t('macro.discardYes') });
  }

  // ---- recording -------------------------------------------------------------------------

  // The outcome of one command; a failure carries the user's text in .message.
  function command(funcname, extra = {}) {
    return vexa.bridge.command({ funcname, ...extra }, { timeoutMs: 5000 });
  }

  async function startRecording() {
    if (!(await mayDiscard())) return;
    state.busy = true;
    state.items = [];
    state.selected = -1;
    state.unsaved = false;
    setResult(state.loose ? 'warn' : '', looseText());
    setEditNote('');
    $('macro-overwrite').hidden = true;
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
      state.drawnCount = Infinity;
      state.selected = state.items.length ? 0 : -1;
      state.unsaved = state.items.length > 0;
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
    return vexa.pads.chosenPad($('macro-pad'));
  }

  async function loadPads() {
    const pads = await vexa.pads.listPads();
    state.pads = pads;
    vexa.pads.fillPadSelect($('macro-pad'), pads);
    $('macro-no-pad').hidden = pads.length > 0;
    draw();
  }

  // The pad's bytes as padmap.findBlank reads them; a failed read ends the write with its words.
  function padReader(pad) {
    return async (address, n) => {
      const back = await command('readByAddr', { HardwareID: pad.HardwareID, DevicePath: pad.DevicePath,
        PARAMADDRESS: address.toString(16), PARAMSIZE: n });
      if (!back.ok) throw Object.assign(new Error(back.message), { shown: back.message });
      return back.text ? String(back.text).split(',').map((x) => parseInt(x, 16)) : [];
    };
  }

  // Where the take goes. Without the Advanced switch the page chooses: the first stretch of the
  // macro area that no profile's macro holds and that reads blank on the pad. With it, the typed
  // address, after a question when that touches the profile block or a profile's macro.
  async function chooseAddress(pad, size, clearFirst) {
    const taken = await padmap.takenNow();
    if (!vexa.advanced.isOn()) {
      const at = await padmap.findBlank(size, taken, padReader(pad));
      if (at < 0) throw Object.assign(new Error('full'), { shown: t('macro.noRoom', { n: size }) });
      return at.toString(16).padStart(4, '0');
    }
    const address = parseAddress($('macro-address').value);
    const hits = padmap.clashes(parseInt(address, 16), size, taken);
    if (hits.length || clearFirst) {
      const text = hits.length
        ? t('macro.askClash', { address, what: hits.map((h) => padmap.describe(h, t)).join(', ') })
        : t('macro.askClear', { address, n: size });
      const yes = await ask({ title: t('macro.askTitle'), text, yes: t(clearFirst ? 'macro.overwrite' : 'macro.write') });
      if (!yes) throw Object.assign(new Error('no'), { shown: t('pads.cancelled'), tone: 'warn' });
    }
    return address;
  }

  // Both buttons come here, and so does Enter in the form: the size is checked on every way to
  // the pad, not only by the state of one button.
  async function writeMacro(clearFirst) {
    const pad = selectedPad();
    if (!pad || state.busy || state.recording) return;
    if (vexa.advanced.isOn()) {
      try { parseAddress($('macro-address').value); } catch (err) { setResult('bad', t(err.key, err.values)); return; }
    }
    const bytes = encode(state.items);
    if (bytes.length > MACRO_LIMIT) {
      $('macro-overwrite').hidden = true;
      setResult('bad', t('macro.refused', { n: bytes.length, max: MACRO_LIMIT }));
      draw(); // and whichever button was pressed goes back to what this take allows
      return;
    }
    const giveFocusBack = vexa.util.holdFocus($('macro-write'));
    state.busy = true;
    $('macro-overwrite').hidden = true;
    setResult('busy', t(clearFirst ? 'macro.clearing' : 'macro.writing'));
    draw();
    let release = null;
    try {
      const chosen = await vexa.pads.padForWrite($('macro-pad'));
      if (chosen.refusal) { setResult('bad', chosen.refusal); return; }
      let address;
      try {
        address = await chooseAddress(chosen.pad, bytes.length, clearFirst);
      } catch (err) {
        if (!err.shown) throw err;
        setResult(err.tone || 'bad', err.shown);
        return;
      }
      const { HardwareID, DevicePath } = chosen.pad;
      const target = { HardwareID, DevicePath, PARAMADDRESS: address, PARAMSIZE: bytes.length };
      release = await vexa.padLock.acquire(chosen.pad); // no other write between this one and its read-back
      if (clearFirst) {
        const cleared = await command('cleanMacroByAddr', target);
        if (!cleared.ok) { setResult('bad', cleared.message); return; }
      }
      const outcome = await command('writeMacroByAddr', { ...target, PARAMDATA: byteList(bytes) });
      if (!outcome.ok) {
        setResult('bad', outcome.message);
      } else if (outcome.text !== 'true') {
        // The pad answers with the address when that stretch already holds something. Only a
        // typed address may be cleared; a chosen one was blank a moment ago, so Write looks again.
        setResult('warn', t('macro.notBlank', { address }));
        $('macro-overwrite').hidden = !vexa.advanced.isOn();
      } else {
        const back = await command('readByAddr', target);
        const at = back.ok ? firstDifference(bytes, back.text) : 0;
        if (!back.ok) setResult('bad', t('macro.notVerified', { address }));
        else if (at >= 0) setResult('bad', t('macro.differs', { address, at: at + 1 }));
        else {
          state.unsaved = false;
          state.loose = { pad: chosen.pad, label: chosen.label, address, bytes };
          setResult('ok', `${t('macro.verified', { n: bytes.length, address })} ${t('pads.writtenTo', { pad: chosen.label })} ${t('macro.looseHere')}`);
          $('macro-result').dataset.address = address;
        }
      }
    } finally {
      if (release) release();
      state.busy = false;
      draw();
      giveFocusBack();
    }
  }

  // The loose take cleared from its pad with "cleanMacroByAddr", and read back as zeros.
  async function clearLoose() {
    const w = state.loose;
    if (!w || state.busy) return;
    const giveFocusBack = vexa.util.holdFocus($('macro-clear-pad'));
    state.busy = true;
    draw();
    try {
      const target = { HardwareID: w.pad.HardwareID, DevicePath: w.pad.DevicePath, PARAMADDRESS: w.address, PARAMSIZE: w.bytes.length };
      const [cleared, back] = await vexa.padLock.exclusive(w.pad, async () => {
        const c = await command('cleanMacroByAddr', target);
        return [c, c.ok ? await command('readByAddr', target) : null];
      });
      if (!cleared.ok) { setResult('bad', `${cleared.message} ${looseText()}`); return; }
      if (!back.ok || firstDifference(new Array(w.bytes.length).fill(0), back.text) >= 0) {
        setResult('bad', `${t('macro.notVerified', { address: w.address })} ${looseText()}`);
        return;
      }
      state.loose = null;
      setResult('ok', t('macro.cleared', { n: w.bytes.length, address: w.address, pad: w.label }));
      document.dispatchEvent(new CustomEvent('padwritten', { detail: { pad: w.pad } }));
    } finally {
      state.busy = false;
      draw();
      giveFocusBack();
    }
  }

  // ---- keeping a take in a profile ------------------------------------------------------

  async function loadProfiles() {
    const select = $('macro-profile');
    const before = select.value;
    let profiles = [];
    try { profiles = await padmap.profileMacros(); } catch (err) { setKeepResult('bad', err.shown || String(err.message)); }
    select.replaceChildren(...profiles.map((p) => el('option', { text: p.name, attrs: { value: String(p.place) } })));
    if (profiles.some((p) => String(p.place) === before)) select.value = before;
    draw();
  }

  function setKeepResult(tone, text) {
    const box = $('macro-keep-result');
    box.dataset.tone = tone;
    box.textContent = text;
    box.hidden = !text;
    showResult(box);
  }

  async function saveTake() {
    if (state.busy || state.recording || !$('macro-profile').value) return;
    const bytes = encode(state.items);
    if (bytes.length > MACRO_LIMIT) { setKeepResult('bad', t('macro.refused', { n: bytes.length, max: MACRO_LIMIT })); return; }
    const name = $('macro-name').value.trim();
    if (!name) { setKeepResult('bad', t('prof.bad.macroName', { max: 32 })); $('macro-name').focus(); return; }
    const giveFocusBack = vexa.util.holdFocus($('macro-save'));
    state.busy = true;
    setKeepResult('busy', t('macro.saving'));
    draw();
    try {
      // Placed by the profiles alone, never by the pad chosen above (padmap.placeNew).
      let outcome;
      try {
        outcome = await vexa.profiles.addTake(Number($('macro-profile').value), name, bytes);
      } catch (err) {
        if (!err.shown) throw err;
        outcome = { ok: false, message: err.shown };
      }
      setKeepResult(outcome.ok ? 'ok' : 'bad', outcome.message);
      if (outcome.ok) state.unsaved = false; // kept: a new take loses nothing
      // Kept where it was written, with the same bytes: on that pad it is the profile's macro now.
      const w = state.loose;
      if (outcome.ok && w && parseInt(w.address, 16) === outcome.address && w.bytes.length === bytes.length
        && w.bytes.every((b, i) => b === bytes[i])) {
        state.loose = null;
        setResult('ok', t('macro.nowKept', { name, profile: $('macro-profile').selectedOptions[0].textContent, address: w.address, pad: w.label }));
      }
    } finally {
      state.busy = false;
      draw();
      giveFocusBack();
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
    $('macro-clear').addEventListener('click', async () => {
      if (!(await mayDiscard())) return;
      state.items = [];
      state.selected = -1;
      state.unsaved = false;
      $('macro-overwrite').hidden = true;
      setResult(state.loose ? 'warn' : '', looseText());
      setEditNote('');
      draw();
    });
    const list = $('macro-items');
    list.addEventListener('keydown', onListKey);
    list.addEventListener('click', (e) => {
      const row = e.target.closest('[data-index]');
      if (!row || state.recording) return;
      state.selected = Number(row.dataset.index);
      drawSelection();
    });
    list.addEventListener('focus', () => {
      if (state.selected < 0 && state.items.length) { state.selected = 0; drawSelection(); }
    });
    $('macro-up').addEventListener('click', () => moveSelected(-1));
    $('macro-down').addEventListener('click', () => moveSelected(1));
    $('macro-delete').addEventListener('click', () => deleteSelected());
    $('macro-pause-set').addEventListener('click', () => setSelectedPause());
    $('macro-pause-ms').addEventListener('keydown', (e) => {
      if (e.key === 'Enter') { e.preventDefault(); setSelectedPause(); }
    });
    $('macro-write').addEventListener('click', () => writeMacro(false));
    $('macro-overwrite').addEventListener('click', () => writeMacro(true));
    $('macro-pad').addEventListener('change', () => draw());
    $('macro-save').addEventListener('click', () => saveTake());
    $('macro-clear-pad').addEventListener('click', () => clearLoose());
    // A line about what was kept in one profile is not left standing beside another.
    $('macro-profile').addEventListener('change', () => setKeepResult('', ''));
    vexa.util.submitOnEnter($('macro-keep-form'));
    $('macro-pads-refresh').addEventListener('click', () => loadPads());
    vexa.util.submitOnEnter($('macro-form'));
    vexa.events.onEvent((entry) => {
      if (entry.name === 'macroItem') onMacroItem(entry.values);
      else if (entry.name === 'devicesChanged') loadPads();
    });
    doc.addEventListener('screenshown', (e) => { if (e.detail.screen === 'macro') { loadPads(); loadProfiles(); } });
    draw();
  }

  vexa.macro = { initMacro, parseItem, encode, keyName, state };
})(window.vexaModules = window.vexaModules || {});
