#!/usr/bin/env node
// Interop with an independent BACnet/IP stack (@bacnet-js/client).
//
//   node bacnet-interop.js device [--address A] [--port P] [--instance N] [--max-seconds S]
//       serves one device (AI/AV/BI objects with present values) answering
//       Who-Is and ReadProperty; prints "ready device=N address=A:P".
//   node bacnet-interop.js check-bacsim --port P [--address A]
//       acts as a client against bacsim serving examples/building.json with
//       --static on port P: ReadProperty of objects and device properties,
//       errors, ReadPropertyMultiple, routed and relayed devices, Who-Is; prints "ok ..." or
//       "FAIL ..." per check and "N passed, M failed"; exit 1 on a failure.
//   node bacnet-interop.js probe --port P [--address A] [--instance N]
//       raw datagrams (no stack) to the device mode's device at A:P: a
//       ReadProperty of AI:1 present-value and a Who-Is; exit 1 unless both
//       are answered as they should be.
'use strict';

const dgram = require('dgram');
const bacnet = require('@bacnet-js/client');

const Client = bacnet.default;
const { ApplicationTag, ErrorClass, ErrorCode, ObjectType, PropertyIdentifier, Segmentation } = bacnet;

function parseArgs(argv) {
  const out = { mode: argv[0], address: '127.0.0.1', port: 0, instance: 4001, maxSeconds: 0 };
  for (let i = 1; i < argv.length; i += 2) {
    const key = argv[i];
    const value = argv[i + 1];
    if (value === undefined) throw new Error(`${key} needs a value`);
    if (key === '--address') out.address = value;
    else if (key === '--port') out.port = Number(value);
    else if (key === '--instance') out.instance = Number(value);
    else if (key === '--max-seconds') out.maxSeconds = Number(value);
    else throw new Error(`unknown option ${key}`);
  }
  return out;
}

