// Qt WebEngine before 6.6 refuses fetch() on custom schemes (6.6 added the scheme flag that
// allows it). Ruffle loads its wasm and the movie with fetch(), so on those versions the host
// puts this script into the page before anything else runs: requests for our scheme go
// through XMLHttpRequest and come back as a Response with its url set.
(function () {
  'use strict';
  if (typeof window.fetch !== 'function') return;
  const nativeFetch = window.fetch.bind(window);
  window.fetch = function (input, init) {
    const href = typeof input === 'string' ? input : (input && input.url) || String(input);
    let url;
    try { url = new URL(href, document.baseURI); } catch (e) { return nativeFetch(input, init); }
    if (url.protocol !== 'lanternfall:') return nativeFetch(input, init);
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
  console.info('fetch() for lanternfall: goes through XMLHttpRequest (Qt WebEngine before 6.6)');
})();
