// The least a launcher can do: load the given jvm.dll, create the JVM with the given class path, call
// the main class's main with no arguments, destroy the JVM. No settings, no search, no reports.
// The floor against which the launcher's start-up is measured.
//   bench_minimal_host JVM_DLL CLASS_PATH MAIN_CLASS   (main class with slashes: com/acme/App)
#include <windows.h>

#include <jni.h>

#include <stdio.h>
#include <stdlib.h>

typedef jint(JNICALL* CreateJavaVmFunction)(JavaVM**, void**, void*);

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    if (__argc != 4)
        return 2;
    HMODULE jvm = LoadLibraryA(__argv[1]);
    CreateJavaVmFunction create =
        jvm != NULL ? (CreateJavaVmFunction)(void*)GetProcAddress(jvm, "JNI_CreateJavaVM") : NULL;
    if (create == NULL)
        return 3;
    char classPath[1024];
    int n = snprintf(classPath, sizeof(classPath), "-Djava.class.path=%s", __argv[2]);
    if (n < 0 || n >= (int)sizeof(classPath)) // a cut class path would be a wrong one
        return 2;
    JavaVMOption options[1] = {{classPath, NULL}};
    JavaVMInitArgs args = {JNI_VERSION_1_2, 1, options, JNI_FALSE};
    JavaVM* vm = NULL;
    JNIEnv* env = NULL;
    if (create(&vm, (void**)&env, &args) != JNI_OK)
        return 4;
    jclass mainClass = env->FindClass(__argv[3]);
    jmethodID main = mainClass != NULL ? env->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V") : NULL;
    jclass stringClass = env->FindClass("java/lang/String");
    jobjectArray arguments = stringClass != NULL ? env->NewObjectArray(0, stringClass, NULL) : NULL;
    if (main == NULL || arguments == NULL)
        return 5;
    env->CallStaticVoidMethod(mainClass, main, arguments);
    int status = env->ExceptionCheck() ? 6 : 0;
    vm->DestroyJavaVM();
    return status;
}
