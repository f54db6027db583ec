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

// The values a text names: "{name}", and "{name, plural, ...}" for a count.
const names = (text) => [...new Set([...text.matchAll(/\{(\w+)(?:\}|, plural,)/g)].map((m) => `{${m[1]}}`))].sort().join(' ');

test('every text exists in every language and names the same values as in English', () => {
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
      assert.ok(!/\{\w+[},]/.test(i18n.t(key, values, code)), `${key} in ${code} keeps a value unfilled`);
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

test('a count takes the form its language needs', () => {
  assert.equal(i18n.t('map.done', { n: 1 }, 'en'), 'Its macro too.');
  assert.equal(i18n.t('map.done', { n: 3 }, 'en'), 'Its 3 macros too.');
  assert.equal(i18n.t('macro.meta', { keys: 2, bytes: 1 }, 'en'), '2 key events · 1 byte');
  assert.equal(i18n.t('pads.reports', { n: 1 }, 'de-DE'), '1 Meldung');
  // Russian: 1, 21 one; 2-4, 22 few; 5-20, 25 many; a count formatted for people counts too.
  const bytes = (n) => i18n.t('prof.bytes', { n }, 'ru');
  assert.deepEqual([1, 21, 3, 22, 5, 11, 25, '1 234'].map(bytes),
    ['1 байт', '21 байт', '3 байта', '22 байта', '5 байтов', '11 байтов', '25 байтов', '1 234 байта']);
  assert.equal(i18n.t('map.done', { n: 21 }, 'ru'), 'И его 21 макрос тоже.');

  // Every plural has the forms of its language, and a form that leaves the count out stands
  // for one number only (Russian "one" is also 21, 31...).
  for (const code of WORDED) {
    const rules = new Intl.PluralRules(code);
    const needed = rules.resolvedOptions().pluralCategories;
    for (const [key, text] of Object.entries(wordsOf(code))) {
      for (const [, name, body] of text.matchAll(/\{(\w+), plural,((?:\s*\w+\s*\{(?:[^{}]|\{\w+\})*\})+)\s*\}/g)) {
        const forms = Object.fromEntries([...body.matchAll(/\s*(\w+)\s*\{((?:[^{}]|\{\w+\})*)\}/g)].map((m) => [m[1], m[2]]));
        for (const category of needed) assert.ok(category in forms, `${key} in ${code}: no "${category}" form for {${name}}`);
        for (const [category, form] of Object.entries(forms)) {
          assert.ok(needed.includes(category), `${key} in ${code}: "${category}" is no plural form of ${code}`);
          if (form.includes('#')) continue;
          const numbers = Array.from({ length: 200 }, (_, n) => n).filter((n) => rules.select(n) === category);
          assert.ok(numbers.length <= 1, `${key} in ${code}: the "${category}" form must say the count (it is also ${numbers.slice(1, 3)})`);
        }
      }
    }
  }
});
