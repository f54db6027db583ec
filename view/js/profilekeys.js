// The Profiles screen's buttons: what each of the pad's buttons does, in words, and the picker
// that changes it (its own button, another button, a key with modifiers, a mouse button, a
// macro of the profile, or nothing).
(function (vexa) {
  'use strict';

  const { elide } = vexa.util;
  const { t } = vexa.i18n;
  const model = vexa.profilemodel;
  const { state, macrosOf, keysOf, setValue, changed } = vexa.profiles;
  const { $, h, setFieldError } = vexa.profileView;
  const root = () => vexa.profileView.root();

  function keyName(scan, ext) {
    return vexa.macro ? vexa.macro.keyName(scan, ext) : `0x${scan.toString(16)}`;
  }

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

  // The list is one Tab stop: only the Change button of the button last moved to takes part in
  // the Tab order; the arrow keys (Home, End) move between them as the list shows them.
  let roving = 1;

  function drawButtons() {
    const list = $('profile-keys');
    const hadFocus = list.contains(document.activeElement);
    const keys = keysOf(state.profile);
    if (state.editing) roving = state.editing;
    const rows = model.BUTTONS.map((name, index) => {
      const id = index + 1;
      const key = keys.find((k) => Number(k.id) === id);
      const code = model.parseCode(key ? key.code : '');
      const text = describe(code);
      const change = h('button', {
        type: 'button', className: 'btn btn-quiet', id: `profile-key-${id}-change`, t: 'prof.change',
        'aria-label': t('prof.changeButton', { button: name }), 'aria-expanded': String(state.editing === id),
        'aria-controls': 'profile-key-editor-slot', tabindex: id === roving ? '0' : '-1',
      });
      change.addEventListener('click', () => { state.editing = state.editing === id ? 0 : id; drawButtons(); });
      const editing = state.editing === id;
      return h('li', { className: 'profile-key', dataset: { id: String(id), kind: code ? code.kind : 'unknown', editing: String(editing) } }, [
        h('span', { className: 'profile-key-name', text: name }),
        elide(h('span', { className: 'profile-key-does' }), text),
        change,
      ]);
    });
    list.replaceChildren(...rows);
    if (hadFocus) $(`profile-key-${roving}-change`).focus();
    $('profile-key-editor-slot').replaceChildren(...(state.editing ? [keyEditor(state.editing, currentCode(state.editing))] : []));
    if (state.editing) {
      const first = root().querySelector('#profile-key-kind');
      if (first && (hadFocus || !root().contains(document.activeElement))) first.focus();
      if (first) first.closest('form').scrollIntoView({ block: 'nearest' });
    }
  }

  function currentCode(id) {
    const key = keysOf(state.profile).find((k) => Number(k.id) === id);
    return model.parseCode(key ? key.code : '');
  }

  // Arrows move by the list's columns as the screen lays them out.
  function onListKey(event) {
    if (event.altKey || event.ctrlKey || event.metaKey || !event.target.closest('.profile-key')) return;
    const list = $('profile-keys');
    const columns = getComputedStyle(list).gridTemplateColumns.split(' ').filter(Boolean).length || 1;
    const last = model.BUTTONS.length;
    const moves = { ArrowLeft: -1, ArrowRight: 1, ArrowUp: -columns, ArrowDown: columns };
    let next = null;
    if (event.key in moves) next = roving + moves[event.key];
    else if (event.key === 'Home') next = 1;
    else if (event.key === 'End') next = last;
    else return;
    event.preventDefault();
    rove(Math.max(1, Math.min(last, next)));
    $(`profile-key-${roving}-change`).focus();
  }

  function rove(id) {
    if (id === roving) return;
    const before = $(`profile-key-${roving}-change`);
    if (before) before.tabIndex = -1;
    roving = id;
    const button = $(`profile-key-${roving}-change`);
    if (button) button.tabIndex = 0;
  }

  function wire() {
    $('profile-keys').addEventListener('keydown', onListKey);
    // A click counts as a move too.
    $('profile-keys').addEventListener('focusin', (event) => {
      const row = event.target.closest('.profile-key');
      if (row) rove(Number(row.dataset.id));
    });
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
        const pick = root().querySelector('#profile-key-macro');
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
    const form = h('form', { className: 'profile-key-editor', 'aria-labelledby': 'profile-key-editor-name' }, [
      h('strong', { id: 'profile-key-editor-name', className: 'profile-key-editor-name', text: t('prof.changeButton', { button: model.BUTTONS[id - 1] }) }),
      h('label', { className: 'visually-hidden', for: 'profile-key-kind', t: 'prof.kind' }), kind, detail, set, cancel, note,
    ]);
    vexa.util.submitOnEnter(form);
    form.addEventListener('keydown', (e) => {
      if (e.key === 'Escape') { e.preventDefault(); e.stopPropagation(); cancel.click(); }
    });
    return form;
  }

  vexa.profileKeys = { drawButtons, wire };
})(window.vexaModules = window.vexaModules || {});
