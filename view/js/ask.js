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

  /**
   * A question with more than two answers: choices [{ value, label, primary }] as buttons, in
   * order. Resolves with the chosen value, or null when the person backs out (Esc). The first
   * choice has the focus, so it should be the one that loses nothing.
   */
  function choose({ title, text, choices }) {
    if (open) return Promise.resolve(null);
    const before = document.activeElement;
    const buttons = choices.map((c, i) => el('button', {
      className: c.primary ? 'btn btn-primary' : 'btn',
      text: c.label,
      attrs: { type: 'button', id: `ask-choice-${i}` },
      dataset: { value: c.value },
    }));
    const dialog = el('dialog', { className: 'ask', attrs: { 'aria-labelledby': 'ask-title', 'aria-describedby': 'ask-text' } }, [
      el('h2', { className: 'ask-title', text: title, attrs: { id: 'ask-title' } }),
      el('p', { className: 'ask-text', text, attrs: { id: 'ask-text' } }),
      el('div', { className: 'ask-actions' }, buttons),
    ]);
    document.body.append(dialog);
    const answer = new Promise((resolve) => {
      const finish = (value) => {
        dialog.close();
        dialog.remove();
        open = null;
        if (before && before.isConnected) before.focus();
        resolve(value);
      };
      buttons.forEach((b) => b.addEventListener('click', () => finish(b.dataset.value)));
      dialog.addEventListener('cancel', (e) => { e.preventDefault(); finish(null); });
    });
    open = answer.then((v) => v !== null);
    dialog.showModal();
    buttons[0].focus();
    return answer;
  }

  vexa.ask = { ask, choose };
})(window.vexaModules = window.vexaModules || {});
