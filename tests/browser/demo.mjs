// Uses the demo page as a person would: usage `node demo.mjs <dispatcher port> <file> <folder>`.
// The server's dialogs are answered with xdotool on $DISPLAY; the signed download and a
// screenshot of the page after signing go to the folder.
import { execFileSync } from "node:child_process";
import { join } from "node:path";
import { launch } from "./chromium.mjs";

const [dispatcherPort, file, folder] = process.argv.slice(2);

// Waits for the dialog's window, gives it the keyboard, then types.
function answer(title, keys) {
  const options = { timeout: 30000, encoding: "utf8" };
  const [window] = execFileSync("xdotool", ["search", "--sync", "--onlyvisible", "--name", title], options).split("\n");
  execFileSync("xdotool", ["windowfocus", "--sync", window], options);
  execFileSync("xdotool", keys, options);
}

const browser = await launch();
const tab = await browser.newPage();
try {
  await tab.goto(`http://localhost:8600/?port=${dispatcherPort}`);
  await tab.getByRole("button", { name: "Show my certificates" }).click();
  answer("Allow access to your certificates?", ["key", "space", "Return"]);
  await tab.getByRole("radio", { name: /Demo Signer/ }).check();
  await tab.getByLabel("File to sign").setInputFiles(file);
  await tab.getByRole("button", { name: "Sign", exact: true }).click();
  await tab.getByRole("status").getByText(/signing dialog/).waitFor();
  answer("Sign with your certificate", ["type", "1234"]);
  answer("Sign with your certificate", ["key", "Return"]);
  const download = tab.waitForEvent("download");
  await tab.getByRole("link", { name: /^Download / }).click();
  await (await download).saveAs(join(folder, (await download).suggestedFilename()));
  await tab.screenshot({ path: join(folder, "demo-signed.png"), fullPage: true });
} catch (error) {
  console.log(`FAIL ${error.message}\nThe page says: ${await tab.locator("#message").textContent()}`);
  process.exitCode = 1;
} finally {
  await browser.close();
}
