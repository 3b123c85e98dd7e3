// Validates a CycloneDX JSON file against the format's published schema (the
// copy in @cyclonedx/cyclonedx-library, with its strict validator) and reads
// its package URLs back with packageurl-js. Prints one JSON object:
//   {"library": VERSION, "errors": null or the schema errors, "purls": [...]}
// Exit 0 when it could validate at all (the caller judges the result), 1 when not.
'use strict';
const fs = require('fs');
const path = require('path');
const { Validation } = require('@cyclonedx/cyclonedx-library');
const { PackageURL } = require('packageurl-js');

async function main(file) {
  const text = fs.readFileSync(file, 'utf8');
  const bom = JSON.parse(text);
  // A version the library has no schema for fails here (exit 1).
  const errors = await new Validation.JsonStrictValidator(bom.specVersion).validate(text);
  const purls = [...(bom.components || []), ...((bom.metadata.tools || {}).components || [])]
    .filter((component) => component.purl)
    .map((component) => {
      const purl = PackageURL.fromString(component.purl);
      return { ref: component['bom-ref'] || null, name: component.name, type: purl.type,
               namespace: purl.namespace, purl_name: purl.name, version: purl.version,
               qualifiers: purl.qualifiers || {} };
    });
  const library = require(path.join(require.resolve('@cyclonedx/cyclonedx-library'),
    '..', '..', 'package.json')).version;
  process.stdout.write(JSON.stringify({ library, errors, purls }) + '\n');
}

main(process.argv[2]).catch((error) => {
  process.stderr.write('validate_sbom: ' + (error.stack || error) + '\n');
  process.exit(1);
});
