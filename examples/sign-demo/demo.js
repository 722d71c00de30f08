// The whole flow of a signing page on top of the client library: find the account's server,
// list its certificates, sign the chosen file, offer the result. Every text that comes from
// the server or a certificate goes into textContent, never into markup.
import {
  connect, DEFAULT_DISPATCHER_PORT, AbortedError, BadInputError, BadRequestError, BusyError, ConnectionError, ForbiddenError,
  ModuleError, NoResultError, NoSessionError, NotFoundError, ProtocolError, ServerError, TimeoutError,
} from "./client/index.js";

const $ = (id) => document.getElementById(id);
const query = new URLSearchParams(location.search);
let client; // a promise of the one client of this page, made on first use
let downloadUrl;

// ?port= names another dispatcher (a development server); ?server= skips discovery.
function connectOptions() {
  if (query.has("server")) return { port: query.get("server") };
  return query.has("port") ? { dispatcherPort: query.get("port") } : {};
}

function getClient() {
  client ??= connect(connectOptions()).catch((error) => {
    client = undefined; // the next try asks again, for instance once the server runs
    throw error;
  });
  return client;
}

// A text without a closing full stop is followed by the module's own message, which says what
// about the file or the store failed.
const signerMessages = new Map([
  ["CANCELLED", "You closed the dialog without confirming; nothing was signed."],
  ["PIN_INCORRECT", "The PIN or password was not accepted. Try again."],
  ["PIN_LOCKED", "The PIN of this token is locked. Unlock it with your token's own tool, then try again."],
  ["TOKEN_ABSENT", "The token that holds this certificate is not connected. Connect it and show the certificates again."],
  ["CERTIFICATE_NOT_FOUND", "This certificate is no longer there. Show the certificates again."],
  ["ALGORITHM_UNSUPPORTED", "The key of this certificate cannot make this kind of signature. Choose another certificate."],
  ["BAD_INPUT", "The signer refused the file"],
  ["STORE_ERROR", "The certificate store failed"],
]);

function forbiddenMessage() {
  return `The server does not allow this page (origin ${location.origin}). Add the origin to the ` +
    `[origins] allowed line of signer.ini, beside the signing module or in ~/.config/veltrane/signer.ini ` +
    `(for example: allowed=${location.origin}), then try again.`;
}

// What went wrong, in words for the person at the page; `connecting` tells a missing server
// from a missing command.
function describe(error, connecting) {
  if (error instanceof ModuleError) {
    const known = signerMessages.get(error.code);
    if (known === undefined) return `The signer failed (${error.code}): ${error.message}`;
    return known.endsWith(".") ? known : `${known}: ${error.message}`;
  }
  if (error instanceof BusyError) return "Another signing dialog is open on this computer. Finish it, then try again.";
  if (error instanceof ForbiddenError) return forbiddenMessage();
  if (error instanceof NotFoundError)
    return connecting ? `No signing server runs for your account: ${error.message} Start it, then try again.`
      : "The server has no signing module, or this module lacks the command.";
  if (error instanceof ConnectionError && connecting && !query.has("server"))
    return `No dispatcher answers on port ${query.get("port") ?? DEFAULT_DISPATCHER_PORT}, or this browser does not trust its ` +
      "certificate. Without a dispatcher, open this page with ?server= and your own server's port, for example ?server=8631.";
  if (error instanceof ConnectionError)
    return "The signing server cannot be reached. Is it running, and does this browser trust its certificate?";
  if (error instanceof TimeoutError) return "The server did not answer in time.";
  if (error instanceof AbortedError) return "Stopped.";
  if (error instanceof NoSessionError || error instanceof NoResultError)
    return "The server lost this page's session (it may have restarted). Try again.";
  if (error instanceof BadInputError || error instanceof BadRequestError) return `Unusable input: ${error.message}`;
  if (error instanceof ServerError) return `The server failed: ${error.message}`;
  if (error instanceof ProtocolError) return `The server's answer could not be read: ${error.message}`;
  return `Unexpected failure: ${error}`;
}

function showMessage(text) {
  $("message").textContent = text;
}

// A browser hides why a request failed. When the server still answers a command of its own,
// the failure was its refusal of this page's origin: the module's preflight named no origin.
async function refusesOrigin(connected) {
  try {
    await fetch(`${connected.url}/SERVER_VERSION`, { method: "POST" });
    return true;
  } catch {
    return false;
  }
}

