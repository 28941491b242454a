import { fileURLToPath } from 'node:url';
import type { Plugin } from 'vite';
import { defineConfig } from 'vitest/config';

// The folder the program serves as renderer/ (the Windows build copies it from here).
export const outDir = fileURLToPath(new URL('../build/renderer', import.meta.url));

// The development server's own script needs its socket, which the program's policy forbids;
// only the served page is relaxed, the built one keeps the policy as written.
function developmentPolicy(): Plugin {
  return {
    name: 'vardeko-development-policy',
    apply: 'serve',
    transformIndexHtml: (html) =>
      html.replace("connect-src 'none'", "connect-src ws://localhost:5173 ws://127.0.0.1:5173"),
  };
}

export default defineConfig({
  root: fileURLToPath(new URL('.', import.meta.url)),
  plugins: [developmentPolicy()],
  server: { port: 5173, strictPort: true, host: 'localhost' },
  build: {
    outDir,
    emptyOutDir: true,
    target: 'chrome120',
    assetsInlineLimit: 0,
    modulePreload: false,
  },
  test: {
    projects: [
      {
        extends: true,
        test: { name: 'unit', include: ['tests/**/*.test.ts'], exclude: ['tests/page/**'], testTimeout: 60_000 },
      },
      {
        extends: true,
        test: {
          name: 'page',
          include: ['tests/page/**/*.test.ts'],
          testTimeout: 120_000,
          hookTimeout: 60_000,
          fileParallelism: false,
        },
      },
    ],
  },
});
