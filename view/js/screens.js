// Screen switching: one screen shows at a time, chosen by the address's hash so a reload keeps
// the user where they were. Screens hear when they are shown through a "screenshown" event.
// A screen behind the Advanced switch is not shown while the switch is off.
(function (vexa) {
  'use strict';

  const DEFAULT_SCREEN = 'pads';

  function available(screen) {
    return !screen.hasAttribute('data-advanced-only') || vexa.advanced.isOn();
  }

  function show(name) {
    const screens = Array.from(document.querySelectorAll('.screen[data-screen]'));
    const known = screens.filter(available).map((s) => s.dataset.screen);
    const target = known.includes(name) ? name : DEFAULT_SCREEN;
    screens.forEach((s) => { s.hidden = s.dataset.screen !== target; });
    document.querySelectorAll('#screen-tabs [data-screen]').forEach((tab) => {
      if (tab.dataset.screen === target) tab.setAttribute('aria-current', 'page');
      else tab.removeAttribute('aria-current');
    });
    document.dispatchEvent(new CustomEvent('screenshown', { detail: { screen: target } }));
    return target;
  }

  // A screen may hold work that leaving would lose; its guard resolves true when the person
  // lets it go (after saving or discarding) and false to stay.
  const guards = {};

  function guardLeaving(screen, guard) {
    guards[screen] = guard;
  }

  /** Asks the shown screen's guard; true when there is none. */
  async function mayLeave() {
    const guard = guards[current()];
    return guard ? Boolean(await guard()) : true;
  }

  function current() {
    const screen = document.querySelector('.screen[data-screen]:not([hidden])');
    return screen ? screen.dataset.screen : '';
  }

  function initScreens() {
    window.addEventListener('hashchange', async () => {
      const from = current();
      const to = location.hash.slice(1);
      if (from && from !== to && !(await mayLeave())) {
        // Back to where the person stays, without a second hashchange.
        history.replaceState(null, '', `#${from}`);
        return;
      }
      if (location.hash.slice(1) === to) show(to);
    });
    document.getElementById('screen-tabs').addEventListener('click', (event) => {
      const tab = event.target.closest('[data-screen]');
      if (!tab) return;
      if (location.hash === `#${tab.dataset.screen}`) show(tab.dataset.screen);
      else location.hash = tab.dataset.screen;
    });
    // Switching the tools off while one of them shows leaves for the first screen.
    document.addEventListener('advancedchanged', () => {
      const screen = document.querySelector(`.screen[data-screen="${current()}"]`);
      if (screen && !available(screen)) show(DEFAULT_SCREEN);
    });
    return show(location.hash.slice(1));
  }

  vexa.screens = { initScreens, show, current, guardLeaving, mayLeave };
})(window.vexaModules = window.vexaModules || {});
