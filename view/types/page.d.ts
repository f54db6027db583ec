// What the type check of the page's modules (tests/page/tsconfig.json) needs to know of their
// surroundings: the page's module table, and Node's module and require where the tests load them.
interface Window {
  vexaModules: any;
}
declare var module: { exports: unknown } | undefined;
declare function require(path: string): any;
declare var vexaModules: any;
