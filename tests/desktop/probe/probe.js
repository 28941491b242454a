// Tries what the start document's policy forbids and the program's guards refuse, then
// reports through the page channel: "maximize" when everything was refused, else
// "minimize"; after a refused navigation away, "maximize" again (a toggle) proves the
// page is still here.
(() => {
  const violated = new Set();
  let posted = 0;
  document.addEventListener('securitypolicyviolation', (event) => violated.add(event.effectiveDirective));
  const post = (action) =>
    window.chrome.webview.postMessage({ id: `${action}-${++posted}`, method: 'windowControl', args: [action] });
  const settle = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

  async function probe() {
    let fetched = false;
    try {
      await fetch('/payload.bin');
      fetched = true;
    } catch {
      // refused by connect-src
    }
    const frame = document.createElement('iframe');
    frame.src = '/frame.html';
    document.body.append(frame);
    const inline = document.createElement('script');
    inline.textContent = 'window.inlineRan = true;';
    document.body.append(inline);
    const object = document.createElement('object');
    object.data = '/payload.bin';
    object.type = 'application/octet-stream';
    document.body.append(object);
    const opened = window.open('/frame.html', '_blank');
    const permission = await Notification.requestPermission();
    const download = document.createElement('a');
    download.href = '/payload.bin';
    download.download = 'payload.bin';
    document.body.append(download);
    download.click();
    await settle(1500);
    const blocked = ['connect-src', 'frame-src', 'script-src-elem', 'object-src'].every((d) =>
      violated.has(d) || (d === 'script-src-elem' && violated.has('script-src')));
    const refused = blocked && !fetched && !window.inlineRan && !window.framed &&
      !window.sniffed && opened === null && permission === 'denied';
    post(refused ? 'maximize' : 'minimize');
    await settle(1500);
    window.location.href = 'https://example.invalid/elsewhere';
    await settle(1500);
    post('maximize');
  }
  document.addEventListener('DOMContentLoaded', () => void probe());
})();
