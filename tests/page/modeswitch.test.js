// Modes that change the pad: which mode's profile the pads get as bound programs start and end,
// that quick changes write only the last, that writes to a pad never overlap, and that a failed or
// missed pad gets the profile at its next plug-in.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');

const modeSwitch = require(path.join(__dirname, '..', '..', 'view', 'js', 'modeswitch.js'));
const { createSwitcher, createNotifier, describe } = modeSwitch;

const orb = (id) => ({ DeviceID: id, DevicePath: `/dev/${id}`, HardwareID: id, productName: 'PX-ORB42' });

// Time that passes only when the test says so: delay() resolves once advance() reaches it.
function virtualTime() {
  let now = 0;
  const timers = [];
  const settle = async () => { for (let i = 0; i < 20; i++) await new Promise((resolve) => setImmediate(resolve)); };
  return {
    now: () => now,
    delay: (ms) => new Promise((resolve) => timers.push({ at: now + ms, resolve })),
    async advance(ms) {
      const end = now + ms;
      for (;;) {
        await settle();
        timers.sort((a, b) => a.at - b.at);
        if (!timers.length || timers[0].at > end) break;
        const next = timers.shift();
        now = next.at;
        next.resolve();
      }
      now = end;
      await settle();
    },
  };
}

// Time that passes as fast as it is waited for.
function hurriedTime() {
  let now = 0;
  return {
    now: () => now,
    delay: (ms) => new Promise((resolve) => setImmediate(() => { now += ms; resolve(); })),
  };
}

// A switcher over fakes. Applies wait for release() while hold is set; each apply is logged as
// "pad:profile name"; result(pad) decides its outcome.
function rig({ current = '1', pads = [orb('P1')], modes, profiles, clock = hurriedTime() } = {}) {
  const world = {
    current,
    pads,
    modes: modes || [
      { index: '1', name: 'Desktop', path: '', profile: 'profile1.xml' },
      { index: '2', name: 'Racing', path: '/games/racer', profile: 'profile2.xml' },
      { index: '3', name: 'Shooter', path: '/games/shooter', profile: 'profile3.xml' },
      { index: '4', name: 'Editing', path: '/bin/editor', profile: '' },
    ],
    profiles: profiles || {
      'profile1.xml': { name: 'Calm', text: '<profile name="Calm"/>' },
      'profile2.xml': { name: 'Race', text: '<profile name="Race"/>' },
      'profile3.xml': { name: 'Aim', text: '<profile name="Aim"/>' },
    },
    applied: [],
    reports: [],
    hold: false,
    waiting: [],
    writing: 0,
    overlapped: false,
    result: () => ({ ok: true }),
  };
  world.release = () => { const w = world.waiting.splice(0); w.forEach((fn) => fn()); };
  const switcher = createSwitcher({
    readConfiguration: async () => ({ ok: true, modes: world.modes, current: world.current }),
    readProfile: async (file) => ({ ok: true, ...(world.profiles[file] || { name: '', text: '' }) }),
    listPads: async () => world.pads.slice(),
    apply: async (profile, pad) => {
      if (world.writing) world.overlapped = true;
      world.writing++;
      world.applied.push(`${pad.DeviceID}:${profile.name}`);
      if (world.hold) await new Promise((resolve) => world.waiting.push(resolve));
      world.writing--;
      return world.result(pad);
    },
    report: (status) => world.reports.push(status),
    delay: clock.delay,
    now: clock.now,
  });
  return { world, switcher };
}

const t = (key, values = {}) => `${key}(${Object.entries(values).map(([k, v]) => `${k}=${v}`).join(',')})`;

