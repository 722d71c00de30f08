// The client against a scripted fetch: what it sends, how often it polls, and which error
// each way out ends in.
import assert from "node:assert/strict";
import { test } from "node:test";
import { pathToFileURL } from "node:url";

const lib = await import(pathToFileURL(`${process.env.VYR_JS_CLIENT}/dist/index.js`).href);
const SESSION = "{0a1b2c3d-0000-4000-8000-00000000000a}";
const SESSION2 = "{0a1b2c3d-0000-4000-8000-00000000000b}";
const CMD = "{0a1b2c3d-0000-4000-8000-00000000000c}";
const STARTED = [202, "", { "X-VYR-cmdId": CMD }];

// Each path answers its list in turn, repeating the last; "hang" waits for the abort,
// a missing path fails as an unreachable server does.
function fakeServer(routes) {
  const calls = [];
  const fetch = async (url, init) => {
    const { pathname, port } = new URL(url);
    calls.push({ port, path: pathname, session: init.headers["X-VYR-sessionId"], body: init.body });
    const answers = { "/OPEN_SESSION": [[200, SESSION]], ...routes }[pathname];
    if (!answers) throw new TypeError("fetch failed");
    const answer = answers.length > 1 ? answers.shift() : answers[0];
    if (answer === "hang")
      return new Promise((_, reject) => init.signal.addEventListener("abort", () => reject(new Error("aborted"))));
    return new Response(answer[1] ?? "", { status: answer[0], headers: answer[2] });
  };
  return { fetch, calls, paths: () => calls.map((call) => call.path) };
}

const client = (routes) => {
  const server = fakeServer(routes);
  return [new lib.VeltraneClient("https://127.0.0.1:8631", server.fetch), server];
};

test("run polls at a doubling interval up to 500 ms, naming the session each time", async (t) => {
  const delays = [];
  const realSetTimeout = globalThis.setTimeout;
  globalThis.setTimeout = (fn, ms, ...rest) => (ms > 500 ? realSetTimeout(fn, ms, ...rest) : (delays.push(ms), realSetTimeout(fn, 0, ...rest)));
  t.after(() => (globalThis.setTimeout = realSetTimeout));
  const [veltrane, server] = client({ "/hash/SHA256": [STARTED], "/GET_RESULT": [...Array(7).fill([202]), [200, "digest"]] });
  const polls = [];
  assert.equal(await veltrane.run("hash", "SHA256", { data: "abc" }, { onProgress: (p) => polls.push(p.polls) }), "digest");
  assert.deepEqual(delays, [25, 50, 100, 200, 400, 500, 500, 500]);
  assert.deepEqual(polls, [0, 1, 2, 3, 4, 5, 6, 7]);
  assert.deepEqual(server.paths(), ["/OPEN_SESSION", "/hash/SHA256", ...Array(8).fill("/GET_RESULT")]);
  assert.ok(server.calls.slice(1).every((call) => call.session === SESSION));
  assert.equal(String(server.calls[1].body), "data=abc");
});

test("a result that never comes, an abort and a silent dispatcher end in their own error in time", async () => {
  const aborter = new AbortController();
  const [veltrane] = client({ "/hash/SHA256": [STARTED], "/GET_RESULT": [[202]] });
  const hung = fakeServer({ "/GET_USER_SERVER_PORT": ["hang"] });
  for (const [call, type] of [
    [() => veltrane.run("hash", "SHA256", {}, { timeoutMs: 300 }), lib.TimeoutError],
    [() => veltrane.run("hash", "SHA256", {}, { signal: aborter.signal, onProgress: (p) => p.polls === 2 && aborter.abort() }), lib.AbortedError],
    [() => veltrane.run("hash", "SHA256", {}, { signal: AbortSignal.abort() }), lib.AbortedError],
    [() => lib.connect({ fetch: hung.fetch, timeoutMs: 300 }), lib.TimeoutError],
  ]) {
    const began = Date.now();
    await assert.rejects(call(), type);
    assert.ok(Date.now() - began < 3000);
  }
});

