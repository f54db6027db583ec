// @ts-check
// Modes that change the pad: each mode may name a profile place ("profile" attribute of its
// "mode" element, view/PROFILES.md), and while the mode is active every connected PX-ORB42 holds
// that profile. The active mode is the one of the most recently started bound program still
// running, else the current mode; it changes as bound programs start and end ("onProcessChanged")
// and as the user picks another current mode.
//
// Changes are coalesced: a change that comes while an apply runs waits for it to end (a write is
// never cut in half) and only the latest target is applied then; changes within SETTLE_MS of each
// other are one change. What each pad was last given is remembered (profile file and text), so a
// program started twice, a second bound program of the same mode or a repeated event writes
// nothing; a pad that leaves is forgotten, so one plugged in gets the active mode's profile, and a
// failed apply is tried again at the next plug-in. A mode without a profile, or whose place was
// emptied, leaves the pads as they are. Pads of other products are left alone.
//
// The switcher decides; what it reads and writes comes through io (the page's bridge below, fakes
// in the Node tests), and what it did goes to io.report once per change, for the screens' lines
// and, while the window is hidden, a desktop notification.
(function (root, factory) {
  const inNode = typeof module === 'object' && module.exports;
  const api = inNode ? factory(require('./modebind.js')) : factory(root.vexaModules.modeBind);
  if (inNode) module.exports = api;
  else (root.vexaModules ??= {}).modeSwitch = api;
})(typeof window !== 'undefined' ? window : globalThis, (bind) => {
  'use strict';

  const PRODUCT = 'PX-ORB42';
  const SETTLE_MS = 50;
  // The restarted monitor scans 3 s after it starts; a program it has not reported again by then
  // no longer runs (or is no longer bound).
  const RESTART_SETTLE_MS = 5000;
  const PROFILE_FILE = /^profile[1-8]\.xml$/;

  const isPadOfOurs = (pad) => pad.productName === PRODUCT || pad.device === PRODUCT;
  const padId = (pad) => String(pad.DeviceID || pad.DevicePath || '');

  /**
   * io: readConfiguration() → { ok, modes (modebind.listModes), current, message };
   * readProfile(file) → { ok, name, text, message } (name empty: the place is not in use);
   * listPads() → pads; apply(profile, pad) → { ok, message }; report(status);
   * delay(ms) → promise; changed() after the running programs change (optional).
   */
  function createSwitcher(io) {
    let running = bind.emptyRunning();
    let pending = false;
    let busy = false;
    let idle = Promise.resolve();
    let plugged = false;
    let lastKey = null;
    let status = null;
    const held = new Map();   // pad id → what it was last given: "file\ntext"
    const failed = new Map(); // pad id → what failed to go to it

    function request() {
      pending = true;
      if (!busy) idle = drain();
      return idle;
    }

    async function drain() {
      busy = true;
      try {
        while (pending) {
          pending = false;
          await io.delay(SETTLE_MS);
          if (pending) continue;
          // A round that breaks must not stop the switcher: the next change starts another.
          await round().catch((err) => console.error('mode switch failed', err));
        }
      } finally {
        busy = false;
      }
    }

    // Says what the pads hold now; told once per change (a key seen last time is not told
    // again) unless something was written.
    function tell(next, key, written = false) {
      status = next;
      if (!written && key === lastKey) return;
      lastKey = key;
      io.report(next);
    }

    async function round() {
      const conf = await io.readConfiguration();
      if (!conf.ok) return tell({ kind: 'unreadable', message: conf.message }, `unreadable\n${conf.message}`);
      const active = bind.activeMode(running, conf.current);
      const mode = conf.modes.find((m) => m.index === active.index) || null;
      const about = {
        index: active.index,
        mode: mode ? mode.name : '',
        byProgram: active.byProgram,
        program: mode && active.byProgram ? bind.programName(mode.path) : '',
        file: mode ? mode.profile : '',
      };
      const pads = (await io.listPads()).filter(isPadOfOurs);
      const here = new Set(pads.map(padId));
      for (const map of [held, failed]) for (const id of map.keys()) if (!here.has(id)) map.delete(id);
      if (plugged) { failed.clear(); plugged = false; }
      if (!mode || !about.file) return tell({ ...about, kind: 'kept' }, `kept\n${about.index}`);
      const profile = PROFILE_FILE.test(about.file) ? await io.readProfile(about.file) : { ok: true, name: '' };
      if (!profile.ok) return tell({ ...about, kind: 'failed', message: profile.message, pads: [] }, `unread\n${about.file}`);
      if (!String(profile.name || '').trim()) return tell({ ...about, kind: 'emptied' }, `emptied\n${about.index}`);
      const given = `${about.file}\n${profile.text}`;
      const named = { ...about, profile: profile.name };
      const key = `${about.index}\n${given}`;
      if (!pads.length) return tell({ ...named, kind: 'noPad' }, `noPad\n${key}`);
      const outcomes = [];
      for (const pad of pads) {
        const id = padId(pad);
        if (held.get(id) === given || failed.get(id) === given) continue;
        // A newer change waits for this write, not for the other pads: it is applied next round.
        if (pending) return;
        held.delete(id);
        const result = await io.apply(profile, pad).catch((err) => ({ ok: false, message: String((err && err.message) || err) }));
        if (result.ok) held.set(id, given);
        else failed.set(id, given);
        outcomes.push({ pad, ok: Boolean(result.ok), message: result.message || '' });
      }
      const bad = outcomes.filter((o) => !o.ok);
      if (bad.length) {
        return tell({ ...named, kind: 'failed', message: bad[0].message, pads: bad.map((o) => o.pad) }, `failed\n${key}`, true);
      }
      // A pad that failed before and was not tried again keeps the failure said.
      if (pads.some((p) => failed.get(padId(p)) === given)) return;
      tell({ ...named, kind: 'applied', pads }, `applied\n${key}`, outcomes.length > 0);
    }

    return {
      /** "onProcessChanged"(index, on). */
      processChanged(index, on) {
        running = bind.processChanged(running, index, on);
        if (io.changed) io.changed();
        return request();
      },
      /** The process monitor was restarted ("confChanged"): every running mark waits for its first scan. */
      monitorRestarted() {
        running = bind.monitorRestarted(running);
        return request();
      },
      /** The restarted monitor has had its first scan: marks it did not confirm go. */
      settle() {
        running = bind.settle(running);
        if (io.changed) io.changed();
        return request();
      },
      /** The pad list changed: a pad that comes gets the active profile, a failed one is tried again. */
      devicesChanged() {
        plugged = true;
        return request();
      },
      /** Anything else that may change the target: the configuration, a saved profile, the start. */
      wake: request,
      /** Resolves once nothing is pending or being applied. */
      whenIdle: () => idle,
      get running() { return running; },
      get status() { return status; },
    };
  }

  /** The user's words for a status (t: vexa.i18n.t); pad: how pads are named. */
  function describe(status, t, padName = (p) => p.DeviceID) {
    if (!status) return '';
    const why = status.byProgram ? t('switch.whyProgram', { program: status.program })
      : t('switch.whyCurrent', { mode: status.mode || t('modes.mode', { n: status.index }) });
    switch (status.kind) {
      case 'applied': return t('switch.holds', { profile: status.profile, why });
      case 'noPad': return t('switch.noPad', { profile: status.profile, why });
      case 'kept': return status.index ? t('switch.kept', { why }) : '';
      case 'emptied': return t('switch.emptied', { why });
      case 'unreadable': return t('switch.unreadable', { reason: status.message });
      case 'failed': return t('switch.failed', {
        profile: status.profile || status.file, pad: (status.pads || []).map(padName).join(', ') || PRODUCT,
        reason: status.message, why,
      });
      default: return '';
    }
  }

  // ---- in the page --------------------------------------------------------------------------

  function startInPage() {
    const vexa = window.vexaModules;
    const { t } = vexa.i18n;
    const { command } = vexa.bridge;
    let settleTimer = 0;
    // Events count from the first moment; applying waits for the page's start (its language).
    let started;
    const ready = new Promise((resolve) => { started = resolve; });

    /** The configuration as the program holds it now: { ok, conf, groups, current, modes } (modebind.js). */
    async function readConfiguration() {
      const result = await command({ funcname: 'queryProfile', filePath: bind.CONFIGURATION, xpath: bind.CONF_XPATH });
      if (!result.ok) return result;
      const doc = new DOMParser().parseFromString(result.text, 'application/xml');
      if (!result.text.trim() || doc.querySelector('parsererror')) return { ok: false, message: vexa.i18n.later(() => t('modes.noFile')) };
      const read = bind.readConf(bind.plain(doc.documentElement));
      return { ok: true, ...read, modes: bind.listModes(read.groups) };
    }

    // Writes mode links into the program's copy of the configuration; the switcher looks again.
    async function writeLinks(commands, positions) {
      for (const object of commands) {
        const written = await command(object);
        if (!written.ok) return written;
      }
      switcher.wake();
      return { ok: true, positions };
    }

    // The profile as last saved: the Profiles screen keeps that text for places it has read
    // (an edit counts once it is saved); otherwise the program's copy, which is the file.
    async function readProfile(file) {
      const place = Number(file.match(/\d/)[0]) - 1;
      const shown = vexa.profiles && vexa.profiles.state.places[place];
      let text = shown && shown.saved !== null ? shown.saved : null;
      if (text === null) {
        const result = await command({ funcname: 'queryProfile', filePath: `view/profiles/${file}`, xpath: '/profile' });
        if (!result.ok) return result;
        text = result.text;
      }
      const top = new DOMParser().parseFromString(text || '', 'application/xml').documentElement;
      const ok = top && top.tagName === 'profile';
      return { ok: true, name: ok ? top.getAttribute('name') || '' : '', text, element: ok ? top : null };
    }

    const padName = (pad) => vexa.pads.padLabel(pad);

    function draw() {
      const text = describe(switcher.status, t, padName);
      for (const line of document.querySelectorAll('[data-pad-profile]')) {
        if (!(line instanceof HTMLElement)) continue;
        line.textContent = text;
        line.dataset.kind = switcher.status ? switcher.status.kind : '';
      }
    }

    function report(status) {
      draw();
      document.dispatchEvent(new CustomEvent('padprofilechanged', { detail: status }));
      // Said on the desktop only while the window is away; on screen the lines say it.
      if (!document.hidden || status.kind === 'kept' || !window.Notification || Notification.permission !== 'granted') return;
      try {
        new Notification(t('switch.title'), { body: describe(status, t, padName), tag: 'vexa-pad-profile', silent: true });
      } catch (err) {
        console.warn('notification not shown', err);
      }
    }

    const switcher = createSwitcher({
      readConfiguration,
      readProfile,
      listPads: () => vexa.pads.listPads(),
      apply: (profile, pad) => vexa.padMemory.applyProfile(profile.element, pad, { unattended: true }),
      report,
      delay: (ms) => ready.then(() => new Promise((resolve) => setTimeout(resolve, ms))),
      changed: () => document.dispatchEvent(new CustomEvent('runningchanged')),
    });

    function remember(entry) {
      if (entry.name === 'onProcessChanged') {
        const [index, state] = entry.values;
        switcher.processChanged(index, state === true || state === 'true' || state === 1);
      } else if (entry.name === 'devicesChanged') {
        switcher.devicesChanged();
      }
    }
    vexa.events.eventStore.events.forEach(remember);
    vexa.events.onEvent(remember);
    document.addEventListener('languagechanged', draw);
    document.addEventListener('screenshown', draw);
    // A saved profile may be the one the pad should hold.
    document.addEventListener('profilessaved', () => switcher.wake());
    document.addEventListener('profilefilessaved', () => switcher.wake());
    switcher.wake();

    return {
      switcher,
      readConfiguration,
      /** The names of the modes that give the pad the profile file ("profile3.xml"). */
      async modesUsing(file) {
        const conf = await readConfiguration();
        if (!conf.ok) return [];
        return conf.modes.filter((m) => m.profile === file).map((m) => m.name || t('modes.mode', { n: m.index }));
      },
      /**
       * Clears every mode's link to the profile file in the program's copy of the configuration;
       * it is written with the next save, like the deletion that asks for it (so the monitor
       * is not restarted, which would save the deletion at once). Says which modes lost it
       * (positions), for relink.
       */
      async unlink(file) {
        const conf = await readConfiguration();
        if (!conf.ok) return conf;
        const positions = conf.modes.filter((m) => m.profile === file).map((m) => m.position);
        return writeLinks(bind.unlinkCommands(conf.groups, file), positions);
      },
      /** Gives the modes that unlink cleared their link again: the deletion was discarded. */
      async relink(file, positions) {
        const conf = await readConfiguration();
        if (!conf.ok) return conf;
        return writeLinks(bind.relinkCommands(conf.groups, file, positions), positions);
      },
      /** Called once the page has its language and screens. */
      start() {
        // The program grants its own page documents the right to notify.
        if (window.Notification && Notification.permission === 'default') Notification.requestPermission();
        started();
      },
      /** After a write of the configuration and "confChanged" (the monitor restarted). */
      configurationChanged() {
        switcher.monitorRestarted();
        clearTimeout(settleTimer);
        settleTimer = setTimeout(() => switcher.settle(), RESTART_SETTLE_MS);
      },
      draw,
    };
  }

  const api = { PRODUCT, SETTLE_MS, createSwitcher, describe, isPadOfOurs };
  if (typeof window !== 'undefined' && window.document && window.vexaModules && window.vexaModules.bridge) {
    Object.assign(api, startInPage());
  }
  return api;
});
