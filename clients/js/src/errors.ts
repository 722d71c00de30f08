// Every way a call can fail has a class of its own, so a page tells them apart with
// `instanceof` instead of reading status numbers or message texts.

/** The base of every error the client rejects with. `status` is the HTTP status (or the result's code) when the server answered. */
export class VeltraneError extends Error {
  readonly status?: number;

  constructor(message: string, status?: number) {
    super(message);
    this.name = new.target.name;
    this.status = status;
  }
}

/** The caller's own arguments are unusable (a port that is no number, a command name with a slash, ...). Nothing was sent. */
export class BadInputError extends VeltraneError {}
/** The server could not be reached: not running, wrong port, or its certificate not trusted by the browser. */
export class ConnectionError extends VeltraneError {}
/** The server answered something this client cannot read. */
export class ProtocolError extends VeltraneError {}
/** The call's deadline passed. */
export class TimeoutError extends VeltraneError {}
/** The caller's AbortSignal ended the call. */
export class AbortedError extends VeltraneError {}
/** 400: a parameter the command requires is missing. */
export class BadRequestError extends VeltraneError {}
/** 403: this page or this account may not run the command. */
export class ForbiddenError extends VeltraneError {}
/** 404: no such module or command, or (from discovery) no server for this account. */
export class NotFoundError extends VeltraneError {}
/** 418: the session is gone; the client reopens it once by itself before it reports this. */
export class NoSessionError extends VeltraneError {}
/** 419: the server holds no result for the command (collected already, or its session timed out). */
export class NoResultError extends VeltraneError {}
/** 500: the server or a module failed without a code of its own. */
export class ServerError extends VeltraneError {}
/** 503: the server is busy (a command with a dialog is running, or this session has too many commands or uncollected results); try again later. */
export class BusyError extends VeltraneError {}

/** The failure codes of the signing module. */
export type SignerErrorCode =
  | "CANCELLED"
  | "PIN_INCORRECT"
  | "PIN_LOCKED"
  | "TOKEN_ABSENT"
  | "CERTIFICATE_NOT_FOUND"
  | "ALGORITHM_UNSUPPORTED"
  | "BAD_INPUT"
  | "STORE_ERROR";

/** A module reported a failure with a code of its own, such as the signing module's `PIN_LOCKED`. */
export class ModuleError extends VeltraneError {
  readonly code: SignerErrorCode | (string & {});

  constructor(code: string, message: string) {
    super(message, 500);
    this.code = code;
  }
}

type ErrorType = new (message: string, status?: number) => VeltraneError;

const errorTypes: ReadonlyMap<number, ErrorType> = new Map<number, ErrorType>([
  [400, BadRequestError],
  [403, ForbiddenError],
  [404, NotFoundError],
  [418, NoSessionError],
  [419, NoResultError],
  [500, ServerError],
  [503, BusyError],
]);

// The server's texts are short sentences; anything longer is not one of them and is cut
// rather than carried around in an error message.
const MAX_MESSAGE = 300;

export function shortText(text: string): string {
  return text.length > MAX_MESSAGE ? `${text.slice(0, MAX_MESSAGE)}…` : text;
}

/** The error for an answer whose status is not the one the step expects. */
export function errorForStatus(status: number, body: string): VeltraneError {
  const type = errorTypes.get(status) ?? ProtocolError;
  const message = body.trim() === "" ? `The server answered ${status}.` : shortText(body.trim());
  return new type(message, status);
}

const FAILED_RESULT = "500|";

/** A finished command's text, or the error it carries: a module that fails answers "500|" and either {"code","message"} or a plain text. */
export function resultOrThrow(body: string): string {
  if (!body.startsWith(FAILED_RESULT)) return body;
  const detail = body.slice(FAILED_RESULT.length);
  let parsed: unknown;
  try {
    parsed = JSON.parse(detail);
  } catch {
    throw new ServerError(shortText(detail), 500);
  }
  const { code, message } = (parsed ?? {}) as { code?: unknown; message?: unknown };
  if (typeof code !== "string") throw new ServerError(shortText(detail), 500);
  throw new ModuleError(shortText(code), typeof message === "string" ? shortText(message) : code);
}
