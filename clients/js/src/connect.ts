import { VeltraneClient } from "./client.js";
import { Deadline } from "./deadline.js";
import { BadInputError, ProtocolError, errorForStatus } from "./errors.js";
import { checkTimeout } from "./session-client.js";
import { post, serverUrl, type FetchLike } from "./transport.js";

export interface ConnectOptions {
  /** Port of the dispatcher, which knows the port of this account's server; default 8630. */
  dispatcherPort?: number | string;
  /** Port of this account's server; given, the dispatcher is not asked. */
  port?: number | string;
  /** Deadline of the dispatcher's answer; default five seconds. */
  timeoutMs?: number;
  signal?: AbortSignal;
  /** Another fetch than the global one (Node, tests). */
  fetch?: FetchLike;
}

export const DEFAULT_DISPATCHER_PORT = 8630;
const DEFAULT_CONNECT_TIMEOUT_MS = 5_000;

function checkPort(what: string, value: unknown): number {
  const text = typeof value === "number" ? String(value) : value;
  const port = typeof text === "string" && /^[0-9]{1,5}$/.test(text) ? Number(text) : NaN;
  if (!(port >= 1 && port <= 65535)) throw new BadInputError(`The ${what} must be a port number from 1 to 65535.`);
  return port;
}

/** A client of this account's server: the given `port`, or the one the dispatcher names. */
export async function connect(options: ConnectOptions = {}): Promise<VeltraneClient> {
  const fetchFn = options.fetch ?? globalThis.fetch?.bind(globalThis);
  if (typeof fetchFn !== "function") throw new BadInputError("No fetch function: pass one in the options.");
  const timeoutMs = checkTimeout(options.timeoutMs ?? DEFAULT_CONNECT_TIMEOUT_MS);
  const port =
    options.port !== undefined
      ? checkPort("port", options.port)
      : await discover(fetchFn, checkPort("dispatcher port", options.dispatcherPort ?? DEFAULT_DISPATCHER_PORT), timeoutMs, options.signal);
  return new VeltraneClient(serverUrl(port), fetchFn);
}

async function discover(fetchFn: FetchLike, dispatcherPort: number, timeoutMs: number, signal?: AbortSignal): Promise<number> {
  const deadline = new Deadline(timeoutMs, signal);
  try {
    const answer = await post(fetchFn, `${serverUrl(dispatcherPort)}/GET_USER_SERVER_PORT`, deadline);
    if (answer.status !== 200) throw errorForStatus(answer.status, answer.body);
    try {
      return checkPort("server's port", answer.body.trim());
    } catch {
      throw new ProtocolError("The dispatcher's answer is no port number.", 200);
    }
  } finally {
    deadline.dispose();
  }
}
