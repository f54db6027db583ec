// Profiles screen: pick a profile file, edit the attributes of its top elements, save, reset
// from the default profile, and export to / import from a profile package (.pfd), by path or
// through a file dialog.
//
// The native side edits by XPath and keeps changes in memory until "savexml"; this screen
// shows the cached state, not the file.
(function (vexa) {
  'use strict';

  const { el } = vexa.util;

  // h() with any other property set as an attribute (id, type, value, aria-*...).
  function h(tag, props = {}, children = []) {
    const { className, dataset, on, ...attrs } = props;
    return el(tag, { className, dataset, on, attrs }, children);
  }
  const { query } = vexa.bridge;
  const { t } = vexa.i18n;
  const { failureMessage } = vexa.messages;

  const PROFILES = ['view/profiles/profile1.xml', 'view/profiles/default.xml'];
  const DEFAULT_PROFILE = 'view/profiles/default.xml';

  let root = null;
  let started = false;
  let file = PROFILES[0];

  function status(text, tone) {
    const line = root.querySelector('#profiles-status');
    line.textContent = text;
    line.dataset.tone = tone || 'muted';
  }

  // The outcome of one command; a failure carries the user's text in .message.
  async function command(object) {
    const result = await query(object, { timeoutMs: 4000 });
    if (result.pending) result.cancel();
    return result.ok ? result : { ok: false, message: failureMessage(object, result) };
  }

  // Import reads packages with the ".pfd" extension only, so every export gets it.
  function withPackageExtension(path) {
    return /\.pfd$/i.test(path) ? path : `${path}.pfd`;
  }

  // The profile's root element and its direct child elements, as DOM elements.
  function parse(text) {
    const doc = new DOMParser().parseFromString(text, 'application/xml');
    return doc.querySelector('parsererror') ? null : doc.documentElement;
  }

  function attributeRow(xpath, attr) {
    const input = h('input', {
      className: 'profile-value',
      value: attr.value,
      spellcheck: 'false',
      dataset: { xpath, attribute: attr.name },
      'aria-label': `${xpath} @${attr.name}`,
    });
    input.addEventListener('change', () => edit(input));
    return h('label', { className: 'profile-field' }, [h('span', { className: 'profile-attr', title: attr.name }, [attr.name]), input]);
  }

  function elementCard(xpath, element) {
    const fields = Array.from(element.attributes, (attr) => attributeRow(xpath, attr));
    const children = Array.from(element.children).length;
    return h('section', { className: 'profile-card' }, [
      h('h3', {}, [element.tagName, h('span', { className: 'profile-path elide', title: xpath }, [xpath])]),
      fields.length ? h('div', { className: 'profile-fields' }, fields)
        : h('p', { className: 'profile-none' }, [children ? t('prof.children', { n: children }) : t('prof.noValues')]),
    ]);
  }

  async function load() {
    const list = root.querySelector('#profile-values');
    status(t('prof.loading'));
    const result = await command({ funcname: 'queryProfile', filePath: file, xpath: '/*' });
    list.replaceChildren();
    if (!result.ok) {
      status(result.message, 'bad');
      return;
    }
    const top = parse(result.text);
    if (!top) {
      status(t('prof.empty'), 'bad');
      return;
    }
    list.append(elementCard('/*', top));
    Array.from(top.children).forEach((child, i) => list.append(elementCard(`/*/*[${i + 1}]`, child)));
    status(t('prof.sections', { n: top.children.length }), 'ok');
    root.dataset.loaded = file;
  }

  async function edit(input) {
    const { xpath, attribute } = input.dataset;
    input.dataset.state = 'busy';
    const result = await command({
      funcname: 'modifyProfile', filePath: file, xpath, attribute, attributeValue: input.value,
    });
    input.dataset.state = result.ok ? 'changed' : 'bad';
    status(result.ok ? t('prof.changed', { name: attribute }) : t('prof.notChanged', { reason: result.message }),
      result.ok ? 'warn' : 'bad');
  }

  async function save() {
    const result = await command({ funcname: 'savexml' });
    if (result.ok) {
      root.querySelectorAll('.profile-value[data-state="changed"]').forEach((i) => { delete i.dataset.state; });
      status(t('common.saved'), 'ok');
    } else {
      status(t('prof.notSaved', { reason: result.message }), 'bad');
    }
    root.dataset.saved = String(result.ok);
  }

  async function reset() {
    if (file === DEFAULT_PROFILE) return;
    const result = await command({ funcname: 'resetProfile', srcFilePath: DEFAULT_PROFILE, desFilePath: file });
    if (!result.ok) {
      status(t('prof.notReset', { reason: result.message }), 'bad');
      return;
    }
    await load();
    status(t('prof.resetDone'), 'warn');
  }

  async function exportPackage() {
    const field = root.querySelector('#pfd-path');
    if (!field.value.trim()) return status(t('prof.needPath'), 'warn');
    const path = withPackageExtension(field.value.trim());
    field.value = path;
    const result = await command({ funcname: 'saveXmlAs', srcFilePath: file, xpath: '/*', desFilePath: path });
    status(result.ok ? t('prof.exported', { path }) : t('prof.notExported', { reason: result.message }), result.ok ? 'ok' : 'bad');
  }

  async function importPackage() {
    const path = root.querySelector('#pfd-path').value.trim();
    if (!path) return status(t('prof.needPath'), 'warn');
    const result = await command({
      funcname: 'modifyReplaceProfileEx', srcFilePath: path, desFilePath: file, srcXpath: '/*', desXpath: '/*',
    });
    if (!result.ok) return status(t('prof.notImported', { reason: result.message }), 'bad');
    await load();
    status(t('prof.imported', { path }), 'warn');
  }

  // A native file dialog; resolves with the chosen path. A cancelled dialog is never answered,
  // so nothing follows it (the dialog is modal: the user may take any time to choose).
  async function choosePath(funcname) {
    const result = await query({ funcname }, { timeoutMs: Infinity });
    return result.ok ? result.text : '';
  }

  async function exportPackageTo() {
    const path = await choosePath('saveFileDialog');
    if (!path) return;
    root.querySelector('#pfd-path').value = path;
    await exportPackage();
  }

  async function importPackageFrom() {
    const path = await choosePath('openFileDialog');
    if (!path) return;
    root.querySelector('#pfd-path').value = path;
    await importPackage();
  }

  function build() {
    const picker = el('select', { tLabel: 'prof.profile', attrs: { id: 'profile-file' } },
      PROFILES.map((p) => h('option', { value: p }, [p])));
    picker.addEventListener('change', () => { file = picker.value; load(); });

    const button = (id, key, handler, extra = '') => {
      const b = el('button', { t: key, className: `btn ${extra}`.trim(), attrs: { type: 'button', id } });
      b.addEventListener('click', handler);
      return b;
    };

    root.replaceChildren(
      h('div', { className: 'profiles-bar' }, [
        el('label', { className: 'field-label', t: 'prof.profile', attrs: { for: 'profile-file' } }), picker,
        button('profile-reload', 'common.reload', load, 'btn-quiet'),
        button('profile-reset', 'prof.reset', reset, 'btn-quiet'),
        button('profile-save', 'prof.save', save, 'btn-primary'),
      ]),
      h('p', { id: 'profiles-status', className: 'profiles-status', role: 'status' }, ['']),
      h('div', { id: 'profile-values', className: 'profile-values' }),
      h('div', { className: 'profiles-bar profiles-package' }, [
        el('label', { className: 'field-label', t: 'prof.package', attrs: { for: 'pfd-path' } }),
        el('input', { className: 'pfd-path', tLabel: 'prof.packagePath',
          attrs: { id: 'pfd-path', placeholder: '/home/me/Documents/profile.pfd', spellcheck: 'false' } }),
        button('pfd-export', 'prof.export', exportPackage, 'btn-quiet'),
        button('pfd-import', 'prof.import', importPackage, 'btn-quiet'),
        button('pfd-export-to', 'prof.exportTo', exportPackageTo, 'btn-quiet'),
        button('pfd-import-from', 'prof.importFrom', importPackageFrom, 'btn-quiet'),
      ]),
    );
  }

  function init(doc) {
    root = doc.getElementById('screen-profiles');
    doc.addEventListener('screenshown', (event) => {
      if (event.detail.screen !== 'profiles') return;
      if (!started) { started = true; build(); }
      load();
    });
  }

  init(document);
  vexa.profiles = { reload: () => load() };
})(window.vexaModules = window.vexaModules || {});
