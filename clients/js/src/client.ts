import { fromBase64, toBase64, type Bytes } from "./bytes.js";
import { BadInputError, ProtocolError } from "./errors.js";
import { SessionClient, type RunOptions } from "./session-client.js";

const SIGNER = "signer";

export interface Certificate {
  id: string;
  subject: string;
  issuer: string;
  serial: string;
  /** ISO 8601, UTC. */
  notBefore: string;
  notAfter: string;
  keyUsage: string[];
  keyType: string;
  keySize: number;
  store: string;
  /** Base64 DER. */
  certificate: string;
}

export interface CertificateFilter {
  /** Usages the key must allow, such as "digitalSignature" or "nonRepudiation". */
  keyUsage?: string | readonly string[];
  /** Text the issuer must contain. */
  issuer?: string;
  validNow?: boolean;
}

export type DigestAlgorithm = "SHA-256" | "SHA-384" | "SHA-512";
export type SignatureAlgorithm = "RSA-PKCS1" | "RSA-PSS" | "ECDSA";

export interface SignRequest {
  /** A certificate's `id` from `listCertificates`. */
  id: string;
  /** What to sign; an array signs each item after one confirmation. */
  data?: Bytes | readonly Bytes[];
  /** Digests already computed, instead of `data`, with their `digestAlgorithm`. */
  digest?: Bytes | readonly Bytes[];
  digestAlgorithm?: DigestAlgorithm;
  algorithm?: SignatureAlgorithm;
  /** Shown to the person in the confirmation dialog, as plain text. */
  description?: string;
}

/** Base64 values; `signatures` instead of `signature` when several items were signed. */
export interface SignResult {
  signature?: string;
  signatures?: string[];
  algorithm: string;
  certificate: string;
}

export interface SignCmsRequest {
  id: string;
  data: Bytes | readonly Bytes[];
  /** Whether the signed data stays outside the CMS structure; default true. */
  detached?: boolean;
  description?: string;
}

export interface SignCmsResult {
  signature?: string;
  signatures?: string[];
}

export interface SignPdfOptions {
  id: string;
  /** Page of a visible signature, from 1; without `rect` the signature is invisible. */
  page?: number;
  /** Visible signature's rectangle in PDF points: x1, y1, x2, y2. */
  rect?: readonly [number, number, number, number];
  /** Full name of an unsigned signature field the PDF has, to sign in its place (then no `page` or `rect`). */
  field?: string;
  reason?: string;
  location?: string;
  contactInfo?: string;
}

async function base64List(value: Bytes | readonly Bytes[] | undefined): Promise<string[] | undefined> {
  if (value === undefined) return undefined;
  const items: readonly Bytes[] = Array.isArray(value) ? value : [value as Bytes];
  return Promise.all(items.map(toBase64));
}

function parseObject<T>(text: string): T {
  let parsed: unknown;
  try {
    parsed = JSON.parse(text);
  } catch {
    throw new ProtocolError("The module's answer is not JSON.", 200);
  }
  if (parsed === null || typeof parsed !== "object") throw new ProtocolError("The module's answer is no JSON object.", 200);
  return parsed as T;
}

function checkRect(rect: SignPdfOptions["rect"]): string | undefined {
  if (rect === undefined) return undefined;
  if (!Array.isArray(rect) || rect.length !== 4 || !rect.every((n) => typeof n === "number" && Number.isFinite(n)))
    throw new BadInputError("rect must be four finite numbers.");
  return rect.join(",");
}

/** A client of one account's server, with the signing module's commands. Create it with `connect`. */
export class VeltraneClient extends SessionClient {
  /** The certificates whose keys can sign, after the person allowed this page to see them. */
  async listCertificates(filter: CertificateFilter = {}, options?: RunOptions): Promise<Certificate[]> {
    const keyUsage = typeof filter.keyUsage === "string" ? filter.keyUsage : filter.keyUsage?.join(",");
    const text = await this.run(SIGNER, "LIST_CERTIFICATES", { keyUsage, issuer: filter.issuer, validNow: filter.validNow }, options);
    const list = parseObject<unknown>(text);
    if (!Array.isArray(list)) throw new ProtocolError("The certificate listing is no JSON array.", 200);
    return list as Certificate[];
  }

  /** Raw signatures over data or digests. */
  async sign(request: SignRequest, options?: RunOptions): Promise<SignResult> {
    const params = {
      id: request.id,
      data: await base64List(request.data),
      digest: await base64List(request.digest),
      digestAlgorithm: request.digestAlgorithm,
      algorithm: request.algorithm,
      description: request.description,
    };
    return parseObject<SignResult>(await this.run(SIGNER, "SIGN", params, options));
  }

  /** CMS (CAdES) signatures, detached unless told otherwise. */
  async signCms(request: SignCmsRequest, options?: RunOptions): Promise<SignCmsResult> {
    const params = {
      id: request.id,
      data: await base64List(request.data),
      detached: request.detached,
      description: request.description,
    };
    return parseObject<SignCmsResult>(await this.run(SIGNER, "SIGN_CMS", params, options));
  }

  /** The same PDF with a PAdES signature added. The file goes as a multipart upload. */
  async signPdf(file: Blob, pdf: SignPdfOptions, options?: RunOptions): Promise<Blob> {
    if (!(file instanceof Blob)) throw new BadInputError("The document must be a Blob or File.");
    if (pdf.page !== undefined && !(Number.isInteger(pdf.page) && pdf.page >= 1))
      throw new BadInputError("page must be a whole number from 1.");
    const params = {
      id: pdf.id,
      document: file,
      page: pdf.page,
      rect: checkRect(pdf.rect),
      field: pdf.field,
      reason: pdf.reason,
      location: pdf.location,
      contactInfo: pdf.contactInfo,
    };
    const { document } = parseObject<{ document?: unknown }>(await this.run(SIGNER, "SIGN_PDF", params, options));
    if (typeof document !== "string") throw new ProtocolError("The signed document is missing from the answer.", 200);
    try {
      return new Blob([fromBase64(document)], { type: "application/pdf" });
    } catch {
      throw new ProtocolError("The signed document is not base64.", 200);
    }
  }
}
