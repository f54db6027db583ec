// Screen switching: one screen shows at a time, chosen by the address's hash so a reload keeps
// the user where they were. Screens hear when they are shown through a "screenshown" event.
// A screen behind the Advanced switch is not shown while the switch is off. Alt (or Ctrl) and a
// digit open a screen from anywhere in the page.
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
  // lets it go (after saving or discarding) and false to stay. It is told why the screen is
  // left: { quitting: true } when vexa itself is about to quit.
  const guards = {};

  function guardLeaving(screen, guard) {
    guards[screen] = guard;
  }

  /** Asks the shown screen's guard; true when there is none. */
  async function mayLeave(why = {}) {
    const guard = guards[current()];
    return guard ? Boolean(await guard(why)) : true;
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
    // Alt+1… (or Ctrl+1…) opens the screens in the order of their tabs; the developer tools,
    // when shown, come after the others, so that every other screen keeps its number.
    const tabs = Array.from(document.querySelectorAll('#screen-tabs [data-screen]'));
    const numbered = [...tabs.filter((tab) => !tab.hasAttribute('data-advanced-only')),
      ...tabs.filter((tab) => tab.hasAttribute('data-advanced-only'))];
    numbered.forEach((tab, i) => {
      tab.setAttribute('aria-keyshortcuts', `Alt+${i + 1} Control+${i + 1}`);
      tab.title = `Alt+${i + 1}`;
    });
    document.addEventListener('keydown', (event) => {
      const digit = /^Digit([1-9])$/.exec(event.code);
      if (!digit || event.defaultPrevented || event.isComposing || event.shiftKey || event.metaKey) return;
      if (event.altKey === event.ctrlKey) return; // one of the two, not both
      const tab = numbered[Number(digit[1]) - 1];
      if (!tab || getComputedStyle(tab).display === 'none' || document.querySelector('dialog[open]')) return;
      event.preventDefault();
      // The tab takes the focus, so that Tab goes on into the screen it opened.
      tab.focus();
      tab.click();
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
