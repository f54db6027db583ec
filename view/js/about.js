// About screen: what is installed (the program's version from the settings, the page's own
// edition) and the manual update check. The check's outcome shows in the program's update
// window, not here: the command only says that the check was taken. When that window installs
// new page files, the program says so with onBrowserMsg "pageUpdated": this page is then older
// than its files, and About says so beside Reload.
(function (vexa) {
  'use strict';

  const { el } = vexa.util;
  const { query } = vexa.bridge;
  const { t } = vexa.i18n;
  const { failureMessage } = vexa.messages;

  let root = null;
  let built = false;
  // New page files were installed after this page was loaded.
  let pageUpdated = false;

  function setStatus(text, tone) {
    const line = root.querySelector('#about-status');
    line.textContent = text;
    line.dataset.tone = tone || '';
  }

  async function loadVersion() {
    const value = root.querySelector('#about-version');
    value.textContent = '…';
    const result = await query({ funcname: 'getConf' }, { timeoutMs: 4000 });
    let version = '';
    if (result.ok) {
      try { version = (JSON.parse(result.text)[0] || {}).version || ''; } catch (_) { version = ''; }
    }
    value.textContent = version || t('common.unknown');
    value.dataset.known = version ? 'true' : 'false';
  }

  async function checkForUpdates() {
    const button = root.querySelector('#about-check');
    button.disabled = true;
    setStatus(t('about.asking'), '');
    const command = { funcname: 'checkUpdate' };
    const result = await query(command, { timeoutMs: 4000 });
    button.disabled = false;
    if (result.pending) result.cancel();
    if (result.ok) setStatus(t('about.started'), 'ok');
    else setStatus(failureMessage(command, result), 'bad');
  }

  function fact(label, id, text) {
    return el('div', { className: 'about-fact' }, [
      el('dt', { t: label }),
      el('dd', { text, attrs: { id } }),
    ]);
  }

  function build() {
    const edition = vexa.edition || { version: 'unknown', note: '' };
    root.replaceChildren(
      el('section', { className: 'panel about-panel', attrs: { 'aria-labelledby': 'about-title' } }, [
        el('div', { className: 'panel-head' }, [el('h2', { t: 'about.title', attrs: { id: 'about-title' } })]),
        el('div', { className: 'about-body' }, [
          el('div', { className: 'about-product' }, [
            el('span', { className: 'brand-mark about-mark', attrs: { 'aria-hidden': 'true' } }),
            el('div', {}, [
              el('p', { className: 'about-name', text: 'PARVEX PX-ORB42' }),
              el('p', { className: 'about-sub', t: 'about.sub' }),
            ]),
          ]),
          el('dl', { className: 'about-facts' }, [
            fact('about.installed', 'about-version', '…'),
            fact('about.edition', 'about-edition', edition.version),
          ]),
          edition.note ? el('p', { className: 'about-note', text: edition.note, attrs: { id: 'about-note' } }) : null,
          el('div', { className: 'about-actions' }, [
            el('button', {
              className: 'btn btn-primary', t: 'about.check',
              attrs: { type: 'button', id: 'about-check' }, on: { click: checkForUpdates },
            }),
            // An installed page update shows from the next load on.
            el('button', {
              className: 'btn btn-quiet', t: 'about.reloadPage',
              attrs: { type: 'button', id: 'about-reload' }, on: { click: () => location.reload() },
            }),
            el('p', { className: 'about-status', attrs: { id: 'about-status', role: 'status', 'aria-live': 'polite' } }),
          ]),
        ]),
      ]),
    );
  }

  function showPageUpdated() {
    if (!built || !pageUpdated) return;
    setStatus(t('about.pageUpdated'), 'ok');
    root.querySelector('#about-reload').classList.replace('btn-quiet', 'btn-primary');
  }

  function init(doc) {
    root = doc.getElementById('screen-about');
    if (!root) return;
    doc.addEventListener('screenshown', (event) => {
      if (event.detail.screen !== 'about') return;
      if (!built) { built = true; build(); showPageUpdated(); }
      loadVersion();
    });
    // The update window installs page files while this page runs; it learns of it from the
    // program's "pageUpdated" message.
    vexa.events.onEvent((entry) => {
      if (entry.name !== 'onBrowserMsg' || entry.values[0] !== 'pageUpdated') return;
      pageUpdated = true;
      showPageUpdated();
    });
  }

  vexa.about = { checkForUpdates };
  init(document);
})(window.vexaModules = window.vexaModules || {});
