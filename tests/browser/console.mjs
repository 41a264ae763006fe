// Drives Debian's chromium through the console as an operator would:
// the read key shows no buttons, a wrong key shows nothing, the operator key
// opens the entrance after a confirmation and the page follows, and a named
// operator logs in with name and key and opens the exit.
//   node console.mjs URL READ_KEY OPERATOR_KEY NAME NAME_KEY [SCREENSHOT_FOLDER]
// Prints one line per step; exits non-zero at the first that fails.
import puppeteer from "puppeteer-core";

const [url, readKey, operatorKey, operatorName, nameKey, shots] = process.argv.slice(2);
const fail = (why) => { console.log("FAIL " + why); process.exit(1); };

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
  headless: true,
  acceptInsecureCerts: true, // the test's own certificate
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
         "--disable-component-update", "--disable-sync"],
});
try {
  const page = await browser.newPage();
  const dialogs = [];
  page.on("dialog", async (dialog) => { dialogs.push(dialog.message()); await dialog.accept(); });
  const visible = (selector) => page.$eval(selector, (el) => el.offsetParent !== null).catch(() => false);
  const enterKey = async (key) => {
    await page.waitForSelector("#key", { visible: true, timeout: 10000 });
    await page.$eval("#key", (el) => { el.value = ""; });
    await page.type("#key", key);
    await page.click("#key-form button[type=submit]");
  };

  await page.goto(url, { waitUntil: "load" });
  await enterKey(readKey);
  await page.waitForFunction(() => document.querySelector("#state").textContent === "En servicio", { timeout: 10000 });
  if (await visible("#open-1")) fail("the read key shows the console's buttons");
  console.log("read key: no buttons");

  await page.evaluate(() => sessionStorage.setItem("parking-auth", "Bearer not-the-key"));
  await page.reload({ waitUntil: "load" });
  await page.waitForFunction(() => document.querySelector("#state").textContent === "Hace falta la clave", { timeout: 10000 });
  if (await visible("#open-1")) fail("a wrong key shows the console's buttons");
  console.log("wrong key: asked for the key, no buttons");

  await enterKey(operatorKey);
  await page.waitForSelector("#open-1", { visible: true, timeout: 10000 });
  await page.waitForFunction(() => document.querySelectorAll("#grid tr").length > 0, { timeout: 10000 });
  if (shots) {
    await page.setViewport({ width: 1280, height: 860 });
    await page.screenshot({ path: shots + "/console-desktop.png", fullPage: true });
    await page.setViewport({ width: 390, height: 844, isMobile: true });
    await page.screenshot({ path: shots + "/console-phone.png", fullPage: true });
  }
  await page.click("#open-1");
  await page.waitForFunction(() => document.querySelector("#console-result").textContent.startsWith("Hecho"),
                             { timeout: 10000 });
  if (!dialogs.some((m) => m.includes("entrada"))) fail("no confirmation was asked");
  console.log("operator key: entrance opened after confirming");

  await page.$eval("#spaces-value", (el) => { el.value = ""; });
  await page.type("#spaces-value", "25");
  await page.click("#spaces-form button[type=submit]");
  await page.waitForFunction(() => document.querySelector("#free").textContent === "25", { timeout: 5000 });
  console.log("operator key: free spaces set to 25 and shown");

  // A named operator: the read key first, then "Entrar como operador".
  await page.evaluate(() => sessionStorage.clear());
  await page.reload({ waitUntil: "load" });
  await enterKey(readKey);
  await page.waitForSelector("#operator-login", { visible: true, timeout: 10000 });
  await page.click("#operator-login");
  await page.waitForSelector("#operator-name", { visible: true, timeout: 5000 });
  await page.type("#operator-name", operatorName);
  await enterKey(nameKey);
  await page.waitForSelector("#open-2", { visible: true, timeout: 10000 });
  await page.click("#open-2");
  await page.waitForFunction(() => document.querySelector("#console-result").textContent.startsWith("Hecho"),
                             { timeout: 10000 });
  console.log("named operator: exit opened");
} catch (e) {
  fail(String(e));
} finally {
  await browser.close();
}
