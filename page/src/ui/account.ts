// Sign-in, registration and the signed-in user. The password is read from its field only
// when the form is sent, and the field is emptied once the service has taken it.
import type { ServiceReply, VardekoClient } from '../client/client';
import { codeOf, element, messageOf } from './dom';
import { isTimeMember, timeText } from './format';

const USER_LABELS: Record<string, string> = {
  id: '编号',
  email: '邮箱',
  username: '用户名',
  name: '名称',
  display_name: '显示名称',
  role: '角色',
  created_at: '注册时间',
  updated_at: '更新时间',
};
const NAME_MEMBERS = ['display_name', 'name', 'username', 'email'];

interface FormParts {
  form: HTMLFormElement;
  email: HTMLInputElement;
  password: HTMLInputElement;
  confirm?: HTMLInputElement;
  message: HTMLElement;
  submit: HTMLButtonElement;
  busyText: string;
}

function formParts(prefix: 'login' | 'register', busyText: string): FormParts {
  return {
    form: element<HTMLFormElement>(`${prefix}-form`),
    email: element<HTMLInputElement>(`${prefix}-email`),
    password: element<HTMLInputElement>(`${prefix}-password`),
    confirm: prefix === 'register' ? element<HTMLInputElement>('register-confirm') : undefined,
    message: element(`${prefix}-message`),
    submit: element<HTMLButtonElement>(`${prefix}-submit`),
    busyText,
  };
}

function setBusy(parts: FormParts, busy: boolean) {
  for (const input of [parts.email, parts.password, parts.confirm]) if (input) input.readOnly = busy;
  parts.submit.disabled = busy;
  if (busy) {
    parts.submit.dataset.idleText = parts.submit.textContent ?? '';
    parts.submit.textContent = parts.busyText;
  } else if (parts.submit.dataset.idleText) {
    parts.submit.textContent = parts.submit.dataset.idleText;
  }
}

export interface Account {
  /** Whether a form holds input the user has not sent successfully. */
  hasUnsavedInput(): boolean;
  /** Finds out whether a login is kept natively, and shows the matching view. */
  load(): Promise<void>;
}

export interface SignInHooks {
  signedIn(): void;
  signedOut(): void;
}

export function setUpAccount(client: VardekoClient, hooks: SignInHooks): Account {
  const loading = element('account-loading');
  const signedOut = element('signed-out');
  const signedIn = element('signed-in');
  const login = formParts('login', '正在登录…');
  const register = formParts('register', '正在注册…');
  const tabs = [element<HTMLButtonElement>('tab-login'), element<HTMLButtonElement>('tab-register')];
  const forms = [login, register];
  const inputs = forms.flatMap((parts) => [parts.email, parts.password, parts.confirm ?? []].flat());
  const userMessage = element('user-message');
  const logoutButton = element<HTMLButtonElement>('logout');

  function selectTab(index: number, focus: boolean) {
    tabs.forEach((tab, i) => {
      tab.setAttribute('aria-selected', String(i === index));
      tab.tabIndex = i === index ? 0 : -1;
      forms[i].form.hidden = i !== index;
    });
    if (focus) tabs[index].focus();
  }

  tabs.forEach((tab, index) => {
    tab.addEventListener('click', () => {
      selectTab(index, false);
      forms[index].email.focus();
    });
    tab.addEventListener('keydown', (event) => {
      if (event.key !== 'ArrowLeft' && event.key !== 'ArrowRight') return;
      event.preventDefault();
      selectTab((index + 1) % tabs.length, true);
    });
  });

  function showSignedOut(message: string) {
    loading.hidden = true;
    signedIn.hidden = true;
    signedOut.hidden = false;
    hooks.signedOut();
    login.message.textContent = message;
    register.message.textContent = '';
    const active = forms.find((parts) => !parts.form.hidden) ?? login;
    active.email.focus();
  }

  function renderUser(user: ServiceReply) {
    const record = user !== null && typeof user === 'object' && !Array.isArray(user) ? user : {};
    const nameMember = NAME_MEMBERS.find((name) => typeof record[name] === 'string' && record[name] !== '');
    element('user-name').textContent = nameMember ? String(record[nameMember]) : '已登录';
    const details = element('user-details');
    details.replaceChildren();
    for (const [name, value] of Object.entries(record)) {
      if (value === null || typeof value === 'object') continue;
      const term = document.createElement('dt');
      term.textContent = USER_LABELS[name] ?? name;
      const description = document.createElement('dd');
      description.textContent = typeof value === 'boolean' ? (value ? '是' : '否') : isTimeMember(name) ? timeText(value) : String(value);
      details.append(term, description);
    }
  }

  function showSignedIn(user: ServiceReply, message = '') {
    renderUser(user);
    userMessage.textContent = message;
    loading.hidden = true;
    signedOut.hidden = true;
    signedIn.hidden = false;
    hooks.signedIn(); // and the workspace takes the focus
  }

  async function load() {
    try {
      showSignedIn(await client.me());
    } catch (error) {
      // No kept login is the ordinary start; anything else is worth telling.
      showSignedOut(codeOf(error) === 'UNAUTHORIZED' ? '' : messageOf(error));
    }
  }

  async function send(parts: FormParts, method: 'login' | 'register') {
    parts.message.textContent = '';
    if (parts.email.value === '' || parts.password.value === '') {
      parts.message.textContent = '请填写邮箱和密码。';
      (parts.email.value === '' ? parts.email : parts.password).focus();
      return;
    }
    if (parts.confirm && parts.confirm.value !== parts.password.value) {
      parts.message.textContent = '两次输入的密码不一致。';
      parts.confirm.focus();
      return;
    }
    setBusy(parts, true);
    let user: ServiceReply;
    try {
      user = await client[method]({ email: parts.email.value, password: parts.password.value });
    } catch (error) {
      setBusy(parts, false);
      parts.message.textContent = messageOf(error);
      parts.password.focus();
      return;
    }
    setBusy(parts, false);
    for (const input of inputs) input.value = '';
    try {
      showSignedIn(await client.me());
    } catch (error) {
      showSignedIn(user, messageOf(error));
    }
  }

  login.form.addEventListener('submit', (event) => {
    event.preventDefault();
    if (!login.submit.disabled) void send(login, 'login');
  });
  register.form.addEventListener('submit', (event) => {
    event.preventDefault();
    if (!register.submit.disabled) void send(register, 'register');
  });

  logoutButton.addEventListener('click', async () => {
    logoutButton.disabled = true;
    userMessage.textContent = '';
    try {
      await client.logout();
      selectTab(0, false);
      showSignedOut('');
    } catch (error) {
      userMessage.textContent = messageOf(error);
    } finally {
      logoutButton.disabled = false;
    }
  });

  return {
    hasUnsavedInput: () => inputs.some((input) => input.value !== ''),
    load,
  };
}
