// Failures as the page sees them: the native side's code and Chinese message, unchanged.
// The set of codes is open: the service may pass its own through.

export type FailureCode =
  | 'INVALID_INPUT'
  | 'INVALID_METHOD'
  | 'INVALID_IMAGE'
  | 'INVALID_RESPONSE'
  | 'BUSY'
  | 'INTERNAL_ERROR'
  | 'UNAUTHORIZED'
  | 'AUTH_CHANGED'
  | 'TIMEOUT'
  | 'NETWORK_ERROR'
  | 'RESPONSE_TOO_LARGE'
  | 'API_ERROR'
  | 'NO_REPLY'
  | 'NO_HOST'
  | (string & {});

export class VardekoError extends Error {
  readonly code: FailureCode;

  constructor(code: FailureCode, message: string) {
    super(message);
    this.name = 'VardekoError';
    this.code = code;
  }

  /** Too many requests are running natively; the same call may succeed a little later. */
  get busy(): boolean {
    return this.code === 'BUSY';
  }
}

export const Messages = {
  input: '输入参数不正确。',
  encoding: '文字编码不正确。',
  tooLong: '填写内容超过长度限制。',
  notInteger: '数量需要填写整数。',
  outOfRange: '数量超出允许范围。',
  recordId: '记录编号不正确。',
  windowAction: '窗口操作不正确。',
  windowSize: '窗口尺寸不正确。',
  imageData: '截图数据不正确。',
  imageSize: '请选择不超过 12 MB 的 PNG、JPEG 或 WebP 截图。',
  imageName: '截图名称或格式不正确。',
  imageType: '只支持 PNG、JPEG 和 WebP 图片。',
  response: '服务返回的数据格式不正确。',
  // Page-side only: the native side never sends these two.
  noReply: '程序没有回应，请稍后重试。',
  noHost: '请在 Vardeko 应用中打开此页面。',
} as const;

export function invalidInput(message: string): VardekoError {
  return new VardekoError('INVALID_INPUT', message);
}
