// A loadable DLL that is no Java runtime: it exports JNI_CreateJavaVM but not JNI_GetDefaultJavaVMInitArgs.
extern "C" __declspec(dllexport) int JNI_CreateJavaVM(void*, void*, void*)
{
    return -1;
}
