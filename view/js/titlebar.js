// The frameless window's own title bar: dragging the header moves the window, and the three
// buttons minimise, maximise / restore and close it (closing follows the user's close setting:
// into the tray or out of the program).
//
// Moves and resizes go out as "moveWindow:dx,dy,width,height" texts: dragging the header moves
// the window, dragging an edge or a corner (the grips along the window's border) resizes it; a
// left or top edge moves the window by what it takes off its size. Only one text is on its way
// at a time; pointer movement that arrives meanwhile is added up and sent with the next one, so a
// fast drag never queues a backlog behind the window.
(function (vexa) {
  'use strict';

  const { send, query } = vexa.bridge;
  const { t } = vexa.i18n;

  // Exact texts: the native side recognises these before any JSON parsing.
  const MINIMIZE = '{"funcname":"minisizeWindow"}';
  const MAXIMIZE = '{"funcname":"maxsizeWindow"}';
  const RESTORE = '{"funcname":"restoreWindow"}';

  let maximized = false;
  let controls = null;

  function setMaximized(value) {
    maximized = value;
    document.body.dataset.maximized = value ? 'true' : 'false';
    if (!controls) return;
    const button = controls.querySelector('[data-action="maximize"]');
    button.dataset.state = value ? 'maximized' : 'normal';
    button.dataset.i18nTitle = value ? 'win.restore' : 'win.maximize';
    button.dataset.i18nLabel = button.dataset.i18nTitle;
    button.title = t(button.dataset.i18nTitle);
    button.setAttribute('aria-label', button.title);
  }

  function toggleMaximized() {
    // Neither text is answered: the window changes, the page just notes which way it went.
    send(maximized ? RESTORE : MAXIMIZE);
    setMaximized(!maximized);
  }

  // --- dragging ----------------------------------------------------------------------------

  const drag = { active: false, pointerId: null, lastX: 0, lastY: 0, dx: 0, dy: 0, inFlight: false };
  // The size the next text asks for; null: the window's size as it is.
  let wantedSize = null;

  // Smallest size a resize asks for: the header with its window buttons still fits.
  const MIN_WIDTH = 640;
  const MIN_HEIGHT = 420;

  function moveText(dx, dy, size = null) {
    const width = Math.round(size ? size.width : window.innerWidth);
    const height = Math.round(size ? size.height : window.innerHeight);
    return `moveWindow:${dx},${dy},${width},${height}`;
  }

  function flushMove() {
    if (drag.inFlight || (drag.dx === 0 && drag.dy === 0 && !wantedSize)) return;
    const text = moveText(drag.dx, drag.dy, wantedSize);
    drag.dx = 0;
    drag.dy = 0;
    wantedSize = null;
    drag.inFlight = true;
    send(text).reply.then(() => {
      drag.inFlight = false;
      flushMove();
    });
  }

  // --- resizing ----------------------------------------------------------------------------

  const resize = { active: false, pointerId: null, edge: '', startX: 0, startY: 0, width: 0, height: 0, left: 0, top: 0 };

  /** Size and offset of the window for a pointer that moved (dx, dy) since it took the edge. */
  function resizedGeometry(edge, width, height, dx, dy) {
    let w = width;
    let h = height;
    let left = 0;
    let top = 0;
    if (edge.includes('e')) w = Math.max(MIN_WIDTH, width + dx);
    if (edge.includes('s')) h = Math.max(MIN_HEIGHT, height + dy);
    if (edge.includes('w')) { w = Math.max(MIN_WIDTH, width - dx); left = width - w; }
    if (edge.includes('n')) { h = Math.max(MIN_HEIGHT, height - dy); top = height - h; }
    return { width: w, height: h, left, top };
  }

  function onGripDown(event) {
    if (event.button !== 0 || maximized) return;
    const grip = event.currentTarget;
    Object.assign(resize, {
      active: true, pointerId: event.pointerId, edge: grip.dataset.edge,
      startX: event.screenX, startY: event.screenY,
      width: window.innerWidth, height: window.innerHeight, left: 0, top: 0,
    });
    grip.setPointerCapture(event.pointerId);
    event.preventDefault();
  }

  function onGripMove(event) {
    if (!resize.active || event.pointerId !== resize.pointerId) return;
    const g = resizedGeometry(resize.edge, resize.width, resize.height,
      event.screenX - resize.startX, event.screenY - resize.startY);
    // The window's left/top edge moves by what it has not moved yet.
    drag.dx += g.left - resize.left;
    drag.dy += g.top - resize.top;
    resize.left = g.left;
    resize.top = g.top;
    wantedSize = { width: g.width, height: g.height };
    flushMove();
  }

  function onGripEnd(event) {
    if (!resize.active || event.pointerId !== resize.pointerId) return;
    resize.active = false;
    const grip = event.currentTarget;
    if (grip.hasPointerCapture(event.pointerId)) grip.releasePointerCapture(event.pointerId);
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
    { action: 'minimize', title: 'win.minimize' },
    { action: 'maximize', title: 'win.maximize' },
    { action: 'close', title: 'win.close' },
  ];

  function buildControls(slot) {
    for (const { action, title } of BUTTONS) {
      const button = document.createElement('button');
      button.type = 'button';
      button.className = `window-button window-${action}`;
      button.dataset.action = action;
      button.dataset.i18nTitle = title;
      button.dataset.i18nLabel = title;
      button.title = t(title);
      button.setAttribute('aria-label', t(title));
      button.append(Object.assign(document.createElement('span'), { className: 'window-glyph' }));
      slot.append(button);
    }
    slot.addEventListener('click', (event) => {
      const button = event.target.closest('.window-button');
      if (!button) return;
      switch (button.dataset.action) {
        case 'minimize': send(MINIMIZE); break;
        case 'maximize': toggleMaximized(); break;
        case 'close': closeWindow(); break;
        default: break;
      }
    });
  }

  // Closing writes every changed profile file, so a screen with unsaved work is asked first.
  // The tray's Exit comes this way too: the program brings the window forward and offers the
  // page to ask. The page says at once that it asks ("exit": "asking"), else the program quits
  // on its own after a short while; the answer is "exit": true (quit, whatever the settings say)
  // or "stay". While the question is open a second close asks nothing more, and a second Exit
  // quits in the program without the page.
  let closing = null;
  async function closeWindow(exit = false) {
    if (exit) query({ funcname: 'closeApp', exit: 'asking' });
    if (closing) {
      closing.exit ||= exit;
      return;
    }
    closing = { exit };
    try {
      const leave = await vexa.screens.mayLeave({ quitting: exit });
      if (closing.exit) {
        await query({ funcname: 'closeApp', exit: leave ? true : 'stay' });
      } else if (leave) {
        const intoTray = await closesIntoTray();
        await query({ funcname: 'closeApp' });
        if (intoTray && !noTray) sayWhereVexaWent();
      }
    } finally {
      closing = null;
    }
  }

  // The close button hides the window when "closeFunc" is there and is not "closeapp".
  async function closesIntoTray() {
    const read = await query({ funcname: 'getConf' }, { timeoutMs: 1500 });
    if (!read.ok) return false;
    try {
      const closeFunc = (JSON.parse(read.text)[0] || {}).closeFunc;
      return typeof closeFunc === 'string' && closeFunc !== 'closeapp';
    } catch (_) {
      return false;
    }
  }

  // The first time the window goes into the tray, a notification says where vexa went (the
  // program shows the page's notifications as the desktop's, or as the tray icon's messages);
  // once per browser profile, which keeps the mark. Without a tray the window only minimises.
  const TRAY_NOTE = 'vexa.trayNoteShown';
  function sayWhereVexaWent() {
    try {
      if (localStorage.getItem(TRAY_NOTE) || !window.Notification || Notification.permission !== 'granted') return;
      new Notification(t('win.trayTitle'), { body: t('win.trayText'), tag: 'vexa-tray' });
      localStorage.setItem(TRAY_NOTE, '1');
    } catch (err) {
      console.warn('the tray note was not shown', err);
    }
  }

  // Whether the desktop has no tray ("onBrowserMsg" "noTray", at start and on each change):
  // closing minimises there, and the Settings screen offers Exit, which the tray's menu would.
  let noTray = false;
  function setNoTray(absent) {
    if (noTray === absent) return;
    noTray = absent;
    document.dispatchEvent(new CustomEvent('traychanged'));
  }

  function init(doc) {
    vexa.events.onEvent((entry) => {
      if (entry.name !== 'onBrowserMsg') return;
      if (entry.values[0] === 'trayExit') closeWindow(true);
      else if (entry.values[0] === 'noTray') setNoTray(true);
      else if (entry.values[0] === 'trayPresent') setNoTray(false);
    });
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
    for (const grip of doc.querySelectorAll('#resize-grips [data-edge]')) {
      grip.addEventListener('pointerdown', onGripDown);
      grip.addEventListener('pointermove', onGripMove);
      grip.addEventListener('pointerup', onGripEnd);
      grip.addEventListener('pointercancel', onGripEnd);
    }
  }

  vexa.titlebar = {
    init, moveText, resizedGeometry, isMaximized: () => maximized,
    // Exit as the tray's: the shown screen may ask about unsaved work, then vexa quits.
    exit: () => closeWindow(true),
    noTray: () => noTray,
  };
})(window.vexaModules = window.vexaModules || {});
