// Screen switching: one screen shows at a time, chosen by the address's hash so a reload keeps
// the user where they were. Screens hear when they are shown through a "screenshown" event.
(function (vexa) {
  'use strict';

  const DEFAULT_SCREEN = 'pads';

  function show(name) {
    const screens = document.querySelectorAll('.screen[data-screen]');
    const known = Array.from(screens, (s) => s.dataset.screen);
    const target = known.includes(name) ? name : DEFAULT_SCREEN;
    screens.forEach((s) => { s.hidden = s.dataset.screen !== target; });
    document.querySelectorAll('#screen-tabs [data-screen]').forEach((tab) => {
      if (tab.dataset.screen === target) tab.setAttribute('aria-current', 'page');
      else tab.removeAttribute('aria-current');
    });
    document.dispatchEvent(new CustomEvent('screenshown', { detail: { screen: target } }));
    return target;
  }

  function initScreens() {
    window.addEventListener('hashchange', () => show(location.hash.slice(1)));
    return show(location.hash.slice(1));
  }

  vexa.screens = { initScreens, show };
})(window.vexaModules = window.vexaModules || {});
