// Serves page.html from a loopback origin of its own and lets Debian's Chromium run it against
// the server: usage `node drive.mjs <server port>`. Exits non-zero when a check fails.
import { createHash } from "node:crypto";
import { mkdtempSync, readFileSync } from "node:fs";
import { createServer } from "node:http";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { chromium } from "playwright-core";

const server = `https://127.0.0.1:${process.argv[2]}`;
const page = readFileSync(new URL("page.html", import.meta.url));
const pageServer = createServer((request, response) => {
  response.writeHead(200, { "Content-Type": "text/html; charset=utf-8" });
  response.end(page);
});
await new Promise(resolve => pageServer.listen(0, "127.0.0.1", resolve));
const origin = `http://127.0.0.1:${pageServer.address().port}`;

const browser = await chromium.launchPersistentContext(mkdtempSync(join(tmpdir(), "profile-")), {
  executablePath: "/usr/bin/chromium",
  headless: true,
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"],
});

// What the page shows once its script has settled, and what the browser said meanwhile.
async function visit(module, command, data) {
  const tab = await browser.newPage();
  const said = [];
  tab.on("console", message => said.push(message.text()));
  const query = new URLSearchParams({ server, module, command, data });
  await tab.goto(`${origin}/?${query}`);
  const result = tab.locator("#result[data-state]");
  await result.waitFor({ timeout: 20000 });
  const shown = { state: await result.getAttribute("data-state"), text: await result.textContent(), said };
  await tab.close();
  return shown;
}

function check(name, condition, shown) {
  console.log(`${condition ? "ok  " : "FAIL"} ${name}`);
  if (!condition) {
    console.log(JSON.stringify(shown, null, 2));
    process.exitCode = 1;
  }
}

try {
  const data = "signed in Chromium: äöü & ?=/";
  const hashed = await visit("hash", "SHA256", data);
  check("hash/SHA256 from another origin shows the digest of its input",
        hashed.state === "done" && hashed.text === createHash("sha256").update(data).digest("hex"), hashed);

  const refused = await visit("brevalo", "Which", "x");
  check("brevalo refuses the unlisted origin: the preflight's null stops the request",
        refused.state === "failed" && refused.text.startsWith("TypeError") &&
        refused.said.some(line => line.includes(`'Access-Control-Allow-Origin' header has a value 'null'`)),
        refused);
} finally {
  await browser.close();
  pageServer.close();
}
