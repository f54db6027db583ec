// @ts-check
// What the user reads when a command fails. The program's failure replies are texts meant for its
// developers ("saveXmlAs desFilePath is failed!"); the page never shows them as they are, except in
// the Console. failureMessage() turns any outcome of bridge.query() into one sentence of the page's
// own, in the current language. A new command's failure texts go into FAILURES.
(function (root, factory) {
  const inNode = typeof module === 'object' && module.exports;
  const api = factory(inNode ? require('./i18n.js') : root.vexaModules.i18n);
  if (inNode) module.exports = api;
  else (root.vexaModules ??= {}).messages = api;
})(typeof window !== 'undefined' ? window : globalThis, (i18n) => {
  'use strict';

  // Failure reply text → text key. Some texts are shared by commands that mean different things
  // (the pad list fails with the profile loader's text when the pad catalogue does not parse), so a
  // command may have its own entry first.
  const BY_COMMAND = {
    getDevicesList: { 'queryProfile load xml file failed!': 'err.catalogue' },
    modifyReplaceProfileEx: { 'modifyReplaceProfile load xml file failed!': 'err.packageFile' },
  };
  const FAILURES = {
    "cant find conf.xml": 'err.settingsFile',
    "can't find conf name": 'err.settingKey',
    'queryProfile load xml file failed!': 'err.profileFile',
    'nodeCounterProfile load xml file failed!': 'err.profileFile',
    'modifyProfile load xml file failed!': 'err.profileFile',
    'modifyProfileEx load xml file failed!': 'err.profileFile',
    'modifyReplaceProfile load xml file failed!': 'err.profileFile',
    'saveXmlAs load xml file failed!': 'err.profileFile',
    'saveXmlAs desFilePath is failed!': 'err.exportPlace',
    'confChanged save failed!': 'err.profileSave',
    'writeDevicesProp failed!': 'err.padWrite',
    'writeByAddr failed!': 'err.padWrite',
    'cleanMacroByAddr failed!': 'err.padWrite',
    'writeMacroByAddr failed!': 'err.padWrite',
    'notifyDevice failed!': 'err.padNotify',
    'readDevicesProp failed!': 'err.padRead',
    'readByAddr failed!': 'err.padRead',
    'isPropEmpty failed!': 'err.padRead',
    'startRecord failed!': 'err.recordStart',
    'modifyMouseSpeed failed': 'err.system',
    'modifyMouseScrollLines failed': 'err.system',
    'modifyMouseDoubleClick failed': 'err.system',
  };
  // Failure texts that name the file they are about ("cannot write <file>: <why>"), known by their
  // beginning; the sentence shows the text itself, so the user learns which file it was.
  const BY_BEGINNING = [
    ['cannot write ', 'err.notSaved'],
    ['cannot remove ', 'err.notSaved'],
  ];

  function funcnameOf(command) {
    if (command && typeof command === 'object') return String(command.funcname || '');
    try { return String(JSON.parse(command).funcname || ''); } catch (_) { return ''; }
  }

  /** The text key for an outcome that is not a success (see bridge.js for the shapes). */
  function failureKey(command, outcome) {
    if (!outcome || outcome.pending) return 'reply.noAnswer';
    if (outcome.cancelled) return 'reply.cancelled';
    if (outcome.error) return 'reply.noBridge';
    const text = String(outcome.text || '');
    const own = BY_COMMAND[funcnameOf(command)];
    const begun = BY_BEGINNING.find(([beginning]) => text.startsWith(beginning));
    return (own && own[text]) || FAILURES[text] || (begun && begun[1]) || 'err.other';
  }

  /** One sentence for the user about a failed command. */
  function failureMessage(command, outcome) {
    return i18n.t(failureKey(command, outcome), { detail: String((outcome && outcome.text) || '') });
  }

  return { failureKey, failureMessage };
});
