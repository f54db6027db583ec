// The "Advanced" switch: developer tools (the Console, the raw property and memory forms) show
// only while it is on. Marked elements carry data-advanced-only; the body's data-advanced says
// whether they show (app.css).
//
// The program's settings have no key for it and the page adds none, so the page keeps it itself,
// in the browser profile's local storage. The program keeps that profile in its temporary folder
// ("Cache"): the choice outlives a restart of the program, not a cleared temporary folder.
(function (vexa) {
  'use strict';

  const KEY = 'vexa.advanced';

  function stored() {
    try { return window.localStorage.getItem(KEY) === 'on'; } catch (_) { return false; }
  }

  function isOn() {
    return document.body.dataset.advanced === 'true';
  }

  /** Turns the tools on or off; true when the choice was kept for the next start too. */
  function set(on) {
    document.body.dataset.advanced = on ? 'true' : 'false';
    let kept = false;
    try {
      window.localStorage.setItem(KEY, on ? 'on' : 'off');
      kept = window.localStorage.getItem(KEY) === (on ? 'on' : 'off');
    } catch (_) { kept = false; }
    document.dispatchEvent(new CustomEvent('advancedchanged', { detail: { on } }));
    return kept;
  }

  function init(doc) {
    doc.body.dataset.advanced = stored() ? 'true' : 'false';
  }

  vexa.advanced = { init, isOn, set };
})(window.vexaModules = window.vexaModules || {});