test("a lost session is reopened once; lost again, the call fails with NoSessionError", async () => {
  const [veltrane, server] = client({ "/OPEN_SESSION": [[200, SESSION], [200, SESSION2]], "/hash/SHA256": [[418], STARTED], "/GET_RESULT": [[200, "ok"]] });
  assert.equal(await veltrane.run("hash", "SHA256"), "ok");
  assert.deepEqual(server.calls.map((call) => call.session ?? call.path), ["/OPEN_SESSION", SESSION, "/OPEN_SESSION", SESSION2, SESSION2]);
  const [lost, lostServer] = client({ "/hash/SHA256": [[418]] });
  await assert.rejects(lost.run("hash", "SHA256"), lib.NoSessionError);
  assert.equal(lostServer.paths().filter((path) => path === "/OPEN_SESSION").length, 2);
});

test("each outcome of the command or its result rejects with its own type", async () => {
  const byStart = { 400: lib.BadRequestError, 403: lib.ForbiddenError, 404: lib.NotFoundError, 500: lib.ServerError, 503: lib.BusyError, 302: lib.ProtocolError };
  for (const [status, type] of Object.entries(byStart)) {
    const [veltrane] = client({ "/hash/SHA256": [[Number(status), "text"]] });
    await assert.rejects(veltrane.run("hash", "SHA256"), (error) => error instanceof type && error.status === Number(status));
  }
  for (const [result, check] of [
    [[419], (e) => e instanceof lib.NoResultError],
    [[200, '500|{"code":"PIN_LOCKED","message":"Locked."}'], (e) => e instanceof lib.ModuleError && e.code === "PIN_LOCKED" && e.message === "Locked."],
    [[200, "500|std::bad_alloc"], (e) => e instanceof lib.ServerError && e.message === "std::bad_alloc"],
  ]) {
    const [veltrane] = client({ "/hash/SHA256": [STARTED], "/GET_RESULT": [result] });
    await assert.rejects(veltrane.run("hash", "SHA256"), check);
  }
  const [noCmdId] = client({ "/hash/SHA256": [[202]] });
  await assert.rejects(noCmdId.run("hash", "SHA256"), lib.ProtocolError);
  await assert.rejects(noCmdId.run("../hash", "SHA256"), lib.BadInputError);
});

test("connect asks the dispatcher for the port, or refuses bad ports and answers with typed errors", async () => {
  const server = fakeServer({ "/GET_USER_SERVER_PORT": [[200, "8631\n"]] });
  assert.equal((await lib.connect({ fetch: server.fetch })).url, "https://127.0.0.1:8631");
  assert.equal((await lib.connect({ fetch: server.fetch, dispatcherPort: 9000 })).url, "https://127.0.0.1:8631");
  assert.deepEqual(server.calls.map((call) => `${call.port}${call.path}`), ["8630/GET_USER_SERVER_PORT", "9000/GET_USER_SERVER_PORT"]);
  for (const options of [{ port: "abc" }, { port: 70000 }, { dispatcherPort: "8630x" }, { port: 8631, timeoutMs: -1 }])
    await assert.rejects(lib.connect({ fetch: server.fetch, ...options }), lib.BadInputError);
  for (const [answers, type] of [[undefined, lib.ConnectionError], [[[200, "<html>"]], lib.ProtocolError], [[[404, "No server."]], lib.NotFoundError]])
    await assert.rejects(lib.connect({ fetch: fakeServer({ "/GET_USER_SERVER_PORT": answers }).fetch }), type);
  assert.equal(server.calls.length, 2);
});

test("signPdf uploads the file as multipart and hands back the signed PDF", async () => {
  const signed = "%PDF-1.7 signed";
  const [veltrane, server] = client({ "/signer/SIGN_PDF": [STARTED], "/GET_RESULT": [[200, JSON.stringify({ document: btoa(signed) })]] });
  const result = await veltrane.signPdf(new Blob(["%PDF-1.7"]), { id: "k1", page: 1, rect: [10, 20, 110, 60] });
  assert.equal(await result.text(), signed);
  const form = server.calls[1].body;
  assert.equal(await form.get("document").text(), "%PDF-1.7");
  assert.deepEqual([form.get("id"), form.get("page"), form.get("rect"), form.has("reason")], ["k1", "1", "10,20,110,60", false]);
  await assert.rejects(veltrane.signPdf(new Blob([]), { id: "k1", rect: [1, 2, 3] }), lib.BadInputError);
});
