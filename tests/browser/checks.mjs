// Counts the suite's checks and prints each one; a failed check does not stop the walk,
// so one run reports every page that is wrong.

// What a reader sees: a no-break space looks like a space, runs of white space are one.
export function visible(text) {
  return String(text ?? '').replace(/\u00a0/g, ' ').replace(/\s+/g, ' ').trim();
}

function show(value) {
  return JSON.stringify(value);
}

export class Checks {
  constructor() {
    this.passed = 0;
    this.failures = [];
  }

  equal(label, actual, expected) {
    if (show(actual) === show(expected)) {
      this.passed += 1;
      console.log(`ok     ${label}`);
      return true;
    }
    this.failures.push(label);
    console.log(`FAILED ${label}\n       expected ${show(expected)}\n       actual   ${show(actual)}`);
    return false;
  }

  truth(label, condition, detail = '') {
    return this.equal(label + (detail && !condition ? ` (${detail})` : ''), Boolean(condition), true);
  }

  fail(label, error) {
    this.failures.push(label);
    console.log(`FAILED ${label}\n       ${String(error?.stack ?? error).split('\n').join('\n       ')}`);
  }

  summary() {
    return `${this.passed} passed, ${this.failures.length} failed`;
  }

  get ok() {
    return this.failures.length === 0;
  }
}
