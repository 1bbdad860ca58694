// Conformance of `orlune mcp` with a real client: the official MCP
// TypeScript SDK's client starts the server on a small sample shadow
// database, lists the tools, calls each one and checks what comes back,
// errors included.
//
// Run: ORLUNE_BIN=... ORLUNE_MAKE_SAMPLE_STORE=... node --test conformance.test.mjs
// (CTest does this; the packages come from `npm ci`, run by
// scripts/bootstrap.sh.)

import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StdioClientTransport } from "@modelcontextprotocol/sdk/client/stdio.js";
import { McpError } from "@modelcontextprotocol/sdk/types.js";
import Ajv from "ajv";

const orlune = process.env.ORLUNE_BIN;
const makeSampleStore = process.env.ORLUNE_MAKE_SAMPLE_STORE;
assert.ok(orlune && makeSampleStore, "set ORLUNE_BIN and ORLUNE_MAKE_SAMPLE_STORE");

const TOOLS = ["ask", "search_messages", "get_conversation", "list_people", "list_chats", "stats"];

let folder;
let environment;
let shadowDB;

// Everything the server and the sync see points into the temporary folder.
function isolatedEnvironment(dir) {
  return {
    PATH: process.env.PATH ?? "/usr/bin:/bin",
    HOME: dir,
    ORLUNE_DATA_DIR: join(dir, "data"),
    XDG_DATA_HOME: join(dir, "xdg"),
    ADDRESS_BOOK_PATH: join(dir, "AddressBook"),
    TZ: "UTC",
    LANG: "en_US.UTF-8",
  };
}

async function connect(args) {
  const transport = new StdioClientTransport({
    command: orlune,
    args: ["mcp", ...args],
    env: environment,
    stderr: "pipe",
  });
  const client = new Client({ name: "orlune-conformance", version: "1.0.0" });
  await client.connect(transport);
  return client;
}

// The structured result of a call that must succeed, checked against its
// text content.
async function callOk(client, name, args) {
  const result = await client.callTool({ name, arguments: args });
  assert.equal(result.isError, false, `${name}: ${JSON.stringify(result.content)}`);
  assert.equal(result.content.length, 1);
  assert.equal(result.content[0].type, "text");
  assert.deepEqual(JSON.parse(result.content[0].text), result.structuredContent);
  return result.structuredContent;
}

function checkMessage(message) {
  for (const key of ["guid", "chat_id", "chat", "from", "time", "time_iso", "text"]) {
    assert.equal(typeof message[key], "string", `message.${key}: ${JSON.stringify(message)}`);
  }
  assert.equal(typeof message.is_from_me, "boolean");
  assert.ok(Array.isArray(message.attachments) && Array.isArray(message.reactions));
}

async function expectInvalidParams(client, name, args) {
  await assert.rejects(client.callTool({ name, arguments: args }), (error) => {
    assert.ok(error instanceof McpError, String(error));
    assert.equal(error.code, -32602);
    return true;
  });
}

before(() => {
  folder = mkdtempSync(join(tmpdir(), "orlune-mcp-"));
  environment = isolatedEnvironment(folder);
  const chatDB = join(folder, "chat.db");
  shadowDB = join(folder, "shadow.db");
  execFileSync(makeSampleStore, ["--messages", "600", "--seed", "7", "--real",
    "--address-book", join(folder, "AddressBook"), chatDB], { env: environment, stdio: "ignore" });
  execFileSync(orlune, ["sync", "--chat-db", chatDB, "--shadow-db", shadowDB],
    { env: environment, stdio: "ignore" });
});

after(() => rmSync(folder, { recursive: true, force: true }));

