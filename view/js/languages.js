// @ts-check
// The languages of the "language" setting, in the order Settings offers them: the code the
// setting stores (the tray menu's codes), the language's name in itself, and which words it
// reads. A language with words of its own has lang/<code>.js; one that reads another's words
// names it in `reads`. `also` are codes of other systems that mean the same language (Chinese
// scripts are told apart by region: Hong Kong and Taiwan read traditional characters).
// The program checks a "language" value against its own list of these codes.
(function (root, factory) {
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else (root.vexaModules ??= {}).languages = api;
})(typeof window !== 'undefined' ? window : globalThis, () => {
  'use strict';

  /** @type {{ code: string, name: string, reads?: string, also?: string[] }[]} */
  const LANGUAGES = [
    { code: 'en', name: 'English' },
    { code: 'zh', name: '简体中文', also: ['zh-CN', 'zh-SG', 'zh-Hans'] },
    { code: 'zh-TW', name: '繁體中文（台灣）', also: ['zh-MO', 'zh-Hant'] },
    { code: 'zh-HK', name: '繁體中文（香港）', reads: 'zh-TW' },
    { code: 'de-DE', name: 'Deutsch' },
    { code: 'ja', name: '日本語' },
    { code: 'ru', name: 'Русский' },
    { code: 'ko', name: '한국어' },
  ];

  /** The codes with words of their own, English first: the files in lang/. */
  const WORDED = LANGUAGES.filter((l) => !l.reads).map((l) => l.code);

  return { LANGUAGES, WORDED };
});
