// The Modes screen's decisions: what a binding or a current-mode change writes, which second
// binding is refused, and which mode is active as programs start and end.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');

const bind = require(path.join(__dirname, '..', '..', 'view', 'js', 'modebind.js'));

const element = (name, attributes, children = []) => ({ name, attributes: Object.entries(attributes), children });

// Two groups; the second has a note element between its modes and a mode written without any
// binding attribute.
function configuration() {
  const first = element('modes', { group: 'pad' }, [
    element('mode', { index: '1', name: 'Desktop', bindingProcess: '' }),
    element('mode', { index: '2', name: 'Racing', bindingProcess: '/usr/games/racer' }),
  ]);
  const second = element('modes', { group: 'extra' }, [
    element('note', { text: 'kept' }, [{ text: 'a & b' }]),
    element('mode', { index: '3', name: 'Editing' }),
  ]);
  const conf = element('conf', {}, [
    element('look', { theme: 'dark' }),
    element('modeSetting', { current: '1' }, [first, second]),
  ]);
  return { conf, groups: [first, second] };
}

test('modes are numbered as the monitor reads them, across groups and past other elements', () => {
  const { groups } = configuration();
  const modes = bind.listModes(groups);
  assert.deepEqual(modes.map((m) => [m.position, m.group, m.child, m.index, m.path]),
    [[1, 1, 0, '1', ''], [2, 1, 1, '2', '/usr/games/racer'], [3, 2, 1, '3', '']]);
});

test('a binding rewrites its group whole, whether the mode had the attribute or not', () => {
  const { groups } = configuration();
  // A path with ";" (which "modifyProfile" would cut) and with characters XML must escape.
  const program = '/home/me/games/a;b & "c" <d>';
  const replaced = bind.bindingCommand(groups[0], 1, 1, program);
  assert.equal(replaced.funcname, 'modifyProfileEx');
  assert.equal(replaced.filePath, 'view/xml/configuration.xml');
  assert.equal(replaced.xpath, '(/conf/modeSetting/modes)[1]');
  assert.equal(replaced.subTreeString,
    '<mode index="1" name="Desktop" bindingProcess="" />'
    + '<mode index="2" name="Racing" bindingProcess="/home/me/games/a;b &amp; &quot;c&quot; &lt;d&gt;" />');

  const added = bind.bindingCommand(groups[1], 2, 1, '/usr/bin/editor');
  assert.equal(added.xpath, '(/conf/modeSetting/modes)[2]');
  assert.equal(added.subTreeString,
    '<note text="kept">a &amp; b</note><mode index="3" name="Editing" bindingProcess="/usr/bin/editor" />');

  // Unbinding empties the attribute; a mode that never had one needs no write.
  assert.match(bind.bindingCommand(groups[0], 1, 1, '').subTreeString, /name="Racing" bindingProcess="" \/>$/);
  assert.equal(bind.bindingCommand(groups[1], 2, 1, ''), null);
  assert.throws(() => bind.bindingCommand(groups[1], 2, 0, '/usr/bin/x'));
});

test('a mode\'s profile link is set like a binding, and a deleted profile loses every link to it', () => {
  const { groups } = configuration();
  const linked = bind.profileCommand(groups[1], 2, 1, 'profile3.xml');
  assert.equal(linked.subTreeString, '<note text="kept">a &amp; b</note><mode index="3" name="Editing" profile="profile3.xml" />');
  assert.equal(bind.profileCommand(groups[1], 2, 1, ''), null);

  const withLinks = [
    element('modes', {}, [element('mode', { index: '1', profile: 'profile3.xml' }), element('mode', { index: '2', profile: 'profile1.xml' })]),
    element('modes', {}, [element('mode', { index: '3', profile: 'profile1.xml' })]),
    element('modes', {}, [element('mode', { index: '4', profile: 'profile3.xml', bindingProcess: '/x' })]),
  ];
  assert.deepEqual(bind.listModes(withLinks).map((m) => m.profile), ['profile3.xml', 'profile1.xml', 'profile1.xml', 'profile3.xml']);
  const unlinked = bind.unlinkCommands(withLinks, 'profile3.xml');
  assert.deepEqual(unlinked.map((c) => [c.xpath, c.subTreeString]), [
    ['(/conf/modeSetting/modes)[1]', '<mode index="1" profile="" /><mode index="2" profile="profile1.xml" />'],
    ['(/conf/modeSetting/modes)[3]', '<mode index="4" profile="" bindingProcess="/x" />'],
  ]);
  assert.deepEqual(bind.unlinkCommands(withLinks, 'profile8.xml'), []);

  // A discarded deletion gives the links back, but not to a mode given another profile since.
  const afterUnlink = [
    element('modes', {}, [element('mode', { index: '1', profile: '' }), element('mode', { index: '2', profile: 'profile1.xml' })]),
    element('modes', {}, [element('mode', { index: '3', profile: 'profile1.xml' })]),
    element('modes', {}, [element('mode', { index: '4', profile: 'profile5.xml', bindingProcess: '/x' })]),
  ];
  assert.deepEqual(bind.relinkCommands(afterUnlink, 'profile3.xml', [1, 4]).map((c) => [c.xpath, c.subTreeString]), [
    ['(/conf/modeSetting/modes)[1]', '<mode index="1" profile="profile3.xml" /><mode index="2" profile="profile1.xml" />'],
  ]);
});

