// A question in the page before something that cannot be undone: a modal dialog of the page
// itself (Tab stays inside, Esc answers no), never the browser's own prompt, which a frameless
// window shows unstyled and a screen reader may not announce as part of the page.
(function (vexa) {
  'use strict';

  const { el } = vexa.util;
  const { t } = vexa.i18n;

  let open = null; // the answer of the question on screen, so a second one waits for none

  /** Resolves true when the person answers yes. The safe answer has the focus. */
  function ask({ title, text, yes, no = t('common.cancel') }) {
    if (open) return Promise.resolve(false);
    const before = document.activeElement;
    const noButton = el('button', { className: 'btn', text: no, attrs: { type: 'button', id: 'ask-no' } });
    const yesButton = el('button', { className: 'btn btn-primary', text: yes, attrs: { type: 'button', id: 'ask-yes' } });
    const dialog = el('dialog', { className: 'ask', attrs: { 'aria-labelledby': 'ask-title', 'aria-describedby': 'ask-text' } }, [
      el('h2', { className: 'ask-title', text: title, attrs: { id: 'ask-title' } }),
      el('p', { className: 'ask-text', text, attrs: { id: 'ask-text' } }),
      el('div', { className: 'ask-actions' }, [noButton, yesButton]),
    ]);
    document.body.append(dialog);
    open = new Promise((resolve) => {
      const finish = (answer) => {
        dialog.close();
        dialog.remove();
        open = null;
        if (before && before.isConnected) before.focus();
        resolve(answer);
      };
      noButton.addEventListener('click', () => finish(false));
      yesButton.addEventListener('click', () => finish(true));
      dialog.addEventListener('cancel', (e) => { e.preventDefault(); finish(false); });
    });
    dialog.showModal();
    noButton.focus();
    return open;
  }

  vexa.ask = { ask };
})(window.vexaModules = window.vexaModules || {});
