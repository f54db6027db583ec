// The Pads screen: the connected pads with their product information, the pad's live 8-byte
// reports drawn on a picture of the pad, and forms to read and write its properties and memory.
//
// The list follows "devicesChanged"; reports ("onDeviceData", up to ~1000 per second) only
// update the picture and a few numbers, drawn at a calm pace (see util.paced).
//
// Reports carry no pad id: the program listens to the first pad of its latest enumeration
// only, which is the first pad of the latest "getDevicesList" reply (that command enumerates
// again). The live view is shown under that pad; any other pad says where reports come from.

(function (vexa) {
  'use strict';

  const { el, elide } = vexa.util;
  const { query } = vexa.bridge;
  const { t } = vexa.i18n;
  const { failureMessage } = vexa.messages;

  const REPORT_BYTES = 8;
  const LIVE_VIEW_INTERVAL_MS = 100; // ten redraws a second at most

  const state = {
    pads: [],
    choice: { pad: null, connected: false }, // the selected pad; see padchoice.js
    loading: false,
    reloadAgain: false,
    sourceId: null,        // DeviceID of the pad the reports below came from
    lastReport: null,      // 16 hex digits
    reportCount: 0,
    reportTimes: [],       // arrival times of the last second, for the rate
  };

  let root = null;
  const $ = (id) => root.querySelector('#' + id);

  // ---- input reading --------------------------------------------------------------------

  // Fields are read by bytefield.js; what it refuses comes back as a text of the page.
  const { parseSize, parseAddress, parseInteger, writeRequest, firstDifference } = vexa.bytefield;
  const { ask } = vexa.ask;

  /** A pad's name, the same on every screen: product and serial ("PX-ORB42 · PX4272…"). */
  const label = (pad) => vexa.padChoice.padLabel(pad, t('pads.unknown'));

  // ---- list ------------------------------------------------------------------------------

  // The list keeps the selected pad when it leaves, shown unplugged, so the forms below never
  // turn to the pad that moved up into its place.
  function selectedPad() {
    return state.choice.connected ? state.choice.pad : null;
  }

  function select(pad) {
    state.choice = { pad, connected: true };
    drawList();
    drawDetail();
  }

  async function loadPads() {
    if (state.loading) { state.reloadAgain = true; return; }
    state.loading = true;
    $('pads-meta').textContent = t('pads.looking');
    try {
      const command = { funcname: 'getDevicesList' };
      const outcome = await query(command, { timeoutMs: 5000 });
      if (outcome.pending) {
        outcome.cancel();
        showListError(failureMessage(command, outcome));
      } else if (!outcome.ok) {
        showListError(failureMessage(command, outcome));
      } else {
        let pads;
        try { pads = JSON.parse(outcome.text); } catch (_) { pads = null; }
        if (!Array.isArray(pads)) showListError(t('pads.listOdd'));
        else setPads(pads);
      }
    } finally {
      state.loading = false;
      if (state.reloadAgain) { state.reloadAgain = false; loadPads(); }
    }
  }

  function showListError(text) {
    const box = $('pads-list-error');
    box.textContent = text;
    box.hidden = false;
    $('pads-meta').textContent = '';
  }

  function setPads(pads) {
    state.pads = pads;
    $('pads-list-error').hidden = true;
    state.choice = vexa.padChoice.choose(state.choice.pad, pads);
    followSource();
    $('pads-meta').textContent = t('pads.count', { n: pads.length });
    drawList();
    drawDetail();
  }

  function drawList() {
    const list = $('pads-list');
    const { pad: chosen, connected } = state.choice;
    const shown = chosen && !connected ? [...state.pads, chosen] : state.pads;
    list.replaceChildren(...shown.map((p) => {
      const title = label(p);
      const selected = chosen !== null && p.DeviceID === chosen.DeviceID;
      const gone = selected && !connected;
      return el('li', {}, [
        el('button', {
          className: 'pad-card',
          attrs: { type: 'button', 'aria-pressed': selected ? 'true' : 'false' },
          dataset: { deviceId: p.DeviceID, unplugged: String(gone) },
          on: { click: () => { if (!gone) select(p); } },
        }, [
          el('span', { className: 'pad-dot', attrs: { 'aria-hidden': 'true' } }),
          el('span', { className: 'pad-card-main' }, [
            el('span', { className: 'pad-title', text: title, elide: true }),
            el('span', { className: 'pad-sub', text: gone ? t('pads.goneShort') : (p.description || p.productType || ''), elide: true }),
          ]),
          el('span', { className: 'pad-id', text: p.DeviceID, elide: true }),
        ]),
      ]);
    }));
    $('pads-empty').hidden = state.pads.length > 0;
  }

  function drawSource() {
    const pad = selectedPad();
    if (!pad) return;
    const source = state.pads[0];
    const isSource = pad === source;
    $('report-live').hidden = !isSource;
    $('report-panel').dataset.source = isSource ? 'true' : 'false';
    const line = $('report-source');
    if (isSource) {
      elide(line, t('pads.streamFrom', { pad: label(source) }));
    } else {
      // A sentence to read whole, so it wraps rather than elides.
      line.classList.remove('elide');
      line.removeAttribute('title');
      line.textContent = t('pads.streamOther', { pad: label(source) });
    }
  }

  function drawDetail() {
    const pad = state.choice.pad;
    $('pad-detail').hidden = !pad;
    $('pad-none').hidden = !!pad;
    if (!pad) return;
    $('pad-detail').dataset.unplugged = String(!state.choice.connected);
    $('pad-gone').hidden = state.choice.connected;
    $('report-panel').hidden = !state.choice.connected;
    if (!state.choice.connected) $('pad-gone').textContent = t('pads.gone', { pad: label(pad) });
    drawSource();
    elide($('pad-name'), label(pad));
    elide($('pad-code'), pad.productCN || '');
    const facts = [
      ['pads.fact.id', pad.DeviceID], ['pads.fact.sn', pad.SN], ['pads.fact.fw', pad.Version],
      ['pads.fact.mask', pad.MASK], ['pads.fact.type', pad.productType], ['pads.fact.device', pad.device],
      ['pads.fact.hw', pad.HardwareID, true], ['pads.fact.path', pad.DevicePath, true],
    ];
    $('pad-facts').replaceChildren(...facts.flatMap(([name, value, wide]) => [
      el('dt', { t: name, className: wide ? 'wide' : '' }),
      el('dd', { text: value || '—', className: (wide ? 'wide mono' : 'mono'), attrs: { title: value || '' } }),
    ]));
  }

  // ---- live reports ----------------------------------------------------------------------

  function onReport(text) {
    state.lastReport = text;
    state.reportCount++;
    const now = performance.now();
    state.reportTimes.push(now);
    requestReportDraw();
  }

  const requestReportDraw = vexa.util.paced(drawReport, LIVE_VIEW_INTERVAL_MS);

  // The reports' counts and picture belong to the pad they came from: when another pad becomes
  // the source (the first one was unplugged), they start again from nothing, so that no pad
  // shows another's reports.
  function followSource() {
    const source = state.pads.length ? state.pads[0].DeviceID : null;
    if (source === state.sourceId) return;
    state.sourceId = source;
    state.lastReport = null;
    state.reportCount = 0;
    state.reportTimes.length = 0;
    clearTimeout(drawReport.idle);
    buildReportCells();
    drawPicture(null);
    drawPictureState(null);
    $('report-raw').textContent = t('pads.waiting');
    $('report-count').textContent = t('pads.reports', { n: 0 });
    $('report-rate').textContent = t('pads.rate', { n: 0 });
    $('report-panel').dataset.live = 'false';
  }

  function buildReportCells() {
    const cells = $('report-bytes');
    const nodes = [];
    for (let i = 0; i < REPORT_BYTES; i++) {
      nodes.push(el('div', { className: 'report-byte' }, [
        el('span', { className: 'report-index', text: `${i}` }),
        el('span', { className: 'report-bar', attrs: { 'aria-hidden': 'true' } }, [el('span', { className: 'report-fill' })]),
        el('span', { className: 'report-hex', text: '--' }),
      ]));
    }
    cells.replaceChildren(...nodes);
  }

  let drawPicture = () => {};

  function buttonName(name) {
    return ['view', 'menu', 'home', 'up', 'down', 'left', 'right'].includes(name) ? t('pad.' + name) : name.toUpperCase();
  }

  function drawPictureState(report) {
    const percent = (v) => Math.round(v * 100);
    $('pad-picture-state').textContent = report
      ? t('pads.state', {
        buttons: report.pressed.length ? report.pressed.map(buttonName).join(' + ') : t('pads.noButtons'),
        l: percent(report.triggers.left), r: percent(report.triggers.right),
      })
      : t('pads.waiting');
  }

  function drawCounts() {
    const now = performance.now();
    while (state.reportTimes.length && now - state.reportTimes[0] > 1000) state.reportTimes.shift();
    $('report-count').textContent = t('pads.reports', { n: state.reportCount.toLocaleString(document.documentElement.lang) });
    $('report-rate').textContent = t('pads.rate', { n: state.reportTimes.length });
  }

  function drawReport() {
    const text = state.lastReport;
    if (!text) return;
    const cells = $('report-bytes').children;
    for (let i = 0; i < REPORT_BYTES && i < cells.length; i++) {
      const hex = text.substr(2 * i, 2);
      const value = parseInt(hex, 16) || 0;
      cells[i].querySelector('.report-hex').textContent = hex;
      cells[i].querySelector('.report-fill').style.transform = `scaleY(${value / 255})`;
    }
    $('report-raw').textContent = text;
    const report = vexa.report.decodeReport(text);
    drawPicture(report);
    drawPictureState(report);
    drawCounts();
    $('report-panel').dataset.live = 'true';
    clearTimeout(drawReport.idle);
    drawReport.idle = setTimeout(() => {
      $('report-panel').dataset.live = 'false';
      $('report-rate').textContent = t('pads.rate', { n: 0 });
      state.reportTimes.length = 0;
    }, 1500);
  }

  // ---- forms -----------------------------------------------------------------------------

  function setResult(id, tone, text, detail) {
    const box = $(id);
    box.dataset.tone = tone;
    box.replaceChildren(el('span', { className: 'result-text', text }));
    if (detail !== undefined) box.append(el('code', { className: 'result-detail', text: detail }));
    box.hidden = false;
  }


  function padArgs() {
    const pad = selectedPad();
    if (!pad) throw new Error(state.choice.pad ? t('pads.gone', { pad: label(state.choice.pad) }) : t('pads.in.noPad'));
    return { HardwareID: pad.HardwareID, DevicePath: pad.DevicePath };
  }

  function formatBytes(text) {
    if (!text) return t('pads.noBytes');
    return text.split(',').map((b) => b.replace(/^0x/, '')).join(' ');
  }

  function inputText(err) {
    return err && err.key ? t(err.key, err.values) : String(err && err.message);
  }

  async function send(command) {
    const outcome = await query(command, { timeoutMs: 5000 });
    if (outcome.pending) outcome.cancel();
    return outcome;
  }

  async function run(resultId, busy, build, onOk) {
    let command;
    try {
      command = build();
    } catch (err) {
      setResult(resultId, 'bad', inputText(err));
      return;
    }
    setResult(resultId, 'busy', t(busy));
    const outcome = await send(command);
    if (outcome.ok) onOk(outcome.text);
    else setResult(resultId, 'bad', failureMessage(command, outcome));
  }

  // A raw write: the fields checked, the person asked, the bytes written, read back and compared.
  // build() gives { write, read, question, done } or throws a field's error.
  let writing = false;
  async function rawWrite(resultId, busy, build) {
    if (writing) return;
    let plan;
    try {
      plan = build();
    } catch (err) {
      setResult(resultId, 'bad', inputText(err));
      return;
    }
    writing = true;
    try {
      // A write into the profile block or a profile's macro names what it would break.
      if (plan.stretch) {
        let hits;
        try {
          hits = vexa.padmap.clashes(plan.stretch.address, plan.stretch.size, await vexa.padmap.takenNow());
        } catch (err) {
          if (!err.shown) throw err;
          setResult(resultId, 'bad', err.shown);
          return;
        }
        if (hits.length) {
          plan.question = { ...plan.question, title: t('map.clashTitle'),
            text: `${plan.question.text} ${t('map.clash', { what: hits.map((h) => vexa.padmap.describe(h, t)).join(', ') })}` };
        }
      }
      if (!(await ask(plan.question))) {
        setResult(resultId, 'warn', t('pads.cancelled'));
        return;
      }
      setResult(resultId, 'busy', t(busy));
      // No other write between this one and its read-back (padlock.js).
      const [written, back] = await vexa.padLock.exclusive(plan.write, async () => {
        const w = await send(plan.write);
        return [w, w.ok ? await send(plan.read) : null];
      });
      if (!written.ok) { setResult(resultId, 'bad', failureMessage(plan.write, written)); return; }
      document.dispatchEvent(new CustomEvent('padwritten', { detail: { pad: selectedPad() } }));
      // Written, but what the pad holds now is unknown: never shown as read.
      if (!back.ok) { setResult(resultId, 'bad', t('pads.notVerified')); return; }
      const at = firstDifference(plan.bytes, back.text);
      if (at < 0) setResult(resultId, 'ok', plan.done, formatBytes(back.text));
      else setResult(resultId, 'bad', t('pads.differs', { at: at + 1 }), formatBytes(back.text));
    } finally {
      writing = false;
    }
  }

  function padName() {
    const pad = selectedPad();
    return pad ? label(pad) : '';
  }

  function wireForms() {
    $('prop-read').addEventListener('click', () => run('prop-result', 'pads.propReading', () => ({
      funcname: 'readDevicesProp', ...padArgs(),
      PARAMID: parseInteger($('prop-id').value, t('pads.propId')),
      PARAMSIZE: parseSize($('prop-size').value),
    }), (text) => {
      $('prop-data').value = text ? formatBytes(text) : '';
      setResult('prop-result', 'ok', t('pads.propRead', { id: $('prop-id').value.trim() }), formatBytes(text));
    }));

    $('prop-write').addEventListener('click', () => rawWrite('prop-result', 'pads.propWriting', () => {
      const pad = padArgs();
      const id = parseInteger($('prop-id').value, t('pads.propId'));
      const { size, bytes, data } = writeRequest($('prop-size').value, $('prop-data').value);
      return {
        bytes,
        write: { funcname: 'writeDevicesProp', ...pad, PARAMID: id, PARAMSIZE: size, PARAMDATA: data },
        read: { funcname: 'readDevicesProp', ...pad, PARAMID: id, PARAMSIZE: size },
        question: {
          title: t('pads.askPropTitle'), yes: t('common.write'),
          text: t('pads.askProp', { n: size, id, pad: padName() }),
        },
        done: t('pads.propVerified', { id, n: size }),
      };
    }));

    $('mem-read').addEventListener('click', () => run('mem-result', 'pads.memReading', () => ({
      funcname: 'readByAddr', ...padArgs(),
      PARAMADDRESS: parseAddress($('mem-address').value),
      PARAMSIZE: parseSize($('mem-size').value),
    }), (text) => {
      $('mem-data').value = text ? formatBytes(text) : '';
      setResult('mem-result', 'ok', t('pads.memRead', { n: text ? text.split(',').length : 0,
        address: parseAddress($('mem-address').value) }), formatBytes(text));
    }));

    $('mem-blank').addEventListener('click', () => run('mem-result', 'pads.memChecking', () => ({
      funcname: 'isPropEmpty', ...padArgs(),
      PARAMADDRESS: parseAddress($('mem-address').value),
      PARAMSIZE: parseSize($('mem-size').value),
    }), (text) => setResult('mem-result', 'ok', t(text === 'true' ? 'pads.memBlank' : 'pads.memData'))));

    $('mem-write').addEventListener('click', () => rawWrite('mem-result', 'pads.memWriting', () => {
      const pad = padArgs();
      const address = parseAddress($('mem-address').value);
      const { size, bytes, data } = writeRequest($('mem-size').value, $('mem-data').value);
      return {
        bytes,
        stretch: { address: parseInt(address, 16), size },
        write: { funcname: 'writeByAddr', ...pad, PARAMADDRESS: address, PARAMSIZE: size, PARAMDATA: data },
        read: { funcname: 'readByAddr', ...pad, PARAMADDRESS: address, PARAMSIZE: size },
        question: {
          title: t('pads.askMemTitle'), yes: t('common.write'),
          text: t('pads.askMem', { n: size, address, pad: padName() }),
        },
        done: t('pads.memVerified', { n: size, address }),
      };
    }));

    for (const form of root.querySelectorAll('form')) vexa.util.submitOnEnter(form);
    $('pads-refresh').addEventListener('click', () => loadPads());
  }

  // ---- start -----------------------------------------------------------------------------

  // Sent once as the page starts when a firmware update was cut short.
  function isLoaderNotice(entry) {
    return entry.name === 'onBrowserMsg' && entry.values[0] === 'firmwareLoaderPresent';
  }

  function initPads(doc) {
    root = doc.getElementById('screen-pads');
    if (!root || !$('pads-list')) return;
    buildReportCells();
    drawPicture = vexa.padPicture.createPadPicture($('pad-picture'));
    drawPictureState(vexa.report.decodeReport(state.lastReport));
    wireForms();
    vexa.events.onEvent((entry) => {
      if (entry.name === 'onDeviceData') onReport(String(entry.values[0] || ''));
      else if (entry.name === 'devicesChanged') loadPads();
      else if (isLoaderNotice(entry)) $('pads-loader-notice').hidden = false;
    });
    // The notice may have come before this screen subscribed (it is sent as the page starts).
    if (vexa.events.eventStore.events.some(isLoaderNotice)) $('pads-loader-notice').hidden = false;
    doc.addEventListener('languagechanged', () => {
      if (!state.loading) $('pads-meta').textContent = t('pads.count', { n: state.pads.length });
      drawList();
      drawDetail();
      drawPictureState(vexa.report.decodeReport(state.lastReport));
      drawCounts();
    });
    drawCounts();
    loadPads();
  }

  // ---- for the screens that write to a pad ---------------------------------------------------

  /** The connected pads, or none when the list cannot be had (the screen then says none is there). */
  async function listPads() {
    const outcome = await vexa.bridge.command({ funcname: 'getDevicesList' }, { timeoutMs: 5000 });
    if (!outcome.ok) return [];
    try {
      const pads = JSON.parse(outcome.text);
      return Array.isArray(pads) ? pads : [];
    } catch (_) {
      return [];
    }
  }

  // Per picker, the pads last listed and the choice made then (see padchoice.js).
  const choices = new WeakMap();

  // The choice as the picker shows it now: the user may have chosen another option since.
  function currentChoice(select) {
    const entry = choices.get(select);
    if (!entry) return { pad: null, connected: false };
    const pad = entry.pads.find((p) => p.DeviceID === select.value);
    return pad ? { pad, connected: true } : entry.choice;
  }

  /** One option per pad, named for people, and the chosen pad kept, shown unplugged when gone. */
  function fillPadSelect(select, pads) {
    const first = !choices.has(select);
    const choice = vexa.padChoice.choose(currentChoice(select).pad, pads);
    choices.set(select, { choice, pads });
    const option = (p, text) => el('option', { text, attrs: { value: p.DeviceID } });
    const options = pads.map((p) => option(p, label(p)));
    if (choice.pad && !choice.connected) options.push(option(choice.pad, t('pads.unpluggedOption', { pad: label(choice.pad) })));
    select.replaceChildren(...options);
    if (choice.pad) select.value = choice.pad.DeviceID;
    select.dataset.unplugged = String(Boolean(choice.pad && !choice.connected));
    if (first) {
      select.addEventListener('change', () => {
        const now = currentChoice(select);
        select.dataset.unplugged = String(Boolean(now.pad && !now.connected));
      });
      // The options name pads in the page's language.
      document.addEventListener('languagechanged', () => fillPadSelect(select, choices.get(select).pads));
    }
  }

  /** The pad chosen in a picker (also when unplugged), or null. */
  function chosenPad(select) {
    return currentChoice(select).pad;
  }

  /**
   * The pad a write may go to, asked just before writing: the list is read again, so that a pad
   * unplugged before its event arrived is caught too. → { pad, label } or { refusal: text }.
   */
  async function padForWrite(select) {
    fillPadSelect(select, await listPads());
    const target = vexa.padChoice.writeTarget(currentChoice(select), t('pads.unknown'));
    if (target.refusal) return { refusal: t(target.refusal.key, target.refusal.values) };
    return { pad: target.pad, label: label(target.pad) };
  }

  vexa.pads = { initPads, state, listPads, fillPadSelect, chosenPad, padForWrite, padLabel: label };
})(window.vexaModules = window.vexaModules || {});
