// Bridge console: type a command text, send it, watch the reply.
//
// Each query gets a log entry that moves through these states:
//   waiting   sent, no answer yet (first PENDING_AFTER_MS)
//   pending   still no answer: shown as "no reply yet" with the elapsed time; can be cancelled
//   success / failure / cancelled / error / noreply   final
// A reply that arrives after the entry went pending still completes it, up to NO_REPLY_AFTER_MS;
// then the query is let go and the entry says "no reply": some commands never answer (the window
// texts, a refused command), and the log must not wait for them for ever.

(function (vexa) {
  'use strict';

  const { query, bridgeAvailable } = vexa.bridge;
  const { el, clockTime, duration, prettyReply } = vexa.util;

  const PENDING_AFTER_MS = 1500;
  const NO_REPLY_AFTER_MS = 15000;
  const LOG_CAP = 150;
  const TICK_MS = 250;

  /** Commands that answer today, offered as one-click fill-ins. */
  const QUICK_PICKS = [
    { label: 'getConf', command: { funcname: 'getConf' }, note: 'Read the application settings' },
    { label: 'goback', command: { funcname: 'goback' }, note: 'Go back in the page history' },
    { label: 'goforward', command: { funcname: 'goforward' }, note: 'Go forward in the page history' },
    {
      label: 'sendMsgToMainBrowser',
      command: { funcname: 'sendMsgToMainBrowser', msg: 'hello from the console' },
      note: 'Echo a message back as an onBrowserMsg event',
    },
    {
      label: 'loadurl',
      command: { funcname: 'loadurl', url: '/view/index.html' },
      note: 'Navigate (reloads this page, no reply)',
    },
  ];

  const STATE_LABEL = {
    waiting: 'waiting…',
    pending: 'no reply yet',
    success: 'success',
    failure: 'failure',
    cancelled: 'cancelled',
    error: 'bridge error',
    noreply: 'no reply',
  };

  function initConsole(root) {
    const form = root.querySelector('#composer');
    const input = root.querySelector('#command-input');
    const hint = root.querySelector('#command-hint');
    const chips = root.querySelector('#chips');
    const sendButton = root.querySelector('#send');
    const log = root.querySelector('#reply-log');
    const empty = root.querySelector('#reply-empty');
    const meta = root.querySelector('#console-meta');
    const clearButton = root.querySelector('#console-clear');
    const announcer = root.querySelector('#console-announcer');

    const entries = new Set(); // live entries: { node, state, startedAt, controller, ... }
    let ticker = 0;

    // ---- composer -------------------------------------------------------------------------

    for (const pick of QUICK_PICKS) {
      const text = JSON.stringify(pick.command);
      chips.append(el('button', {
        className: 'chip',
        text: pick.label,
        attrs: { type: 'button', title: `${pick.note}\n${text}`, 'aria-label': `Fill in ${pick.label}: ${pick.note}` },
        on: { click: () => fillInput(text) },
      }));
    }

    function fillInput(text) {
      input.value = text;
      updateHint();
      input.focus();
      input.setSelectionRange(text.length, text.length);
    }

    function describeCommand(text) {
      if (!text.trim()) return { tone: 'muted', text: 'Type a command text, e.g. {"funcname":"getConf"}' };
      let parsed;
      try {
        parsed = JSON.parse(text);
      } catch (_) {
        return { tone: 'warn', text: 'Not valid JSON: sent as typed, expect no reply' };
      }
      if (!parsed || typeof parsed !== 'object' || Array.isArray(parsed)) {
        return { tone: 'warn', text: 'Not a JSON object: expect no reply' };
      }
      if (!('funcname' in parsed)) {
        return { tone: 'warn', text: 'No "funcname" member: expect no reply' };
      }
      const args = Object.keys(parsed).filter((k) => k !== 'funcname');
      const argText = args.length ? ` · ${args.length} argument${args.length > 1 ? 's' : ''}` : '';
      return { tone: 'ok', text: `JSON object · funcname ${JSON.stringify(parsed.funcname)}${argText}` };
    }

    function updateHint() {
      const d = describeCommand(input.value);
      hint.textContent = d.text;
      hint.dataset.tone = d.tone;
      sendButton.disabled = !input.value.trim();
    }

    input.addEventListener('input', updateHint);
    input.addEventListener('keydown', (e) => {
      if (e.key === 'Enter' && (e.ctrlKey || e.metaKey)) {
        e.preventDefault();
        submit();
      }
    });
    form.addEventListener('submit', (e) => {
      e.preventDefault();
      submit();
    });
    clearButton.addEventListener('click', clearLog);

    function submit() {
      const text = input.value;
      if (!text.trim()) return;
      run(text);
    }

    // ---- log entries ----------------------------------------------------------------------

    function buildEntry(request) {
      const time = el('time', { className: 'entry-time', text: clockTime() });
      const badge = el('span', { className: 'badge' });
      const elapsed = el('span', { className: 'entry-elapsed', attrs: { 'aria-hidden': 'true' } });
      const actions = el('span', { className: 'entry-actions' });
      const reuse = el('button', {
        className: 'btn btn-quiet btn-small',
        text: 'Reuse',
        attrs: { type: 'button', title: 'Put this command back into the input' },
        on: { click: () => fillInput(request) },
      });
      const cancel = el('button', {
        className: 'btn btn-danger btn-small',
        text: 'Cancel',
        attrs: { type: 'button', title: 'Stop waiting for this reply' },
      });
      actions.append(reuse, cancel);
      const requestNode = el('code', { className: 'entry-request', text: request });
      const body = el('pre', { className: 'entry-body', attrs: { hidden: true } });
      const node = el('li', { className: 'entry' }, [
        el('div', { className: 'entry-head' }, [time, badge, elapsed, actions]),
        requestNode,
        body,
      ]);
      return { node, badge, elapsed, cancel, body };
    }

    function setState(entry, state) {
      entry.state = state;
      entry.node.dataset.state = state;
      entry.badge.textContent = STATE_LABEL[state];
      const open = state === 'waiting' || state === 'pending';
      entry.cancel.hidden = !open;
      if (!open) entry.cancel.disabled = true;
    }

    async function run(request) {
      const parts = buildEntry(request);
      const controller = new AbortController();
      const entry = { ...parts, request, controller, startedAt: performance.now(), state: null };
      parts.cancel.addEventListener('click', () => controller.abort());
      setState(entry, 'waiting');
      entries.add(entry);
      log.prepend(entry.node);
      trimLog();
      refreshMeta();
      startTicker();

      let outcome = await query(request, { timeoutMs: PENDING_AFTER_MS, signal: controller.signal });
      if (outcome.pending) {
        setState(entry, 'pending');
        refreshMeta();
        tick();
        let gaveUp = false;
        const giveUp = setTimeout(() => { gaveUp = true; controller.abort(); }, NO_REPLY_AFTER_MS - PENDING_AFTER_MS);
        outcome = await outcome.reply;
        clearTimeout(giveUp);
        if (gaveUp && outcome.cancelled) outcome = { noReply: true };
      }
      finish(entry, outcome);
    }

    // Console replies end up pasted into bug reports; the machine's addresses stay out of them.
    function withoutAddresses(text) {
      try {
        const settings = JSON.parse(text);
        for (const item of Array.isArray(settings) ? settings : []) {
          for (const key of ['MacAddress', 'IpAddress']) if (item && key in item) item[key] = '(not shown)';
        }
        return JSON.stringify(settings);
      } catch (_) {
        return text;
      }
    }

    function finish(entry, outcome) {
      const wentPending = entry.state === 'pending';
      const ms = outcome.ms !== undefined ? outcome.ms : performance.now() - entry.startedAt;
      let summary;
      if (outcome.ok) {
        setState(entry, 'success');
        const pretty = prettyReply(commandName(entry.request) === 'getConf' ? withoutAddresses(outcome.text) : outcome.text);
        showBody(entry, pretty.text === '' ? '(empty text)' : pretty.text, pretty.json ? 'json' : 'text');
        summary = 'success';
      } else if (outcome.noReply) {
        setState(entry, 'noreply');
        summary = 'no reply';
      } else if (outcome.cancelled) {
        setState(entry, 'cancelled');
        summary = 'cancelled';
      } else if (outcome.error) {
        setState(entry, 'error');
        showBody(entry, outcome.text, 'text');
        summary = `bridge error: ${outcome.text}`;
      } else {
        setState(entry, 'failure');
        showBody(entry, outcome.text === '' ? '(empty text)' : outcome.text, 'text', `code ${outcome.code}`);
        summary = `failure, code ${outcome.code}: ${outcome.text}`;
      }
      entry.elapsed.textContent = outcome.cancelled || outcome.noReply
        ? `after ${duration(ms)}`
        : (wentPending ? `late, ${duration(ms)}` : duration(ms));
      entry.elapsed.removeAttribute('aria-hidden');
      entries.delete(entry);
      refreshMeta();
      if (entry.node.isConnected) announce(`${commandName(entry.request)}: ${summary}`);
    }

    function showBody(entry, text, kind, label) {
      entry.body.hidden = false;
      entry.body.dataset.kind = kind;
      entry.body.textContent = '';
      if (label) entry.body.append(el('span', { className: 'entry-code', text: label }));
      entry.body.append(document.createTextNode(text));
    }

    function trimLog() {
      // Drop the oldest finished entries beyond the cap; unanswered ones stay visible.
      let node = log.lastElementChild;
      let count = log.childElementCount;
      while (node && count > LOG_CAP) {
        const prev = node.previousElementSibling;
        const state = node.dataset.state;
        if (state !== 'waiting' && state !== 'pending') {
          node.remove();
          count--;
        }
        node = prev;
      }
    }

    function clearLog() {
      // Unanswered queries are withdrawn, not just hidden.
      for (const entry of [...entries]) entry.controller.abort();
      log.textContent = '';
      refreshMeta();
      announce('Reply log cleared');
    }

    // ---- elapsed-time ticker (one timer for all open queries) ---------------------------------

    function tick() {
      const now = performance.now();
      for (const entry of entries) entry.elapsed.textContent = duration(now - entry.startedAt);
      if (!entries.size) stopTicker();
    }
    function startTicker() {
      if (!ticker) ticker = setInterval(tick, TICK_MS);
      tick();
    }
    function stopTicker() {
      clearInterval(ticker);
      ticker = 0;
    }

    // ---- header line and announcements ------------------------------------------------------

    function refreshMeta() {
      const shown = log.childElementCount;
      let open = 0;
      for (const entry of entries) if (entry.state === 'pending') open++;
      meta.textContent = `${shown} ${shown === 1 ? 'query' : 'queries'}${open ? ` · ${open} without reply` : ''}`;
      empty.hidden = shown > 0;
    }

    function announce(text) {
      announcer.textContent = text;
    }

    function commandName(request) {
      try {
        const parsed = JSON.parse(request);
        if (parsed && typeof parsed.funcname === 'string') return parsed.funcname;
      } catch (_) { /* raw text */ }
      return request.length > 24 ? `${request.slice(0, 24)}…` : request;
    }

    if (!bridgeAvailable()) {
      hint.dataset.tone = 'warn';
      hint.textContent = 'cefQuery is not available: this page is not running inside the application.';
    } else {
      updateHint();
    }
    refreshMeta();

    return { run, fillInput };
  }

  vexa.console = { initConsole };
})(window.vexaModules = window.vexaModules || {});
