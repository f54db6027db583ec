// The frameless window's own title bar: dragging the header moves the window, and the three
// buttons minimise, maximise / restore and close it (closing follows the user's close setting:
// into the tray or out of the program).
//
// Moves go out as "moveWindow:dx,dy,width,height" texts. Only one is on its way at a time;
// pointer movement that arrives meanwhile is added up and sent with the next one, so a fast
// drag never queues a backlog of moves behind the window.
(function (vexa) {
  'use strict';

  const { send, query } = vexa.bridge;

  // Exact texts: the native side recognises these before any JSON parsing.
  const MINIMIZE = '{"funcname":"minisizeWindow"}';
  const MAXIMIZE = '{"funcname":"maxsizeWindow"}';
  const RESTORE = '{"funcname":"restoreWindow"}';

  let maximized = false;
  let controls = null;

  function setMaximized(value) {
    maximized = value;
    if (!controls) return;
    const button = controls.querySelector('[data-action="maximize"]');
    button.dataset.state = value ? 'maximized' : 'normal';
    button.title = value ? 'Restore' : 'Maximise';
    button.setAttribute('aria-label', button.title);
  }

  function toggleMaximized() {
    // Neither text is answered: the window changes, the page just notes which way it went.
    send(maximized ? RESTORE : MAXIMIZE);
    setMaximized(!maximized);
  }

  // --- dragging ----------------------------------------------------------------------------

  const drag = { active: false, pointerId: null, lastX: 0, lastY: 0, dx: 0, dy: 0, inFlight: false };

  function moveText(dx, dy) {
    const width = Math.round(window.innerWidth);
    const height = Math.round(window.innerHeight);
    return `moveWindow:${dx},${dy},${width},${height}`;
  }

  function flushMove() {
    if (drag.inFlight || (drag.dx === 0 && drag.dy === 0)) return;
    const text = moveText(drag.dx, drag.dy);
    drag.dx = 0;
    drag.dy = 0;
    drag.inFlight = true;
    send(text).reply.then(() => {
      drag.inFlight = false;
      flushMove();
    });
  }

  // Elements of the header that keep their own clicks.
  function isInteractive(target) {
    return Boolean(target.closest('a, button, input, select, textarea, [data-no-drag]'));
  }

  function onPointerDown(event) {
    if (event.button !== 0 || isInteractive(event.target)) return;
    const region = event.currentTarget;
    drag.active = true;
    drag.pointerId = event.pointerId;
    drag.lastX = event.screenX;
    drag.lastY = event.screenY;
    drag.dx = 0;
    drag.dy = 0;
    region.setPointerCapture(event.pointerId);
    event.preventDefault();
  }

  function onPointerMove(event) {
    if (!drag.active || event.pointerId !== drag.pointerId) return;
    // Screen coordinates: the window moves under the pointer, so positions inside it would
    // not tell how far the pointer went.
    drag.dx += event.screenX - drag.lastX;
    drag.dy += event.screenY - drag.lastY;
    drag.lastX = event.screenX;
    drag.lastY = event.screenY;
    if (maximized && (drag.dx !== 0 || drag.dy !== 0)) setMaximized(false);
    flushMove();
  }

  function onPointerEnd(event) {
    if (!drag.active || event.pointerId !== drag.pointerId) return;
    drag.active = false;
    const region = event.currentTarget;
    if (region.hasPointerCapture(event.pointerId)) region.releasePointerCapture(event.pointerId);
  }

  // --- buttons -----------------------------------------------------------------------------

  const BUTTONS = [
    { action: 'minimize', title: 'Minimise' },
    { action: 'maximize', title: 'Maximise' },
    { action: 'close', title: 'Close' },
  ];

  function buildControls(slot) {
    for (const { action, title } of BUTTONS) {
      const button = document.createElement('button');
      button.type = 'button';
      button.className = `window-button window-${action}`;
      button.dataset.action = action;
      button.title = title;
      button.setAttribute('aria-label', title);
      button.append(Object.assign(document.createElement('span'), { className: 'window-glyph' }));
      slot.append(button);
    }
    slot.addEventListener('click', (event) => {
      const button = event.target.closest('.window-button');
      if (!button) return;
      switch (button.dataset.action) {
        case 'minimize': send(MINIMIZE); break;
        case 'maximize': toggleMaximized(); break;
        case 'close': query({ funcname: 'closeApp' }); break;
        default: break;
      }
    });
  }

  function init(doc) {
    controls = doc.getElementById('window-controls');
    if (controls) {
      buildControls(controls);
      setMaximized(false);
    }
    for (const region of doc.querySelectorAll('[data-drag-region]')) {
      region.addEventListener('pointerdown', onPointerDown);
      region.addEventListener('pointermove', onPointerMove);
      region.addEventListener('pointerup', onPointerEnd);
      region.addEventListener('pointercancel', onPointerEnd);
      region.addEventListener('dblclick', (event) => {
        if (!isInteractive(event.target)) toggleMaximized();
      });
    }
  }

  init(document);
  vexa.titlebar = { moveText, isMaximized: () => maximized };
})(window.vexaModules = window.vexaModules || {});
