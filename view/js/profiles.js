// The Profiles screen's state and commands: the user's named profiles (the eight places of
// view/PROFILES.md), reading and writing them through the program, save / discard, apply to a
// pad, and package export and import. profileview.js draws the screen; profilekeys.js and
// profilemacros.js edit a profile's buttons and macro list.
//
// The program keeps every profile file it has read as text in memory and changes only that text
// until "savexml"; nothing re-reads a file. So the screen keeps, for each place, the text as it
// was last saved: "Discard" puts that text back into the program's copy, and "unsaved" means the
// program's copy differs from it. What is checked before a value goes out: profilemodel.js.
(function (vexa) {
  'use strict';

  const { query, command } = vexa.bridge;
  const { t } = vexa.i18n;
  const model = vexa.profilemodel;

  const DEFAULT_PROFILE = 'view/profiles/default.xml';
  const placePath = (i) => `view/profiles/profile${i + 1}.xml`;

  const state = {
    // One per place: path, text (the program's copy as last read), saved (the text as last
    // saved), name, dirty, and unlinked: the mode links an unsaved deletion of the place's
    // profile cleared ({ file, positions }), given back if it is discarded.
    places: Array.from({ length: model.PLACES }, (_, i) => ({ path: placePath(i), text: null, saved: null, name: '', dirty: false, unlinked: null })),
    current: -1,
    profile: null, // the <profile> element of the current place, as the program holds it
    editing: 0,    // the button (1-15) whose function is being chosen, 0 for none
    nameMode: '',  // new | duplicate | rename while the name form shows
    // The place an unsaved deletion emptied and the one it showed instead: Discard shows the
    // deleted profile again unless another was chosen meanwhile.
    afterDelete: null,
    pads: [],
  };

  // The view is loaded after this file, so it is looked up when a command runs.
  const ui = () => vexa.profileView;
  const $ = (id) => ui().$(id);
  const marks = () => ui().root().dataset;
  const status = (text, tone) => ui().status(text, tone);
  const drawAll = () => ui().drawAll();
  const drawMarker = () => ui().drawMarker();
  const setFieldError = (input, error) => ui().setFieldError(input, error);

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
  const macrosOf = (profile) => Array.from(child(profile, 'macros') ? child(profile, 'macros').children : [])
    .filter((m) => m.tagName === 'macro')
    .map((m) => ({ name: m.getAttribute('name') || '', address: m.getAttribute('address') || '', size: m.getAttribute('size') || '',
      data: m.getAttribute('data') || '', kept: Boolean(m.getAttribute('data')) }));
  /**
   * The profiles of the other places with their macros, as padmap.takenBy takes them: each as the
   * program holds it and, where that differs, as last saved, which Discard would bring back (a
   * place may be taken only if neither has a macro there).
   */
  function otherProfiles(except) {
    const out = [];
    state.places.forEach((p, i) => {
      if (i === except) return;
      for (const text of new Set([p.text, p.saved])) {
        const top = parse(text);
        const name = top ? (top.getAttribute('name') || '').trim() : '';
        if (name) out.push({ name, macros: macrosOf(top) });
      }
    });
    return out;
  }
  const keysOf = (profile) => Array.from(child(profile, 'keys') ? child(profile, 'keys').children : [])
    .filter((k) => k.tagName === 'key').map((k) => ({ id: k.getAttribute('id'), code: k.getAttribute('code') }));

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
    marks().loaded = state.current >= 0 ? state.places[state.current].path : '';
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
    const files = state.places.filter((p) => p.dirty).map((p) => p.path.split('/').pop());
    const result = await command({ funcname: 'savexml' });
    if (result.ok) {
      markAllSaved();
      document.dispatchEvent(new CustomEvent('profilessaved'));
      status(t('common.saved'), 'ok');
      sayWhatThePadTook(files);
    } else {
      status(t('prof.notSaved', { reason: result.message }), 'bad');
    }
    marks().saved = String(result.ok);
    return result.ok;
  }

  // A saved profile that the active mode gives the pad goes to the pad at once (modeswitch.js,
  // woken by "profilessaved"): once that is done, the status line says what the pad holds now.
  async function sayWhatThePadTook(files) {
    const modeSwitch = vexa.modeSwitch;
    if (!modeSwitch || !modeSwitch.switcher || !files.length) return;
    const saved = $('profiles-status').textContent;
    await modeSwitch.switcher.whenIdle();
    const now = modeSwitch.switcher.status;
    // Only about this save, and only while nothing else took the line meanwhile.
    if (!now || !files.includes(now.file) || !['applied', 'failed', 'noPad'].includes(now.kind)) return;
    if ($('profiles-status').textContent !== saved) return;
    const pad = modeSwitch.describe(now, t, vexa.pads.padLabel);
    status(t('prof.savedPad', { pad }), now.kind === 'failed' ? 'bad' : 'ok');
  }

  function markAllSaved() {
    for (const place of state.places) {
      if (place.text !== null) place.saved = place.text;
      place.dirty = false;
      place.unlinked = null;
    }
    state.afterDelete = null;
    drawMarker();
  }

  /** Puts the saved text of every changed place back into the program's copy. */
  async function discard() {
    let notRelinked = '';
    for (let i = 0; i < model.PLACES; i++) {
      const place = state.places[i];
      if (!place.dirty) continue;
      const result = await command({ funcname: 'modifyProfileEx', filePath: place.path, xpath: '/', subTreeString: place.saved });
      if (!result.ok) { status(result.message, 'bad'); return false; }
      await readPlace(i);
      place.dirty = false;
      if (place.unlinked) {
        const relinked = await vexa.modeSwitch.relink(place.unlinked.file, place.unlinked.positions);
        if (!relinked.ok) notRelinked = relinked.message;
        place.unlinked = null;
      }
    }
    const back = state.afterDelete;
    state.afterDelete = null;
    if (back && state.current === back.shown && state.places[back.emptied].name.trim()) state.current = back.emptied;
    if (state.current >= 0 && !state.places[state.current].name.trim()) state.current = state.places.findIndex((p) => p.name.trim());
    if (state.current >= 0) state.profile = parse(state.places[state.current].text);
    drawAll();
    marks().loaded = state.current >= 0 ? state.places[state.current].path : '';
    if (notRelinked) status(t('prof.notRelinked', { reason: notRelinked }), 'bad');
    else status(t('prof.discarded'), 'ok');
    return true;
  }

  /**
   * Save, discard or stay when there are unsaved changes; true when the person may go on.
   * quitting: vexa quits after the answer (the tray's Exit), and the question says so.
   */
  async function settleUnsaved({ quitting = false } = {}) {
    if (!anyDirty()) return true;
    const answer = await vexa.ask.choose({
      title: t(quitting ? 'prof.unsavedQuitTitle' : 'prof.unsavedTitle'),
      text: t(quitting ? 'prof.unsavedQuitText' : 'prof.unsavedText'),
      choices: [
        { value: 'stay', label: t(quitting ? 'prof.stayQuit' : 'prof.stay') },
        { value: 'discard', label: t(quitting ? 'prof.discardQuit' : 'prof.discard') },
        { value: 'save', label: t(quitting ? 'prof.saveQuit' : 'prof.save'), primary: true },
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
    // What the line said was about the profile shown before.
    status('');
    await readPlace(i);
    drawAll();
    marks().loaded = state.places[i].path;
  }

  async function submitName() {
    const input = $('profile-name');
    const mode = state.nameMode;
    const name = input.value.trim();
    const error = model.checkName(name, usedNames(mode === 'rename' ? state.current : -1));
    if (setFieldError(input, error)) return;
    if (mode === 'rename') {
      const result = await setValue(state.current, [], 'name', name);
      if (await changed(state.current, result, t('prof.renamed', { name }))) { ui().closeNameForm(); drawAll(); }
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
    ui().closeNameForm();
    state.current = free;
    state.profile = parse(state.places[free].text);
    state.editing = 0;
    drawAll();
    marks().loaded = state.places[free].path;
    status(t(mode === 'duplicate' ? 'prof.duplicated' : 'prof.created', { name }), 'warn');
    $('profile-select').focus();
  }

  async function startNew(mode) {
    if (model.firstFreePlace(state.places.map((p) => p.name)) < 0) { status(t('prof.bad.full'), 'bad'); return; }
    if (mode !== 'new' && state.current < 0) return;
    ui().openNameForm(mode);
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
    if (users.length) {
      const unlinked = await vexa.modeSwitch.unlink(file);
      // A second deletion before a save keeps what the first cleared: that is what Discard gives back.
      if (unlinked.ok && !state.places[i].unlinked) state.places[i].unlinked = { file, positions: unlinked.positions };
    }
    await readPlace(i);
    const emptied = await setValue(i, [], 'name', '');
    if (!(await changed(i, emptied))) return;
    state.current = state.places.findIndex((p) => p.name.trim());
    state.afterDelete = { emptied: i, shown: state.current };
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

  async function writeValue(element, field, value, input) {
    const error = model.checkValue(field, value);
    if (input && setFieldError(input, error)) return;
    if (error || state.current < 0) return;
    const i = state.current;
    const result = await setValue(i, [[element]], field, value);
    await changed(i, result, t('prof.changedValue', { name: t(`prof.f.${field}`) }));
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
      if (chosen.refusal) { status(chosen.refusal, 'bad'); marks().applied = 'false'; return; }
      const outcome = await vexa.padMemory.applyProfile(parse(state.places[i].text), chosen.pad);
      let text = outcome.message || t(outcome.ok ? 'prof.applied' : 'prof.notApplied');
      if (outcome.ok) text = `${text} ${t('pads.writtenTo', { pad: chosen.label })}`;
      if (outcome.ok && unsaved) text = `${text} ${t('prof.appliedUnsaved')}`;
      // The modes give the pad their profile again at their next change; said here, so that
      // nobody is surprised when it happens.
      const back = outcome.ok ? vexa.modeSwitch.appliedByHand(chosen.pad, state.places[i].path.split('/').pop()) : '';
      status(back ? `${text} ${back}` : text, outcome.ok ? 'ok' : 'bad');
      marks().applied = String(Boolean(outcome.ok));
    } catch (err) {
      status(t('prof.notApplied'), 'bad');
      marks().applied = 'false';
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

  /**
   * The imported profile in place i fitted into the layout of the other profiles (padmap.js
   * relocate): its macros that lie where another profile's macro is go to free places, and its
   * buttons follow them, in the program's copy. → { ok, text } with the words to add, or the reason.
   */
  async function fitImported(i) {
    const top = parse(state.places[i].text);
    if (!top) return { ok: true, text: '' };
    const keys = keysOf(top);
    let fitted;
    try {
      fitted = vexa.padmap.relocate({ macros: macrosOf(top), keys }, otherProfiles(i));
    } catch (err) {
      if (!err.key) throw err;
      return { ok: false, text: t(err.key, err.values) };
    }
    if (!fitted.moves.length) return { ok: true, text: '' };
    const macroNodes = Array.from(child(top, 'macros').children).filter((m) => m.tagName === 'macro');
    fitted.macros.forEach((m, k) => macroNodes[k].setAttribute('address', m.address));
    const keyNodes = Array.from(child(top, 'keys') ? child(top, 'keys').children : []).filter((k) => k.tagName === 'key');
    fitted.keys.forEach((k, n) => { if (k.code !== keys[n].code) keyNodes[n].setAttribute('code', k.code); });
    if (!(await changed(i, await writeWhole(i, top)))) return { ok: false, text: $('profiles-status').textContent };
    return { ok: true, text: t('prof.importMoved', { names: fitted.moves.map((m) => m.name).join(', ') }) };
  }

  async function importInto(i, path) {
    const result = await importCommand(i, path);
    if (!result.ok) return status(t('prof.notImported', { reason: result.message }), 'bad');
    await changed(i, result);
    const fitted = await fitImported(i);
    drawAll();
    if (!fitted.ok) return status(fitted.text, 'bad');
    status(`${t('prof.imported', { path })} ${fitted.text}`.trim(), 'warn');
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
    const fitted = await fitImported(free);
    state.current = free;
    state.profile = parse(state.places[free].text);
    state.editing = 0;
    drawAll();
    marks().loaded = state.places[free].path;
    if (!fitted.ok) return status(fitted.text, 'bad');
    status(`${t('prof.importedAs', { path, name })} ${fitted.text}`.trim(), 'warn');
  }

  // A native file dialog; resolves with the chosen path. A cancelled dialog is never answered,
  // so nothing follows it (the dialog is modal: the user may take any time to choose).
  async function choosePath(funcname) {
    const result = await query({ funcname }, { timeoutMs: Infinity });
    return result.ok ? result.text : '';
  }

  vexa.profiles = {
    // What other screens use.
    reload: () => loadAll(), state, withPackageExtension,
    // What the screen's other parts use (profilemacros.js adds addTake).
    DEFAULT_PROFILE, parse, child, usedNames, anyDirty, macrosOf, keysOf, otherProfiles, readPlace, loadAll, changed, writeWhole,
    setValue, save, markAllSaved, discard, settleUnsaved, selectPlace, submitName, startNew, deleteCurrent,
    resetCurrent, writeValue, loadPads, applyToPad, exportPackage, importPackage, choosePath,
  };
})(window.vexaModules = window.vexaModules || {});
