// SPDX-License-Identifier: Apache-2.0
// The experiment log as a person sees it: opens the main index page of the log that
// glps_browser_fixture wrote in a headless Chromium and checks the frames, the documents and how
// their entries are rendered.
//
// Run with plain `node log_view.test.mjs` (CTest does); it exits non-zero when a check fails.
// Environment:
//   GLPS_LOG_DIR     the experiment log directory (holds GLP-Main.html), required
//   GLPS_SCREENSHOT  where to save a screenshot of the page (PNG), required
//   GLPS_CHROMIUM    the browser to drive, /usr/bin/chromium by default
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

// The texts glps_browser_fixture logs (make_log.cc).
const MARKUP_FIRST = 'first document keeps <b>&" as text';
const MARKUP_SECOND = 'second document keeps <b>&" as text';
const NON_ASCII = 'Probe von Müller: 12 µg';
const CRASH_LINES = ['The host ended abnormally', 'at step 3: weighing',
  'in module <balance> & "scale"'];
const USER = 'analyst';

// A missing prerequisite stops the run at once with one clear line, before any test starts.
function stop(message) {
  console.error(`log_view: ${message}`);
  process.exit(1);
}

const logDir = process.env.GLPS_LOG_DIR || stop('GLPS_LOG_DIR is not set');
const screenshot = process.env.GLPS_SCREENSHOT || stop('GLPS_SCREENSHOT is not set');
const executablePath = process.env.GLPS_CHROMIUM || '/usr/bin/chromium';
const mainPage = path.join(logDir, 'GLP-Main.html');
if (!fs.existsSync(mainPage)) stop(`${mainPage} is missing: glps_browser_fixture writes it`);

// The log documents in the directory, in name order (their numbers are zero-padded).
const documents = fs.readdirSync(logDir)
  .filter((name) => name.endsWith('.html') && !name.startsWith('GLP-Main') &&
    !name.startsWith('GLP-Menu'))
  .sort();
if (documents.length !== 2) {
  stop(`expected two log documents in ${logDir}, found ${JSON.stringify(documents)}`);
}

if (!fs.existsSync(executablePath)) {
  stop(`no browser at ${executablePath}: scripts/install-deps installs Debian's chromium`);
}
let chromium;
try {
  ({ chromium } = await import('playwright-core'));
} catch (error) {
  stop(`playwright-core cannot be loaded; \`npm ci\` in ${path.dirname(
    fileURLToPath(import.meta.url))} installs it (${error.message})`);
}
let browser;
try {
  browser = await chromium.launch({
    executablePath,
    headless: true,
    chromiumSandbox: false,  // the sandbox cannot start as root, as in containers and CI
    args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
    timeout: 60000,
  });
} catch (error) {
  stop(`${executablePath} does not start headless: ${error.message}`);
}

// At most the start of a long text, for failure messages.
function excerpt(text) {
  return text.length > 2000 ? `${text.slice(0, 2000)}...` : text;
}

// The text of a frame as rendered, with no-break spaces read as blanks: innerText follows the
// rendering, so blanks that HTML would collapse appear only once here.
async function renderedText(frame) {
  const text = await frame.evaluate(() => document.body.innerText);
  return text.replace(/\u00a0/g, ' ');
}

// The rendered line of the message `text`, with its prefix: number, date, time, user, each
// followed by two blanks (the time's zone is part of the time).
function messageLine(text) {
  const escaped = text.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
  const time = '\\d\\d:\\d\\d:\\d\\d [+-]\\d\\d:\\d\\d(:\\d\\d)?';
  return new RegExp(`^\\d+  \\d{4}-\\d\\d-\\d\\d  ${time}  ${USER}  ${escaped}$`, 'm');
}

// What the message's own markup characters became in the frame: the text of the element that holds
// the message, and how many elements the message's text made inside it.
async function messageElement(frame, marker) {
  return frame.evaluate((marker) => {
    const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
    for (let node = walker.nextNode(); node; node = walker.nextNode()) {
      if (node.data.includes(marker)) {
        const holder = node.parentElement;
        return { text: holder.textContent, children: holder.childElementCount,
          nestedBold: document.querySelectorAll('b b').length };
      }
    }
    return null;
  }, marker);
}

