// The same movie with the same Ruffle files and the same player configuration as the
// host's page, in a plain browser. Each fscommand is posted to the serving harness, which
// takes the time it arrives; the page's own milestones are posted with it. The harness may
// name the movie in the address (index.html?movie=NAME), and may give a configuration text
// (config=TEXT), with which the page answers "ReadConfigData" like the host.
(function () {
  'use strict';
  const marks = {};
  const params = new URLSearchParams(location.search);
  const configText = params.get('config');
  const movie = params.get('movie') || 'movie.swf';
  function mark(name) {
    if (!(name in marks)) marks[name] = performance.timeOrigin + performance.now();
  }
  mark('script');

  let sent = 0;
  function post(path, body) {
    fetch(path, { method: 'POST', body: JSON.stringify(body), keepalive: true }).catch(function () {});
  }

  // What the host's page gives Ruffle (RuffleConfig with the persisted defaults).
  const config = {
    publicPath: 'ruffle/',
    polyfills: false,
    autoplay: 'on',
    unmuteOverlay: 'hidden',
    splashScreen: false,
    contextMenu: 'off',
    showSwfDownload: false,
    scale: 'showAll',
    quality: 'high',
    salign: '',
    wmode: 'window',
    allowFullscreen: false,
    allowNetworking: 'all',
    allowScriptAccess: true,
    openUrlMode: 'allow',
    logLevel: params.get('log') || 'warn',
    backgroundColor: null,
  };

  window.addEventListener('DOMContentLoaded', function () {
    mark('domcontentloaded');
    const ruffle = window.RufflePlayer.newest();
    const player = ruffle.createPlayer();
    player.id = 'player';
    document.getElementById('container').appendChild(player);
    player.ruffle().addFSCommandHandler(function (command, args) {
      mark('first_fscommand');
      sent++;
      post('/fscommand', { command: String(command), args: args == null ? '' : String(args),
                           n: sent, marks: marks, viewport: [innerWidth, innerHeight] });
      if (configText !== null && String(command) === 'ReadConfigData') {
        // Answered outside the movie's own command, as the host does.
        setTimeout(function () { player.ConfigDataReadComplete(configText); }, 0);
      }
      return true;
    });
    player.addEventListener('loadeddata', function () { mark('loadeddata'); });
    mark('load_called');
    player.ruffle().load(Object.assign({ url: movie }, config)).catch(function (e) {
      post('/error', { error: String(e && e.message ? e.message : e) });
    });
  });
})();
