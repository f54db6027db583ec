// Modes screen: the modes of the mode-binding file, the program bound to each, the profile each
// gives the pad, which mode is current (used while no bound program runs) and which one is active
// now. Binding, unbinding, choosing a profile and choosing the current mode write the file and
// restart the process monitor ("confChanged"), so a change counts at once; which programs run
// ("onProcessChanged") and what the pad holds come from the mode switcher (modeswitch.js).
(function (vexa) {
  'use strict';

  const { el } = vexa.util;
  const { query, command } = vexa.bridge;
  const { t } = vexa.i18n;
  const { failureMessage } = vexa.messages;
  const bind = vexa.modeBind;
  const modeSwitch = vexa.modeSwitch;
  const model = vexa.profilemodel;

  let modes = [];
  let profiles = []; // the places in use: { file, name }
  let current = '';
  let root = null;
  let started = false;
  let busy = false;

  function status(text, tone) {
    const line = root.querySelector('#modes-status');
    line.textContent = text;
    line.dataset.tone = tone || 'muted';
  }


  const readConfiguration = () => modeSwitch.readConfiguration();

  // The places in use, by file name, for the profile choices.
  async function readProfiles() {
    const out = [];
    for (let i = 0; i < model.PLACES; i++) {
      const file = `profile${i + 1}.xml`;
      const r = await command({ funcname: 'queryProfile', filePath: `view/profiles/${file}`, xpath: '/profile' });
      const top = r.ok ? new DOMParser().parseFromString(r.text || '', 'application/xml').documentElement : null;
      const name = top && top.tagName === 'profile' ? (top.getAttribute('name') || '').trim() : '';
      if (name) out.push({ file, name });
    }
    return out;
  }

  function modeName(mode) {
    return mode.name || t('modes.mode', { n: mode.index || mode.position });
  }

  // Marks the running rows and the active one, and says which mode is active and why.
  function mark() {
    if (!started) return;
    const running = modeSwitch.switcher.running;
    const active = bind.activeMode(running, current);
    for (const row of root.querySelectorAll('.mode-row')) {
      const on = running.order.includes(row.dataset.index);
      const isActive = row.dataset.index === active.index;
      row.dataset.running = String(on);
      row.dataset.active = String(isActive);
      row.querySelector('.mode-running').textContent = on ? t('modes.running') : '';
      row.querySelector('.mode-active').hidden = !isActive;
    }
    const line = root.querySelector('#modes-active');
    const mode = modes.find((m) => m.index === active.index);
    if (!mode) {
      line.textContent = '';
    } else if (active.byProgram) {
      line.textContent = t('modes.activeByProgram', { name: modeName(mode), program: bind.programName(mode.path) });
    } else {
      line.textContent = t('modes.activeChosen', { name: modeName(mode) });
    }
  }

  function showCurrent() {
    root.querySelectorAll('.mode-current').forEach((radio) => { radio.checked = radio.value === current; });
  }

  function row(mode) {
    const nameId = `mode-name-${mode.position}`;
    const radio = el('input', {
      className: 'mode-current',
      attrs: { type: 'radio', name: 'mode-current', value: mode.index, checked: mode.index === current,
        'aria-label': t('modes.currentOf', { name: modeName(mode) }) },
      dataset: { action: 'current' },
      on: { change: () => chooseCurrent(mode) },
    });
    const button = (action, key, handler, disabled = false) => el('button', {
      className: 'btn btn-quiet', t: key,
      attrs: { type: 'button', 'aria-describedby': nameId, disabled },
      dataset: { action },
      on: { click: handler },
    });
    return el('li', { className: 'mode-row', dataset: { index: mode.index, position: String(mode.position) } }, [
      radio,
      el('span', { className: 'mode-index', text: mode.index }),
      // The name, and under it whether the mode's program runs and whether the mode is active.
      el('span', { className: 'mode-title' }, [
        el('span', { className: 'mode-name', text: modeName(mode), elide: true, attrs: { id: nameId } }),
        el('span', { className: 'mode-state', attrs: { 'aria-live': 'polite' } }, [
          el('span', { className: 'mode-running' }),
          el('span', { className: 'mode-active', t: 'modes.active', attrs: { hidden: true } }),
        ]),
      ]),
      el('span', { className: 'mode-program' }, mode.path ? [
        // The program's name, and its whole path on hover (the path line below may be cut).
        el('strong', { className: 'mode-file', text: bind.programName(mode.path), elide: true, attrs: { title: mode.path } }),
        el('span', { className: 'mode-path', text: mode.path, elide: true }),
      ] : [el('em', { className: 'elide', t: 'modes.unbound' })]),
      profileSelect(mode, nameId),
      el('span', { className: 'mode-actions' }, [
        button('bind', 'modes.bind', () => chooseProgram(mode)),
        // Kept (disabled) on unbound rows, so the buttons of all rows line up.
        button('unbind', 'modes.unbind', () => unbindProgram(mode), !mode.path),
      ]),
    ]);
  }

  // The profile the mode gives the pad: one of the places in use, or none (the pad stays as it
  // is). A link to a place that is no longer in use shows as such until changed.
  function profileSelect(mode, nameId) {
    const selectId = `mode-profile-${mode.position}`;
    const options = [el('option', { t: 'modes.noProfile', attrs: { value: '' } })];
    for (const p of profiles) options.push(el('option', { text: p.name, attrs: { value: p.file } }));
    if (mode.profile && !profiles.some((p) => p.file === mode.profile)) {
      options.push(el('option', { t: 'modes.profileGone', attrs: { value: mode.profile } }));
    }
    const select = el('select', {
      className: 'mode-profile-select',
      attrs: { id: selectId, 'aria-describedby': nameId },
      dataset: { action: 'profile' },
      on: { change: () => chooseProfile(mode, select.value) },
    }, options);
    select.value = mode.profile;
    return el('span', { className: 'mode-profile' }, [
      el('label', { className: 'mode-profile-label', t: 'modes.profile', attrs: { for: selectId } }),
      select,
    ]);
  }

  async function load() {
    const list = root.querySelector('#mode-list');
    // A row's control keeps the focus across the redraw (Enter on "Unbind" removes that button:
    // the focus then goes to the row's other button).
    const focused = list.contains(document.activeElement) ? document.activeElement : null;
    const focusRow = focused && focused.closest('.mode-row') ? focused.closest('.mode-row').dataset.position : null;
    const focusAction = focused ? focused.dataset.action : null;

    const read = await readConfiguration();
    profiles = await readProfiles();
    list.replaceChildren();
    if (!read.ok) {
      modes = [];
      status(read.message, 'bad');
      mark();
      return false;
    }
    modes = bind.listModes(read.groups);
    current = read.current;
    list.append(...modes.map(row));
    if (focusRow) {
      const target = [focusAction, 'bind']
        .map((action) => list.querySelector(`.mode-row[data-position="${focusRow}"] [data-action="${action}"]`))
        .find((control) => control && !control.disabled);
      if (target) target.focus();
    }
    mark();
    root.dataset.loaded = 'true';
    return true;
  }

  async function loadWithSummary() {
    if (await load()) {
      status(t('modes.summary', { n: modes.length, bound: modes.filter((m) => m.path).length }));
    }
  }

  // Writes one change, then "confChanged": the program saves every changed profile file (this
  // one and any the Profiles screen left unsaved) and restarts the process monitor.
  async function write(object, done) {
    if (busy) return;
    busy = true;
    root.querySelector('#mode-list').setAttribute('aria-busy', 'true');
    status(t('common.saving'));
    try {
      let result = await command(object);
      if (result.ok) result = await command({ funcname: 'confChanged' });
      if (!result.ok) {
        status(t('modes.notSaved', { reason: result.message }), 'bad');
        await load();
        return;
      }
      document.dispatchEvent(new CustomEvent('profilefilessaved'));
      modeSwitch.configurationChanged();
      await load();
      status(done, 'ok');
    } finally {
      busy = false;
      root.querySelector('#mode-list').removeAttribute('aria-busy');
    }
  }

  // The mode as the program holds it now, with the plain elements a write needs.
  async function fresh(mode) {
    const read = await readConfiguration();
    if (!read.ok) return read;
    const now = bind.listModes(read.groups).find((m) => m.position === mode.position);
    if (!now) return { ok: false, message: t('modes.gone') };
    return { ...read, mode: now, modes: bind.listModes(read.groups) };
  }

  async function chooseProgram(mode) {
    if (busy) return;
    status(t('modes.choose', { name: modeName(mode) }));
    // The program dialog is modal and a cancelled one never answers: no time limit. A chosen
    // path arrives as the dialog closes, so a window that has its focus back for a moment with
    // no answer means the dialog was cancelled; say so rather than keep asking to choose.
    let answered = false;
    const cancelled = () => setTimeout(() => { if (!answered) status(t('modes.noChoice')); }, 500);
    window.addEventListener('focus', cancelled, { once: true });
    const chosen = await query({ funcname: 'openFileDialogExe' }, { timeoutMs: Infinity });
    answered = true;
    window.removeEventListener('focus', cancelled);
    if (!chosen.ok) {
      if (!chosen.cancelled) status(failureMessage({ funcname: 'openFileDialogExe' }, chosen), 'bad');
      return;
    }
    const path = chosen.text;
    const read = await fresh(mode);
    if (!read.ok) return status(t('modes.notSaved', { reason: read.message }), 'bad');
    const program = bind.programName(path);
    if (read.mode.path === path) return status(t('modes.already', { program, name: modeName(read.mode) }), 'ok');
    const other = bind.otherBinding(read.modes, read.mode.position, path);
    if (other) return status(t('modes.duplicate', { program, other: modeName(other) }), 'bad');
    const group = read.groups[read.mode.group - 1];
    await write(bind.bindingCommand(group, read.mode.group, read.mode.child, path),
      t('modes.boundDone', { program, name: modeName(read.mode) }));
  }

  async function unbindProgram(mode) {
    if (busy) return;
    const read = await fresh(mode);
    if (!read.ok) return status(t('modes.notSaved', { reason: read.message }), 'bad');
    const object = bind.bindingCommand(read.groups[read.mode.group - 1], read.mode.group, read.mode.child, '');
    if (!object) return loadWithSummary();
    await write(object, t('modes.unboundDone', { name: modeName(read.mode) }));
  }

  async function chooseProfile(mode, file) {
    if (busy) return load();
    const read = await fresh(mode);
    if (!read.ok) return status(t('modes.notSaved', { reason: read.message }), 'bad');
    const object = bind.profileCommand(read.groups[read.mode.group - 1], read.mode.group, read.mode.child, file);
    if (!object) return loadWithSummary();
    const chosen = profiles.find((p) => p.file === file);
    await write(object, chosen ? t('modes.profileDone', { profile: chosen.name, name: modeName(read.mode) })
      : t('modes.profileNone', { name: modeName(read.mode) }));
  }

  async function chooseCurrent(mode) {
    if (busy) {
      showCurrent();
      return;
    }
    const read = await readConfiguration();
    if (!read.ok) return status(t('modes.notSaved', { reason: read.message }), 'bad');
    const object = bind.currentCommand(read.conf, mode.index);
    if (!object) return status(t('modes.notSaved', { reason: t('modes.noFile') }), 'bad');
    await write(object, t('modes.currentDone', { name: modeName(mode) }));
  }

  function build() {
    const reload = el('button', { className: 'btn btn-quiet', attrs: { type: 'button', id: 'modes-reload' },
      on: { click: loadWithSummary }, t: 'common.reload' });
    root.replaceChildren(
      el('div', { className: 'profiles-bar' }, [
        el('h2', { className: 'field-label', t: 'modes.title', attrs: { id: 'modes-title' } }),
        el('span', { className: 'profiles-status', attrs: { id: 'modes-status', role: 'status' } }),
        reload,
      ]),
      el('p', { className: 'modes-active', attrs: { id: 'modes-active', 'aria-live': 'polite' } }),
      el('p', { className: 'pad-profile-line', attrs: { id: 'modes-pad', 'aria-live': 'polite', 'data-pad-profile': '' } }),
      // Filled by the mode switcher: each pad and what it holds, read back from it.
      el('ul', { className: 'pad-holds', tLabel: 'hold.list', attrs: { id: 'modes-holds', 'data-pad-holds': '' } }),
      el('p', { className: 'modes-hint', t: 'modes.hint', attrs: { id: 'modes-hint' } }),
      // Launcher scripts and Windows games: what the monitor counts as the bound program running.
      el('p', { className: 'modes-hint', t: 'modes.counts', attrs: { id: 'modes-counts' } }),
      el('ol', { className: 'mode-list', attrs: { id: 'mode-list', 'aria-labelledby': 'modes-title',
        'aria-describedby': 'modes-hint modes-counts' } }),
    );
  }

  function init(doc) {
    root = doc.getElementById('screen-modes');
    doc.addEventListener('languagechanged', () => { if (started && !root.hidden) loadWithSummary(); });
    doc.addEventListener('runningchanged', mark);
    doc.addEventListener('screenshown', (event) => {
      if (event.detail.screen !== 'modes') return;
      if (!started) { started = true; build(); }
      loadWithSummary();
      modeSwitch.draw();
    });
  }

  init(document);
})(window.vexaModules = window.vexaModules || {});
