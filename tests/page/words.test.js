// The page's words: which language a "language" setting reads, that every language has every
// text and can fill it in like the English one, and that the page, the program and the page's
// markup agree on the languages.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const repo = path.join(__dirname, '..', '..');
const view = path.join(repo, 'view', 'js');
const i18n = require(path.join(view, 'i18n.js'));
const { LANGUAGES, WORDED } = require(path.join(view, 'languages.js'));

const wordsOf = (code) => require(path.join(view, 'lang', `${code}.js`));

test('every code of the language setting reads a column of its own language', () => {
  const cases = {
    en: 'en', zh: 'zh', 'zh-TW': 'zh-TW', 'zh-HK': 'zh-TW', 'de-DE': 'de-DE', de: 'de-DE',
    ja: 'ja', ru: 'ru', ko: 'ko', 'ru-RU': 'ru', '': 'en', fr: 'en', ZH: 'zh', undefined: 'en',
    'zh-Hant': 'zh-TW', 'zh-CN': 'zh', constructor: 'en',
  };
  for (const [code, column] of Object.entries(cases)) {
    assert.equal(i18n.resolveLanguage(code === 'undefined' ? undefined : code), column, code);
  }
  assert.equal(i18n.t('tab.settings', {}, 'de-DE'), 'Einstellungen');
  i18n.setLanguage('zh-HK');
  assert.equal(i18n.t('win.close'), '關閉');
  assert.equal(i18n.t('pads.memWritten', { address: '1f00' }), '已寫入 1f00。');
  i18n.setLanguage('en');
  assert.equal(i18n.t('no.such.key'), 'no.such.key');
  assert.equal(i18n.t('toString'), 'toString');
});

test('every text exists in every language and names the same values as in English', () => {
  const names = (text) => (text.match(/\{\w+\}/g) || []).sort().join(' ');
  const english = wordsOf('en');
  assert.ok(Object.keys(english).length > 100);
  for (const code of WORDED) {
    const words = wordsOf(code);
    const missing = Object.keys(english).filter((key) => !Object.hasOwn(words, key));
    assert.deepEqual(missing, [], `${code} has no text for these keys`);
    const unknown = Object.keys(words).filter((key) => !Object.hasOwn(english, key));
    assert.deepEqual(unknown, [], `${code} has texts English lacks`);
    for (const [key, text] of Object.entries(words)) {
      assert.ok(typeof text === 'string' && text.trim(), `${key} is empty in ${code}`);
      assert.equal(names(text), names(english[key]), `${key} in ${code}`);
      const values = Object.fromEntries(names(text).split(' ').filter(Boolean).map((n) => [n.slice(1, -1), 'x']));
      assert.ok(!/\{\w+\}/.test(i18n.t(key, values, code)), `${key} in ${code} keeps a value unfilled`);
    }
  }
});

test('the page, its markup and the program offer the same languages', () => {
  const codes = LANGUAGES.map((l) => l.code);
  for (const l of LANGUAGES.filter((x) => x.reads)) assert.ok(WORDED.includes(l.reads), `${l.code} reads ${l.reads}`);
  // Each language's words reach the browser only through a script element of their own.
  const html = fs.readFileSync(path.join(repo, 'view', 'index.html'), 'utf8');
  const loaded = [...html.matchAll(/<script[^>]*src="js\/lang\/([^"]+)\.js"/g)].map((m) => m[1]);
  assert.deepEqual(loaded.sort(), [...WORDED].sort());
  assert.ok(html.indexOf('js/lang/') < html.indexOf('js/i18n.js'));
  // The tray menu has a row per code.
  const quoted = (file, from, pattern) => {
    const text = fs.readFileSync(path.join(repo, 'src', file), 'utf8');
    const start = text.indexOf(from);
    assert.ok(start >= 0, `${from} in ${file}`);
    return [...text.slice(start, text.indexOf('};', start)).matchAll(pattern)].map((m) => m[1]);
  };
  assert.deepEqual(quoted('desktop/systemtray.cpp', 'kMenuTexts[] = {', /\{"([^"]+)",/g), codes);
});
