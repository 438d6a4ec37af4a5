// A tiny library the library-loading test opens.
extern "C" __attribute__((visibility("default"))) int TorqaTestAnswer() {
  return 42;
}
