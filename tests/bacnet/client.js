// A BACnet client for zamgate's tests, on the independent npm package
// @bacnet-js/client. One request per run, its outcome as one JSON line:
//   node client.js PORT whois [LOW HIGH]          the I-Am answers heard in 2 s
//   node client.js PORT OWN read TYPE INSTANCE PROPERTY [INDEX]
//   node client.js PORT OWN readmulti JSON            [{type, instance, properties: [id, ...]}, ...]
//   node client.js PORT OWN write TYPE INSTANCE PROPERTY TAG VALUE [PRIORITY]   TAG 0 (null), 4 (real), 9 (enumerated)
//   node client.js PORT OWN cov TYPE INSTANCE CONFIRMED LIFETIME SECONDS         the notifications heard
// A failed request prints {"error": "<the client's message>"}. zamgate is at
// 127.0.0.1:PORT.
'use strict';
const Bacnet = require('@bacnet-js/client').default;

const [port, own, command, ...args] = process.argv.slice(2);
const receiver = { address: `127.0.0.1:${port}` };
const client = new Bacnet({ port: Number(own), interface: '127.0.0.1', broadcastAddress: '127.0.0.1', apduTimeout: 4000 });

function print(value) {
  process.stdout.write(JSON.stringify(value, (k, v) => (typeof v === 'bigint' ? Number(v) : v)) + '\n');
}

function finish(value) {
  print(value);
  client.close();
  process.exit(0);
}

const fail = (error) => finish({ error: String(error && error.message ? error.message : error) });
setTimeout(() => finish({ error: 'no answer in time' }), 15000).unref();

async function main() {
  const n = (i) => Number(args[i]);
  switch (command) {
    case 'whois': {
      const heard = [];
      client.on('iAm', (content) => heard.push(content.payload));
      // Unicast to the device: the test's loopback has no broadcast.
      const options = args.length >= 2 ? { lowLimit: n(0), highLimit: n(1) } : {};
      client.whoIs(receiver, options);
      setTimeout(() => finish({ iAm: heard }), 2000);
      return;
    }
    case 'read': {
      const options = args.length > 3 ? { arrayIndex: n(3) } : {};
      const result = await client.readProperty(receiver, { type: n(0), instance: n(1) }, n(2), options);
      return finish({ values: result.values });
    }
    case 'readmulti': {
      const accesses = JSON.parse(args[0]).map((s) => ({
        objectId: { type: s.type, instance: s.instance },
        properties: s.properties.map((id) => ({ id, index: 0xffffffff })),
      }));
      const result = await client.readPropertyMultiple(receiver, accesses);
      return finish({ values: result.values });
    }
    case 'write': {
      const tag = n(3);
      const value = tag === 0 ? null : n(4);
      const options = args.length > 5 ? { priority: n(5) } : {};
      await client.writeProperty(receiver, { type: n(0), instance: n(1) }, n(2), [{ type: tag, value }], options);
      return finish({ ok: true });
    }
    case 'cov': {
      const heard = [];
      const take = (content) => heard.push(content.payload);
      client.on('covNotify', take);
      client.on('covNotifyUnconfirmed', take);
      await client.subscribeCov(receiver, { type: n(0), instance: n(1) }, 7, false, args[2] === '1', n(3));
      print({ subscribed: true });
      setTimeout(() => finish({ notifications: heard }), n(4) * 1000);
      return;
    }
    default:
      return fail('unknown command ' + command);
  }
}

main().catch(fail);
