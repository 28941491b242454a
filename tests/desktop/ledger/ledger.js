// Signs in and books one ledger entry on the newest order, all through the page channel,
// then maximises the window, so the test sees that every reply arrived and succeeded;
// asked to close, it agrees.
(() => {
  const webview = window.chrome.webview;
  const pending = new Map();
  let id = 0;
  const call = (method, args) =>
    new Promise((resolve, reject) => {
      const key = String(++id);
      pending.set(key, { resolve, reject });
      webview.postMessage({ id: key, method, args });
    });
  webview.addEventListener('message', (event) => {
    const reply = event.data;
    // Nothing is left unsaved here: asked to close, the page agrees.
    if (reply && reply.event === 'close-requested') call('windowControl', ['close']);
    const waiting = reply && pending.get(reply.id);
    if (!waiting) return;
    pending.delete(reply.id);
    if (reply.ok) waiting.resolve(reply.data);
    else waiting.reject(reply.error);
  });
  document.addEventListener('DOMContentLoaded', async () => {
    await call('login', [{ email: 'demo@vardeko.local', password: 'vardeko-demo' }]);
    const orders = await call('listOrders', []);
    const entry = {
      kind: 'progress',
      quantity: 3,
      note: '桌面程序记账',
      occurred_at: null,
      idempotency_key: '3f2b8c1e-5d4a-4e7b-9c0d-1a2b3c4d5e6f',
    };
    await call('addLedgerEntry', [orders[0].id, entry]);
    await call('windowControl', ['maximize']);
  });
})();
