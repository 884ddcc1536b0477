// Makes the jvm.dll it is linked into import the runtime's own DLL, which must then be found at load.
extern "C" __declspec(dllimport) int KrRuntimeDep();
[[maybe_unused]] static const int Imported = KrRuntimeDep();
