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
    this.expectedFailures = [];
    this.unexpectedPasses = [];
  }

  // expectedToFail: a reason; the check then fails the suite only by passing silently.
  equal(label, actual, expected, { expectedToFail } = {}) {
    const same = show(actual) === show(expected);
    if (expectedToFail) {
      if (same) {
        this.unexpectedPasses.push(label);
        console.log(`XPASS  ${label} (expected to fail: ${expectedToFail}; drop that mark)`);
        this.passed += 1;
      } else {
        this.expectedFailures.push(label);
        console.log(`XFAIL  ${label} (${expectedToFail})\n       expected ${show(expected)}\n       actual   ${show(actual)}`);
      }
      return same;
    }
    if (same) {
      this.passed += 1;
      console.log(`ok     ${label}`);
    } else {
      this.failures.push(label);
      console.log(`FAILED ${label}\n       expected ${show(expected)}\n       actual   ${show(actual)}`);
    }
    return same;
  }

  truth(label, condition, detail = '') {
    return this.equal(label + (detail && !condition ? ` (${detail})` : ''), Boolean(condition), true);
  }

  fail(label, error) {
    this.failures.push(label);
    console.log(`FAILED ${label}\n       ${String(error?.stack ?? error).split('\n').join('\n       ')}`);
  }

  summary() {
    return `${this.passed} passed, ${this.failures.length} failed, ` +
      `${this.expectedFailures.length} expected to fail`;
  }

  get ok() {
    return this.failures.length === 0;
  }
}
