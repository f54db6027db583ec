// Every failure reply the program can send has a sentence of the page's own (messages.js): the
// texts are read from the program's sources, so a new failure text without one fails here.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const repo = path.join(__dirname, '..', '..');
const { failureKey } = require(path.join(repo, 'view', 'js', 'messages.js'));
const english = require(path.join(repo, 'view', 'js', 'lang', 'en.js'));

// Failure texts that are not written out where they are sent. Each is a text passed on (its
// sources are scanned where they are made) or a refusal that names the refused value, which
// no table can hold: the page says "the program refused" for those and the Console shows them.
const PASSED_ON = {
  'commands/command_registry.cpp': ['text'],
  'bridge/vexa.cpp': ['text', 'ViewCommands::refusedPageText(relative)'],
  'bridge/view_commands.cpp': ['refusedPageText(relative)'],
  'profile/profile_commands.cpp': ['result.text'],
  'profile/profile_store.cpp': ['failureText'],
  'app/settings_commands.cpp': ['refusal'],
};
// Failure texts passed on that name the file a write failed on; the page knows them by their
// beginning, so each must find its sentence through an example.
const NAMING_A_FILE = {
  'app/settings_commands.cpp': {
    error: ['cannot write /home/u/vexa/Resources/profiles/conf.xml: Read-only file system',
      'cannot remove /home/u/.config/autostart/marlith.desktop: Is a directory'],
  },
};

function sources(dir) {
  return fs.readdirSync(dir, { withFileTypes: true }).flatMap((entry) => {
    const full = path.join(dir, entry.name);
    if (entry.isDirectory()) return sources(full);
    return /\.(cpp|h)$/.test(entry.name) ? [full] : [];
  });
}

/** The arguments of every call of `name(` in text, split at top-level commas. */
function calls(text, name) {
  const found = [];
  const pattern = new RegExp(`(?<![\\w:]|void |void ::)(?:::)?${name}\\(`, 'g');
  for (const match of text.matchAll(pattern)) {
    // A definition or declaration names its parameters' types.
    const line = text.slice(text.lastIndexOf('\n', match.index) + 1, text.indexOf('\n', match.index));
    if (/^\s*(static\s+)?(void|ProfileReply|bool)\s/.test(line)) continue;
    let depth = 1;
    let i = match.index + match[0].length;
    let arg = '';
    const args = [];
    for (; i < text.length && depth > 0; i++) {
      const c = text[i];
      if (c === '"') { // a string literal, escapes included
        let j = i + 1;
        while (j < text.length && text[j] !== '"') j += text[j] === '\\' ? 2 : 1;
        arg += text.slice(i, j + 1);
        i = j;
        continue;
      }
      if (c === '(') depth++;
      if (c === ')' && --depth === 0) break;
      if (c === ',' && depth === 1) { args.push(arg.trim()); arg = ''; continue; }
      arg += c;
    }
    args.push(arg.trim());
    found.push(args);
  }
  return found;
}

/** The failure texts the program's sources send, and what could not be read as a text. */
function nativeFailures() {
  const texts = new Map(); // text → where
  const unread = [];
  const literal = (expr) => {
    const m = /^(?:QStringLiteral|QLatin1String|QString::fromLatin1)?\(?\s*"((?:[^"\\]|\\.)*)"\s*\)?$/.exec(expr);
    return m ? JSON.parse(`"${m[1]}"`) : null;
  };
  for (const file of sources(path.join(repo, 'src'))) {
    const text = fs.readFileSync(file, 'utf8');
    const where = path.relative(path.join(repo, 'src'), file).split(path.sep).join('/');
    const constants = {};
    for (const m of text.matchAll(/const QString (\w+) = (QStringLiteral\("(?:[^"\\]|\\.)*"\));/g)) constants[m[1]] = literal(m[2]);
    const sent = [
      ...calls(text, 'replyFailure').map((a) => a[2]),
      ...calls(text, 'Failure').map((a) => a[1]),
      ...calls(text, 'ProfileReply::failure').map((a) => a[0]),
      ...calls(text, 'failureFor').map((a) => a[1]),
    ].filter((expr) => expr !== undefined);
    for (const expr of sent) {
      const value = literal(expr) ?? constants[expr] ?? null;
      if (value !== null) { texts.set(value, where); continue; }
      // The mouse commands answer "<command> failed" for the command they were given.
      const composed = /^(\w+) \+ QStringLiteral\("((?:[^"\\]|\\.)*)"\)$/.exec(expr);
      if (composed && where === 'automation/mouse_commands.cpp') {
        for (const args of calls(text, 'answer')) {
          const command = literal(args[args.length - 1]);
          if (command) texts.set(command + JSON.parse(`"${composed[2]}"`), where);
        }
        continue;
      }
      const examples = (NAMING_A_FILE[where] || {})[expr];
      if (examples) { for (const example of examples) texts.set(example, where); continue; }
      if (!(PASSED_ON[where] || []).includes(expr)) unread.push(`${where}: ${expr}`);
    }
  }
  return { texts, unread };
}

test('the page has a sentence for every failure text of the program', () => {
  const { texts, unread } = nativeFailures();
  assert.deepEqual(unread, [], 'failure texts the test cannot read: write them out, or list them as passed on');
  // Reading the sources must find the kinds of failure the page is known to handle.
  for (const known of ['cant find conf.xml', 'saveXmlAs desFilePath is failed!', 'writeMacroByAddr failed!', 'modifyMouseDoubleClick failed']) {
    assert.ok(texts.has(known), `${known} not found in the sources`);
  }
  const missing = [...texts].filter(([text]) => failureKey({ funcname: '' }, { ok: false, code: 0, text }) === 'err.other')
    .map(([text, where]) => `${where}: ${text}`);
  assert.deepEqual(missing, [], 'failure texts without a sentence in messages.js');
  for (const [text] of texts) {
    const key = failureKey({ funcname: '' }, { ok: false, code: 0, text });
    assert.ok(Object.hasOwn(english, key), `${text} → ${key}, which has no words`);
  }
});
