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
