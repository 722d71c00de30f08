import { BadInputError } from "./errors.js";

export type ParamValue = string | number | boolean | Blob;
/** A command's parameters; an array repeats its name, `undefined` leaves it out. */
export type Params = Readonly<Record<string, ParamValue | readonly ParamValue[] | undefined>>;

// Module and command travel in the path: only names the server could know pass, so a
// caller's text never turns into another path or a query.
const NAME = /^[A-Za-z0-9_-]{1,64}$/;

export function checkName(what: string, value: unknown): string {
  if (typeof value !== "string" || !NAME.test(value))
    throw new BadInputError(`The ${what} name must be 1 to 64 letters, digits, "_" or "-".`);
  return value;
}

function entries(params: Params): Array<[string, ParamValue]> {
  const list: Array<[string, ParamValue]> = [];
  for (const [name, value] of Object.entries(params)) {
    if (value === undefined) continue;
    const values: readonly ParamValue[] = Array.isArray(value) ? value : [value as ParamValue];
    for (const item of values) list.push([name, item]);
  }
  return list;
}

/** A form body: multipart when a file is among the values (the server spools those to disk), URL-encoded otherwise. */
export function formBody(params: Params): URLSearchParams | FormData {
  const list = entries(params);
  if (!list.some(([, value]) => value instanceof Blob)) {
    return new URLSearchParams(list.map(([name, value]) => [name, String(value)]));
  }
  const form = new FormData();
  for (const [name, value] of list) {
    if (value instanceof Blob) form.append(name, value, (value as File).name || name);
    else form.append(name, String(value));
  }
  return form;
}
