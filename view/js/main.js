// Page start-up: register for native events first, learn the language from the settings, then
// fill in the words and wire the screens. Loaded last.

(function (vexa) {
  'use strict';

  const { startEvents, eventStore, onEvent, EVENT_NAMES } = vexa.events;
  const { i18n, advanced } = vexa;

  // Register before anything else so no early event is missed.
  const eventsOk = startEvents();

  // The page's language is the "language" setting; without an answer the page speaks English.
  async function readLanguage() {
    const result = await vexa.bridge.query({ funcname: 'getConf' }, { timeoutMs: 1500 });
    if (!result.ok) return '';
    try { return (JSON.parse(result.text)[0] || {}).language || ''; } catch (_) { return ''; }
  }

  // The Console's status line: whether the bridge is there and what it carried so far, kept
  // current as events and replies arrive (at a calm pace: reports come up to 1000 a second).
  function keepBridgeStatus() {
    const status = document.getElementById('bridge-status');
    const bridgeOk = vexa.bridge.bridgeAvailable();
    status.dataset.state = bridgeOk && eventsOk ? 'ok' : 'down';
    const { stats } = vexa.bridge;
    const draw = () => {
      if (!bridgeOk) { status.textContent = 'Bridge unavailable'; return; }
      let events = 0;
      for (const name of EVENT_NAMES) events += eventStore.counts[name] || 0;
      const parts = ['Bridge ready', eventsOk ? `${events} events` : 'events unavailable',
        `${stats.answered}/${stats.sent} replies`];
      const last = Math.max(stats.lastAt, eventStore.events.length ? eventStore.events[eventStore.events.length - 1].time : 0);
      if (last) parts.push(`last ${vexa.util.clockTime(last)}`);
      status.textContent = parts.join(' · ');
      status.title = status.textContent;
    };
    const request = vexa.util.paced(draw, 250);
    onEvent(request);
    vexa.bridge.onSettled(request);
    draw();
  }

  async function start() {
    i18n.setLanguage(await readLanguage());
    i18n.apply(document);
    advanced.init(document);

    vexa.titlebar.init(document);
    vexa.eventLog.initEventLog(document);
    vexa.console.initConsole(document);
    keepBridgeStatus();
    vexa.pads.initPads(document);
    vexa.macro.initMacro(document);
    // Screens that build when first shown do it on "screenshown"; showing the first screen
    // comes last.
    vexa.screens.initScreens();
    // Modes change the pad from the start, whichever screen shows.
    vexa.modeSwitch.start();

    // Hook for automated tests: the live store of the latest events and their counters.
    window.vexaPage = Object.freeze({
      ready: true,
      language: i18n.language(),
      events: eventStore.events,
      counts: eventStore.counts,
    });
  }

  start();
})(window.vexaModules = window.vexaModules || {});
