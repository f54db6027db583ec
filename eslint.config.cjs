// The page's linter (scripts/test.sh runs it). The tools come from npm into the build folder,
// which NODE_PATH names, so this file loads them with require().
'use strict';

const js = require('@eslint/js');
const globals = require('globals');

module.exports = [
  { ignores: ['build/**', 'view/profiles/**', 'view/xml/**'] },
  {
    files: ['view/js/**/*.js'],
    languageOptions: {
      ecmaVersion: 2022,
      // Plain scripts: each module hangs itself on window.vexaModules, or exports itself to Node.
      sourceType: 'script',
      // module and require: the modules the Node tests load find their neighbours that way.
      globals: { ...globals.browser, module: 'readonly', require: 'readonly' },
    },
    rules: {
      ...js.configs.recommended.rules,
      'no-unused-vars': ['error', { args: 'none', caughtErrors: 'none' }],
      eqeqeq: ['error', 'always', { null: 'ignore' }],
      'no-var': 'error',
      'prefer-const': 'error',
    },
  },
  {
    files: ['tests/page/**/*.js', 'eslint.config.cjs'],
    languageOptions: { ecmaVersion: 2022, sourceType: 'commonjs', globals: { ...globals.node } },
    rules: {
      ...js.configs.recommended.rules,
      'no-unused-vars': ['error', { args: 'none', caughtErrors: 'none' }],
      'prefer-const': 'error',
    },
  },
];
