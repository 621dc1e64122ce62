// The end-to-end harness in one import: build paths, base directories and ports, certificates,
// service processes, the service log, clients, the client protocol's tokens and requests, and the
// stub sales API; clients and the stub hold every message to docs/protocol/.
export * from './paths.mjs';
export * from './baseDir.mjs';
export * from './certificates.mjs';
export * from './service.mjs';
export * from './serviceLog.mjs';
export * from './wsClient.mjs';
export * from './protocol.mjs';
export * from './salesApi.mjs';
export * from './protocolSchemas.mjs';
