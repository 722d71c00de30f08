// Debian's Chromium, headless, in a fresh profile: its own trust comes from the account's NSS
// database, which the test scripts fill.
import { mkdtempSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { chromium } from "playwright-core";

export function launch() {
  return chromium.launchPersistentContext(mkdtempSync(join(tmpdir(), "profile-")), {
    executablePath: "/usr/bin/chromium",
    headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
}
