// Page side of the native bridge, injected into every document before its own scripts run.
// Transport only: every rule (who may register, what is delivered, which queries are answered)
// is decided natively; this file carries calls and calls back.
(function () {
  'use strict';
  if (typeof window.cefQuery === 'function' || typeof qt === 'undefined' || !qt.webChannelTransport) {
    return;
  }

  const context = Array.from(crypto.getRandomValues(new Uint32Array(4)), (n) => n.toString(16)).join('');
  // Native code reads it without the channel to learn which document a load left in place.
  Object.defineProperty(window, '__vexaContext', { value: context });
  const outbox = [];
  let bridge = null;

  const queries = new Map();
  let nextQueryId = 1;

  const functions = new Map();
  const functionIds = new WeakMap();
  let nextFunctionId = 1;

  function send(method, args) {
    if (bridge) {
      bridge[method].apply(bridge, [context].concat(args));
    } else {
      outbox.push([method, args]);
    }
  }

  function describe(value) {
    if (typeof value === 'function') {
      let id = functionIds.get(value);
      if (!id) {
        id = nextFunctionId++;
        functionIds.set(value, id);
        functions.set(id, value);
      }
      return { type: 'function', id: id };
    }
    if (value === null) return { type: 'null' };
    const type = typeof value;
    if (type === 'string' || type === 'number' || type === 'boolean') return { type: type, value: value };
    return { type: type };
  }

  window.cefQuery = function (query) {
    const id = nextQueryId++;
    const q = query || {};
    queries.set(id, q);
    send('query', [id, String(q.request), Boolean(q.persistent)]);
    return id;
  };

  window.cefQueryCancel = function (id) {
    if (queries.delete(id)) send('cancel', [id]);
  };

  window.setMessageCallback = function () {
    send('call', ['setMessageCallback', Array.prototype.map.call(arguments, describe)]);
  };

  new QWebChannel(qt.webChannelTransport, function (channel) {
    const native = channel.objects.vexaBridge;
    native.reply.connect(function (ctx, id, success, code, text) {
      if (ctx !== context) return;
      const q = queries.get(id);
      if (!q) return;
      queries.delete(id);
      if (success) {
        if (typeof q.onSuccess === 'function') q.onSuccess(text);
      } else if (typeof q.onFailure === 'function') {
        q.onFailure(code, text);
      }
    });
    // A query the native side will never answer: nothing is called, it is only let go.
    native.forget.connect(function (ctx, id) {
      if (ctx === context) queries.delete(id);
    });
    native.invoke.connect(function (ctx, functionId, args) {
      if (ctx !== context) return;
      const fn = functions.get(functionId);
      if (fn) fn(args);
    });
    // The calls made before the channel was up travel with the hello, so the document's early
    // registrations are in place before the events that waited for it are handed on. A channel
    // that comes up while the page's own start-up scripts (deferred ones included) still load
    // waits for them: their registrations belong to that start too.
    function greet() {
      native.hello(context, outbox.splice(0));
      bridge = native;
    }
    if (document.readyState === 'loading') {
      document.addEventListener('DOMContentLoaded', greet, { once: true });
    } else {
      greet();
    }
  });
})();
