// A shared object the vendor-laid-out library needs; it only has to be found and loaded.
#define EXPORTA extern "C" __attribute__((visibility("default")))

EXPORTA int KelvoraVendorDependency() {
  return 1;
}
