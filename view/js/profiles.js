// The Profiles screen: the user's named profiles (the eight places of view/PROFILES.md), their
// values as controls in the user's words, save / discard, apply to a pad, and package export and
// import.
//
// The program keeps every profile file it has read as text in memory and changes only that text
// until "savexml"; nothing re-reads a file. So the screen keeps, for each place, the text as it
// was last saved: "Discard" puts that text back into the program's copy, and "unsaved" means the
// program's copy differs from it. What is checked before a value goes out: profilemodel.js.
(function (vexa) {
  'use strict';

  const { el, elide } = vexa.util;
  const { query, command } = vexa.bridge;
  const { t } = vexa.i18n;
  const model = vexa.profilemodel;

  const DEFAULT_PROFILE = 'view/profiles/default.xml';
  const placePath = (i) => `view/profiles/profile${i + 1}.xml`;

  const state = {
    // One per place: path, text (the program's copy as last read), saved (the text as last
    // saved), name, dirty.
    places: Array.from({ length: model.PLACES }, (_, i) => ({ path: placePath(i), text: null, saved: null, name: '', dirty: false })),
    current: -1,
    profile: null, // the <profile> element of the current place, as the program holds it
    editing: 0,    // the button (1-15) whose function is being chosen, 0 for none
    nameMode: '',  // new | duplicate | rename while the name form shows
    pads: [],
  };

  let root = null;
  let started = false;
  const $ = (id) => root.querySelector('#' + id);

  // h() with any other property set as an attribute (id, type, value, aria-*...).
  function h(tag, props = {}, children = []) {
    const { className, dataset, on, t: key, tLabel, tValues, text, ...attrs } = props;
    return el(tag, { className, dataset, on, attrs, t: key, tLabel, tValues, text }, children);
  }

  function status(text, tone) {
    const line = $('profiles-status');
    line.textContent = text;
    line.dataset.tone = tone || 'muted';
  }


  // Import reads packages with the ".pfd" extension only, so every export gets it.
  function withPackageExtension(path) {
    return /\.pfd$/i.test(path) ? path : `${path}.pfd`;
  }

  function parse(text) {
    const doc = new DOMParser().parseFromString(text || '', 'application/xml');
    const top = doc.documentElement;
    return doc.querySelector('parsererror') || !top || top.tagName !== 'profile' ? null : top;
  }

  const child = (parent, tag) => (parent ? Array.from(parent.children).find((c) => c.tagName === tag) || null : null);
  const usedNames = (except) => state.places.filter((p, i) => i !== except && p.name.trim()).map((p) => p.name);
  const anyDirty = () => state.places.some((p) => p.dirty);

  // ---- reading -------------------------------------------------------------------------------

  /** The program's copy of place i; the first copy seen counts as saved. */
  async function readPlace(i) {
    const place = state.places[i];
    const result = await command({ funcname: 'queryProfile', filePath: place.path, xpath: '/profile' });
    if (!result.ok) return result;
    place.text = result.text;
    if (place.saved === null) place.saved = result.text;
    place.dirty = place.text !== place.saved;
    const top = parse(place.text);
    place.name = top ? top.getAttribute('name') || '' : '';
    if (i === state.current) state.profile = top;
    return result;
  }

  async function loadAll() {
    status(t('prof.loading'));
    for (let i = 0; i < model.PLACES; i++) {
      const result = await readPlace(i);
      if (!result.ok) { status(result.message, 'bad'); break; }
    }
    if (state.current < 0 || !state.places[state.current].name.trim()) {
      state.current = state.places.findIndex((p) => p.name.trim());
    }
    if (state.current >= 0) state.profile = parse(state.places[state.current].text);
    drawAll();
    if ($('profiles-status').dataset.tone !== 'bad') status('');
    root.dataset.loaded = state.current >= 0 ? state.places[state.current].path : '';
  }

  // ---- writing -------------------------------------------------------------------------------

  /** After a change of place i: its new copy, the marker, and the outcome for the status line. */
  async function changed(i, result, okText) {
    if (!result.ok) {
      await readPlace(i); // what the program holds, whatever was tried on the page's copy
      status(result.message, 'bad');
      return false;
    }
    state.places[i].dirty = true;
    await readPlace(i);
    drawMarker();
    if (okText) status(okText, 'warn');
    return true;
  }

  // Every value goes in as the whole profile at once. The attribute command would be shorter, but
  // it cannot add a missing attribute or element, takes ";" in a value as a separator, and resets
  // the desktop's double-click time on every call, so each slider step would undo the user's
  // own setting.
  function writeWhole(i, profile) {
    const text = new XMLSerializer().serializeToString(profile);
    return command({ funcname: 'modifyProfileEx', filePath: state.places[i].path, xpath: '/', subTreeString: text });
  }

  /**
   * Sets attr of the element reached by steps (each [tag, {attributes it is found by}]) below
   * <profile> of place i, creating what is missing.
   */
  async function setValue(i, steps, attr, value) {
    const profile = (i === state.current && state.profile) || parse(state.places[i].text);
    if (!profile) return { ok: false, message: t('err.profileFile') };
    let node = profile;
    for (const [tag, keys = {}] of steps) {
      const match = Array.from(node.children).find((c) => c.tagName === tag
        && Object.entries(keys).every(([k, v]) => c.getAttribute(k) === v));
      if (match) { node = match; continue; }
      const made = profile.ownerDocument.createElement(tag);
      for (const [k, v] of Object.entries(keys)) made.setAttribute(k, v);
      node.append(made);
      node = made;
    }
    node.setAttribute(attr, String(value));
    return writeWhole(i, profile);
  }

  async function save() {
    const result = await command({ funcname: 'savexml' });
    if (result.ok) {
      markAllSaved();
      document.dispatchEvent(new CustomEvent('profilessaved'));
      status(t('common.saved'), 'ok');
    } else {
      status(t('prof.notSaved', { reason: result.message }), 'bad');
    }
    root.dataset.saved = String(result.ok);
    return result.ok;
  }

  function markAllSaved() {
    for (const place of state.places) {
      if (place.text !== null) place.saved = place.text;
      place.dirty = false;
    }
    drawMarker();
  }

  /** Puts the saved text of every changed place back into the program's copy. */
  async function discard() {
    for (let i = 0; i < model.PLACES; i++) {
      const place = state.places[i];
      if (!place.dirty) continue;
      const result = await command({ funcname: 'modifyProfileEx', filePath: place.path, xpath: '/', subTreeString: place.saved });
      if (!result.ok) { status(result.message, 'bad'); return false; }
      await readPlace(i);
      place.dirty = false;
    }
    if (state.current >= 0 && !state.places[state.current].name.trim()) state.current = state.places.findIndex((p) => p.name.trim());
    if (state.current >= 0) state.profile = parse(state.places[state.current].text);
    drawAll();
    status(t('prof.discarded'), 'ok');
    return true;
  }

  /** Save, discard or stay when there are unsaved changes; true when the person may go on. */
  async function settleUnsaved() {
    if (!anyDirty()) return true;
    const answer = await vexa.ask.choose({
      title: t('prof.unsavedTitle'),
      text: t('prof.unsavedText'),
      choices: [
        { value: 'stay', label: t('prof.stay') },
        { value: 'discard', label: t('prof.discard') },
        { value: 'save', label: t('prof.save'), primary: true },
      ],
    });
    if (answer === 'save') return save();
    if (answer === 'discard') return discard();
    return false;
  }

  // ---- the profiles themselves ---------------------------------------------------------------

  async function selectPlace(i) {
    if (i === state.current) return;
    if (state.current >= 0 && state.places[state.current].dirty && !(await settleUnsaved())) {
      $('profile-select').value = String(state.current);
      return;
    }
    state.current = i;
    state.editing = 0;
    await readPlace(i);
    drawAll();
    root.dataset.loaded = state.places[i].path;
  }

  function openNameForm(mode) {
    state.nameMode = mode;
    const form = $('profile-name-form');
    const input = $('profile-name');
    const current = state.current >= 0 ? state.places[state.current].name : '';
    form.hidden = false;
    $('profile-name-label').textContent = t(`prof.nameFor.${mode}`);
    input.value = mode === 'rename' ? current : mode === 'duplicate' ? model.copyName(current, usedNames(-1)) : '';
    setFieldError(input, null);
    input.focus();
    input.select();
  }

  function closeNameForm() {
    $('profile-name-form').hidden = true;
    state.nameMode = '';
  }

  async function submitName() {
    const input = $('profile-name');
    const mode = state.nameMode;
    const name = input.value.trim();
    const error = model.checkName(name, usedNames(mode === 'rename' ? state.current : -1));
    if (setFieldError(input, error)) return;
    if (mode === 'rename') {
      const result = await setValue(state.current, [], 'name', name);
      if (await changed(state.current, result, t('prof.renamed', { name }))) { closeNameForm(); drawAll(); }
      return;
    }
    const free = model.firstFreePlace(state.places.map((p) => p.name));
    if (free < 0) { setFieldError(input, { key: 'prof.bad.full' }); return; }
    const source = mode === 'duplicate' && state.current >= 0 ? state.places[state.current].path : DEFAULT_PROFILE;
    const copied = await command({ funcname: 'resetProfile', srcFilePath: source, desFilePath: state.places[free].path });
    if (!copied.ok) { status(copied.message, 'bad'); return; }
    await readPlace(free);
    const named = await setValue(free, [], 'name', name);
    if (!(await changed(free, named))) return;
    closeNameForm();
    state.current = free;
    state.profile = parse(state.places[free].text);
    state.editing = 0;
    drawAll();
    root.dataset.loaded = state.places[free].path;
    status(t(mode === 'duplicate' ? 'prof.duplicated' : 'prof.created', { name }), 'warn');
    $('profile-select').focus();
  }

  async function startNew(mode) {
    if (model.firstFreePlace(state.places.map((p) => p.name)) < 0) { status(t('prof.bad.full'), 'bad'); return; }
    if (mode !== 'new' && state.current < 0) return;
    openNameForm(mode);
  }

  async function deleteCurrent() {
    const i = state.current;
    if (i < 0) return;
    const name = state.places[i].name;
    const file = state.places[i].path.split('/').pop();
    // Modes that give the pad this profile are named in the question, and lose the link.
    const users = await vexa.modeSwitch.modesUsing(file);
    const text = users.length ? `${t('prof.deleteText')} ${t('prof.deleteUsed', { modes: users.join(', ') })}` : t('prof.deleteText');
    const yes = await vexa.ask.ask({ title: t('prof.deleteTitle', { name }), text, yes: t('prof.delete') });
    if (!yes) return;
    const reset = await command({ funcname: 'resetProfile', srcFilePath: DEFAULT_PROFILE, desFilePath: state.places[i].path });
    if (!reset.ok) { status(reset.message, 'bad'); return; }
    if (users.length) await vexa.modeSwitch.unlink(file);
    await readPlace(i);
    const emptied = await setValue(i, [], 'name', '');
    if (!(await changed(i, emptied))) return;
    state.current = state.places.findIndex((p) => p.name.trim());
    state.profile = state.current >= 0 ? parse(state.places[state.current].text) : null;
    state.editing = 0;
    drawAll();
    status(t('prof.deleted', { name }), 'warn');
  }

  async function resetCurrent() {
    const i = state.current;
    if (i < 0) return;
    const name = state.places[i].name;
    const yes = await vexa.ask.ask({ title: t('prof.resetTitle', { name }), text: t('prof.resetText'), yes: t('prof.reset') });
    if (!yes) return;
    const reset = await command({ funcname: 'resetProfile', srcFilePath: DEFAULT_PROFILE, desFilePath: state.places[i].path });
    if (!reset.ok) { status(t('prof.notReset', { reason: reset.message }), 'bad'); return; }
    await readPlace(i);
    // The copy is named after the template; the profile keeps its own name.
    await changed(i, await setValue(i, [], 'name', name), t('prof.resetDone'));
    drawAll();
  }

  // ---- values --------------------------------------------------------------------------------

  /** Shows (or clears) the reason a field's value is refused; true when there is one. */
  function setFieldError(input, error) {
    const note = root.querySelector(`#${input.id}-error`);
    if (error) {
      input.setAttribute('aria-invalid', 'true');
      if (note) { note.textContent = t(error.key, error.values); note.hidden = false; }
    } else {
      input.removeAttribute('aria-invalid');
      if (note) { note.textContent = ''; note.hidden = true; }
    }
    return Boolean(error);
  }

  const errorNote = (id) => h('p', { id: `${id}-error`, className: 'profile-error', hidden: true, role: 'alert' });

  async function writeValue(element, field, value, input) {
    const error = model.checkValue(field, value);
    if (input && setFieldError(input, error)) return;
    if (error || state.current < 0) return;
    const i = state.current;
    const result = await setValue(i, [[element]], field, value);
    await changed(i, result, t('prof.changedValue', { name: t(`prof.f.${field}`) }));
  }

  // A slider with its number: the slider moves in whole steps; the box takes typed numbers,
  // checked before they go anywhere.
  function numberRow(element, field, unitKey) {
    const rule = model.NUMBERS[field];
    const id = `profile-${field}`;
    const range = h('input', {
      type: 'range', id: `${id}-range`, min: rule.min, max: rule.max, step: 1, tLabel: `prof.f.${field}`,
      dataset: { field },
    });
    const box = h('input', {
      type: 'text', id, inputmode: 'numeric', className: 'profile-number', spellcheck: 'false',
      'aria-describedby': `${id}-error ${id}-unit`, dataset: { field },
    });
    const unit = h('span', { id: `${id}-unit`, className: 'profile-unit' });
    // The double-click time is stored as a step but shown and typed in milliseconds, the unit a
    // person knows it by.
    const inMs = field === 'doubleClick';
    const shown = (v) => (inMs ? String(model.doubleClickMs(Number(v))) : String(v));
    const typed = (text) => {
      if (!inMs) return { step: String(text).trim(), error: model.checkValue(field, text) };
      const got = model.doubleClickStep(text);
      return { step: got.step, error: got.error || null };
    };
    const show = () => { unit.textContent = inMs ? t('prof.unit.ms') : t(unitKey); };
    range.addEventListener('input', () => { box.value = shown(range.value); setFieldError(box, null); show(); });
    range.addEventListener('change', () => writeValue(element, field, range.value, box));
    box.addEventListener('input', () => setFieldError(box, typed(box.value).error));
    const commit = () => {
      const { step, error } = typed(box.value);
      if (setFieldError(box, error)) return;
      range.value = step;
      box.value = shown(step);
      show();
      if (step !== current(element, field)) writeValue(element, field, step, box);
    };
    box.addEventListener('change', commit);
    box.addEventListener('keydown', (e) => { if (e.key === 'Enter') { e.preventDefault(); commit(); } });
    const row = h('div', { className: 'profile-field', dataset: { field, element } }, [
      h('label', { className: 'profile-label', for: id, t: `prof.f.${field}` }),
      h('div', { className: 'profile-control' }, [range, box, unit]),
      errorNote(id),
    ]);
    row.update = (value) => { range.value = value; box.value = shown(value); setFieldError(box, null); show(); };
    return row;
  }

  function selectRow(element, field) {
    const id = `profile-${field}`;
    const select = h('select', { id, dataset: { field } },
      model.CHOICES[field].values.map((v) => h('option', { value: v, t: `prof.v.${v}` })));
    select.addEventListener('change', () => writeValue(element, field, select.value, select));
    const row = h('div', { className: 'profile-field', dataset: { field, element } }, [
      h('label', { className: 'profile-label', for: id, t: `prof.f.${field}` }),
      h('div', { className: 'profile-control' }, [select]),
    ]);
    row.update = (value) => { select.value = value; };
    return row;
  }

  function colorRow() {
    const id = 'profile-color';
    const input = h('input', { type: 'color', id, dataset: { field: 'color' }, 'aria-describedby': `${id}-error` });
    const code = h('span', { className: 'profile-unit mono' });
    input.addEventListener('input', () => { code.textContent = input.value; });
    input.addEventListener('change', () => { code.textContent = input.value; writeValue('lighting', 'color', input.value, input); });
    const row = h('div', { className: 'profile-field', dataset: { field: 'color', element: 'lighting' } }, [
      h('label', { className: 'profile-label', for: id, t: 'prof.f.color' }),
      h('div', { className: 'profile-control' }, [input, code]),
      errorNote(id),
    ]);
    row.update = (value) => { input.value = /^#[0-9a-f]{6}$/i.test(value) ? value.toLowerCase() : '#000000'; code.textContent = value; };
    return row;
  }

  function switchRow() {
    const id = 'profile-invertY';
    const box = h('input', { type: 'checkbox', role: 'switch', id, dataset: { field: 'invertY' } });
    box.addEventListener('change', () => writeValue('stick', 'invertY', box.checked ? 'true' : 'false', null));
    const row = h('div', { className: 'profile-field', dataset: { field: 'invertY', element: 'stick' } }, [
      h('label', { className: 'profile-label', for: id, t: 'prof.f.invertY' }),
      h('div', { className: 'profile-control' }, [h('label', { className: 'switch' }, [box, h('span', { className: 'switch-track' })])]),
    ]);
    row.update = (value) => { box.checked = value === 'true'; };
    return row;
  }

  function current(element, field) {
    const node = child(state.profile, element);
    return node ? node.getAttribute(field) || '' : '';
  }

  function card(titleKey, id, rows) {
    return h('section', { className: 'profile-card', 'aria-labelledby': `${id}-title` }, [
      h('h3', { id: `${id}-title`, t: titleKey }), ...rows,
    ]);
  }

  // ---- buttons -------------------------------------------------------------------------------

  function keyName(scan, ext) {
    return vexa.macro ? vexa.macro.keyName(scan, ext) : `0x${scan.toString(16)}`;
  }

  const macrosOf = (profile) => Array.from(child(profile, 'macros') ? child(profile, 'macros').children : [])
    .filter((m) => m.tagName === 'macro')
    .map((m) => ({ name: m.getAttribute('name') || '', address: m.getAttribute('address') || '', size: m.getAttribute('size') || '',
      kept: Boolean(m.getAttribute('data')) }));
  const keysOf = (profile) => Array.from(child(profile, 'keys') ? child(profile, 'keys').children : [])
    .filter((k) => k.tagName === 'key').map((k) => ({ id: k.getAttribute('id'), code: k.getAttribute('code') }));

  /** What a code does, in words. */
  function describe(code) {
    if (!code) return t('prof.k.unknown');
    switch (code.kind) {
      case 'button': return t('prof.k.asButton', { button: model.BUTTONS[code.button] });
      case 'key': return [...model.modifierNames(code.mods), keyName(code.scan, code.ext)].join(' + ');
      case 'mouse': return t(`prof.m.${code.mouse}`);
      case 'macro': {
        const macro = macrosOf(state.profile).find((m) => model.parseAddress(m.address) === code.address);
        return t('prof.k.plays', { name: macro ? macro.name : model.formatAddress(code.address) });
      }
      case 'nothing': return t('prof.k.nothing');
      default: return t('prof.k.own');
    }
  }

  function drawButtons() {
    const keys = keysOf(state.profile);
    const rows = model.BUTTONS.map((name, index) => {
      const id = index + 1;
      const key = keys.find((k) => Number(k.id) === id);
      const code = model.parseCode(key ? key.code : '');
      const text = describe(code);
      const change = h('button', {
        type: 'button', className: 'btn btn-quiet', id: `profile-key-${id}-change`, t: 'prof.change',
        'aria-label': t('prof.changeButton', { button: name }), 'aria-expanded': String(state.editing === id),
      });
      change.addEventListener('click', () => { state.editing = state.editing === id ? 0 : id; drawButtons(); });
      const editing = state.editing === id;
      return h('li', { className: 'profile-key', dataset: { id: String(id), kind: code ? code.kind : 'unknown', editing: String(editing) } }, [
        h('span', { className: 'profile-key-name', text: name }),
        elide(h('span', { className: 'profile-key-does' }), text),
        change,
        state.editing === id ? keyEditor(id, code) : null,
      ]);
    });
    $('profile-keys').replaceChildren(...rows);
    if (state.editing) {
      const first = root.querySelector('#profile-key-kind');
      if (first && !root.contains(document.activeElement)) first.focus();
    }
  }

  // The picker of one button's function: what kind, then its details; Set writes it.
  function keyEditor(id, code) {
    const kinds = ['own', 'button', 'key', 'mouse', 'macro', 'nothing'];
    const value = { ...(code || { kind: 'own' }) };
    const kind = h('select', { id: 'profile-key-kind' }, kinds.map((k) => h('option', { value: k, t: `prof.kind.${k}` })));
    kind.value = value.kind;
    const detail = h('div', { className: 'profile-key-detail' });
    const note = h('p', { id: 'profile-key-kind-error', className: 'profile-error', hidden: true, role: 'alert' });
    kind.setAttribute('aria-describedby', note.id);
    const macros = macrosOf(state.profile);

    function drawDetail() {
      detail.replaceChildren();
      if (kind.value === 'button') {
        const pick = h('select', { id: 'profile-key-button', tLabel: 'prof.kind.button' },
          model.BUTTONS.map((b, i) => h('option', { value: String(i), text: b })));
        pick.value = String(value.kind === 'button' ? value.button : 0);
        detail.append(pick);
      } else if (kind.value === 'key') {
        const scan = value.kind === 'key' ? value.scan : 0x1e;
        const ext = value.kind === 'key' ? value.ext : false;
        const mods = value.kind === 'key' ? value.mods : 0;
        const capture = h('button', { type: 'button', id: 'profile-key-capture', className: 'btn profile-capture', t: 'prof.capture' });
        const list = h('select', { id: 'profile-key-key', tLabel: 'prof.keyList' },
          model.choosableKeys().map((k) => h('option', { value: `${k.scan}:${k.ext ? 1 : 0}`, text: keyName(k.scan, k.ext) })));
        list.value = `${scan}:${ext ? 1 : 0}`;
        const boxes = Object.entries(model.MODIFIERS).map(([m, bit]) => h('label', { className: 'profile-mod' }, [
          h('input', { type: 'checkbox', id: `profile-key-mod-${m}`, dataset: { bit: String(bit) }, checked: (mods & bit) ? true : undefined }),
          h('span', { text: model.modifierNames(bit)[0] }),
        ]));
        capture.addEventListener('keydown', (e) => {
          if (e.key === 'Tab' && !e.ctrlKey && !e.altKey && !e.metaKey) return; // Tab still moves on
          const got = model.codeFromKeyEvent(e);
          e.preventDefault();
          e.stopPropagation();
          if (!got) return;
          list.value = `${got.scan}:${got.ext ? 1 : 0}`;
          for (const box of detail.querySelectorAll('[data-bit]')) box.checked = (got.mods & Number(box.dataset.bit)) !== 0;
          capture.textContent = [...model.modifierNames(got.mods), keyName(got.scan, got.ext)].join(' + ');
        });
        detail.append(capture, list, h('span', { className: 'profile-mods' }, boxes));
      } else if (kind.value === 'mouse') {
        const pick = h('select', { id: 'profile-key-mouse', tLabel: 'prof.kind.mouse' },
          [1, 2, 3, 4, 5].map((n) => h('option', { value: String(n), t: `prof.m.${n}` })));
        pick.value = String(value.kind === 'mouse' ? value.mouse : 1);
        detail.append(pick);
      } else if (kind.value === 'macro') {
        if (!macros.length) {
          detail.append(h('span', { className: 'profile-hint', t: 'prof.noMacros' }));
        } else {
          const pick = h('select', { id: 'profile-key-macro', tLabel: 'prof.kind.macro' },
            macros.map((m) => h('option', { value: String(model.parseAddress(m.address)), text: m.name })));
          if (value.kind === 'macro') pick.value = String(value.address);
          detail.append(pick);
        }
      }
    }

    function chosen() {
      const k = kind.value;
      if (k === 'button') return { kind: k, button: Number($('profile-key-button').value) };
      if (k === 'mouse') return { kind: k, mouse: Number($('profile-key-mouse').value) };
      if (k === 'key') {
        const [scan, ext] = $('profile-key-key').value.split(':').map(Number);
        let mods = 0;
        for (const box of detail.querySelectorAll('[data-bit]')) if (box.checked) mods |= Number(box.dataset.bit);
        return { kind: k, mods, scan, ext: ext === 1 };
      }
      if (k === 'macro') {
        const pick = root.querySelector('#profile-key-macro');
        return pick ? { kind: k, address: Number(pick.value) } : null;
      }
      return { kind: k };
    }

    async function apply() {
      const code = chosen();
      if (!code) { setFieldError(kind, { key: 'prof.noMacros' }); return; }
      if (code.kind === 'button' && code.button === id - 1) code.kind = 'own';
      setFieldError(kind, null);
      const i = state.current;
      const result = await setValue(i, [['keys'], ['key', { id: String(id) }]], 'code', model.formatCode(code));
      if (await changed(i, result, t('prof.changedButton', { button: model.BUTTONS[id - 1] }))) {
        state.editing = 0;
        drawButtons();
        $(`profile-key-${id}-change`).focus();
      }
    }

    kind.addEventListener('change', drawDetail);
    drawDetail();
    const set = h('button', { type: 'button', className: 'btn btn-primary', id: 'profile-key-set', t: 'prof.set', dataset: { default: '' } });
    set.addEventListener('click', apply);
    const cancel = h('button', { type: 'button', className: 'btn btn-quiet', id: 'profile-key-cancel', t: 'common.cancel' });
    cancel.addEventListener('click', () => { state.editing = 0; drawButtons(); $(`profile-key-${id}-change`).focus(); });
    const form = h('form', { className: 'profile-key-editor', 'aria-label': t('prof.changeButton', { button: model.BUTTONS[id - 1] }) }, [
      h('label', { className: 'visually-hidden', for: 'profile-key-kind', t: 'prof.kind' }), kind, detail, set, cancel, note,
    ]);
    vexa.util.submitOnEnter(form);
    form.addEventListener('keydown', (e) => {
      if (e.key === 'Escape') { e.preventDefault(); e.stopPropagation(); cancel.click(); }
    });
    return form;
  }

  // ---- macros --------------------------------------------------------------------------------

  function drawMacros() {
    const macros = macrosOf(state.profile);
    const list = $('profile-macros');
    list.replaceChildren(...macros.map((m, k) => {
      const rename = h('button', { type: 'button', className: 'btn btn-quiet', t: 'prof.rename', 'aria-label': t('prof.renameMacro', { name: m.name }) });
      const remove = h('button', { type: 'button', className: 'btn btn-quiet', t: 'prof.remove', 'aria-label': t('prof.removeMacro', { name: m.name }) });
      rename.addEventListener('click', () => renameMacro(k));
      remove.addEventListener('click', () => removeMacro(k));
      return h('li', { className: 'profile-macro', dataset: { index: String(k) } }, [
        elide(h('span', { className: 'profile-macro-name' }), m.name),
        h('span', { className: 'mono', text: m.address }),
        h('span', { className: 'mono', text: t('prof.bytes', { n: m.size }) }),
        // An address typed by hand (or a profile from before takes were kept) names bytes the
        // profile does not hold; Apply cannot write them, so the person learns it here first.
        rename, remove,
        m.kept ? null : h('span', { className: 'profile-macro-unkept', t: 'prof.macroUnkept' }),
      ]);
    }));
    $('profile-macros-empty').hidden = macros.length > 0;
  }

  async function addMacro() {
    const fields = { name: $('profile-macro-name'), address: $('profile-macro-address'), size: $('profile-macro-size') };
    const macro = { name: fields.name.value.trim(), address: fields.address.value.trim(), size: fields.size.value.trim() };
    const error = model.checkMacro(macro, macrosOf(state.profile));
    Object.values(fields).forEach((f) => setFieldError(f, null));
    if (error) { setFieldError(fields[error.field], error); fields[error.field].focus(); return; }
    const i = state.current;
    const profile = state.profile;
    const address = model.formatAddress(model.parseAddress(macro.address));
    let result;
    if (child(profile, 'macros') && !macro.name.includes(';')) {
      result = await command({ funcname: 'modifyAddProfile', filePath: state.places[i].path, xpath: '/profile/macros',
        addNodeName: 'macro', attribute: 'name;address;size', attributeValue: `${macro.name};${address};${Number(macro.size)}` });
    } else {
      const list = child(profile, 'macros') || profile.appendChild(profile.ownerDocument.createElement('macros'));
      const made = profile.ownerDocument.createElement('macro');
      made.setAttribute('name', macro.name);
      made.setAttribute('address', address);
      made.setAttribute('size', String(Number(macro.size)));
      list.append(made);
      result = await writeWhole(i, profile);
    }
    if (await changed(i, result, t('prof.macroAdded', { name: macro.name }))) {
      Object.values(fields).forEach((f) => { f.value = ''; });
      drawMacros();
    }
  }

  /**
   * A take from the Macros screen saved into place i as macro `name`, its bytes kept in the file
   * (so an exported package carries them) and its address chosen in the macro area, clear of
   * every profile's macros and, given read(address, size) for a pad, of what that pad holds.
   * Saved to the file at once unless another place has unsaved changes, which the user may not
   * want saved. Resolves with { ok, message, saved }.
   */
  async function addTake(i, name, bytes, read = null) {
    if (!started) { started = true; build(); }
    await loadAll();
    const place = state.places[i];
    const top = place && parse(place.text);
    if (!top || !place.name.trim()) return { ok: false, message: t('macro.noProfile') };
    const own = macrosOf(top);
    const error = model.checkMacro({ name, address: '0x0200', size: String(bytes.length) }, []);
    if (error && error.field === 'name') return { ok: false, message: t(error.key, error.values) };
    if (own.some((m) => m.name.trim().toLowerCase() === name.trim().toLowerCase())) {
      return { ok: false, message: t('macro.nameTaken', { name, profile: place.name }) };
    }
    const profiles = state.places.map((p) => parse(p.text)).filter(Boolean).map((p) => ({ name: p.getAttribute('name'), macros: macrosOf(p) }));
    const taken = vexa.padmap.takenBy(profiles);
    const address = read ? await vexa.padmap.findBlank(bytes.length, taken, read) : vexa.padmap.firstFit(bytes.length, taken);
    if (address < 0) return { ok: false, message: t('map.full', { name, n: bytes.length }) };
    const list = child(top, 'macros') || top.appendChild(top.ownerDocument.createElement('macros'));
    const made = top.ownerDocument.createElement('macro');
    made.setAttribute('name', name.trim());
    made.setAttribute('address', model.formatAddress(address));
    made.setAttribute('size', String(bytes.length));
    made.setAttribute('data', bytes.map((b) => b.toString(16).padStart(2, '0')).join(' '));
    list.append(made);
    const othersDirty = state.places.some((p, j) => j !== i && p.dirty);
    if (!(await changed(i, await writeWhole(i, top), ''))) return { ok: false, message: $('profiles-status').textContent };
    if (i === state.current) drawAll();
    const saved = !othersDirty && (await save());
    return { ok: true, saved, message: t(saved ? 'macro.savedTo' : 'macro.savedUnsaved', { name: name.trim(), profile: place.name }) };
  }

  async function renameMacro(k) {
    const row = $('profile-macros').children[k];
    const macros = macrosOf(state.profile);
    const input = h('input', { type: 'text', id: 'profile-macro-rename', value: macros[k].name, 'aria-describedby': 'profile-macro-rename-error',
      'aria-label': t('prof.renameMacro', { name: macros[k].name }) });
    const note = errorNote('profile-macro-rename');
    const ok = h('button', { type: 'button', className: 'btn btn-primary', t: 'prof.set', dataset: { default: '' } });
    const form = h('form', { className: 'profile-macro-rename' }, [input, ok, note]);
    vexa.util.submitOnEnter(form);
    form.addEventListener('keydown', (e) => { if (e.key === 'Escape') { e.preventDefault(); e.stopPropagation(); drawMacros(); } });
    ok.addEventListener('click', async () => {
      const name = input.value.trim();
      const others = macros.filter((_, j) => j !== k);
      const error = model.checkMacro({ ...macros[k], name }, others);
      if (setFieldError(input, error && error.field === 'name' ? error : null)) return;
      const i = state.current;
      const result = await renameAt(i, k, name);
      if (await changed(i, result, t('prof.renamed', { name }))) drawMacros();
    });
    row.replaceChildren(form);
    input.focus();
    input.select();
  }

  function renameAt(i, k, name) {
    const profile = state.profile;
    child(profile, 'macros').querySelectorAll(':scope > macro')[k].setAttribute('name', name);
    return writeWhole(i, profile);
  }

  async function removeMacro(k) {
    const macro = macrosOf(state.profile)[k];
    const users = model.buttonsPlaying(keysOf(state.profile), model.parseAddress(macro.address));
    if (users.length) {
      status(t('prof.macroInUse', { name: macro.name, buttons: users.map((id) => model.BUTTONS[id - 1]).join(', ') }), 'bad');
      return;
    }
    const i = state.current;
    const result = await command({ funcname: 'modifyRemoveProfile', filePath: state.places[i].path, xpath: `/profile/macros/macro[${k + 1}]` });
    if (await changed(i, result, t('prof.macroRemoved', { name: macro.name }))) drawMacros();
  }

  // ---- pads ----------------------------------------------------------------------------------

  async function loadPads() {
    const pads = await vexa.pads.listPads();
    state.pads = pads;
    vexa.pads.fillPadSelect($('profile-pad'), pads);
    $('profile-apply').disabled = !vexa.pads.chosenPad($('profile-pad')) || state.current < 0;
    $('profile-no-pad').hidden = pads.length > 0;
  }

  async function applyToPad() {
    if (!vexa.pads.chosenPad($('profile-pad')) || state.current < 0) return;
    if (!vexa.padMemory) { status(t('prof.applyMissing'), 'bad'); return; }
    const i = state.current;
    const read = await readPlace(i);
    if (!read.ok) { status(read.message, 'bad'); return; }
    const unsaved = state.places[i].dirty;
    const giveFocusBack = vexa.util.holdFocus($('profile-apply'));
    $('profile-apply').disabled = true;
    status(t('prof.applying'));
    try {
      const chosen = await vexa.pads.padForWrite($('profile-pad'));
      if (chosen.refusal) { status(chosen.refusal, 'bad'); root.dataset.applied = 'false'; return; }
      const outcome = await vexa.padMemory.applyProfile(parse(state.places[i].text), chosen.pad);
      let text = outcome.message || t(outcome.ok ? 'prof.applied' : 'prof.notApplied');
      if (outcome.ok) text = `${text} ${t('pads.writtenTo', { pad: chosen.label })}`;
      status(outcome.ok && unsaved ? `${text} ${t('prof.appliedUnsaved')}` : text, outcome.ok ? 'ok' : 'bad');
      root.dataset.applied = String(Boolean(outcome.ok));
    } catch (err) {
      status(t('prof.notApplied'), 'bad');
      root.dataset.applied = 'false';
    } finally {
      $('profile-apply').disabled = false;
      giveFocusBack();
    }
  }

  // ---- packages ------------------------------------------------------------------------------

  async function exportPackage(path) {
    if (state.current < 0) return;
    if (!path) return status(t('prof.needPath'), 'warn');
    path = withPackageExtension(path);
    const result = await command({ funcname: 'saveXmlAs', srcFilePath: state.places[state.current].path, xpath: '/profile', desFilePath: path });
    status(result.ok ? t('prof.exported', { path }) : t('prof.notExported', { reason: result.message }), result.ok ? 'ok' : 'bad');
    return path;
  }

  // An import never replaces a profile by surprise: it becomes a new profile by default, and
  // replacing the selected one is a choice that names it (what that profile holds is lost).
  async function importPackage(path) {
    if (!path) return status(t('prof.needPath'), 'warn');
    const free = model.firstFreePlace(state.places.map((p) => p.name));
    const current = state.current;
    if (free < 0 && current < 0) return status(t('prof.bad.full'), 'bad');
    const name = current >= 0 ? state.places[current].name : '';
    const choices = [{ value: 'cancel', label: t('common.cancel') }];
    if (current >= 0) choices.push({ value: 'replace', label: t('prof.importReplace', { name }) });
    if (free >= 0) choices.push({ value: 'new', label: t('prof.importNew'), primary: true });
    const answer = await vexa.ask.choose({
      title: t('prof.importTitle'),
      text: free < 0 ? t('prof.importTextFull', { name }) : current >= 0 ? t('prof.importText', { name }) : t('prof.importTextNew'),
      choices,
    });
    if (answer === 'new') return importAsNew(free, path);
    if (answer === 'replace') return importInto(current, path);
    return status(t('prof.importCancelled'), 'warn');
  }

  function importCommand(i, path) {
    return command({ funcname: 'modifyReplaceProfileEx', srcFilePath: path, desFilePath: state.places[i].path,
      srcXpath: '/profile', desXpath: '/profile' });
  }

  async function importInto(i, path) {
    const result = await importCommand(i, path);
    if (!result.ok) return status(t('prof.notImported', { reason: result.message }), 'bad');
    await changed(i, result);
    drawAll();
    status(t('prof.imported', { path }), 'warn');
  }

  async function importAsNew(free, path) {
    const result = await importCommand(free, path);
    if (!result.ok) return status(t('prof.notImported', { reason: result.message }), 'bad');
    await changed(free, result);
    // The place keeps its own (empty) name through the import: the package's file name names
    // the new profile, as a copy's name when another profile has it.
    const own = state.places[free].name;
    const others = usedNames(free);
    const base = path.replace(/^.*[\\/]/, '').replace(/\.pfd$/i, '').trim() || t('prof.package');
    const name = model.checkName(base, others) ? model.copyName(base, others) : base;
    if (name !== own && !(await changed(free, await setValue(free, [], 'name', name)))) return;
    state.current = free;
    state.profile = parse(state.places[free].text);
    state.editing = 0;
    drawAll();
    root.dataset.loaded = state.places[free].path;
    status(t('prof.importedAs', { path, name }), 'warn');
  }

  // A native file dialog; resolves with the chosen path. A cancelled dialog is never answered,
  // so nothing follows it (the dialog is modal: the user may take any time to choose).
  async function choosePath(funcname) {
    const result = await query({ funcname }, { timeoutMs: Infinity });
    return result.ok ? result.text : '';
  }

  // ---- drawing -------------------------------------------------------------------------------

  function drawMarker() {
    const dirty = anyDirty();
    $('profile-unsaved').hidden = !dirty;
    // Unusable rather than disabled: a disabled button drops the focus, and after Save the
    // person goes on from Save.
    $('profile-save').setAttribute('aria-disabled', String(!dirty));
    $('profile-discard').setAttribute('aria-disabled', String(!dirty));
    root.dataset.unsaved = String(dirty);
  }

  function drawAll() {
    const select = $('profile-select');
    const used = state.places.map((p, i) => ({ ...p, i })).filter((p) => p.name.trim());
    select.replaceChildren(...used.map((p) => h('option', { value: String(p.i), text: p.name, title: p.name })));
    if (state.current >= 0) select.value = String(state.current);
    const none = state.current < 0 || !state.profile;
    $('profile-body').hidden = none;
    $('profile-none').hidden = !none;
    for (const id of ['profile-duplicate', 'profile-rename', 'profile-delete', 'profile-reset', 'pfd-export-to', 'pfd-import-from', 'pfd-export', 'pfd-import']) {
      $(id).disabled = none;
    }
    $('profile-apply').disabled = none || !vexa.pads.chosenPad($('profile-pad'));
    select.title = state.current >= 0 ? state.places[state.current].name : '';
    drawMarker();
    if (none) return;
    for (const row of root.querySelectorAll('.profile-field[data-field]')) {
      if (row.update) row.update(current(row.dataset.element, row.dataset.field));
    }
    drawButtons();
    drawMacros();
  }

  function build() {
    const button = (id, key, handler, extra = 'btn-quiet') => {
      const b = h('button', { type: 'button', id, className: `btn ${extra}`.trim(), t: key });
      b.addEventListener('click', handler);
      return b;
    };
    const select = h('select', { id: 'profile-select', tLabel: 'prof.profile' });
    select.addEventListener('change', () => selectPlace(Number(select.value)));

    const nameInput = h('input', { type: 'text', id: 'profile-name', maxlength: String(model.NAME_MAX * 2), spellcheck: 'false',
      'aria-describedby': 'profile-name-error', autocomplete: 'off' });
    nameInput.addEventListener('input', () => setFieldError(nameInput, null));
    const nameForm = h('form', { id: 'profile-name-form', className: 'profiles-bar profile-name-form', hidden: true }, [
      h('label', { id: 'profile-name-label', className: 'field-label', for: 'profile-name' }),
      nameInput,
      button('profile-name-ok', 'prof.ok', submitName, 'btn-primary'),
      button('profile-name-cancel', 'common.cancel', closeNameForm),
      errorNote('profile-name'),
    ]);
    nameForm.querySelector('#profile-name-ok').dataset.default = '';
    vexa.util.submitOnEnter(nameForm);
    nameForm.addEventListener('keydown', (e) => { if (e.key === 'Escape') { e.preventDefault(); closeNameForm(); } });

    const macroField = (id, key, placeholder) => [
      h('label', { className: 'field-label', for: id, t: key }),
      h('input', { type: 'text', id, placeholder, spellcheck: 'false', autocomplete: 'off', 'aria-describedby': `${id}-error` }),
    ];
    // Typed addresses and sizes are for those who know the pad's memory; everyone else saves a
    // take into the profile from the Macros screen.
    const macroForm = h('form', { className: 'profile-macro-add', 'data-advanced-only': '' }, [
      ...macroField('profile-macro-name', 'prof.macroName', ''),
      ...macroField('profile-macro-address', 'prof.macroAddress', '0x1f00'),
      ...macroField('profile-macro-size', 'prof.macroSize', '24'),
      h('button', { type: 'button', id: 'profile-macro-add', className: 'btn', t: 'prof.add', dataset: { default: '' } }),
      errorNote('profile-macro-name'), errorNote('profile-macro-address'), errorNote('profile-macro-size'),
    ]);
    macroForm.querySelector('#profile-macro-add').addEventListener('click', addMacro);
    vexa.util.submitOnEnter(macroForm);

    const padForm = h('form', { className: 'profiles-bar profile-apply' }, [
      h('label', { className: 'field-label', for: 'profile-pad', t: 'prof.pad' }),
      h('select', { id: 'profile-pad' }),
      button('profile-apply', 'prof.apply', applyToPad, 'btn'),
      h('span', { id: 'profile-no-pad', className: 'profile-hint', t: 'prof.noPad', hidden: true }),
    ]);
    padForm.querySelector('#profile-apply').dataset.default = '';
    vexa.util.submitOnEnter(padForm);

    const pathInput = h('input', { id: 'pfd-path', className: 'pfd-path', tLabel: 'prof.packagePath',
      placeholder: '/home/me/Documents/profile.pfd', spellcheck: 'false' });

    // The bar, the name form and the status line stay in view while the sections scroll, so what
    // a change did is read where the change was made.
    root.replaceChildren(
      h('div', { className: 'profiles-head' }, [h('div', { className: 'profiles-bar profiles-top' }, [
        h('label', { className: 'field-label', for: 'profile-select', t: 'prof.profile' }), select,
        button('profile-new', 'prof.new', () => startNew('new')),
        button('profile-duplicate', 'prof.duplicate', () => startNew('duplicate')),
        button('profile-rename', 'prof.rename', () => openNameForm('rename')),
        button('profile-delete', 'prof.delete', deleteCurrent),
        button('profile-reset', 'prof.reset', resetCurrent),
      ]),
      nameForm,
      // What the last change did, then the unsaved mark and the buttons that settle it; the
      // buttons sit at the right end, so the mark appearing moves nothing.
      h('div', { className: 'profiles-bar profiles-settle' }, [
        h('p', { id: 'profiles-status', className: 'profiles-status', role: 'status' }, ['']),
        h('span', { id: 'profile-unsaved', className: 'profile-unsaved', t: 'prof.unsaved', hidden: true }),
        button('profile-discard', 'prof.discard', () => { if (anyDirty()) discard(); }),
        button('profile-save', 'prof.save', () => { if (anyDirty()) save(); }, 'btn-primary'),
      ])]),
      h('p', { id: 'profile-none', className: 'profile-hint', t: 'prof.none', hidden: true }),
      h('div', { id: 'profile-body', className: 'profile-body' }, [
        h('div', { className: 'profile-values' }, [
          card('prof.mouse', 'profile-mouse', [numberRow('mouse', 'speed', 'prof.unit.steps'),
            numberRow('mouse', 'scrollLines', 'prof.unit.lines'), numberRow('mouse', 'doubleClick', '')]),
          card('prof.lighting', 'profile-lighting', [colorRow(), numberRow('lighting', 'brightness', 'prof.unit.percent'),
            selectRow('lighting', 'effect')]),
          card('prof.stick', 'profile-stick', [numberRow('stick', 'deadzone', 'prof.unit.percent'), selectRow('stick', 'curve'), switchRow()]),
        ]),
        h('section', { className: 'profile-card', 'aria-labelledby': 'profile-buttons-title' }, [
          h('h3', { id: 'profile-buttons-title', t: 'prof.buttons' }),
          h('ul', { id: 'profile-keys', className: 'profile-keys' }),
        ]),
        h('section', { className: 'profile-card', 'aria-labelledby': 'profile-macros-title' }, [
          h('h3', { id: 'profile-macros-title', t: 'prof.macros' }),
          h('ul', { id: 'profile-macros', className: 'profile-macros' }),
          h('p', { id: 'profile-macros-empty', className: 'profile-hint', t: 'prof.noMacros' }),
          macroForm,
        ]),
        h('section', { className: 'profile-card', 'aria-labelledby': 'profile-pad-title' }, [
          h('h3', { id: 'profile-pad-title', t: 'prof.toPad' }),
          padForm,
        ]),
        h('section', { className: 'profile-card', 'aria-labelledby': 'profile-package-title' }, [
          h('h3', { id: 'profile-package-title', t: 'prof.package' }),
          h('div', { className: 'profiles-bar' }, [
            button('pfd-export-to', 'prof.exportTo', async () => { const p = await choosePath('saveFileDialog'); if (p) exportPackage(p); }, 'btn'),
            button('pfd-import-from', 'prof.importFrom', async () => { const p = await choosePath('openFileDialog'); if (p) importPackage(p); }, 'btn'),
          ]),
          // Typed paths are for people testing packages; everyone else uses the dialogs.
          h('div', { className: 'profiles-bar', 'data-advanced-only': '' }, [
            pathInput,
            button('pfd-export', 'prof.export', async () => {
              const p = await exportPackage(pathInput.value.trim());
              if (p) pathInput.value = p;
            }),
            button('pfd-import', 'prof.import', () => importPackage(pathInput.value.trim())),
          ]),
        ]),
      ]),
    );
  }

  async function show() {
    if (!started) { started = true; build(); }
    await loadAll();
    loadPads();
  }

  function init(doc) {
    root = doc.getElementById('screen-profiles');
    doc.addEventListener('screenshown', (event) => {
      if (event.detail.screen === 'profiles') show();
    });
    // Another screen saved every changed profile file (the Modes screen, after "confChanged").
    doc.addEventListener('profilefilessaved', async () => {
      if (!started) return;
      for (let i = 0; i < model.PLACES; i++) await readPlace(i);
      markAllSaved();
    });
    vexa.events.onEvent((entry) => { if (entry.name === 'devicesChanged' && started) loadPads(); });
    vexa.screens.guardLeaving('profiles', settleUnsaved);
  }

  init(document);
  vexa.profiles = { reload: () => loadAll(), addTake, state, withPackageExtension };
})(window.vexaModules = window.vexaModules || {});
