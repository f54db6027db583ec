// Modes screen: the modes of the mode-binding file, the program bound to each, which mode is
// current (used while no bound program runs) and which one is active now. Binding, unbinding and
// choosing the current mode write the file and restart the process monitor ("confChanged"), so a
// change counts at once; the monitor's "onProcessChanged" events (mode index, state) mark the
// running programs.
(function (vexa) {
  'use strict';

  const { el } = vexa.util;
  const { query, command } = vexa.bridge;
  const { t } = vexa.i18n;
  const { failureMessage } = vexa.messages;
  const { onEvent, eventStore } = vexa.events;
  const bind = vexa.modeBind;

  // The restarted monitor scans 3 s after it starts; a program it has not reported again by
  // then no longer runs (or is no longer bound).
  const RESTART_SETTLE_MS = 5000;

  let running = bind.emptyRunning();
  let modes = [];
  let current = '';
  let root = null;
  let started = false;
  let busy = false;
  let settleTimer = 0;

  function remember(entry) {
    if (entry.name !== 'onProcessChanged') return false;
    const [index, state] = entry.values;
    running = bind.processChanged(running, index, state === true || state === 'true' || state === 1);
    return true;
  }

  function status(text, tone) {
    const line = root.querySelector('#modes-status');
    line.textContent = text;
    line.dataset.tone = tone || 'muted';
  }


  // The profile's reply as plain elements (see modebind.js); whitespace between elements is not
  // content (the program drops it when it reads the file).
  function plain(node) {
    if (node.nodeType === Node.TEXT_NODE || node.nodeType === Node.CDATA_SECTION_NODE) {
      return node.data.trim() ? { text: node.data } : null;
    }
    if (node.nodeType !== Node.ELEMENT_NODE) return null;
    return {
      name: node.tagName,
      attributes: Array.from(node.attributes, (a) => [a.name, a.value]),
      children: Array.from(node.childNodes, plain).filter(Boolean),
    };
  }

  // The configuration's root element as the program holds it now: { conf, groups, current }.
  async function readConfiguration() {
    const object = { funcname: 'queryProfile', filePath: bind.CONFIGURATION, xpath: bind.CONF_XPATH };
    const result = await command(object);
    if (!result.ok) return result;
    const doc = new DOMParser().parseFromString(result.text, 'application/xml');
    if (!result.text.trim() || doc.querySelector('parsererror')) return { ok: false, message: t('modes.noFile') };
    const conf = plain(doc.documentElement);
    const settings = conf.children.filter((c) => c.name === 'modeSetting');
    const groups = settings.flatMap((s) => s.children.filter((c) => c.name === 'modes'));
    const currentAttribute = settings.length ? settings[0].attributes.find(([n]) => n === 'current') : null;
    return { ok: true, conf, groups, current: currentAttribute ? currentAttribute[1] : '' };
  }

  function modeName(mode) {
    return mode.name || t('modes.mode', { n: mode.index || mode.position });
  }

  // Marks the running rows and the active one, and says which mode is active and why.
  function mark() {
    if (!started) return;
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
      el('span', { className: 'mode-name', text: modeName(mode), elide: true, attrs: { id: nameId } }),
      el('span', { className: 'mode-program' }, mode.path ? [
        // The program's name, and its whole path on hover (the path line below may be cut).
        el('strong', { className: 'mode-file', text: bind.programName(mode.path), elide: true, attrs: { title: mode.path } }),
        el('span', { className: 'mode-path', text: mode.path, elide: true }),
      ] : [el('em', { t: 'modes.unbound' })]),
      el('span', { className: 'mode-state', attrs: { 'aria-live': 'polite' } }, [
        el('span', { className: 'mode-running' }),
        el('span', { className: 'mode-active', t: 'modes.active', attrs: { hidden: true } }),
      ]),
      el('span', { className: 'mode-actions' }, [
        button('bind', 'modes.bind', () => chooseProgram(mode)),
        // Kept (disabled) on unbound rows, so the buttons of all rows line up.
        button('unbind', 'modes.unbind', () => unbindProgram(mode), !mode.path),
      ]),
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
      running = bind.monitorRestarted(running);
      clearTimeout(settleTimer);
      settleTimer = setTimeout(() => { running = bind.settle(running); mark(); }, RESTART_SETTLE_MS);
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
      el('p', { className: 'modes-hint', t: 'modes.hint', attrs: { id: 'modes-hint' } }),
      el('ol', { className: 'mode-list', attrs: { id: 'mode-list', 'aria-labelledby': 'modes-title',
        'aria-describedby': 'modes-hint' } }),
    );
  }

  function init(doc) {
    root = doc.getElementById('screen-modes');
    doc.addEventListener('languagechanged', () => { if (started && !root.hidden) loadWithSummary(); });
    // Events that came before the screen was first shown still count.
    eventStore.events.forEach(remember);
    onEvent((entry) => {
      if (remember(entry)) mark();
    });
    doc.addEventListener('screenshown', (event) => {
      if (event.detail.screen !== 'modes') return;
      if (!started) { started = true; build(); }
      loadWithSummary();
    });
  }

  init(document);
})(window.vexaModules = window.vexaModules || {});
