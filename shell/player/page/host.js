// The player page: starts Ruffle with the host's configuration, forwards the movie's
// commands to the host through the web channel, and runs the host's calls into the movie.
(function () {
  'use strict';

  let host = null;
  let player = null;
  let loaded = false;   // the movie has loaded: calls into it may run
  let started = false;  // the player itself has started (its files loaded, the movie asked for)
  let stopped = false;  // a failure has been reported; nothing more is

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

  function message(e) {
    return String(e && e.message ? e.message : e);
  }

  function report(state, detail) {
    if (host) host.playerState(state, String(detail || ''));
  }

  // Reports the first failure only: "player" when the player's own files could not be
  // loaded, "unplayable" when the movie could not be read before it loaded, "failed" else.
  function fail(state, detail) {
    if (stopped) return;
    stopped = true;
    report(state, detail);
  }

  function registeredNames() {
    return Object.getOwnPropertyNames(player).filter(function (n) {
      return typeof player[n] === 'function';
    });
  }

  // The host holds each call until the movie has registered the function it names, for at
  // most 30 s after loading. So the names are reported as soon as they appear (polled:
  // the player defines them on its element without an event), for that long.
  const REGISTRATION_WATCH_MS = 30000;

  function watchRegistrations(baseline) {
    const known = new Set(baseline);
    const fresh = function () {
      const added = registeredNames().filter(function (n) { return !known.has(n); });
      added.forEach(function (n) { known.add(n); });
      return added;
    };
    report('loaded', JSON.stringify(fresh()));
    const since = performance.now();
    (function poll() {
      if (stopped) return;
      const added = fresh();
      if (added.length > 0) report('registered', JSON.stringify(added));
      if (performance.now() - since < REGISTRATION_WATCH_MS) setTimeout(poll, 10);
    })();
  }

  // The player's own panels never show: no error panel, splash screen, message overlay,
  // context menu or hint about hardware acceleration. The host reports in its own words.
  const HIDDEN_PANELS = '#panic, #splash-screen, #message-overlay, #context-menu-overlay, ' +
    '#hardware-acceleration-modal, #clipboard-modal, #save-manager, #volume-controls-modal ' +
    '{ display: none !important; }';

  // The player shows its error panel when it gives up (a movie it cannot read, an error in
  // its core). The panel carries the error's message in its details; that is reported.
  function watchForPanic(root) {
    const observer = new MutationObserver(function () {
      const panel = root.getElementById('panic');
      if (!panel) return;
      observer.disconnect();
      const details = panel.querySelector('textarea');
      const found = /Error message: (.*)/.exec(details ? details.value : '');
      // Without the page's own addresses, which mean nothing to the user.
      const why = (found ? found[1] : 'the player gave up')
        .replace(/:?\s*lanternfall:\/\/\S*/g, '').trim();
      if (!started) return; // the player's own start failed: reported where it is caught
      if (!loaded) fail('unplayable', why);
      else fail('failed', why);
    });
    observer.observe(root, { childList: true, subtree: true });
  }

  async function start() {
    const config = await (await fetch('lanternfall://app/config.json')).json();
    const url = config.url;
    delete config.url;
    const ruffle = window.RufflePlayer && typeof window.RufflePlayer.newest === 'function'
      ? window.RufflePlayer.newest() : null;
    if (!ruffle) {
      fail('player', 'ruffle.js did not load');
      return;
    }
    player = ruffle.createPlayer();
    player.id = 'player';
    if (player.shadowRoot) {
      const style = document.createElement('style');
      style.textContent = HIDDEN_PANELS;
      player.shadowRoot.appendChild(style);
      watchForPanic(player.shadowRoot);
    }
    document.getElementById('container').appendChild(player);
    const baseline = registeredNames();
    player.ruffle().addFSCommandHandler(function (command, args) {
      if (host) host.fsCommand(String(command), args == null ? '' : String(args));
      return true;
    });
    player.addEventListener('loadeddata', function () {
      if (loaded || stopped) return;
      loaded = true;
      watchRegistrations(baseline);
    });
    try {
      await player.ruffle().load(Object.assign({ url: url }, config));
      started = true;
    } catch (e) {
      fail('player', message(e));
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
    if (!loaded || !player) return 'error:The movie is not running.';
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
      start().catch(function (e) { fail('failed', message(e)); });
    });
  });
})();
