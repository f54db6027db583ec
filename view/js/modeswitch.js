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
// Switching is limited, since a bound program may restart in a loop: the mode of a program that
// ended is left only LEAVE_MS after the end, so a program that comes back within it writes
// nothing (the pads still hold its mode); and past SWITCH_BURST switches in quick succession the
// mode changes at most once every SWITCH_REFILL_MS. Meanwhile nothing is written (a pad plugged
// in waits for the switch) and the lines say why the pad keeps what it holds.
//
// The switcher decides; what it reads and writes comes through io (the page's bridge below, fakes
// in the Node tests), and what it did goes to io.report once per change, for the screens' lines
// and, while the window is hidden, a desktop notification (grouped: createNotifier). Under the
// mode's line each pad gets a line of what it holds, read back from it (never what was last
// sent): a profile, a profile with other values, or contents no profile matches.
(function (root, factory) {
  const inNode = typeof module === 'object' && module.exports;
  const api = inNode ? factory(require('./modebind.js'), require('./padchoice.js'))
    : factory(root.vexaModules.modeBind, root.vexaModules.padChoice);
  if (inNode) module.exports = api;
  else (root.vexaModules ??= {}).modeSwitch = api;
})(typeof window !== 'undefined' ? window : globalThis, (bind, padChoice) => {
  'use strict';

  const PRODUCT = padChoice.PRODUCT;
  const SETTLE_MS = 50;
  // The monitor scans every 3 s: a program that restarts at once is seen gone for one or two scans.
  const LEAVE_MS = 7000;
  const SWITCH_BURST = 10;
  const SWITCH_REFILL_MS = 60000;
  // Desktop notifications: at most one in this time, the latest change then.
  const NOTE_GAP_MS = 30000;
  // The restarted monitor scans 3 s after it starts; a program it has not reported again by then
  // no longer runs (or is no longer bound).
  const RESTART_SETTLE_MS = 5000;
  const PROFILE_FILE = /^profile[1-8]\.xml$/;

  const isPadOfOurs = padChoice.isOurs;
  const padId = (pad) => String(pad.DeviceID || pad.DevicePath || '');

  /**
   * io: readConfiguration() → { ok, modes (modebind.listModes), current, message };
   * readProfile(file) → { ok, name, text, message } (name empty: the place is not in use);
   * listPads() → pads; apply(profile, pad) → { ok, message }; report(status);
   * delay(ms) → promise; now() → ms (optional, Date.now); changed() after the running programs
   * change (optional).
   */
  function createSwitcher(io) {
    const now = io.now || Date.now;
    let running = bind.emptyRunning();
    let pending = false;
    let busy = false;
    let idle = Promise.resolve();
    let wakeUp = null; // ends a wait for a held-back switch early
    let plugged = false;
    let lastKey = null;
    let status = null;
    let settled = null; // the last status told that no held-back switch waits in, and its key
    let target = null;  // what the active mode gives every pad: "file\ntext", or null
    const held = new Map();   // pad id → what it was last given: "file\ntext"
    const failed = new Map(); // pad id → what failed to go to it
    let switchedTo = null;    // the active mode last switched to: { index, byProgram }
    let tokens = SWITCH_BURST;
    let tokensAt = 0;
    let endedAt = -Infinity;  // when a bound program last ended, and none started since

    function request() {
      pending = true;
      if (wakeUp) wakeUp();
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
          const wait = await round().catch((err) => { console.error('mode switch failed', err); return 0; });
          if (wait > 0 && !pending) {
            // Looked at again once the switch may happen, or at the next change.
            await Promise.race([io.delay(wait), new Promise((resolve) => { wakeUp = resolve; })]);
            wakeUp = null;
            pending = true;
          }
        }
      } finally {
        busy = false;
      }
    }

    // The mode the pads get now, and how long a switch to the wanted one is held back (ms).
    function choose(wanted) {
      if (!switchedTo || wanted.index === switchedTo.index) {
        switchedTo = wanted;
        return { active: wanted, wait: 0 };
      }
      const at = now();
      tokens = Math.min(SWITCH_BURST, tokens + (at - tokensAt) / SWITCH_REFILL_MS);
      tokensAt = at;
      const leaving = endedAt + LEAVE_MS - at;
      const often = tokens >= 1 ? 0 : (1 - tokens) * SWITCH_REFILL_MS;
      if (leaving > 0 || often > 0) {
        return { active: switchedTo, wait: Math.ceil(Math.max(leaving, often)), waiting: leaving >= often ? 'ended' : 'often' };
      }
      tokens -= 1;
      switchedTo = wanted;
      return { active: wanted, wait: 0 };
    }

    // Says what the pads hold now; told once per change (a key seen last time is not told
    // again) unless something was written.
    function tell(next, key, written = false) {
      status = next;
      if (!next.waiting) settled = { status: next, key };
      if (!written && key === lastKey) return;
      lastKey = key;
      io.report(next);
    }

    // Resolves with how long a held-back switch waits (ms), else 0.
    async function round() {
      const conf = await io.readConfiguration();
      if (!conf.ok) {
        tell({ kind: 'unreadable', message: conf.message }, `unreadable\n${conf.message}`);
        return 0;
      }
      const { active, wait, waiting } = choose(bind.activeMode(running, conf.current));
      if (wait > 0) {
        // Nothing is written meanwhile: a pad given the old mode now would be written twice.
        if (settled) tell({ ...settled.status, waiting }, `${settled.key}\n${waiting}`);
        return wait;
      }
      await apply(conf, active);
      return 0;
    }

    async function apply(conf, active) {
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
      const profile = !mode || !about.file ? null
        : PROFILE_FILE.test(about.file) ? await io.readProfile(about.file) : { ok: true, name: '' };
      const inUse = Boolean(profile && profile.ok && String(profile.name || '').trim());
      target = inUse ? `${about.file}\n${profile.text}` : null;
      if (!profile) return tell({ ...about, kind: 'kept' }, `kept\n${about.index}`);
      if (!profile.ok) return tell({ ...about, kind: 'failed', message: profile.message, pads: [] }, `unread\n${about.file}`);
      if (!inUse) return tell({ ...about, kind: 'emptied' }, `emptied\n${about.index}`);
      const given = target;
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
        endedAt = on ? -Infinity : now();
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
      /**
       * A pad was given a profile by hand (Apply to pad): the modes leave it so until their next
       * change (another active mode, the mode's profile changed, the pad plugged in again).
       * True when the active mode gives the pad a profile that it will then get back.
       */
      appliedByHand(pad) {
        if (!isPadOfOurs(pad) || target === null) return false;
        held.set(padId(pad), target);
        failed.delete(padId(pad));
        return true;
      },
      /** Anything else that may change the target: the configuration, a saved profile, the start. */
      wake: request,
      /** Resolves once nothing is pending or being applied. */
      whenIdle: () => idle,
      get running() { return running; },
      get status() { return status; },
    };
  }

  /** Why the active mode is active, or why the pads wait for it, in the user's words. */
  function why(status, t) {
    return status.waiting === 'often' ? t('switch.whyOften')
      : status.waiting === 'ended' && status.program ? t('switch.whyEnded', { program: status.program })
        : status.byProgram ? t('switch.whyProgram', { program: status.program })
          : t('switch.whyCurrent', { mode: status.mode || t('modes.mode', { n: status.index }) });
  }

  /**
   * The user's words for a status (t: vexa.i18n.t); pad: how pads are named. On screen, where
   * each pad's own line follows, the line says what the mode gives the pads; the desktop
   * notification, sent right after the pads took it, says that they hold it.
   */
  function describe(status, t, padName = (p) => p.DeviceID, onScreen = false) {
    if (!status) return '';
    const because = why(status, t);
    switch (status.kind) {
      case 'applied': return t(onScreen ? 'switch.gives' : 'switch.holds', { profile: status.profile, why: because });
      case 'noPad': return t('switch.noPad', { profile: status.profile, why: because });
      case 'kept': return status.index ? t('switch.kept', { why: because }) : '';
      case 'emptied': return t('switch.emptied', { why: because });
      case 'unreadable': return t('switch.unreadable', { reason: status.message });
      case 'failed': return t('switch.failed', {
        profile: status.profile || status.file, pad: (status.pads || []).map(padName).join(', ') || PRODUCT,
        reason: status.message, why: because,
      });
      default: return '';
    }
  }

  /**
   * Groups desktop notifications: the first text is shown at once; later ones wait until
   * NOTE_GAP_MS has passed since the last shown, and only the latest of them is shown then,
   * unless it says what was shown last. show(text) → whether it was shown.
   */
  function createNotifier({ show, now = Date.now, delay }) {
    let shownAt = -Infinity;
    let shownText = null;
    let next = null;
    let waiting = false;

    function flush() {
      waiting = false;
      const text = next;
      next = null;
      if (text === null || text === shownText) return;
      if (show(text)) {
        shownAt = now();
        shownText = text;
      }
    }

    return {
      push(text) {
        next = text;
        if (waiting) return;
        const wait = shownAt + NOTE_GAP_MS - now();
        if (wait <= 0) return flush();
        waiting = true;
        delay(wait).then(flush);
      },
    };
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
      const text = describe(switcher.status, t, padName, true);
      for (const line of document.querySelectorAll('[data-pad-profile]')) {
        if (!(line instanceof HTMLElement)) continue;
        line.textContent = text;
        line.dataset.kind = switcher.status ? switcher.status.kind : '';
      }
      drawHolds();
    }

    // ---- what each pad holds, read back ----

    let holds = [];         // [{ pad, kind, name, n, macros, reason }] in pad list order
    let reading = null;     // the read under way
    let readAgain = false;

    // The eight profiles as the pad would hold them (the program's copies, and the texts as
    // saved where the Profiles screen knows them): [{ name, bytes, macros }], the active mode's
    // profile first, so that of two equal profiles that one is named.
    async function candidates() {
      const memory = vexa.padMemory;
      const out = [];
      for (let i = 0; i < 8; i++) {
        const result = await command({ funcname: 'queryProfile', filePath: `view/profiles/profile${i + 1}.xml`, xpath: '/profile' });
        const shown = vexa.profiles && vexa.profiles.state.places[i];
        const texts = [result.ok ? result.text : null, shown ? shown.saved : null].filter((x, k, all) => x && all.indexOf(x) === k);
        for (const text of texts) {
          const top = new DOMParser().parseFromString(text, 'application/xml').documentElement;
          const name = top && top.tagName === 'profile' ? (top.getAttribute('name') || '').trim() : '';
          if (!name) continue;
          try {
            const profile = memory.profileFromElement(top);
            out.push({ name, file: `profile${i + 1}.xml`, bytes: memory.encodeProfile(profile), macros: memory.macroWrites(profile) });
          } catch (_) {
            // A profile the pad cannot hold: no pad holds it either.
          }
        }
      }
      const first = switcher.status && switcher.status.file;
      return out.filter((c) => c.file === first).concat(out.filter((c) => c.file !== first));
    }

    async function readHolds() {
      const pads = await vexa.pads.listPads();
      const profiles = pads.some(isPadOfOurs) ? await candidates() : [];
      const out = [];
      for (const pad of pads) {
        if (!isPadOfOurs(pad)) { out.push({ pad, kind: 'notOurs' }); continue; }
        // Read alone on the pad: never between another writer's write and its read-back.
        out.push(await vexa.padLock.exclusive(pad, async () => {
          const read = async (address, size) => {
            const back = await command({ funcname: 'readByAddr', HardwareID: pad.HardwareID, DevicePath: pad.DevicePath,
              PARAMADDRESS: address.toString(16), PARAMSIZE: size });
            if (!back.ok) throw Object.assign(new Error(back.message), { shown: back.message });
            return back.text ? String(back.text).split(',').map((x) => parseInt(x, 16)) : [];
          };
          try {
            const found = vexa.padMemory.identify(await read(0x100, 128), profiles);
            if (found.kind !== 'profile') return { pad, ...found };
            // A profile's block names its macros: they are part of what the pad holds.
            const broken = [];
            for (const m of profiles.find((c) => c.name === found.name).macros) {
              const bytes = await read(m.address, m.bytes.length);
              if (m.bytes.some((b, i) => bytes[i] !== b)) broken.push(m.name);
            }
            return broken.length ? { pad, kind: 'broken', name: found.name, macros: broken.join(', ') } : { pad, ...found };
          } catch (err) {
            if (!err.shown) throw err;
            return { pad, kind: 'unread', reason: err.shown };
          }
        }));
      }
      return out;
    }

    /** Reads what every pad holds again; a request during a read starts one more after it. */
    function refreshHolds() {
      if (reading) { readAgain = true; return reading; }
      reading = (async () => {
        try {
          do {
            readAgain = false;
            holds = await readHolds();
            drawHolds();
          } while (readAgain);
        } catch (err) {
          console.error('pads not read', err);
        } finally {
          reading = null;
        }
      })();
      return reading;
    }

    const HOLD_TEXTS = {
      profile: 'hold.profile', near: 'hold.near', other: 'hold.other', blank: 'hold.blank', unknown: 'hold.unknown',
      broken: 'hold.broken', unread: 'hold.unread', notOurs: 'hold.notOurs',
    };

    function drawHolds() {
      for (const list of document.querySelectorAll('[data-pad-holds]')) {
        list.replaceChildren(...holds.map((h) => {
          const item = document.createElement('li');
          item.dataset.kind = h.kind;
          item.dataset.deviceId = h.pad.DeviceID;
          item.textContent = t(HOLD_TEXTS[h.kind], { pad: padName(h.pad), profile: h.name || '', n: h.n || 0,
            macros: h.macros || '', reason: h.reason || '', product: PRODUCT });
          return item;
        }));
      }
    }

    // Said on the desktop only while the window is away; on screen the lines say it.
    const notifier = createNotifier({
      show(text) {
        if (!document.hidden || !window.Notification || Notification.permission !== 'granted') return false;
        try {
          new Notification(t('switch.title'), { body: text, tag: 'vexa-pad-profile', silent: true });
          return true;
        } catch (err) {
          console.warn('notification not shown', err);
          return false;
        }
      },
      delay: (ms) => new Promise((resolve) => setTimeout(resolve, ms)),
    });

    function report(status) {
      draw();
      refreshHolds();
      document.dispatchEvent(new CustomEvent('padprofilechanged', { detail: status }));
      // A switch held back changes nothing on the pad.
      if (status.kind !== 'kept' && !status.waiting) notifier.push(describe(status, t, padName));
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
        refreshHolds();
      }
    }
    vexa.events.eventStore.events.forEach(remember);
    vexa.events.onEvent(remember);
    document.addEventListener('languagechanged', draw);
    document.addEventListener('screenshown', (event) => {
      draw();
      const shown = event instanceof CustomEvent ? event.detail.screen : '';
      if (shown === 'modes' || shown === 'pads') refreshHolds();
    });
    document.addEventListener('padwritten', () => refreshHolds());
    // A saved profile may be the one the pad should hold, and the pads are compared with it.
    document.addEventListener('profilessaved', () => { switcher.wake(); refreshHolds(); });
    document.addEventListener('profilefilessaved', () => { switcher.wake(); refreshHolds(); });
    switcher.wake();

    return {
      switcher,
      readConfiguration,
      refreshHolds,
      get holds() { return holds; },
      /**
       * After "Apply to pad" gave a pad the profile of place file by hand: the words that say
       * when the active mode gives it its own profile again, or '' when it does not.
       */
      appliedByHand(pad, file) {
        const status = switcher.status;
        if (!switcher.appliedByHand(pad) || !status || !status.profile || status.file === file) return '';
        return t('prof.takenBack', { why: why(status, t), profile: status.profile });
      },
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

  const api = { PRODUCT, SETTLE_MS, LEAVE_MS, SWITCH_BURST, SWITCH_REFILL_MS, NOTE_GAP_MS, createSwitcher, createNotifier, describe, isPadOfOurs };
  if (typeof window !== 'undefined' && window.document && window.vexaModules && window.vexaModules.bridge) {
    Object.assign(api, startInPage());
  }
  return api;
});
