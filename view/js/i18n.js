// Looks the page's words up in the language of the "language" setting (texts.js holds them).
//
// The setting's codes are those of the tray menu ("en", "zh", "zh-TW", "zh-HK", "de-DE", "ja",
// "ru", "ko"); a code the page has no column for falls back by its first part ("de" → "de-DE",
// "zh-HK" → "zh-TW") and then to English. Static markup names its text with data-i18n (content),
// data-i18n-label (aria-label), data-i18n-title and data-i18n-placeholder; apply() fills them in.
// The language is chosen once as the page starts (main.js asks for the settings first); a change
// in Settings reloads the page, so screens simply call t() while they build.
(function (root, factory) {
  const inNode = typeof module === 'object' && module.exports;
  const api = factory(inNode ? require('./texts.js') : root.vexaModules.texts);
  if (inNode) module.exports = api;
  else (root.vexaModules ??= {}).i18n = api;
})(typeof window !== 'undefined' ? window : globalThis, (texts) => {
  'use strict';

  const { LANGUAGES, ROWS } = texts;

  // Chinese scripts are told apart by region: Hong Kong and Taiwan read traditional characters.
  const ALIASES = { 'zh-HK': 'zh-TW', 'zh-MO': 'zh-TW', 'zh-Hant': 'zh-TW', 'zh-CN': 'zh', 'zh-SG': 'zh', 'zh-Hans': 'zh' };

  let current = 'en';

  /** The column of texts.js that a setting's code reads. */
  function resolveLanguage(code) {
    const text = String(code || '').trim();
    if (LANGUAGES.includes(text)) return text;
    if (ALIASES[text]) return ALIASES[text];
    const base = text.split(/[-_]/)[0].toLowerCase();
    return LANGUAGES.find((l) => l.split('-')[0] === base) || 'en';
  }

  function setLanguage(code) {
    current = resolveLanguage(code);
    return current;
  }

  function fill(text, values) {
    return text.replace(/\{(\w+)\}/g, (all, name) => (values && name in values ? String(values[name]) : all));
  }

  /** The text of key in the current language (English where it has none), values filled in. */
  function t(key, values, language = current) {
    const row = ROWS[key];
    if (!row) return key;
    const column = LANGUAGES.indexOf(language);
    const text = (column >= 0 && row[column]) || row[0];
    return fill(text, values);
  }

  const ATTRIBUTES = [['i18nLabel', 'aria-label'], ['i18nTitle', 'title'], ['i18nPlaceholder', 'placeholder']];

  /** Fills in the marked texts of a document or element. */
  function apply(node) {
    if (node.documentElement) node.documentElement.lang = current;
    for (const element of node.querySelectorAll('[data-i18n], [data-i18n-label], [data-i18n-title], [data-i18n-placeholder]')) {
      if (element.dataset.i18n) element.textContent = t(element.dataset.i18n);
      for (const [data, attribute] of ATTRIBUTES) {
        if (element.dataset[data]) element.setAttribute(attribute, t(element.dataset[data]));
      }
    }
  }

  return { LANGUAGES, resolveLanguage, setLanguage, language: () => current, t, apply };
});
