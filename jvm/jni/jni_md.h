/* Machine-dependent JNI types and linkage for Windows (x86 and x64), as the Windows JDK defines them.
 * jni.h from the build machine's JDK includes this file instead of its own platform header. */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
/* Every JNI function, invocation function and hook uses __stdcall; on x64 the attribute is ignored. */
#define JNICALL __stdcall

/* long is 32 bits on Windows even for x64 (LLP64), so jint is long, as in the Windows JDK. */
typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif /* !_JAVASOFT_JNI_MD_H_ */
