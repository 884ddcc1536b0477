// The JNI tables. The functions a launcher uses check that their JNIEnv belongs to the calling thread,
// record themselves in the trace and behave as HotSpot does. Every other member is a stub that names
// itself and ends the process, so a host relying on it fails loudly instead of reading garbage; the
// member names come from the build machine's jni.h (jni_names.inc, made by gen_jni_names.py).
#include "jvm_double.h"

#include <cstring>

static JavaObject* Obj(jobject o) { return reinterpret_cast<JavaObject*>(o); }

static JavaThread& CheckEnv(JNIEnv* env, const char* function) {
    JavaThread* t = reinterpret_cast<JavaThread::Env*>(env)->owner;
    if (t->osId != GetCurrentThreadId()) FatalJava("Using JNIEnv in the wrong thread");
    if (t->pending && strncmp(function, "Exception", 9) != 0)
        TraceLine("jni-warning %s called with an exception pending", function);
    return *t;
}

static ClassInfo& ClassArg(jclass c, const char* function) {
    if (!c || !Obj(c)->classInfo) FatalJava(std::string(function) + ": the class argument is not a class");
    return *Obj(c)->classInfo;
}

static jclass JNICALL FindClass(JNIEnv* env, const char* name) {
    JavaThread& t = CheckEnv(env, "FindClass");
    TraceLine("jni FindClass %s", name ? name : "(null)");
    ClassInfo* c = FindJavaClass(t, name ? name : "");
    return c ? reinterpret_cast<jclass>(&c->mirror) : nullptr;
}

static jmethodID LookUp(JNIEnv* env, jclass cls, const char* name, const char* sig, bool isStatic,
                        const char* function) {
    JavaThread& t = CheckEnv(env, function);
    ClassInfo& c = ClassArg(cls, function);
    std::string message = name;
    TraceLine("jni %s %s.%s%s", function, c.name.c_str(), name, sig);
    for (MethodInfo& m : c.methods)
        if (m.name == name && m.signature == sig && m.isStatic == isStatic) return reinterpret_cast<jmethodID>(&m);
    // The modelled library classes have no main, as in the real class library; any other method of
    // theirs that is not modelled may exist in reality, so asking for it ends the process loudly.
    if (!c.script && std::string(name) != "main") DoubleFailure("unmodelled method %s.%s%s", c.name.c_str(), name, sig);
    ThrowJava(t, "java/lang/NoSuchMethodError", &message);
    return nullptr;
}

static jmethodID JNICALL GetMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    return LookUp(env, cls, name, sig, false, "GetMethodID");
}

static jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    return LookUp(env, cls, name, sig, true, "GetStaticMethodID");
}

// jni.h's C++ members (JNIEnv_::CallStaticVoidMethod, NewObject...) pass their arguments to the V forms.
static JavaObject* Call(JNIEnv* env, jclass cls, jmethodID id, bool constructor, va_list args, const char* function) {
    JavaThread& t = CheckEnv(env, function);
    ClassInfo& c = ClassArg(cls, function);
    MethodInfo* m = reinterpret_cast<MethodInfo*>(id);
    if (!m || m->isStatic == constructor || (constructor && m->owner != &c))
        FatalJava(std::string(function) + (constructor ? ": not a constructor of the class" : ": not a static method"));
    TraceLine("jni %s %s.%s%s", function, m->owner->name.c_str(), m->name.c_str(), m->signature.c_str());
    return m->fn(t, *m, args);
}

static void JNICALL CallStaticVoidMethodV(JNIEnv* env, jclass cls, jmethodID id, va_list args) {
    Call(env, cls, id, false, args, "CallStaticVoidMethodV");
}

static jobject JNICALL CallStaticObjectMethodV(JNIEnv* env, jclass cls, jmethodID id, va_list args) {
    return reinterpret_cast<jobject>(Call(env, cls, id, false, args, "CallStaticObjectMethodV"));
}

static jobject JNICALL NewObjectV(JNIEnv* env, jclass cls, jmethodID id, va_list args) {
    return reinterpret_cast<jobject>(Call(env, cls, id, true, args, "NewObjectV"));
}

static jstring JNICALL NewString(JNIEnv* env, const jchar* chars, jsize length) {
    CheckEnv(env, "NewString");
    JavaObject* s = NewJavaString(std::u16string(reinterpret_cast<const char16_t*>(chars), length));
    TraceLine("jni NewString %s", Utf8(s->text).c_str());
    return reinterpret_cast<jstring>(s);
}

static jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize length, jclass cls, jobject init) {
    JavaThread& t = CheckEnv(env, "NewObjectArray");
    ClassInfo& c = ClassArg(cls, "NewObjectArray");
    std::string message = std::to_string(length);
    TraceLine("jni NewObjectArray %s[%ld]", c.name.c_str(), static_cast<long>(length));
    if (length < 0) return ThrowJava(t, "java/lang/NegativeArraySizeException", &message), nullptr;
    JavaObject* a = new JavaObject(c.name);
    a->items.assign(length, Obj(init));
    return reinterpret_cast<jobjectArray>(a);
}

static void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject value) {
    JavaThread& t = CheckEnv(env, "SetObjectArrayElement");
    std::vector<JavaObject*>& items = Obj(array)->items;
    std::string message = "Index " + std::to_string(index) + " out of bounds for length ";
    TraceLine("jni SetObjectArrayElement [%ld]", static_cast<long>(index));
    if (value && Obj(value)->className != Obj(array)->className) DoubleFailure("unmodelled ArrayStoreException");
    if (index >= 0 && static_cast<size_t>(index) < items.size()) items[index] = Obj(value);
    else ThrowJava(t, "java/lang/ArrayIndexOutOfBoundsException", &(message += std::to_string(items.size())));
}

static jboolean JNICALL ExceptionCheck(JNIEnv* env) {
    JavaThread& t = CheckEnv(env, "ExceptionCheck");
    TraceLine("jni ExceptionCheck %s", t.pending ? "true" : "false");
    return t.pending != nullptr;
}

// HotSpot prints "Exception in thread "name" " through its own output (the vfprintf hook, or stderr),
// then the throwable's printStackTrace on Java's System.err; the exception is cleared.
static void JNICALL ExceptionDescribe(JNIEnv* env) {
    JavaThread& t = CheckEnv(env, "ExceptionDescribe");
    JavaObject* e = t.pending;
    TraceLine("jni ExceptionDescribe %s", e ? ThrowableText(e).c_str() : "(none)");
    if (!e) return;
    t.pending = nullptr;
    VmPrint("Exception ");
    VmPrint("in thread \"%s\" ", t.name.c_str());
    PrintStackTrace(e, "");
}

static void JNICALL ExceptionClear(JNIEnv* env) {
    CheckEnv(env, "ExceptionClear").pending = nullptr;
    TraceLine("jni ExceptionClear");
}

// The stubs take no parameters: they never return, so the caller's arguments do not matter.
#define KR_NATIVE(name) \
    static void JNICALL Unmodelled_##name() { DoubleFailure("unmodelled JNI function %s called", #name); }
#define KR_INVOKE(name) \
    static void JNICALL UnmodelledVm_##name() { DoubleFailure("unmodelled invocation function %s called", #name); }
#include "jni_names.inc"
#undef KR_NATIVE
#undef KR_INVOKE

template <class Member> static void SetStub(Member& member, void(JNICALL* stub)()) {
    static_assert(sizeof member == sizeof stub, "table members are plain function pointers");
    memcpy(&member, &stub, sizeof member);
}

const JNINativeInterface_* NativeTable() {
    static JNINativeInterface_ t;
    static std::once_flag built;
    std::call_once(built, [] {
#define KR_NATIVE(name) SetStub(t.name, Unmodelled_##name);
#define KR_INVOKE(name)
#include "jni_names.inc"
#undef KR_NATIVE
#undef KR_INVOKE
        t.FindClass = FindClass;
        t.GetMethodID = GetMethodID;
        t.GetStaticMethodID = GetStaticMethodID;
        t.CallStaticVoidMethodV = CallStaticVoidMethodV;
        t.CallStaticObjectMethodV = CallStaticObjectMethodV;
        t.NewObjectV = NewObjectV;
        t.NewString = NewString;
        t.NewObjectArray = NewObjectArray;
        t.SetObjectArrayElement = SetObjectArrayElement;
        t.ExceptionCheck = ExceptionCheck;
        t.ExceptionDescribe = ExceptionDescribe;
        t.ExceptionClear = ExceptionClear;
    });
    return &t;
}

void FillInvokeTable(JNIInvokeInterface_& t) {
#define KR_NATIVE(name)
#define KR_INVOKE(name) SetStub(t.name, UnmodelledVm_##name);
#include "jni_names.inc"
#undef KR_NATIVE
#undef KR_INVOKE
}
