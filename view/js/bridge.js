// Promise wrapper around the native command bridge (cefQuery / cefQueryCancel).
//
// A command gets a success text, a failure (code + text), or no answer at all: several
// commands never reply. query() therefore never waits forever: once timeoutMs has passed it
// resolves with a pending result that still carries a promise for a late reply.
//
// Outcomes:
//   { ok: true,  text }                 success reply
//   { ok: false, code, text }           failure reply (the native side always sends code 0)
//   { ok: false, cancelled: true }      withdrawn by the page (AbortSignal)
//   { ok: false, error: true, text }    the bridge itself is missing or threw
// Pending (query() only, after timeoutMs):
//   { pending: true, elapsedMs, reply, cancel }   reply: Promise of one of the outcomes above

(function (vexa) {
  'use strict';

  // What the bridge carried so far (the Console's status line shows it).
  const stats = { sent: 0, answered: 0, lastAt: 0 };
  const settleListeners = new Set();

  /** fn() after every settled query; returns an unsubscribe function. */
  function onSettled(fn) {
    settleListeners.add(fn);
    return () => settleListeners.delete(fn);
  }

  /** True when the native side has injected the query function into this page. */
  function bridgeAvailable() {
    return typeof window.cefQuery === 'function';
  }

  /** Command object or raw text → the exact text that goes over the bridge. */
  function requestText(command) {
    return typeof command === 'string' ? command : JSON.stringify(command);
  }

  /**
   * Send one command. Returns at once with a handle:
   *   { id, request, startedAt, reply: Promise<outcome>, cancel(), settled }
   * The reply promise never rejects.
   */
  function send(command) {
    const request = requestText(command);
    const handle = {
      id: null,
      request,
      startedAt: performance.now(),
      settled: false,
      reply: null,
      cancel() {},
    };

    let finish;
    handle.reply = new Promise((resolve) => { finish = resolve; });
    const settle = (outcome) => {
      if (handle.settled) return;
      handle.settled = true;
      outcome.ms = Math.round(performance.now() - handle.startedAt);
      if (outcome.ok || 'code' in outcome) { stats.answered++; stats.lastAt = Date.now(); }
      finish(outcome);
      for (const fn of settleListeners) {
        try { fn(outcome); } catch (err) { console.error('bridge listener failed', err); }
      }
    };

    if (!bridgeAvailable()) {
      settle({ ok: false, error: true, text: 'cefQuery is not available in this page' });
      return handle;
    }

    stats.sent++;
    try {
      handle.id = window.cefQuery({
        request,
        persistent: false,
        onSuccess: (text) => settle({ ok: true, text: String(text) }),
        onFailure: (code, text) => settle({ ok: false, code, text: String(text) }),
      });
    } catch (err) {
      settle({ ok: false, error: true, text: String(err && err.message || err) });
      return handle;
    }

    handle.cancel = () => {
      if (handle.settled) return;
      try {
        if (typeof window.cefQueryCancel === 'function') window.cefQueryCancel(handle.id);
      } catch (_) { /* the query is withdrawn on our side regardless */ }
      settle({ ok: false, cancelled: true });
    };
    return handle;
  }

  /**
   * Send one command and wait for its reply, at most timeoutMs.
   * Options: timeoutMs (default 3000), signal (AbortSignal: cancels the query).
   * Resolves with an outcome, or with { pending: true, elapsedMs, reply, cancel } when the
   * native side has not answered in time; the query keeps listening until it is cancelled.
   */
  function query(command, { timeoutMs = 3000, signal } = {}) {
    const handle = send(command);

    if (signal) {
      if (signal.aborted) handle.cancel();
      else signal.addEventListener('abort', () => handle.cancel(), { once: true });
    }
    if (handle.settled || !(timeoutMs >= 0) || timeoutMs === Infinity) return handle.reply;

    return new Promise((resolve) => {
      const timer = setTimeout(() => {
        resolve({
          pending: true,
          elapsedMs: Math.round(performance.now() - handle.startedAt),
          reply: handle.reply,
          cancel: handle.cancel,
        });
      }, timeoutMs);
      handle.reply.then((outcome) => {
        clearTimeout(timer);
        resolve(outcome);
      });
    });
  }

  /**
   * One command for a screen: resolves with the success outcome, or with { ok: false, message }
   * carrying the user's words for whatever went wrong (an unanswered query is let go). The
   * message shows as text and is said in the language of the moment (i18n.later).
   */
  async function command(request, { timeoutMs = 4000 } = {}) {
    const outcome = await query(request, { timeoutMs });
    if (outcome.pending) outcome.cancel();
    return outcome.ok ? outcome : { ok: false, message: vexa.i18n.later(() => vexa.messages.failureMessage(request, outcome)) };
  }

  vexa.bridge = { bridgeAvailable, requestText, send, query, command, stats, onSettled };
})(window.vexaModules = window.vexaModules || {});
