// Page start-up: register for native events first, then wire the panels. Loaded last.

(function (vexa) {
  'use strict';

  const { startEvents, eventStore, EVENT_NAMES } = vexa.events;

  // Register before anything else so no early event is missed.
  const eventsOk = startEvents();

  vexa.eventLog.initEventLog(document);
  vexa.console.initConsole(document);
  // Screens set themselves up from their own scripts (loaded before this one) on the
  // "screenshown" event or at load; showing the first screen comes last.
  vexa.screens.initScreens();

  const status = document.getElementById('bridge-status');
  const bridgeOk = vexa.bridge.bridgeAvailable();
  status.dataset.state = bridgeOk && eventsOk ? 'ok' : 'down';
  status.textContent = bridgeOk
    ? (eventsOk ? `Bridge ready · ${EVENT_NAMES.length} events` : 'Bridge ready · events unavailable')
    : 'Bridge unavailable';

  // Hook for automated tests: the live store of the latest events and their counters.
  window.vexaPage = Object.freeze({
    ready: true,
    events: eventStore.events,
    counts: eventStore.counts,
  });
})(window.vexaModules = window.vexaModules || {});
