// The stub sales API as the tests start it: every body the service posts is held to
// docs/protocol/sales-api.yaml, and close() fails the test that started it when one broke it.
import { startStubSalesApi } from '../../../tools/stub-sales-api.mjs';
import { SchemaFailures, checkSalesApiBody } from './protocolSchemas.mjs';

export async function startSalesApi(options = {}) {
  const failures = new SchemaFailures();
  const api = await startStubSalesApi({
    ...options,
    respond: (record, body) => {
      failures.record(() => checkSalesApiBody(record.rawBody));
      return options.respond?.(record, body);
    },
  });
  return {
    ...api,
    async close() {
      await api.close();
      failures.throwIfAny();
    },
  };
}
