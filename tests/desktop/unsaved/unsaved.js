// Holds unsaved input from the start and answers the close question by maximising the
// window, so the test sees that the question arrived.
(() => {
  const webview = window.chrome.webview;
  let id = 0;
  const call = (method, args) => webview.postMessage({ id: String(++id), method, args });
  webview.addEventListener('message', (event) => {
    if (event.data && event.data.event === 'close-requested') call('windowControl', ['maximize']);
  });
  document.addEventListener('DOMContentLoaded', () => call('setUnsavedInput', [true]));
})();
