// Injected into every document and frame, in a world of its own that pages cannot reach. A file
// or an address dropped where the document does not take the drop itself would be opened in a
// new window of the program, beside the application page. So every drag that carries one is
// taken before the document's own handlers see it: they still get every drag event and the
// dropped files, but nothing is opened. Drags of plain text (into a text field) are left alone.
(function () {
  'use strict';
  function carriesAnAddress(event) {
    const types = event.dataTransfer ? Array.from(event.dataTransfer.types || []) : [];
    return types.includes('Files') || types.includes('text/uri-list');
  }
  for (const type of ['dragenter', 'dragover', 'drop']) {
    window.addEventListener(type, (event) => {
      if (carriesAnAddress(event)) event.preventDefault();
    }, true);
  }
})();
