// The edition of these page files. An update of the page (the "html" package) replaces this
// file with the one it was built with, so the About screen tells which page is installed.
(function (vexa) {
  'use strict';

  vexa.edition = Object.freeze({
    version: '1.0.0',
    // One line on what this edition brought; empty for the edition shipped with the program.
    note: '',
  });
})(window.vexaModules = window.vexaModules || {});
