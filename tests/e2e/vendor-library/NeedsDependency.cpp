// Makes the vendor-laid-out library need its neighbour: a call at load time, so the loader must
// have found it before the library's code can run.
extern "C" int KelvoraVendorDependency();

namespace {

[[maybe_unused]] const int kDependencyLoaded = KelvoraVendorDependency();

}  // namespace
