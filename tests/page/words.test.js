// The page's words: which column a "language" setting reads, and that every translation can be
// filled in like the English text it stands for.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');

const view = path.join(__dirname, '..', '..', 'view', 'js');
const i18n = require(path.join(view, 'i18n.js'));
const { LANGUAGES, ROWS } = require(path.join(view, 'texts.js'));

test('every code of the language setting reads a column of its own language', () => {
  const cases = {
    en: 'en', zh: 'zh', 'zh-TW': 'zh-TW', 'zh-HK': 'zh-TW', 'de-DE': 'de-DE', de: 'de-DE',
    ja: 'ja', ru: 'ru', ko: 'ko', 'ru-RU': 'ru', '': 'en', fr: 'en', ZH: 'zh', undefined: 'en',
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
});

test('every text exists in every language and names the same values as in English', () => {
  const names = (text) => (text.match(/\{\w+\}/g) || []).sort().join(' ');
  for (const [key, row] of Object.entries(ROWS)) {
    assert.equal(row.length, LANGUAGES.length, `${key}: ${row.length} columns`);
    for (let i = 0; i < row.length; i++) {
      assert.ok(typeof row[i] === 'string' && row[i].trim(), `${key} is empty in ${LANGUAGES[i]}`);
      assert.equal(names(row[i]), names(row[0]), `${key} in ${LANGUAGES[i]}`);
      assert.ok(!/\{\w+\}/.test(i18n.t(key, Object.fromEntries(names(row[0]).split(' ').filter(Boolean)
        .map((n) => [n.slice(1, -1), 'x'])), LANGUAGES[i])), `${key} in ${LANGUAGES[i]} keeps a value unfilled`);
    }
  }
});
