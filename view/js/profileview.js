// The Profiles screen as the user sees it: the bar, the name form, the value rows, the status
// line and the unsaved mark. What the controls do is in profiles.js; the buttons' editor and the
// macro list draw themselves (profilekeys.js, profilemacros.js).
(function (vexa) {
  'use strict';

  const { el } = vexa.util;
  const { t } = vexa.i18n;
  const model = vexa.profilemodel;
  const store = vexa.profiles;
  const { state, child, usedNames, anyDirty } = store;
  // Loaded after this file: looked up when drawn.
  const keys = () => vexa.profileKeys;
  const macros = () => vexa.profileMacros;

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

  // ---- values --------------------------------------------------------------------------------

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
    range.addEventListener('change', () => store.writeValue(element, field, range.value, box));
    box.addEventListener('input', () => setFieldError(box, typed(box.value).error));
    const commit = () => {
      const { step, error } = typed(box.value);
      if (setFieldError(box, error)) return;
      range.value = step;
      box.value = shown(step);
      show();
      if (step !== current(element, field)) store.writeValue(element, field, step, box);
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
    select.addEventListener('change', () => store.writeValue(element, field, select.value, select));
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
    input.addEventListener('change', () => { code.textContent = input.value; store.writeValue('lighting', 'color', input.value, input); });
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
    box.addEventListener('change', () => store.writeValue('stick', 'invertY', box.checked ? 'true' : 'false', null));
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
    keys().drawButtons();
    macros().drawMacros();
  }

  function build() {
    const button = (id, key, handler, extra = 'btn-quiet') => {
      const b = h('button', { type: 'button', id, className: `btn ${extra}`.trim(), t: key });
      b.addEventListener('click', handler);
      return b;
    };
    const select = h('select', { id: 'profile-select', tLabel: 'prof.profile' });
    select.addEventListener('change', () => store.selectPlace(Number(select.value)));

    const nameInput = h('input', { type: 'text', id: 'profile-name', maxlength: String(model.NAME_MAX * 2), spellcheck: 'false',
      'aria-describedby': 'profile-name-error', autocomplete: 'off' });
    nameInput.addEventListener('input', () => setFieldError(nameInput, null));
    const nameForm = h('form', { id: 'profile-name-form', className: 'profiles-bar profile-name-form', hidden: true }, [
      h('label', { id: 'profile-name-label', className: 'field-label', for: 'profile-name' }),
      nameInput,
      button('profile-name-ok', 'prof.ok', store.submitName, 'btn-primary'),
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
    macroForm.querySelector('#profile-macro-add').addEventListener('click', macros().addMacro);
    vexa.util.submitOnEnter(macroForm);

    const padForm = h('form', { className: 'profiles-bar profile-apply' }, [
      h('label', { className: 'field-label', for: 'profile-pad', t: 'prof.pad' }),
      h('select', { id: 'profile-pad' }),
      button('profile-apply', 'prof.apply', store.applyToPad, 'btn'),
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
        button('profile-new', 'prof.new', () => store.startNew('new')),
        button('profile-duplicate', 'prof.duplicate', () => store.startNew('duplicate')),
        button('profile-rename', 'prof.rename', () => openNameForm('rename')),
        button('profile-delete', 'prof.delete', store.deleteCurrent),
        button('profile-reset', 'prof.reset', store.resetCurrent),
      ]),
      nameForm,
      // What the last change did, then the unsaved mark and the buttons that settle it; the
      // buttons sit at the right end, so the mark appearing moves nothing.
      h('div', { className: 'profiles-bar profiles-settle' }, [
        h('p', { id: 'profiles-status', className: 'profiles-status', role: 'status' }, ['']),
        h('span', { id: 'profile-unsaved', className: 'profile-unsaved', t: 'prof.unsaved', hidden: true }),
        button('profile-discard', 'prof.discard', () => { if (anyDirty()) store.discard(); }),
        button('profile-save', 'prof.save', () => { if (anyDirty()) store.save(); }, 'btn-primary'),
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
          // One Tab stop: the arrow keys move between the buttons (profilekeys.js). The picker
          // opens below the list, so the list itself never moves.
          h('ul', { id: 'profile-keys', className: 'profile-keys', 'aria-describedby': 'profile-keys-hint' }),
          h('p', { id: 'profile-keys-hint', className: 'visually-hidden', t: 'prof.keysHint' }),
          h('div', { id: 'profile-key-editor-slot' }),
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
            button('pfd-export-to', 'prof.exportTo', async () => { const p = await store.choosePath('saveFileDialog'); if (p) store.exportPackage(p); }, 'btn'),
            button('pfd-import-from', 'prof.importFrom', async () => { const p = await store.choosePath('openFileDialog'); if (p) store.importPackage(p); }, 'btn'),
          ]),
          // Typed paths are for people testing packages; everyone else uses the dialogs.
          h('div', { className: 'profiles-bar', 'data-advanced-only': '' }, [
            pathInput,
            button('pfd-export', 'prof.export', async () => {
              const p = await store.exportPackage(pathInput.value.trim());
              if (p) pathInput.value = p;
            }),
            button('pfd-import', 'prof.import', () => store.importPackage(pathInput.value.trim())),
          ]),
        ]),
      ]),
    );
  }

  function ensureBuilt() {
    if (!started) {
      started = true;
      build();
      keys().wire();
      $('profile-save').setAttribute('aria-keyshortcuts', 'Control+S');
      $('profile-save').title = 'Ctrl+S';
    }
  }

  // Ctrl+S saves while this screen shows (with nothing to save it says so).
  function onKey(event) {
    if (!started || root.hidden || event.defaultPrevented || event.code !== 'KeyS') return;
    if (!event.ctrlKey || event.altKey || event.shiftKey || event.metaKey || document.querySelector('dialog[open]')) return;
    event.preventDefault();
    if (anyDirty()) store.save();
    else status(t('prof.nothingToSave'), 'muted');
  }

  async function show() {
    ensureBuilt();
    await store.loadAll();
    store.loadPads();
  }

  function init(doc) {
    root = doc.getElementById('screen-profiles');
    doc.addEventListener('screenshown', (event) => {
      if (event.detail.screen === 'profiles') show();
    });
    // Another screen saved every changed profile file (the Modes screen, after "confChanged").
    doc.addEventListener('profilefilessaved', async () => {
      if (!started) return;
      for (let i = 0; i < model.PLACES; i++) await store.readPlace(i);
      store.markAllSaved();
    });
    vexa.events.onEvent((entry) => { if (entry.name === 'devicesChanged' && started) store.loadPads(); });
    doc.addEventListener('keydown', onKey);
    // The texts drawn with values (what each button does, the macros) in the new language.
    doc.addEventListener('languagechanged', () => { if (started && state.profile) { keys().drawButtons(); macros().drawMacros(); } });
    vexa.screens.guardLeaving('profiles', store.settleUnsaved);
  }

  init(document);
  vexa.profileView = { root: () => root, $, h, status, setFieldError, errorNote, drawAll, drawMarker, openNameForm, closeNameForm, ensureBuilt };
})(window.vexaModules = window.vexaModules || {});
