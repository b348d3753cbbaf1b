// The player page: starts Ruffle with the host's configuration, forwards the movie's
// commands to the host through the web channel, and runs the host's calls into the movie.
(function () {
  'use strict';

  const SCHEME = 'lanternfall:';

  // Qt 6.4 refuses fetch() on custom schemes (it allows it from Qt 6.6 on). Ruffle loads
  // its wasm and the movie with fetch(), so requests for our scheme go through
  // XMLHttpRequest and come back as a Response with its url set.
  if (typeof window.fetch === 'function') {
    const nativeFetch = window.fetch.bind(window);
    window.fetch = function (input, init) {
      const href = typeof input === 'string' ? input : (input && input.url) || String(input);
      let url;
      try { url = new URL(href, document.baseURI); } catch (e) { return nativeFetch(input, init); }
      if (url.protocol !== SCHEME) return nativeFetch(input, init);
      return new Promise(function (resolve, reject) {
        const xhr = new XMLHttpRequest();
        xhr.open('GET', url.href);
        xhr.responseType = 'arraybuffer';
        xhr.onload = function () {
          const headers = new Headers();
          const type = xhr.getResponseHeader('Content-Type');
          if (type) headers.set('Content-Type', type);
          const status = xhr.status >= 200 && xhr.status <= 599 ? xhr.status : 200;
          const response = new Response(xhr.response, { status: status, headers: headers });
          Object.defineProperty(response, 'url', { value: url.href });
          resolve(response);
        };
        xhr.onerror = function () { reject(new TypeError('Failed to load ' + url.href)); };
        xhr.send();
      });
    };
  }

  let host = null;
  let player = null;
  let ready = false;

  // Ruffle does not let an exception of a movie function reach the caller; it only logs it.
  // While a call runs, such log lines are collected so that the call can fail.
  let callErrors = null;
  ['error', 'warn', 'log', 'info'].forEach(function (level) {
    const original = console[level].bind(console);
    console[level] = function () {
      if (callErrors) {
        const text = Array.prototype.map.call(arguments, String).join(' ');
        const at = text.indexOf('external interface callback');
        if (at >= 0) callErrors.push(text.substring(at).replace(/%c/g, '').split(' color:')[0].trim());
      }
      return original.apply(null, arguments);
    };
  });

  function report(state, detail) {
    if (host) host.playerState(state, String(detail || ''));
  }

  // The movie counts as ready once it has registered a function for outside calls, or a
  // short while after it has loaded when it registers none.
  const READY_GRACE_MS = 2000;
  const LOAD_TIMEOUT_MS = 60000;

  function registeredNames() {
    return Object.getOwnPropertyNames(player).filter(function (n) {
      return typeof player[n] === 'function';
    });
  }

  function watchForReady(baseline) {
    const since = performance.now();
    (function poll() {
      if (ready) return;
      const added = registeredNames().filter(function (n) { return !baseline.has(n); });
      if (added.length > 0 || performance.now() - since > READY_GRACE_MS) {
        ready = true;
        report('ready', added.join(','));
        return;
      }
      setTimeout(poll, 10);
    })();
  }

  async function start() {
    const config = await (await fetch('lanternfall://app/config.json')).json();
    const url = config.url;
    delete config.url;
    window.RufflePlayer = window.RufflePlayer || {};
    const ruffle = window.RufflePlayer.newest();
    player = ruffle.createPlayer();
    player.id = 'player';
    document.getElementById('container').appendChild(player);
    const baseline = new Set(registeredNames());
    player.ruffle().addFSCommandHandler(function (command, args) {
      if (host) host.fsCommand(String(command), args == null ? '' : String(args));
      return true;
    });
    let loaded = false;
    player.addEventListener('loadeddata', function () {
      loaded = true;
      watchForReady(baseline);
    });
    setTimeout(function () {
      if (!loaded) report('failed', 'the movie did not load within ' + LOAD_TIMEOUT_MS / 1000 + ' s');
    }, LOAD_TIMEOUT_MS);
    try {
      await player.ruffle().load(Object.assign({ url: url }, config));
    } catch (e) {
      report('failed', String(e && e.message ? e.message : e));
    }
  }

  // Runs one invoke request: the name and the argument are recovered by the request's
  // fixed framing (the argument is not escaped and is often markup itself). The answer is
  // one string, "ok:" and the function's result or "error:" and why (a string crosses
  // back to the host faster than an object).
  const PREFIX = '<invoke name="';
  const MIDDLE = '" returntype="void"><arguments><string>';
  const SUFFIX = '</string></arguments></invoke>';
  window.lanternfallInvoke = function (request) {
    if (typeof request !== 'string' || !request.startsWith(PREFIX) || !request.endsWith(SUFFIX)) {
      return 'error:The invoke request is malformed.';
    }
    const middle = request.indexOf(MIDDLE, PREFIX.length);
    if (middle < 0 || middle + MIDDLE.length > request.length - SUFFIX.length) {
      return 'error:The invoke request is malformed.';
    }
    const name = request.substring(PREFIX.length, middle);
    const arg = request.substring(middle + MIDDLE.length, request.length - SUFFIX.length);
    if (!ready || !player) return 'error:The movie is not running.';
    if (!Object.prototype.hasOwnProperty.call(player, name) || typeof player[name] !== 'function') {
      return 'error:The movie has registered no function "' + name + '".';
    }
    callErrors = [];
    try {
      const result = player[name](arg);
      if (callErrors.length > 0) {
        return 'error:The movie function "' + name + '" failed: ' + callErrors.join('; ');
      }
      return 'ok:' + (result == null ? '' : String(result));
    } catch (e) {
      return 'error:The movie function "' + name + '" failed: ' + String(e && e.message ? e.message : e);
    } finally {
      callErrors = null;
    }
  };

  window.addEventListener('DOMContentLoaded', function () {
    new QWebChannel(qt.webChannelTransport, function (channel) {
      host = channel.objects.host;
      start().catch(function (e) { report('failed', String(e && e.message ? e.message : e)); });
    });
  });
})();
