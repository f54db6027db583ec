// A take stopped from the keyboard keeps only the keys the user meant to record.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');

const { trimTake, STOP_SCANS } = require(path.join(__dirname, '..', '..', 'view', 'js', 'take.js'));

const key = (down, scan) => ({ kind: 'key', down, scan, ext: false });
const pause = (ms) => ({ kind: 'pause', ms });
const ENTER = STOP_SCANS.Enter;
const ESC = STOP_SCANS.Escape;
const A = 0x1e;

test('the keys that started and stopped the take are not part of it', () => {
  const typed = [key(true, A), pause(80), key(false, A)];
  // Enter on Record is let go inside the take; Enter on Stop is pressed inside it.
  assert.deepEqual(trimTake([key(false, ENTER), pause(300), ...typed, pause(500), key(true, ENTER)], ENTER), typed);
  // Esc in the window; its release may or may not arrive before the capture ends.
  assert.deepEqual(trimTake([...typed, pause(200), key(true, ESC), pause(90), key(false, ESC)], ESC), typed);
  // Space on Stop acts on release, so both are in the take.
  assert.deepEqual(trimTake([...typed, key(true, 0x39), key(false, 0x39)], STOP_SCANS[' ']), typed);
  // An Enter the user recorded stays; only the one that stopped the take goes.
  const withEnter = [...typed, pause(50), key(true, ENTER), key(false, ENTER)];
  assert.deepEqual(trimTake([...withEnter, pause(400), key(true, ENTER)], ENTER), withEnter);
  // Stopped with the mouse: nothing but dangling pauses and presses is cut.
  assert.deepEqual(trimTake([...withEnter, pause(400)], null), withEnter);
  assert.deepEqual(trimTake([], ESC), []);
});

test('the way back to this window is not part of the take', () => {
  const typed = [key(true, A), pause(80), key(false, A)];
  const SHIFT = 0x2a;
  const ALT = 0x38;
  const TAB = 0x0f;
  // Shift held as the take began, let go after the last key: neither its release nor the pause
  // spent before it is kept.
  assert.deepEqual(trimTake([...typed, pause(1800), key(false, SHIFT), pause(300), key(true, ESC)], ESC), typed);
  // Back with Alt+Tab, Esc pressed with Alt still held: Alt (never let go in the take) goes, the
  // pauses on either side of it are one.
  assert.deepEqual(trimTake([...typed, pause(1500), key(true, ALT), pause(200), key(true, TAB), pause(90), key(false, TAB),
    pause(400), key(true, ESC)], ESC), [...typed, pause(1700), key(true, TAB), pause(90), key(false, TAB)]);
});
