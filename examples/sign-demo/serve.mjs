// Serves the demo page and the built client on http://localhost:<port> (default 8600), the
// origin the signing module allows out of the box. Usage: node serve.mjs <client dist dir> [port]
// Only the files of a fixed table are served, looked up by exact path, so no request can
// reach another file.
import { readdirSync } from "node:fs";
import { readFile } from "node:fs/promises";
import { createServer } from "node:http";
import { extname, join } from "node:path";
import { fileURLToPath } from "node:url";

const types = {
  ".html": "text/html; charset=utf-8",
  ".js": "text/javascript; charset=utf-8",
  ".css": "text/css; charset=utf-8",
};
const [clientDir, portText = "8600"] = process.argv.slice(2);
if (!clientDir || !/^[0-9]{1,5}$/.test(portText)) {
  console.error("usage: node serve.mjs <client dist dir> [port]");
  process.exit(2);
}
const here = fileURLToPath(new URL(".", import.meta.url));
const files = new Map([
  ["/", join(here, "index.html")],
  ["/demo.js", join(here, "demo.js")],
  ["/demo.css", join(here, "demo.css")],
]);
for (const name of readdirSync(clientDir).filter((n) => /^[a-z0-9-]+\.js$/.test(n)))
  files.set(`/client/${name}`, join(clientDir, name));

const headers = (file) => ({
  "Content-Type": types[extname(file)],
  "Cache-Control": "no-store",
  "X-Content-Type-Options": "nosniff",
  // The page talks to the local server only; nothing else may load or run.
  "Content-Security-Policy": "default-src 'self'; connect-src https://127.0.0.1:*; object-src 'none'; base-uri 'none'",
});

const server = createServer(async (request, response) => {
  const file = files.get(new URL(request.url ?? "/", "http://localhost").pathname);
  if (!file || (request.method !== "GET" && request.method !== "HEAD"))
    return response.writeHead(file ? 405 : 404, { "Content-Type": "text/plain" }).end(file ? "Method not allowed\n" : "Not found\n");
  try {
    const body = await readFile(file);
    response.writeHead(200, headers(file)).end(request.method === "HEAD" ? undefined : body);
  } catch {
    response.writeHead(500, { "Content-Type": "text/plain" }).end("Cannot read the file\n");
  }
});
server.on("error", (error) => {
  console.error(`Cannot serve the demo on port ${portText}: ${error.message}`);
  process.exit(1);
});
server.listen(Number(portText), "127.0.0.1", () => console.log(`Demo page: http://localhost:${portText}/`));
