// Modes screen: the modes of the mode-binding file with their bound programs, and a live
// "running" mark from the process monitor's "onProcessChanged" events (mode index, state).
(function (vexa) {
  'use strict';

  const { el } = vexa.util;
  const { query } = vexa.bridge;
  const { t } = vexa.i18n;
  const { failureMessage } = vexa.messages;
  const { onEvent, eventStore } = vexa.events;

  const CONFIGURATION = 'view/xml/configuration.xml';
  const running = new Map(); // mode index → running

  let root = null;
  let started = false;

  function remember(entry) {
    if (entry.name !== 'onProcessChanged') return false;
    const [index, state] = entry.values;
    running.set(String(index), state === true || state === 'true' || state === 1);
    return true;
  }

  function mark(row) {
    const on = running.get(row.dataset.index) === true;
    row.dataset.running = String(on);
    row.querySelector('.mode-state').textContent = on ? t('modes.running') : '';
  }

  function programName(path) {
    const parts = path.split(/[\\/]/);
    return parts[parts.length - 1];
  }

  async function load() {
    const list = root.querySelector('#mode-list');
    const line = root.querySelector('#modes-status');
    const command = { funcname: 'queryProfile', filePath: CONFIGURATION, xpath: '/conf/modeSetting/modes/mode' };
    const result = await query(command, { timeoutMs: 4000 });
    list.replaceChildren();
    if (result.pending) result.cancel();
    if (!result.ok) {
      line.textContent = failureMessage(command, result);
      return;
    }
    const doc = new DOMParser().parseFromString(`<modes>${result.text}</modes>`, 'application/xml');
    const modes = Array.from(doc.documentElement.children);
    for (const mode of modes) {
      const index = mode.getAttribute('index') || '';
      const path = mode.getAttribute('bindingProcess') || '';
      const row = el('li', { className: 'mode-row', dataset: { index } }, [
        el('span', { className: 'mode-index', text: index }),
        el('span', { className: 'mode-name', text: mode.getAttribute('name') || t('modes.mode', { n: index }), elide: true }),
        el('span', { className: 'mode-program', attrs: { title: path } }, [
          path ? el('strong', { text: programName(path), elide: true }) : el('em', { t: 'modes.unbound' }),
          path ? el('span', { className: 'mode-path', text: path, elide: true }) : null,
        ]),
        el('span', { className: 'mode-state', attrs: { 'aria-live': 'polite' } }),
      ]);
      mark(row);
      list.append(row);
    }
    line.textContent = t('modes.summary', { n: modes.length, bound: modes.filter((m) => m.getAttribute('bindingProcess')).length });
  }

  function build() {
    const reload = el('button', { className: 'btn btn-quiet', attrs: { type: 'button', id: 'modes-reload' },
      on: { click: load }, t: 'common.reload' });
    root.replaceChildren(
      el('div', { className: 'profiles-bar' }, [
        el('h2', { className: 'field-label', t: 'modes.title' }),
        el('span', { className: 'profiles-status', attrs: { id: 'modes-status', role: 'status' } }),
        reload,
      ]),
      el('ol', { className: 'mode-list', attrs: { id: 'mode-list' } }),
    );
  }

  function init(doc) {
    root = doc.getElementById('screen-modes');
    doc.addEventListener('languagechanged', () => { if (started && !root.hidden) load(); });
    // Events that came before the screen was first shown still count.
    eventStore.events.forEach(remember);
    onEvent((entry) => {
      if (!remember(entry) || !started) return;
      root.querySelectorAll('.mode-row').forEach(mark);
    });
    doc.addEventListener('screenshown', (event) => {
      if (event.detail.screen !== 'modes') return;
      if (!started) { started = true; build(); }
      load();
    });
  }

  init(document);
})(window.vexaModules = window.vexaModules || {});
