export { connect, DEFAULT_DISPATCHER_PORT, type ConnectOptions } from "./connect.js";
export {
  VeltraneClient,
  type Certificate,
  type CertificateFilter,
  type DigestAlgorithm,
  type SignatureAlgorithm,
  type SignCmsRequest,
  type SignCmsResult,
  type SignPdfOptions,
  type SignRequest,
  type SignResult,
} from "./client.js";
export { SessionClient, DEFAULT_RUN_TIMEOUT_MS, type Progress, type RunOptions } from "./session-client.js";
export type { Params, ParamValue } from "./params.js";
export type { Bytes } from "./bytes.js";
export type { FetchLike } from "./transport.js";
export {
  VeltraneError,
  AbortedError,
  BadInputError,
  BadRequestError,
  BusyError,
  ConnectionError,
  ForbiddenError,
  ModuleError,
  NoResultError,
  NoSessionError,
  NotFoundError,
  ProtocolError,
  ServerError,
  TimeoutError,
  type SignerErrorCode,
} from "./errors.js";
