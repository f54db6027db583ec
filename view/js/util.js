// Small DOM and formatting helpers shared by the panels.
//
// The page is opened from file://, where the browser refuses to load ES module scripts, so every
// file under js/ is a classic script loaded in order with "defer" (see index.html). Each one
// wraps itself in a function and publishes its exports on window.vexaModules under its own name
// (util, bridge, events, console, eventLog); later files take what they need from there.

(function (vexa) {
  'use strict';

  /**
   * Create an element. props: className, text, attrs {name: value}, on {event: fn}, dataset.
   * Words of the page: t (text key; with tValues filled in), tLabel (aria-label), tTitle (title)
   * and tPlaceholder; a key without values stays marked, so a language change re-translates it.
   * Content always goes in as text, never as markup.
   */
  function el(tag, props = {}, children = []) {
    const node = document.createElement(tag);
    if (props.className) node.className = props.className;
    if (props.text !== undefined) node.textContent = props.text;
    if (props.t) {
      node.textContent = vexa.i18n.t(props.t, props.tValues);
      if (!props.tValues) node.dataset.i18n = props.t;
    }
    for (const [prop, data, attribute] of WORD_ATTRIBUTES) {
      if (!props[prop]) continue;
      node.setAttribute(attribute, vexa.i18n.t(props[prop]));
      node.dataset[data] = props[prop];
    }
    if (props.elide) elide(node, props.text);
    if (props.attrs) {
      for (const [name, value] of Object.entries(props.attrs)) {
        if (value !== undefined && value !== null && value !== false) node.setAttribute(name, value === true ? '' : value);
      }
    }
    if (props.dataset) Object.assign(node.dataset, props.dataset);
    if (props.on) {
      for (const [type, fn] of Object.entries(props.on)) node.addEventListener(type, fn);
    }
    for (const child of children) {
      if (child !== null && child !== undefined) node.append(child);
    }
    return node;
  }

  const WORD_ATTRIBUTES = [['tLabel', 'i18nLabel', 'aria-label'], ['tTitle', 'i18nTitle', 'title'],
    ['tPlaceholder', 'i18nPlaceholder', 'placeholder']];

  /** One line, cut with an ellipsis where it does not fit; the whole text shows on hover. */
  function elide(node, text) {
    node.classList.add('elide');
    node.textContent = text === undefined || text === null ? '' : String(text);
    if (node.textContent) node.title = node.textContent;
    else node.removeAttribute('title');
    return node;
  }

  const pad = (n, width = 2) => String(n).padStart(width, '0');

  /** Local wall-clock time as HH:MM:SS.mmm. */
  function clockTime(ms = Date.now()) {
    const d = new Date(ms);
    return `${pad(d.getHours())}:${pad(d.getMinutes())}:${pad(d.getSeconds())}.${pad(d.getMilliseconds(), 3)}`;
  }

  /** A duration for humans: 850 ms, 4.2 s, 3 min 05 s. */
  function duration(ms) {
    if (ms < 1000) return `${Math.max(0, Math.round(ms))} ms`;
    if (ms < 60000) return `${(ms / 1000).toFixed(ms < 10000 ? 1 : 0)} s`;
    const s = Math.floor(ms / 1000);
    return `${Math.floor(s / 60)} min ${pad(s % 60)} s`;
  }

  /**
   * Reply text for display: JSON objects and arrays are pretty-printed, everything else is shown
   * as it came. Returns { text, json } where json tells whether it was re-formatted.
   */
  function prettyReply(text) {
    const trimmed = String(text).trim();
    if (trimmed.startsWith('{') || trimmed.startsWith('[')) {
      try {
        return { text: JSON.stringify(JSON.parse(trimmed), null, 2), json: true };
      } catch (_) { /* not JSON after all */ }
    }
    return { text: String(text), json: false };
  }

  /** One-line JSON of a value; never throws. */
  function compactJson(value) {
    try {
      const s = JSON.stringify(value);
      return s === undefined ? String(value) : s;
    } catch (_) {
      return String(value);
    }
  }

  // Runs fn on an animation frame, at most once per intervalMs however often it is asked for.
  // Live views redraw at a calm rate: every repaint of the window costs the native side time
  // that fast event streams (pad reports at 1000 Hz) need, and the eye gains nothing above it.
  function paced(fn, intervalMs) {
    let last = -Infinity;
    let pending = false;
    function run(now) {
      pending = false;
      last = now;
      fn();
    }
    return function request() {
      if (pending) return;
      pending = true;
      const wait = intervalMs - (performance.now() - last);
      if (wait <= 0) requestAnimationFrame(run);
      else setTimeout(() => requestAnimationFrame(run), wait);
    };
  }

  /**
   * Enter in a field of the form presses its button marked data-default (when it is enabled);
   * the form itself never navigates.
   */
  function submitOnEnter(form) {
    form.addEventListener('submit', (event) => event.preventDefault());
    form.addEventListener('keydown', (event) => {
      if (event.key !== 'Enter' || event.isComposing || event.shiftKey || event.ctrlKey || event.altKey) return;
      if (!event.target.matches('input, select')) return;
      event.preventDefault();
      const button = form.querySelector('button[data-default]');
      if (button && !button.disabled && !button.hidden) button.click();
    });
  }

  /**
   * Call before an action that disables its own button; the function it returns gives the focus
   * back to that control (or to `fallback` when the control is now hidden or disabled), but only
   * when the focus fell to the page meanwhile: a person who moved on keeps their place.
   */
  function holdFocus(fallback) {
    const acted = document.activeElement;
    return () => {
      const now = document.activeElement;
      if (now && now !== document.body) return;
      const target = [acted, fallback].find((c) => c && c !== document.body && c.isConnected && !c.disabled && !c.hidden);
      if (target) target.focus();
    };
  }

  vexa.util = { el, elide, submitOnEnter, clockTime, duration, prettyReply, compactJson, paced, holdFocus };
})(window.vexaModules = window.vexaModules || {});
