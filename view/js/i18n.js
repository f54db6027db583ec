// Looks the page's words up in the language of the "language" setting: languages.js lists the
// languages, lang/<code>.js holds each one's words.
//
// A code the page has no words for falls back by the list's `reads` and `also` ("zh-HK" →
// "zh-TW"), then by its first part ("de" → "de-DE"), then to English. Static markup names its
// text with data-i18n (content), data-i18n-label (aria-label), data-i18n-title and
// data-i18n-placeholder; apply() fills them in. The language is chosen as the page starts
// (main.js asks for the settings first); a change in Settings applies the marked texts again and
// sends "languagechanged", on which screens draw their other texts again. A count picks its
// plural form by the language's rules (Intl.PluralRules, see fill()).
(function (root, factory) {
  const inNode = typeof module === 'object' && module.exports;
  const languages = inNode ? require('./languages.js') : root.vexaModules.languages;
  const words = inNode
    ? Object.fromEntries(languages.WORDED.map((code) => [code, require(`./lang/${code}.js`)]))
    : root.vexaModules.words;
  const api = factory(languages, words);
  if (inNode) module.exports = api;
  else (root.vexaModules ??= {}).i18n = api;
})(typeof window !== 'undefined' ? window : globalThis, (languages, words) => {
  'use strict';

  /** The codes with words of their own, in the order of the setting's list. */
  const LANGUAGES = languages.WORDED;
  /** Other codes → the code whose words they read. */
  const ALIASES = {};
  for (const l of languages.LANGUAGES) {
    if (l.reads) ALIASES[l.code] = l.reads;
    for (const other of l.also || []) ALIASES[other] = l.code;
  }
  const own = (table, key) => (table && Object.prototype.hasOwnProperty.call(table, key) ? table[key] : undefined);

  let current = 'en';

  /** The code whose words a setting's code reads. */
  function resolveLanguage(code) {
    const text = String(code || '').trim();
    if (LANGUAGES.includes(text)) return text;
    if (own(ALIASES, text)) return ALIASES[text];
    const base = text.split(/[-_]/)[0].toLowerCase();
    return LANGUAGES.find((l) => l.split('-')[0] === base) || 'en';
  }

  function setLanguage(code) {
    current = resolveLanguage(code);
    return current;
  }

  const pluralRules = {};
  /** The plural category (CLDR: zero, one, two, few, many, other) of a count in a language. */
  function pluralOf(count, language) {
    // Counts may come formatted for people ("1.234", "1 234"): their digits are the number.
    const n = typeof count === 'number' ? count : Number(String(count).replace(/\D/g, '') || NaN);
    pluralRules[language] ??= new Intl.PluralRules(language);
    return pluralRules[language].select(n);
  }

  // A text says a count with the forms its language needs:
  // "{n, plural, one {# macro} other {# macros}}", # standing for the count. Russian needs one,
  // few, many and other; Chinese, Japanese and Korean need no forms at all.
  const PLURAL = /\{(\w+), plural,((?:\s*\w+\s*\{(?:[^{}]|\{\w+\})*\})+)\s*\}/g;
  const FORM = /\s*(\w+)\s*\{((?:[^{}]|\{\w+\})*)\}/g;

  function fill(text, values, language) {
    const has = (name) => values && Object.prototype.hasOwnProperty.call(values, name);
    const counted = text.replace(PLURAL, (all, name, body) => {
      if (!has(name)) return all;
      const forms = {};
      for (const [, category, form] of body.matchAll(FORM)) forms[category] = form;
      const form = own(forms, pluralOf(values[name], language)) ?? forms.other ?? '';
      return form.replace(/#/g, String(values[name]));
    });
    return counted.replace(/\{(\w+)\}/g, (all, name) => (has(name) ? String(values[name]) : all));
  }

  /** The text of key in the current language (English where it has none), values filled in. */
  function t(key, values, language = current) {
    const english = own(words.en, key);
    if (english === undefined) return key;
    const word = own(own(words, language), key);
    return word ? fill(word, values, language) : fill(english, values, 'en');
  }

  /**
   * A text said anew in the language of the moment wherever it is shown (as text, in a value of
   * t(), as JSON): for a reason kept on screen or in a status that outlives a change of language.
   */
  function later(say) {
    return { toString: say, toJSON: say };
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

  return { LANGUAGES, resolveLanguage, setLanguage, language: () => current, t, later, apply };
});