test('the active mode decides: the latest bound program still running, else the current mode', async () => {
  const { world, switcher } = rig({ pads: [orb('P1'), orb('P2')] });
  await switcher.wake();
  assert.deepEqual(world.applied, ['P1:Calm', 'P2:Calm']);
  assert.equal(describe(world.reports.at(-1), t), 'switch.holds(profile=Calm,why=switch.whyCurrent(mode=Desktop))');

  world.applied = [];
  await switcher.processChanged('2', true);
  // Started a second time, or reported again after a monitor restart: nothing new to write.
  await switcher.processChanged('2', true);
  await switcher.monitorRestarted();
  await switcher.processChanged('2', true);
  await switcher.settle();
  assert.deepEqual(world.applied, ['P1:Race', 'P2:Race']);
  assert.equal(describe(world.reports.at(-1), t), 'switch.holds(profile=Race,why=switch.whyProgram(program=racer))');

  // A second bound program wins while it runs; when it ends, the first one's mode is back.
  world.applied = [];
  await switcher.processChanged('3', true);
  await switcher.processChanged('3', false);
  assert.deepEqual(world.applied, ['P1:Aim', 'P2:Aim', 'P1:Race', 'P2:Race']);
  world.applied = [];
  await switcher.processChanged('2', false);
  assert.deepEqual(world.applied, ['P1:Calm', 'P2:Calm']);

  // The user picks another current mode (written, then the monitor restarted).
  world.applied = [];
  world.current = '3';
  await switcher.monitorRestarted();
  assert.deepEqual(world.applied, ['P1:Aim', 'P2:Aim']);
  // Each change was told once: Calm, Race, Aim, Race, Calm, Aim (and, while a mode was left
  // only after its program's end, that it was kept).
  assert.deepEqual(world.reports.filter((r) => !r.waiting).map((r) => r.profile), ['Calm', 'Race', 'Aim', 'Race', 'Calm', 'Aim']);
});

test('quick changes write only the last, and a change during a write waits for it to end', async () => {
  const { world, switcher } = rig({ pads: [orb('P1'), orb('P2')] });
  await switcher.wake();
  world.applied = [];
  // Start and end within one settle: the pad keeps what it holds.
  switcher.processChanged('2', true);
  await switcher.processChanged('2', false);
  assert.deepEqual(world.applied, []);

  // Racing starts; while its write runs, Shooter starts and ends and Editing (no profile)
  // starts and ends: after the write only the latest target is applied.
  world.hold = true;
  const first = switcher.processChanged('2', true);
  while (!world.waiting.length) await new Promise((resolve) => setImmediate(resolve));
  switcher.processChanged('3', true);
  switcher.processChanged('3', false);
  switcher.processChanged('4', true);
  switcher.processChanged('4', false);
  switcher.processChanged('2', false);
  assert.deepEqual(world.applied, ['P1:Race']);
  world.hold = false;
  world.release();
  await first;
  await switcher.whenIdle();
  // The second pad never gets the profile that was already superseded.
  assert.deepEqual(world.applied, ['P1:Race', 'P1:Calm']);
  assert.equal(world.overlapped, false);
});

test('a bound program that restarts in a loop: its mode stays, switches are limited, notes grouped', async () => {
  const clock = virtualTime();
  const { world, switcher } = rig({ clock });
  // What the page says on the desktop, from every report (window hidden).
  const notes = [];
  const notifier = createNotifier({ show: (text) => notes.push(`${clock.now()} ${text}`) > 0, now: clock.now, delay: clock.delay });
  world.reports = { push: (status) => { if (status.kind !== 'kept' && !status.waiting) notifier.push(describe(status, t)); } };
  switcher.wake();
  await clock.advance(1000);
  // Seen gone for one scan, then back, 20 times in 70 s: the pad keeps Race.
  for (let i = 0; i < 20; i++) {
    switcher.processChanged('2', true);
    await clock.advance(1500);
    switcher.processChanged('2', false);
    await clock.advance(2000);
    if (i === 0) {
      assert.equal(describe(switcher.status, t), 'switch.holds(profile=Race,why=switch.whyEnded(program=racer))');
    }
  }
  await clock.advance(modeSwitch.LEAVE_MS);
  assert.deepEqual(world.applied, ['P1:Calm', 'P1:Race', 'P1:Calm']);
  assert.equal(describe(switcher.status, t), 'switch.holds(profile=Calm,why=switch.whyCurrent(mode=Desktop))');

  // Gone longer each time, for ten minutes: past the burst, one switch a minute, and the pad
  // keeps the mode switched to last meanwhile.
  world.applied = [];
  const said = new Set();
  for (let minute = 0; minute < 10; minute++) {
    for (let i = 0; i < 4; i++) {
      switcher.processChanged('2', true);
      await clock.advance(3000);
      said.add(describe(switcher.status, t));
      switcher.processChanged('2', false);
      await clock.advance(12000);
    }
  }
  assert.ok(world.applied.length <= modeSwitch.SWITCH_BURST + 10 + 1, `${world.applied.length} writes`);
  assert.ok(world.applied.length >= modeSwitch.SWITCH_BURST, `${world.applied.length} writes`);
  assert.ok(said.has('switch.holds(profile=Calm,why=switch.whyOften())'), [...said].join(' | '));
  // On the desktop: at most one note in each 30 s, never the same twice in a row.
  const minutes = (clock.now() - Number(notes[0].split(' ')[0])) / 60000;
  assert.ok(notes.length <= minutes * 2 + 1, `${notes.length} notes in ${minutes} minutes`);
  for (let i = 1; i < notes.length; i++) {
    assert.ok(Number(notes[i].split(' ')[0]) - Number(notes[i - 1].split(' ')[0]) >= modeSwitch.NOTE_GAP_MS);
    assert.notEqual(notes[i].replace(/^\d+ /, ''), notes[i - 1].replace(/^\d+ /, ''));
  }
});

