// A library that loads but exports no entry point.
extern "C" __attribute__((visibility("default"))) int vexbcppOtherFunction() { return 0; }
