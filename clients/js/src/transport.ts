import { ConnectionError } from "./errors.js";
import type { Deadline } from "./deadline.js";

/** The part of `fetch` the client uses; pass another one to `connect` to run outside a browser or in tests. */
export type FetchLike = (url: string, init: RequestInit) => Promise<Response>;

export interface Answer {
  status: number;
  body: string;
  header(name: string): string | null;
}

export const SESSION_HEADER = "X-VYR-sessionId";
export const COMMAND_HEADER = "X-VYR-cmdId";
export const LOOPBACK = "127.0.0.1";

export function serverUrl(port: number): string {
  return `https://${LOOPBACK}:${port}`;
}

// Every request is a POST in the CORS form: the JSONP form cannot carry a body, and only
// the CORS form lets the page read the status and the X-VYR headers.
export async function post(
  fetchFn: FetchLike,
  url: string,
  deadline: Deadline,
  options: { sessionId?: string; body?: BodyInit } = {},
): Promise<Answer> {
  const headers: Record<string, string> = {};
  if (options.sessionId !== undefined) headers[SESSION_HEADER] = options.sessionId;
  try {
    const response = await fetchFn(url, {
      method: "POST",
      mode: "cors",
      cache: "no-store",
      headers,
      body: options.body,
      signal: deadline.signal,
    });
    const body = await response.text();
    return { status: response.status, body, header: (name) => response.headers.get(name) };
  } catch (error) {
    deadline.check();
    const reason = error instanceof Error ? error.message : String(error);
    throw new ConnectionError(`No answer from ${new URL(url).origin}: ${reason}`);
  }
}