test('line breaks and tabs in values are written so that the parser keeps them', () => {
  const group = element('modes', {}, [element('mode', { index: '1', label: 'one\ttwo\nthree' })]);
  assert.equal(bind.bindingCommand(group, 1, 0, '/p').subTreeString,
    '<mode index="1" label="one&#9;two&#10;three" bindingProcess="/p" />');
});

test('the current mode is set on the first mode setting, added when it is missing', () => {
  const { conf } = configuration();
  const command = bind.currentCommand(conf, '3');
  assert.equal(command.funcname, 'modifyProfileEx');
  assert.equal(command.xpath, '/conf');
  assert.ok(command.subTreeString.startsWith('<look theme="dark" /><modeSetting current="3"><modes group="pad">'));
  assert.ok(command.subTreeString.endsWith('<mode index="3" name="Editing" /></modes></modeSetting>'));

  const bare = element('conf', {}, [element('modeSetting', {}, []), element('modeSetting', { current: '9' })]);
  assert.equal(bind.currentCommand(bare, 2).subTreeString, '<modeSetting current="2" /><modeSetting current="9" />');
  assert.equal(bind.currentCommand(element('conf', {}, [element('look', {})]), '1'), null);
});

test('a program already bound to another mode is found, compared exactly like the monitor does', () => {
  const modes = bind.listModes(configuration().groups);
  assert.equal(bind.otherBinding(modes, 3, '/usr/games/racer').name, 'Racing');
  assert.equal(bind.otherBinding(modes, 2, '/usr/games/racer'), null, 'its own binding');
  assert.equal(bind.otherBinding(modes, 3, '/usr/games/Racer'), null, 'another letter case is another program');
  assert.equal(bind.otherBinding(modes, 2, ''), null, 'unbound modes share the empty path');
  assert.equal(bind.programName('/usr/games/racer'), 'racer');
  assert.equal(bind.programName('C:\\Games\\Racer\\racer.exe'), 'racer.exe');
});

test('the most recently started program decides the active mode, then the current mode', () => {
  let state = bind.emptyRunning();
  const step = (index, on) => { state = bind.processChanged(state, index, on); return bind.activeMode(state, '1'); };
  assert.deepEqual(bind.activeMode(state, '1'), { index: '1', byProgram: false });
  assert.deepEqual(step('2', true), { index: '2', byProgram: true });
  assert.deepEqual(step(3, true), { index: '3', byProgram: true });
  assert.deepEqual(step('2', true), { index: '3', byProgram: true }, 'a repeated report is no new start');
  assert.deepEqual(step('3', false), { index: '2', byProgram: true });
  assert.deepEqual(step('3', true), { index: '3', byProgram: true });

  // A restarted monitor reports its running programs again in its own order: the order of
  // starts stands, and a program it no longer reports is dropped once it has scanned.
  state = bind.monitorRestarted(state);
  step('3', true);
  assert.deepEqual(step('2', true), { index: '3', byProgram: true });
  state = bind.monitorRestarted(state);
  step('2', true);
  assert.equal(bind.activeMode(state, '1').index, '3', 'kept until the first scan');
  state = bind.settle(state);
  assert.deepEqual(bind.activeMode(state, '1'), { index: '2', byProgram: true });
  assert.deepEqual(step('2', false), { index: '1', byProgram: false });
});
