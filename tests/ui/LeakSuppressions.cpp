// LeakSanitizer reads its default suppressions from this hook. fontconfig keeps its caches
// for the life of the process (Qt's font database never releases them), which the leak check
// would otherwise report at exit from every test that draws text.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
