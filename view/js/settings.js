// Settings screen: the program's own settings ("getConf" / "setConf"): start with the session,
// the two global shortcuts with whether the system let us have them, the language of the tray
// menu, and what closing the window does. Every change is saved at once, one setting at a time.
(function (vexa) {
  'use strict';

  const { el } = vexa.util;
  const { query } = vexa.bridge;

  const LANGUAGES = [
    ['en', 'English'], ['zh', '简体中文'], ['zh-TW', '繁體中文 (台灣)'], ['zh-HK', '繁體中文 (香港)'],
    ['de-DE', 'Deutsch'], ['ja', '日本語'], ['ru', 'Русский'], ['ko', '한국어'],
  ];
  const SHORTCUTS = [
    ['showConf', 'Open settings', 'Brings the configuration up from anywhere.'],
    ['testTool', 'Test tool', 'Reserved for the pad test tool.'],
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

  function setNote(row, text, tone) {
    const note = row.querySelector('.setting-note');
    note.textContent = text;
    note.dataset.tone = tone || '';
  }

  function missing(row, key) {
    row.querySelectorAll('input, select, button').forEach((control) => { control.disabled = true; });
    setNote(row, `"${key}" is not in the settings file`, 'warn');
  }

  async function save(key, value, row) {
    setNote(row, 'Saving…', '');
    const result = await query({ funcname: 'setConf', confKey: key, confValue: value }, { timeoutMs: 4000 });
    if (result.pending) { setNote(row, 'No answer from the program', 'bad'); return null; }
    if (!result.ok) { setNote(row, result.text || 'Not saved', 'bad'); return null; }
    if (settings) settings[key] = value;
    return result.text;
  }

  function showShortcutState(row, registered) {
    const badge = row.querySelector('.shortcut-state');
    badge.dataset.state = registered ? 'on' : 'off';
    badge.textContent = registered ? 'Active' : 'Not available';
    badge.title = registered ? 'Works in every program'
      : 'Another program holds this combination, or the key cannot be used';
  }

  function shortcutRow([key, label, help]) {
    const field = el('input', {
      className: 'shortcut-field',
      attrs: { id: `setting-${key}`, readonly: true, spellcheck: 'false', placeholder: 'Press a combination',
        'aria-describedby': `setting-${key}-note` },
    });
    const row = el('div', { className: 'setting-row', dataset: { key } }, [
      el('div', { className: 'setting-text' }, [
        el('label', { className: 'setting-label', text: label, attrs: { for: `setting-${key}` } }),
        el('span', { className: 'setting-help', text: help }),
      ]),
      el('div', { className: 'setting-control' }, [
        field,
        el('span', { className: 'shortcut-state', attrs: { role: 'status' } }),
      ]),
      el('span', { className: 'setting-note', attrs: { id: `setting-${key}-note`, 'aria-live': 'polite' } }),
    ]);
    let before = '';
    field.addEventListener('focus', () => { before = field.value; setNote(row, 'Press the new combination, Esc to keep it', ''); });
    field.addEventListener('blur', () => { field.value = before; if (row.querySelector('.setting-note').textContent.startsWith('Press')) setNote(row, ''); });
    field.addEventListener('keydown', async (event) => {
      if (event.key === 'Tab' && !event.ctrlKey && !event.altKey && !event.metaKey) return;
      event.preventDefault();
      if (event.code === 'Escape' && !event.ctrlKey && !event.altKey && !event.shiftKey) { field.blur(); return; }
      const text = sequenceText(event);
      if (text === '') return; // modifiers only so far
      if (text === null) { setNote(row, 'That key cannot be used for a shortcut', 'warn'); return; }
      if (!/\+/.test(text) || /^Shift\+[^+]+$/.test(text)) {
        setNote(row, 'Add Ctrl, Alt or Meta, or it would take the key from every program', 'warn');
        return;
      }
      before = text;
      field.value = text;
      field.blur();
      const reply = await save(key, text, row);
      if (reply === null) return;
      const registered = reply.charCodeAt(0) === 1;
      showShortcutState(row, registered);
      setNote(row, registered ? `Saved: ${text}` : `Saved, but ${text} is taken by another program`, registered ? 'ok' : 'warn');
    });
    return row;
  }

  function autostartRow() {
    const box = el('input', { attrs: { type: 'checkbox', id: 'setting-autoStart' } });
    const row = el('div', { className: 'setting-row', dataset: { key: 'autoStart' } }, [
      el('div', { className: 'setting-text' }, [
        el('label', { className: 'setting-label', text: 'Start with the system', attrs: { for: 'setting-autoStart' } }),
        el('span', { className: 'setting-help', text: 'Starts hidden in the notification area when you log in.' }),
      ]),
      el('div', { className: 'setting-control' }, [el('label', { className: 'switch' }, [box, el('span', { className: 'switch-track' })])]),
      el('span', { className: 'setting-note', attrs: { 'aria-live': 'polite' } }),
    ]);
    box.addEventListener('change', async () => {
      const value = box.checked ? 'true' : 'false';
      if (await save('autoStart', value, row) !== null) setNote(row, box.checked ? 'On' : 'Off', 'ok');
      else box.checked = !box.checked;
    });
    return row;
  }

  function languageRow() {
    const select = el('select', { attrs: { id: 'setting-language' } },
      LANGUAGES.map(([code, name]) => el('option', { text: name, attrs: { value: code } })));
    const row = el('div', { className: 'setting-row', dataset: { key: 'language' } }, [
      el('div', { className: 'setting-text' }, [
        el('label', { className: 'setting-label', text: 'Language', attrs: { for: 'setting-language' } }),
        el('span', { className: 'setting-help', text: 'Used by the notification-area menu.' }),
      ]),
      el('div', { className: 'setting-control' }, [select]),
      el('span', { className: 'setting-note', attrs: { 'aria-live': 'polite' } }),
    ]);
    select.addEventListener('change', async () => {
      if (await save('language', select.value, row) !== null) setNote(row, 'Saved', 'ok');
    });
    return row;
  }

  function closeRow() {
    const choices = [['hide', 'Keep running in the notification area'], ['closeapp', 'Quit the program']];
    const group = el('div', { className: 'choice-group', attrs: { role: 'radiogroup', 'aria-labelledby': 'setting-closeFunc-label' } },
      choices.map(([value, text]) => el('label', { className: 'choice' }, [
        el('input', { attrs: { type: 'radio', name: 'closeFunc', value } }),
        el('span', { text }),
      ])));
    const row = el('div', { className: 'setting-row', dataset: { key: 'closeFunc' } }, [
      el('div', { className: 'setting-text' }, [
        el('span', { className: 'setting-label', text: 'Closing the window', attrs: { id: 'setting-closeFunc-label' } }),
        el('span', { className: 'setting-help', text: 'What the close button in the title bar does.' }),
      ]),
      el('div', { className: 'setting-control' }, [group]),
      el('span', { className: 'setting-note', attrs: { 'aria-live': 'polite' } }),
    ]);
    group.addEventListener('change', async (event) => {
      if (await save('closeFunc', event.target.value, row) !== null) setNote(row, 'Saved', 'ok');
    });
    return row;
  }

  function fill() {
    const rows = root.querySelectorAll('.setting-row');
    rows.forEach((row) => setNote(row, ''));
    for (const row of rows) {
      const key = row.dataset.key;
      if (!(key in settings)) { missing(row, key); continue; }
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
        showShortcutState(row, registered);
      }
    }
    const version = root.querySelector('#settings-version');
    version.textContent = settings.version ? `Version ${settings.version}` : '';
  }

  async function load() {
    const line = root.querySelector('#settings-status');
    line.textContent = 'Reading settings…';
    line.dataset.tone = '';
    const result = await query({ funcname: 'getConf' }, { timeoutMs: 4000 });
    if (!result.ok) {
      line.textContent = result.pending ? 'No answer from the program' : (result.text || 'Settings cannot be read');
      line.dataset.tone = 'bad';
      root.querySelector('.settings-list').hidden = true;
      return;
    }
    try {
      settings = JSON.parse(result.text)[0] || {};
    } catch (_) {
      line.textContent = 'The settings came back in a form this page does not understand';
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
          el('h2', { text: 'Settings', attrs: { id: 'settings-title' } }),
          el('span', { className: 'panel-meta', attrs: { id: 'settings-version' } }),
          el('button', { className: 'btn btn-quiet', text: 'Reload', attrs: { type: 'button', id: 'settings-reload' }, on: { click: load } }),
        ]),
        el('p', { className: 'settings-status', attrs: { id: 'settings-status', role: 'status' } }),
        el('div', { className: 'settings-list' }, [
          el('h3', { className: 'settings-group', text: 'Start-up' }),
          autostartRow(),
          el('h3', { className: 'settings-group', text: 'Global shortcuts' }),
          ...SHORTCUTS.map(shortcutRow),
          el('h3', { className: 'settings-group', text: 'Interface' }),
          languageRow(),
          closeRow(),
        ]),
      ]),
    );
  }

  function init(doc) {
    root = doc.getElementById('screen-settings');
    if (!root) return;
    doc.addEventListener('screenshown', (event) => {
      if (event.detail.screen !== 'settings') return;
      if (!started) { started = true; build(); }
      load();
    });
  }

  vexa.settings = { sequenceText, shortcutValue };
  init(document);
})(window.vexaModules = window.vexaModules || {});
