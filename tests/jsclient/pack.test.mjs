// What `npm pack` puts into the client's package: the compiled modules and their types, the
// README and the licence, and nothing else (no sources, tests or compiler).
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { readdirSync } from "node:fs";
import { test } from "node:test";

test("the packed client holds only the built modules, their types, README and LICENSE", () => {
  const { VYR_NPM: npm, VYR_JS_CLIENT: packageDir, VYR_JS_CLIENT_SOURCE: sourceDir } = process.env;
  const [packed] = JSON.parse(execFileSync(npm, ["pack", "--dry-run", "--json", "--ignore-scripts"], { cwd: packageDir }));
  const modules = readdirSync(`${sourceDir}/src`).filter((name) => name.endsWith(".ts")).map((name) => name.slice(0, -3));
  const expected = ["LICENSE", "README.md", "package.json", ...modules.flatMap((name) => [`dist/${name}.d.ts`, `dist/${name}.js`])];
  assert.deepEqual(packed.files.map((file) => file.path).sort(), expected.sort());
});
