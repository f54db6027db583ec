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

  function failureText(result) {
    if (result.pending) return 'no reply';
    return result.text || 'failed';
  }

  async function command(object) {
    const result = await query(object, { timeoutMs: 4000 });
    return result.pending ? { ok: false, text: 'no reply' } : result;
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
    return h('label', { className: 'profile-field' }, [h('span', { className: 'profile-attr' }, [attr.name]), input]);
  }

  function elementCard(xpath, element) {
    const fields = Array.from(element.attributes, (attr) => attributeRow(xpath, attr));
    const children = Array.from(element.children).length;
    return h('section', { className: 'profile-card' }, [
      h('h3', {}, [element.tagName, h('span', { className: 'profile-path' }, [xpath])]),
      fields.length ? h('div', { className: 'profile-fields' }, fields)
        : h('p', { className: 'profile-none' }, [children ? `${children} child elements` : 'no values']),
    ]);
  }

  async function load() {
    const list = root.querySelector('#profile-values');
    status(`Loading ${file}…`);
    const result = await command({ funcname: 'queryProfile', filePath: file, xpath: '/*' });
    list.replaceChildren();
    if (!result.ok) {
      status(`Cannot read ${file}: ${failureText(result)}`, 'bad');
      return;
    }
    const top = parse(result.text);
    if (!top) {
      status(`${file} holds no profile`, 'bad');
      return;
    }
    list.append(elementCard('/*', top));
    Array.from(top.children).forEach((child, i) => list.append(elementCard(`/*/*[${i + 1}]`, child)));
    status(`${file} · ${top.children.length} sections`, 'ok');
    root.dataset.loaded = file;
  }

  async function edit(input) {
    const { xpath, attribute } = input.dataset;
    input.dataset.state = 'busy';
    const result = await command({
      funcname: 'modifyProfile', filePath: file, xpath, attribute, attributeValue: input.value,
    });
    input.dataset.state = result.ok ? 'changed' : 'bad';
    status(result.ok ? `${attribute} changed; not saved yet` : `Edit failed: ${failureText(result)}`,
      result.ok ? 'warn' : 'bad');
  }

  async function save() {
    const result = await command({ funcname: 'savexml' });
    if (result.ok) {
      root.querySelectorAll('.profile-value[data-state="changed"]').forEach((i) => { delete i.dataset.state; });
      status('Saved', 'ok');
    } else {
      status(`Save failed: ${failureText(result)}`, 'bad');
    }
    root.dataset.saved = String(result.ok);
  }

  async function reset() {
    if (file === DEFAULT_PROFILE) return;
    const result = await command({ funcname: 'resetProfile', srcFilePath: DEFAULT_PROFILE, desFilePath: file });
    if (!result.ok) {
      status(`Reset failed: ${failureText(result)}`, 'bad');
      return;
    }
    await load();
    status('Reset to the default profile; not saved yet', 'warn');
  }

  async function exportPackage() {
    const path = root.querySelector('#pfd-path').value.trim();
    if (!path) return status('Enter a package path first', 'warn');
    const result = await command({ funcname: 'saveXmlAs', srcFilePath: file, xpath: '/*', desFilePath: path });
    status(result.ok ? `Exported to ${path}` : `Export failed: ${failureText(result)}`, result.ok ? 'ok' : 'bad');
  }

  async function importPackage() {
    const path = root.querySelector('#pfd-path').value.trim();
    if (!path) return status('Enter a package path first', 'warn');
    const result = await command({
      funcname: 'modifyReplaceProfileEx', srcFilePath: path, desFilePath: file, srcXpath: '/*', desXpath: '/*',
    });
    if (!result.ok) return status(`Import failed: ${failureText(result)}`, 'bad');
    await load();
    status(`Imported ${path}; not saved yet`, 'warn');
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
    const picker = h('select', { id: 'profile-file', 'aria-label': 'Profile file' },
      PROFILES.map((p) => h('option', { value: p }, [p])));
    picker.addEventListener('change', () => { file = picker.value; load(); });

    const button = (id, text, handler, extra = '') => {
      const b = h('button', { type: 'button', id, className: `btn ${extra}`.trim() }, [text]);
      b.addEventListener('click', handler);
      return b;
    };

    root.replaceChildren(
      h('div', { className: 'profiles-bar' }, [
        h('span', { className: 'field-label' }, ['Profile']), picker,
        button('profile-reload', 'Reload', load, 'btn-quiet'),
        button('profile-reset', 'Reset to default', reset, 'btn-quiet'),
        button('profile-save', 'Save', save, 'btn-primary'),
      ]),
      h('p', { id: 'profiles-status', className: 'profiles-status', role: 'status' }, ['']),
      h('div', { id: 'profile-values', className: 'profile-values' }),
      h('div', { className: 'profiles-bar profiles-package' }, [
        h('span', { className: 'field-label' }, ['Package']),
        h('input', { id: 'pfd-path', className: 'pfd-path', placeholder: '/home/me/Documents/profile.pfd',
          spellcheck: 'false', 'aria-label': 'Package file path' }),
        button('pfd-export', 'Export', exportPackage, 'btn-quiet'),
        button('pfd-import', 'Import', importPackage, 'btn-quiet'),
        button('pfd-export-to', 'Export to…', exportPackageTo, 'btn-quiet'),
        button('pfd-import-from', 'Import from…', importPackageFrom, 'btn-quiet'),
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
