// The end-to-end harness in one import: build paths, base directories and ports, certificates,
// service processes, the service log, and clients.
export * from './paths.mjs';
export * from './baseDir.mjs';
export * from './certificates.mjs';
export * from './service.mjs';
export * from './serviceLog.mjs';
export * from './wsClient.mjs';
