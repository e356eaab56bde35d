/* A DLL that must never be loaded: planted in the distribution under a name
 * that Windows' user32 looks for, it shows whether setup.exe searched there. */
int __stdcall DllMain(void *instance, unsigned long reason, void *reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return 1;
}
