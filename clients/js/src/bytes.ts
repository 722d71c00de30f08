/** Bytes to sign: a Blob or File, raw bytes, or a string taken as its UTF-8 bytes. */
export type Bytes = Blob | ArrayBuffer | ArrayBufferView | string;

async function toUint8Array(bytes: Bytes): Promise<Uint8Array> {
  if (typeof bytes === "string") return new TextEncoder().encode(bytes);
  if (bytes instanceof Blob) return new Uint8Array(await bytes.arrayBuffer());
  if (ArrayBuffer.isView(bytes)) return new Uint8Array(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  return new Uint8Array(bytes);
}

// btoa takes one character per byte; chunks keep the argument list of fromCharCode short.
export async function toBase64(bytes: Bytes): Promise<string> {
  const data = await toUint8Array(bytes);
  const chunks: string[] = [];
  for (let offset = 0; offset < data.length; offset += 0x8000)
    chunks.push(String.fromCharCode(...data.subarray(offset, offset + 0x8000)));
  return btoa(chunks.join(""));
}

export function fromBase64(text: string): ArrayBuffer {
  const binary = atob(text);
  const data = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; ++i) data[i] = binary.charCodeAt(i);
  return data.buffer as ArrayBuffer;
}