// Runs one step; its failure becomes the page's message and leaves the page usable.
async function step(button, work) {
  button.disabled = true;
  showMessage("");
  let connected;
  try {
    connected = await getClient();
    await work(connected);
  } catch (error) {
    const refused = error instanceof ConnectionError && connected !== undefined && (await refusesOrigin(connected));
    showMessage(refused ? forbiddenMessage() : describe(error, connected === undefined));
  } finally {
    button.disabled = false;
    updateSignButton();
  }
}

// A listing's field as text, whatever the server sent in it.
const text = (value) => (typeof value === "string" ? value : "");

function certificateItem(certificate, index) {
  const item = document.createElement("li");
  const label = document.createElement("label");
  const radio = Object.assign(document.createElement("input"), { type: "radio", name: "certificate", value: text(certificate.id) });
  radio.checked = index === 0;
  radio.addEventListener("change", updateSignButton);
  const details = [
    `Issued by ${text(certificate.issuer)}`,
    `Valid ${text(certificate.notBefore).slice(0, 10)} to ${text(certificate.notAfter).slice(0, 10)}`,
    `Store: ${text(certificate.store)}`,
  ].map((line) => Object.assign(document.createElement("span"), { className: "detail", textContent: line }));
  label.append(radio, ` ${text(certificate.subject)}`, ...details);
  item.append(label);
  return item;
}

async function listCertificates(connected) {
  const certificates = await connected.listCertificates();
  $("certificate-list").replaceChildren(...certificates.map(certificateItem));
  $("certificates").hidden = false;
  if (certificates.length === 0) showMessage("No certificate with a usable key was found.");
}

function chosenCertificate() {
  return document.querySelector('input[name="certificate"]:checked')?.value;
}

function updateSignButton() {
  $("sign").disabled = !(chosenCertificate() && $("file").files.length === 1);
}

async function isPdf(file) {
  return (await file.slice(0, 5).text()) === "%PDF-";
}

function fromBase64(text) {
  return Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
}

function showProgress(text) {
  $("progress-text").textContent = text;
  $("progress").hidden = text === "";
}

// The server refuses a longer request body before it could add the headers a page may read,
// so the browser would report only a failed request: files are measured here against the
// shipped limits, [listener] maxMultiPartSize for an uploaded PDF and maxRequestSize for the
// base64 text a detached signature's data travels as.
const MAX_PDF_BYTES = 60_000_000;
const MAX_OTHER_BYTES = 600_000;

function checkSize(file, pdf) {
  const limit = pdf ? MAX_PDF_BYTES : MAX_OTHER_BYTES;
  if (file.size > limit)
    throw new BadInputError(`${file.name} is larger than this page sends to the server (${limit / 1000} kB for ` +
      `${pdf ? "a PDF" : "a file other than a PDF"}; the server's [listener] limits in VeltraneCryptoProvider.ini).`);
}

// PAdES inside a PDF, a detached CAdES signature beside any other file.
async function signFile(connected, id, file, onProgress) {
  const pdf = await isPdf(file);
  checkSize(file, pdf);
  if (pdf) {
    const signed = await connected.signPdf(file, { id, reason: "Signed on the demo page" }, { onProgress });
    return { blob: signed, name: `${file.name.replace(/\.pdf$/i, "")}.signed.pdf` };
  }
  const { signature } = await connected.signCms({ id, data: file, detached: true, description: `File ${file.name}` }, { onProgress });
  return { blob: new Blob([fromBase64(signature)], { type: "application/pkcs7-signature" }), name: `${file.name}.p7s` };
}

function offerDownload({ blob, name }) {
  if (downloadUrl) URL.revokeObjectURL(downloadUrl);
  downloadUrl = URL.createObjectURL(blob);
  Object.assign($("download"), { href: downloadUrl, download: name, textContent: `Download ${name}` });
  $("result").hidden = false;
  $("download").focus();
}

async function sign(connected) {
  $("result").hidden = true;
  const file = $("file").files[0];
  const onProgress = ({ elapsedMs }) =>
    showProgress(`Waiting for you to confirm in the signing dialog… ${Math.round(elapsedMs / 1000)} s`);
  showProgress("Starting…");
  try {
    offerDownload(await signFile(connected, chosenCertificate(), file, onProgress));
  } finally {
    showProgress("");
  }
}

$("list").addEventListener("click", () => step($("list"), listCertificates));
$("sign").addEventListener("click", () => step($("sign"), sign));
$("file").addEventListener("change", updateSignButton);
