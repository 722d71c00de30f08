import { Deadline } from "./deadline.js";
import {
  BadInputError,
  ProtocolError,
  errorForStatus,
  resultOrThrow,
} from "./errors.js";
import { checkName, formBody, type Params } from "./params.js";
import { COMMAND_HEADER, post, type Answer, type FetchLike } from "./transport.js";

export interface Progress {
  /** The server's ID of the running command. */
  cmdId: string;
  /** Result requests answered "not yet" so far. */
  polls: number;
  elapsedMs: number;
}

export interface RunOptions {
  signal?: AbortSignal;
  /** Deadline of the whole call, from the first request to the result; default two minutes, which leaves a person time for a PIN. */
  timeoutMs?: number;
  /** Called once the command runs and after every poll that finds it still running. */
  onProgress?: (progress: Progress) => void;
}

export const DEFAULT_RUN_TIMEOUT_MS = 120_000;
// Quick commands answer within the first polls; a command waiting on a person costs at
// most two requests a second.
const FIRST_POLL_MS = 25;
const LONGEST_POLL_MS = 500;
const SESSION_OPEN_TIMEOUT_MS = 10_000;
const MAX_TIMEOUT_MS = 2_147_483_647; // setTimeout's limit

// Session and command IDs as the server hands them out.
const ID = /^(\{[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}\}|[0-9]{1,13})$/;

export function checkTimeout(value: unknown): number {
  if (typeof value !== "number" || !(value > 0) || value > MAX_TIMEOUT_MS)
    throw new BadInputError("A timeout must be a positive number of milliseconds.");
  return value;
}

// The session is opened on first use and shared by all calls of this client. A call that
// finds it gone (418: timed out, or closed elsewhere) opens another and tries once more;
// the poll requests keep it alive while a command runs.
export class SessionClient {
  /** The server this client talks to, such as https://127.0.0.1:8631. */
  readonly url: string;
  private readonly fetchFn: FetchLike;
  private session?: Promise<string>;

  constructor(url: string, fetchFn: FetchLike) {
    this.url = url;
    this.fetchFn = fetchFn;
  }

  /** Runs a module's command and resolves with its result text. */
  async run(module: string, command: string, params: Params = {}, options: RunOptions = {}): Promise<string> {
    const path = `/${checkName("module", module)}/${checkName("command", command)}`;
    const body = formBody(params);
    const deadline = new Deadline(checkTimeout(options.timeoutMs ?? DEFAULT_RUN_TIMEOUT_MS), options.signal);
    try {
      const { answer, sessionId } = await this.start(path, body, deadline);
      if (answer.status === 200) return resultOrThrow(answer.body);
      if (answer.status !== 202) throw errorForStatus(answer.status, answer.body);
      const cmdId = answer.header(COMMAND_HEADER) ?? "";
      if (!ID.test(cmdId)) throw new ProtocolError("The server started the command without naming its result.", 202);
      return await this.poll(cmdId, sessionId, deadline, options.onProgress);
    } finally {
      deadline.dispose();
    }
  }

  /** Ends the session, if one is open; the next call opens a new one. */
  async close(options: { signal?: AbortSignal; timeoutMs?: number } = {}): Promise<void> {
    const opening = this.session;
    this.session = undefined;
    if (!opening) return;
    const sessionId = await opening.catch(() => undefined);
    if (sessionId === undefined) return;
    const deadline = new Deadline(checkTimeout(options.timeoutMs ?? SESSION_OPEN_TIMEOUT_MS), options.signal);
    try {
      const answer = await post(this.fetchFn, `${this.url}/CLOSE_SESSION`, deadline, { sessionId });
      // 418: the server had ended it already, which is what the caller wanted.
      if (answer.status !== 200 && answer.status !== 418) throw errorForStatus(answer.status, answer.body);
    } finally {
      deadline.dispose();
    }
  }

  private async start(path: string, body: BodyInit, deadline: Deadline): Promise<{ answer: Answer; sessionId: string }> {
    for (let attempt = 1; ; ++attempt) {
      const opening = this.currentSession();
      const sessionId = await deadline.until(opening);
      const answer = await post(this.fetchFn, this.url + path, deadline, { sessionId, body });
      if (answer.status !== 418 || attempt === 2) return { answer, sessionId };
      // Another call may have replaced the session meanwhile; only a dead one is dropped.
      if (this.session === opening) this.session = undefined;
    }
  }

  private async poll(
    cmdId: string,
    sessionId: string,
    deadline: Deadline,
    onProgress?: (progress: Progress) => void,
  ): Promise<string> {
    const startedAt = Date.now();
    const url = `${this.url}/GET_RESULT?cmdId=${encodeURIComponent(cmdId)}`;
    for (let polls = 0, interval = FIRST_POLL_MS; ; ++polls, interval = Math.min(2 * interval, LONGEST_POLL_MS)) {
      onProgress?.({ cmdId, polls, elapsedMs: Date.now() - startedAt });
      await deadline.sleep(interval);
      const answer = await post(this.fetchFn, url, deadline, { sessionId });
      if (answer.status === 200) return resultOrThrow(answer.body);
      if (answer.status !== 202) throw errorForStatus(answer.status, answer.body);
    }
  }

  // Opened with a deadline of its own, not the first caller's: that caller's abort must
  // not fail the other calls waiting for the same session.
  private currentSession(): Promise<string> {
    if (this.session) return this.session;
    const opening = this.openSession();
    this.session = opening;
    opening.catch(() => {
      if (this.session === opening) this.session = undefined;
    });
    return opening;
  }

  private async openSession(): Promise<string> {
    const deadline = new Deadline(SESSION_OPEN_TIMEOUT_MS);
    try {
      const answer = await post(this.fetchFn, `${this.url}/OPEN_SESSION`, deadline);
      if (answer.status !== 200) throw errorForStatus(answer.status, answer.body);
      const sessionId = answer.body.trim();
      if (!ID.test(sessionId)) throw new ProtocolError("The server's answer to opening a session is no session ID.", 200);
      return sessionId;
    } finally {
      deadline.dispose();
    }
  }
}