test('a pad plugged in gets the active profile; a failed one is tried again at the next plug-in; others are left alone', async () => {
  const other = { DeviceID: 'X9', DevicePath: '/dev/X9', HardwareID: 'X9', productName: '' };
  const { world, switcher } = rig({ pads: [other] });
  await switcher.processChanged('2', true);
  assert.deepEqual(world.applied, []);
  assert.equal(world.reports.at(-1).kind, 'noPad');

  // Plugged in, but unplugged in the middle of the write: said, and not tried again until it
  // is plugged in again (a saved profile elsewhere does not retry it).
  world.pads = [other, orb('P1')];
  world.result = () => ({ ok: false, message: 'The pad holds something else.' });
  await switcher.devicesChanged();
  assert.deepEqual(world.applied, ['P1:Race']);
  assert.equal(describe(world.reports.at(-1), t, (p) => p.DeviceID),
    'switch.failed(profile=Race,pad=P1,reason=The pad holds something else.,why=switch.whyProgram(program=racer))');
  await switcher.wake();
  assert.deepEqual(world.applied, ['P1:Race']);

  // Plugged in again (the list may show it throughout: not every device event is acted on).
  world.result = () => ({ ok: true });
  await switcher.devicesChanged();
  assert.deepEqual(world.applied, ['P1:Race', 'P1:Race']);
  assert.equal(world.reports.at(-1).kind, 'applied');
  // Unplugged and plugged in again: its memory may have changed meanwhile, so it is written again.
  world.pads = [other];
  await switcher.devicesChanged();
  world.pads = [other, orb('P1')];
  await switcher.devicesChanged();
  assert.equal(world.applied.length, 3);
});

test('a mode without a profile or with an emptied place leaves the pad; a saved edit is applied again', async () => {
  const { world, switcher } = rig();
  await switcher.processChanged('4', true);
  assert.deepEqual(world.applied, []);
  assert.equal(describe(world.reports.at(-1), t), 'switch.kept(why=switch.whyProgram(program=editor))');
  await switcher.processChanged('4', false);
  assert.deepEqual(world.applied, ['P1:Calm']);

  world.profiles['profile2.xml'] = { name: '', text: '<profile name=""/>' };
  await switcher.processChanged('2', true);
  assert.deepEqual(world.applied, ['P1:Calm']);
  assert.equal(world.reports.at(-1).kind, 'emptied');
  await switcher.processChanged('2', false);

  // The active profile saved with other values: written again; saved unchanged: not.
  world.profiles['profile1.xml'] = { name: 'Calm', text: '<profile name="Calm"><mouse speed="4"/></profile>' };
  await switcher.wake();
  await switcher.wake();
  assert.deepEqual(world.applied, ['P1:Calm', 'P1:Calm']);

  // A link that is not one of the eight places is no place at all.
  world.modes[0].profile = '../xml/configuration.xml';
  await switcher.wake();
  assert.equal(world.reports.at(-1).kind, 'emptied');
  assert.equal(world.applied.length, 2);
});

test('writers of one pad take turns, also after one fails; other pads do not wait', async () => {
  const { exclusive } = require(path.join(__dirname, '..', '..', 'view', 'js', 'padlock.js'));
  const log = [];
  const gate = {};
  const blocked = new Promise((resolve) => { gate.open = resolve; });
  const a = exclusive(orb('P1'), async () => { log.push('a in'); await blocked; log.push('a out'); throw new Error('unplugged'); });
  const b = exclusive({ DevicePath: '/dev/P1' }, async () => { log.push('b'); return 'b done'; });
  const c = exclusive(orb('P2'), async () => { log.push('c'); });
  await c;
  assert.deepEqual(log, ['a in', 'c']);
  gate.open();
  await assert.rejects(a, /unplugged/);
  assert.equal(await b, 'b done');
  assert.deepEqual(log, ['a in', 'c', 'a out', 'b']);
});