function frameNamed(page, name) {
  const frame = page.frame({ name });
  assert.ok(frame, `the page has no frame named "${name}"`);
  return frame;
}

async function openMainPage(browser) {
  const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
  page.setDefaultTimeout(30000);
  await page.goto(pathToFileURL(mainPage).href, { waitUntil: 'load' });
  return page;
}

describe('the experiment log in a browser', () => {
  let page;

  before(async () => {
    page = await openMainPage(browser);
    fs.mkdirSync(path.dirname(screenshot), { recursive: true });
    await page.screenshot({ path: screenshot });
  });

  after(async () => {
    await browser.close();
  });

  it('lists both documents in the menu frame, as links into the lower frame', async () => {
    const links = await frameNamed(page, 'menu').$$eval('a', (anchors) => anchors.map((a) => ({
      text: a.textContent, href: a.getAttribute('href'), target: a.target })));
    assert.deepEqual(links, documents.map((name) => ({ text: name, href: name, target: 'log' })));
  });

  it('shows the current, second, document in the lower frame', async () => {
    const log = frameNamed(page, 'log');
    assert.equal(path.basename(new URL(log.url()).pathname), documents[1]);
    const text = await renderedText(log);
    assert.match(text, messageLine(MARKUP_SECOND));
    assert.ok(!text.includes(MARKUP_FIRST), 'the lower frame shows the first document');
  });

  it('shows markup characters of a message as those characters', async () => {
    const element = await messageElement(frameNamed(page, 'log'), 'second document keeps');
    assert.ok(element, 'the message is not in the lower frame');
    assert.equal(element.text, MARKUP_SECOND);
    assert.equal(element.children, 0, 'the message made elements of its text');
    assert.equal(element.nestedBold, 0, 'the message made a <b> element');
  });

  it('keeps the blanks of message prefixes and of crash detail lines visible', async () => {
    const text = await renderedText(frameNamed(page, 'log'));
    assert.match(text, messageLine(NON_ASCII));
    const crash = `${CRASH_LINES[0]}\n     ${CRASH_LINES[1]}\n     ${CRASH_LINES[2]}\n`;
    assert.ok(text.includes(crash), 'the crash entry with its five-blank detail lines is not ' +
      `shown as\n${crash}in\n${excerpt(text)}`);
  });

  it('shows non-ASCII text as those characters', async () => {
    const text = await renderedText(frameNamed(page, 'log'));
    assert.ok(text.includes(NON_ASCII), `"${NON_ASCII}" is not shown in\n${excerpt(text)}`);
  });

  it('shows the first document in the lower frame when it is chosen in the menu', async () => {
    const own = await openMainPage(browser);
    try {
      const log = frameNamed(own, 'log');
      await frameNamed(own, 'menu').click(`a[href="${documents[0]}"]`);
      try {
        await log.waitForURL((url) => url.pathname.endsWith(`/${documents[0]}`));
      } catch (error) {
        throw new Error(`choosing ${documents[0]} in the menu did not show it in the lower frame ` +
          `(the page is at ${own.url()}): ${error.message}`);
      }
      await log.waitForLoadState('load');
      assert.equal(path.basename(new URL(own.url()).pathname), 'GLP-Main.html',
        'the link replaced the whole page instead of the lower frame');
      assert.ok(own.frame({ name: 'menu' }), 'the menu frame is gone');
      const text = await renderedText(log);
      assert.match(text, messageLine(MARKUP_FIRST));
      assert.match(text, messageLine(NON_ASCII));
      assert.ok(!text.includes(MARKUP_SECOND), 'the lower frame still shows the second document');
      const element = await messageElement(log, 'first document keeps');
      assert.equal(element.text, MARKUP_FIRST);
      assert.equal(element.nestedBold, 0, 'the message made a <b> element');
      await own.screenshot({ path: screenshot.replace(/\.png$/, '') + '-first-document.png' });
    } finally {
      await own.close();
    }
  });
});
