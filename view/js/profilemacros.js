// The Profiles screen's macro list: the macros a profile names (address, size, whether their
// bytes are kept), added by hand, renamed or removed, and takes saved from the Macros screen.
(function (vexa) {
  'use strict';

  const { elide } = vexa.util;
  const { command } = vexa.bridge;
  const { t } = vexa.i18n;
  const model = vexa.profilemodel;
  const store = vexa.profiles;
  const { state, parse, child, macrosOf, keysOf, otherProfiles, loadAll, changed, writeWhole, save } = store;
  const { $, h, status, setFieldError, errorNote, drawAll, ensureBuilt } = vexa.profileView;

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
    // The other profiles' macros count too: all eight share one layout on the pad.
    const others = otherProfiles(state.current).flatMap((p) => p.macros.map((m) => ({ ...m, name: `${m.name} (${p.name})` })));
    const error = model.checkMacro(macro, macrosOf(state.profile).concat(others));
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
   * every profile's macros. No pad is looked at: the eight profiles' macros are one layout that
   * holds on every pad (padmap.js). Saved to the file at once unless another place has unsaved
   * changes, which the user may not want saved. Resolves with { ok, message, saved, address }.
   */
  async function addTake(i, name, bytes) {
    ensureBuilt();
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
    const address = vexa.padmap.placeNew(bytes.length, otherProfiles(-1));
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
    return { ok: true, saved, address, message: t(saved ? 'macro.savedTo' : 'macro.savedUnsaved', { name: name.trim(), profile: place.name }) };
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

  vexa.profileMacros = { drawMacros, addMacro };
  store.addTake = addTake;
})(window.vexaModules = window.vexaModules || {});
