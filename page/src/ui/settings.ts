// 对局设置: what the service holds, and the form that changes it.
import { readRecord } from '../client/replies';
import { matchSettingsRules } from '../client/records';
import { h } from './dom';
import { settingsFields } from './fields';
import { RecordForm, recordView } from './kit';
import { button, failureView, frame, pane, type Context, type Screen } from './screen';

export function settingsScreen({ client, notify }: Context): Screen {
  const current = h('div', { class: 'side-area' });
  const form = new RecordForm(settingsFields, '保存设置', async (record) => {
    const reply = await client.updateMatchSettings(record as never);
    form.saved();
    notify('已保存对局设置。');
    current.replaceChildren(h('p', { class: 'note' }, '设置已保存。'), recordView(reply, settingsFields));
  }).checkWith(matchSettingsRules);

  async function load() {
    current.replaceChildren(h('p', { class: 'note' }, '正在读取…'));
    try {
      const reply = await client.matchSettings();
      current.replaceChildren(recordView(reply, settingsFields));
      const reading = readRecord(reply);
      // Input the operator has not saved stays; otherwise the form shows what is stored.
      if (!form.dirty()) form.fill(reading.kind === 'record' ? reading.record : {});
    } catch (error) {
      current.replaceChildren(failureView(error, () => void load()));
    }
  }

  const element = frame(
    '对局设置',
    [button('重新读取', () => void load())],
    pane('当前设置', h('h2', {}, '当前设置'), current),
    pane('修改设置', h('h2', {}, '修改设置'), h('p', { class: 'note' }, '识别截图时用这些信息认出老板。'), form.element),
  );
  return { element, show: () => void load(), hasUnsavedInput: () => form.dirty() };
}
