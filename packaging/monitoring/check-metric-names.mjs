// Checks that the fleet dashboard is valid JSON and that it and the alert rules name only metrics
// the service exposes: every kelvora_* name in their queries must be one the metrics sources
// declare (a histogram's _bucket, _count and _sum included). Exits 1 with the strays.
//   node check-metric-names.mjs <sources folder> <dashboard.json> <rules.yml>
import fs from 'node:fs';
import path from 'node:path';
import YAML from 'yaml';

const [sourcesDir, dashboardFile, rulesFile] = process.argv.slice(2);

// The names the service declares: the quoted kelvora_ names of its metrics sources, and for a
// histogram (built with BuildHistogram().Name(...)) the series Prometheus reads from it.
const sources = fs.readdirSync(sourcesDir).filter((name) => name.endsWith('.cpp'))
  .map((file) => fs.readFileSync(path.join(sourcesDir, file), 'utf8')).join('\n');
const declared = new Set([...sources.matchAll(/"(kelvora_[a-z_]+)"/g)].map(([, name]) => name));
for (const [, name] of sources.matchAll(/BuildHistogram\(\)\s*\.Name\("(kelvora_[a-z_]+)"\)/g)) {
  for (const suffix of ['_bucket', '_count', '_sum']) declared.add(name + suffix);
}

function namesIn(expression) {
  return [...expression.matchAll(/\bkelvora_[a-z_]+/g)].map(([name]) => name);
}

const dashboard = JSON.parse(fs.readFileSync(dashboardFile, 'utf8'));
const used = new Map();
for (const panel of dashboard.panels) {
  if (!panel.targets?.length) throw new Error(`panel "${panel.title}" has no query`);
  for (const target of panel.targets) for (const name of namesIn(target.expr)) used.set(name, `dashboard: ${panel.title}`);
}
for (const variable of dashboard.templating.list) {
  for (const name of namesIn(JSON.stringify(variable.query ?? ''))) used.set(name, `dashboard variable ${variable.name}`);
}
const rules = YAML.parse(fs.readFileSync(rulesFile, 'utf8'));
for (const group of rules.groups) {
  for (const rule of group.rules) for (const name of namesIn(rule.expr)) used.set(name, `rule ${rule.alert}`);
}

const strays = [...used].filter(([name]) => !declared.has(name));
if (declared.size === 0 || strays.length > 0) {
  console.error(`not exposed by the service: ${strays.map(([name, where]) => `${name} (${where})`).join(', ')}`);
  process.exit(1);
}
console.log(`${used.size} metric names, all exposed by the service`);
