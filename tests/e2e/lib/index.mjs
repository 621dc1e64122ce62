// The end-to-end harness in one import: build paths, base directories and ports, certificates,
// service processes, the service log, clients, and the client protocol's tokens and requests.
export * from './paths.mjs';
export * from './baseDir.mjs';
export * from './certificates.mjs';
export * from './service.mjs';
export * from './serviceLog.mjs';
export * from './wsClient.mjs';
export * from './protocol.mjs';
