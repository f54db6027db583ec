// Events panel: counters per event name and the list of the latest events.
//
// Events can arrive a thousand times per second. Arrival only marks the panel dirty; the DOM is
// updated at most ten times a second, with only the entries that came in since the last
// update (and never more than the list holds).

(function (vexa) {
  'use strict';

  const { EVENT_NAMES, EVENT_CAP, eventStore, onEvent, clearEvents } = vexa.events;
  const { el, clockTime, compactJson } = vexa.util;

  function initEventLog(root) {
    const list = root.querySelector('#event-log');
    const empty = root.querySelector('#event-empty');
    const countersRoot = root.querySelector('#event-counters');
    const meta = root.querySelector('#events-meta');
    const pauseButton = root.querySelector('#events-pause');
    const clearButton = root.querySelector('#events-clear');

    let renderedSeq = eventStore.lastSeq; // newest event already in the list
    let paused = false;

    // One counter per event name, in a fixed order; each name has its own colour slot.
    const counterNodes = new Map();
    EVENT_NAMES.forEach((name, i) => {
      const count = el('span', { className: 'counter-value', text: '0' });
      const item = el('li', { className: 'counter', dataset: { hue: String(i), zero: '' } }, [
        el('span', { className: 'counter-dot', attrs: { 'aria-hidden': 'true' } }),
        el('span', { className: 'counter-name', text: name }),
        count,
      ]);
      countersRoot.append(item);
      counterNodes.set(name, { item, count, shown: 0 });
    });
    const hueOf = new Map(EVENT_NAMES.map((name, i) => [name, String(i)]));

    const schedule = vexa.util.paced(render, 100);

    function buildRow(entry) {
      return el('li', { className: 'event', dataset: { hue: hueOf.get(entry.name) || '' } }, [
        el('time', { className: 'event-time', text: clockTime(entry.time) }),
        el('span', { className: 'event-name', text: entry.name }),
        el('code', { className: 'event-values', text: compactJson(entry.values) }),
      ]);
    }

    function render() {
      for (const [name, c] of counterNodes) {
        const n = eventStore.counts[name] || 0;
        if (n !== c.shown) {
          c.shown = n;
          c.count.textContent = String(n);
          if (n) delete c.item.dataset.zero;
          else c.item.dataset.zero = '';
        }
      }
      const total = eventStore.total;
      meta.textContent = `${total} received${paused ? ' · paused' : ''}`;

      if (paused) return;

      // The store holds the latest events oldest first; take the ones not drawn yet.
      const store = eventStore.events;
      let first = store.length;
      while (first > 0 && store[first - 1].seq > renderedSeq) first--;
      if (first < store.length) {
        const fragment = document.createDocumentFragment();
        for (let i = store.length - 1; i >= first; i--) fragment.append(buildRow(store[i]));
        list.prepend(fragment);
        renderedSeq = store[store.length - 1].seq;
        let extra = list.childElementCount - EVENT_CAP;
        while (extra-- > 0) list.lastElementChild.remove();
      }
      empty.hidden = list.childElementCount > 0;
    }

    onEvent(schedule);

    pauseButton.addEventListener('click', () => {
      paused = !paused;
      pauseButton.setAttribute('aria-pressed', String(paused));
      pauseButton.textContent = paused ? 'Resume' : 'Pause';
      schedule();
    });

    clearButton.addEventListener('click', () => {
      clearEvents();
      list.textContent = '';
      renderedSeq = eventStore.lastSeq;
      schedule();
    });

    render();
  }

  vexa.eventLog = { initEventLog };
})(window.vexaModules = window.vexaModules || {});
