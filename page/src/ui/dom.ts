export function element<T extends HTMLElement = HTMLElement>(id: string): T {
  const found = document.getElementById(id);
  if (!found) throw new Error(`#${id} missing`);
  return found as T;
}

export function messageOf(error: unknown): string {
  return error instanceof Error && error.message ? error.message : '操作未完成，请稍后重试。';
}

export function codeOf(error: unknown): string | undefined {
  return (error as { code?: string } | null)?.code;
}

type Child = Node | string | null | undefined | false;
type Props = { [name: string]: string | number | boolean | null | undefined | EventListener };

/** An element with attributes (names as in HTML), listeners ("on" + event) and children. */
export function h<K extends keyof HTMLElementTagNameMap>(
  tag: K,
  props: Props = {},
  ...children: (Child | Child[])[]
): HTMLElementTagNameMap[K] {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(props)) {
    if (value === undefined || value === null || value === false) continue;
    if (typeof value === 'function') node.addEventListener(name.slice(2), value);
    else node.setAttribute(name, value === true ? '' : String(value));
  }
  for (const child of children.flat()) if (child !== null && child !== undefined && child !== false) node.append(child);
  return node;
}

let sequence = 0;
/** A document-unique id for tying a label to its control. */
export function uniqueId(prefix: string): string {
  return `${prefix}-${++sequence}`;
}
