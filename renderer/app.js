// The page's side of the native channel: one JSON request per call, matched to its
// reply by id; the native side may also send events ({"event": ...}).
"use strict";

const native = (() => {
  const pending = new Map();
  const listeners = new Map();
  let counter = 0;
  const channel = window.chrome && window.chrome.webview;

  if (channel) {
    channel.addEventListener("message", (event) => {
      const message = event.data;
      if (message && typeof message.event === "string") {
        for (const listener of listeners.get(message.event) || []) listener(message);
        return;
      }
      const entry = message && pending.get(message.id);
      if (!entry) return;
      pending.delete(message.id);
      if (message.ok) {
        entry.resolve(message.data);
      } else {
        entry.reject(message.error || { code: "INTERNAL_ERROR", message: "操作未完成，请稍后重试。" });
      }
    });
  }

  return {
    call(method, ...args) {
      if (!channel) return Promise.reject({ code: "NO_HOST", message: "请在 Vardeko 应用中打开。" });
      const id = `r${++counter}`;
      return new Promise((resolve, reject) => {
        pending.set(id, { resolve, reject });
        channel.postMessage({ id, method, args });
      });
    },
    on(name, listener) {
      if (!listeners.has(name)) listeners.set(name, []);
      listeners.get(name).push(listener);
    },
  };
})();

function showStatus(text) {
  document.getElementById("status").textContent = text;
}

async function loadAppInfo() {
  try {
    const info = await native.call("appInfo");
    document.getElementById("info-version").textContent = info.version;
    document.getElementById("info-api").textContent = info.apiUrl;
    document.getElementById("info-session").textContent = info.persistentSession ? "已加密保存在本机" : "仅本次运行有效";
    document.getElementById("info-runtime").textContent = info.runtime;
  } catch (error) {
    showStatus(error.message);
  }
}

function windowControl(action) {
  native.call("windowControl", action).catch((error) => showStatus(error.message));
}

function setUpTitleBar() {
  document.getElementById("drag-area").addEventListener("mousedown", (event) => {
    if (event.button === 0) native.call("windowDrag").catch(() => {});
  });
  document.getElementById("drag-area").addEventListener("dblclick", () => windowControl("maximize"));
  document.getElementById("minimize").addEventListener("click", () => windowControl("minimize"));
  document.getElementById("maximize").addEventListener("click", () => windowControl("maximize"));
  document.getElementById("close").addEventListener("click", askToClose);
}

function askToClose() {
  document.getElementById("close-dialog").hidden = false;
  document.getElementById("close-cancel").focus();
}

function setUpCloseDialog() {
  const dialog = document.getElementById("close-dialog");
  document.getElementById("close-cancel").addEventListener("click", () => { dialog.hidden = true; });
  document.getElementById("close-confirm").addEventListener("click", () => {
    dialog.hidden = true;
    windowControl("close");
  });
  native.on("close-requested", askToClose);
}

document.addEventListener("DOMContentLoaded", () => {
  setUpTitleBar();
  setUpCloseDialog();
  loadAppInfo();
});
