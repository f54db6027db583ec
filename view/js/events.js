// Native events: one registration per event name at start-up, a capped store of the latest
// events and a counter per name.
//
// Only the first setMessageCallback per name counts for the lifetime of a page, so this file
// registers once and fans out to its own listeners; other code subscribes here instead of
// calling setMessageCallback again.
//
// The callbacks may fire at device rate (about 1000 per second for pad data), so they only
// append to the store; drawing is up to the subscribers (batched per animation frame).

(function (vexa) {
  'use strict';

  const EVENT_NAMES = Object.freeze([
    'devicesChanged',
    'onDeviceData',
    'currentPropChanged',
    'macroItem',
    'onProcessChanged',
    'navStateChanged',
    'onBrowserMsg',
  ]);

  /** How many of the latest events are kept. */
  const EVENT_CAP = 200;

  // The store. The arrays/objects are mutated in place so references handed out stay live.
  const events = [];                 // [{ seq, time, name, values }], oldest first, at most EVENT_CAP
  const counts = Object.create(null); // name → events seen since start or the last clear
  let total = 0;
  let seq = 0;                       // sequence number of the last event, never reset
  let registered = false;
  const listeners = new Set();

  for (const name of EVENT_NAMES) counts[name] = 0;

  function receive(name, values) {
    const entry = {
      seq: ++seq,
      time: Date.now(),
      name,
      values: Array.isArray(values) ? values : (values === undefined ? [] : [values]),
    };
    events.push(entry);
    if (events.length > EVENT_CAP) events.splice(0, events.length - EVENT_CAP);
    counts[name] = (counts[name] || 0) + 1;
    total++;
    for (const fn of listeners) {
      try { fn(entry); } catch (err) { console.error('event listener failed', err); }
    }
  }

  /** Register a callback for every event name. Safe to call more than once. Returns success. */
  function startEvents() {
    if (registered) return true;
    if (typeof window.setMessageCallback !== 'function') {
      console.warn('setMessageCallback is not available; native events will not arrive');
      return false;
    }
    for (const name of EVENT_NAMES) {
      window.setMessageCallback(name, (values) => {
        receive(name, values);
        return true;
      });
    }
    registered = true;
    return true;
  }

  /** Called with every new entry. Returns an unsubscribe function. */
  function onEvent(fn) {
    listeners.add(fn);
    return () => listeners.delete(fn);
  }

  /** Forget the stored events and reset the counters (registrations stay). */
  function clearEvents() {
    events.length = 0;
    for (const name of Object.keys(counts)) counts[name] = 0;
    total = 0;
  }

  const eventStore = {
    events,
    counts,
    get total() { return total; },
    get lastSeq() { return seq; },
    get registered() { return registered; },
  };

  vexa.events = { EVENT_NAMES, EVENT_CAP, startEvents, onEvent, clearEvents, eventStore };
  // Registered while the page is still being parsed: events held for the starting page are
  // handed over as soon as its channel is up, which comes before deferred scripts run.
  startEvents();
})(window.vexaModules = window.vexaModules || {});