describe("orlune mcp with the SDK client", () => {
  let client;
  before(async () => { client = await connect(["--shadow-db", shadowDB]); });
  after(async () => { await client.close(); });

  test("initializes, names itself and answers ping", async () => {
    assert.equal(client.getServerVersion().name, "orlune");
    assert.ok(client.getServerCapabilities().tools);
    assert.deepEqual(await client.ping(), {});
  });

  test("lists the tools with valid, closed input schemas", async () => {
    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((tool) => tool.name), TOOLS);
    const ajv = new Ajv({ strict: false });
    for (const tool of tools) {
      assert.equal(tool.inputSchema.type, "object");
      assert.equal(tool.inputSchema.additionalProperties, false);
      assert.ok(ajv.validateSchema(tool.inputSchema), `${tool.name}: ${ajv.errorsText()}`);
      assert.ok(tool.description.length > 20);
    }
  });

  test("calls every tool", async () => {
    const people = await callOk(client, "list_people", {});
    assert.ok(people.people.length > 0);
    const named = people.people.find((person) => person.name !== null);
    assert.ok(named, "the sample's address book names someone");

    const found = await callOk(client, "search_messages", { from: named.name, limit: 5 });
    assert.ok(found.messages.length > 0);
    found.messages.forEach(checkMessage);
    assert.ok(found.messages.every((message) => message.from === named.name));

    const window = await callOk(client, "get_conversation",
      { around_guid: found.messages[0].guid, before: 3, after: 3 });
    assert.ok(window.messages.some((message) => message.anchor === true));
    window.messages.forEach(checkMessage);

    const chats = await callOk(client, "list_chats", { limit: 5 });
    assert.ok(chats.chats.length > 0 && chats.chats.every((chat) => typeof chat.title === "string"));
    const byChat = await callOk(client, "get_conversation", { chat: chats.chats[0].title });
    assert.ok(byChat.messages.length > 0);

    for (const by of ["month", "person", "chat"]) {
      const stats = await callOk(client, "stats", { by });
      const sum = stats.counts.reduce((total, row) => total + row.messages, 0);
      if (!stats.more) assert.equal(sum, stats.total_messages, by);
    }

    const answer = await callOk(client, "ask",
      { question: `what did ${named.name} say last month?` });
    assert.equal(typeof answer.answer, "string");
    answer.messages.forEach(checkMessage);
  });

  test("refuses bad calls with Invalid params and reports tool failures as results", async () => {
    await expectInvalidParams(client, "no_such_tool", {});
    await expectInvalidParams(client, "search_messages", { words: "x", limit: "5" });
    await expectInvalidParams(client, "search_messages", { words: "x", colour: "red" });
    await expectInvalidParams(client, "ask", {});
    const missing = await client.callTool({ name: "get_conversation",
      arguments: { around_guid: "no-such-message" } });
    assert.equal(missing.isError, true);
    assert.match(missing.content[0].text, /no-such-message/);
  });
});

describe("bounds and lifecycle", () => {
  test("every reply fits the budget and the cursor gives the rest", async () => {
    const client = await connect(["--shadow-db", shadowDB, "--max-reply-bytes", "8192"]);
    try {
      const seen = new Set();
      let args = { from: "me", limit: 100 };
      for (let page = 0; page < 3; ++page) {
        const result = await client.callTool({ name: "search_messages", arguments: args });
        assert.ok(Buffer.byteLength(JSON.stringify(result)) < 8192);
        for (const message of result.structuredContent.messages) {
          assert.ok(!seen.has(message.guid));
          seen.add(message.guid);
        }
        assert.ok(result.structuredContent.more, "100 of your messages do not fit in 8 KB");
        args = { ...args, cursor: result.structuredContent.more.cursor };
      }
      assert.ok(seen.size > 3);
    } finally {
      await client.close();
    }
  });

  test("metadata privacy shows no text", async () => {
    const client = await connect(["--shadow-db", shadowDB, "--privacy", "metadata"]);
    try {
      const found = await callOk(client, "search_messages", { from: "me", limit: 5 });
      assert.ok(found.messages.length > 0);
      assert.ok(found.messages.every((message) => !("text" in message)));
    } finally {
      await client.close();
    }
  });

  test("a missing database is a tool error, not a failed start", async () => {
    const missing = join(folder, "none", "shadow.db");
    const client = await connect(["--shadow-db", missing]);
    try {
      const result = await client.callTool({ name: "list_chats", arguments: {} });
      assert.equal(result.isError, true);
      assert.match(result.content[0].text, /No shadow database/);
    } finally {
      await client.close();
    }
  });
});
