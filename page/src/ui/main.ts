import './app.css';
import { VardekoClient } from '../client/client';
import { setUpAccount } from './account';
import { element, messageOf } from './dom';
import { watchUnsavedInput } from './unsaved';
import { setUpWindow } from './window';
import { setUpWorkspace } from './workspace';

const client = VardekoClient.fromWindow();
const banner = element('banner');

function showBanner(text: string) {
  banner.textContent = text;
  banner.hidden = false;
}

const workspace = setUpWorkspace(client, () => void checkHealth());
const account = setUpAccount(client, { signedIn: workspace.open, signedOut: workspace.close });
const hasUnsavedInput = () => account.hasUnsavedInput() || workspace.hasUnsavedInput();
setUpWindow(client, hasUnsavedInput, showBanner);
watchUnsavedInput(client, hasUnsavedInput);

async function loadAppInfo() {
  try {
    const info = await client.appInfo();
    element('info-version').textContent = info.version;
    element('info-api').textContent = info.apiUrl;
    element('info-session').textContent = info.persistentSession ? '已加密保存在本机' : '仅本次运行有效';
    const engines: Record<string, string> = { webview2: 'WebView2', webkitgtk: 'WebKitGTK' };
    element('info-runtime').textContent = engines[info.runtime] ?? info.runtime;
  } catch (error) {
    element('info-message').textContent = messageOf(error);
  }
}

const health = element('health');
const healthText = element('health-text');
const healthButton = element<HTMLButtonElement>('health-check');

async function checkHealth() {
  if (healthButton.disabled) return; // a check is running
  healthButton.disabled = true;
  health.dataset.state = 'checking';
  healthText.textContent = '正在检查…';
  try {
    await client.health();
    health.dataset.state = 'up';
    healthText.textContent = '服务正常';
  } catch (error) {
    health.dataset.state = 'down';
    healthText.textContent = messageOf(error);
  } finally {
    healthButton.disabled = false;
  }
}

healthButton.addEventListener('click', checkHealth);

// The login state first: the page is usable once it is known.
void account.load().then(() => performance.mark('vardeko-usable'));
void loadAppInfo();
void checkHealth();
