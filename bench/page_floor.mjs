// The wire's floor for a web page: in Debian's Chromium, a page served by the benchmark's nginx
// uploads a document as large as the benchmark's (a multipart form, as the JavaScript client
// sends it), fetches the reply nginx holds (as large as the signed document's), parses it and
// decodes its base64 with the browser's own decoder, as the client does. Prints one line per
// round: upload, download with the JSON parsed, decode, total, in seconds.
// Usage: node bench/page_floor.mjs NGINX_PORT DOCUMENT_BYTES ROUNDS PLAYWRIGHT_CORE_DIR
import { mkdtempSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

const [port, size, rounds, playwrightDir] = process.argv.slice(2);
const { chromium } = await import(join(playwrightDir, "index.mjs"));
const context = await chromium.launchPersistentContext(mkdtempSync(join(tmpdir(), "floor-")), {
  executablePath: "/usr/bin/chromium",
  headless: true,
  // nginx's certificate is the benchmark's own throwaway one.
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--ignore-certificate-errors"],
});
const page = await context.newPage();
await page.goto(`https://127.0.0.1:${port}/page.html`);
const lines = await page.evaluate(async ([size, rounds]) => {
  const bytes = new Uint8Array(size);
  for (let i = 0; i < size; i += 65536) crypto.getRandomValues(bytes.subarray(i, i + 65536));
  const file = new File([bytes], "big.pdf", { type: "application/pdf" });
  const decode = (text) => Uint8Array.fromBase64(text);
  const out = [];
  for (let round = 0; round < rounds; ++round) {
    const started = performance.now();
    const form = new FormData();
    form.append("id", "bench");
    form.append("document", file);
    await (await fetch("/upload", { method: "POST", body: form })).text();
    const uploaded = performance.now();
    const reply = await (await fetch("/reply.json", { cache: "no-store" })).json();
    const received = performance.now();
    decode(reply.document);
    const done = performance.now();
    out.push([uploaded - started, received - uploaded, done - received, done - started]
      .map((ms) => (ms / 1000).toFixed(3)).join(" "));
  }
  return out;
}, [Number(size), Number(rounds)]);
console.log(lines.join("\n"));
await context.close();
