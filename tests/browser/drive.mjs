// Serves page.html from a loopback origin of its own and lets Debian's Chromium run it against
// the server: usage `node drive.mjs <server port>`. Exits non-zero when a check fails.
import { createHash } from "node:crypto";
import { readFileSync } from "node:fs";
import { createServer } from "node:http";
import { launch } from "./chromium.mjs";

const server = `https://127.0.0.1:${process.argv[2]}`;
const page = readFileSync(new URL("page.html", import.meta.url));
const pageServer = createServer((request, response) => {
  response.writeHead(200, { "Content-Type": "text/html; charset=utf-8" }).end(page);
});
await new Promise(resolve => pageServer.listen(0, "127.0.0.1", resolve));
const origin = `http://127.0.0.1:${pageServer.address().port}`;

const browser = await launch();

// Visits the page for one command and checks what it shows once its script has settled, and what
// the browser said meanwhile.
async function check(name, module, command, data, passes) {
  const tab = await browser.newPage();
  const said = [];
  tab.on("console", message => said.push(message.text()));
  await tab.goto(`${origin}/?${new URLSearchParams({ server, module, command, data })}`);
  const result = tab.locator("#result[data-state]");
  await result.waitFor({ timeout: 20000 });
  const shown = { state: await result.getAttribute("data-state"), text: await result.textContent(), said };
  await tab.close();
  console.log(`${passes(shown) ? "ok  " : "FAIL"} ${name}`);
  if (!passes(shown)) {
    console.log(JSON.stringify(shown, null, 2));
    process.exitCode = 1;
  }
}

try {
  const data = "signed in Chromium: äöü & ?=/";
  await check("hash/SHA256 from another origin shows the digest of its input", "hash", "SHA256", data,
              shown => shown.state === "done" && shown.text === createHash("sha256").update(data).digest("hex"));
  await check("brevalo refuses the unlisted origin: the preflight's null stops the request", "brevalo", "Which",
              "x", shown => shown.state === "failed" && shown.text.startsWith("TypeError") &&
              shown.said.some(line => line.includes(`'Access-Control-Allow-Origin' header has a value 'null'`)));
} finally {
  await browser.close();
  pageServer.close();
}
