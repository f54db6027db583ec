// The PX-ORB42 drawn as the player holds it: buttons light up, sticks move and triggers fill
// from the decoded report (report.js). Drawn once; each report only flips classes and moves
// the two stick knobs.
(function (vexa) {
  'use strict';

  const NS = 'http://www.w3.org/2000/svg';
  const STICK_TRAVEL = 14; // how far a knob moves at full tilt, in picture units

  function shape(tag, attrs, children) {
    const node = document.createElementNS(NS, tag);
    for (const [name, value] of Object.entries(attrs || {})) node.setAttribute(name, String(value));
    for (const child of children || []) node.appendChild(child);
    return node;
  }

  function label(x, y, text, size) {
    const node = shape('text', { x, y, class: 'pp-label', 'font-size': size || 11, 'text-anchor': 'middle', 'dominant-baseline': 'central' });
    node.textContent = text;
    return node;
  }

  function roundButton(name, cx, cy, r, text) {
    return shape('g', { 'data-part': name, class: 'pp-button' }, [
      shape('circle', { cx, cy, r, class: 'pp-key' }),
      label(cx, cy, text, r > 9 ? 11 : 8),
    ]);
  }

  function bar(name, x, y, w, h, text) {
    return shape('g', { 'data-part': name, class: 'pp-button' }, [
      shape('rect', { x, y, width: w, height: h, rx: h / 2, class: 'pp-key' }),
      label(x + w / 2, y + h / 2, text, 9),
    ]);
  }

  function trigger(name, x, text) {
    // The fill grows from the bottom of the trigger as it is squeezed.
    return shape('g', { 'data-part': name, class: 'pp-trigger' }, [
      shape('rect', { x, y: 6, width: 64, height: 24, rx: 8, class: 'pp-key' }),
      shape('rect', { x, y: 6, width: 64, height: 24, rx: 8, class: 'pp-fill', transform: 'scale(1 0)' }),
      label(x + 32, 18, text, 10),
    ]);
  }

  function stick(name, cx, cy) {
    return shape('g', { 'data-part': name, class: 'pp-stick' }, [
      shape('circle', { cx, cy, r: 30, class: 'pp-well' }),
      shape('g', { class: 'pp-knob' }, [
        shape('circle', { cx, cy, r: 17, class: 'pp-key' }),
        shape('circle', { cx, cy, r: 7, class: 'pp-dimple' }),
      ]),
    ]);
  }

  function dpad(cx, cy) {
    const arm = (name, x, y, w, h) => shape('rect', { 'data-part': name, class: 'pp-button pp-key', x, y, width: w, height: h, rx: 3 });
    return shape('g', { class: 'pp-dpad' }, [
      arm('up', cx - 9, cy - 29, 18, 22),
      arm('down', cx - 9, cy + 7, 18, 22),
      arm('left', cx - 29, cy - 9, 22, 18),
      arm('right', cx + 7, cy - 9, 22, 18),
      shape('rect', { x: cx - 9, y: cy - 9, width: 18, height: 18, class: 'pp-hub' }),
    ]);
  }

  /** Draws the pad into container; returns draw(decoded report or null). */
  function createPadPicture(container) {
    const body = 'M110 56 H310 C358 56 388 80 398 128 L410 196 C416 232 386 248 360 228 L318 190 H102 '
      + 'L60 228 C34 248 4 232 10 196 L22 128 C32 80 62 56 110 56 Z';
    const picture = shape('svg', { viewBox: '0 0 420 250', class: 'pad-picture-svg', 'aria-hidden': 'true', focusable: 'false' }, [
      trigger('lt', 78, 'LT'),
      trigger('rt', 278, 'RT'),
      bar('lb', 64, 36, 92, 14, 'LB'),
      bar('rb', 264, 36, 92, 14, 'RB'),
      shape('path', { d: body, class: 'pp-body' }),
      stick('ls', 112, 112),
      dpad(166, 168),
      stick('rs', 262, 168),
      roundButton('y', 316, 88, 11, 'Y'),
      roundButton('x', 292, 112, 11, 'X'),
      roundButton('b', 340, 112, 11, 'B'),
      roundButton('a', 316, 136, 11, 'A'),
      bar('view', 176, 104, 22, 12, '⧉'),
      bar('menu', 222, 104, 22, 12, '≡'),
      roundButton('home', 210, 80, 12, '◎'),
    ]);
    container.replaceChildren(picture);

    const parts = {};
    for (const node of picture.querySelectorAll('[data-part]')) parts[node.dataset.part] = node;
    const knobs = { left: parts.ls.querySelector('.pp-knob'), right: parts.rs.querySelector('.pp-knob') };
    const fills = { left: parts.lt.querySelector('.pp-fill'), right: parts.rt.querySelector('.pp-fill') };

    return function draw(report) {
      for (const name of vexa.report.BUTTONS) parts[name].classList.toggle('on', !!(report && report.buttons[name]));
      for (const side of ['left', 'right']) {
        const s = report ? report.sticks[side] : { x: 0, y: 0 };
        knobs[side].setAttribute('transform', `translate(${(s.x * STICK_TRAVEL).toFixed(1)} ${(s.y * STICK_TRAVEL).toFixed(1)})`);
        const level = report ? report.triggers[side] : 0;
        // Scaled about the trigger's bottom edge (y = 30).
        fills[side].setAttribute('transform', `translate(0 ${(30 * (1 - level)).toFixed(1)}) scale(1 ${level.toFixed(3)})`);
        parts[side === 'left' ? 'lt' : 'rt'].classList.toggle('on', level > 0.02);
      }
    };
  }

  vexa.padPicture = { createPadPicture };
})(window.vexaModules = window.vexaModules || {});
