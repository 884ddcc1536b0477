// A DLL that a runtime ships in its bin folder (as real ones ship their C library there).
extern "C" __declspec(dllexport) int KrRuntimeDep() { return 1; }
