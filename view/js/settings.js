// Settings screen: the program's own settings ("getConf" / "setConf"): start with the session,
// the two global shortcuts with whether the system let us have them (a pressed combination is
// only kept from other programs: the program gives it no action; one the desktop commonly uses
// is taken only after a question, shortcuts.js), the language of this page and of the tray menu,
// and what closing the window does; and the page's own Advanced switch. Every change is saved at
// once, one setting at a time.
(function (vexa) {
  'use strict';

  const { el } = vexa.util;
  const { query } = vexa.bridge;
  const { t } = vexa.i18n;
  const { failureMessage } = vexa.messages;
  const { desktopUse } = vexa.shortcuts;

  const { LANGUAGES } = vexa.languages;
  // Both combinations are held for the program while it runs and do nothing when pressed; each
  // row says what its combination was meant for.
  const SHORTCUTS = [
    ['showConf', 'set.shortcut1', 'set.shortcut1Help'],
    ['testTool', 'set.shortcut2', 'set.shortcut2Help'],
  ];

  // Keys the native side can reserve, named the way its settings file writes them.
  const NAMED_KEYS = {
    Space: 'Space', Escape: 'Esc', Tab: 'Tab', Backspace: 'Backspace', Enter: 'Return',
    NumpadEnter: 'Enter', Insert: 'Ins', Delete: 'Del', Pause: 'Pause', PrintScreen: 'Print',
    Home: 'Home', End: 'End', ArrowLeft: 'Left', ArrowUp: 'Up', ArrowRight: 'Right',
    ArrowDown: 'Down', PageUp: 'PgUp', PageDown: 'PgDown', NumpadMultiply: '*', NumpadAdd: '+',
    NumpadDecimal: ',', NumpadSubtract: '-', NumpadDivide: '/',
    AudioVolumeDown: 'Volume Down', AudioVolumeMute: 'Volume Mute', AudioVolumeUp: 'Volume Up',
    MediaPlayPause: 'Media Play', MediaStop: 'Media Stop', MediaTrackPrevious: 'Media Previous',
    MediaTrackNext: 'Media Next',
  };
  const MODIFIER_CODES = /^(Control|Alt|Shift|Meta|OS)(Left|Right)?$/;

  let root = null;
  let started = false;
  let settings = null; // the last "getConf" object

  /** A key press as key sequence text ("Ctrl+Alt+K"); '' while only modifiers are down, null
   *  for a key that cannot be reserved. */
  function sequenceText(event) {
    if (MODIFIER_CODES.test(event.code)) return '';
    let key = null;
    const code = event.code;
    if (/^Key[A-Z]$/.test(code)) key = code.slice(3);
    else if (/^Digit[0-9]$/.test(code)) key = code.slice(5);
    else if (/^F([1-9]|1[0-9]|2[0-4])$/.test(code)) key = code;
    else if (NAMED_KEYS[code]) key = NAMED_KEYS[code];
    if (!key) return null;
    const parts = [];
    if (event.ctrlKey) parts.push('Ctrl');
    if (event.altKey) parts.push('Alt');
    if (event.shiftKey) parts.push('Shift');
    if (event.metaKey) parts.push('Meta');
    parts.push(key);
    return parts.join('+');
  }

  /** "Ctrl+Alt+K,\u0001" → { sequence: 'Ctrl+Alt+K', registered: true } */
  function shortcutValue(text) {
    const value = String(text || '');
    const comma = value.lastIndexOf(',');
    if (comma < 0 || comma !== value.length - 2) return { sequence: value, registered: false };
    return { sequence: value.slice(0, comma), registered: value.charCodeAt(comma + 1) === 1 };
  }

  // Notes sit in a line of their own that is always there, so a note never moves the rows.
  function setNote(row, text, tone) {
    const note = row.querySelector('.setting-note');
    note.textContent = text;
    note.title = text;
    note.dataset.tone = tone || '';
  }

  function missing(row) {
    row.querySelectorAll('input, select, button').forEach((control) => { control.disabled = true; });
    setNote(row, t('set.missing'), 'warn');
  }

  async function save(key, value, row) {
    setNote(row, t('common.saving'), '');
    const command = { funcname: 'setConf', confKey: key, confValue: value };
    const result = await query(command, { timeoutMs: 4000 });
    if (result.pending) result.cancel();
    if (!result.ok) { setNote(row, failureMessage(command, result), 'bad'); return null; }
    if (settings) settings[key] = value;
    return result.text;
  }

  // state: 'on' (held), 'off' (wanted but not held), 'none' (cleared: nothing is held).
  const BADGES = { on: 'set.reserved', off: 'set.unavailable', none: 'set.noShortcut' };
  function showShortcutState(row, state) {
    const badge = row.querySelector('.shortcut-state');
    badge.dataset.state = state;
    badge.textContent = t(BADGES[state]);
    badge.title = t(BADGES[state] + 'Title');
    row.querySelector('.shortcut-clear').disabled = state === 'none';
  }
  const stateOf = (sequence, registered) => (!sequence ? 'none' : registered ? 'on' : 'off');

  function shortcutRow([key, label, help]) {
    const field = el('input', {
      className: 'shortcut-field',
      tPlaceholder: 'set.press',
      attrs: { id: `setting-${key}`, readonly: true, spellcheck: 'false',
        'aria-describedby': `setting-${key}-help setting-${key}-note` },
    });
    const row = el('div', { className: 'setting-row', dataset: { key } }, [
      el('div', { className: 'setting-text' }, [
        el('label', { className: 'setting-label', t: label, attrs: { for: `setting-${key}` } }),
        el('span', { className: 'setting-help', t: help, attrs: { id: `setting-${key}-help` } }),
      ]),
      el('div', { className: 'setting-control' }, [
        field,
        el('span', { className: 'shortcut-state', attrs: { role: 'status' } }),
        // The way to give the combination back to the desktop: no key press can mean "none".
        el('button', { className: 'btn btn-quiet shortcut-clear', t: 'set.clearShortcut', attrs: { type: 'button' },
          on: { click: () => clear() } }),
      ]),
      el('span', { className: 'setting-note', attrs: { id: `setting-${key}-note`, 'aria-live': 'polite' } }),
    ]);
    let before = '';
    field.addEventListener('focus', () => { before = field.value; setNote(row, t('set.prompt'), ''); });
    field.addEventListener('blur', () => { field.value = before; if (row.querySelector('.setting-note').textContent === t('set.prompt')) setNote(row, ''); });
    field.addEventListener('keydown', async (event) => {
      if (event.key === 'Tab' && !event.ctrlKey && !event.altKey && !event.metaKey) return;
      event.preventDefault();
      if (event.code === 'Escape' && !event.ctrlKey && !event.altKey && !event.shiftKey) { field.blur(); return; }
      const text = sequenceText(event);
      if (text === '') return; // modifiers only so far
      if (text === null) { setNote(row, t('set.badKey'), 'warn'); return; }
      if (!/\+/.test(text) || /^Shift\+[^+]+$/.test(text)) {
        setNote(row, t('set.needMod'), 'warn');
        return;
      }
      const use = desktopUse(text);
      if (use && !(await vexa.ask.ask({ title: t('set.deskTitle', { keys: text }),
        text: `${t(use, { keys: text })} ${t('set.deskText', { keys: text })}`, yes: t('set.deskYes') }))) {
        setNote(row, t('set.deskNotTaken', { keys: text }), '');
        return;
      }
      before = text;
      field.value = text;
      field.blur();
      const reply = await save(key, text, row);
      if (reply === null) return;
      const registered = reply.charCodeAt(0) === 1;
      showShortcutState(row, stateOf(text, registered));
      setNote(row, t(registered ? 'set.shortcutSaved' : 'set.shortcutTaken', { keys: text }), registered ? 'ok' : 'warn');
    });
    async function clear() {
      if ((await save(key, '', row)) === null) return;
      before = '';
      field.value = '';
      showShortcutState(row, 'none');
      setNote(row, t('set.shortcutCleared'), 'ok');
    }
    return row;
  }

  function autostartRow() {
    const box = el('input', { attrs: { type: 'checkbox', id: 'setting-autoStart' } });
    const row = el('div', { className: 'setting-row', dataset: { key: 'autoStart' } }, [
      el('div', { className: 'setting-text' }, [
        el('label', { className: 'setting-label', t: 'set.autostart', attrs: { for: 'setting-autoStart' } }),
        el('span', { className: 'setting-help', t: 'set.autostartHelp' }),
      ]),
      el('div', { className: 'setting-control' }, [el('label', { className: 'switch' }, [box, el('span', { className: 'switch-track' })])]),
      el('span', { className: 'setting-note', attrs: { 'aria-live': 'polite' } }),
    ]);
    box.addEventListener('change', async () => {
      const value = box.checked ? 'true' : 'false';
      if (await save('autoStart', value, row) !== null) setNote(row, t(box.checked ? 'common.on' : 'common.off'), 'ok');
      else box.checked = !box.checked;
    });
    return row;
  }

  function languageRow() {
    const select = el('select', { attrs: { id: 'setting-language' } },
      LANGUAGES.map(({ code, name }) => el('option', { text: name, attrs: { value: code } })));
    const row = el('div', { className: 'setting-row', dataset: { key: 'language' } }, [
      el('div', { className: 'setting-text' }, [
        el('label', { className: 'setting-label', t: 'set.language', attrs: { for: 'setting-language' } }),
        el('span', { className: 'setting-help', t: 'set.languageHelp' }),
      ]),
      el('div', { className: 'setting-control' }, [select]),
      el('span', { className: 'setting-note', attrs: { 'aria-live': 'polite' } }),
    ]);
    select.addEventListener('change', async () => {
      if (await save('language', select.value, row) === null) return;
      // The whole page follows at once: marked texts change in place, screens redraw the rest.
      vexa.i18n.setLanguage(select.value);
      vexa.i18n.apply(document);
      document.dispatchEvent(new CustomEvent('languagechanged'));
      setNote(row, t('common.saved'), 'ok');
    });
    return row;
  }

  function closeRow() {
    const choices = [['hide', 'set.closeHide'], ['closeapp', 'set.closeQuit']];
    const group = el('div', { className: 'choice-group', attrs: { role: 'radiogroup', 'aria-labelledby': 'setting-closeFunc-label' } },
      choices.map(([value, text]) => el('label', { className: 'choice' }, [
        el('input', { attrs: { type: 'radio', name: 'closeFunc', value } }),
        el('span', { t: text }),
      ])));
    const row = el('div', { className: 'setting-row', dataset: { key: 'closeFunc' } }, [
      el('div', { className: 'setting-text' }, [
        el('span', { className: 'setting-label', t: 'set.close', attrs: { id: 'setting-closeFunc-label' } }),
        el('span', { className: 'setting-help', t: 'set.closeHelp' }),
      ]),
      el('div', { className: 'setting-control' }, [group]),
      el('span', { className: 'setting-note', attrs: { 'aria-live': 'polite' } }),
    ]);
    group.addEventListener('change', async (event) => {
      if (await save('closeFunc', event.target.value, row) !== null) setNote(row, t('common.saved'), 'ok');
    });
    return row;
  }

  // Where the desktop has no tray, closing only minimises: Exit is here instead of in its menu.
  function exitRow() {
    const row = el('div', { className: 'setting-row', dataset: { page: 'exit' } }, [
      el('div', { className: 'setting-text' }, [
        el('span', { className: 'setting-label', t: 'win.exit' }),
        el('span', { className: 'setting-help', t: 'set.exitHelp' }),
      ]),
      el('div', { className: 'setting-control' }, [
        el('button', { className: 'btn', t: 'win.exit', attrs: { type: 'button', id: 'setting-exit' }, on: { click: () => vexa.titlebar.exit() } }),
      ]),
    ]);
    const follow = () => { row.hidden = !vexa.titlebar.noTray(); };
    follow();
    document.addEventListener('traychanged', follow);
    return row;
  }

  // Not a setting of the program: the page keeps it (advanced.js).
  function advancedRow() {
    const box = el('input', { attrs: { type: 'checkbox', id: 'setting-advanced', 'aria-describedby': 'setting-advanced-help' } });
    box.checked = vexa.advanced.isOn();
    const row = el('div', { className: 'setting-row', dataset: { page: 'advanced' } }, [
      el('div', { className: 'setting-text' }, [
        el('label', { className: 'setting-label', t: 'set.advanced', attrs: { for: 'setting-advanced' } }),
        el('span', { className: 'setting-help', t: 'set.advancedHelp', attrs: { id: 'setting-advanced-help' } }),
      ]),
      el('div', { className: 'setting-control' }, [el('label', { className: 'switch' }, [box, el('span', { className: 'switch-track' })])]),
      el('span', { className: 'setting-note', attrs: { 'aria-live': 'polite' } }),
    ]);
    box.addEventListener('change', () => {
      const kept = vexa.advanced.set(box.checked);
      if (kept) setNote(row, t(box.checked ? 'common.on' : 'common.off'), 'ok');
      else setNote(row, t('set.advancedNotKept'), 'warn');
    });
    return row;
  }

  function fill() {
    const rows = root.querySelectorAll('.setting-row[data-key]');
    rows.forEach((row) => setNote(row, ''));
    for (const row of rows) {
      const key = row.dataset.key;
      if (!(key in settings)) { missing(row); continue; }
      row.querySelectorAll('input, select, button').forEach((control) => { control.disabled = false; });
      const value = settings[key];
      if (key === 'autoStart') row.querySelector('input').checked = value === 'true';
      else if (key === 'language') {
        const select = row.querySelector('select');
        if (!Array.from(select.options).some((o) => o.value === value)) {
          select.append(el('option', { text: value || '(none)', attrs: { value } }));
        }
        select.value = value;
      } else if (key === 'closeFunc') {
        // Anything but "closeapp" keeps the program in the tray.
        const choice = value === 'closeapp' ? 'closeapp' : 'hide';
        row.querySelector(`input[value="${choice}"]`).checked = true;
      } else {
        const { sequence, registered } = shortcutValue(value);
        row.querySelector('input').value = sequence;
        showShortcutState(row, stateOf(sequence, registered));
      }
    }
    const version = root.querySelector('#settings-version');
    version.textContent = settings.version ? t('set.version', { v: settings.version }) : '';
  }

  async function load() {
    const line = root.querySelector('#settings-status');
    line.textContent = t('set.reading');
    line.dataset.tone = '';
    const command = { funcname: 'getConf' };
    const result = await query(command, { timeoutMs: 4000 });
    if (result.pending) result.cancel();
    if (!result.ok) {
      line.textContent = failureMessage(command, result);
      line.dataset.tone = 'bad';
      root.querySelector('.settings-list').hidden = true;
      return;
    }
    try {
      settings = JSON.parse(result.text)[0] || {};
    } catch (_) {
      line.textContent = t('set.odd');
      line.dataset.tone = 'bad';
      return;
    }
    root.querySelector('.settings-list').hidden = false;
    line.textContent = '';
    fill();
  }

  function build() {
    root.replaceChildren(
      el('section', { className: 'panel settings-panel', attrs: { 'aria-labelledby': 'settings-title' } }, [
        el('div', { className: 'panel-head' }, [
          el('h2', { t: 'set.title', attrs: { id: 'settings-title' } }),
          el('span', { className: 'panel-meta', attrs: { id: 'settings-version' } }),
          el('button', { className: 'btn btn-quiet', t: 'common.reload', attrs: { type: 'button', id: 'settings-reload' }, on: { click: load } }),
        ]),
        el('p', { className: 'settings-status', attrs: { id: 'settings-status', role: 'status' } }),
        el('div', { className: 'settings-list' }, [
          el('h3', { className: 'settings-group', t: 'set.grp.startup' }),
          autostartRow(),
          el('h3', { className: 'settings-group', t: 'set.grp.shortcuts' }),
          ...SHORTCUTS.map(shortcutRow),
          el('h3', { className: 'settings-group', t: 'set.grp.interface' }),
          languageRow(),
          closeRow(),
          exitRow(),
          advancedRow(),
        ]),
      ]),
    );
  }

  function retranslate() {
    if (!started || !settings) return;
    // Notes from before the change would stay in the old language.
    root.querySelectorAll('.setting-row:not([data-key=language])').forEach((row) => setNote(row, ''));
    for (const row of root.querySelectorAll('.setting-row[data-key]')) {
      const badge = row.querySelector('.shortcut-state');
      if (badge && badge.dataset.state) showShortcutState(row, badge.dataset.state);
    }
    const version = root.querySelector('#settings-version');
    version.textContent = settings.version ? t('set.version', { v: settings.version }) : '';
  }

  function init(doc) {
    root = doc.getElementById('screen-settings');
    if (!root) return;
    doc.addEventListener('languagechanged', retranslate);
    doc.addEventListener('screenshown', (event) => {
      if (event.detail.screen !== 'settings') return;
      if (!started) { started = true; build(); }
      load();
    });
  }

  vexa.settings = { sequenceText, shortcutValue };
  init(document);
})(window.vexaModules = window.vexaModules || {});
