// @ts-check
// What the Modes screen decides without the page around it: the command that writes a binding or
// the current mode, which mode is active, and which binding would be a second one for a program.
//
// Every write goes through "modifyProfileEx" on the parent of the changed element, with that
// parent's children written out again. "modifyProfile" cannot do these writes: it sets only
// attributes that exist (a mode written without "bindingProcess" could never be bound), it cuts
// values at ";" (a legal character in a program path), and it puts the system's double-click time
// back to its default on every call, which a user binding a program would not expect.
//
// Elements are plain objects here: { name, attributes: [[name, value], ...], children: [...] },
// a child being an element or { text }. The screen turns the profile's reply into this form.
(function (root, factory) {
  const api = factory();
  if (typeof module === 'object' && module.exports) module.exports = api;
  else (root.vexaModules ??= {}).modeBind = api;
})(typeof window !== 'undefined' ? window : globalThis, () => {
  'use strict';

  const CONFIGURATION = 'view/xml/configuration.xml';
  const MODES_XPATH = '/conf/modeSetting/modes/mode';
  const GROUPS_XPATH = '/conf/modeSetting/modes';
  const CONF_XPATH = '/conf';

  function escapeXml(text, inAttribute) {
    let out = String(text).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
    // Written as references, tabs and line breaks survive the parser's whitespace rules for
    // attribute values; a quote would end the value.
    if (inAttribute) out = out.replace(/"/g, '&quot;').replace(/\t/g, '&#9;').replace(/\n/g, '&#10;').replace(/\r/g, '&#13;');
    return out;
  }

  /** One element (with everything below it) or text node as XML text. */
  function serialize(node) {
    if (!node.name) return escapeXml(node.text || '', false);
    const attributes = node.attributes.map(([name, value]) => ` ${name}="${escapeXml(value, true)}"`).join('');
    const children = node.children || [];
    if (!children.length) return `<${node.name}${attributes} />`;
    return `<${node.name}${attributes}>${children.map(serialize).join('')}</${node.name}>`;
  }

  function attribute(node, name) {
    const found = node.attributes.find(([n]) => n === name);
    return found ? found[1] : null;
  }

  // A copy of node whose attribute name is value: replaced in place, or added at the end.
  function withAttribute(node, name, value) {
    const has = node.attributes.some(([n]) => n === name);
    const attributes = has ? node.attributes.map(([n, v]) => [n, n === name ? value : v])
      : [...node.attributes, [name, value]];
    return { ...node, attributes };
  }

  /**
   * The modes of the configuration, in document order (the process monitor's order), from the
   * groups (the "modes" elements): { position (1-based over all modes), group (1-based), child
   * (0-based among the group's children), index, name, path }.
   */
  function listModes(groups) {
    const modes = [];
    groups.forEach((group, g) => {
      (group.children || []).forEach((child, c) => {
        if (child.name !== 'mode') return;
        modes.push({
          position: modes.length + 1,
          group: g + 1,
          child: c,
          index: attribute(child, 'index') || '',
          name: attribute(child, 'name') || '',
          path: attribute(child, 'bindingProcess') || '',
          profile: attribute(child, 'profile') || '',
        });
      });
    });
    return modes;
  }

  // The command that sets one attribute of a mode, given the mode's group as the profile holds it
  // now; null when there is nothing to write (clearing an attribute the mode does not have).
  function modeAttributeCommand(group, groupNumber, child, name, value) {
    const mode = group.children[child];
    if (!mode || mode.name !== 'mode') throw new Error(`child ${child} of group ${groupNumber} is not a mode`);
    if (!value && attribute(mode, name) === null) return null;
    const children = group.children.map((node, i) => (i === child ? withAttribute(node, name, value) : node));
    return {
      funcname: 'modifyProfileEx',
      filePath: CONFIGURATION,
      xpath: `(${GROUPS_XPATH})[${groupNumber}]`,
      subTreeString: children.map(serialize).join(''),
    };
  }

  /**
   * The command that binds path to the mode (an empty path unbinds), given the mode's group as
   * the profile holds it now; null when there is nothing to write (unbinding a mode that has no
   * binding attribute).
   */
  function bindingCommand(group, groupNumber, child, path) {
    return modeAttributeCommand(group, groupNumber, child, 'bindingProcess', path);
  }

  /**
   * The command that gives the mode a profile place (its file name, "profile3.xml"; empty leaves
   * the pad as it is), like bindingCommand.
   */
  function profileCommand(group, groupNumber, child, file) {
    return modeAttributeCommand(group, groupNumber, child, 'profile', file);
  }

  // The commands that give modes new profile links, one per group that changes; link(mode,
  // position) is the mode's new link, or null to leave it (positions as listModes counts them).
  function linkCommands(groups, link) {
    const out = [];
    let position = 0;
    groups.forEach((group, g) => {
      let touched = false;
      const children = (group.children || []).map((node) => {
        if (node.name !== 'mode') return node;
        const value = link(node, ++position);
        if (value === null) return node;
        touched = true;
        return withAttribute(node, 'profile', value);
      });
      if (touched) {
        out.push({ funcname: 'modifyProfileEx', filePath: CONFIGURATION, xpath: `(${GROUPS_XPATH})[${g + 1}]`,
          subTreeString: children.map(serialize).join('') });
      }
    });
    return out;
  }

  /**
   * The commands that clear every link to the profile file, one per group that has one, given
   * the groups as the profile holds them now.
   */
  function unlinkCommands(groups, file) {
    return linkCommands(groups, (mode) => (attribute(mode, 'profile') === file ? '' : null));
  }

  /**
   * The commands that give the modes at positions the profile file again, after a deletion that
   * cleared their links was discarded; a mode given another profile since keeps it.
   */
  function relinkCommands(groups, file, positions) {
    return linkCommands(groups, (mode, position) => (positions.includes(position) && !attribute(mode, 'profile') ? file : null));
  }

  /**
   * A DOM node as the plain elements above; whitespace between elements is not content (the
   * program drops it when it reads the file). Node types by number, so no DOM is needed here.
   */
  function plain(node) {
    if (node.nodeType === 3 || node.nodeType === 4) return node.data.trim() ? { text: node.data } : null;
    if (node.nodeType !== 1) return null;
    return {
      name: node.tagName,
      attributes: Array.from(node.attributes, (a) => [a.name, a.value]),
      children: Array.from(node.childNodes, plain).filter(Boolean),
    };
  }

  /**
   * The configuration's root as plain elements → { conf, groups, current }: the "modes" groups
   * and the current mode's index.
   */
  function readConf(conf) {
    const settings = conf.children.filter((c) => c.name === 'modeSetting');
    const groups = settings.flatMap((s) => s.children.filter((c) => c.name === 'modes'));
    const current = settings.length ? attribute(settings[0], 'current') || '' : '';
    return { conf, groups, current };
  }

  /** The command that makes index the current mode, given the whole configuration's root. */
  function currentCommand(conf, index) {
    let done = false;
    const children = conf.children.map((node) => {
      if (done || node.name !== 'modeSetting') return node;
      done = true;
      return withAttribute(node, 'current', String(index));
    });
    if (!done) return null;
    return { funcname: 'modifyProfileEx', filePath: CONFIGURATION, xpath: CONF_XPATH, subTreeString: children.map(serialize).join('') };
  }

  /**
   * The other mode that already has path: the monitor would switch to only one of the two (the
   * later), so a second binding is refused. Paths compare as the monitor compares them: exactly.
   */
  function otherBinding(modes, position, path) {
    if (!path) return null;
    return modes.find((m) => m.position !== position && m.path === path) || null;
  }

  /** The last part of a program path, either separator. */
  function programName(path) {
    const parts = String(path).split(/[\\/]/);
    return parts[parts.length - 1] || String(path);
  }

  // ---- running programs and the active mode ------------------------------------------------
  //
  // order: mode indexes whose program runs, the most recently started last. stale: indexes kept
  // from before a monitor restart; the new monitor reports its running programs again at its
  // first scan, and those it does not report are dropped then (settle).

  function emptyRunning() {
    return { order: [], stale: [] };
  }

  /** State after "onProcessChanged"(index, on). */
  function processChanged(state, index, on) {
    const key = String(index);
    const stale = state.stale.filter((i) => i !== key);
    if (!on) return { order: state.order.filter((i) => i !== key), stale };
    // A program still running after a restart keeps its place among the others.
    if (state.order.includes(key)) return { order: state.order, stale };
    return { order: [...state.order, key], stale };
  }

  /** State after a monitor restart: every running mark waits to be confirmed. */
  function monitorRestarted(state) {
    return { order: state.order, stale: [...state.order] };
  }

  /** State once the restarted monitor has had its first scan. */
  function settle(state) {
    return { order: state.order.filter((i) => !state.stale.includes(i)), stale: [] };
  }

  /**
   * The active mode: that of the most recently started bound program still running, otherwise
   * the current mode of the configuration. { index, byProgram }.
   */
  function activeMode(state, current) {
    const { order } = state;
    if (order.length) return { index: order[order.length - 1], byProgram: true };
    return { index: String(current || ''), byProgram: false };
  }

  return {
    CONFIGURATION, MODES_XPATH, GROUPS_XPATH, CONF_XPATH,
    serialize, plain, readConf, listModes, bindingCommand, profileCommand, unlinkCommands, relinkCommands, currentCommand, otherBinding, programName,
    emptyRunning, processChanged, monitorRestarted, settle, activeMode,
  };
});
