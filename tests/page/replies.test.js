// What the user reads when a command fails: never the command's own text.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');

const view = path.join(__dirname, '..', '..', 'view', 'js');
const i18n = require(path.join(view, 'i18n.js'));
const { failureKey, failureMessage } = require(path.join(view, 'messages.js'));

// [command, failure reply of the program, what the user should be told]
const FAILURES = [
  ['getConf', 'cant find conf.xml', 'err.settingsFile'],
  ['setConf', "can't find conf name", 'err.settingKey'],
  ['getDevicesList', 'queryProfile load xml file failed!', 'err.catalogue'],
  ['queryProfile', 'queryProfile load xml file failed!', 'err.profileFile'],
  ['nodeCounterProfile', 'nodeCounterProfile load xml file failed!', 'err.profileFile'],
  ['modifyProfile', 'modifyProfile load xml file failed!', 'err.profileFile'],
  ['modifyProfileEx', 'modifyProfileEx load xml file failed!', 'err.profileFile'],
  ['resetProfile', 'modifyReplaceProfile load xml file failed!', 'err.profileFile'],
  ['modifyReplaceProfileEx', 'modifyReplaceProfile load xml file failed!', 'err.packageFile'],
  ['saveXmlAs', 'saveXmlAs load xml file failed!', 'err.profileFile'],
  ['saveXmlAs', 'saveXmlAs desFilePath is failed!', 'err.exportPlace'],
  ['writeDevicesProp', 'writeDevicesProp failed!', 'err.padWrite'],
  ['writeByAddr', 'writeByAddr failed!', 'err.padWrite'],
  ['cleanMacroByAddr', 'cleanMacroByAddr failed!', 'err.padWrite'],
  ['writeMacroByAddr', 'writeMacroByAddr failed!', 'err.padWrite'],
  ['notifyDevice', 'notifyDevice failed!', 'err.padNotify'],
  ['readByAddr', 'readByAddr failed!', 'err.padRead'],
  ['isPropEmpty', 'isPropEmpty failed!', 'err.padRead'],
  ['startRecord', 'startRecord failed!', 'err.recordStart'],
  ['modifyMouseSpeed', 'modifyMouseSpeed failed', 'err.system'],
  ['savexml', 'something nobody planned for', 'err.other'],
];

test('each failure reply of the program becomes a sentence of the page, in every language', () => {
  for (const language of i18n.LANGUAGES) {
    i18n.setLanguage(language);
    for (const [funcname, reply, key] of FAILURES) {
      const outcome = { ok: false, code: 0, text: reply };
      assert.equal(failureKey({ funcname }, outcome), key, `${funcname}: ${reply}`);
      assert.equal(failureKey(JSON.stringify({ funcname }), outcome), key, `${funcname} sent as text`);
      const message = failureMessage({ funcname }, outcome);
      assert.equal(message, i18n.t(key));
      assert.ok(!message.includes(reply) && !message.includes(funcname), `${language}: ${message}`);
    }
  }
  i18n.setLanguage('en');
});

test('a write that failed names its file in every language', () => {
  const text = 'cannot write /home/u/vexa/Resources/profiles/conf.xml: Read-only file system';
  for (const language of i18n.LANGUAGES) {
    i18n.setLanguage(language);
    const message = failureMessage({ funcname: 'setConf' }, { ok: false, code: 0, text });
    assert.ok(message.includes(text) && message !== text, `${language}: ${message}`);
  }
  i18n.setLanguage('en');
});

test('no reply, a missing bridge and a withdrawn query are told apart', () => {
  assert.equal(failureKey({ funcname: 'getConf' }, { pending: true, elapsedMs: 4000 }), 'reply.noAnswer');
  assert.equal(failureKey({ funcname: 'getConf' }, { ok: false, error: true, text: 'cefQuery is not available' }), 'reply.noBridge');
  assert.equal(failureKey({ funcname: 'getConf' }, { ok: false, cancelled: true }), 'reply.cancelled');
});
