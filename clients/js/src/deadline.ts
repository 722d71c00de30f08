import { AbortedError, TimeoutError } from "./errors.js";

// One call's end, whichever comes first: its deadline or the caller's AbortSignal. Its own
// signal goes to every fetch of the call and ends every wait, so nothing is left running
// and each way out rejects with its own typed error.
export class Deadline {
  private readonly controller = new AbortController();
  private readonly timer: ReturnType<typeof setTimeout>;
  private readonly outer?: AbortSignal;
  private readonly onOuterAbort = (): void =>
    this.controller.abort(new AbortedError("The call was aborted."));

  constructor(timeoutMs: number, outer?: AbortSignal) {
    this.timer = setTimeout(
      () => this.controller.abort(new TimeoutError(`No result within ${timeoutMs} ms.`)),
      timeoutMs,
    );
    this.outer = outer;
    if (outer?.aborted) this.onOuterAbort();
    else outer?.addEventListener("abort", this.onOuterAbort, { once: true });
  }

  get signal(): AbortSignal {
    return this.controller.signal;
  }

  /** Throws the typed reason once the call has ended. */
  check(): void {
    if (this.signal.aborted) throw this.signal.reason;
  }

  /** The promise's outcome, or the call's end if that comes first. */
  until<T>(promise: Promise<T>): Promise<T> {
    return new Promise<T>((resolve, reject) => {
      if (this.signal.aborted) {
        promise.catch(() => undefined);
        reject(this.signal.reason);
        return;
      }
      const stop = (): void => reject(this.signal.reason);
      this.signal.addEventListener("abort", stop, { once: true });
      promise
        .then(resolve, reject)
        .finally(() => this.signal.removeEventListener("abort", stop));
    });
  }

  sleep(ms: number): Promise<void> {
    let timer: ReturnType<typeof setTimeout> | undefined;
    const waited = new Promise<void>((resolve) => {
      timer = setTimeout(resolve, ms);
    });
    return this.until(waited).finally(() => clearTimeout(timer));
  }

  dispose(): void {
    clearTimeout(this.timer);
    this.outer?.removeEventListener("abort", this.onOuterAbort);
  }
}