// A free UDP port on the address: the stack binds 47808 when given port 0.
function freePort(address) {
  return new Promise((resolve, reject) => {
    const s = dgram.createSocket('udp4');
    s.on('error', reject);
    s.bind(0, address, () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

function openClient(address, port, broadcastAddress = '127.0.0.255') {
  return new Promise((resolve, reject) => {
    const client = new Client({ interface: address, port, broadcastAddress, apduTimeout: 3000 });
    client.on('error', reject);
    client._transport.on('listening', () => resolve(client));
  });
}

// ---- device mode -----------------------------------------------------------

async function device(opts) {
  const port = opts.port || 47809;
  const client = await openClient(opts.address, port);
  const started = Date.now();
  const instance = opts.instance;
  const objects = [
    { type: ObjectType.ANALOG_INPUT, instance: 1, name: 'Room Temp', pv: () => ({ type: ApplicationTag.REAL, value: 21.5 + Math.sin((Date.now() - started) / 60000) }) },
    { type: ObjectType.ANALOG_VALUE, instance: 1, name: 'Setpoint', pv: () => ({ type: ApplicationTag.REAL, value: 21 }) },
    { type: ObjectType.BINARY_INPUT, instance: 1, name: 'Fan Status', pv: () => ({ type: ApplicationTag.ENUMERATED, value: Math.floor((Date.now() - started) / 30000) % 2 }) },
  ];
  const deviceProps = {
    [PropertyIdentifier.OBJECT_IDENTIFIER]: { type: ApplicationTag.OBJECTIDENTIFIER, value: { type: ObjectType.DEVICE, instance } },
    [PropertyIdentifier.OBJECT_NAME]: { type: ApplicationTag.CHARACTER_STRING, value: `npm device ${instance}` },
    [PropertyIdentifier.OBJECT_TYPE]: { type: ApplicationTag.ENUMERATED, value: ObjectType.DEVICE },
    [PropertyIdentifier.MODEL_NAME]: { type: ApplicationTag.CHARACTER_STRING, value: 'bacnet-js device' },
    [PropertyIdentifier.VENDOR_NAME]: { type: ApplicationTag.CHARACTER_STRING, value: 'bacnet-js' },
    [PropertyIdentifier.VENDOR_IDENTIFIER]: { type: ApplicationTag.UNSIGNED_INTEGER, value: 998 },
    [PropertyIdentifier.APPLICATION_SOFTWARE_VERSION]: { type: ApplicationTag.CHARACTER_STRING, value: '3.3.2' },
    [PropertyIdentifier.FIRMWARE_REVISION]: { type: ApplicationTag.CHARACTER_STRING, value: 'node' },
    [PropertyIdentifier.DESCRIPTION]: { type: ApplicationTag.CHARACTER_STRING, value: 'Interop device' },
  };
  client.on('whoIs', (content) => {
    const { lowLimit, highLimit } = content.payload || {};
    if (lowLimit !== undefined && highLimit !== undefined && (instance < lowLimit || instance > highLimit)) return;
    client.iAmResponse(content.header.sender, instance, Segmentation.NO_SEGMENTATION, 998);
    console.log(`iam ${opts.address} dev=${instance} to=${content.header.sender.address}`);
  });
  // The value of one property, or the error class and code that answer it.
  const lookup = (objectId, propertyId) => {
    if (objectId.type === ObjectType.DEVICE && (objectId.instance === instance || objectId.instance === 4194303)) {
      const value = deviceProps[propertyId];
      return value ? { value } : { error: [ErrorClass.PROPERTY, ErrorCode.UNKNOWN_PROPERTY] };
    }
    const o = objects.find((x) => x.type === objectId.type && x.instance === objectId.instance);
    if (!o) return { error: [ErrorClass.OBJECT, ErrorCode.UNKNOWN_OBJECT] };
    if (propertyId === PropertyIdentifier.PRESENT_VALUE) return { value: o.pv() };
    if (propertyId === PropertyIdentifier.OBJECT_NAME) return { value: { type: ApplicationTag.CHARACTER_STRING, value: o.name } };
    if (propertyId === PropertyIdentifier.OBJECT_IDENTIFIER) return { value: { type: ApplicationTag.OBJECTIDENTIFIER, value: { type: o.type, instance: o.instance } } };
    if (propertyId === PropertyIdentifier.OBJECT_TYPE) return { value: { type: ApplicationTag.ENUMERATED, value: o.type } };
    return { error: [ErrorClass.PROPERTY, ErrorCode.UNKNOWN_PROPERTY] };
  };
  client.on('readProperty', (content) => {
    const { objectId, property } = content.payload;
    const sender = content.header.sender;
    const what = `rp ${opts.address} dev=${instance} ${objectId.type}:${objectId.instance} ${property.id}`;
    const found = lookup(objectId, property.id);
    if (found.error) {
      client.errorResponse(sender, bacnet.ConfirmedServiceChoice.READ_PROPERTY, content.invokeId, ...found.error);
      console.log(`${what} -> error ${found.error[0]} ${found.error[1]}`);
      return;
    }
    const answered = objectId.type === ObjectType.DEVICE ? { type: ObjectType.DEVICE, instance } : objectId;
    client.readPropertyResponse(sender, content.invokeId, answered, property, [found.value]);
    console.log(`${what} -> ${found.value.type} ${JSON.stringify(found.value.value)}`);
  });
  // ReadPropertyMultiple: every property asked for, a property error where
  // the object or property is unknown.
  client.on('readPropertyMultiple', (content) => {
    const sender = content.header.sender;
    let errors = 0;
    const results = content.payload.properties.map(({ objectId, properties }) => ({
      objectId,
      values: properties.map((property) => {
        const found = lookup(objectId, property.id);
        if (!found.error) return { property, value: [found.value] };
        ++errors;
        return { property, value: [{ value: { type: 'BacnetError', errorClass: found.error[0], errorCode: found.error[1] } }] };
      }),
    }));
    client.readPropertyMultipleResponse(sender, content.invokeId, results);
    console.log(`rpm ${opts.address} dev=${instance} objects=${results.length} -> ack errors=${errors}`);
  });
  console.log(`ready device=${instance} address=${opts.address}:${port}`);
  const stop = () => {
    client.close();
    process.exit(0);
  };
  process.on('SIGTERM', stop);
  process.on('SIGINT', stop);
  if (opts.maxSeconds > 0) setTimeout(stop, opts.maxSeconds * 1000);
}

// ---- client mode against bacsim ---------------------------------------------

async function checkBacsim(opts) {
  if (!opts.port) throw new Error('check-bacsim needs --port');
  const p = opts.port;
  const host = (a) => (p === 47808 ? a : `${a}:${p}`);
  // Broadcasts go to the simulated subnet's broadcast address as
  // Original-Broadcast-NPDU: bacsim, like real devices, drops a unicast
  // frame sent there.
  const client = await openClient(opts.address, await freePort(opts.address), host('127.0.0.255'));
  let passed = 0;
  let failed = 0;
  const check = (name, ok, detail) => {
    if (ok) passed++;
    else failed++;
    console.log(`${ok ? 'ok' : 'FAIL'} ${name}${detail ? ` (${detail})` : ''}`);
  };
  const read = async (name, receiver, type, instance, property, expect) => {
    try {
      const r = await client.readProperty(receiver, { type, instance }, property);
      const v = r.values[0];
      const shown = JSON.stringify(r.values);
      check(name, expect(v, r), shown);
    } catch (e) {
      check(name, expect(null, null, e.message), e.message);
    }
  };
  const isError = (cls, code) => (v, r, message) => message === `BacnetError - Class:${cls} - Code:${code}`;
  const local = { address: host('127.0.0.2') };
  const T = ApplicationTag;

  await read('AI:1 present-value is Real 18', local, ObjectType.ANALOG_INPUT, 1, PropertyIdentifier.PRESENT_VALUE,
    (v) => v && v.type === T.REAL && Math.abs(v.value - 18) < 1e-6);
  await read('AI:1 object-name', local, ObjectType.ANALOG_INPUT, 1, PropertyIdentifier.OBJECT_NAME,
    (v) => v && v.type === T.CHARACTER_STRING && v.value === 'Supply Air Temp');
  await read('AV:1 present-value', local, ObjectType.ANALOG_VALUE, 1, PropertyIdentifier.PRESENT_VALUE,
    (v) => v && v.type === T.REAL && v.value === 18);
  await read('BI:1 present-value is Enumerated 1', local, ObjectType.BINARY_INPUT, 1, PropertyIdentifier.PRESENT_VALUE,
    (v) => v && v.type === T.ENUMERATED && v.value === 1);
  await read('MV:1 present-value is Unsigned 1', local, ObjectType.MULTI_STATE_VALUE, 1, PropertyIdentifier.PRESENT_VALUE,
    (v) => v && v.type === T.UNSIGNED_INTEGER && v.value === 1);
  await read('MO:1 object-type', local, ObjectType.MULTI_STATE_OUTPUT, 1, PropertyIdentifier.OBJECT_TYPE,
    (v) => v && v.type === T.ENUMERATED && v.value === ObjectType.MULTI_STATE_OUTPUT);
  await read('BO:1 object-identifier', local, ObjectType.BINARY_OUTPUT, 1, PropertyIdentifier.OBJECT_IDENTIFIER,
    (v) => v && v.type === T.OBJECTIDENTIFIER && v.value.type === ObjectType.BINARY_OUTPUT && v.value.instance === 1);
  const basic = [
    [PropertyIdentifier.OBJECT_NAME, T.CHARACTER_STRING, 'AHU-1'],
    [PropertyIdentifier.MODEL_NAME, T.CHARACTER_STRING, 'AHU controller'],
    [PropertyIdentifier.VENDOR_NAME, T.CHARACTER_STRING, 'bacsim'],
    [PropertyIdentifier.VENDOR_IDENTIFIER, T.UNSIGNED_INTEGER, 999],
    [PropertyIdentifier.APPLICATION_SOFTWARE_VERSION, T.CHARACTER_STRING, '2.4.1'],
    [PropertyIdentifier.FIRMWARE_REVISION, T.CHARACTER_STRING, '7.0'],
    [PropertyIdentifier.DESCRIPTION, T.CHARACTER_STRING, 'Air handling unit, roof'],
  ];
  for (const [prop, tag, value] of basic) {
    await read(`device 1001 property ${prop}`, local, ObjectType.DEVICE, 1001, prop,
      (v) => v && v.type === tag && v.value === value);
  }
  await read('device 1001 object-identifier', local, ObjectType.DEVICE, 1001, PropertyIdentifier.OBJECT_IDENTIFIER,
    (v) => v && v.type === T.OBJECTIDENTIFIER && v.value.type === ObjectType.DEVICE && v.value.instance === 1001);
  await read('device 1001 object-list', local, ObjectType.DEVICE, 1001, PropertyIdentifier.OBJECT_LIST,
    (v, r) => r && r.values.length === 12);
  await read('unknown object -> Error object/unknown-object', local, ObjectType.ANALOG_INPUT, 99,
    PropertyIdentifier.PRESENT_VALUE, isError(ErrorClass.OBJECT, ErrorCode.UNKNOWN_OBJECT));
  await read('unknown property -> Error property/unknown-property', local, ObjectType.ANALOG_INPUT, 1, 9999,
    isError(ErrorClass.PROPERTY, ErrorCode.UNKNOWN_PROPERTY));
  await read('NC:1 present-value -> Error property/unknown-property', local, ObjectType.NOTIFICATION_CLASS, 1,
    PropertyIdentifier.PRESENT_VALUE, isError(ErrorClass.PROPERTY, ErrorCode.UNKNOWN_PROPERTY));

  // ReadPropertyMultiple: values and a property error in one ACK, in the
  // request's order.
  try {
    const pv = [{ id: PropertyIdentifier.PRESENT_VALUE }];
    const r = await client.readPropertyMultiple(local, [
      { objectId: { type: ObjectType.ANALOG_INPUT, instance: 1 }, properties: pv },
      { objectId: { type: ObjectType.BINARY_INPUT, instance: 1 }, properties: pv },
      { objectId: { type: ObjectType.ANALOG_INPUT, instance: 99 }, properties: pv },
    ]);
    const first = (i) => r.values[i] && r.values[i].values[0] && r.values[i].values[0].value[0];
    const [ai, bi, unknown] = [first(0), first(1), first(2)];
    check('ReadPropertyMultiple: AI:1 Real 18, BI:1 Enumerated 1, AI:99 unknown-object',
      r.values.length === 3 && ai && ai.type === T.REAL && ai.value === 18 && bi && bi.type === T.ENUMERATED &&
        bi.value === 1 && unknown && unknown.value && unknown.value.errorClass === ErrorClass.OBJECT &&
        unknown.value.errorCode === ErrorCode.UNKNOWN_OBJECT,
      JSON.stringify(r.values));
  } catch (e) {
    check('ReadPropertyMultiple', false, e.message);
  }

  const router = host('127.0.0.10');
  const routed = [[[0x0c], 2001, 'VAV-5-12'], [[0x00, 0x2a], 2002, 'VAV-5-42'], [[0x7f, 0, 0, 9, 0xba, 0xc0], 2003, 'Meter-5']];
  for (const [adr, inst, name] of routed) {
    await read(`routed device ${inst} (${adr.length}-octet station) object-name`, { address: router, net: 5, adr },
      ObjectType.DEVICE, inst, PropertyIdentifier.OBJECT_NAME, (v) => v && v.value === name);
  }
  await read('relayed device 3001 object-name', { address: host('127.0.1.5') }, ObjectType.DEVICE, 3001,
    PropertyIdentifier.OBJECT_NAME, (v) => v && v.value === 'Chiller-1');

  const whoIs = (receiver, options, expected) => new Promise((resolve) => {
    const seen = new Map();
    const onIAm = (content) => {
      seen.set(content.payload.deviceId, content.header.sender);
      if (seen.size >= expected) finish();
    };
    const timer = setTimeout(() => finish(), 3000);
    function finish() {
      clearTimeout(timer);
      client.off('iAm', onIAm);
      resolve(seen);
    }
    client.on('iAm', onIAm);
    if (options) client.whoIs(receiver, options);
    else client.whoIs(receiver);
  });
  const all = await whoIs({ net: 0xffff }, null, 6);
  check('global Who-Is: six I-Ams', [1001, 1002, 2001, 2002, 2003, 3001].every((i) => all.has(i)),
    [...all.keys()].sort().join(','));
  const r2003 = all.get(2003);
  check('routed I-Am carries network 5 and the six-octet station',
    !!r2003 && r2003.net === 5 && JSON.stringify(r2003.adr) === JSON.stringify([0x7f, 0, 0, 9, 0xba, 0xc0]),
    JSON.stringify(r2003));
  const r3001 = all.get(3001);
  check('relayed I-Am comes as Forwarded-NPDU from 127.0.1.5', !!r3001 && String(r3001.forwardedFrom).startsWith('127.0.1.5'),
    JSON.stringify(r3001));
  const ranged = await whoIs({ net: 0xffff }, { lowLimit: 2001, highLimit: 2002 }, 3);
  check('Who-Is 2001..2002: those two only', ranged.size === 2 && ranged.has(2001) && ranged.has(2002),
    [...ranged.keys()].join(','));

  client.close();
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed ? 1 : 0);
}

// ---- raw probe of the device mode --------------------------------------------

function probe(opts) {
  return new Promise((resolve) => {
    const s = dgram.createSocket('udp4');
    const inst = opts.instance;
    const rp = Buffer.from('810a001101040005070c0c0000000119' + '55', 'hex');  // AI:1 present-value, invoke 7
    const whoIs = Buffer.from('810a000c0120ffff00ff1008', 'hex');
    const got = { ack: false, iam: false };
    const done = (code) => {
      s.close();
      console.log(`probe ack=${got.ack} iam=${got.iam}`);
      resolve(code);
    };
    const timer = setTimeout(() => done(1), 5000);
    s.on('message', (m) => {
      // Complex-ACK of ReadProperty, invoke 7, value a Real (application tag 4).
      if (m.length >= 23 && m[6] === 0x30 && m[7] === 7 && m[8] === 0x0c && m.includes(Buffer.from([0x3e, 0x44]))) got.ack = true;
      // I-Am with the device's instance.
      if (m.length >= 13 && m[6] === 0x10 && m[7] === 0x00 && m[8] === 0xc4 &&
          (((m[10] & 0x3f) << 16) | (m[11] << 8) | m[12]) === inst) got.iam = true;
      if (got.ack && got.iam) {
        clearTimeout(timer);
        done(0);
      }
    });
    // An ephemeral port: the stack skips requests that come from exactly
    // 127.0.0.1:47808, taking them for its own.
    s.bind(0, '127.0.0.1', () => {
      s.send(rp, opts.port, opts.address);
      s.send(whoIs, opts.port, opts.address);
    });
  });
}

async function main() {
  const opts = parseArgs(process.argv.slice(2));
  if (opts.mode === 'device') return device(opts);
  if (opts.mode === 'check-bacsim') return checkBacsim(opts);
  if (opts.mode === 'probe') process.exit(await probe(opts));
  throw new Error('mode must be device, check-bacsim or probe');
}

main().catch((e) => {
  console.error(`bacnet-interop: ${e.message}`);
  process.exit(2);
});
