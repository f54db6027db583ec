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

  const BUFFER_SIZE = 2048;
  const REPORT_BYTES = 8;
  const LIVE_VIEW_INTERVAL_MS = 100; // ten redraws a second at most

  const state = {
    pads: [],
    selected: null,        // DeviceID of the selected pad
    loading: false,
    reloadAgain: false,
    lastReport: null,      // 16 hex digits
    reportCount: 0,
    reportTimes: [],       // arrival times of the last second, for the rate
  };

  let root = null;
  const $ = (id) => root.querySelector('#' + id);

  // ---- input reading --------------------------------------------------------------------

  /** "10 20 ff", "0x10,0x20", "1020ff" → [16, 32, 255]; throws with a message for the user. */
  function parseBytes(text) {
    const trimmed = text.trim();
    if (trimmed === '') return [];
    let items = trimmed.split(/[\s,]+/).filter(Boolean);
    if (items.length === 1 && /^[0-9a-f]+$/i.test(items[0]) && items[0].length > 2) {
      if (items[0].length % 2) throw new Error(t('pads.in.even'));
      items = items[0].match(/../g);
    }
    return items.map((item, i) => {
      if (!/^(0x)?[0-9a-f]{1,2}$/i.test(item)) throw new Error(t('pads.in.byte', { i: i + 1, item }));
      return parseInt(item.replace(/^0x/i, ''), 16);
    });
  }

  function byteList(bytes) {
    return bytes.map((b) => '0x' + b.toString(16).padStart(2, '0')).join(',');
  }

  function parseSize(text, fallback) {
    const t = String(text).trim();
    if (t === '' && fallback !== undefined) return fallback;
    if (!/^\d+$/.test(t)) throw new Error(t('pads.in.size'));
    const n = Number(t);
    if (n > BUFFER_SIZE) throw new Error(t('pads.in.sizeMax', { max: BUFFER_SIZE }));
    return n;
  }

  function parseAddress(text) {
    const t = String(text).trim().replace(/^0x/i, '');
    if (!/^[0-9a-f]{1,8}$/i.test(t)) throw new Error(t('pads.in.address'));
    return t.toLowerCase();
  }

  function parseInteger(text, what) {
    const t = String(text).trim();
    if (!/^\d+$/.test(t)) throw new Error(t('pads.in.whole', { what }));
    return Number(t);
  }

  // ---- list ------------------------------------------------------------------------------

  function selectedPad() {
    return state.pads.find((p) => p.DeviceID === state.selected) || null;
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
    if (!pads.some((p) => p.DeviceID === state.selected)) state.selected = pads.length ? pads[0].DeviceID : null;
    $('pads-meta').textContent = t('pads.count', { n: pads.length });
    drawList();
    drawDetail();
  }

  function drawList() {
    const list = $('pads-list');
    list.replaceChildren(...state.pads.map((p) => {
      const title = p.productName || p.device || t('pads.unknown');
      const selected = p.DeviceID === state.selected;
      return el('li', {}, [
        el('button', {
          className: 'pad-card',
          attrs: { type: 'button', 'aria-pressed': selected ? 'true' : 'false' },
          dataset: { deviceId: p.DeviceID },
          on: { click: () => { state.selected = p.DeviceID; drawList(); drawDetail(); } },
        }, [
          el('span', { className: 'pad-dot', attrs: { 'aria-hidden': 'true' } }),
          el('span', { className: 'pad-card-main' }, [
            el('span', { className: 'pad-title', text: title, elide: true }),
            el('span', { className: 'pad-sub', text: p.description || p.productType || '', elide: true }),
          ]),
          el('span', { className: 'pad-id', text: p.DeviceID, elide: true }),
        ]),
      ]);
    }));
    $('pads-empty').hidden = state.pads.length > 0;
  }

  const padLabel = (pad) => `${pad.productName || pad.device || t('pads.unknown')} (${pad.DeviceID})`;

  function drawSource() {
    const pad = selectedPad();
    if (!pad) return;
    const source = state.pads[0];
    const isSource = pad === source;
    $('report-live').hidden = !isSource;
    $('report-panel').dataset.source = isSource ? 'true' : 'false';
    const line = $('report-source');
    if (isSource) {
      elide(line, t('pads.streamFrom', { pad: padLabel(source) }));
    } else {
      // A sentence to read whole, so it wraps rather than elides.
      line.classList.remove('elide');
      line.removeAttribute('title');
      line.textContent = t('pads.streamOther', { pad: padLabel(source) });
    }
  }

  function drawDetail() {
    const pad = selectedPad();
    $('pad-detail').hidden = !pad;
    $('pad-none').hidden = !!pad;
    if (!pad) return;
    drawSource();
    elide($('pad-name'), pad.productName || pad.device || t('pads.unknown'));
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

  function drawReport() {
    const now = performance.now();
    while (state.reportTimes.length && now - state.reportTimes[0] > 1000) state.reportTimes.shift();
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
    $('report-count').textContent = t('pads.reports', { n: state.reportCount.toLocaleString(document.documentElement.lang) });
    $('report-rate').textContent = t('pads.rate', { n: state.reportTimes.length });
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
    if (!pad) throw new Error(t('pads.in.noPad'));
    return { HardwareID: pad.HardwareID, DevicePath: pad.DevicePath };
  }

  function formatBytes(text) {
    if (!text) return t('pads.noBytes');
    return text.split(',').map((b) => b.replace(/^0x/, '')).join(' ');
  }

  async function run(resultId, busy, build, onOk) {
    let command;
    try {
      command = build();
    } catch (err) {
      setResult(resultId, 'bad', err.message);
      return;
    }
    setResult(resultId, 'busy', t(busy));
    const outcome = await query(command, { timeoutMs: 5000 });
    if (outcome.pending) outcome.cancel();
    if (outcome.ok) onOk(outcome.text);
    else setResult(resultId, 'bad', failureMessage(command, outcome));
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

    $('prop-write').addEventListener('click', () => run('prop-result', 'pads.propWriting', () => {
      const bytes = parseBytes($('prop-data').value);
      return {
        funcname: 'writeDevicesProp', ...padArgs(),
        PARAMID: parseInteger($('prop-id').value, t('pads.propId')),
        PARAMSIZE: parseSize($('prop-size').value, bytes.length),
        PARAMDATA: byteList(bytes),
      };
    }, () => setResult('prop-result', 'ok', t('pads.propWritten', { id: $('prop-id').value.trim() }))));

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

    $('mem-write').addEventListener('click', () => run('mem-result', 'pads.memWriting', () => {
      const bytes = parseBytes($('mem-data').value);
      return {
        funcname: 'writeByAddr', ...padArgs(),
        PARAMADDRESS: parseAddress($('mem-address').value),
        PARAMSIZE: parseSize($('mem-size').value, bytes.length),
        PARAMDATA: byteList(bytes),
      };
    }, () => setResult('mem-result', 'ok', t('pads.memWritten', { address: parseAddress($('mem-address').value) }))));

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
    });
    loadPads();
  }

  vexa.pads = { initPads, parseBytes, byteList, state };
})(window.vexaModules = window.vexaModules || {});
